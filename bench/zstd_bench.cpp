// bench/zstd_bench.cpp: our zstd coder beside libzstd's ZSTD_compress and ZSTD_decompress, side
// by side on 100 MB of text and 100 MB of mixed text and binary: compressing at levels 1, 3,
// 9 and 19 with the size as a counter, and decoding the frames libzstd writes at 3 and 19.
#include <benchmark/benchmark.h>
#include <zstd.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/codec_samples.h"
#include "services/zstd_decode.h"
#include "services/zstd_encode.h"

namespace {

using zyl::bench::bytes;
using zyl::bench::sample;

bytes ours(const bytes& in, int level) {
    size_t size = zyl::compress::zstd_bound(in.size());
    bytes out(size);
    zyl::compress::zstd_compress(out.data(), size, in.data(), in.size(), level);
    out.resize(size);
    return out;
}

bytes theirs(const bytes& in, int level) {
    bytes out(ZSTD_compressBound(in.size()));
    out.resize(ZSTD_compress(out.data(), out.size(), in.data(), in.size(), level));
    return out;
}

// libzstd's frame of a sample at a level, made once: at level 19 that alone takes a minute
// for 100 MB, and each decoding benchmark would otherwise make it again.
const bytes& frame_of(int which, int level) {
    static std::map<std::pair<int, int>, bytes> made;
    auto [it, fresh] = made.try_emplace({which, level});
    if (fresh) it->second = theirs(sample(which), level);
    return it->second;
}

void zstd_compress_ours(benchmark::State& state) {
    const bytes& in = sample(int(state.range(0)));
    size_t size = 0;
    for (auto _ : state) size = ours(in, int(state.range(1))).size();
    state.SetBytesProcessed(int64_t(state.iterations() * in.size()));
    state.counters["size"] = double(size);
}

void zstd_compress_libzstd(benchmark::State& state) {
    const bytes& in = sample(int(state.range(0)));
    size_t size = 0;
    for (auto _ : state) size = theirs(in, int(state.range(1))).size();
    state.SetBytesProcessed(int64_t(state.iterations() * in.size()));
    state.counters["size"] = double(size);
}

void zstd_decompress_ours(benchmark::State& state) {
    const bytes& in = sample(int(state.range(0)));
    const bytes& z = frame_of(int(state.range(0)), int(state.range(1)));
    bytes out(in.size());
    for (auto _ : state) {
        size_t size = out.size();
        benchmark::DoNotOptimize(zyl::compress::zstd_decompress(out.data(), size, z.data(), z.size()));
    }
    if (out != in) state.SkipWithError("decoded bytes differ"); // speed counts only when exact
    state.SetBytesProcessed(int64_t(state.iterations() * in.size()));
}

void zstd_decompress_libzstd(benchmark::State& state) {
    const bytes& in = sample(int(state.range(0)));
    const bytes& z = frame_of(int(state.range(0)), int(state.range(1)));
    bytes out(in.size());
    for (auto _ : state) benchmark::DoNotOptimize(ZSTD_decompress(out.data(), out.size(), z.data(), z.size()));
    state.SetBytesProcessed(int64_t(state.iterations() * in.size()));
}

// Arguments: sample (0 text, 1 mixed), level. One iteration each: a pass over 100 MB is long.
void levels(benchmark::internal::Benchmark* b) {
    for (int s : {0, 1})
        for (int level : {1, 3, 9, 19}) b->Args({s, level});
    b->ArgNames({"mixed", "level"})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

void streams(benchmark::internal::Benchmark* b) {
    for (int s : {0, 1})
        for (int level : {3, 19}) b->Args({s, level});
    b->ArgNames({"mixed", "level"})->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
}

} // namespace

BENCHMARK(zstd_compress_ours)->Apply(levels);
BENCHMARK(zstd_compress_libzstd)->Apply(levels);
BENCHMARK(zstd_decompress_ours)->Apply(streams);
BENCHMARK(zstd_decompress_libzstd)->Apply(streams);
