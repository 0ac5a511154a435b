// tests/unit/text_load_test.cpp: whole-input UTF-8 decoding at a counted size and width
// agrees with the growing loader on text and on errors, and writes nothing past its room.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "services/text_load.h"

using namespace zyl;

namespace {

struct TextLoad : ::testing::Test {
    void SetUp() override {
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        stack::create(1, 2); // so that raised errors carry their arguments
    }
    void TearDown() override {
        es = eval_stack{};
        memory::free_all();
    }
};

const uint8_t* u8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// The outcome of a decode: the units as code points, or the bytes of the invalid-utf8
// error's argument after "error".
struct outcome {
    uint32_t unit = 0;
    std::vector<uint32_t> cps;
    std::string error;
    bool operator==(const outcome&) const = default;
};

template <typename F> outcome run(F body) {
    outcome o;
    cell w{T_word, 0, 30, 0};
    stack::mark_try(&w);
    try {
        body(o);
        stack::pop_frame();
    } catch (const error::raised&) {
        es.throw_code = THROW_NONE;
        cell err = *stack::top();
        stack::reset();
        EXPECT_EQ(err.w3, uint32_t(error::access_invalid_utf8));
        cell arg = reinterpret_cast<const cell*>(memory::buffer_of(err.w1)->head)[0];
        series_buffer* b = memory::buffer_of(arg.w2);
        o.error = "error " + std::string(b->head, b->tail);
    }
    return o;
}

std::vector<uint32_t> read_units(const uint8_t* p, const uint8_t* end, uint32_t unit) {
    std::vector<uint32_t> out;
    for (; p < end; p += unit) {
        uint32_t v = 0;
        std::memcpy(&v, p, unit);
        out.push_back(v);
    }
    return out;
}

// Decoded into a heap buffer of exactly the counted room, so a sanitizer sees any overrun.
outcome counted(const std::string& s) {
    return run([&](outcome& o) {
        text_load::measure_t m = text_load::measure(u8(s), s.size());
        std::vector<uint8_t> room(std::max<uint64_t>(m.chars * m.unit, 1));
        uint8_t* end = text_load::decode(u8(s), s.size(), room.data(), m);
        o.unit = m.unit;
        o.cps = read_units(room.data(), end, m.unit);
        EXPECT_EQ(o.cps.size(), m.chars);
    });
}

outcome growing(const std::string& s) {
    return run([&](outcome& o) {
        node_id n = unicode::load_utf8_new(u8(s), int64_t(s.size()));
        series_buffer* b = memory::buffer_of(n);
        o.unit = b->unit();
        o.cps = read_units(b->head, b->tail, b->unit());
    });
}

TEST_F(TextLoad, CountsCharactersAndTheWidthTheirLeadBytesNeed) {
    struct row {
        const char* text;
        uint64_t chars;
        uint32_t unit;
    };
    for (const row& r : {row{"", 0, 1}, row{"abc", 3, 1}, row{"\xC3\xA9", 1, 1}, row{"\xC4\x80", 1, 2},
                         row{"a\xE2\x98\x83z", 3, 2}, row{"\xEF\xBF\xBF", 1, 2}, row{"\xF0\x9D\x84\x9E!", 2, 4}}) {
        std::string s = r.text;
        text_load::measure_t m = text_load::measure(u8(s), s.size());
        EXPECT_EQ(m.chars, r.chars) << r.text;
        EXPECT_EQ(m.unit, r.unit) << r.text;
    }
}

TEST_F(TextLoad, AgreesWithTheGrowingLoaderOnTextAndErrors) {
    // ASCII runs around the 16-byte blocks, every width, and the invalid forms: overlong,
    // surrogate, U+FFFE, above U+10FFFF, a stray continuation, a cut sequence.
    const std::string pieces[] = {std::string(15, 'a'), std::string(16, 'b'), std::string(17, 'c'), "x", "\n",
                                  "\xC3\xA9", "\xC4\x80", "\xE2\x98\x83", "\xF0\x9D\x84\x9E", "\xEF\xBB\xBF",
                                  "\xC0\xAF", "\xED\xA0\x80", "\xEF\xBF\xBE", "\xF4\x90\x80\x80", "\x80", "\xC3",
                                  "\xE2\x98", "\xFF"};
    std::mt19937 rng(25);
    for (int i = 0; i < 4000; i++) {
        std::string s;
        bool valid_only = i % 2 == 0;
        for (uint32_t k = rng() % 12; k > 0; k--) s += pieces[rng() % (valid_only ? 10 : std::size(pieces))];
        if (s.rfind("\xEF\xBB\xBF", 0) == 0) s.insert(0, "y"); // the growing loader skips a leading mark
        outcome a = counted(s), b = growing(s);
        ASSERT_TRUE(a == b) << "input of " << s.size() << " bytes, case " << i;
        if (valid_only) {
            ASSERT_TRUE(a.error.empty()) << i;
        }
    }
}

} // namespace
