// bench/collector_bench.cpp: allocation-heavy loops with the collector on (blocks and strings
// made and dropped, from C++ and from a Zyl loop) and full collections over a live heap. Each
// reports, beside its time: gc_share, the part of the time spent collecting; gcs, collections
// per iteration; peak_MB, the most memory the manager held; rss_MB, the resident peak.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/init.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/values.h"

using namespace zyl;

namespace {

// {== Measuring

uint64_t peak_total; // the most mm.total seen at a collection, where memory is fullest

void sample_total() { peak_total = std::max(peak_total, mm.total); }

// The resident peak (VmHWM) in bytes, 0 when unknown.
uint64_t resident_peak() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    uint64_t kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::strtoull(line + 6, nullptr, 10);
    std::fclose(f);
    return kb * 1024;
}

// Starts the resident peak anew from the current resident size, where the system allows it.
void reset_resident_peak() {
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

// Reads the collector's counters around a benchmark loop and reports them.
struct gc_meter {
    uint32_t cycles = collector::gc.cycles;
    uint64_t nanos = collector::gc.nanos;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    gc_meter() {
        peak_total = mm.total;
        collector::add_mark_hook(&sample_total);
        reset_resident_peak();
    }
    ~gc_meter() { collector::remove_mark_hook(&sample_total); }

    void report(benchmark::State& state) {
        auto wall = std::chrono::steady_clock::now() - start;
        double wall_ns = static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count());
        double gc_ns = static_cast<double>(collector::gc.nanos - nanos);
        sample_total();
        state.counters["gc_share"] = wall_ns > 0 ? gc_ns / wall_ns : 0.0;
        state.counters["gcs"] = benchmark::Counter(collector::gc.cycles - cycles, benchmark::Counter::kAvgIterations);
        state.counters["peak_MB"] = static_cast<double>(peak_total) / (1 << 20);
        state.counters["rss_MB"] = static_cast<double>(resident_peak()) / (1 << 20);
    }
};

// }==
// {== From C++

// Memory, the evaluation stack and the datatypes, with the collector on and a root block.
struct small_runtime {
    node_id root;
    small_runtime() {
        collector::gc = {};
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        datatypes::init_all();
        stack::create(1, 2);
        root = series::alloc_unmanaged(16, sizeof(cell), 0);
        collector::gc.root_block = root;
        collector::gc.active = true;
    }
    ~small_runtime() {
        collector::gc = {};
        es = eval_stack{};
        memory::free_all();
    }
};

constexpr int CHURN = 10000; // values made and dropped per iteration

// Blocks of four cells, each filled and dropped; one in a thousand is kept until the next
// iteration, so the live heap is small but not empty.
void BM_BlockChurn(benchmark::State& state) {
    small_runtime rt;
    node_id keep = series::alloc_cells(16);
    series::append_value(rt.root, cell{T_block, 0, keep, 0});
    gc_meter meter;
    for (auto _ : state) {
        memory::buffer_of(keep)->tail = memory::buffer_of(keep)->head;
        for (int i = 0; i < CHURN; i++) {
            node_id b = series::alloc_cells(4);
            for (int k = 0; k < 4; k++) series::append_value(b, integer::make_value(i + k));
            if (i % 1000 == 0) series::append_value(keep, cell{T_block, 0, b, 0});
        }
    }
    meter.report(state);
    state.SetItemsProcessed(state.iterations() * CHURN);
}
BENCHMARK(BM_BlockChurn);

// Strings made, grown past their first buffer and dropped.
void BM_StringChurn(benchmark::State& state) {
    small_runtime rt;
    gc_meter meter;
    for (auto _ : state) {
        for (int i = 0; i < CHURN; i++) {
            cell* s = string::push_new(16);
            string::concatenate_literal(s, "string churn: ");
            string::concatenate_literal(s, "grown past its first sixteen bytes");
            stack::pop(1);
        }
    }
    meter.report(state);
    state.SetItemsProcessed(state.iterations() * CHURN);
}
BENCHMARK(BM_StringChurn);

// One full collection over a live heap of [range(0)] blocks, each holding a string.
void BM_FullCollection(benchmark::State& state) {
    small_runtime rt;
    auto n = static_cast<uint32_t>(state.range(0));
    node_id all = series::alloc_cells(n);
    series::append_value(rt.root, cell{T_block, 0, all, 0});
    for (uint32_t i = 0; i < n; i++) {
        cell* s = string::push_new(16);
        string::concatenate_literal(s, "live");
        node_id b = series::alloc_cells(2);
        series::append_value(b, *s);
        series::append_value(all, cell{T_block, 0, b, 0});
        stack::pop(1);
    }
    gc_meter meter;
    for (auto _ : state) collector::collect();
    meter.report(state);
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_FullCollection)->Arg(10000)->Arg(100000);

// }==
// {== From a Zyl loop

// The whole run-time, as the program starts it.
struct full_runtime {
    full_runtime() {
        collector::gc = {};
        datatype::reg.words_made = false;
        runtime::start();
    }
    ~full_runtime() { runtime::stop(); }
};

// Evaluates [src] once per iteration (loaded once, kept on the stack).
void run_zyl(benchmark::State& state, const char* src) {
    full_runtime rt;
    cell* code = runtime::load_text(reinterpret_cast<const uint8_t*>(src), std::strlen(src));
    gc_meter meter;
    for (auto _ : state) {
        interp::eval_block(code, false);
        stack::pop(1);
    }
    meter.report(state);
    state.SetItemsProcessed(state.iterations() * CHURN);
}

void BM_ZylBlockChurn(benchmark::State& state) {
    run_zyl(state, "loop 10000 [b: copy [1 2 3] append b 4 append/only b copy [5 6]]");
}
BENCHMARK(BM_ZylBlockChurn);

void BM_ZylStringChurn(benchmark::State& state) {
    run_zyl(state, "loop 10000 [s: copy {abc} append s {def} append s form 12345]");
}
BENCHMARK(BM_ZylStringChurn);

// }==

} // namespace
