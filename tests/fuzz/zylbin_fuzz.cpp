// tests/fuzz/zylbin_fuzz.cpp: the Zylbin decoder's fuzz target: arbitrary bytes decoded in
// user and boot mode on the big-stack thread, under ASan and UBSan; whatever was appended
// (also after a failure) is molded with mold/all and then collected, now and then with a
// collection at every allocation. A decoding must end with values or a catalogued error,
// never a crash, a hang or a read out of bounds. The input goes in as it is and, with a
// Zylbin header in front, as a compact body, so that mutations reach the records at once.
// Built for libFuzzer with clang, or linked with the replay driver.
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "boot/startup.h"
#include "boot/zylbin.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/platform/native_stack.h"

using namespace zyl;

namespace {

constexpr size_t MAX_INPUT = 1 << 16;
constexpr uint32_t RUNS_PER_RUNTIME = 500; // definitions and symbols only add: start afresh now and then
constexpr int32_t MOLD_LIMIT = 1 << 16;    // shared series mold again at every reference

uint32_t runs = 0;
bool started = false;

// Runs [body] under a try frame; a raised error is an answer like any other.
template <typename F> void guarded(F body) {
    cell* top = es.top;
    cell w{T_word, 0, 1, 0};
    stack::mark_try(&w);
    try {
        body();
        stack::pop_frame();
    } catch (const error::raised&) {
        es.throw_code = THROW_NONE;
    }
    es.top = top;
}

void decode_and_mold(const std::vector<uint8_t>& data, zylbin::mode m, bool stress) {
    cell* target = block::push_new(4);
    if (stress) mm.stress_every = 1;
    guarded([&] { zylbin::decode(data.data(), data.size(), target->w2, m); });
    mm.stress_every = 0;
    guarded([&] {
        cell* out = string::push_new(256);
        cell part = integer::make_value(MOLD_LIMIT);
        actions::mold_typed(target, out, false, true, false, &part, MOLD_LIMIT, 0);
    });
    stack::pop(1);
    collector::collect();
}

struct job {
    const uint8_t* data;
    size_t size;
};

int run_input(void* p) {
    auto* j = static_cast<job*>(p);
    std::vector<uint8_t> raw(j->data, j->data + j->size); // memory that does not move
    std::vector<uint8_t> framed = {'Z', 'Y', 'L', 'B', 'I', 'N', 2, uint8_t(j->size ? (j->data[0] & 0x07) | 1 : 1)};
    framed.insert(framed.end(), raw.begin() + (raw.empty() ? 0 : 1), raw.end());
    bool stress = j->size < 256 && j->size % 5 == 0;
    for (zylbin::mode m : {zylbin::MODE_USER, zylbin::MODE_BOOT}) {
        decode_and_mold(raw, m, stress);
        decode_and_mold(framed, m, stress);
    }
    return 0;
}

int start(void*) {
    collector::gc = {};
    datatype::reg.words_made = false;
    runtime::start();
    return 0;
}

int stop(void*) {
    runtime::stop();
    return 0;
}

} // namespace

// For the replay driver (tests/fuzz/replay.cpp): prefixes, heads and short records.
extern const char* const replay_target = "zylbin";
extern const char* const replay_fragments[] = {
    "ZYLBIN\x02\x01", "ZYLBIN\x02\x05", "ZYLBIN\x02\x03", "\xC0", "\xC1", "\xC4", "\xFF\x01", "\xFF\x02", "\x80",
    "\xBF", "\xC2", "\xC3", "\x05\x02", "\x06\x01", "\x45\x01", "\x07\x14hello", "\x07\x09h", "\x29\x02", "\x0B\xFF",
    "\x0F", "\x4F", "\x10", "\x11", "\x13", "\x14", "\x0E\x12\x01", "\x20", "\x60", "\x18\x01\x01\x0E\x05\x01",
    "\x15\x01", "\x16\x01\x05\x02", "\x17", "\x22", "\x24\x01", "\x28\x02", "\x23", "\x35\x01\x01", "\x1E\x01",
    "\x21\x02", "\x67\x04", "\x2F", "\x6F", "\x31", "\x32\x04", "\x3F", "\x01\x0B", "\x0A\x41", "\x0C", "\x4C",
    "\x25", "\x33", "\x34", "\x7F", "",
};
extern const size_t replay_fragment_count = std::size(replay_fragments);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > MAX_INPUT) return 0;
    if (runs++ % RUNS_PER_RUNTIME == 0) {
        if (started) native_stack::run(stop, nullptr);
        native_stack::run(start, nullptr);
        started = true;
    }
    job j{data, size};
    native_stack::run(run_input, &j);
    return 0;
}
