// tests/fuzz/zylbin_fuzz.cpp: the Zylbin decoder's fuzz target: arbitrary bytes decoded in
// user and boot mode on the big-stack thread, under ASan and UBSan; whatever was appended
// (also after a failure) is molded with mold/all and then collected, now and then with a
// collection at every allocation. A decoding must end with values or a catalogued error,
// never a crash, a hang or a read out of bounds; what decodes must encode and decode again
// to the same mold/all text. The input goes in as it is and, with a
// Zylbin header in front, as a compact body, so that mutations reach the records at once.
// Built for libFuzzer with clang, or linked with the replay driver.
#include <cstdint>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "boot/startup.h"
#include "boot/zylbin.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/platform/native_stack.h"

using namespace zyl;

namespace {

constexpr size_t INPUT_LIMIT = 1 << 16;
constexpr int32_t MOLD_LIMIT = 1 << 16;    // shared series mold again at every reference


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

// The mold/all text of [v], at most MOLD_LIMIT characters.
std::string mold_all(cell* v) {
    std::string text;
    guarded([&] {
        cell* out = string::push_new(256);
        cell part = integer::make_value(MOLD_LIMIT);
        actions::mold_typed(v, out, false, true, false, &part, MOLD_LIMIT, 0);
        text = string::to_std(out);
    });
    return text;
}

// What decoded in user mode is encoded again in both layouts (unless the encoder refuses it)
// and must decode once more, to a value with the same mold/all text.
void reencode(cell* target, const std::string& molded) {
    for (auto l : {zylbin::LAYOUT_COMPACT, zylbin::LAYOUT_FIXED}) {
        std::vector<uint8_t> again;
        bool encoded = false;
        guarded([&] {
            again = zylbin::encode(target, l);
            encoded = true;
        });
        if (!encoded) continue; // a value whose binding has no binary form
        cell* back = block::push_new(4);
        bool decoded = false;
        guarded([&] {
            zylbin::decode(again.data(), again.size(), back->w2, zylbin::MODE_USER);
            decoded = true;
        });
        if (!decoded || series::length(back->w2) != 1) std::abort();
        cell inner = block::cells_of(back->w2)[0];
        cell* v = stack::push(&inner);
        if (mold_all(v) != molded) std::abort();
        stack::pop(2);
    }
}

void decode_and_mold(const std::vector<uint8_t>& data, zylbin::mode m, bool stress) {
    cell* target = block::push_new(4);
    if (stress) mm.stress_every = 1;
    bool ok = false;
    guarded([&] {
        zylbin::decode(data.data(), data.size(), target->w2, m);
        ok = true;
    });
    mm.stress_every = 0;
    std::string molded = mold_all(target);
    if (ok && m == zylbin::MODE_USER && molded.size() < size_t(MOLD_LIMIT) / 2) reencode(target, molded);
    stack::pop(1);
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
    bool stress = j->size < 128 && j->size % 16 == 5; // a collection at every allocation: slow
    for (zylbin::mode m : {zylbin::MODE_USER, zylbin::MODE_BOOT}) {
        decode_and_mold(raw, m, stress);
        decode_and_mold(framed, m, stress);
    }
    collector::collect(); // what the decodings left must be well formed to mark
    return 0;
}

// The big-stack thread: started once with the run-time, it then decodes one input at a time
// handed over by the fuzzer's thread (a new thread per input costs more than the input).
struct worker {
    std::mutex m;
    std::condition_variable cv;
    job* pending = nullptr;
    bool done = false;
};
worker& w = *new worker; // never destroyed: the thread waits on it until the process ends

int serve(void*) {
    collector::gc = {};
    datatype::reg.words_made = false;
    runtime::start();
    std::atexit([] { runtime::stop(); }); // what the run-time holds is no leak
    for (;;) {
        std::unique_lock<std::mutex> lock(w.m);
        w.cv.wait(lock, [] { return w.pending != nullptr; });
        run_input(w.pending);
        w.pending = nullptr;
        w.done = true;
        w.cv.notify_all();
    }
}

void run_on_worker(job* j) {
    static bool started = (std::thread([] { native_stack::run(serve, nullptr); }).detach(), true);
    (void)started;
    std::unique_lock<std::mutex> lock(w.m);
    w.pending = j;
    w.done = false;
    w.cv.notify_all();
    w.cv.wait(lock, [] { return w.done; });
}

} // namespace

// For the replay driver (tests/fuzz/target_replay.cpp): prefixes, heads and short records.
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
    if (size > INPUT_LIMIT) return 0;
    job j{data, size};
    run_on_worker(&j);
    return 0;
}
