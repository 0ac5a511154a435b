// bench/word_bench.cpp: words: reading and setting bound words (global and function contexts),
// binding a block of words to the global context, and loading words by name, over ten
// thousand words visited in a shuffled order.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/init.h"
#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "runtime/case.h"
#include "runtime/values.h"
#include "runtime/words.h"
#include "services/random.h"

using namespace zyl;

namespace {

constexpr int WORDS = 10000;

// Memory, the datatypes, the symbol table, the global context and the predefined words.
struct runtime {
    runtime() {
        random::init();
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        datatypes::init_all();
        stack::create(1, 2);
        unicode::init_case_tables();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
        context::make_global();
        words::build();
    }
    ~runtime() {
        context::forget_global();
        words::sym = {};
        symbol::table = {};
        es = eval_stack{};
        memory::free_all();
    }
};

std::vector<std::string> names() {
    std::vector<std::string> v;
    char buf[32];
    for (int i = 0; i < WORDS; i++) {
        std::snprintf(buf, sizeof buf, "word-%u", static_cast<uint32_t>(i) * 7919u);
        v.emplace_back(buf);
    }
    return v;
}

// [WORDS] global words, each set to its number, in a shuffled order.
std::vector<cell> global_words() {
    std::vector<cell> ws;
    for (const std::string& n : names()) ws.push_back(word::load(n.c_str()));
    for (size_t i = 0; i < ws.size(); i++) {
        cell v = integer::make_value(static_cast<int32_t>(i));
        word::set_value(&ws[i], &v);
    }
    std::shuffle(ws.begin(), ws.end(), std::mt19937(42));
    return ws;
}

void read_global_words(benchmark::State& state) {
    runtime rt;
    std::vector<cell> ws = global_words();
    for (auto _ : state)
        for (const cell& w : ws) benchmark::DoNotOptimize(word::get_value(&w)->w2);
    state.SetItemsProcessed(state.iterations() * WORDS);
}
BENCHMARK(read_global_words)->Unit(benchmark::kMicrosecond);

void set_global_words(benchmark::State& state) {
    runtime rt;
    std::vector<cell> ws = global_words();
    cell v = integer::make_value(1);
    for (auto _ : state)
        for (cell& w : ws) benchmark::DoNotOptimize(word::set_value(&w, &v));
    state.SetItemsProcessed(state.iterations() * WORDS);
}
BENCHMARK(set_global_words)->Unit(benchmark::kMicrosecond);

// The arguments of a running function, read as its body reads them.
void read_function_arguments(benchmark::State& state) {
    runtime rt;
    node_id spec = series::alloc_cells(4);
    const char* args[] = {"a", "b", "c", "d"};
    for (const char* a : args)
        series::append_value(spec, word::make_value(T_word, 0, symbol::make(a), word::NO_INDEX));
    cell spec_block{T_block, 0, spec, 0};
    stack::push(&spec_block);
    node_id ctx = context::make_from_spec(&spec_block, true, false, context::KIND_FUNCTION);
    cell f = word::load("f");
    stack::mark_func_context(&f, ctx);
    for (int32_t i = 0; i < 4; i++) {
        cell v = integer::make_value(i);
        stack::push(&v);
    }
    stack::mark_func(&f, ctx);
    std::vector<cell> body;
    for (int i = 0; i < WORDS; i++)
        body.push_back(word::make_value(T_word, ctx, 0, static_cast<uint32_t>(i % 4)));
    for (auto _ : state)
        for (const cell& w : body) benchmark::DoNotOptimize(word::get_value(&w)->w2);
    state.SetItemsProcessed(state.iterations() * WORDS);
}
BENCHMARK(read_function_arguments)->Unit(benchmark::kMicrosecond);

// A block of [WORDS] unbound words bound to the global context, which holds them all.
void bind_to_global(benchmark::State& state) {
    runtime rt;
    std::vector<cell> ws = global_words();
    node_id n = series::alloc_cells(WORDS);
    for (const cell& w : ws)
        series::append_value(n, word::make_value(T_word, 0, w.w2, word::NO_INDEX));
    cell blk{T_block, 0, n, 0};
    stack::push(&blk);
    for (auto _ : state) benchmark::DoNotOptimize(context::bind(&blk, context::global(), false));
    state.SetItemsProcessed(state.iterations() * WORDS);
}
BENCHMARK(bind_to_global)->Unit(benchmark::kMicrosecond);

// Loading words whose names are already global: intern (found) and find in the context.
void load_known_words(benchmark::State& state) {
    runtime rt;
    std::vector<std::string> ns = names();
    global_words();
    std::shuffle(ns.begin(), ns.end(), std::mt19937(7));
    for (auto _ : state)
        for (const std::string& n : ns) benchmark::DoNotOptimize(word::load(n.c_str()).w3);
    state.SetItemsProcessed(state.iterations() * WORDS);
}
BENCHMARK(load_known_words)->Unit(benchmark::kMicrosecond);

} // namespace
