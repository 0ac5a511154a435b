// bench/string_bench.cpp: the common text work: appending characters and text to a string,
// molding a large string, finding in it, and sorting it.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "datatypes/init.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/case.h"
#include "runtime/memory.h"

using namespace zyl;

namespace {

constexpr size_t MOLD_BYTES = 1 << 20;

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

// [bytes] of text: words and spaces, with a line feed, a quote or a brace now and then, and
// one character in [wide_every] (0: none) above 255.
std::string make_text(size_t bytes, size_t wide_every) {
    std::mt19937 rng(11);
    std::string out;
    out.reserve(bytes + 4);
    while (out.size() < bytes) {
        uint32_t r = rng() % 64;
        if (wide_every && rng() % wide_every == 0) out += "\xE2\x82\xAC";
        else if (r == 0) out += '\n';
        else if (r == 1) out += '"';
        else if (r == 2) out += '{';
        else if (r == 3) out += '}';
        else out += r < 12 ? ' ' : char('a' + r % 26);
    }
    return out;
}

// Appends one character at a time: amortised O(1), no allocation per call.
void BM_AppendChar(benchmark::State& state) {
    runtime rt;
    for (auto _ : state) {
        cell* s = string::push_new(16);
        for (int64_t i = 0; i < state.range(0); i++) string::append_char(s->w2, 'a' + i % 26);
        benchmark::DoNotOptimize(s->w2);
        stack::pop(1);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AppendChar)->Arg(1 << 10)->Arg(1 << 20);

// append through the action: a short text each time.
void BM_AppendAction(benchmark::State& state) {
    runtime rt;
    cell* piece = string::from_utf8(stack::push_slot(), "abc");
    for (auto _ : state) {
        cell* s = string::push_new(16);
        for (int64_t i = 0; i < state.range(0); i++) string::append(s, piece, -1, false, 1, true);
        benchmark::DoNotOptimize(s->w2);
        stack::pop(1);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AppendAction)->Arg(1 << 16);

// Molds a 1 MB string; [range(0)] chooses one character in that many above 255 (0: none).
void BM_Mold(benchmark::State& state) {
    runtime rt;
    std::string text = make_text(MOLD_BYTES, size_t(state.range(0)));
    cell* s = string::from_utf8(stack::push_slot(), text);
    uint32_t chars = string::length_of(s);
    cell* out = string::push_new(16);
    for (auto _ : state) {
        string::rs_reset(out); // the buffer is reused, as a collector would give its room back
        string::mold(s, out, false, false, false, nullptr, INT32_MAX, 0);
        benchmark::DoNotOptimize(out->w2);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * chars);
}
BENCHMARK(BM_Mold)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond);

// Finds a text that occurs only at the end of 1 MB, case-insensitively.
void BM_FindText(benchmark::State& state) {
    runtime rt;
    std::string text = make_text(MOLD_BYTES, 0) + "needle";
    cell* s = string::from_utf8(stack::push_slot(), text);
    cell* needle = string::from_utf8(stack::push_slot(), "NEEDLE");
    for (auto _ : state) {
        cell r = *s;
        string::find(&r, needle, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
        benchmark::DoNotOptimize(r.w1);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_FindText)->Unit(benchmark::kMillisecond);

// Sorts 64 KB of characters.
void BM_Sort(benchmark::State& state) {
    runtime rt;
    std::string text = make_text(1 << 16, 0);
    cell* src = string::from_utf8(stack::push_slot(), text);
    for (auto _ : state) {
        state.PauseTiming();
        cell* s = string::push_new(1 << 16);
        string::insert_core(s, src, -1, 0, string::COPY_APPEND);
        state.ResumeTiming();
        string::sort(s, false, nullptr, nullptr, nullptr, false, false, state.range(0) != 0);
        stack::pop(1);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(text.size()));
}
BENCHMARK(BM_Sort)->Arg(0)->Arg(1);

} // namespace
