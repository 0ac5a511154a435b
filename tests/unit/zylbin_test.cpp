// tests/unit/zylbin_test.cpp: decoding Zylbin streams: the header and leading fields, varints
// and head bytes, every scalar and series payload, paths, copies and shared series, words in
// both modes, objects, functions, natives, ops and errors, the datatypes still to come, the
// limits on untrusted input, compressed bodies, and the boot-image load.
#include <cstring>
#include <unistd.h>
#include <string>

#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/header_flags.h"
#include "datatypes/integer.h"
#include "eval/stack.h"
#include "runtime/boot_compress.h"
#include "runtime/error_ids.h"
#include "runtime/values.h"
#include "datatypes/symbol.h"
#include "zylbin_fixture.h"

using namespace zyl;
using zyl::testing::bytes;
using zyl::testing::stream;
using zyl::testing::ZylbinTest;

namespace {

const char* const NOT_YET = "not yet available";

// A stream holding the [payload] bytes, without symbols.
stream records(std::initializer_list<uint8_t> payload) {
    stream s;
    s.raw(payload);
    return s;
}

// The 1-based offset of payload byte [k] of [s].
std::string at(const stream& s, size_t k) {
    return "invalid " + std::to_string(s.build().size() - s.payload.size() + 1 + k);
}

bytes header(std::initializer_list<uint8_t> rest) {
    bytes b = {'Z', 'Y', 'L', 'B', 'I', 'N', 2};
    b.insert(b.end(), rest);
    return b;
}

// Decodes [s] (user mode) and assigns its first value to the global word [name].
void decode_as(const char* name, const stream& s) {
    cell* top = es.top;
    cell* target = block::push_new(4);
    bytes data = s.build();
    zylbin::decode(data.data(), data.size(), target->w2, zylbin::MODE_USER);
    cell w = word::load(name);
    context::set_value(&w, block::cells_of(target->w2));
    es.top = top;
}

// The first value that decoding [s] appends (read before anything allocates).
cell first_value(const stream& s, zylbin::mode m = zylbin::MODE_USER) {
    cell* target = block::push_new(4);
    bytes data = s.build();
    zylbin::decode(data.data(), data.size(), target->w2, m);
    cell v = block::cells_of(target->w2)[0];
    stack::pop(1);
    return v;
}

// A function! record: spec [words...] (each a word! argument), body [body bytes].
stream& function_record(stream& s, std::initializer_list<const char*> args, const bytes& body, uint32_t body_count) {
    s.raw({T_function}).var(uint32_t(args.size())).var(body_count);
    s.raw({T_context, 0x05}).var(uint32_t(args.size())); // kind function, values on the stack
    for (const char* a : args) s.sym(a);
    s.raw({T_block}).var(uint32_t(args.size()));
    for (const char* a : args) s.word(a);
    s.raw({T_block}).var(body_count).raw(body);
    return s;
}

} // namespace

TEST_F(ZylbinTest, HeaderAndLeadingFields) {
    struct {
        const char* what;
        bytes data;
        std::string expect;
    } cases[] = {
        {"the smallest stream", header({0x01, 1, 1, 0x85}), "5"},
        {"an empty symbol table", header({0x05, 1, 1, 0, 0, 0x85}), "5"},
        {"version and unknown flags are not looked at", header({0xF1, 1, 1, 0x85}), "5"},
        {"S = 1 with under 4 bytes left", header({0x05, 1, 1, 1, 0, 0x85}), " !! invalid 11"},
        {"a string table not ending in 0", header({0x05, 1, 1, 1, 2, 0, 0, 0, 0, 'a', 'b', 0x85}), " !! invalid 18"},
        {"a payload size past the data", header({0x01, 1, 5, 0x85}), " !! invalid 11"},
        {"a leading varint longer than 20 bytes",
         header({0x01, 1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}),
         " !! invalid 14"},
        {"a bad magic", bytes{'Z', 'Y', 'L', 'B', 'I', 'X', 2, 1, 1, 1, 0x85}, " !! invalid-data"},
        {"a header cut short", bytes{'Z', 'Y', 'L'}, " !! invalid-data"},
        {"a fixed body shorter than its leading words", header({0x00, 1, 0, 0, 0}), " !! invalid-data"},
    };
    for (const auto& c : cases) EXPECT_EQ(decode(c.data), c.expect) << c.what;
}

TEST_F(ZylbinTest, HeadBytesVarintsAndScalars) {
    struct {
        const char* what;
        std::initializer_list<uint8_t> payload;
        std::string expect;
    } cases[] = {
        {"integers 0 and 63 as head bytes", {0x80, 0xBF}, "0 63"},
        {"64 and -1 through zigzag", {0x0B, 0x80, 0x01, 0x0B, 0x01}, "64 -1"},
        {"a fifth varint byte 0x0F", {0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, "-2147483648"},
        {"a fifth varint byte 0x10", {0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x10}, " !! invalid 16"},
        {"a varint cut by the payload end", {0x0B, 0xFF}, " !! invalid 13"},
        {"type id 63 then a varint id", {0x3F, 0x0B, 0x05}, "-3"},
        {"a varint id with no payload rule", {0x3F, 0x37}, " !! invalid 11"},
        {"type id 0", {0x00}, " !! invalid 11"},
        {"logic!, symbol! and series! as type records", {0x04}, " !! invalid 11"},
        {"symbol! record", {0x0D}, " !! invalid 11"},
        {"series! record", {0x2A}, " !! invalid 11"},
        {"a head byte nobody defines", {0xC5}, " !! invalid 11"},
        {"0xC1 before 0xC2", {0xC1, 0xC2}, " !! invalid 12"},
        {"true and false", {0xC2, 0xC3}, "true false"},
        {"none!", {0x03}, "none"},
        {"datatype!", {0x01, 0x0B}, "integer!"},
        {"an unregistered datatype! id", {0x01, 0x37}, " !! invalid 12"},
        {"char!", {0x0A, 0x41}, "#\"A\""},
        {"a code point above 10FFFF", {0x0A, 0x80, 0x80, 0xC4, 0x00}, " !! invalid 12"},
        {"float! as an integer", {0x4C, 0x06}, "3.0"},
        {"float! as a double", {0x0C, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, "1.5"},
        {"percent! in hundredths", {0x66, 0xC8, 0x01}, "100%"},
        {"pair!", {0x25, 0x04, 0x05}, "2x-3"},
        {"tuple! of 3", {0x27, 1, 2, 3}, "1.2.3"},
        {"tuple! of 4", {0x67, 4, 1, 2, 3, 4}, "1.2.3.4"},
        {"tuple! of 0", {0x67, 0}, " !! invalid 12"},
        {"tuple! of 13", {0x67, 13, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}, " !! invalid 12"},
        {"typeset! of 13 bytes", {0x21, 13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, " !! invalid 12"},
        {"string! of five Latin-1 bytes", {0x07, 0x14, 'h', 'e', 'l', 'l', 'o'}, "\"hello\""},
        {"string! of UCS-2 units", {0x07, 0x09, 'h', 0, 'i', 0}, "\"hi\""},
        {"string! of unit width 8", {0x07, 0x07, 'a'}, " !! invalid 12"},
        {"string! with a code point above 10FFFF", {0x07, 0x06, 0, 0, 0x11, 0}, " !! invalid 13"},
        {"string! at an index", {0x47, 0x02, 0x0C, 'a', 'b', 'c'}, "\"c\""},
        {"string! at an index past its tail", {0x47, 0x04, 0x0C, 'a', 'b', 'c'}, " !! invalid 12"},
        {"file!, url!, tag!, email!", {0x08, 0x04, 'f', 0x09, 0x0C, 'a', ':', 'b', 0x2C, 0x04, 'p', 0x2D, 0x0C, 'a', '@', 'b'},
         "%f a:b <p> a@b"},
        {"binary!", {0x29, 0x02, 0xAB, 0xCD}, "#{ABCD}"},
        {"binary! longer than the data", {0x29, 0x05, 0xAB}, " !! invalid 12"},
        {"date! with a time but F clear", {0x2F, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, " !! invalid 12"},
        {"date! without a time but F set", {0x6F, 0, 0, 0, 0}, " !! invalid 12"},
        {"routine!", {0x1D}, " !! no-codec"},
        {"triple!", {0x1F}, " !! no-codec"},
        {"handle!", {0x2E}, " !! no-codec"},
        {"port!", {0x30}, " !! no-codec"},
        {"event!", {0x36}, " !! no-codec"},
    };
    for (const auto& c : cases) EXPECT_EQ(decode(records(c.payload)), c.expect) << c.what;
}

TEST_F(ZylbinTest, NewLinePrefixMarksTheValue) {
    cell v = first_value(records({0xC0, 0xC2}));
    EXPECT_EQ(v.type(), T_logic);
    EXPECT_TRUE(v.header & CELL_NEW_LINE);
    cell blk = first_value(records({0xC0, 0xC0, 0x05, 0x00}));
    EXPECT_TRUE(blk.header & CELL_NEW_LINE) << "prefixes may repeat";
}

TEST_F(ZylbinTest, BlocksPathsCopiesAndSharedSeries) {
    struct {
        const char* what;
        std::initializer_list<uint8_t> payload;
        std::string expect;
    } cases[] = {
        {"nested blocks and parens", {0x05, 0x02, 0x81, 0x06, 0x01, 0x82}, "[1 (2)]"},
        {"a block at an index", {0x45, 0x01, 0x02, 0x81, 0x82}, "[2]"},
        {"path types", {0x19, 0x02, 0x81, 0x82, 0x1B, 0x01, 0x81}, "1/2 1:"},
        {"a copy of a cell inside the block being read", {0x05, 0x02, 0x05, 0x01, 0x81, 0xFF, 0x02, 0x00, 0x00},
         "[[1] [1]]"},
        {"a copy of an earlier top-level value", {0x81, 0xFF, 0x01, 0x00}, "1 1"},
        {"a path of count 0", {0x81, 0xFF, 0x00}, "1 !! invalid 13"},
        {"a path index equal to the length", {0x81, 0xFF, 0x01, 0x01}, "1 !! invalid 13"},
        {"a path into an integer", {0x81, 0xFF, 0x02, 0x00, 0x00}, "1 !! invalid 13"},
        {"a path that reaches nothing yet", {0xFF, 0x01, 0x00}, " !! invalid 12"},
        {"a block sharing an earlier block's series", {0x05, 0x01, 0x81, 0xC1, 0x06, 0x01, 0x00}, "[1] (1)"},
        {"a string sharing an earlier string", {0x07, 0x08, 'a', 'b', 0xC1, 0x48, 0x01, 0x01, 0x00}, "\"ab\" %b"},
        {"a string over a block", {0x05, 0x00, 0xC1, 0x07, 0x01, 0x00}, "[] !! invalid 15"},
        {"a block over a string", {0x07, 0x04, 'a', 0xC1, 0x05, 0x01, 0x00}, "\"a\" !! invalid 16"},
        {"a binary over a string", {0x07, 0x04, 'a', 0xC1, 0x29, 0x01, 0x00}, "\"a\" !! invalid 16"},
        {"a bitset sharing a bitset", {0x1E, 0x01, 0x80, 0xC1, 0x1E, 0x01, 0x00}, "make bitset! #{80} make bitset! #{80}"},
        {"a bitset over a binary", {0x29, 0x00, 0xC1, 0x1E, 0x01, 0x00}, "#{} !! invalid 15"},
        {"a shared index past the tail", {0x05, 0x00, 0xC1, 0x45, 0x01, 0x01, 0x00}, "[] !! invalid 16"},
        {"half a stream: the earlier values stay", {0x81, 0x82, 0x05, 0x02, 0x83, 0xC5}, "1 2 !! invalid 16"},
    };
    for (const auto& c : cases) EXPECT_EQ(decode(records(c.payload)), c.expect) << c.what;

    cell* target = block::push_new(4);
    bytes data = records({0x05, 0x02, 0x05, 0x01, 0x81, 0xFF, 0x02, 0x00, 0x00, 0x07, 0x04, 'a', 0xC1, 0x07, 0x01, 0x01})
                     .build();
    zylbin::decode(data.data(), data.size(), target->w2, zylbin::MODE_USER);
    const cell* outer = block::cells_of(target->w2);
    const cell* inner = block::cells_of(outer->w2);
    EXPECT_EQ(inner[0].w2, inner[1].w2) << "a copy shares the series";
    EXPECT_EQ(outer[1].w2, outer[2].w2) << "a reference shares the series";
    stack::pop(1);
}

TEST_F(ZylbinTest, WordsBindGloballyAndInternEachEntryOnce) {
    stream s;
    s.word("alpha").word("Alpha").word("alpha", T_set_word).word("alpha", T_get_word).word("alpha", T_lit_word);
    s.word("beta", T_refinement).raw({T_issue}).sym("alpha");
    EXPECT_EQ(decode(s), "alpha Alpha alpha: :alpha 'alpha /beta #alpha");
    cell* target = block::push_new(4);
    bytes data = s.build();
    zylbin::decode(data.data(), data.size(), target->w2, zylbin::MODE_USER);
    const cell* c = block::cells_of(target->w2);
    EXPECT_EQ(c[0].w2, c[2].w2);
    EXPECT_EQ(c[0].w2, symbol::make("alpha")) << "the same id as interning the name";
    EXPECT_EQ(c[0].w1, context::global());
    stack::pop(1);

    stream bad;
    bad.raw({T_word}).var(3);
    bad.sym_index("x");
    EXPECT_EQ(decode(bad), " !! " + at(bad, 1)) << "a symbol index past the table";
    EXPECT_EQ(decode(records({T_word, 0x00})), " !! invalid 12") << "a symbol without a table";
    EXPECT_EQ(decode(records({0xC4, T_word, 0x00})), " !! invalid 11") << "a definition in user data";
}

TEST_F(ZylbinTest, ObjectsKeepTheirFieldsAndBindTheirWords) {
    stream s;
    s.raw({T_object, 0x00, T_context, 0x12, 0x02}).sym("x").sym("y").raw({0x81, 0x82});
    decode_as("o", s);
    EXPECT_EQ(eval("o/x + o/y"), "3");

    // A block whose word is bound to an object written inline: the owner lives only there.
    stream inline_owner;
    inline_owner.raw({T_block, 0x01, 0x40 | T_word}).sym("x").zig(0);
    inline_owner.raw({T_object, 0x00, T_context, 0x12, 0x01}).sym("x").raw({0x87});
    decode_as("b", inline_owner);
    EXPECT_EQ(eval("get first b"), "7");

    // A word bound through a path to the object before it.
    stream by_path;
    by_path.raw({T_object, 0x00, T_context, 0x12, 0x01}).sym("x").raw({0x85});
    by_path.raw({0xC1, 0x40 | T_word}).sym("x").zig(0).path({0});
    cell* target = block::push_new(4);
    bytes data = by_path.build();
    zylbin::decode(data.data(), data.size(), target->w2, zylbin::MODE_USER);
    EXPECT_EQ(block::cells_of(target->w2)[1].w1, block::cells_of(target->w2)[0].w1);
    stack::pop(1);

    stream context_value;
    context_value.raw({T_context, 0x10, 0x01}).sym("k").raw({0xC2});
    decode_as("c", context_value);
    EXPECT_EQ(eval("c/k"), "true");

    struct {
        const char* what;
        stream s;
    } bad[] = {
        {"a word index outside its context", [] {
             stream t;
             t.raw({T_object, 0x00, T_context, 0x12, 0x01}).sym("x").raw({0x85});
             t.raw({0xC1, 0x40 | T_word}).sym("x").zig(1).path({0});
             return t;
         }()},
        {"a word index naming another word", [] {
             stream t;
             t.raw({T_object, 0x00, T_context, 0x12, 0x02}).sym("x").sym("y").raw({0x85, 0x86});
             t.raw({0xC1, 0x40 | T_word}).sym("x").zig(1).path({0});
             return t;
         }()},
        {"a word bound through an integer", [] {
             stream t;
             t.raw({0x81, 0xC1, 0x40 | T_word}).sym("x").zig(0).path({0});
             return t;
         }()},
        {"an inline owner that is no object or function", [] {
             stream t;
             t.raw({0x40 | T_word}).sym("x").zig(0).raw({T_block, 0x00});
             return t;
         }()},
        {"the same word twice in a context", [] {
             stream t;
             t.raw({T_object, 0x00, T_context, 0x12, 0x02}).sym("x").sym("X").raw({0x85, 0x86});
             return t;
         }()},
        {"an object context without storage", [] {
             stream t;
             t.raw({T_object, 0x00, T_context, 0x06, 0x01}).sym("x");
             return t;
         }()},
        {"a context head that is no context", [] {
             stream t;
             t.raw({T_object, 0x00, T_block, 0x12, 0x00});
             return t;
         }()},
        {"on-set indexes naming no hook field", [] {
             stream t;
             t.raw({0x40 | T_object, 0x00, 0x00, 0x01, T_context, 0x12, 0x01}).sym("x").raw({0x85});
             return t;
         }()},
    };
    for (auto& b : bad) EXPECT_NE(decode(b.s).find("!! invalid"), std::string::npos) << b.what;
}

TEST_F(ZylbinTest, FunctionsRunTheirBodyInTheirOwnContext) {
    // f: func [a b] [a - b], the body's words bound to f's context through a path to f.
    stream s;
    s.raw({T_function, 0x02, 0x03, T_context, 0x05, 0x02}).sym("a").sym("b");
    s.raw({T_block, 0x02}).word("a").word("b");
    s.raw({T_block, 0x03, 0xC1, 0x40 | T_word}).sym("a").zig(0).path({0});
    s.word("-");
    s.raw({0xC1, 0x40 | T_word}).sym("b").zig(1).path({0});
    decode_as("f", s);
    EXPECT_EQ(eval("f 10 3"), "7");

    // An op over that function keeps the function's type in bits 16-23.
    stream op;
    op.raw({T_op});
    function_record(op, {"a", "b"}, {0x81}, 1);
    cell v = first_value(op);
    EXPECT_EQ(v.type(), T_op);
    EXPECT_EQ((v.header & OP_SOURCE_MASK) >> OP_SOURCE_SHIFT, uint32_t(T_function));

    // A function reference to an op gives the function.
    stream again;
    again.raw({T_op});
    function_record(again, {"a", "b"}, {0x81}, 1);
    again.raw({0xC1, T_function, 0x01, 0x00});
    cell* target = block::push_new(4);
    bytes data = again.build();
    zylbin::decode(data.data(), data.size(), target->w2, zylbin::MODE_USER);
    EXPECT_EQ(block::cells_of(target->w2)[1].type(), T_function);
    EXPECT_EQ(block::cells_of(target->w2)[1].w3, block::cells_of(target->w2)[0].w3);
    stack::pop(1);

    struct {
        const char* what;
        stream s;
    } bad[] = {
        {"context words that differ from the spec's", [] {
             stream t;
             t.raw({T_function, 0x01, 0x00, T_context, 0x05, 0x01}).sym("z");
             t.raw({T_block, 0x01}).word("a").raw({T_block, 0x00});
             return t;
         }()},
        {"a spec that make function! refuses", [] {
             stream t;
             t.raw({T_function, 0x02, 0x00, T_context, 0x05, 0x01}).sym("a");
             t.raw({T_block, 0x02}).word("a").word("a").raw({T_block, 0x00}); // a word twice
             return t;
         }()},
        {"a function context with storage", [] {
             stream t;
             t.raw({T_function, 0x00, 0x00, T_context, 0x01, 0x00, T_block, 0x00, T_block, 0x00});
             return t;
         }()},
        {"a spec record that is no block", [] {
             stream t;
             t.raw({T_function, 0x00, 0x00, T_context, 0x05, 0x00, T_paren, 0x00, T_block, 0x00});
             return t;
         }()},
        {"an op over an integer", [] {
             stream t;
             t.raw({T_op, 0x81});
             return t;
         }()},
        {"an op over a function of one argument", [] {
             stream t;
             t.raw({T_op});
             function_record(t, {"a"}, {}, 0);
             return t;
         }()},
    };
    for (auto& b : bad) EXPECT_NE(decode(b.s).find("!! invalid"), std::string::npos) << b.what;
}

TEST_F(ZylbinTest, NativesAndActionsByTableIndex) {
    stream make_action;
    make_action.raw({T_action, 0x01, T_block, 0x02}).word("type").word("spec");
    cell v = first_value(make_action);
    EXPECT_EQ(v.type(), T_action);
    EXPECT_EQ(v.w1, 0u) << "slot 1 is table entry 0";

    stream boot = make_action;
    cell* target = block::push_new(4);
    bytes data = boot.build();
    zylbin::decode(data.data(), data.size(), target->w2, zylbin::MODE_BOOT);
    EXPECT_EQ(series::length(target->w2), 2u) << "boot mode keeps the spec after the action";
    EXPECT_EQ(block::cells_of(target->w2)[1].type(), T_block);
    EXPECT_EQ(block::cells_of(target->w2)[0].w2, block::cells_of(target->w2)[1].w2);
    stack::pop(1);

    struct {
        const char* what;
        stream s;
    } bad[] = {
        {"native index 0", [] {
             stream t;
             t.raw({T_native, 0x00, T_block, 0x00});
             return t;
         }()},
        {"action index 63", [] {
             stream t;
             t.raw({T_action, 0x3F, T_block, 0x00});
             return t;
         }()},
        {"a spec that does not fit the entry", [] {
             stream t;
             t.raw({T_action, 0x01, T_block, 0x01}).word("type");
             return t;
         }()},
        {"a spec that is no block", [] {
             stream t;
             t.raw({T_action, 0x01, 0x81});
             return t;
         }()},
    };
    for (auto& b : bad) EXPECT_NE(decode(b.s).find("!! invalid"), std::string::npos) << b.what;
}

TEST_F(ZylbinTest, ErrorsAreMadeFromTheirCode) {
    uint32_t code = error::cat_script * 100 + error::script_no_value - error::ids::first_message;
    stream s;
    s.raw({T_error}).var(code).raw({0x85, 0x03, 0x03, 0x03, 0x03, 0x03});
    decode_as("e", s);
    EXPECT_EQ(eval("e/code"), std::to_string(code));
    EXPECT_EQ(eval("e/arg1"), "5");
    EXPECT_EQ(eval("e/id"), "no-value");
    stream bad;
    bad.raw({T_error}).var(99999).raw({0x03, 0x03, 0x03, 0x03, 0x03, 0x03});
    EXPECT_EQ(decode(bad), " !! invalid 12") << "a code outside the catalogue";
}

TEST_F(ZylbinTest, DatatypesWithMakersOfTheirOwnAreBuiltByThemOrRefused) {
    struct {
        const char* what;
        std::initializer_list<uint8_t> payload;
        std::string expect;
    } cases[] = {
        {"hash!", {0x24, 0x02, 0x81, 0x82}, "make hash! [1 2]"},
        {"map!", {0x28, 0x02, 0x81, 0x82}, "#[\n    1 2\n]"},
        {"map! of an odd count", {0x28, 0x01, 0x81}, " !! invalid 12"},
        {"hash! with a bad record inside", {0x24, 0x01, 0xC5}, " !! invalid 13"},
        {"vector! of 8-bit integers", {0x23, 0x2C, 0x02, 0x01, 0xFF}, "make vector! [integer! 8 [1 -1]]"},
        {"vector! of no element type", {0x23, 0x00, 0x02, 0x01, 0x02}, " !! invalid 12"},
        {"vector! longer than the data", {0x23, 0x02, 0x04, 0x01, 0x02}, " !! invalid 13"},
        {"image!", {0x35, 0x01, 0x01, 1, 2, 3, 4}, "make image! [1x1 #{030201} #{\n    FB}]"},
        {"image! larger than the data", {0x35, 0xFF, 0xFF, 0x03, 0xFF, 0xFF, 0x03, 0}, " !! invalid 19"},
        {"image! wider than 65535", {0x35, 0x80, 0x80, 0x04, 0x01}, " !! invalid 12"},
        {"money!", {0x31, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "$0.00"},
        {"date!", {0x2F, 0x80, 0x10, 0xA0, 0x0F}, "1-Jan-2000"},
        {"date! of month 0", {0x2F, 1, 2, 0, 0}, " !! invalid 12"},
        {"ref!", {0x32, 0x04, 'r'}, "@r"},
    };
    for (const auto& c : cases) EXPECT_EQ(decode(records(c.payload)), c.expect) << c.what;
}

TEST_F(ZylbinTest, CountsAreCheckedAgainstTheBytesLeft) {
    struct {
        const char* what;
        std::initializer_list<uint8_t> payload;
        std::string expect;
    } cases[] = {
        {"a block promising more records than bytes", {0x05, 0x7F, 0x81}, " !! invalid 12"},
        {"nested blocks promising together more than the bytes",
         {0x05, 0x03, 0x05, 0x03, 0x81, 0x81, 0x81}, " !! invalid 14"},
        {"a string longer than the data", {0x07, 0xFC, 0xFF, 0xFF, 0xFF, 0x0F}, " !! invalid 12"},
        {"a context of more words than bytes", {0x0E, 0x10, 0x7F}, " !! invalid 13"},
        {"a path longer than the data", {0x81, 0xFF, 0x7F}, "1 !! invalid 13"},
        {"a function with a spec length past the data", {0x18, 0x7F, 0x00}, " !! invalid 12"},
    };
    for (const auto& c : cases) EXPECT_EQ(decode(records(c.payload)), c.expect) << c.what;
}

TEST_F(ZylbinTest, BootModeDefinitionsAndOwnersByRootPosition) {
    stream def;
    def.raw({0xC4}).word("answer").raw({0x80 + 42});
    EXPECT_EQ(decode(def, zylbin::MODE_BOOT), "") << "a definition leaves nothing in the target";
    EXPECT_EQ(eval("answer"), "42");

    // An object, then a word bound to it by its root position, with its index looked up.
    stream owned;
    owned.raw({T_object, 0x0A, T_context, 0x12, 0x02}).sym("x").sym("y").raw({0x81, 0x82});
    owned.raw({0x40 | T_word}).sym("y").var(0).zig(-1);
    cell* target = block::push_new(4);
    series::append_value(target->w2, integer::make_value(99)); // held before: not this load's
    bytes data = owned.build();
    EXPECT_EQ(zylbin::decode(data.data(), data.size(), target->w2, zylbin::MODE_BOOT), 1u);
    const cell* c = block::cells_of(target->w2);
    EXPECT_EQ(c[1].w2, 5u) << "boot mode keeps the class id";
    EXPECT_EQ(c[2].w1, c[1].w1);
    EXPECT_EQ(c[2].w3, 1u);
    stack::pop(1);

    stream outside;
    outside.raw({0x40 | T_word}).sym("y").var(0).zig(-1);
    EXPECT_EQ(decode(outside, zylbin::MODE_BOOT), " !! " + at(outside, 1)) << "no owner in this load";
    stream nested;
    nested.raw({T_block, 0x01, 0xC4}).word("x").raw({0x81});
    EXPECT_NE(decode(nested, zylbin::MODE_BOOT).find("!! invalid"), std::string::npos) << "a nested definition";
}

TEST_F(ZylbinTest, CompressedBodiesDecodeAndReportOffsetsInTheBody) {
    stream s;
    s.raw({0x05}).var(300);
    for (int i = 0; i < 300; i++) s.raw({0x81});
    bytes plain = s.build();
    bytes body(plain.begin() + 8, plain.end());
    bytes packed(body.size());
    int64_t n = boot_compress::compress(body.data(), body.size(), packed.data());
    ASSERT_GT(n, 0);
    bytes data(plain.begin(), plain.begin() + 8);
    data[7] |= zylbin::FLAG_COMPRESSED;
    data.insert(data.end(), packed.begin(), packed.begin() + n);
    std::string text = decode(data);
    EXPECT_EQ(text.size(), 2 + 300 * 2 - 1u);

    bytes corrupt = data;
    corrupt[8 + 4]++; // the declared size no longer matches what the chunks produce
    corrupt.resize(corrupt.size() - 3);
    EXPECT_EQ(decode(corrupt), " !! invalid-data");

    // A bad record at body byte 150 is reported at 150 + 9.
    body[150] = 0xC5;
    n = boot_compress::compress(body.data(), body.size(), packed.data());
    ASSERT_GT(n, 0);
    data.resize(8);
    data.insert(data.end(), packed.begin(), packed.begin() + n);
    EXPECT_EQ(decode(data), " !! invalid 159");
}

TEST_F(ZylbinTest, BootImageLoadSetsTheBase) {
    collector::gc.root_block = series::alloc_unmanaged(16, sizeof(cell), 0);
    series::append_value(collector::gc.root_block, integer::make_value(1000));
    bytes image = records({0x81, 0x82}).build();
    zylbin::load_boot_image(image, false);
    ASSERT_NE(zylbin::boot_base(), nullptr);
    EXPECT_EQ(integer::get(zylbin::boot_base()), 1);
    cell* base = zylbin::boot_base();
    zylbin::load_boot_image(image, true);
    EXPECT_EQ(zylbin::boot_base(), base) << "keep-base keeps the first load's base";
    EXPECT_EQ(series::length(collector::gc.root_block), 5u);
    EXPECT_TRUE(collector::gc.active) << "collection is back on";
    collector::gc.root_block = 0;
}

TEST_F(ZylbinTest, CorruptBootImageEndsTheProcessWithStatusOne) {
    collector::gc.root_block = series::alloc_unmanaged(16, sizeof(cell), 0);
    bytes bad_magic = {'N', 'O', 'P', 'E', '!', '!', 1, 5, 1, 1, 0x85};
    EXPECT_EXIT((dup2(2, 1), zylbin::load_boot_image(bad_magic, false)), ::testing::ExitedWithCode(1),
                "Error: Not a Zylbin file!");
    bytes corrupt = records({0x81}).build();
    corrupt[7] |= zylbin::FLAG_COMPRESSED;
    EXPECT_EXIT((dup2(2, 1), zylbin::load_boot_image(corrupt, false)), ::testing::ExitedWithCode(1),
                "Error: Zylbin compressed data corrupted!");
    bytes bad_record = records({0x81, 0xC5}).build();
    EXPECT_EXIT((dup2(2, 1), zylbin::load_boot_image(bad_record, false)), ::testing::ExitedWithCode(1),
                "ZYLBIN - invalid record at index 12");
    collector::gc.root_block = 0;
}
