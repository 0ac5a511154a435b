// bench/hashtable_bench.cpp: symbol interning and look-up, context word look-up, and map!
// puts and finds, ten thousand and a million keys each, beside std::unordered_map doing the
// same work. Look-ups visit the keys in a shuffled order.
//
// Only the table work is timed. Each case makes its run-time once; between timed runs the
// previous run's tables are dropped and a collection reclaims their memory, so that a timed
// run works in memory the process already touched (a first, untimed run touches it), as
// std::unordered_map does in memory that malloc hands back. Buffers of 2 MB and more get
// frames of their own, mapped afresh each time: their page faults are the tables' cost.
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
#include "runtime/collector.h"
#include "runtime/extres.h"
#include "runtime/hashtable.h"
#include "runtime/values.h"
#include "services/random.h"

using namespace zyl;

namespace {

constexpr int N = 1000000; // names and keys prepared; a case uses the first state.range(0)

// Names as the lexer meets them: short, varied, in one flat buffer read from start to end,
// as a lexer reads its source. [order] gives the order they are laid out in (the identity
// when empty); name i of the layout is name order[i] of the list.
struct names {
    std::string bytes;
    std::vector<uint32_t> start, length;
    explicit names(const std::vector<int>& order = {}) {
        char buf[32];
        int count = order.empty() ? N : static_cast<int>(order.size());
        for (int k = 0; k < count; k++) {
            int i = order.empty() ? k : order[k];
            int n = std::snprintf(buf, sizeof buf, "word-%u", static_cast<uint32_t>(i) * 7919u);
            start.push_back(static_cast<uint32_t>(bytes.size()));
            length.push_back(static_cast<uint32_t>(n));
            bytes.append(buf, n);
        }
    }
    const uint8_t* at(int i) const { return reinterpret_cast<const uint8_t*>(bytes.data()) + start[i]; }
    std::string_view view(int i) const { return {bytes.data() + start[i], length[i]}; }
};

// 0 .. [count] - 1 in a fixed random order: look-ups jump around as a program's do, so that
// no table gains from keys laid out in their look-up order.
std::vector<int> shuffled(int count) {
    std::vector<int> v(count);
    for (int i = 0; i < count; i++) v[i] = i;
    std::mt19937 rng(42);
    std::shuffle(v.begin(), v.end(), rng);
    return v;
}

const names& the_names() {
    static names n;
    return n;
}

// The first [count] names in a shuffled order, laid out in that order: the look-ups read
// their text in sequence while the tables are visited at random.
const names& shuffled_names(int count) {
    static std::unordered_map<int, names> made;
    auto it = made.find(count);
    if (it == made.end()) it = made.emplace(count, names(shuffled(count))).first;
    return it->second;
}

// Bytes of the one series frame that every run of a case reuses.
constexpr uint32_t ARENA = 256u << 20;

// Memory, the datatypes and the collector, for one run of a case. Series buffers go to one
// large frame: the collector releases emptied frames other than the last, so that with the
// usual small frames every run would map fresh frames again and time their page faults.
struct runtime {
    runtime() {
        random::init();
        memory::init();
        mm.next_frame_size = ARENA;
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        datatypes::init_all();
        stack::create(1, 2);
        extres::init();
    }
    ~runtime() {
        symbol::table = {};
        extres::shutdown();
        es = eval_stack{};
        memory::free_all();
    }
};

// Holds one node of every node frame on the stack: the collector releases node frames that
// it empties, and the next run would then make (and page in) new ones.
void hold_node_frames() {
    for (node_frame* f = mm.first_node_frame; f; f = f->next) {
        node_id first = f->index * NODE_FRAME_STRIDE + 1;
        for (uint32_t i = 0; i < f->slot_count; i++) {
            uint64_t slot = *memory::slot_of(first + i);
            if (!slot || (slot & 1)) continue; // free, or not linked yet
            cell held = {T_binary, 0, first + i, 0}; // marks the buffer and nothing it holds
            stack::push(&held);
            break;
        }
    }
}

// Drops every table of earlier runs (the symbol table and whatever the stack holds) and
// collects, so that the next run reuses their memory.
void reclaim() {
    symbol::table = {};
    stack::pop(static_cast<uint32_t>(es.top - es.bottom));
    hold_node_frames();
    collector::collect();
}

// A fresh, empty symbol table, as the start-up makes it.
void new_symbol_table() {
    reclaim();
    symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
}

void intern_names(int count) {
    const names& n = the_names();
    for (int i = 0; i < count; i++) benchmark::DoNotOptimize(symbol::make_from_text(n.at(i), n.length[i]));
}

// {== Symbols

void intern_symbols(benchmark::State& state) {
    runtime rt;
    const int count = static_cast<int>(state.range(0));
    new_symbol_table();
    intern_names(count); // once untimed, so that timed runs find the memory touched
    for (auto _ : state) {
        state.PauseTiming();
        new_symbol_table();
        state.ResumeTiming();
        intern_names(count);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(intern_symbols)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

void look_up_symbols(benchmark::State& state) {
    runtime rt;
    const int count = static_cast<int>(state.range(0));
    new_symbol_table();
    intern_names(count);
    const names& n = shuffled_names(count);
    for (auto _ : state)
        for (int i = 0; i < count; i++) benchmark::DoNotOptimize(symbol::make_from_text(n.at(i), n.length[i]));
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
    const names& s = shuffled_names(count);
    for (auto _ : state)
        for (int i = 0; i < count; i++) benchmark::DoNotOptimize(m.find(s.view(i)));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(std_look_up_strings)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

// }==
// {== Context words: a context of [count] words, looked up by canonical symbol as binding does

void look_up_context_words(benchmark::State& state) {
    runtime rt;
    const int count = static_cast<int>(state.range(0));
    new_symbol_table();
    intern_names(count);
    node_id t = hashtable::init(16, nullptr, hashtable::KIND_WORD, hashtable::SUB_CONTEXT);
    cell held = {T_map, 0, hashtable::rec(t)->data, t}; // marks the table and its word list
    stack::push(&held);
    node_id context = series::alloc_cells(1);
    int32_t index;
    for (int i = 0; i < count; i++) hashtable::context_find_word(t, static_cast<uint32_t>(i + 1), true, context, &index);
    const std::vector<int> order = shuffled(count);
    for (auto _ : state)
        for (int i : order)
            benchmark::DoNotOptimize(hashtable::context_find_word(t, static_cast<uint32_t>(i + 1), true, 0, nullptr));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(look_up_context_words)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

void std_look_up_ids(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::unordered_map<uint32_t, int32_t> m;
    for (int i = 0; i < count; i++) m.emplace(static_cast<uint32_t>(i + 1), i);
    const std::vector<int> order = shuffled(count);
    for (auto _ : state)
        for (int i : order) benchmark::DoNotOptimize(m.find(static_cast<uint32_t>(i + 1)));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(std_look_up_ids)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

// }==
// {== map!

// The integer key [i] of the map benchmarks: spread out, as distinct as [i].
inline uint32_t key_of(int i) { return static_cast<uint32_t>(i) * 7919u; }

// A new, empty map! table over a block with room for [count] pairs, held on the evaluation
// stack. The block is sized first, as `make map! n` does, so that the puts time the table and
// not the block's doubling (which std::unordered_map has no counterpart of).
node_id new_map(int count) {
    reclaim();
    node_id data = series::alloc_cells(2 * uint64_t(count));
    series_buffer* b = memory::buffer_of(data);
    memory::fill(b->data(), b->end(), 0); // touched now, so that the puts take no page faults
    cell block = {T_block, 0, data, 0};
    stack::push(&block);
    node_id t = hashtable::init(16, &block, hashtable::KIND_MAP, 1);
    cell held = {T_map, 0, data, t};
    stack::push(&held);
    return t;
}

// Appends [count] integer pairs (key, key + 1) to the map's block and indexes each key, as
// map! put does with a new key.
void fill_map(node_id t, int count) {
    node_id data = hashtable::rec(t)->data;
    for (int i = 0; i < count; i++) {
        uint32_t k = key_of(i);
        cell* c = reinterpret_cast<cell*>(series::alloc_tail_bytes(data, 2 * sizeof(cell)));
        c[0] = cell{T_integer, 0, k, 0};
        c[1] = cell{T_integer, 0, k + 1, 0};
        hashtable::put_key(t, c);
    }
}

void map_puts(benchmark::State& state) {
    runtime rt;
    const int count = static_cast<int>(state.range(0));
    fill_map(new_map(count), count); // once untimed, so that timed runs find the memory touched
    for (auto _ : state) {
        state.PauseTiming();
        node_id t = new_map(count);
        state.ResumeTiming();
        fill_map(t, count);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(map_puts)->Arg(10000)->Arg(N)->Unit(benchmark::kMillisecond);

void map_finds(benchmark::State& state) {
    runtime rt;
    const int count = static_cast<int>(state.range(0));
    node_id t = new_map(count);
    fill_map(t, count);
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

// }==

} // namespace
