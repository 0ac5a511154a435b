// tests/unit/stack_test.cpp: the evaluation stack: pushing, frames, unwinding, non-local exits.
#include <gtest/gtest.h>

#include <unistd.h>

#include "eval/stack.h"
#include "runtime/platform/native_stack.h"
#include "runtime/error.h"

using namespace zyl;

namespace {

constexpr uint32_t BODY = 1, ANON = 2;

cell word(uint32_t sym) { return cell{T_word, 0, sym, 0}; }
cell integer(int32_t v) { return cell{T_integer, 0, static_cast<uint32_t>(v), 0}; }

struct StackTest : ::testing::Test {
    void SetUp() override {
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        stack::create(BODY, ANON);
    }
    void TearDown() override {
        es = eval_stack{};
        memory::free_all();
    }
    static uint32_t depth() { return static_cast<uint32_t>(es.ftop - es.fbottom); }
    static uint32_t cells() { return static_cast<uint32_t>(es.top - es.bottom); }
    // Pushes a frame of [bits] for symbol [sym] and one argument [v].
    static void call(uint32_t bits, uint32_t sym, int32_t v) {
        cell w = word(sym);
        stack::mark(&w, bits);
        cell i = integer(v);
        stack::push(&i);
    }
};

TEST_F(StackTest, PushMarkUnwind) {
    cell w = word(10);
    stack::mark_native(&w);
    cell v = integer(5);
    stack::push(&v);
    stack::push(&v);
    EXPECT_EQ(cells(), 2u);
    EXPECT_EQ(stack::top_frame()->symbol, 10u);
    EXPECT_EQ(stack::top_frame()->type(), uint32_t(FRAME_NATIVE));
    call(MARK_NATIVE, 11, 7);
    stack::unwind_last(); // the result lands in the caller's cell 0
    EXPECT_EQ(depth(), 1u);
    EXPECT_EQ(es.base->w2, 7u);
    EXPECT_EQ(cells(), 3u); // the callee's cell 0 stays as the caller's last pushed cell
    stack::unwind();
    EXPECT_EQ(depth(), 0u);
    EXPECT_EQ(cells(), 1u);
}

TEST_F(StackTest, UnwindDropAndPopFrame) {
    call(MARK_NATIVE, 10, 1);
    call(MARK_NATIVE, 11, 2);
    stack::unwind_drop();
    EXPECT_EQ(es.top, es.base);
    call(MARK_NATIVE, 11, 2);
    cell* callee_base = es.base;
    stack::pop_frame();
    EXPECT_EQ(es.top, callee_base); // all of the frame's cells go
    stack::pop_frame();
    EXPECT_EQ(es.top, es.bottom);
    EXPECT_EQ(es.base, es.bottom);
}

TEST_F(StackTest, BreakInsideAFunctionReachesTheLoopBelow) {
    call(MARK_NATIVE, 20, 0);
    call(MARK_LOOP, 21, 0);
    cell* loop_base = es.base;
    call(MARK_INTERP_FUNC, 22, 0);
    call(MARK_FUNC, BODY, 0);
    call(MARK_NATIVE, 23, 99); // `break/return 99`
    stack::throw_break(true, false);
    EXPECT_EQ(es.throw_code, uint32_t(THROW_BREAK));
    EXPECT_EQ(stack::top_frame()->type(), uint32_t(FRAME_LOOP));
    EXPECT_EQ(es.base, loop_base);
    EXPECT_EQ(loop_base->type(), T_integer);
    EXPECT_EQ(loop_base->w2, 99u);
}

TEST_F(StackTest, ContinueLeavesUnset) {
    call(MARK_LOOP, 21, 5);
    call(MARK_NATIVE, 23, 99);
    stack::throw_break(true, true);
    EXPECT_EQ(es.throw_code, uint32_t(THROW_CONTINUE));
    EXPECT_EQ(es.base->type(), T_unset);
}

TEST_F(StackTest, ReturnStopsAtTheFunctionsFrame) {
    call(MARK_LOOP, 21, 0);
    call(MARK_INTERP_FUNC, 22, 0);
    call(MARK_FUNC, BODY, 0);
    cell* body_base = es.base;
    call(MARK_LOOP, 24, 0); // a loop inside the function
    call(MARK_NATIVE, 25, 42); // `return 42`
    stack::throw_return(true, false);
    EXPECT_EQ(es.throw_code, uint32_t(THROW_RETURN));
    EXPECT_TRUE(stack::top_frame()->header & FRAME_RETURN_TARGET);
    EXPECT_EQ(es.base, body_base);
    EXPECT_EQ(body_base->w2, 42u);
    es.throw_code = THROW_NONE;
    call(MARK_NATIVE, 25, 1); // `exit`
    stack::throw_return(false, false);
    EXPECT_EQ(es.throw_code, uint32_t(THROW_EXIT));
    EXPECT_EQ(es.base->type(), T_unset);
}

// Runs [body] under a try frame and returns the caught error's category and id.
template <typename F> error::raised catch_error(F body) {
    cell w = word(30);
    stack::mark_try(&w);
    try {
        body();
    } catch (const error::raised& e) {
        EXPECT_EQ(es.throw_code, uint32_t(THROW_ERROR));
        EXPECT_EQ(stack::top()->type(), T_error);
        es.throw_code = THROW_NONE;
        return e;
    }
    ADD_FAILURE() << "no error raised";
    return {-1, -1};
}

TEST_F(StackTest, ExitsWithoutTargetsRaise) {
    struct { void (*exit)(); int32_t id; } cases[] = {
        {[] { stack::throw_break(false, false); }, error::throw_break},
        {[] { stack::throw_break(false, true); }, error::throw_continue},
        {[] { stack::throw_return(true, false); }, error::throw_return},
        {[] { stack::throw_value(THROW_THROW); }, error::throw_throw},
    };
    for (auto& c : cases) {
        call(MARK_NATIVE, 10, 0);
        uint32_t before = depth();
        error::raised e = catch_error([&] {
            call(MARK_NATIVE, 11, 1);
            c.exit();
        });
        EXPECT_EQ(e.category, error::cat_throw);
        EXPECT_EQ(e.id, c.id);
        EXPECT_EQ(depth(), before); // the try frame is gone, the frames below it stay
        stack::pop_frame();
    }
}

TEST_F(StackTest, ThrowAcrossTryAllBecomesAnError) {
    call(MARK_CATCH, 40, 0);
    cell w = word(41);
    stack::mark_try_all(&w);
    try {
        call(MARK_NATIVE, 42, 7); // `throw 7`
        stack::throw_value(THROW_THROW);
        FAIL() << "the throw went past the try-all frame";
    } catch (const error::raised& e) {
        EXPECT_EQ(e.category, error::cat_throw);
        EXPECT_EQ(e.id, error::throw_throw);
        EXPECT_EQ(stack::top_frame()->type(), uint32_t(FRAME_CATCH));
        // The thrown value is the error's first argument.
        series_buffer* args = memory::buffer_of(stack::top()->w1);
        EXPECT_EQ(reinterpret_cast<cell*>(args->head)->w2, 7u);
    }
}

TEST_F(StackTest, ThrowReachesCatchWithValueAndName) {
    call(MARK_CATCH, 40, 0);
    cell* catch_base = es.base;
    call(MARK_INTERP_FUNC, 22, 0);
    cell w = word(43);
    stack::mark_native(&w);
    cell v = integer(7), name = word(44);
    stack::push(&v);
    stack::push(&name);
    stack::throw_value(THROW_THROW);
    EXPECT_EQ(es.throw_code, uint32_t(THROW_THROW));
    EXPECT_EQ(es.base, catch_base);
    EXPECT_EQ(catch_base[0].w2, 7u);
    EXPECT_EQ(catch_base[1].w2, 44u);
    EXPECT_EQ(es.top, catch_base + 2);
}

TEST_F(StackTest, ArgumentOverflowRaisesAndTheStackGoesOn) {
    call(MARK_NATIVE, 10, 0);
    error::raised e = catch_error([] {
        cell v = integer(1);
        for (uint32_t i = 0; i < ARG_STACK_CELLS + 10; i++) stack::push(&v);
    });
    EXPECT_EQ(e.category, error::cat_internal);
    EXPECT_EQ(e.id, error::internal_stack_overflow);
    EXPECT_EQ(depth(), 1u);
    cell v = integer(3);
    stack::push(&v);
    call(MARK_NATIVE, 11, 4);
    stack::unwind_last();
    EXPECT_EQ(es.base->w2, 4u);
}

TEST_F(StackTest, FrameOverflowRaisesAndTheStackGoesOn) {
    error::raised e = catch_error([] {
        cell w = word(10);
        for (uint32_t i = 0; i < CALL_STACK_FRAMES + 10; i++) stack::mark_native(&w);
    });
    EXPECT_EQ(e.id, error::internal_stack_overflow);
    EXPECT_EQ(depth(), 0u);
    call(MARK_NATIVE, 11, 4);
    EXPECT_EQ(depth(), 1u);
}

TEST_F(StackTest, UnwindToKeepsTheTarget) {
    call(MARK_NATIVE, 10, 0);
    call(MARK_LOOP, 11, 1);
    cell* loop_base = es.base;
    call(MARK_NATIVE, 12, 2);
    call(MARK_NATIVE, 13, 3);
    stack::unwind_to_loop(true);
    EXPECT_EQ(stack::top_frame()->symbol, 11u);
    EXPECT_EQ(es.base, loop_base);
    stack::unwind_to_loop(true); // already on top: only the cells go
    EXPECT_EQ(es.top, loop_base + 1);
    call(MARK_NATIVE, 12, 2);
    call(MARK_NATIVE, 13, 5);
    stack::unwind_to_last(FRAME_LOOP);
    EXPECT_EQ(stack::top_frame()->symbol, 11u);
    EXPECT_EQ(loop_base->w2, 5u);
}

TEST_F(StackTest, FunctionContextIsRestored) {
    node_id ctx = series::alloc_cells(2);
    series_buffer* b = memory::buffer_of(ctx);
    auto* cc = reinterpret_cast<cell*>(b->head);
    cc[0] = cell{T_context, 0, 0, 0};
    b->tail = b->head + 32;
    cell w = word(50);
    stack::mark_func_context(&w, ctx);
    cell body = word(BODY);
    stack::mark_func(&body, ctx);
    EXPECT_EQ(cc[0].w2, uint32_t(es.base - es.bottom) + 1); // values on the stack
    stack::unwind_last();
    stack::unwind_func();
    EXPECT_EQ(cc[0].w2, 0u);
}

TEST_F(StackTest, GetCallSkipsInternalFrames) {
    EXPECT_EQ(stack::get_call().type(), T_none); // no call, and no global word <not-found> here
    call(MARK_NATIVE, 60, 0);
    call(MARK_FUNC, BODY, 0);
    call(MARK_NATIVE, ANON, 0);
    EXPECT_EQ(stack::get_call().w2, 60u);
    cell w = word(61);
    stack::set_call_name(&w);
    EXPECT_EQ(stack::top_frame()->symbol, 61u);
}

TEST_F(StackTest, HasInterpFrame) {
    call(MARK_INTERP_NATIVE, 10, 0);
    call(MARK_NATIVE, 11, 0);
    call(MARK_NATIVE, 12, 0);
    EXPECT_TRUE(stack::has_interp_frame(nullptr, false));
    EXPECT_FALSE(stack::has_interp_frame(nullptr, true));
}

TEST_F(StackTest, UncaughtErrorEndsTheProcess) {
    EXPECT_EXIT(
        {
            dup2(2, 1); // the report goes to the console's standard output
            call(MARK_NATIVE, 10, 0);
            error::raise(error::cat_script, 2);
        },
        ::testing::ExitedWithCode(error::UNCAUGHT_STATUS),
        "\\*\\*\\* Script Error: .* has no value\n\\*\\*\\* Where: ");
}

} // namespace

namespace {

int depth_reached;

int recurse(int n) {
    native_stack::check();
    depth_reached = n;
    volatile char pad[256];
    pad[0] = static_cast<char>(n);
    if (n == INT32_MAX) return 0; // only the guard ends it
    return recurse(n + 1) + pad[0];
}

int deep_recursion(void*) {
    try {
        recurse(0);
    } catch (const error::raised& e) {
        return e.id == error::internal_stack_overflow ? 1 : 0;
    }
    return 0;
}

TEST(NativeStack, DeepRecursionRaisesInsteadOfCrashing) {
    EXPECT_EQ(native_stack::run(deep_recursion, nullptr), 1);
    EXPECT_GT(depth_reached, 10000); // the big stack was used
}

} // namespace
