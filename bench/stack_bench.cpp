// bench/stack_bench.cpp: the evaluation stack's most frequent operations.
#include <benchmark/benchmark.h>

#include "eval/stack.h"

using namespace zyl;

namespace {

// One call as the interpreter makes it: mark a frame, push two arguments, unwind the result.
void push_mark_unwind(benchmark::State& state) {
    memory::init();
    memory::new_node_frame(NODE_FRAME_SLOTS);
    memory::new_series_frame();
    stack::create(1, 2);
    cell w{T_word, 0, 10, 0}, v{T_integer, 0, 1, 0};
    stack::mark_native(&w);
    stack::push(&v);
    for (auto _ : state) {
        for (int i = 0; i < 1000000; i++) {
            stack::mark_interp_native(&w);
            stack::push(&v);
            stack::push(&v);
            stack::unwind_last();
            stack::reset();
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
    es = eval_stack{};
    memory::free_all();
}
BENCHMARK(push_mark_unwind)->Unit(benchmark::kMillisecond);

} // namespace
