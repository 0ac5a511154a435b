// bench/dtoa_bench.cpp: number text, as mold and form print floats and the lexer reads them.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/dtoa.h"

using namespace zyl;

namespace {

constexpr int COUNT = 1000000;

// A million doubles of every size a script meets: short decimals, integers, full-precision
// fractions, spread over exponents 1e-12 to 1e24.
const std::vector<double>& doubles() {
    static std::vector<double> values = [] {
        std::mt19937_64 rng(42);
        std::vector<double> v(COUNT);
        for (int i = 0; i < COUNT; i++) {
            switch (i % 4) {
            case 0: v[i] = double(int64_t(rng() % 2000000) - 1000000) / 100; break;
            case 1: v[i] = double(rng() % 100000); break;
            default: {
                double mantissa = double(rng() >> 11) / double(1ull << 53);
                v[i] = std::ldexp(mantissa, int(rng() % 120) - 40);
            }
            }
        }
        return v;
    }();
    return values;
}

// The shortest texts of doubles(), laid end to end, with their ends.
struct texts {
    std::vector<char> chars;
    std::vector<std::size_t> ends;
};

const texts& molded() {
    static texts t = [] {
        texts r;
        for (double v : doubles()) {
            std::string_view s = dtoa::to_text(v, 0, true);
            r.chars.insert(r.chars.end(), s.begin(), s.end());
            r.ends.push_back(r.chars.size());
        }
        return r;
    }();
    return t;
}

void format_text(benchmark::State& state, int precision, bool point) {
    const std::vector<double>& values = doubles();
    for (auto _ : state) {
        std::size_t total = 0;
        for (double v : values) total += dtoa::to_text(v, precision, point).size();
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * COUNT);
}

// mold of float!: shortest round-trip digits with ".0".
void mold_million_doubles(benchmark::State& state) { format_text(state, 0, true); }
BENCHMARK(mold_million_doubles)->Unit(benchmark::kMillisecond);

// The float formatter's six-digit kind.
void form_million_doubles(benchmark::State& state) { format_text(state, 6, false); }
BENCHMARK(form_million_doubles)->Unit(benchmark::kMillisecond);

// Digits alone, without the layout.
void digits_million_doubles(benchmark::State& state) {
    const std::vector<double>& values = doubles();
    for (auto _ : state) {
        int total = 0;
        for (double v : values) total += dtoa::format(v, 0, false).count;
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * COUNT);
}
BENCHMARK(digits_million_doubles)->Unit(benchmark::kMillisecond);

// The lexer's side: reading back a million molded texts.
void read_million_doubles(benchmark::State& state) {
    const texts& t = molded();
    for (auto _ : state) {
        double sum = 0;
        std::size_t start = 0, unconsumed = 0;
        for (std::size_t end : t.ends) {
            sum += dtoa::strtod(t.chars.data() + start, t.chars.data() + end, 0, unconsumed);
            start = end;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * COUNT);
}
BENCHMARK(read_million_doubles)->Unit(benchmark::kMillisecond);

} // namespace
