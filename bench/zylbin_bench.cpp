// bench/zylbin_bench.cpp: Zylbin load throughput (a block of 200,000 records: integer, float,
// short string, word, 3-integer block, in turn), and the boot-image decompressor beside zlib's
// inflate on 10 MB of text. bench/zylbin_load.py times pickle.loads and json.loads on the same
// data for comparison.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "boot/startup.h"
#include "boot/zylbin.h"
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/boot_compress.h"

#if __has_include(<zlib.h>) && defined(ZYL_BENCH_ZLIB)
#include <zlib.h>
#define ZYL_HAVE_ZLIB 1
#endif

using namespace zyl;

namespace {

constexpr uint32_t RECORDS = 200000;
constexpr uint32_t WORDS = 100;

void put_varint(std::vector<uint8_t>& b, uint32_t v) {
    do {
        uint8_t byte = v & 0x7F;
        v >>= 7;
        b.push_back(byte | (v ? 0x80 : 0));
    } while (v);
}

// The load benchmark's stream, written here until the encoder exists: one block! record of
// RECORDS records, a symbol table of WORDS names.
std::vector<uint8_t> load_stream() {
    std::vector<uint8_t> records = {T_block};
    put_varint(records, RECORDS);
    for (uint32_t i = 0; i < RECORDS; i++) {
        switch (i % 5) {
        case 0:
            records.push_back(T_integer);
            put_varint(records, (i * 2654435761u) >> 8); // zigzag of varied magnitudes
            break;
        case 1: {
            records.push_back(T_float_);
            double d = i * 0.25 + 0.1;
            uint8_t raw[8];
            std::memcpy(raw, &d, 8);
            records.insert(records.end(), raw, raw + 8);
            break;
        }
        case 2: {
            std::string s = "item" + std::to_string(i % 1000);
            records.push_back(T_string);
            put_varint(records, uint32_t(s.size()) << 2);
            records.insert(records.end(), s.begin(), s.end());
            break;
        }
        case 3:
            records.push_back(T_word);
            put_varint(records, i % WORDS);
            break;
        default:
            records.insert(records.end(), {T_block, 3, 0x81, 0x82, 0x83});
        }
    }
    std::vector<uint8_t> strings, offsets;
    for (uint32_t w = 0; w < WORDS; w++) {
        uint32_t at = uint32_t(strings.size());
        for (int k = 0; k < 4; k++) offsets.push_back(uint8_t(at >> (8 * k)));
        std::string name = "word" + std::to_string(w);
        strings.insert(strings.end(), name.begin(), name.end());
        strings.push_back(0);
    }
    std::vector<uint8_t> out = {'Z', 'Y', 'L', 'B', 'I', 'N', 2, 0x05};
    put_varint(out, 1);
    put_varint(out, uint32_t(records.size()));
    put_varint(out, WORDS);
    put_varint(out, uint32_t(strings.size()));
    out.insert(out.end(), offsets.begin(), offsets.end());
    out.insert(out.end(), strings.begin(), strings.end());
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

void BM_ZylbinLoad(benchmark::State& state) {
    collector::gc = {};
    datatype::reg.words_made = false;
    runtime::start();
    std::vector<uint8_t> data = load_stream();
    for (auto _ : state) {
        cell* target = block::push_new(1);
        zylbin::decode(data.data(), data.size(), target->w2, zylbin::MODE_USER);
        benchmark::DoNotOptimize(target->w2);
        stack::pop(1);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * RECORDS);
    state.SetBytesProcessed(int64_t(state.iterations() * data.size()));
    runtime::stop();
}
BENCHMARK(BM_ZylbinLoad)->Unit(benchmark::kMillisecond);

// 10 MB of text with the repetition of real text: words from a small vocabulary.
std::vector<uint8_t> text_10mb() {
    static const char* const words[] = {"the", "value", "block", "series", "of", "and", "cell", "to", "a", "in",
                                        "function", "word", "context", "is", "its", "with", "for", "string"};
    std::mt19937 rng(11);
    std::vector<uint8_t> t;
    t.reserve(10 << 20);
    while (t.size() < (10u << 20)) {
        const char* w = words[rng() % std::size(words)];
        t.insert(t.end(), w, w + std::strlen(w));
        t.push_back(rng() % 13 == 0 ? '\n' : ' ');
    }
    t.resize(10 << 20);
    return t;
}

void BM_BootDecompress(benchmark::State& state) {
    std::vector<uint8_t> text = text_10mb();
    std::vector<uint8_t> packed(text.size());
    int64_t n = boot_compress::compress(text.data(), text.size(), packed.data());
    if (n < 0) {
        state.SkipWithError("incompressible");
        return;
    }
    for (auto _ : state) {
        uint64_t size = 0;
        uint8_t* out = boot_compress::decompress(packed.data(), uint64_t(n), &size);
        benchmark::DoNotOptimize(out);
        boot_compress::free_buffer(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations() * text.size()));
    state.counters["ratio"] = double(text.size()) / double(n);
}
BENCHMARK(BM_BootDecompress)->Unit(benchmark::kMillisecond);

#ifdef ZYL_HAVE_ZLIB
void BM_ZlibInflate(benchmark::State& state) {
    std::vector<uint8_t> text = text_10mb();
    uLongf packed_size = compressBound(text.size());
    std::vector<uint8_t> packed(packed_size);
    compress2(packed.data(), &packed_size, text.data(), text.size(), Z_DEFAULT_COMPRESSION);
    std::vector<uint8_t> out(text.size());
    for (auto _ : state) {
        uLongf size = out.size();
        uncompress(out.data(), &size, packed.data(), packed_size);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * text.size()));
    state.counters["ratio"] = double(text.size()) / double(packed_size);
}
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);
#endif

} // namespace
