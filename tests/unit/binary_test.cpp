// tests/unit/binary_test.cpp: binary!: conversions, append/insert/change with their errors,
// mold over several lines, comparison and matching, the bitwise actions, trim, the byte
// helpers, the string! entries it inherits, and a run under a collection at every allocation.
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/float.h"
#include "datatypes/header_flags.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/extres.h"
#include "runtime/values.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using zyl::testing::raises;
namespace ids = zyl::error::ids;

namespace {

using bytes = std::vector<uint8_t>;

struct BinaryTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        actions::init();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
    }
    void TearDown() override {
        symbol::table = {};
        RuntimeTest::TearDown();
    }
};

// Values, kept on the evaluation stack so that they outlive collections.
cell Bin(const bytes& b) { return *binary::push_from_buffer(b.data(), uint32_t(b.size())); }
cell Bin(const bytes& b, uint32_t index) {
    cell v = Bin(b);
    v.w1 = index;
    return v;
}
cell S(std::string_view text) { return *string::from_utf8(stack::push_slot(), text); }
cell I(int32_t n) { return integer::make_value(n); }
cell C(uint32_t cp) { return cell{T_char_, 0, cp, 0}; }
cell F(double d, uint8_t type = T_float_) { return float_::make_value(d, type); }
cell T(std::initializer_list<uint8_t> elems) {
    cell t{T_tuple | uint32_t(elems.size()) << TUPLE_COUNT_SHIFT, 0, 0, 0};
    std::memcpy(reinterpret_cast<uint8_t*>(&t) + 4, elems.begin(), elems.size());
    return t;
}
cell W(const char* name) { return cell{T_word, 0, symbol::make(name), 0}; }
cell Blk(std::initializer_list<cell> values) {
    node_id n = series::alloc_cells(values.size());
    for (const cell& v : values) series::append_value(n, v);
    cell b{T_block, 0, n, 0};
    return *stack::push(&b);
}
const cell DT = datatype::make_value(T_binary);

// The bytes of binary [v] from its index, as upper-case hexadecimal digits.
std::string hex(const cell& v) {
    EXPECT_EQ(v.type(), T_binary);
    series_buffer* b = memory::buffer_of(v.w2);
    std::string out;
    for (const uint8_t* p = b->head + v.w1; p < b->tail; p++) out += string::byte_to_hex(*p);
    return out;
}

// Runs [entry] on a new frame holding [args]; the result stays on the stack as its top cell.
template <typename F> cell call(std::initializer_list<cell> args, F entry) {
    cell w{T_word, 0, 1, 0};
    stack::mark_native(&w);
    for (const cell& a : args) stack::push(&a);
    entry();
    stack::unwind();
    return *stack::top();
}

cell to_bin(cell spec) { return call({DT, spec}, [] { actions::to(); }); }
cell append(cell s, cell v) { return call({s, v}, [] { actions::append(-1, -1, -1); }); }
cell insert(cell s, cell v) { return call({s, v}, [] { actions::insert(-1, -1, -1); }); }
cell change(cell s, cell v) { return call({s, v}, [] { actions::change(-1, -1, -1); }); }
std::string mold(cell v) {
    cell m = call({v}, [] { actions::mold(-1, -1, -1, -1); });
    return string::to_std(&m);
}

// The first argument of the error that [body] raises, with its category and id.
struct caught {
    int32_t cat = -1, id = -1;
    cell arg1{};
};
template <typename F> caught catch_error(F body) {
    cell w{T_word, 0, 1, 0};
    stack::mark_try(&w);
    try {
        body();
    } catch (const error::raised& e) {
        es.throw_code = THROW_NONE;
        cell err = *stack::top();
        return {e.category, e.id, reinterpret_cast<const cell*>(memory::buffer_of(err.w1)->head)[0]};
    }
    stack::pop_frame();
    return {};
}

// {== Conversion

TEST_F(BinaryTest, ToBinaryOfEachKind) {
    struct { cell spec; const char* want; } cases[] = {
        {I(1), "00000001"},
        {I(-1), "FFFFFFFF"},
        {F(1.0), "3FF0000000000000"},
        {F(0.5, T_percent), "3FE0000000000000"},
        {S("h\xC3\xA9llo"), "68C3A96C6C6F"},
        {C(0xE9), "C3A9"},
        {C(0x1F600), "F09F9880"},
        {T({1, 2, 3}), "010203"},
        {Blk({I(1), C('a'), S("bc"), Bin({0xFF})}), "01616263FF"},
        {Bin({1, 2, 3}, 1), "0203"},
        {cell{T_issue, 0, symbol::make("DEad"), 0}, "DEAD"},
        {cell{T_issue, 0, symbol::make("ABC"), 0}, "AB"},
        {Blk({}), ""},
    };
    for (auto& c : cases) EXPECT_EQ(hex(to_bin(c.spec)), c.want) << c.want;
    cell bs = *bitset::make_at(stack::push_slot(), 2, true);
    bitset::bits_head(&bs)[1] = 0x0F;
    EXPECT_EQ(hex(to_bin(bs)), "FF0F"); // the stored bytes; the negation stays behind
    cell src = Bin({7, 8});
    cell copy = to_bin(src);
    EXPECT_NE(copy.w2, src.w2);
}

TEST_F(BinaryTest, ToBinaryRefusals) {
    cell issue{T_issue, 0, symbol::make("XYZ"), 0};
    caught e = catch_error([&] { to_bin(issue); });
    EXPECT_EQ(e.id, ids::script_invalid_data);
    EXPECT_EQ(e.arg1.w2, issue.w2);
    for (cell bad : {none_value, W("word"), Blk({I(1), W("word")})})
        EXPECT_TRUE(raises(error::cat_script, ids::script_bad_to_arg, [&] { to_bin(bad); }));
    cell made = call({DT, I(10)}, [] { actions::make(); }); // make takes a capacity
    EXPECT_EQ(hex(made), "");
    EXPECT_GE(memory::buffer_of(made.w2)->size, 10u);
}

// }==
// {== Append, insert, change

TEST_F(BinaryTest, AppendChecksItsBytesBeforeWriting) {
    caught e = catch_error([] { append(Bin({}), I(256)); });
    EXPECT_EQ(e.id, ids::script_invalid_arg);
    EXPECT_EQ(e.arg1.type(), T_integer);
    EXPECT_EQ(e.arg1.w2, 256u);
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [] { append(Bin({}), I(-129)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_to_arg, [] { append(Bin({}), none_value); }));
    cell b = Bin({1});
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { insert(b, Blk({I(1), I(2), I(300)})); }));
    EXPECT_EQ(hex(b), "01"); // nothing written
    EXPECT_EQ(hex(append(Bin({}), I(-1))), "FF");
}

TEST_F(BinaryTest, AppendReturnsTheHeadAndInsertThePositionAfter) {
    cell a = append(Bin({1, 2}, 1), I(3));
    EXPECT_EQ(a.w1, 0u);
    EXPECT_EQ(hex(a), "010203");
    cell i = insert(Bin({1, 2}, 1), Bin({0xAB, 0xCD}));
    EXPECT_EQ(i.w1, 3u);
    i.w1 = 0;
    EXPECT_EQ(hex(i), "01ABCD02");
    cell d = call({Bin({}), Bin({0xAB}), I(3)}, [] { actions::append(-1, -1, 2); });
    EXPECT_EQ(hex(d), "ABABAB");
    cell t = insert(Bin({9}), T({1, 2, 3}));
    t.w1 = 0;
    EXPECT_EQ(hex(t), "01020309");
    EXPECT_EQ(hex(append(Bin({}), C(0xE9))), "C3A9");
}

TEST_F(BinaryTest, AppendPartCountsBytesOrElements) {
    auto part = [](cell s, cell v, int32_t n, bool only) {
        return only ? call({s, v, I(n)}, [] { actions::append(2, 0, -1); })
                    : call({s, v, I(n)}, [] { actions::append(2, -1, -1); });
    };
    EXPECT_EQ(hex(part(Bin({}), S("h\xC3\xA9llo"), 2, false)), "68C3"); // bytes of the UTF-8
    cell blk = Blk({S("abc"), Bin({1, 2}), I(3)});
    EXPECT_EQ(hex(part(Bin({}), blk, 2, false)), "6162630102");   // two whole elements
    EXPECT_EQ(hex(part(Bin({}), blk, 4, true)), "61626301");       // four bytes across them
    cell nested = Blk({I(1), Blk({I(2), Blk({I(3)})}), I(4)});
    EXPECT_EQ(hex(append(Bin({}), nested)), "01020304");
}

TEST_F(BinaryTest, InsertingABinaryIntoItself) {
    cell b = Bin({1, 2, 3});
    cell at1 = b;
    at1.w1 = 1;
    cell r = insert(at1, b);
    r.w1 = 0;
    EXPECT_EQ(hex(r), "010102030203");
    cell c = Bin({1, 2, 3});
    cell tail_part = c;
    tail_part.w1 = 2;
    r = insert(c, Blk({tail_part, tail_part}));
    r.w1 = 0;
    EXPECT_EQ(hex(r), "0303010203");
}

TEST_F(BinaryTest, ABlockHoldingItselfRaisesTooDeep) {
    cell blk = Blk({I(1)});
    series::append_value(blk.w2, blk);
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_too_deep, [&] { append(Bin({}), blk); }));
}

TEST_F(BinaryTest, ChangeReplacesAsManyBytesAsItWrites) {
    cell r = change(Bin({1, 2, 3}), Bin({0xAA, 0xAA}));
    EXPECT_EQ(r.w1, 2u);
    r.w1 = 0;
    EXPECT_EQ(hex(r), "AAAA03");
    auto part = [](cell s, cell v, int32_t n) { return call({s, v, I(n)}, [] { actions::change(2, -1, -1); }); };
    r = part(Bin({1, 2, 3}), Bin({0xAA}), 2);
    r.w1 = 0;
    EXPECT_EQ(hex(r), "AA03");
    r = part(Bin({1, 2, 3}), Bin({0xAA, 0xBB, 0xCC}), 1);
    r.w1 = 0;
    EXPECT_EQ(hex(r), "AABBCC0203");
    r = call({Bin({1, 2, 3, 4, 5}), Bin({0xAB}), I(3)}, [] { actions::change(-1, -1, 2); });
    r.w1 = 0;
    EXPECT_EQ(hex(r), "ABABAB0405");
    r = change(Bin({1, 2}, 2), I(7)); // at the tail it appends
    r.w1 = 0;
    EXPECT_EQ(hex(r), "010207");
    cell b = Bin({1, 2});
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { change(b, I(256)); }));
    EXPECT_EQ(hex(b), "0102");
}

TEST_F(BinaryTest, ChangeFormsValuesWithoutBytes) {
    cell r = change(Bin({1, 2}), F(1.5));
    r.w1 = 0;
    EXPECT_EQ(hex(r), "312E35"); // "1.5"
    r = change(Bin({}), Blk({I(1), F(2.5), none_value}));
    r.w1 = 0;
    EXPECT_EQ(hex(r), "01322E356E6F6E65");
    cell self = Bin({1, 2, 3, 4});
    cell from = self;
    from.w1 = 2;
    r = change(self, from);
    r.w1 = 0;
    EXPECT_EQ(hex(r), "03040304");
}

// }==
// {== Mold and form

// A binary of [n] bytes 0, 1, 2 ...
cell counting(uint32_t n) {
    bytes b(n);
    for (uint32_t i = 0; i < n; i++) b[i] = uint8_t(i);
    return Bin(b);
}

std::string digits(uint32_t from, uint32_t to) {
    std::string s;
    for (uint32_t i = from; i < to; i++) s += string::byte_to_hex(i);
    return s;
}

TEST_F(BinaryTest, LongBinariesMoldOverSeveralLines) {
    EXPECT_EQ(mold(Bin({0xDE, 0xAD, 0xBE, 0xEF})), "#{DEADBEEF}");
    EXPECT_EQ(mold(Bin({})), "#{}");
    EXPECT_EQ(mold(counting(30)), "#{" + digits(0, 30) + "}");
    EXPECT_EQ(mold(counting(31)), "#{\n    " + digits(0, 31) + "\n}");
    EXPECT_EQ(mold(counting(32)), "#{\n    " + digits(0, 32) + "\n    }");
    EXPECT_EQ(mold(counting(33)), "#{\n    " + digits(0, 32) + "\n    " + digits(32, 33) + "\n}");
    cell from = counting(40);
    from.w1 = 10; // 30 bytes from the index: one line
    EXPECT_EQ(mold(from), "#{" + digits(10, 40) + "}");
    cell f = call({counting(31)}, [] { actions::form(-1); });
    EXPECT_EQ(string::to_std(&f), "#{\n    " + digits(0, 31) + "\n}");
}

TEST_F(BinaryTest, MoldRefinementsAndIndentation) {
    cell out = S("");
    cell v = counting(31);
    binary::mold(&v, &out, false, false, true, nullptr, INT32_MAX, 0);
    EXPECT_EQ(string::to_std(&out), "#{" + digits(0, 31) + "}");
    cell only = S("");
    cell small = Bin({1, 2});
    binary::mold(&small, &only, true, false, false, nullptr, INT32_MAX, 0);
    EXPECT_EQ(string::to_std(&only), "0102");
    cell nested = S("");
    binary::mold(&v, &nested, false, false, false, nullptr, INT32_MAX, 1);
    EXPECT_EQ(string::to_std(&nested), "#{\n        " + digits(0, 31) + "\n    }");
    cell limited = S("");
    cell five = I(5);
    int32_t left = binary::mold(&v, &limited, false, false, false, &five, 5, 0);
    EXPECT_LE(left, 0);
    EXPECT_LT(string::length_of(&limited), 12u); // stopped early
    cell m = call({Bin({0xDE, 0xAD, 0xBE}), I(5)}, [] { actions::mold(-1, -1, -1, 1); });
    EXPECT_EQ(string::to_std(&m), "#{DEA");
}

// }==
// {== Comparison and matching

TEST_F(BinaryTest, CompareBytesAndLengths) {
    cell a = Bin({1, 2}), b = Bin({1, 2}), longer = Bin({1, 2, 0}), high = Bin({2});
    EXPECT_EQ(actions::compare_typed(&a, &b, 0), 0);
    EXPECT_EQ(actions::compare_typed(&a, &b, 2), 0);
    EXPECT_NE(actions::compare_typed(&a, &longer, 0), 0);
    EXPECT_LT(actions::compare_typed(&a, &longer, 3), 0);
    EXPECT_GT(actions::compare_typed(&high, &longer, 3), 0);
    EXPECT_EQ(actions::compare_typed(&a, &b, 9), -1); // same? needs the same series
    EXPECT_EQ(actions::compare_typed(&a, &a, 9), 0);
    cell e1 = Bin({}), e2 = Bin({});
    EXPECT_EQ(actions::compare_typed(&e1, &e2, 3), 0);
    cell s = S("ab");
    EXPECT_EQ(actions::compare_typed(&a, &s, 0), -2);
    cell lo = Bin({0x7F}), hi = Bin({0x80});
    EXPECT_LT(actions::compare_typed(&lo, &hi, 3), 0); // unsigned
}

TEST_F(BinaryTest, MatchingReadsTheOtherAsBytes) {
    cell in = Bin({'a', 'b', 'c'});
    cell ab_text = S("ab");
    EXPECT_EQ(binary::compare_bytes(&in, &ab_text, 0, true), 0);
    cell abd = S("abd"), abcd = S("abcd"), empty = S(""), ab = Bin({'a', 'b'});
    EXPECT_NE(binary::compare_bytes(&in, &abd, 0, true), 0);
    EXPECT_EQ(binary::compare_bytes(&in, &abcd, 0, true), 1); // longer than the input: no match
    EXPECT_EQ(binary::compare_bytes(&in, &empty, 0, true), 0);
    EXPECT_EQ(binary::compare_bytes(&in, &empty, 1, true), 1);
    EXPECT_EQ(binary::compare_bytes(&in, &ab, 0, true), 0);
    cell e_acute = Bin({0xC3, 0xA9}), text = S("\xC3\xA9");
    EXPECT_EQ(binary::compare_bytes(&e_acute, &text, 0, false), 0); // the text's UTF-8
    cell c = C('a'), z = C('z'), i = I(97);
    EXPECT_TRUE(binary::match_value_q(&in, &c, 0));
    EXPECT_FALSE(binary::match_value_q(&in, &z, 0));
    EXPECT_FALSE(binary::match_value_q(&in, &i, 0));
    cell at_tail = Bin({'a'}, 1);
    EXPECT_FALSE(binary::match_value_q(&at_tail, &c, 0));
}

// }==
// {== Bitwise, complement, trim

TEST_F(BinaryTest, BitwiseActions) {
    EXPECT_EQ(hex(call({Bin({0xFF, 0x00}), Bin({0x0F})}, [] { actions::and_t(); })), "0F00");
    EXPECT_EQ(hex(call({Bin({0xFF, 0x00}), Bin({0x0F})}, [] { actions::or_t(); })), "FF00");
    EXPECT_EQ(hex(call({Bin({0x0F}), Bin({0xFF, 0x0A})}, [] { actions::xor_t(); })), "F00A");
    EXPECT_EQ(hex(call({Bin({0xFF, 0x00}, 1), Bin({0x0F})}, [] { actions::or_t(); })), "0F");
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg,
                       [] { call({Bin({1}), I(1)}, [] { actions::and_t(); }); }));
    cell b = Bin({0x00, 0xF0, 0x0F}, 1);
    cell r = call({b}, [] { actions::complement(); });
    EXPECT_EQ(r.w2, b.w2); // in place, from the index
    b.w1 = 0;
    EXPECT_EQ(hex(b), "000FF0");
}

TEST_F(BinaryTest, TrimZerosAndSets) {
    auto trim = [](cell s, int which, cell with = none_value) {
        switch (which) {
        case 0: return call({s}, [] { actions::trim(-1, -1, -1, -1, -1, -1); });
        case 1: return call({s}, [] { actions::trim(0, -1, -1, -1, -1, -1); });
        case 2: return call({s}, [] { actions::trim(-1, 0, -1, -1, -1, -1); });
        case 3: return call({s}, [] { actions::trim(-1, -1, -1, -1, 0, -1); });
        case 4: return call({s, with}, [] { actions::trim(-1, -1, -1, -1, -1, 1); });
        case 5: return call({s}, [] { actions::trim(-1, -1, 0, -1, -1, -1); });
        default: return call({s}, [] { actions::trim(-1, -1, -1, 0, -1, -1); });
        }
    };
    EXPECT_EQ(hex(trim(Bin({0, 0, 0xAB, 0}), 0)), "AB");
    EXPECT_EQ(hex(trim(Bin({0, 0, 0xAB, 0}), 1)), "AB00");
    EXPECT_EQ(hex(trim(Bin({0, 0, 0xAB, 0}), 2)), "0000AB");
    EXPECT_EQ(hex(trim(Bin({0, 0xAB, 0, 0xCD, 0}), 3)), "ABCD");
    EXPECT_EQ(hex(trim(Bin({0xAB, 1, 0xAB, 2}), 4, Bin({0xAB}))), "0102");
    EXPECT_EQ(hex(trim(Bin({0xAB, 1, 2}), 4, I(2))), "AB01");
    cell kept = Bin({0xEE, 0, 0xAB, 0}, 1);
    trim(kept, 0);
    kept.w1 = 0;
    EXPECT_EQ(hex(kept), "EEAB");
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_not_done, [&] { trim(Bin({0}), 5); }));
    EXPECT_TRUE(raises(error::cat_internal, ids::internal_not_done, [&] { trim(Bin({0}), 6); }));
}

// }==
// {== Byte helpers

TEST_F(BinaryTest, ByteHelpers) {
    const uint8_t raw[] = {1, 2, 3, 4};
    cell b = *binary::push_from_buffer(raw, 4);
    EXPECT_EQ(hex(b), "01020304");
    binary::insert_bytes(&b, 1, raw, 2); // at index + 1
    EXPECT_EQ(hex(b), "010102020304");
    binary::overwrite_bytes(&b, 10, raw, 1); // past the tail: the gap is zeros
    EXPECT_EQ(hex(b), "0101020203040000000001");
    memory::buffer_of(b.w2)->tail = memory::buffer_of(b.w2)->head; // empty it
    EXPECT_TRUE(binary::rs_tail_q(&b));
    series::alloc_tail_bytes(b.w2, 4);
    memory::buffer_of(b.w2)->tail -= 4; // room for four
    binary::append_int32_be(0x01020304, &b);
    EXPECT_EQ(hex(b), "01020304");
    uint8_t* at = binary::append_bytes(&b, memory::buffer_of(b.w2)->head, 4); // its own bytes
    EXPECT_EQ(at[0], 1);
    EXPECT_EQ(hex(b), "0102030401020304");
    cell big = I(256), text = S("x");
    binary::poke_value(memory::buffer_of(b.w2)->head, &big);
    EXPECT_EQ(binary::byte_at(&b, 0), 0); // the low 8 bits
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg,
                       [&] { binary::poke_value(memory::buffer_of(b.w2)->head, &text); }));
    EXPECT_TRUE(binary::rs_skip(&b, 8));
    EXPECT_TRUE(binary::rs_skip(&b, 1)); // past the tail: not moved
    EXPECT_EQ(b.w1, 8u);
    node_id blk = series::alloc_cells(2);
    cell holder{T_block, 0, blk, 0};
    stack::push(&holder);
    cell* in_block = binary::load(raw, 3, blk);
    EXPECT_EQ(hex(*in_block), "010203");
    EXPECT_EQ(series::length(blk), 1u);
    binary::make_in(blk, 8);
    EXPECT_EQ(series::length(blk), 2u);
}

// }==
// {== Entries inherited from string!

TEST_F(BinaryTest, FindAndTakeWorkOnBytes) {
    auto find = [](cell s, cell v) {
        return call({s, v}, [] { actions::find(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1); });
    };
    cell r = find(Bin({'a', 'b', 'c'}), I('b'));
    EXPECT_EQ(r.type(), T_binary);
    EXPECT_EQ(r.w1, 1u);
    EXPECT_EQ(find(Bin({'a'}), I('A')).type(), T_none);     // bytes are matched exactly
    EXPECT_EQ(find(Bin({'a'}), Bin({'A'})).type(), T_none);
    EXPECT_EQ(find(Bin({0}), I(256)).type(), T_none);       // no byte is 256
    cell taken = call({Bin({7, 8})}, [] { actions::take(-1, -1, -1); });
    EXPECT_EQ(taken.type(), T_integer);
    EXPECT_EQ(taken.w2, 7u);
}

// }==
// {== Collections

struct StressGuard {
    StressGuard() {
        extres::init();
        collector::gc.root_block = series::alloc_unmanaged(16, sizeof(cell), 0);
        collector::gc.active = true;
        mm.stress_every = 1;
    }
    ~StressGuard() {
        mm.stress_every = 0;
        collector::gc = {};
        extres::shutdown();
    }
};

TEST_F(BinaryTest, ActionsSurviveACollectionAtEveryAllocation) {
    StressGuard guard;
    cell b = Bin({});
    for (int i = 0; i < 100; i++) b = append(b, i % 2 ? S("ab") : Blk({I(i), Bin({0xFF})}));
    EXPECT_EQ(binary::rs_length_q(&b), 200u);
    cell self = b;
    self.w1 = 190;
    b = insert(b, self);
    EXPECT_EQ(b.w1, 10u);
    b.w1 = 0;
    EXPECT_EQ(hex(b).substr(0, 4), "6162");
    b.w1 = 0;
    b = change(b, Blk({F(1.5), I(1)}));
    b.w1 = 0;
    EXPECT_EQ(hex(b).substr(0, 8), "312E3501");
    EXPECT_EQ(mold(counting(70)).size(), 2u + 5 + 64 + 5 + 64 + 5 + 12 + 1 + 1);
    EXPECT_EQ(hex(to_bin(S("h\xC3\xA9"))), "68C3A9");
    EXPECT_EQ(hex(to_bin(cell{T_issue, 0, symbol::make("CAFE"), 0})), "CAFE");
    cell out;
    cell text = S("YWJj");
    binary::debase(stack::push_slot(), &text, 64, nullptr);
    binary::enbase(&out, stack::top(), 58, nullptr);
    EXPECT_EQ(string::to_std(&out), "ZiCa");
}

// }==

} // namespace
