// bench/codec_bench.cpp: the base codecs (encoding and decoding 64 KB in bases 2, 16 and 64,
// 4 KB in base 58), molding a large binary, appending bytes, and testing bitset members.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/init.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/base_codecs.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/extres.h"
#include "runtime/memory.h"

using namespace zyl;

namespace {

// A run-time with memory, the evaluation stack, the datatypes and the collector on, so that
// what a loop drops is reclaimed.
struct runtime {
    runtime() {
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        datatypes::init_all();
        stack::create(1, 2);
        unicode::init_case_tables();
        actions::init();
        extres::init();
        collector::gc.root_block = series::alloc_unmanaged(16, sizeof(cell), 0);
        collector::gc.active = true;
    }
    ~runtime() {
        collector::gc = {};
        extres::shutdown();
        es = eval_stack{};
        memory::free_all();
    }
};

std::vector<uint8_t> random_bytes(size_t n) {
    std::mt19937 rng(3);
    std::vector<uint8_t> b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

using encoder = uint8_t* (*)(uint8_t*, const uint8_t*, uint32_t);
using decoder = node_id (*)(const uint8_t*, uint32_t, uint32_t);

struct codec {
    encoder e;
    decoder d;
    size_t bytes;
};

codec codec_of(int64_t base) {
    switch (base) {
    case 2: return {binary::encode_2, binary::decode_2, 64 << 10};
    case 16: return {binary::encode_16, binary::decode_16, 64 << 10};
    case 58: return {binary::encode_58, binary::decode_58, 4 << 10};
    default: return {binary::encode_64, binary::decode_64, 64 << 10};
    }
}

void BM_Encode(benchmark::State& state) {
    codec c = codec_of(state.range(0));
    std::vector<uint8_t> in = random_bytes(c.bytes);
    std::vector<uint8_t> out(c.bytes * 8 + 8);
    for (auto _ : state) benchmark::DoNotOptimize(c.e(out.data(), in.data(), uint32_t(in.size())));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Encode)->Arg(2)->Arg(16)->Arg(58)->Arg(64);

// Decodes into a new series each time (the collector takes them back).
void BM_Decode(benchmark::State& state) {
    runtime rt;
    codec c = codec_of(state.range(0));
    std::vector<uint8_t> in = random_bytes(c.bytes);
    std::vector<uint8_t> text(c.bytes * 8 + 8);
    text.resize(c.e(text.data(), in.data(), uint32_t(in.size())) - text.data());
    for (auto _ : state) benchmark::DoNotOptimize(c.d(text.data(), uint32_t(text.size()), 1));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Decode)->Arg(2)->Arg(16)->Arg(58)->Arg(64);

// Molds a 1 MB binary: 2 digits a byte, a line break every 32 bytes.
void BM_MoldBinary(benchmark::State& state) {
    runtime rt;
    std::vector<uint8_t> in = random_bytes(1 << 20);
    cell b = *binary::push_from_buffer(in.data(), uint32_t(in.size()));
    for (auto _ : state) {
        cell* out = string::push_new(uint32_t(in.size() * 2 + in.size() / 8));
        binary::mold(&b, out, false, false, false, nullptr, INT32_MAX, 0);
        benchmark::DoNotOptimize(out);
        stack::pop(1);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_MoldBinary)->Unit(benchmark::kMillisecond);

// Appends integers and short strings one at a time through the append entry.
void BM_AppendValues(benchmark::State& state) {
    runtime rt;
    cell text;
    string::from_utf8(&text, "abcdefgh");
    stack::push(&text);
    for (auto _ : state) {
        cell* b = binary::make_at(stack::push_slot(), 16);
        for (int i = 0; i < 100000; i++) {
            cell v = i % 2 ? text : cell{T_integer, 0, uint32_t(i & 0x7F), 0};
            binary::append(b, &v, -1, false, 1, true);
        }
        benchmark::DoNotOptimize(b);
        stack::pop(1);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 100000);
}
BENCHMARK(BM_AppendValues)->Unit(benchmark::kMillisecond);

// Tests a million code points against a negated charset.
void BM_BitsetMembers(benchmark::State& state) {
    runtime rt;
    cell bs = *bitset::make_at(stack::push_slot(), 8192, true);
    bitset::bits_head(&bs)[12] = 0x0F;
    for (auto _ : state) {
        uint32_t hits = 0;
        for (uint32_t cp = 0; cp < 1000000; cp++) hits += bitset::has_q(&bs, cp);
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 1000000);
}
BENCHMARK(BM_BitsetMembers);

} // namespace
