// bench/number_bench.cpp: number arithmetic through the action entries, the evaluator's
// hottest path after word lookup, and the float text that printing results costs.
#include <benchmark/benchmark.h>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/init.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"

using namespace zyl;

namespace {

constexpr int ADDITIONS = 10000000;

// Memory, the stack and the datatypes, and a native frame holding two argument cells.
struct runtime {
    runtime() {
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        datatypes::init_all();
        stack::create(1, 2);
        cell w{T_word, 0, 10, 0};
        stack::mark_native(&w);
        stack::push(&unset_value);
        stack::push(&unset_value);
    }
    ~runtime() {
        es = eval_stack{};
        memory::free_all();
    }
};

// Ten million `add` calls as the interpreter makes them: the arguments in cells 0 and 1,
// the entry found by the dispatcher, the sum read back from cell 0.
void add_loop(benchmark::State& state, cell start, cell step) {
    runtime rt;
    for (auto _ : state) {
        cell sum = start;
        for (int i = 0; i < ADDITIONS; i++) {
            es.base[0] = sum;
            es.base[1] = step;
            actions::handler<actions::direct_fn>(es.base, A_add)();
            sum = es.base[0];
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * ADDITIONS);
}

void integer_add(benchmark::State& state) { add_loop(state, integer::make_value(0), integer::make_value(1)); }
BENCHMARK(integer_add)->Unit(benchmark::kMillisecond);

void float_add(benchmark::State& state) { add_loop(state, float_::make_value(0.0), float_::make_value(0.5)); }
BENCHMARK(float_add)->Unit(benchmark::kMillisecond);

// An integer plus a float goes through the dispatcher to the float arithmetic.
void integer_float_add(benchmark::State& state) {
    runtime rt;
    cell one = integer::make_value(1), half = float_::make_value(0.5);
    for (auto _ : state) {
        for (int i = 0; i < ADDITIONS; i++) {
            es.base[0] = one;
            es.base[1] = half;
            actions::handler<actions::direct_fn>(es.base, A_add)();
        }
        benchmark::DoNotOptimize(es.base[0]);
    }
    state.SetItemsProcessed(state.iterations() * ADDITIONS);
}
BENCHMARK(integer_float_add)->Unit(benchmark::kMillisecond);

// Forming 100,000 floats of full precision, as the console prints float results.
void float_form(benchmark::State& state) {
    runtime rt;
    cell out;
    auto form = datatype::action_as<actions::form_fn>(T_float_, A_form);
    for (auto _ : state) {
        string::make_at(&out, 16);
        for (int i = 0; i < 100000; i++) {
            cell v = float_::make_value(i * 0.1 + 1.0 / 3);
            form(&v, &out, nullptr, INT32_MAX);
        }
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(float_form)->Unit(benchmark::kMillisecond);

} // namespace
