// tests/unit/started_fixture.h: the run-time as the program starts it (library sources
// included), made anew for each test and taken down after it, with an evaluator that answers
// the molded result of a text.
#pragma once

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "boot/startup.h"
#include "runtime_fixture.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"

namespace zyl::testing {

struct StartedTest : ::testing::Test {
    void SetUp() override {
        collector::gc = {};
        datatype::reg.words_made = false;
        start_runtime();
    }
    void TearDown() override { runtime::stop(); }

    // The molded result of [src], evaluated under a try frame; "error <category>/<id>" when it
    // raised.
    static std::string eval(const std::string& src) {
        cell* top = es.top;
        cell* block = runtime::load_text(reinterpret_cast<const uint8_t*>(src.data()), src.size());
        cell w = word::load("test");
        stack::mark_try(&w);
        try {
            interp::eval_block(block, true);
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            es.top = top;
            return error_of(e.category, e.id);
        }
        cell* out = string::push_new(64);
        actions::mold_typed(es.base, out, false, false, false, nullptr, INT32_MAX, 0);
        std::string text = string::to_std(out);
        stack::pop_frame();
        es.top = top;
        return text;
    }
    static std::string error_of(int32_t cat, int32_t id) {
        return "error " + std::to_string(cat) + "/" + std::to_string(id);
    }
};

} // namespace zyl::testing
