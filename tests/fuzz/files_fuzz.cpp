// tests/fuzz/files_fuzz.cpp: the file service's fuzz target: random bytes (UTF-8 pieces, CR,
// LF, byte-order marks, stray bytes, ASCII runs longer than a 16-byte block) written and read back whole, as binary!, text and lines,
// with random /seek and /part, under ASan and UBSan. Binary reads must give back exactly
// the bytes asked for; a text read either gives a string whose UTF-8 is those bytes (less a
// leading byte-order mark) or raises access invalid-utf8; lines hold no LF. Its own driver:
// zyl-files-fuzz [SECONDS [SEED]].
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>

#include "boot/startup.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "services/files.h"

using namespace zyl;

namespace {

const char* const pieces[] = {"a", "\n", "\r", "\r\n", "\xC3\xA9", "\xE2\x98\x83", "\xF0\x9D\x84\x9E",
                              "\xEF\xBB\xBF", "\xFF", "\xC3", "\xE2\x98", "\x80", " ", "abcdefghijklmnopq", "\0"};

std::string random_bytes(std::mt19937& rng) {
    std::string s;
    uint32_t n = rng() % 40;
    for (uint32_t i = 0; i < n; i++) {
        const char* p = pieces[rng() % (sizeof pieces / sizeof pieces[0])];
        if (*p == 0) s += char(rng() % 256);
        else s += p;
    }
    return s;
}

[[noreturn]] void fail(const char* what, const std::string& bytes) {
    std::fprintf(stderr, "files fuzz: %s for %zu bytes:", what, bytes.size());
    for (unsigned char c : bytes) std::fprintf(stderr, " %02X", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

// Runs [body] under a try frame of its own: true when it ran through, false when it raised
// access invalid-utf8 (the only error a read of these bytes may raise).
template <typename F> bool guarded(const std::string& bytes, F body) {
    cell* saved = es.top;
    cell w{T_word, 0, 99, 0};
    stack::mark_try(&w);
    try {
        body(stack::push_slot());
        stack::pop_frame();
        es.top = saved;
        return true;
    } catch (const error::raised& e) {
        es.throw_code = THROW_NONE;
        es.top = saved;
        if (e.category != error::cat_access || e.id != error::access_invalid_utf8) fail("a read raised", bytes);
        return false;
    }
}

// One round: [bytes] written through the service, then read back in each form.
void round(std::mt19937& rng, const std::string& bytes) {
    cell file = cell{};
    string::from_utf8(&file, "fuzz.bin");
    cells::set_type(&file, T_file);
    collector::keep k_file{&file};
    cell* data = binary::push_from_buffer(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
    files::write(&file, data, nullptr, -1, false, false);
    stack::pop(1);
    int64_t seek = rng() % 3 ? -1 : int64_t(rng() % (bytes.size() + 2));
    int64_t part = rng() % 3 ? -1 : int64_t(rng() % (bytes.size() + 2));
    size_t from = seek < 0 ? 0 : std::min<size_t>(size_t(seek), bytes.size());
    std::string want = bytes.substr(from, part < 0 ? std::string::npos : size_t(part));
    bool ok = guarded(bytes, [&](cell* out) {
        files::read(&file, part, seek, true, false, out);
        if (std::string(reinterpret_cast<char*>(binary::head_pointer(out)), binary::rs_length_q(out)) != want)
            fail("binary read differs", bytes);
    });
    if (!ok) fail("binary read raised", bytes);
    guarded(bytes, [&](cell* out) {
        files::read(&file, part, seek, false, false, out);
        node_id conv = 0;
        collector::keep_node k_conv{&conv};
        int64_t length = -1;
        const uint8_t* text = unicode::to_utf8(out, length, conv);
        std::string expect = want.rfind("\xEF\xBB\xBF", 0) == 0 ? want.substr(3) : want;
        if (std::string(reinterpret_cast<const char*>(text), size_t(length)) != expect)
            fail("text read differs", bytes);
    });
    guarded(bytes, [&](cell* out) {
        files::read(&file, part, seek, false, true, out);
        for (uint32_t i = 0; i < block::rs_length_q(out); i++)
            if (string::find_char(block::rs_abs_at(out, i), '\n') >= 0) fail("a line holds LF", bytes);
    });
}

} // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    uint32_t seed = argc > 2 ? uint32_t(std::atoi(argv[2])) : 1;
    char folder[] = "/tmp/zyl-files-fuzz-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0) return 1;
    runtime::start();
    std::mt19937 rng(seed);
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    uint64_t rounds = 0;
    while (std::chrono::steady_clock::now() < end) {
        round(rng, random_bytes(rng));
        rounds++;
    }
    runtime::stop();
    unlink("fuzz.bin");
    rmdir(folder);
    std::printf("files fuzz: %llu rounds\n", static_cast<unsigned long long>(rounds));
    return 0;
}
