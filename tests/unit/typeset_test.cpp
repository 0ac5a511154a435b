// tests/unit/typeset_test.cpp: typeset!: the bit order shared with the argument checks, make
// from type blocks, the set operations, find, comparison, the text form and the standard
// typesets.
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/action_types.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

struct TypesetTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
    }
    void TearDown() override {
        symbol::table = {};
        RuntimeTest::TearDown();
    }
};

cell dt(uint8_t t) { return datatype::make_value(t); }
cell word(const char* name) { return cell{T_word, 0, symbol::make(name), 0xFFFFFFFF}; }

// A block! holding [values].
cell block(std::initializer_list<cell> values) {
    node_id n = series::alloc_cells(values.size() + 1);
    for (const cell& v : values) series::append_value(n, v);
    return cell{T_block, 0, n, 0};
}

// make typeset! [spec], through the dispatcher.
cell make(cell spec) {
    cell proto = dt(T_typeset);
    return *actions::make_typed(&proto, &spec);
}

std::string mold(const cell& v, bool only = false) {
    cell out;
    string::make_at(&out, 16);
    actions::mold_typed(&v, &out, only, false, false, nullptr, INT32_MAX, 0);
    return string::to_std(&out);
}

std::string form(const cell& v) {
    cell out;
    string::make_at(&out, 16);
    actions::form_typed(&v, &out, nullptr, INT32_MAX);
    return string::to_std(&out);
}

// Runs [entry] on a frame holding [a] and [b]; returns cell 0.
template <typename F> cell on_frame(cell a, cell b, F entry) {
    cell w{T_word, 0, 99, 0};
    stack::mark_native(&w);
    stack::push(&a);
    stack::push(&b);
    entry();
    cell r = *stack::arg(0);
    stack::unwind_drop();
    return r;
}

cell set_op(int32_t op, cell a, cell b) {
    return on_frame(a, b, [op] { typeset::do_bitwise(op); });
}

// The report of the error that [body] raises.
template <typename F> std::string report_of(F body) {
    cell w{T_word, 0, 99, 0};
    stack::mark_try(&w);
    try {
        body();
    } catch (const error::raised&) {
        es.throw_code = THROW_NONE;
        cell err = *stack::top();
        ::testing::internal::CaptureStdout();
        error::print_report(&err);
        return ::testing::internal::GetCapturedStdout();
    }
    stack::pop_frame();
    return "no error";
}

// {== Bit order

TEST_F(TypesetTest, BitOfIdTIsHighBitFirstInByteTDiv8AndAgreesWithTheArgumentCheck) {
    for (uint32_t t = 0; t < typeset::BITS; t++) {
        cell ts = typeset::make_value();
        typeset::set(ts, t);
        uint8_t bytes[12];
        std::memcpy(bytes, &ts.w1, 12);
        for (uint32_t i = 0; i < 12; i++)
            EXPECT_EQ(bytes[i], i == t / 8 ? 0x80 >> (t % 8) : 0) << t;
        for (uint32_t u = 0; u < typeset::BITS; u++) {
            EXPECT_EQ(typeset::has(ts, u), u == t);
            EXPECT_EQ(error::typeset_has(&ts, static_cast<uint8_t>(u)), u == t) << t << " " << u;
        }
    }
    EXPECT_EQ(typeset::of({T_integer}).w1, 0x1000u);       // byte 1, mask 0x10
    EXPECT_FALSE(typeset::has(typeset::all_types(), 200)); // past the bits: never a member
}

TEST_F(TypesetTest, AllTypesLacksOnlyUnset) {
    cell target = block({});
    cell all = *typeset::append_all_types(target.w2);
    uint8_t bytes[12];
    std::memcpy(bytes, &all.w1, 12);
    EXPECT_EQ(bytes[0], 0xDF);
    for (int i = 1; i < 12; i++) EXPECT_EQ(bytes[i], 0xFF);
    EXPECT_EQ(typeset::count(&all), datatype::reg.highest - 1);
    cell words = *typeset::append_to_block(target.w2, 0x1000, 0, 0);
    EXPECT_EQ(mold(words), "make typeset! [integer!]");
    EXPECT_EQ(series::length(target.w2), 2u);
}

// }==
// {== make and the text form

TEST_F(TypesetTest, MakeFromABlockMoldsInIdOrder) {
    cell ts = make(block({dt(T_float_), dt(T_integer)}));
    EXPECT_EQ(ts.type(), T_typeset);
    EXPECT_EQ(mold(ts), "make typeset! [integer! float!]");
    EXPECT_EQ(form(ts), "make typeset! [integer! float!]");
    EXPECT_EQ(mold(ts, true), "integer! float!");
    EXPECT_EQ(mold(make(block({}))), "make typeset! []");
    // A typeset element adds its members; duplicates are one bit.
    cell mixed = make(block({typeset::standard::number, dt(T_char_), dt(T_integer)}));
    EXPECT_EQ(mold(mixed), "make typeset! [char! integer! float! percent!]");
}

TEST_F(TypesetTest, MakeTakesATypesetAsItIsAndRefusesOtherSpecs) {
    cell arg = typeset::standard::number;
    arg.header |= 1u << 20; // an argument's kind stays with it
    cell same = make(arg);
    EXPECT_EQ(0, std::memcmp(&same, &arg, sizeof(cell)));
    cell to_proto = dt(T_typeset);
    EXPECT_EQ(actions::to_typed(&to_proto, &arg)->w1, arg.w1);

    EXPECT_TRUE(
        raises(error::cat_script, error::script_bad_to_arg, [] { make(integer::make_value(1)); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg,
                       [] { make(block({integer::make_value(1)})); }));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [] { make(block({dt(0)})); }));
    EXPECT_TRUE(
        raises(error::cat_script, error::script_invalid_arg, [] { make(block({block({})})); }));
}

TEST_F(TypesetTest, TypeWordsStandForTheirValues) {
    cell ts = make(block({word("float!"), word("INTEGER!"), word("any-word!")}));
    EXPECT_EQ(mold(ts), "make typeset! [integer! float! word! set-word! lit-word! get-word!]");
    EXPECT_TRUE(raises(error::cat_script, error::script_no_value,
                       [] { make(block({word("no-such-type!")})); }));
    // series! is the standard typeset, not the datatype of that name.
    cell any_series = make(block({word("series!")}));
    EXPECT_TRUE(typeset::has(any_series, T_block));
    EXPECT_TRUE(typeset::has(any_series, T_string));
    EXPECT_FALSE(typeset::has(any_series, T_series));
}

TEST_F(TypesetTest, PartBudgetStopsTheListAndOnlyDropsNoForeignCharacter) {
    cell ts = make(block({dt(T_integer), dt(T_float_), dt(T_string)}));
    cell out;
    string::make_at(&out, 16);
    cell part = integer::make_value(20);
    // "make typeset! [" uses 15, "string! " 8: the budget is below 0 before the next name.
    int32_t left = typeset::serialize(&ts, &out, false, false, false, &part, 20);
    EXPECT_EQ(left, -3);
    EXPECT_EQ(string::to_std(&out), "make typeset! [string! ");

    // Without a part argument the whole text comes, whatever the budget.
    string::make_at(&out, 16);
    typeset::serialize(&ts, &out, false, false, false, nullptr, 5);
    EXPECT_EQ(string::to_std(&out), "make typeset! [string! integer! float!]");

    // /only of an empty typeset leaves the text before it alone.
    string::make_at(&out, 16);
    string::concatenate_literal(&out, "[a");
    cell empty = typeset::make_value();
    EXPECT_EQ(typeset::serialize(&empty, &out, true, false, false, nullptr, 10), 10);
    EXPECT_EQ(string::to_std(&out), "[a");
    EXPECT_EQ(typeset::serialize(&ts, &out, true, false, false, nullptr, 100), 100 - 23);
    EXPECT_EQ(string::to_std(&out), "[astring! integer! float!");
}

// }==
// {== find and complement

TEST_F(TypesetTest, FindAnswersMembershipOfADatatypeOnly) {
    cell ts = make(block({dt(T_float_), dt(T_integer)}));
    auto find = [&](cell v) {
        cell s = ts;
        return *actions::find_typed(&s, &v, nullptr, false, false, false, false, nullptr, nullptr,
                                    false, false, false, false);
    };
    EXPECT_EQ(find(dt(T_integer)).type(), T_logic);
    EXPECT_EQ(find(dt(T_integer)).w1, 1u);
    EXPECT_EQ(find(dt(T_block)).w1, 0u);
    EXPECT_EQ(report_of([&] { find(integer::make_value(1)); }),
              "*** Script Error: invalid argument: 1\n"
              "*** Where: ???\n*** Near : ???\n");
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg,
                       [&] { find(typeset::standard::number); }));
}

TEST_F(TypesetTest, ComplementOfEmptyListsEveryRegisteredDatatype) {
    cell ts = typeset::make_value();
    actions::complement_typed(&ts);
    EXPECT_EQ(typeset::count(&ts), datatype::reg.highest);
    std::string expected = "make typeset! [";
    for (uint32_t t = 1; t <= datatype::reg.highest; t++)
        expected += std::string(datatype::name_of(static_cast<uint8_t>(t))) +
                    (t < datatype::reg.highest ? " " : "]");
    EXPECT_EQ(mold(ts), expected);
    actions::complement_typed(&ts);
    EXPECT_EQ(mold(ts), "make typeset! []");
}

// }==
// {== Set operations

TEST_F(TypesetTest, SetOperationsAndBitwiseActions) {
    cell a = make(block({dt(T_integer), dt(T_float_), dt(T_string)}));
    cell b = make(block({dt(T_float_), dt(T_block)}));
    struct row {
        int32_t op;
        const char* result;
    } rows[] = {
        {typeset::OP_UNION, "block! string! integer! float!"},
        {typeset::OP_OR, "block! string! integer! float!"},
        {typeset::OP_INTERSECT, "float!"},
        {typeset::OP_AND, "float!"},
        {typeset::OP_DIFFERENCE, "block! string! integer!"},
        {typeset::OP_XOR, "block! string! integer!"},
        {typeset::OP_EXCLUDE, "string! integer!"},
    };
    for (const row& r : rows) EXPECT_EQ(mold(set_op(r.op, a, b), true), r.result) << r.op;

    // The actions reach the same code through the dispatcher.
    EXPECT_EQ(mold(on_frame(a, b, [] { actions::or_t(); }), true),
              "block! string! integer! float!");
    EXPECT_EQ(mold(on_frame(a, b, [] { actions::and_t(); }), true), "float!");
    EXPECT_EQ(mold(on_frame(a, b, [] { actions::xor_t(); }), true), "block! string! integer!");

    // A datatype second operand counts as its one-bit typeset.
    EXPECT_EQ(mold(set_op(typeset::OP_UNION, a, dt(T_char_)), true),
              "string! char! integer! float!");
    EXPECT_EQ(mold(set_op(typeset::OP_EXCLUDE, a, a), false), "make typeset! []");
}

TEST_F(TypesetTest, UniqueReturnsItsArgumentAndOtherOperandsAreRefused) {
    cell a = make(block({dt(T_integer)}));
    a.header |= 2u << 20;
    cell u =
        set_op(typeset::OP_UNIQUE, a, integer::make_value(1)); // unique never looks at the second
    EXPECT_EQ(0, std::memcmp(&u, &a, sizeof(cell)));
    for (int32_t op : {5, 6, 7, 9, 10, 11, 12}) {
        EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [&] {
            set_op(op, a, integer::make_value(1));
        })) << op;
    }
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_arg, [&] { set_op(9, a, dt(0)); }));
}

// }==
// {== Comparison

TEST_F(TypesetTest, EqualByBitsWhateverTheOriginAndNotOrdered) {
    cell from_make = make(block({dt(T_percent), dt(T_integer), dt(T_float_)}));
    cell target = block({});
    cell from_words =
        *typeset::append_to_block(target.w2, from_make.w1, from_make.w2, from_make.w3);
    cell from_spec = *typeset::from_block(target.w2, &target); // the block now holds that typeset
    cell arg = typeset::standard::number;
    arg.header |= 1u << 20;
    for (const cell* c : std::initializer_list<const cell*>{&from_words, &from_spec,
                                                            &typeset::standard::number, &arg}) {
        EXPECT_TRUE(actions::compare(&from_make, c, 0));
        EXPECT_TRUE(actions::compare(&from_make, c, 2));
        EXPECT_TRUE(actions::compare(&from_make, c, 9));
        EXPECT_FALSE(actions::compare(&from_make, c, 1));
    }
    cell other = typeset::of({T_block, T_paren});
    EXPECT_FALSE(actions::compare(&from_make, &other, 0));
    EXPECT_TRUE(actions::compare(&from_make, &other, 1));
    cell one = integer::make_value(1);
    EXPECT_EQ(actions::compare_typed(&from_make, &one, 0), -2);
    EXPECT_FALSE(actions::compare(&from_make, &one, 0));
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_compare,
                       [&] { actions::compare(&from_make, &other, 3); }));
    // The sort orders by size.
    EXPECT_EQ(actions::compare_typed(&from_make, &other, 7), 1);
    EXPECT_EQ(actions::compare_typed(&other, &from_make, 8), -1);
    cell same_size = typeset::of({T_none, T_char_});
    EXPECT_EQ(actions::compare_typed(&other, &same_size, 7), 0);
}

// }==
// {== Type blocks of function specs and listing

TEST_F(TypesetTest, FromBlockReadsTypeWordsSkipsBlocksAndRefusesOtherValues) {
    cell target = block({});
    cell spec = block({word("integer!"), block({}), typeset::standard::any_word, dt(T_none)});
    cell ts = *typeset::from_block(target.w2, &spec);
    EXPECT_EQ(mold(ts), "make typeset! [none! integer! word! set-word! lit-word! get-word!]");
    // From the block's index on.
    spec.w1 = 2;
    EXPECT_EQ(mold(*typeset::from_block(target.w2, &spec)),
              "make typeset! [none! word! set-word! lit-word! get-word!]");
    EXPECT_EQ(series::length(target.w2), 2u);

    cell bad = block({dt(T_integer), integer::make_value(3)});
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_type_spec,
                       [&] { typeset::from_block(target.w2, &bad); }));
    cell unknown = block({word("nothing!")});
    EXPECT_TRUE(raises(error::cat_script, error::script_no_value,
                       [&] { typeset::from_block(target.w2, &unknown); }));
}

TEST_F(TypesetTest, ToBlockListsTheNameWordsInIdOrder) {
    cell ts = make(block({dt(T_float_), dt(T_block), dt(T_integer)}));
    cell* result = stack::push(&none_value);
    typeset::to_block(&ts, result);
    ASSERT_EQ(result->type(), T_block);
    ASSERT_EQ(series::length(result->w2), 3u);
    const auto* words = reinterpret_cast<const cell*>(memory::buffer_of(result->w2)->head);
    const char* names[] = {"block!", "integer!", "float!"};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(words[i].type(), T_word);
        EXPECT_STREQ(symbol::c_name(words[i].w2), names[i]);
        words = reinterpret_cast<const cell*>(
            memory::buffer_of(result->w2)->head); // c_name may allocate
    }
    stack::pop(1);
}

// }==
// {== Standard typesets

TEST_F(TypesetTest, StandardTypesetsHaveTheirMembers) {
    namespace st = typeset::standard;
    EXPECT_EQ(mold(st::number), "make typeset! [integer! float! percent!]");
    struct row {
        const cell& set;
        uint8_t type;
        bool member;
    } rows[] = {
        {st::any_list, T_hash, true},        {st::any_word, T_refinement, false},
        {st::all_word, T_refinement, true},  {st::series, T_image, true},
        {st::series, T_block, true},         {st::series, T_string, true},
        {st::series, T_map, false},          {st::scalar, T_pair, true},
        {st::number, T_money, false},        {st::immediate, T_typeset, true},
        {st::immediate, T_word, true},       {st::any_block, T_get_path, true},
        {st::default_, T_event, true},       {st::default_, T_unset, false},
        {st::any_type, T_unset, true},       {st::any_type, T_bitset, true},
        {st::any_function, T_routine, true}, {st::any_object, T_port, true},
    };
    for (const row& r : rows) EXPECT_EQ(typeset::has(r.set, r.type), r.member) << int(r.type);

    EXPECT_EQ(std::size(st::table), 18u);
    EXPECT_STREQ(st::table[0].name, "internal!");
    EXPECT_STREQ(st::table[17].name, "any-type!");
    ASSERT_NE(st::named("Series!", 7), nullptr);
    EXPECT_EQ(0, std::memcmp(st::named("Series!", 7), &st::series, sizeof(cell)));
    EXPECT_EQ(st::named("series", 6), nullptr);
}

// }==

} // namespace
