// bench/sort_bench.cpp: both sorts on 16-byte records, random and already sorted.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "runtime/sort.h"

using namespace zyl;

namespace {

// A record the size of a cell, keyed by its first word.
struct record {
    int32_t key;
    uint32_t rest[3];
};
static_assert(sizeof(record) == 16);

int32_t by_key(const void* a, const void* b, uintptr_t, uintptr_t) {
    int32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return (x > y) - (x < y);
}

std::vector<record> make_records(size_t n, bool sorted) {
    std::mt19937 rng(12345);
    std::vector<record> v(n);
    for (size_t i = 0; i < n; i++) {
        v[i].key = sorted ? static_cast<int32_t>(i) : static_cast<int32_t>(rng());
        v[i].rest[0] = v[i].rest[1] = v[i].rest[2] = static_cast<uint32_t>(i);
    }
    return v;
}

using sort_fn = void (*)(void*, size_t, size_t, uintptr_t, uintptr_t, sort::compare_fn);

void run(benchmark::State& state, sort_fn fn, bool sorted) {
    size_t n = static_cast<size_t>(state.range(0));
    const std::vector<record> input = make_records(n, sorted);
    std::vector<record> work(n);
    for (auto _ : state) {
        state.PauseTiming();
        work = input;
        state.ResumeTiming();
        fn(work.data(), n, sizeof(record), 0, 0, by_key);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void quicksort_random(benchmark::State& s) { run(s, sort::quicksort_start, false); }
void quicksort_sorted(benchmark::State& s) { run(s, sort::quicksort_start, true); }
void mergesort_random(benchmark::State& s) { run(s, sort::mergesort, false); }
void mergesort_sorted(benchmark::State& s) { run(s, sort::mergesort, true); }

BENCHMARK(quicksort_random)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(quicksort_sorted)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(mergesort_random)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(mergesort_sorted)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace
