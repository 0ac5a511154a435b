// tests/fuzz/text_codecs_fuzz.cpp: the JSON decoder's fuzz target (ZYL_TEXT_CODEC=0), the
// CSV reader's (1) and the in-place JSON unescaping's (2). The input becomes a string of one,
// two or four bytes a character; what the decoder accepts is written again and must decode to
// a value that is written the same way (the writers' text is a fixed point); unescaping must
// answer what a plain reading of the escapes over code points gives, or leave the string as
// it was. Now and then a collection runs at every allocation. Built for libFuzzer with clang,
// or linked with the replay driver.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "library/json_text.h"
#include "library/text_codecs.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"

using namespace zyl;

#ifndef ZYL_TEXT_CODEC
#error "ZYL_TEXT_CODEC names the decoder"
#endif

namespace {

constexpr size_t INPUT_LIMIT = 1 << 16;

// Runs [body] under a try frame; a raised error is an answer like any other.
template <typename F> bool guarded(F body) {
    cell* top = es.top;
    cell w{T_word, 0, 1, 0};
    stack::mark_try(&w);
    bool ok = true;
    try {
        body();
        stack::pop_frame();
    } catch (const error::raised&) {
        es.throw_code = THROW_NONE;
        ok = false;
    }
    es.top = top;
    return ok;
}

// The first byte: the low two bits choose how the rest becomes a string (bytes as Latin-1,
// pairs as UTF-16 units, lone surrogates too, or quads as code points below 0x110000); the
// CSV target takes its options from the others.
uint32_t flags = 0;

// The input after its first byte as a string.
cell* input_string(const uint8_t* data, size_t size) {
    uint32_t mode = size ? data[0] % 4 : 0;
    flags = size ? data[0] >> 2 : 0;
    if (size) data++, size--;
    uint32_t unit = mode == 2 ? 2 : mode == 3 ? 4 : 1;
    uint32_t count = uint32_t(size / unit);
    cell* s = string::make_at_sized(stack::push_slot(), count, unit);
    series_buffer* b = memory::buffer_of(s->w2);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = 0;
        std::memcpy(&c, data + size_t(i) * unit, unit);
        if (unit == 4) c %= 0x110000;
        string::put_char(b->head + size_t(i) * unit, unit, c);
    }
    b->tail = b->head + size_t(count) * unit;
    return s;
}

#if ZYL_TEXT_CODEC != 2

bool same_text(const cell* a, const cell* b) {
    uint32_t n = string::length_of(a);
    if (n != string::length_of(b)) return false;
    for (uint32_t i = 0; i < n; i++)
        if (string::rs_abs_char_at(a, a->w1 + i) != string::rs_abs_char_at(b, b->w1 + i)) return false;
    return true;
}

#endif

#if ZYL_TEXT_CODEC == 0

void run(const cell* text) {
    cell* value = stack::push_slot();
    text_codecs::json_failure f{};
    if (!text_codecs::scan_json(text, value, f)) {
        if (f.mark > string::rs_abs_length_q(text) || f.last_lf > f.mark || f.line == 0) std::abort();
        return;
    }
    cell* once = string::push_new(64);
    // Nesting past the writer's limit raises too-deep: a refusal, not a fault.
    if (!guarded([&] { text_codecs::write_json(value, once, nullptr, false); })) return;
    cell* again = stack::push_slot();
    if (!text_codecs::scan_json(once, again, f)) std::abort(); // what we write we read
    cell* twice = string::push_new(64);
    if (!guarded([&] { text_codecs::write_json(again, twice, nullptr, false); }) || !same_text(once, twice)) std::abort();
    cell* ascii = string::push_new(64);
    guarded([&] { text_codecs::write_json(value, ascii, nullptr, true); });
}

#elif ZYL_TEXT_CODEC == 2

// The characters of [s] from its index.
std::vector<uint32_t> chars_of(const cell* s) {
    std::vector<uint32_t> out;
    for (uint32_t i = 0, n = string::length_of(s); i < n; i++) out.push_back(string::rs_abs_char_at(s, s->w1 + i));
    return out;
}

// The escapes of [in] resolved one code point at a time; false for a malformed one.
bool plain_unescape(const std::vector<uint32_t>& in, std::vector<uint32_t>& out) {
    auto hex4 = [&](size_t at, uint32_t& v) {
        if (at + 4 > in.size()) return false;
        v = 0;
        for (size_t i = at; i < at + 4; i++) {
            uint32_t c = in[i];
            uint32_t d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 16;
            if (d == 16) return false;
            v = v * 16 + d;
        }
        return true;
    };
    static const char from[] = "bfnrt\"\\/", to[] = {8, 12, 10, 13, 9, '"', '\\', '/'};
    for (size_t i = 0; i < in.size();) {
        if (in[i] != '\\') {
            out.push_back(in[i++]);
            continue;
        }
        if (i + 1 == in.size()) return false;
        uint32_t e = in[i + 1];
        const char* k = e < 128 && e ? std::strchr(from, int(e)) : nullptr;
        if (k) {
            out.push_back(uint32_t(to[k - from]));
            i += 2;
            continue;
        }
        uint32_t hi, lo;
        if (e != 'u' || !hex4(i + 2, hi)) return false;
        if (hi < 0xD800 || hi > 0xDBFF) {
            out.push_back(hi);
            i += 6;
            continue;
        }
        if (i + 7 >= in.size() || in[i + 6] != '\\' || in[i + 7] != 'u' || !hex4(i + 8, lo) || lo < 0xDC00 || lo > 0xDFFF)
            return false;
        out.push_back(0x10000 + (hi - 0xD800) * 0x400 + (lo - 0xDC00));
        i += 12;
    }
    return true;
}

void run(const cell* text) {
    // The flags choose the index to unescape from: the text before it stays as it is.
    cell s = *text;
    s.w1 = flags % (string::length_of(text) + 1);
    cell* str = stack::push(&s);
    cell whole = s;
    whole.w1 = 0;
    std::vector<uint32_t> head, before = chars_of(&whole), expected;
    head.assign(before.begin(), before.begin() + s.w1);
    bool valid = plain_unescape(std::vector<uint32_t>(before.begin() + s.w1, before.end()), expected);
    bool ok = json_text::unescape(str);
    std::vector<uint32_t> after = chars_of(&whole);
    if (ok != valid) std::abort();
    if (!ok) {
        if (after != before) std::abort(); // a refusal changes nothing
        return;
    }
    head.insert(head.end(), expected.begin(), expected.end());
    if (after != head) std::abort();
}

#else

void run(const cell* text) {
    static const char* const delimiters[] = {",", ";", "\t", "ab"};
    cell delimiter{};
    if (flags & 4) delimiter = char_::make_value(uint32_t(uint8_t(*delimiters[flags & 3])));
    else string::from_utf8(&delimiter, delimiters[flags & 3]);
    cell* d = stack::push(&delimiter);
    text_codecs::csv_options o{d, (flags & 8) ? uint32_t('\'') : uint32_t('"'), (flags & 16) != 0, (flags & 32) != 0};
    cell* names = block::push_new(4);
    cell* lines = block::push_new(4);
    uint32_t line = 0;
    text_codecs::csv_status s = text_codecs::scan_csv(text, o, lines, names, line);
    if (s != text_codecs::csv_status::ok || o.header || o.trim) return;
    cell* once = string::push_new(64);
    if (!text_codecs::write_csv(lines, once, d, o.quote, 0)) std::abort(); // read lines are aligned
    cell* again = block::push_new(4);
    if (text_codecs::scan_csv(once, o, again, names, line) != text_codecs::csv_status::ok) std::abort();
    cell* twice = string::push_new(64);
    if (!text_codecs::write_csv(again, twice, d, o.quote, 0) || !same_text(once, twice)) std::abort();
}

#endif

void start_once() {
    static bool started = [] {
        collector::gc = {};
        datatype::reg.words_made = false;
        runtime::start();
        std::atexit([] { runtime::stop(); }); // what the run-time holds is no leak
        return true;
    }();
    (void)started;
}

} // namespace

// For the replay driver (tests/fuzz/target_replay.cpp): pieces of the syntax.
extern const char* const replay_target = ZYL_TEXT_CODEC == 0 ? "json" : ZYL_TEXT_CODEC == 1 ? "csv" : "unescape";
#if ZYL_TEXT_CODEC == 0
extern const char* const replay_fragments[] = {
    "{", "}", "[", "]", ",", ":", "\"", "\\", "\\u", "\\ud83d\\ude00", "\\ud83d", "\\ude00", "\\n", "\\\"",
    "true", "false", "null", "-0", "1e5", "1.5E-3", "2147483648", "-2147483649", "01", "\n", "\r\n", "\t",
    "{\"a\":", "{\"A\":1,\"a\":2}", "[[[[", "]]]]", "\"a-b\"", "\"1a\"", "\xEF\xBB\xBF", "\x0C", "",
};
#elif ZYL_TEXT_CODEC == 2
extern const char* const replay_fragments[] = {
    "\\", "\\u", "\\u00e9", "\\u00E9", "\\ud83d", "\\ude00", "\\ud83d\\ude00", "\\ud83d\\u0041", "\\uDBFF\\uDFFF",
    "\\n", "\\b", "\\f", "\\r", "\\t", "\\\"", "\\/", "\\\\", "\\q", "\\u12g4", "0", "f", "F", "\xC3\xA9", "",
};
#else
extern const char* const replay_fragments[] = {
    ",", ";", "\t", "ab", "\"", "'", "\"\"", "''", "\n", "\r\n", "\r", " ", "\"a,b\"", "\"x\"y", "a", "", "\xC3\xA9",
};
#endif
extern const size_t replay_fragment_count = std::size(replay_fragments);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INPUT_LIMIT) return 0;
    start_once();
    cell* top = es.top;
    bool stress = size < 128 && size % 16 == 5; // a collection at every allocation: slow
    if (stress) mm.stress_every = 1;
    guarded([&] { run(input_string(data, size)); });
    mm.stress_every = 0;
    es.top = top;
    collector::collect(); // what the codecs left must be well formed to mark
    return 0;
}
