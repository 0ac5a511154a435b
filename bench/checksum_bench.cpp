// bench/checksum_bench.cpp: the checksum service over 100 MB in memory beside its peers:
// CRC-32 (each path) and Adler-32 beside zlib, XXH64 beside libxxhash, and the digests
// through the `checksum` native beside libcrypto called directly on the same bytes.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "boot/startup.h"
#include "datatypes/registry.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "services/checksum.h"

#ifdef ZYL_BENCH_ZLIB
#include <zlib.h>
#endif
#ifdef ZYL_BENCH_XXHASH
#include <xxhash.h>
#endif

using namespace zyl;

namespace {

constexpr size_t SIZE = 100u << 20;

const std::vector<uint8_t>& buffer() {
    static std::vector<uint8_t> data = [] {
        std::vector<uint8_t> v(SIZE);
        std::mt19937_64 g(37);
        for (size_t i = 0; i < SIZE; i += 8) {
            uint64_t r = g();
            std::memcpy(&v[i], &r, 8);
        }
        return v;
    }();
    return data;
}

template <typename F> void over_buffer(benchmark::State& state, F f) {
    const auto& d = buffer();
    for (auto _ : state) benchmark::DoNotOptimize(f(d.data(), d.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SIZE));
}

// {== Checksums

void BM_Crc32(benchmark::State& s) { over_buffer(s, [](auto p, auto n) { return checksum::crc32_update(0, p, n); }); }
void BM_Crc32Sliced(benchmark::State& s) {
    over_buffer(s, [](auto p, auto n) { return checksum::crc32_update_sliced(0, p, n); });
}
void BM_Crc32Table(benchmark::State& s) {
    over_buffer(s, [](auto p, auto n) { return checksum::crc32_update_table(0, p, n); });
}
void BM_Adler32(benchmark::State& s) { over_buffer(s, [](auto p, auto n) { return checksum::adler32_update(1, p, n); }); }
void BM_Adler32Scalar(benchmark::State& s) {
    over_buffer(s, [](auto p, auto n) { return checksum::adler32_update_scalar(1, p, n); });
}
void BM_Tcp(benchmark::State& s) { over_buffer(s, [](auto p, auto n) { return checksum::tcp(p, n); }); }
void BM_Xxh64(benchmark::State& s) { over_buffer(s, [](auto p, auto n) { return checksum::xxh64(p, n); }); }
BENCHMARK(BM_Crc32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32Sliced)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32Table)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Adler32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Adler32Scalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tcp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Xxh64)->Unit(benchmark::kMillisecond);

#ifdef ZYL_BENCH_ZLIB
// zlib takes 32-bit lengths: the buffer goes in 1 MB pieces through its running form.
void BM_ZlibCrc32(benchmark::State& s) {
    over_buffer(s, [](const uint8_t* p, size_t n) {
        uLong c = crc32(0, nullptr, 0);
        for (size_t i = 0; i < n; i += 1u << 20) c = crc32(c, p + i, 1u << 20);
        return c;
    });
}
void BM_ZlibAdler32(benchmark::State& s) {
    over_buffer(s, [](const uint8_t* p, size_t n) {
        uLong a = adler32(0, nullptr, 0);
        for (size_t i = 0; i < n; i += 1u << 20) a = adler32(a, p + i, 1u << 20);
        return a;
    });
}
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibAdler32)->Unit(benchmark::kMillisecond);
#endif

#ifdef ZYL_BENCH_XXHASH
void BM_LibXxh64(benchmark::State& s) { over_buffer(s, [](auto p, auto n) { return XXH64(p, n, 0); }); }
BENCHMARK(BM_LibXxh64)->Unit(benchmark::kMillisecond);
#endif

// }==
// {== Digests: libcrypto directly, and through the native

const char* const EVP_NAMES[] = {"MD5", "SHA1", "SHA256", "SHA512"};
const char* const METHODS[] = {"md5", "sha1", "sha256", "sha512"};

// Both digest peers read bytes 0 .. 255 repeated: a script can make them without file I/O.
const std::vector<uint8_t>& pattern_buffer() {
    static std::vector<uint8_t> data = [] {
        std::vector<uint8_t> v(SIZE);
        for (size_t i = 0; i < SIZE; i++) v[i] = uint8_t(i);
        return v;
    }();
    return data;
}

void BM_EvpDirect(benchmark::State& state) {
    EVP_MD* md = EVP_MD_fetch(nullptr, EVP_NAMES[state.range(0)], nullptr);
    state.SetLabel(METHODS[state.range(0)]);
    const auto& d = pattern_buffer();
    for (auto _ : state) {
        uint8_t out[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        EVP_Digest(d.data(), d.size(), out, &size, md, nullptr);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SIZE));
    EVP_MD_free(md);
}
BENCHMARK(BM_EvpDirect)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// Evaluates [src] once.
void eval_text(const std::string& src) {
    cell* code = runtime::load_text(reinterpret_cast<const uint8_t*>(src.data()), src.size());
    interp::eval_block(code, false);
    stack::pop(1);
}

// The whole run-time, a 100 MB binary! of the same bytes, and the native called on it.
void BM_ChecksumNative(benchmark::State& state) {
    collector::gc = {};
    datatype::reg.words_made = false;
    runtime::start();
    eval_text("data: append/dup make binary! " + std::to_string(SIZE) + " #{000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F202122232425262728292A2B2C2D2E2F303132333435363738393A3B3C3D3E3F404142434445464748494A4B4C4D4E4F505152535455565758595A5B5C5D5E5F606162636465666768696A6B6C6D6E6F707172737475767778797A7B7C7D7E7F808182838485868788898A8B8C8D8E8F909192939495969798999A9B9C9D9E9FA0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABBBCBDBEBFC0C1C2C3C4C5C6C7C8C9CACBCCCDCECFD0D1D2D3D4D5D6D7D8D9DADBDCDDDEDFE0E1E2E3E4E5E6E7E8E9EAEBECEDEEEFF0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF} " + std::to_string(SIZE / 256));
    std::string call = std::string("checksum data '") + METHODS[state.range(0)];
    cell* code = runtime::load_text(reinterpret_cast<const uint8_t*>(call.data()), call.size());
    state.SetLabel(METHODS[state.range(0)]);
    for (auto _ : state) interp::eval_block(code, false);
    stack::pop(1);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SIZE));
    runtime::stop();
}
BENCHMARK(BM_ChecksumNative)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// }==

} // namespace
