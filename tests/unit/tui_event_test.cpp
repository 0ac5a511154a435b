// tests/unit/tui_event_test.cpp: events made by the terminal backend, read from the language.
#include "datatypes/event.h"

#include "datatypes/context.h"
#include "datatypes/handle.h"
#include "runtime/collector.h"
#include "started_fixture.h"

namespace zyl::testing {
namespace {

struct BackendEventTest : StartedTest {
    // Makes global `ev` a backend event of [code] and [flags] for a face `f`.
    void make(uint32_t code, uint32_t flags, int32_t key, float wheel = 0) {
        eval("f: make object! [type: 'field]");
        cell fw = word::load("f");
        cell face = *context::get_value(&fw);
        cell widget;
        handle::make_at(&widget, 7, handle::KIND_WINDOW);
        event::push_backend(code, flags, {&widget, &face, 3.9f, -2.7f, key, wheel});
        cell w = word::load("ev");
        context::set_value(&w, stack::top());
        stack::pop(1);
    }
};

TEST_F(BackendEventTest, ReadsItsRecordAfterCollections) {
    make(13, event::FLAG_CONTROL, 'q');
    collector::collect();
    eval("loop 50 [append/dup copy [] 1 1000]");
    collector::collect();
    EXPECT_EQ(eval("ev/type"), "key");
    EXPECT_EQ(eval("ev/key"), "#\"q\"");
    EXPECT_EQ(eval("ev/offset"), "3x-2"); // truncated toward zero
    EXPECT_EQ(eval("ev/window"), "none");
    EXPECT_EQ(eval("same? ev/face f"), "true");
    EXPECT_EQ(eval("ev/face/type"), "field");
    EXPECT_EQ(eval("ev/ctrl?"), "true");
    EXPECT_EQ(eval("ev/flags"), "[control]");
    EXPECT_EQ(eval("ev/picked"), "113");
}

TEST_F(BackendEventTest, SpecialKeysAndTheWheel) {
    struct {
        int32_t key;
        const char* reads;
    } cases[] = {{-20, "up"}, {-27, "delete"}, {-29, "page-down"}, {-30, "none"}, {-31, "F1"},
                 {-42, "F12"}, {-43, "none"}, {-19, "none"}};
    for (auto& c : cases) {
        make(14, event::FLAG_SPECIAL, c.key);
        EXPECT_EQ(eval("ev/key"), c.reads) << c.key;
    }
    make(event::TYPE_WHEEL, 0, 0, -1.0f);
    EXPECT_EQ(eval("ev/picked"), "-1.0");
    EXPECT_EQ(eval("ev/type"), "wheel");
}

} // namespace
} // namespace zyl::testing
