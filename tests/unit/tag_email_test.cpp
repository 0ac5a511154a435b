// tests/unit/tag_email_test.cpp: tag! forming and molding with its angle brackets, email!
// molding as plain text, and the user and host path fields of an e-mail address.
#include <climits>
#include <string>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/extres.h"
#include "runtime/values.h"
#include "runtime_fixture.h"

using namespace zyl;
using zyl::testing::raises;
namespace ids = zyl::error::ids;

namespace {

struct TagEmailTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        unicode::init_case_tables();
        actions::init();
        symbol::init_table(series::alloc_cells(64));
    }
    void TearDown() override {
        symbol::table = {};
        RuntimeTest::TearDown();
    }
};

// A text value of type [t] on the evaluation stack (so that it outlives collections).
cell T(std::string_view text, uint8_t t = T_string) {
    cell* s = string::from_utf8(stack::push_slot(), text);
    cells::set_type(s, t);
    return *s;
}
cell Tag(std::string_view text) { return T(text, T_tag); }
cell E(std::string_view text) { return T(text, T_email); }
cell I(int32_t n) { return integer::make_value(n); }
// A word cell by layout: word 2 is the symbol id, unbound.
cell W(const char* name, uint8_t t = T_word) { return cell{t, 0, symbol::make(name), UINT32_MAX}; }

// Runs [entry] on a new frame holding [args]; the result stays on the stack as its top cell.
template <typename F> cell* call(std::initializer_list<cell> args, F entry) {
    cell w{T_word, 0, 99, 0};
    stack::mark_native(&w);
    for (const cell& a : args) stack::push(&a);
    entry();
    stack::unwind();
    return stack::top();
}

std::string text(const cell* v) { return string::to_std(v); }
std::string form(cell v) { return text(call({v}, [] { actions::form(-1); })); }
std::string mold(cell v) { return text(call({v}, [] { actions::mold(-1, -1, -1, -1); })); }
cell get(cell value, cell field) { return *call({value, field}, [] { actions::eval_path(-1); }); }
cell set(cell value, cell field, cell data) {
    return *call({value, field, data}, [] { actions::eval_path(2); });
}

// {== tag!

TEST_F(TagEmailTest, TagFormsAndMoldsInAngleBrackets) {
    cell t = Tag("a href=\"x\"");
    EXPECT_EQ(form(t), "<a href=\"x\">");
    EXPECT_EQ(mold(t), "<a href=\"x\">"); // no escapes
    EXPECT_EQ(form(Tag("")), "<>");
    cell out = T("x");
    call({out, Tag("b")}, [] { actions::append(-1, -1, -1); });
    EXPECT_EQ(text(&out), "x<b>");
    cell made = *call({datatype::make_value(T_tag), T("p")}, [] { actions::to(); });
    EXPECT_EQ(made.type(), T_tag);
    EXPECT_EQ(mold(made), "<p>");
}

TEST_F(TagEmailTest, TagCountsItsBracketsAgainstTheBudget) {
    cell t = Tag("abcd");
    struct { int32_t part; const char* written; int32_t left; } cases[] = {
        {10, "<abcd>", 4}, {6, "<abcd>", 0}, {3, "<ab>", -3}, {1, "<>", -5}, {0, "<>", -6},
    };
    for (auto& c : cases) {
        cell out = T("");
        cell part = I(c.part);
        EXPECT_EQ(actions::form_typed(&t, &out, &part, c.part), c.left) << c.part;
        EXPECT_EQ(text(&out), c.written) << c.part;
    }
    cell limited = I(3);
    EXPECT_EQ(text(call({t, limited}, [] { actions::mold(-1, -1, -1, 1); })), "<ab");
    cell self = Tag("ab");
    actions::form_typed(&self, &self, nullptr, INT32_MAX);
    EXPECT_EQ(text(&self), "ab<ab>");
}

// }==
// {== email!

TEST_F(TagEmailTest, EmailMoldsAsPlainText) {
    EXPECT_EQ(mold(E("me@host.org")), "me@host.org");
    EXPECT_EQ(form(E("me@host.org")), "me@host.org");
    EXPECT_EQ(mold(E("a\"b^c@d")), "a\"b^c@d");
}

TEST_F(TagEmailTest, UserAndHostReadNewStrings) {
    struct { const char* address; const char* user; const char* host; } cases[] = {
        {"name@host.org", "name", "host.org"},
        {"abc", "abc", ""},
        {"@host", "", "host"},
        {"a@b@c", "a", "b@c"},
        {"x@", "x", ""},
    };
    for (auto& c : cases) {
        cell e = E(c.address);
        cell u = get(e, W("user")), h = get(e, W("host"));
        EXPECT_EQ(u.type(), T_string);
        EXPECT_EQ(h.type(), T_string);
        EXPECT_EQ(text(&u), c.user) << c.address;
        EXPECT_EQ(text(&h), c.host) << c.address;
        EXPECT_NE(u.w2, e.w2); // a copy, not a view
    }
    cell e = E("me@h");
    cell u = get(e, W("USER")); // words compare without regard to case
    EXPECT_EQ(text(&u), "me");
}

TEST_F(TagEmailTest, SettingAFieldChangesTheAddressItself) {
    struct { const char* address; const char* field; const char* value; const char* after; } cases[] = {
        {"name@host.org", "host", "other", "name@other"},
        {"name@host.org", "user", "x", "x@host.org"},
        {"name@host.org", "user", "", "@host.org"},
        {"@h", "user", "me", "me@h"},
        {"abc", "user", "xy", "xy"},
        {"abc", "host", "h.org", "abc@h.org"}, // no "@": one is added so that host reads back
    };
    for (auto& c : cases) {
        cell e = E(c.address);
        cell data = T(c.value);
        cell r = set(e, W(c.field), data);
        EXPECT_EQ(r.w2, data.w2); // the result is the value set
        EXPECT_EQ(e.type(), T_email);
        EXPECT_EQ(text(&e), c.after) << c.address << " " << c.field;
    }
    cell e = E("me@h");
    set(e, W("host"), I(42)); // other values are formed
    EXPECT_EQ(text(&e), "me@42");
    cell h = get(e, W("host"));
    EXPECT_EQ(text(&h), "42");
}

TEST_F(TagEmailTest, IntegersPickAndOtherSelectorsRaise) {
    cell e = E("me@h");
    cell c = get(e, I(1));
    EXPECT_EQ(c.type(), T_char_);
    EXPECT_EQ(c.w2, uint32_t('m'));
    set(e, I(1), char_::make_value('M'));
    EXPECT_EQ(text(&e), "Me@h");
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_path, [&] { get(e, W("name")); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_path, [&] { get(e, T("user")); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_path, [&] { get(e, W("user", T_refinement)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_path, [&] { set(e, W("name"), T("x")); }));
    EXPECT_EQ(text(&e), "Me@h");
}

TEST_F(TagEmailTest, AbsentEntriesRaise) {
    // put is string!'s empty slot; sort and trim are not in the rows.
    EXPECT_TRUE(raises(error::cat_script, ids::script_expect_arg,
                       [] { call({Tag("a"), T("k"), T("v")}, [] { actions::put(-1); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_expect_arg,
                       [] { call({E("b@a")}, [] { actions::sort(-1, -1, -1, -1, -1, -1, -1); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_expect_arg,
                       [] { call({Tag(" a ")}, [] { actions::trim(-1, -1, -1, -1, -1, -1); }); }));
}

TEST_F(TagEmailTest, SurviveACollectionAtEveryAllocation) {
    extres::init();
    node_id root = series::alloc_unmanaged(16, sizeof(cell), 0);
    collector::gc.root_block = root;
    collector::gc.active = true;
    mm.stress_every = 1;
    cell e = E("name@host.org");
    set(e, W("host"), T("\xE2\x82\xAC.org"));
    cell h = get(e, W("host"));
    EXPECT_EQ(text(&h), "\xE2\x82\xAC.org");
    cell u = get(e, W("user"));
    EXPECT_EQ(text(&u), "name");
    EXPECT_EQ(mold(Tag("b \xC3\xA9")), "<b \xC3\xA9>");
    mm.stress_every = 0;
    collector::gc = {};
    extres::shutdown();
}

// }==

} // namespace
