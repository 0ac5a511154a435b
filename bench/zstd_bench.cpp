// bench/zstd_bench.cpp: our zstd coder beside libzstd's ZSTD_compress and ZSTD_decompress, side
// by side on 100 MB of text and 100 MB of mixed text and binary: compressing at levels 1, 3,
// 9 and 19 with the size as a counter, and decoding the frames libzstd writes at 3 and 19.
#include <benchmark/benchmark.h>
#include <zstd.h>

#include <random>
#include <string>
#include <vector>

#include "services/zstd_decode.h"
#include "services/zstd_encode.h"

namespace {

using bytes = std::vector<uint8_t>;
constexpr size_t SIZE = 100u << 20;

bytes make_text(size_t n, std::mt19937& rng) {
    static const char* words[] = {"compress ", "the ",   "window ", "of ",     "bytes ", "and ",   "match\n",
                                  "longest ",  "runs; ", "zyl ",    "block ",  "42 ",    "value: ", "[a b] "};
    std::string s;
    s.reserve(n + 16);
    while (s.size() < n) s += words[rng() % std::size(words)];
    s.resize(n);
    return bytes(s.begin(), s.end());
}

bytes make_mixed(size_t n, std::mt19937& rng) {
    bytes b;
    b.reserve(n);
    while (b.size() < n) {
        size_t k = 1000 + rng() % 8000;
        if (rng() % 3 == 0) {
            for (size_t i = 0; i < k; i++) b.push_back(uint8_t(rng()));
        } else {
            bytes t = make_text(k, rng);
            b.insert(b.end(), t.begin(), t.end());
        }
    }
    b.resize(n);
    return b;
}

const bytes& sample(int which) {
    static const bytes text = [] {
        std::mt19937 rng(1);
        return make_text(SIZE, rng);
    }();
    static const bytes mixed = [] {
        std::mt19937 rng(2);
        return make_mixed(SIZE, rng);
    }();
    return which ? mixed : text;
}

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
    bytes z = theirs(in, int(state.range(1))), out(in.size());
    for (auto _ : state) {
        size_t size = out.size();
        benchmark::DoNotOptimize(zyl::compress::zstd_decompress(out.data(), size, z.data(), z.size()));
    }
    state.SetBytesProcessed(int64_t(state.iterations() * in.size()));
}

void zstd_decompress_libzstd(benchmark::State& state) {
    const bytes& in = sample(int(state.range(0)));
    bytes z = theirs(in, int(state.range(1))), out(in.size());
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
