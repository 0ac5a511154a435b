// tests/unit/runtime_fixture.h: a fixture with memory, the evaluation stack and the core
// datatypes registered, for tests of datatypes and the evaluator's pieces.
#pragma once

#include <gtest/gtest.h>

#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/init.h"
#include "datatypes/registry.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zyl::testing {

struct RuntimeTest : ::testing::Test {
    void SetUp() override {
        collector::gc = {}; // no hook of an earlier test's (freed) tables
        datatype::reg.words_made = false; // no name words until a test makes the global context
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        datatypes::init_all();
        stack::create(1, 2);
    }
    void TearDown() override {
        context::forget_global();
        collector::gc = {};
        es = eval_stack{};
        memory::free_all();
    }
};

// Turns collection stress (ZYL_GC_STRESS) off while it lives: for tests that lay out frames
// exactly and would be changed by extra collections.
struct no_stress {
    uint64_t saved = mm.stress_every;
    no_stress() { mm.stress_every = 0; }
    ~no_stress() { mm.stress_every = saved; }
};

// Runs [body] under a try frame; returns whether an error of [cat]/[id] was raised.
template <typename F> bool raises(int32_t cat, int32_t id, F body) {
    cell w{T_word, 0, 99, 0};
    stack::mark_try(&w);
    try {
        body();
    } catch (const error::raised& e) {
        es.throw_code = THROW_NONE;
        return e.category == cat && e.id == id;
    }
    stack::pop_frame();
    return false;
}

} // namespace zyl::testing
