// bench/unicode_bench.cpp: loading UTF-8 text, converting it back, and changing its case.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "runtime/case.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

using namespace zyl;

namespace {

constexpr size_t LOAD_BYTES = 100 << 20;

void fresh() {
    memory::init();
    memory::new_node_frame(NODE_FRAME_SLOTS);
    memory::new_series_frame();
}

// [bytes] of UTF-8 text: ASCII words, with one character in [every] taken from [wide].
std::vector<uint8_t> make_text(size_t bytes, size_t every, std::vector<std::vector<uint8_t>> wide) {
    std::mt19937 rng(7);
    std::vector<uint8_t> out;
    out.reserve(bytes + 8);
    while (out.size() < bytes) {
        if (every && rng() % every == 0) {
            const auto& w = wide[rng() % wide.size()];
            out.insert(out.end(), w.begin(), w.end());
        } else {
            out.push_back(rng() % 8 ? uint8_t('a' + rng() % 26) : uint8_t(' '));
        }
    }
    return out;
}

const std::vector<uint8_t>& ascii_text() {
    static const auto text = make_text(LOAD_BYTES, 0, {});
    return text;
}

// é, €, and a smiley: the text widens 1 -> 2 -> 4 early and stays at 4.
const std::vector<uint8_t>& mixed_text() {
    static const auto text =
        make_text(LOAD_BYTES, 40, {{0xC3, 0xA9}, {0xE2, 0x82, 0xAC}, {0xF0, 0x9F, 0x98, 0x80}});
    return text;
}

// é and ü only: every character fits one byte, but one in 20 needs decoding.
const std::vector<uint8_t>& latin1_text() {
    static const auto text = make_text(LOAD_BYTES, 20, {{0xC3, 0xA9}, {0xC3, 0xBC}});
    return text;
}

// About [size] bytes of [text], ending on a character boundary.
int64_t whole_chars(const std::vector<uint8_t>& text, size_t size) {
    while ((text[size] & 0xC0) == 0x80) size--;
    return int64_t(size);
}

// Loads [text] into a new buffer each iteration: the decoding and the allocation of fresh
// memory, whose first touch (page faults) costs more than the decoding itself.
void load_new(benchmark::State& state, const std::vector<uint8_t>& text) {
    for (auto _ : state) {
        state.PauseTiming();
        fresh();
        state.ResumeTiming();
        benchmark::DoNotOptimize(unicode::load_utf8_new(text.data(), int64_t(text.size())));
        state.PauseTiming();
        memory::free_all();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

// Loads [text] into one target emptied (back to unit 1) each iteration: the decoding alone.
void load_reused(benchmark::State& state, const std::vector<uint8_t>& text) {
    fresh();
    node_id target = series::alloc(4 * text.size() + 16, 1, 0);
    series_buffer* t = memory::buffer_of(target);
    memory::fill(t->data(), t->end(), 0); // touch every page before timing
    for (auto _ : state) {
        series_buffer* b = memory::buffer_of(target);
        b->tail = b->head;
        b->flags = (b->flags & ~SERIES_UNIT_MASK) | 1;
        int64_t left;
        benchmark::DoNotOptimize(unicode::load_utf8(text.data(), int64_t(text.size()), target, left, false));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    memory::free_all();
}

void load_utf8_ascii(benchmark::State& state) { load_reused(state, ascii_text()); }
BENCHMARK(load_utf8_ascii)->Unit(benchmark::kMillisecond);

void load_utf8_mixed(benchmark::State& state) { load_reused(state, mixed_text()); }
BENCHMARK(load_utf8_mixed)->Unit(benchmark::kMillisecond);

void load_utf8_latin1(benchmark::State& state) { load_reused(state, latin1_text()); }
BENCHMARK(load_utf8_latin1)->Unit(benchmark::kMillisecond);

void load_utf8_new_ascii(benchmark::State& state) { load_new(state, ascii_text()); }
BENCHMARK(load_utf8_new_ascii)->Unit(benchmark::kMillisecond);

void load_utf8_new_mixed(benchmark::State& state) { load_new(state, mixed_text()); }
BENCHMARK(load_utf8_new_mixed)->Unit(benchmark::kMillisecond);

// Converts a loaded 10 MB text back to UTF-8 through one conversion buffer.
void to_utf8(benchmark::State& state, const std::vector<uint8_t>& source) {
    fresh();
    int64_t size = whole_chars(source, 10 << 20);
    cell v{T_string, 0, unicode::load_utf8_new(source.data(), size), 0};
    node_id conv = 0;
    for (auto _ : state) {
        int64_t length = -1;
        benchmark::DoNotOptimize(unicode::to_utf8(&v, length, conv));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * size);
    memory::free_all();
}

void to_utf8_ascii(benchmark::State& state) { to_utf8(state, ascii_text()); }
BENCHMARK(to_utf8_ascii)->Unit(benchmark::kMillisecond);

void to_utf8_mixed(benchmark::State& state) { to_utf8(state, mixed_text()); }
BENCHMARK(to_utf8_mixed)->Unit(benchmark::kMillisecond);

// Upper- then lower-cases a 10 MB unit-1 text in place.
void change_case_latin1(benchmark::State& state) {
    fresh();
    unicode::init_case_tables();
    int64_t size = whole_chars(latin1_text(), 10 << 20);
    cell v{T_string, 0, unicode::load_utf8_new(latin1_text().data(), size), 0};
    uint64_t chars = series::length(v.w2);
    for (auto _ : state) {
        unicode::change_case(&v, nullptr, true);
        unicode::change_case(&v, nullptr, false);
    }
    state.SetItemsProcessed(int64_t(state.iterations() * 2 * chars));
    memory::free_all();
}
BENCHMARK(change_case_latin1)->Unit(benchmark::kMillisecond);

} // namespace
