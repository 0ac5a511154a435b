// bench/block_bench.cpp: the common block work: appending one value at a time, finding a
// value, sorting a million integers (beside std::sort on the same cells), and molding.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/init.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/case.h"
#include "runtime/memory.h"
#include "runtime/values.h"

using namespace zyl;

namespace {

// A run-time with memory, the evaluation stack and the datatypes.
struct runtime {
    runtime() {
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        datatypes::init_all();
        stack::create(1, 2);
        unicode::init_case_tables();
        actions::init();
    }
    ~runtime() {
        es = eval_stack{};
        memory::free_all();
    }
};

// A block on the stack holding [n] pseudo-random integers.
cell* random_block(size_t n) {
    cell* b = block::push_new(static_cast<int32_t>(n));
    std::mt19937 rng(7);
    for (size_t i = 0; i < n; i++) series::append_value(b->w2, integer::make_value(static_cast<int32_t>(rng())));
    return b;
}

// Appends one integer at a time through the append entry: amortised O(1).
void BM_BlockAppend(benchmark::State& state) {
    runtime rt;
    const int32_t n = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        cell* b = block::push_new(1);
        cell v = integer::make_value(0);
        for (int32_t i = 0; i < n; i++) {
            v.w2 = static_cast<uint32_t>(i);
            block::insert(b, &v, -1, false, 1, true);
        }
        benchmark::DoNotOptimize(b->w2);
        stack::pop(1);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_BlockAppend)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// Finds a value that is not there: every cell is compared once, nothing is allocated.
void BM_BlockFindInteger(benchmark::State& state) {
    runtime rt;
    size_t n = static_cast<size_t>(state.range(0));
    cell* b = random_block(n);
    cell key = integer::make_value(12345);
    for (auto _ : state) {
        cell s = *b;
        block::find(&s, &key, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(n));
}
BENCHMARK(BM_BlockFindInteger)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

// The same search for a string among strings: each cell goes through its compare entry.
void BM_BlockFindString(benchmark::State& state) {
    runtime rt;
    size_t n = static_cast<size_t>(state.range(0));
    cell* b = block::push_new(static_cast<int32_t>(n));
    for (size_t i = 0; i < n; i++) {
        cell* s = string::push_new(8);
        string::concatenate_literal(s, i % 2 ? "alpha" : "beta");
        series::append_value(b->w2, *s);
        stack::pop(1);
    }
    cell* key = string::from_utf8(stack::push_slot(), "gamma");
    for (auto _ : state) {
        cell s = *b;
        block::find(&s, key, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(n));
}
BENCHMARK(BM_BlockFindString)->Arg(1 << 16)->Unit(benchmark::kMicrosecond);

// sort on a million random integers, unstable and stable.
void run_sort(benchmark::State& state, bool stable) {
    runtime rt;
    size_t n = static_cast<size_t>(state.range(0));
    cell* input = random_block(n);
    cell* work = block::push_new(static_cast<int32_t>(n));
    for (auto _ : state) {
        state.PauseTiming();
        block::rs_clear(work);
        block::append_part(work, input, static_cast<uint32_t>(n));
        state.ResumeTiming();
        block::sort(work, false, nullptr, nullptr, nullptr, false, false, stable);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(n));
}
void BM_BlockSortIntegers(benchmark::State& state) { run_sort(state, false); }
void BM_BlockSortIntegersStable(benchmark::State& state) { run_sort(state, true); }
BENCHMARK(BM_BlockSortIntegers)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockSortIntegersStable)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The yardstick: std::sort on the same cells, ordered by their integer.
void BM_StdSortIntegerCells(benchmark::State& state) {
    runtime rt;
    size_t n = static_cast<size_t>(state.range(0));
    cell* input = random_block(n);
    const cell* first = block::cells_of(input->w2);
    std::vector<cell> work(n);
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(first, first + n, work.begin());
        state.ResumeTiming();
        std::sort(work.begin(), work.end(),
                  [](const cell& a, const cell& b) { return integer::get(&a) < integer::get(&b); });
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(n));
}
BENCHMARK(BM_StdSortIntegerCells)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Molds a block of integers, one in eight on a new line.
void BM_BlockMold(benchmark::State& state) {
    runtime rt;
    size_t n = static_cast<size_t>(state.range(0));
    cell* b = random_block(n);
    cell* c = block::cells_of(b->w2);
    for (size_t i = 0; i < n; i += 8) c[i].header |= CELL_NEW_LINE;
    for (auto _ : state) {
        cell* out = string::push_new(16);
        block::mold(b, out, false, false, false, nullptr, INT32_MAX, 0);
        benchmark::DoNotOptimize(out->w2);
        stack::pop(1);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(n));
}
BENCHMARK(BM_BlockMold)->Arg(1 << 16)->Unit(benchmark::kMillisecond);

} // namespace
