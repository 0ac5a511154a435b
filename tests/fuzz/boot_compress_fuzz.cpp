// tests/fuzz/compress_fuzz.cpp: the boot-image decompressor's fuzz target: arbitrary bytes as a
// compressed block, and (inputs of 128 bytes or more) the input compressed and decompressed
// again, which must give it back. Under ASan and UBSan no read may leave the block and no
// block may make the decompressor allocate beyond its bound. Built for libFuzzer with clang,
// or linked with the replay driver.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "runtime/boot_compress.h"

using namespace zyl;

// For the replay driver (tests/fuzz/target_replay.cpp): chunk lengths and token starts.
extern const char* const replay_target = "boot_compress";
extern const char* const replay_fragments[] = {
    "\x01", "\x02", "\x03", "\x04", "\x08", "\x10", "\x20", "\x40", "\x80", "\xFF", "\x01\x01", "\x0A\x02",
    "\xFF\xFF\xFF\xFF", "\x01\x01\x01", "\x10\x01\x01", "\x82", "\x83\x01", "",
};
extern const size_t replay_fragment_count = std::size(replay_fragments);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> block(data, data + size); // exactly the input: ASan sees any overread
    uint64_t produced = 0;
    if (uint8_t* out = boot_compress::decompress(block.data(), block.size(), &produced)) {
        uint32_t declared;
        std::memcpy(&declared, block.data() + 4, 4);
        if (produced > uint64_t(declared) + 8) __builtin_trap();
        boot_compress::free_buffer(out);
    }
    if (size >= boot_compress::MIN_INPUT && (size & 7) == 0) { // the compressor resets 6 MB of tables a chunk
        std::vector<uint8_t> packed(size);
        int64_t n = boot_compress::compress(data, size, packed.data());
        if (n >= 0) {
            uint8_t* back = boot_compress::decompress(packed.data(), uint64_t(n), &produced);
            if (!back || produced != size || std::memcmp(back, data, size) != 0) __builtin_trap();
            boot_compress::free_buffer(back);
        }
    }
    return 0;
}
