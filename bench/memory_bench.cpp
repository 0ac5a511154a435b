// bench/memory_bench.cpp: allocation and growth.
#include <benchmark/benchmark.h>

#include "runtime/memory.h"
#include "runtime/values.h"

using namespace zyl;

namespace {

struct fresh_memory {
    fresh_memory() {
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
    }
    ~fresh_memory() { memory::free_all(); }
};

void small_allocations(benchmark::State& state) {
    fresh_memory m;
    for (auto _ : state) {
        for (int i = 0; i < 1000; i++) benchmark::DoNotOptimize(series::alloc_bytes(32));
        state.PauseTiming();
        memory::free_all();
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(small_allocations);

void append_cells(benchmark::State& state) {
    fresh_memory m;
    for (auto _ : state) {
        node_id n = series::alloc_cells(1);
        for (int i = 0; i < state.range(0); i++) benchmark::DoNotOptimize(series::append_unset_cell(n));
        state.PauseTiming();
        memory::free_all();
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(append_cells)->Arg(1000)->Arg(100000);

} // namespace
