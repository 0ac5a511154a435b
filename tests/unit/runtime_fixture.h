// tests/unit/runtime_fixture.h: a fixture with memory, the evaluation stack and the core
// datatypes registered, for tests of datatypes and the evaluator's pieces.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "boot/startup.h"
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

// Starts the whole run-time (library sources included) with collection stress off during the
// start, then back at the environment's setting for the test itself. The start under stress
// is what every stressed console transcript does; repeating it for each unit test would cost
// more than the tests.
inline void start_runtime() {
    const char* env = std::getenv("ZYL_GC_STRESS");
    std::string stress = env ? env : "";
    if (env) unsetenv("ZYL_GC_STRESS");
    runtime::start();
    if (env) {
        setenv("ZYL_GC_STRESS", stress.c_str(), 1);
        mm.stress_every = std::strtoull(stress.c_str(), nullptr, 10);
    }
}

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
