// tests/unit/core_types_test.cpp: the registry and datatype!, unset!, none!, logic!.
#include <cmath>
#include <cstring>
#include <unistd.h>

#include "datatypes/action_types.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "runtime/error.h"
#include "runtime_fixture.h"

using namespace zyl;
using zyl::testing::raises;
using zyl::testing::RuntimeTest;

namespace {

using CoreTypes = RuntimeTest;

std::string mold(const cell& v, bool all) {
    cell out;
    string::make_at(&out, 16);
    datatype::action_as<actions::mold_fn>(v.type(), A_mold)(&v, &out, false, all, false, nullptr,
                                                             INT32_MAX, 0);
    return string::to_std(&out);
}

std::string form(const cell& v) {
    cell out;
    string::make_at(&out, 16);
    datatype::action_as<actions::form_fn>(v.type(), A_form)(&v, &out, nullptr, INT32_MAX);
    return string::to_std(&out);
}

int32_t compare(const cell& a, const cell& b, int32_t op) {
    return datatype::action_as<actions::compare_fn>(a.type(), A_compare)(&a, &b, op);
}

cell float_cell(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return cell{T_float_, 0, uint32_t(bits), uint32_t(bits >> 32)};
}

TEST_F(CoreTypes, FormAndMoldTexts) {
    action_fn none_row[ACTION_SLOTS] = {};
    datatype::register_type(ACTION_SLOTS + 3, T_integer, 0, "integer!", none_row);
    struct { cell v; const char* form; const char* mold; const char* mold_all; } cases[] = {
        {none_value, "none", "none", "#(none)"},
        {true_value, "true", "true", "#(true)"},
        {false_value, "false", "false", "#(false)"},
        {unset_value, "", "unset", "#(unset)"},
        {datatype::make_value(T_integer), "integer", "integer!", "#(integer!)"},
        {datatype::make_value(T_logic), "logic", "logic!", "#(logic!)"},
        {datatype::make_value(T_tag), "tag", "tag!", "#(tag!)"}, // named before it registers
        {datatype::make_value(200), "unknown", "unknown!", "#(unknown!)"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(form(c.v), c.form);
        EXPECT_EQ(mold(c.v, false), c.mold);
        EXPECT_EQ(mold(c.v, true), c.mold_all);
    }
}

TEST_F(CoreTypes, FormAndMoldReturnTheRemainingBudget) {
    cell out;
    string::make_at(&out, 16);
    auto f = datatype::action_as<actions::mold_fn>(T_logic, A_mold);
    EXPECT_EQ(f(&false_value, &out, false, true, false, nullptr, 100, 0), 92);
    auto g = datatype::action_as<actions::form_fn>(T_none, A_form);
    EXPECT_EQ(g(&none_value, &out, nullptr, 10), 6);
}

TEST_F(CoreTypes, Compare) {
    cell i = datatype::make_value(T_integer), i2 = i, l = datatype::make_value(T_logic);
    for (int32_t op : {0, 2, 9, 12}) EXPECT_EQ(compare(i, i2, op), 0);
    EXPECT_NE(compare(i, l, 0), 0);
    EXPECT_EQ(compare(i, i2, 3), -2); // datatypes have no order
    EXPECT_EQ(compare(none_value, none_value, 0), 0);
    EXPECT_EQ(compare(none_value, none_value, 3), -2);
    EXPECT_EQ(compare(none_value, unset_value, 0), -2);
    EXPECT_EQ(compare(unset_value, unset_value, 0), 0);
    EXPECT_LT(compare(false_value, true_value, 7), 0); // sort puts false first
    EXPECT_EQ(compare(true_value, true_value, 0), 0);
    EXPECT_EQ(compare(true_value, false_value, 5), -2);
}

TEST_F(CoreTypes, MakeAndToLogic) {
    auto make = datatype::action_as<actions::make_fn>(T_logic, A_make);
    auto to = datatype::action_as<actions::make_fn>(T_logic, A_to);
    struct { actions::make_fn f; cell spec; bool expect; } cases[] = {
        {make, cell{T_integer, 0, 0, 0}, false},
        {make, cell{T_integer, 0, 2, 0}, true},
        {make, float_cell(0.0), false},
        {make, float_cell(-0.0), false},
        {make, float_cell(NAN), true},
        {make, float_cell(0.5), true},
        {make, none_value, false},
        {to, cell{T_integer, 0, 0, 0}, true},
        {to, none_value, false},
        {to, false_value, false},
        {to, true_value, true},
        {to, unset_value, true},
    };
    for (auto& c : cases) {
        cell proto = datatype::make_value(T_logic);
        cell spec = c.spec;
        EXPECT_EQ(c.f(&proto, &spec, T_logic)->w1, c.expect ? 1u : 0u);
        EXPECT_EQ(proto.type(), T_logic);
    }
    cell proto = datatype::make_value(T_none);
    cell spec{T_integer, 0, 5, 0};
    EXPECT_EQ(datatype::action_as<actions::make_fn>(T_none, A_make)(&proto, &spec, T_none)->type(), T_none);
    EXPECT_EQ(datatype::action_as<actions::length_fn>(T_none, A_length_q)(&none_value), -1);
}

TEST_F(CoreTypes, Truth) {
    EXPECT_FALSE(logic::is_true(&none_value, true));
    EXPECT_FALSE(logic::is_true(&false_value, true));
    EXPECT_TRUE(logic::is_true(&true_value, true));
    cell zero{T_integer, 0, 0, 0};
    EXPECT_TRUE(logic::is_true(&zero, true));
    EXPECT_TRUE(logic::is_true(&unset_value, false));
    EXPECT_TRUE(raises(error::cat_script, error::script_no_value, [] { logic::is_true(&unset_value, true); }));
    cell w{T_word, 0, 5, 0};
    stack::mark_native(&w);
    unset::set_last();
    EXPECT_TRUE(raises(error::cat_script, error::script_no_return, [] { logic::check_condition(); }));
    logic::box(false);
    EXPECT_TRUE(logic::false_last());
    EXPECT_TRUE(logic::false_top()); // the stack is empty above the base: the bottom cell
    logic::push(true);
    EXPECT_FALSE(logic::false_top());
}

TEST_F(CoreTypes, LogicBitwiseAndComplement) {
    cell w{T_word, 0, 5, 0};
    stack::mark_native(&w);
    logic::push(true);
    logic::push(false);
    datatype::action_as<actions::direct_fn>(T_logic, A_or_t)();
    EXPECT_EQ(stack::arg(0)->w1, 1u);
    datatype::action_as<actions::direct_fn>(T_logic, A_and_t)();
    EXPECT_EQ(stack::arg(0)->w1, 0u);
    cell one{T_integer, 0, 1, 0};
    *stack::arg(1) = one;
    EXPECT_TRUE(raises(error::cat_script, error::script_expect_arg, [&] {
        logic::push(true); // the try frame's own arguments: cells above the top hold stale values
        stack::push(&one);
        datatype::action_as<actions::direct_fn>(T_logic, A_and_t)();
    }));
    cell t = true_value;
    EXPECT_EQ(datatype::action_as<actions::unary_fn>(T_logic, A_complement)(&t)->w1, 0u);
}

TEST_F(CoreTypes, HubsWriteResultsAndBlocks) {
    cell w{T_word, 0, 5, 0};
    stack::mark_native(&w);
    EXPECT_EQ(none::set_last()->type(), T_none);
    EXPECT_EQ(unset::push()->type(), T_unset);
    EXPECT_EQ(datatype::push(T_logic)->w1, uint32_t(T_logic));
    node_id block = series::alloc_cells(1);
    none::make_in(block);
    logic::make_in(block, true);
    datatype::make_in(block, T_none);
    unset::make_in(block);
    auto* c = reinterpret_cast<cell*>(memory::buffer_of(block)->head);
    EXPECT_EQ(series::length(block), 4u);
    EXPECT_EQ(c[0].type(), T_none);
    EXPECT_EQ(c[1].w1, 1u);
    EXPECT_EQ(c[2].w1, uint32_t(T_none));
    EXPECT_EQ(c[3].type(), T_unset);
}

void parent_make() {}
void parent_form() {}
void child_form() {}

TEST_F(CoreTypes, RegistrationInheritsAndOverrides) {
    action_fn p[ACTION_SLOTS] = {}, c[ACTION_SLOTS] = {};
    p[A_make - 1] = &parent_make;
    p[A_form - 1] = &parent_form;
    c[A_make - 1] = ZYL_INHERIT;
    c[A_form - 1] = &child_form;
    c[A_mold - 1] = ZYL_INHERIT; // the parent has none: stays absent
    datatype::register_type(ACTION_SLOTS + 3, T_series, 0, "series!", p);
    datatype::register_type(ACTION_SLOTS + 3, T_block, T_series, "block!", c);
    EXPECT_EQ(datatype::action(T_block, A_make), &parent_make);
    EXPECT_EQ(datatype::action(T_block, A_form), &child_form);
    EXPECT_EQ(datatype::action(T_block, A_mold), nullptr);
    EXPECT_EQ(datatype::action(T_block, A_copy), nullptr);
    EXPECT_STREQ(datatype::name_of(T_block), "block!");
    EXPECT_EQ(datatype::reg.names[T_block].name_length, 5u);
    // Parent 0 keeps a -1 entry as it is.
    datatype::register_type(ACTION_SLOTS + 3, T_pair, 0, "pair!", c);
    EXPECT_EQ(datatype::action(T_pair, A_make), ZYL_INHERIT);
}

TEST_F(CoreTypes, WrongEntryCountEndsTheProcess) {
    EXPECT_EXIT(
        {
            dup2(2, 1);
            action_fn row[ACTION_SLOTS] = {};
            datatype::register_type(64, T_pair, 0, "pair!", row);
        },
        ::testing::ExitedWithCode(1),
        "\\*\\*\\* Datatype Error: invalid actions count for type: 37\n\\*\\*\\* Found: 61\n"
        "\\*\\*\\* Expected: 62");
}

// The datatype carried as the second argument of the error on top of the stack.
uint8_t error_datatype() {
    const cell* err = stack::top();
    return static_cast<uint8_t>(reinterpret_cast<cell*>(memory::buffer_of(err->w1)->head)[1].w1);
}

TEST_F(CoreTypes, AbsentEntryRaisesExpectArgNamingTheDatatype) {
    EXPECT_NE(actions::get_action_handler(T_logic, &true_value, A_form), nullptr);
    EXPECT_TRUE(raises(error::cat_script, error::script_expect_arg,
                       [] { actions::get_action_handler(T_none, &none_value, A_append); }));
    EXPECT_EQ(error_datatype(), T_none);
}

cell typeset_of(std::initializer_list<uint8_t> types) {
    cell ts{T_typeset, 0, 0, 0};
    auto* bytes = reinterpret_cast<uint8_t*>(&ts.w1);
    for (uint8_t t : types) bytes[t >> 3] |= uint8_t(0x80 >> (t & 7));
    return ts;
}

TEST_F(CoreTypes, ArgumentChecks) {
    cell ts = typeset_of({T_integer, T_logic, T_event});
    EXPECT_TRUE(error::typeset_has(&ts, T_event));
    EXPECT_FALSE(error::typeset_has(&ts, T_none));
    EXPECT_EQ(error::check_arg_type(&ts, 0, &true_value), &true_value);
    EXPECT_TRUE(raises(error::cat_script, error::script_expect_arg,
                       [&] { error::check_arg_type(&ts, 0, &none_value); }));
    EXPECT_EQ(error_datatype(), T_none);
    error::check_arg_type_at(-1, &ts, 0); // an absent optional argument: never checked
    cell unused{T_refinement, 0, 0, 0}, used{T_refinement, 1, 0, 0};
    EXPECT_EQ(error::check_optional_arg_type(&unused, &ts, 1, &none_value), &none_value);
    EXPECT_TRUE(raises(error::cat_script, error::script_expect_arg,
                       [&] { error::check_optional_arg_type(&used, &ts, 1, &none_value); }));
}

} // namespace
