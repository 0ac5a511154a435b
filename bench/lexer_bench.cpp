// bench/lexer_bench.cpp: loading 10 MB of generated source (numbers, words, strings, nested
// blocks) with the lexer, in MB/s, beside python3's json.loads of the same data as JSON, timed
// in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "bench/source_generator.h"
#include "datatypes/core.h"
#include "datatypes/init.h"
#include "datatypes/symbol.h"
#include "eval/stack.h"
#include "lexer/lexer.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/extres.h"
#include "runtime/memory.h"

using namespace zyl;

namespace {

struct runtime {
    runtime() {
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        datatypes::init_all();
        stack::create(1, 2);
        unicode::init_case_tables();
        extres::init();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
        lexer::init();
        collector::gc.active = true;
    }
    ~runtime() {
        collector::gc = {};
        extres::shutdown();
        symbol::table = {};
        es = eval_stack{};
        memory::free_all();
    }
};

void BM_LexerLoad10MB(benchmark::State& state) {
    const std::string& src = data().source;
    runtime rt;
    for (auto _ : state) {
        cell* result = stack::push(&none_value);
        lexer::scan(result, reinterpret_cast<const uint8_t*>(src.data()), int64_t(src.size()), {});
        benchmark::DoNotOptimize(result->w2);
        stack::pop(1);
        state.PauseTiming();
        collector::collect(); // the last load's values, as a program would collect them later
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
    state.counters["MB/s"] = benchmark::Counter(double(src.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LexerLoad10MB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// python3 -c json.loads over the same data as JSON: the best of five runs, as MB/s of the
// source text so the two rates compare the same data.
void BM_PythonJsonLoads10MB(benchmark::State& state) { time_python_json(state, false); }
BENCHMARK(BM_PythonJsonLoads10MB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
