// tests/unit/zylbin_encode_test.cpp: encoding values as Zylbin in both layouts: the bytes of
// each kind of record, references by path, objects whose functions use their words, the fixed
// layout's padding, refusals, deep nesting, and round trips of random nested, shared and
// cyclic values that must come back with the same shape.
#include <cstdio>
#include <random>
#include <string>
#include <unordered_map>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/header_flags.h"
#include "datatypes/object.h"
#include "runtime/platform/native_stack.h"
#include "datatypes/core.h"
#include "zylbin_fixture.h"

using namespace zyl;
using zyl::testing::bytes;
using zyl::testing::ZylbinTest;

namespace {

// Evaluates [src]; answers its result pushed on the stack.
cell* eval_push(const std::string& src) {
    cell* slot = stack::push(&none_value);
    cell* block = runtime::load_text(reinterpret_cast<const uint8_t*>(src.data()), src.size());
    cell w = word::load("test");
    stack::mark_try(&w);
    interp::eval_block(block, true);
    *slot = *es.base;
    stack::pop_frame();
    es.top = slot + 1;
    return slot;
}

std::string hex(const bytes& b, size_t from = 0) {
    std::string s;
    char buf[4];
    for (size_t i = from; i < b.size(); i++) {
        std::snprintf(buf, sizeof buf, "%s%02X", s.empty() ? "" : " ", b[i]);
        s += buf;
    }
    return s;
}

// Where the records of a compact stream without symbols begin.
size_t compact_records(const bytes& b) {
    size_t p = 8;
    for (int k = 0; k < 2; k++)
        while (b[p++] & 0x80) {}
    return p;
}

bytes encode_src(const std::string& src, zylbin::layout l) {
    cell* top = es.top;
    cell* v = eval_push(src);
    v->header &= ~CELL_NEW_LINE; // the first value of a text begins a line
    bytes out = zylbin::encode(v, l);
    es.top = top;
    return out;
}

// The records of [src]'s value encoded compact, in hexadecimal.
std::string compact_hex(const std::string& src) {
    bytes b = encode_src(src, zylbin::LAYOUT_COMPACT);
    return hex(b, compact_records(b));
}

// Answers "no-codec" or another description of the error that encoding [src]'s value raises,
// or "" when it raises none.
std::string encode_failure(const std::string& src) {
    cell* top = es.top;
    cell* v = eval_push(src);
    cell w = word::load("test");
    stack::mark_try(&w);
    std::string failure;
    try {
        zylbin::encode(v, zylbin::LAYOUT_COMPACT);
        stack::pop_frame();
    } catch (const error::raised& e) {
        es.throw_code = THROW_NONE;
        failure = e.category == error::cat_access && e.id == error::access_no_codec ? "no-codec"
                  : e.category == error::cat_internal && e.id == error::internal_stack_overflow
                      ? "stack-overflow"
                      : "error " + std::to_string(e.category) + " " + std::to_string(e.id);
    }
    es.top = top;
    return failure;
}

} // namespace

TEST_F(ZylbinTest, CompactWholeStreams) {
    EXPECT_EQ(hex(encode_src("5", zylbin::LAYOUT_COMPACT)), "5A 59 4C 42 49 4E 02 01 01 01 85");
    // A global word brings the symbol table: S 1, T 4, offset 0, "foo" NUL, then 0F 00.
    EXPECT_EQ(hex(encode_src("first ['foo]", zylbin::LAYOUT_COMPACT)),
              "5A 59 4C 42 49 4E 02 05 01 02 01 04 00 00 00 00 66 6F 6F 00 11 00");
    EXPECT_EQ(hex(encode_src("first [foo]", zylbin::LAYOUT_COMPACT)),
              "5A 59 4C 42 49 4E 02 05 01 02 01 04 00 00 00 00 66 6F 6F 00 0F 00");
}

TEST_F(ZylbinTest, CompactRecordsOfScalarsAndSeries) {
    struct { const char* src; const char* records; } cases[] = {
        {"0", "80"}, {"63", "BF"}, {"64", "0B 80 01"}, {"-1", "0B 01"},
        {"3.0", "4C 06"}, {"1.5", "0C 00 00 00 00 00 00 F8 3F"}, {"-0.0", "0C 00 00 00 00 00 00 00 80"},
        {"25%", "66 32"}, {"-1%", "66 01"},
        {"1.2.3", "27 01 02 03"}, {"1.2.3.4", "67 04 01 02 03 04"},
        {"true", "C2"}, {"false", "C3"}, {"none", "03"}, {"#\"a\"", "0A 61"}, {"3x-4", "25 06 07"},
        {"integer!", "01 0B"},
        {"\"abc\"", "07 0C 61 62 63"}, {"next \"abc\"", "47 01 0C 61 62 63"}, {"#{0102}", "29 02 01 02"},
        {"[]", "05 00"}, {"[1 [2]]", "05 02 81 05 01 82"},
        // The same empty block twice: the second is a reference whose path is [0 0].
        {"b: [] reduce [b b]", "05 02 05 00 C1 05 02 00 00"},
        // A block inside itself: the reference leads to the root value.
        {"b: [1] append/only b b b", "05 02 81 C1 05 01 00"},
        {"[\n 1]", "05 01 C0 81"},
    };
    for (const auto& c : cases) EXPECT_EQ(compact_hex(c.src), c.records) << c.src;
    // A fraction that hundredths do not hold keeps the double.
    std::string third = compact_hex("33.3333%");
    EXPECT_EQ(third.substr(0, 3), "26 ");
    EXPECT_EQ(third.size(), 26u);
}

TEST_F(ZylbinTest, FixedLayoutWordsAndPadding) {
    EXPECT_EQ(hex(encode_src("5", zylbin::LAYOUT_FIXED)),
              "5A 59 4C 42 49 4E 02 00 01 00 00 00 08 00 00 00 0B 00 00 00 05 00 00 00");
    struct { const char* src; const char* records; } cases[] = {
        // Three Latin-1 characters and one zero byte, then the next record on a multiple of 4.
        {"[\"abc\" 1]", "05 00 00 00 00 00 00 00 02 00 00 00 07 01 00 00 00 00 00 00 03 00 00 00 61 62 63 00 "
                        "0B 00 00 00 01 00 00 00"},
        // The double's record starts on a multiple of 8, its high half first.
        {"[1.5]", "05 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 0C 00 00 00 00 00 F8 3F 00 00 00 00"},
        {"charset \"a\"", "1E 00 00 00 0D 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 40 00 00 00"},
        {"1.2.3.4", "27 04 00 00 01 02 03 04 00 00 00 00 00 00 00 00"},
        {"-$1", "31 00 40 00 00 00 00 00 00 00 00 00 00 10 00 00"},
    };
    for (const auto& c : cases) EXPECT_EQ(hex(encode_src(c.src, zylbin::LAYOUT_FIXED), 16), c.records) << c.src;
}

TEST_F(ZylbinTest, FixedReaderSkipsZeroWordsAndRejectsIdsWithoutRecords) {
    auto fixed = [](std::initializer_list<uint32_t> words) {
        bytes b = {'Z', 'Y', 'L', 'B', 'I', 'N', 2, 0};
        std::vector<uint32_t> all = {1, uint32_t(words.size() * 4)};
        all.insert(all.end(), words);
        for (uint32_t w : all)
            for (int i = 0; i < 4; i++) b.push_back(uint8_t(w >> (8 * i)));
        return b;
    };
    EXPECT_EQ(decode(fixed({11, 7, 0, 0, 11, 8})), "7 8");
    EXPECT_EQ(decode(fixed({11, 7, 0})), "7"); // padding at the end
    EXPECT_EQ(decode(fixed({13, 0})), " !! invalid 17");
    EXPECT_EQ(decode(fixed({42, 0})), " !! invalid 17");
    EXPECT_EQ(decode(fixed({200, 0})), " !! invalid 17");
    EXPECT_EQ(decode(fixed({11, 7, 0xFF, 2, 0, 0})), "7 !! invalid 29"); // a path through an integer
    // A body shorter than its two leading words.
    EXPECT_EQ(decode(bytes{'Z', 'Y', 'L', 'B', 'I', 'N', 2, 0, 1, 0, 0}), " !! invalid-data");
}

TEST_F(ZylbinTest, ObjectWithFunctionsUsingItsWordsIsWrittenOnce) {
    for (auto l : {zylbin::LAYOUT_COMPACT, zylbin::LAYOUT_FIXED}) {
        bytes b = encode_src("make object! [a: 1 f: func [x] [x + a] g: does [a]]", l);
        cell* target = block::push_new(4);
        zylbin::decode(b.data(), b.size(), target->w2, zylbin::MODE_USER);
        ASSERT_EQ(series::length(target->w2), 1u);
        cell obj = block::cells_of(target->w2)[0];
        ASSERT_EQ(obj.type(), T_object);
        // Each function's `a` is bound to the decoded object's context, not to a copy.
        for (uint32_t i : {1u, 2u}) {
            cell fn = *context::value_at(obj.w1, i);
            ASSERT_EQ(fn.type(), T_function);
            cell body = *function::series_cell(&fn, function::FN_BODY);
            const cell* last = block::cells_of(body.w2) + series::length(body.w2) - 1;
            EXPECT_EQ(last->w1, obj.w1);
            EXPECT_EQ(last->w3, 0u);
        }
        stack::pop(1);
    }
    // The compact records: one object head, and the words as references with its path [0].
    std::string records = compact_hex("make object! [a: 1 g: does [a]]");
    EXPECT_NE(records.find("C1 4F 00 00 01 00"), std::string::npos) << records;
}

TEST_F(ZylbinTest, RefusedValuesRaiseNoCodecAndLeaveTheEncoderReset) {
    std::string before = compact_hex("b: [] reduce [b b]");
    for (const char* src : {"reduce [1 :exists?]", "reduce [[2] :exists?]"}) {
        EXPECT_EQ(encode_failure(src), "no-codec") << src;
        EXPECT_EQ(compact_hex("b: [] reduce [b b]"), before);
    }
    // symbol! and context! cells have no record: refused, not skipped.
    for (uint8_t t : {T_symbol, T_context}) {
        cell c{t, 0, 1, 0};
        cell* top = es.top;
        cell w = word::load("test");
        stack::mark_try(&w);
        bool refused = false;
        try {
            zylbin::encode(&c, zylbin::LAYOUT_FIXED);
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            refused = e.id == error::access_no_codec;
        }
        es.top = top;
        EXPECT_TRUE(refused);
    }
}

TEST_F(ZylbinTest, DeepNestingRaisesStackOverflow) {
    uintptr_t saved = native_stack::limit;
    native_stack::limit = native_stack::stack_pointer() - (256 << 10);
    std::string failure = encode_failure("b: [] loop 20000 [b: reduce [b]] b");
    native_stack::limit = saved;
    EXPECT_EQ(failure, "stack-overflow");
}

namespace {

// Compares an original value with its decoded copy: the same types, flags that a stream
// keeps, payloads and contents, and the same sharing: each original node answers one decoded
// node and no other.
struct shape {
    std::unordered_map<uint32_t, uint32_t> to, from;
    std::string fault;

    // Whether [a] and [b] pair up; [*fresh] when met for the first time.
    bool pair(uint32_t a, uint32_t b, bool* fresh) {
        *fresh = false;
        auto it = to.find(a);
        if (it != to.end()) return it->second == b;
        if (from.count(b)) return false;
        to[a] = b, from[b] = a;
        *fresh = true;
        return true;
    }
    bool fail(const std::string& why) {
        if (fault.empty()) fault = why;
        return false;
    }

    bool cells(node_id a, node_id b) {
        uint64_t n = series::length(a);
        if (series::length(b) != n) return fail("cell count");
        for (uint32_t i = 0; i < n; i++)
            if (!same(block::cells_of(a)[i], block::cells_of(b)[i])) return false;
        return true;
    }
    bool context(node_id a, node_id b) {
        uint32_t n = context::word_count(a);
        if (context::word_count(b) != n) return fail("word count");
        bool storage = !context::on_stack(a);
        for (uint32_t i = 0; i < n; i++) {
            if (context::word_at(a, i)->w2 != context::word_at(b, i)->w2) return fail("context word");
            if (storage && !same(*context::value_at(a, i), *context::value_at(b, i))) return false;
        }
        return true;
    }

    bool same(const cell& a, const cell& b) {
        if ((a.header & (0xFF | CELL_NEW_LINE)) != (b.header & (0xFF | CELL_NEW_LINE)))
            return fail("header " + std::to_string(a.header) + " " + std::to_string(b.header));
        bool fresh;
        switch (a.type()) {
        case T_block: case T_paren: case T_path: case T_lit_path: case T_set_path: case T_get_path:
        case T_hash: case T_map:
            if (a.w1 != b.w1 || !pair(a.w2, b.w2, &fresh)) return fail("block sharing");
            return !fresh || cells(a.w2, b.w2);
        case T_string: case T_file: case T_url: case T_tag: case T_email: case T_binary: case T_bitset: {
            if (a.w1 != b.w1 || !pair(a.w2, b.w2, &fresh)) return fail("series sharing");
            const series_buffer* x = memory::buffer_of(a.w2);
            const series_buffer* y = memory::buffer_of(b.w2);
            if (fresh && (x->used_bytes() != y->used_bytes() || std::memcmp(x->head, y->head, x->used_bytes())))
                return fail("bytes");
            return true;
        }
        case T_word: case T_set_word: case T_lit_word: case T_get_word: case T_refinement:
            if (a.w2 != b.w2) return fail("word");
            // An unbound word comes back bound to the global context.
            if (b.w1 == context::global()) return a.w1 == 0 || a.w1 == b.w1 || fail("global word");
            if (a.w3 != b.w3) return fail("word index");
            if (!pair(a.w1, b.w1, &fresh)) return fail("word binding");
            return !fresh || same(*context::owner_of(a.w1), *context::owner_of(b.w1));
        case T_object:
            if (!pair(a.w1, b.w1, &fresh)) return fail("object sharing");
            return !fresh || context(a.w1, b.w1);
        case T_function: {
            if (!pair(a.w1, b.w1, &fresh)) return fail("function sharing");
            if (!fresh) return true;
            cell sa{T_block, 0, a.w2, 0}, sb{T_block, 0, b.w2, 0};
            return context(a.w1, b.w1) && same(sa, sb) &&
                   same(*function::series_cell(&a, function::FN_BODY), *function::series_cell(&b, function::FN_BODY));
        }
        case T_op:
            if ((a.header & OP_SOURCE_MASK) != (b.header & OP_SOURCE_MASK)) return fail("op source");
            if ((a.header & OP_SOURCE_MASK) >> OP_SOURCE_SHIFT == T_function) {
                cell fa = a, fb = b;
                fa.header = fb.header = T_function;
                return same(fa, fb);
            }
            [[fallthrough]];
        case T_native: case T_action: {
            if (a.w1 != b.w1) return fail("native index");
            // A native's spec is written in full each time: alike, not shared.
            shape spec;
            return spec.cells(a.w2, b.w2) || fail("native spec: " + spec.fault);
        }
        case T_error:
            for (uint32_t f = error::F_ARG1; f <= error::F_STACK; f++)
                if (!same(*error::field(&a, f), *error::field(&b, f))) return false;
            return true;
        default:
            if (a.w1 != b.w1 || a.w2 != b.w2 || a.w3 != b.w3) return fail("payload of type " + std::to_string(a.type()));
            return true;
        }
    }
};

// Materials of the random values: scalars, series, a function, natives, an action, ops, and an
// object whose functions use its words. The error's near block is the materials block itself,
// so the object may be met first through the words of its own making.
const char* const MATERIALS = R"zyl(reduce [
    0 63 64 -1 2147483647 -2147483648 1.5 -0.0 3.0 1e300 25% 33.3333% 12:30 1-Jan-2000
    1-Jan-2000/10:00+2:00 1.2.3 1.2.3.4.5.6.7.8.9.10.11.12 #"a" #"^(10FFFF)" "text" "üñï" "^(1F600)x"
    %file http://x.y <tag> a@b.c #{0102} 'foo first [foo:] first [:foo] /ref #iss 3x4 -1x-2 $1.50 -$2.25
    (1, 2) (1, 2, 3) first [a/b/c] first [(1 + 2)] none true false integer! charset "abc"
    make typeset! [integer! string!] make map! [a 1 "b" 2] make hash! [a 1 b 2]
    func [y] [y] :append :+ :reduce
    make object! [a: 1 f: func [x] [x + a] g: does [a]] make op! func [p q] [p - q]
    make error! "boom" []
])zyl";

} // namespace

TEST_F(ZylbinTest, RandomNestedSharedAndCyclicValuesRoundTrip) {
    cell* materials = eval_push(MATERIALS);
    uint32_t count = uint32_t(series::length(materials->w2));
    std::mt19937 rng(2026);
    for (int round = 0; round < 150; round++) {
        cell* top = es.top;
        uint32_t blocks = 1 + rng() % 6;
        cell* pool = block::push_new(int32_t(blocks));
        for (uint32_t i = 0; i < blocks; i++) {
            cell b;
            block::make_at(&b, 4);
            if (rng() % 4 == 0) cells::set_type(&b, T_paren);
            block::append_value(pool, &b);
        }
        for (uint32_t i = 0; i < blocks; i++) {
            uint32_t n = rng() % 7;
            for (uint32_t k = 0; k < n; k++) {
                cell v = rng() % 3 == 0 ? block::cells_of(pool->w2)[rng() % blocks]   // shared, or a cycle
                                        : block::cells_of(materials->w2)[rng() % count];
                if (rng() % 3 == 0) v.header |= CELL_NEW_LINE;
                cell target = block::cells_of(pool->w2)[i];
                block::append_value(&target, &v);
            }
        }
        cell root = block::cells_of(pool->w2)[0];
        for (auto l : {zylbin::LAYOUT_COMPACT, zylbin::LAYOUT_FIXED}) {
            bytes b = zylbin::encode(&root, l);
            cell* target = block::push_new(4);
            std::string decoded = decode(b);
            ASSERT_EQ(decoded.find(" !! "), std::string::npos) << "round " << round << " layout " << int(l) << ": " << decoded << "\n" << hex(b);
            zylbin::decode(b.data(), b.size(), target->w2, zylbin::MODE_USER);
            ASSERT_EQ(series::length(target->w2), 1u);
            shape s;
            EXPECT_TRUE(s.same(root, block::cells_of(target->w2)[0])) << "round " << round << " layout " << int(l) << ": " << s.fault;
            // What decodes encodes again to a stream that is a fixed point: decoded objects
            // have no class, and unbound words come back global, so the first bytes may differ.
            cell again = block::cells_of(target->w2)[0];
            bytes once = zylbin::encode(&again, l);
            cell* back = block::push_new(4);
            zylbin::decode(once.data(), once.size(), back->w2, zylbin::MODE_USER);
            cell twice = block::cells_of(back->w2)[0];
            EXPECT_EQ(hex(zylbin::encode(&twice, l)), hex(once)) << "round " << round << " layout " << int(l);
            stack::pop(2);
        }
        es.top = top;
    }
}

// Values whose insides are reached by paths while they are still being read come back with
// the same shape: an object met first through one of its words (its functions' words then
// lead through that word), an op's function whose body names its arguments (the op's path is
// the function's), a block first met in an op's body, an op over an action met twice (its
// spec's cells lead through the first), an error whose near block holds the error.
TEST_F(ZylbinTest, PathsReachValuesWhileTheyAreRead) {
    for (const char* src : {
             "o: make object! [a: 1 f: does [a]] reduce [in o 'a o]",
             "make op! func [p q] [p - q]",
             "b: [1] reduce [make op! func [p q] compose/only [append (b) p] b]",
             "reduce [:+ :+]",
             "e: make error! \"x\" e/near: reduce [e 1] e",
         })
        for (auto l : {zylbin::LAYOUT_COMPACT, zylbin::LAYOUT_FIXED}) {
            cell* top = es.top;
            cell* v = eval_push(src);
            v->header &= ~CELL_NEW_LINE;
            bytes b = zylbin::encode(v, l);
            std::string decoded = decode(b);
            if (decoded.find(" !! ") != std::string::npos) {
                ADD_FAILURE() << src << " layout " << int(l) << ": " << decoded;
                es.top = top;
                continue;
            }
            cell* target = block::push_new(4);
            zylbin::decode(b.data(), b.size(), target->w2, zylbin::MODE_USER);
            shape sh;
            EXPECT_TRUE(sh.same(*v, block::cells_of(target->w2)[0])) << src << " layout " << int(l) << ": " << sh.fault;
            es.top = top;
        }
}

TEST_F(ZylbinTest, WriterOfSeveralTopLevelRecords) {
    cell* v = eval_push("reduce [[1 2] \"x\"]");
    zylbin::writer w(zylbin::LAYOUT_COMPACT);
    cell first = block::cells_of(v->w2)[0], second = block::cells_of(v->w2)[1];
    w.record(&first);
    w.record(&second);
    w.record(&first); // a reference to the first top-level value
    EXPECT_EQ(w.root_count(), 3u);
    bytes b = w.finish();
    EXPECT_EQ(hex(b, 8), "03 0B 05 02 81 82 07 04 78 C1 05 01 00");
    EXPECT_EQ(decode(b), "[1 2] \"x\" [1 2]");
}
