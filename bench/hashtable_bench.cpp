// bench/hashtable_bench.cpp: symbol interning and look-up, and map! puts and finds, a million
// keys each, beside std::unordered_map doing the same work. Look-ups visit the keys in a
// shuffled order.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "datatypes/init.h"
#include "datatypes/symbol.h"
#include "eval/stack.h"
#include "runtime/hashtable.h"
#include "runtime/values.h"
#include "services/random.h"

using namespace zyl;

namespace {

constexpr int N = 1000000; // names and keys prepared; a case uses the first state.range(0)

// Names as the lexer meets them: short, varied, in one flat buffer.
struct names {
    std::string bytes;
    std::vector<uint32_t> start, length;
    names() {
        char buf[32];
        for (int i = 0; i < N; i++) {
            int n = std::snprintf(buf, sizeof buf, "word-%u", static_cast<uint32_t>(i) * 7919u);
            start.push_back(static_cast<uint32_t>(bytes.size()));
            length.push_back(static_cast<uint32_t>(n));
            bytes.append(buf, n);
        }
    }
    const uint8_t* at(int i) const { return reinterpret_cast<const uint8_t*>(bytes.data()) + start[i]; }
    std::string_view view(int i) const { return {bytes.data() + start[i], length[i]}; }
};

const names& the_names() {
    static names n;
    return n;
}

// 0 .. [count] - 1 in a fixed random order: look-ups jump around as a program's do, so that
// no table gains from keys laid out in their look-up order.
std::vector<int> shuffled(int count) {
    std::vector<int> v(count);
    for (int i = 0; i < count; i++) v[i] = i;
    std::mt19937 rng(42);
    std::shuffle(v.begin(), v.end(), rng);
    return v;
}

// Memory, the datatypes and an empty symbol table.
struct runtime {
    runtime() {
        random::init();
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        datatypes::init_all();
        stack::create(1, 2);
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
    }
    ~runtime() {
        symbol::table = {};
        es = eval_stack{};
        memory::free_all();
    }
};

void intern_symbols(benchmark::State& state) {
    const names& n = the_names();
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        {
            runtime rt;
            state.ResumeTiming();
            for (int i = 0; i < count; i++) benchmark::DoNotOptimize(symbol::make_from_text(n.at(i), n.length[i]));
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(intern_symbols)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

void look_up_symbols(benchmark::State& state) {
    const names& n = the_names();
    const int count = static_cast<int>(state.range(0));
    runtime rt;
    for (int i = 0; i < count; i++) symbol::make_from_text(n.at(i), n.length[i]);
    const std::vector<int> order = shuffled(count);
    for (auto _ : state)
        for (int i : order) benchmark::DoNotOptimize(symbol::make_from_text(n.at(i), n.length[i]));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(look_up_symbols)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

void std_intern_strings(benchmark::State& state) {
    const names& n = the_names();
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::unordered_map<std::string, uint32_t> m;
        for (int i = 0; i < count; i++) benchmark::DoNotOptimize(m.try_emplace(std::string(n.view(i)), i + 1));
        state.PauseTiming();
        m = {};
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(std_intern_strings)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

void std_look_up_strings(benchmark::State& state) {
    const names& n = the_names();
    const int count = static_cast<int>(state.range(0));
    std::unordered_map<std::string_view, uint32_t> m;
    for (int i = 0; i < count; i++) m.emplace(n.view(i), i + 1);
    const std::vector<int> order = shuffled(count);
    for (auto _ : state)
        for (int i : order) benchmark::DoNotOptimize(m.find(n.view(i)));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(std_look_up_strings)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

// The integer key [i] of the map benchmarks: spread out, as distinct as [i].
inline uint32_t key_of(int i) { return static_cast<uint32_t>(i) * 7919u; }

// A map! table of [count] integer keys, each key followed by its value.
node_id fill_map(int count) {
    node_id t = hashtable::init(16, nullptr, hashtable::KIND_MAP, 1);
    node_id data = hashtable::rec(t)->data;
    for (int i = 0; i < count; i++) {
        uint32_t k = key_of(i);
        cell* c = reinterpret_cast<cell*>(series::alloc_tail_bytes(data, 2 * sizeof(cell)));
        c[0] = cell{T_integer, 0, k, 0};
        c[1] = cell{T_integer, 0, k + 1, 0};
        hashtable::put_key(t, c);
    }
    return t;
}

void map_puts(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        {
            runtime rt;
            state.ResumeTiming();
            benchmark::DoNotOptimize(fill_map(count));
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(map_puts)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

void map_finds(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    runtime rt;
    node_id t = fill_map(count);
    const std::vector<int> order = shuffled(count);
    for (auto _ : state) {
        for (int i : order) {
            cell k = {T_integer, 0, key_of(i), 0};
            benchmark::DoNotOptimize(hashtable::find(t, &k, 0, 1, 0, false, false));
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(map_finds)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

void std_map_puts(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::unordered_map<uint32_t, uint32_t> m;
        for (int i = 0; i < count; i++) m.emplace(key_of(i), key_of(i) + 1);
        benchmark::DoNotOptimize(m);
        state.PauseTiming();
        m = {};
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(std_map_puts)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

void std_map_finds(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::unordered_map<uint32_t, uint32_t> m;
    for (int i = 0; i < count; i++) m.emplace(key_of(i), key_of(i) + 1);
    const std::vector<int> order = shuffled(count);
    for (auto _ : state)
        for (int i : order) benchmark::DoNotOptimize(m.find(key_of(i)));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(std_map_finds)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

} // namespace
