// bench/load_save_bench.cpp: the library's load (the whole function, on a string) of 10 MB of
// generated source and save of the loaded value, beside python3's json.loads and json.dumps
// of the same data as JSON, timed in the same run.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/source_generator.h"
#include "boot/startup.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/collector.h"

using namespace zyl;

namespace {

cell global_function(const char* name) { return *context::global_value(symbol::make(name)); }

void BM_LoadFunction10MB(benchmark::State& state) {
    const std::string& src = data().source;
    runtime::start();
    {
        cell load = global_function("load");
        cell* text = stack::push(&none_value);
        string::from_utf8(text, src);
        for (auto _ : state) {
            cell* r = interp::call_with(&load, text, 1);
            benchmark::DoNotOptimize(r);
            stack::pop(1);
            state.PauseTiming();
            collector::collect();
            state.ResumeTiming();
        }
        stack::pop(1);
    }
    runtime::stop();
    state.counters["MB/s"] = benchmark::Counter(double(src.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoadFunction10MB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_SaveFunction10MB(benchmark::State& state) {
    const std::string& src = data().source;
    runtime::start();
    {
        cell load = global_function("load");
        cell save = global_function("save");
        cell* args = stack::push(&none_value);
        stack::push(&none_value);
        cell* text = stack::push(&none_value);
        string::from_utf8(text, src);
        cell* value = interp::call_with(&load, text, 1);
        args[1] = *value;
        for (auto _ : state) {
            cell* r = interp::call_with(&save, args, 2);
            benchmark::DoNotOptimize(r);
            stack::pop(1);
            state.PauseTiming();
            collector::collect();
            state.ResumeTiming();
        }
    }
    runtime::stop();
    state.counters["MB/s"] = benchmark::Counter(double(src.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SaveFunction10MB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// expand-directives over the loaded 10 MB source, which holds no directives: the
// preprocessor's walk beside the load that made the block (BM_LoadFunction10MB).
void BM_ExpandDirectives10MB(benchmark::State& state) {
    const std::string& src = data().source;
    runtime::start();
    {
        cell load = global_function("load");
        cell expand = global_function("expand-directives");
        cell* text = stack::push(&none_value);
        string::from_utf8(text, src);
        cell* code = interp::call_with(&load, text, 1);
        for (auto _ : state) {
            cell* r = interp::call_with(&expand, code, 1);
            benchmark::DoNotOptimize(r);
            stack::pop(1);
        }
    }
    runtime::stop();
    state.counters["MB/s"] = benchmark::Counter(double(src.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ExpandDirectives10MB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// python3's json.dumps of the data loaded from the same JSON: the best of five runs, as MB/s of
// the source text.
void BM_PythonJsonDumps10MB(benchmark::State& state) { time_python_json(state, true); }
BENCHMARK(BM_PythonJsonDumps10MB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
