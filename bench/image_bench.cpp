// bench/image_bench.cpp: the image codecs on a 2048x2048 image of gradients and noise:
// PNG decode and encode, BMP and JPEG decode. bench/image.py times the peers (python's zlib
// on the same PNG's IDAT data, ImageMagick's PNG to PNG).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "services/image.h"

using namespace zyl::imaging;

namespace {

// Gradients with noise in the low bits: compresses like a photograph more than a drawing.
bitmap* sample() {
    static bitmap* b = [] {
        bitmap* s = create(2048, 2048);
        std::mt19937 rng(35);
        for (uint32_t y = 0; y < 2048; y++)
            for (uint32_t x = 0; x < 2048; x++) {
                uint32_t n = rng();
                uint32_t r = (x / 8 + (n & 7)) & 255, g = (y / 8 + (n >> 3 & 7)) & 255, bl = ((x + y) / 16 + (n >> 6 & 7)) & 255;
                s->pixels[size_t(y) * 2048 + x] = 0xFF000000u | r << 16 | g << 8 | bl;
            }
        return s;
    }();
    return b;
}

const std::vector<uint8_t>& encoded(format f) {
    static std::vector<uint8_t> cache[5];
    if (cache[f].empty()) encode(sample(), f, cache[f]);
    return cache[f];
}

void decode_case(benchmark::State& state, format f) {
    const std::vector<uint8_t>& data = encoded(f);
    for (auto _ : state) {
        bitmap* b = nullptr;
        decode(data.data(), data.size(), &b);
        benchmark::DoNotOptimize(b);
        destroy(b);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 2048 * 2048 * 4);
}

void BM_ImagePngDecode(benchmark::State& state) { decode_case(state, PNG); }
void BM_ImageBmpDecode(benchmark::State& state) { decode_case(state, BMP); }
void BM_ImageJpegDecode(benchmark::State& state) { decode_case(state, JPEG); }

void BM_ImagePngEncode(benchmark::State& state) {
    std::vector<uint8_t> out;
    for (auto _ : state) {
        encode(sample(), PNG, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 2048 * 2048 * 4);
}

// Writes the PNG for bench/image.py when ZYL_BENCH_IMAGE_OUT names a file.
void BM_ImagePngWrite(benchmark::State& state) {
    const char* path = std::getenv("ZYL_BENCH_IMAGE_OUT");
    for (auto _ : state) {
        if (!path) continue;
        if (FILE* f = std::fopen(path, "wb")) {
            std::fwrite(encoded(PNG).data(), 1, encoded(PNG).size(), f);
            std::fclose(f);
        }
    }
}

} // namespace

BENCHMARK(BM_ImagePngDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImagePngEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageBmpDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageJpegDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImagePngWrite)->Iterations(1);
