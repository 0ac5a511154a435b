// tests/unit/handle_test.cpp: handle! form, mold and comparison, and handles that name
// external resources: they resolve only while their entry lives in the same generation.
#include <string>

#include "datatypes/handle.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "runtime/extres.h"
#include "runtime_fixture.h"

using namespace zyl;

namespace {

struct HandleTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        extres::init();
    }
    void TearDown() override {
        extres::shutdown();
        RuntimeTest::TearDown();
    }
    static std::string mold(const cell* v, bool all) {
        cell* out = string::push_new(16);
        actions::mold_typed(v, out, false, all, false, nullptr, 1000, 0);
        std::string s = string::to_std(out);
        stack::pop(1);
        return s;
    }
    static std::string form(const cell* v) {
        cell* out = string::push_new(16);
        actions::form_typed(v, out, nullptr, 1000);
        std::string s = string::to_std(out);
        stack::pop(1);
        return s;
    }
};

TEST_F(HandleTest, FormsAsHexadecimalAndMoldsWithItsKindName) {
    cell h;
    handle::make_at(&h, 31, handle::KIND_WINDOW);
    EXPECT_EQ(form(&h), "0000001Fh");
    EXPECT_EQ(mold(&h, false), "handle!");
    EXPECT_EQ(mold(&h, true), "#[handle! 0000001Fh window]");
    handle::make_at(&h, 0xFFFFFFFF, handle::KIND_NONE);
    EXPECT_EQ(mold(&h, true), "#[handle! FFFFFFFFh]");
}

TEST_F(HandleTest, ComparesByValueAndNeverEqualsAnotherType) {
    cell a, b;
    handle::make_at(&a, 31, handle::KIND_FD);
    handle::make_at(&b, 32, handle::KIND_FD);
    cell n{T_integer, 0, 31, 0};
    EXPECT_FALSE(actions::compare(&a, &n, 0)); // 31 the handle is not 31 the integer
    EXPECT_TRUE(actions::compare(&a, &n, 1));
    EXPECT_TRUE(actions::compare(&a, &b, 3));
    EXPECT_TRUE(actions::compare(&a, &a, 0));
    // A handle has no order against another type.
    EXPECT_TRUE(zyl::testing::raises(error::cat_script, error::script_invalid_compare,
                                     [&] { actions::compare(&a, &n, 5); }));
}

TEST_F(HandleTest, AStaleHandleResolvesToNothing) {
    static int released = 0;
    uint32_t kind = extres::push(1, [](void*) { released++; });
    int resource = 7, other = 8;
    int32_t index = extres::register_resource(&resource, kind);
    cell h;
    handle::make_for_resource(&h, index, handle::KIND_FONT);
    EXPECT_EQ(handle::resolve(&h), &resource);
    EXPECT_EQ(h.w3, 0xFFFFFFFFu); // never keeps the resource alive
    extres::release(index, true);
    EXPECT_EQ(handle::resolve(&h), nullptr);
    int32_t again = extres::register_resource(&other, kind); // the entry is reused
    ASSERT_EQ(again, index);
    EXPECT_EQ(handle::resolve(&h), nullptr);
    cell fresh;
    handle::make_for_resource(&fresh, again, handle::KIND_FONT);
    EXPECT_EQ(handle::resolve(&fresh), &other);
}

} // namespace
