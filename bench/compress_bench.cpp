// bench/compress_bench.cpp: our deflate and inflate beside zlib's compress2 and uncompress,
// side by side on 100 MB of text and 100 MB of mixed text and binary: levels 1, 6 and 9 with
// the compressed size as a counter, and inflating the level-6 stream.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "bench/codec_samples.h"
#include "services/deflate.h"

namespace {

using zyl::bench::bytes;
using zyl::bench::sample;

bytes ours(const bytes& in, int level) {
    size_t size = in.size() + in.size() / 1000 + 64;
    bytes out(size);
    zyl::compress::deflate(out.data(), size, in.data(), in.size(), level);
    out.resize(size);
    return out;
}

bytes theirs(const bytes& in, int level) {
    uLongf size = compressBound(uLong(in.size()));
    bytes out(size);
    compress2(out.data(), &size, in.data(), uLong(in.size()), level);
    out.resize(size);
    return out;
}

void deflate_ours(benchmark::State& state) {
    const bytes& in = sample(int(state.range(0)));
    size_t size = 0;
    for (auto _ : state) size = ours(in, int(state.range(1))).size();
    state.SetBytesProcessed(int64_t(state.iterations() * in.size()));
    state.counters["size"] = double(size);
}

void deflate_zlib(benchmark::State& state) {
    const bytes& in = sample(int(state.range(0)));
    size_t size = 0;
    for (auto _ : state) size = theirs(in, int(state.range(1))).size() - 6; // less the zlib framing
    state.SetBytesProcessed(int64_t(state.iterations() * in.size()));
    state.counters["size"] = double(size);
}

void inflate_ours(benchmark::State& state) {
    const bytes& in = sample(int(state.range(0)));
    bytes z = ours(in, 6), out(in.size());
    for (auto _ : state) {
        size_t size = out.size();
        benchmark::DoNotOptimize(zyl::compress::inflate(out.data(), size, z.data(), z.size()));
    }
    state.SetBytesProcessed(int64_t(state.iterations() * in.size()));
}

void inflate_zlib(benchmark::State& state) {
    const bytes& in = sample(int(state.range(0)));
    bytes z = theirs(in, 6), out(in.size());
    for (auto _ : state) {
        uLongf size = uLongf(out.size());
        benchmark::DoNotOptimize(uncompress(out.data(), &size, z.data(), uLong(z.size())));
    }
    state.SetBytesProcessed(int64_t(state.iterations() * in.size()));
}

// Arguments: sample (0 text, 1 mixed), level. One iteration each: a pass over 100 MB is long.
void levels(benchmark::internal::Benchmark* b) {
    for (int s : {0, 1})
        for (int level : {1, 6, 9}) b->Args({s, level});
    b->ArgNames({"mixed", "level"})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

void samples(benchmark::internal::Benchmark* b) {
    b->Arg(0)->Arg(1)->ArgName("mixed")->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
}

} // namespace

BENCHMARK(deflate_ours)->Apply(levels);
BENCHMARK(deflate_zlib)->Apply(levels);
BENCHMARK(inflate_ours)->Apply(samples);
BENCHMARK(inflate_zlib)->Apply(samples);
