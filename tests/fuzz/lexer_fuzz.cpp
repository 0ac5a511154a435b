// tests/fuzz/lexer_fuzz.cpp: the lexer's fuzz target: arbitrary bytes through every mode of the
// lexer (loading, one value at a time, scan only, events, binary! and string! input), under
// ASan and UBSan; whatever loads is molded, and the molded text must load to values that mold
// the same again. Built for libFuzzer with clang, or linked with the replay driver.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/init.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "lexer/internal.h"
#include "lexer/lexer.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/extres.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

using namespace zyl;

namespace {

constexpr size_t MAX_INPUT = 1 << 16;
constexpr uint32_t RUNS_PER_RUNTIME = 400; // the symbol table only grows: start afresh now and then

uint32_t runs = 0;

void start_runtime() {
    memory::init();
    memory::new_node_frame(NODE_FRAME_SLOTS);
    memory::new_series_frame();
    datatypes::init_all();
    stack::create(1, 2);
    unicode::init_case_tables();
    extres::init();
    symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
    context::make_global();
    lexer::init();
    collector::gc.active = true;
}

void stop_runtime() {
    mm.stress_every = 0;
    collector::gc = {};
    extres::shutdown();
    context::forget_global();
    symbol::table = {};
    es = eval_stack{};
    memory::free_all();
}

// Runs [body] under a try frame; a raised error is an answer like any other. Answers the
// error's code (category * 100 + id), or -1 when none was raised.
template <typename F> int32_t guarded(F body) {
    cell* top = es.top;
    cell w{T_word, 0, 1, 0};
    int32_t code = -1;
    stack::mark_try(&w);
    try {
        body();
        stack::pop_frame();
    } catch (const error::raised& e) {
        es.throw_code = THROW_NONE;
        code = e.category * 100 + e.id;
    }
    es.base = es.bottom;
    es.top = top;
    if (lexer::out.top != 0 || lexer::chain_tail) __builtin_trap(); // a scan left state behind
    return code;
}

// A callback whose answers follow the input: each event kind is refused now and then; on a
// binary! input it moves the scan, or cuts the binary short, now and then. It drops one of
// the [holders] cells at each event: buffers below the input that then die, so that the
// next collection moves the input.
struct chooser {
    uint32_t seed;
    uint32_t count = 0;
    cell* holders = nullptr;
    uint32_t holder_count = 0;
    bool agree = false; // answer true to everything, move and cut nothing
    static bool answer(void* self, lexer::event& e) {
        auto* c = static_cast<chooser*>(self);
        if (c->holder_count) c->holders[--c->holder_count] = none_value;
        if (c->agree) return true;
        uint32_t h = (c->seed ^ (++c->count * 0x9E3779B9u) ^ uint32_t(e.kind) * 31u) * 0x85EBCA6Bu;
        if (e.input && (h >> 28) == 3) e.input->w1 += h & 3;
        if (e.input && e.input->type() == T_binary && (h >> 26) == 21) {
            series_buffer* b = memory::buffer_of(e.input->w2);
            b->tail = b->head + b->used_bytes() * (h & 7) / 8;
        }
        return (h >> 24) % 11 != 0;
    }
};

// The UTF-8 text of the values of block [v] molded (without its brackets).
std::string molded(const cell* v) {
    cell* buffer = string::push_new(64);
    cell value = *v;
    actions::mold_typed(&value, buffer, true, false, false, nullptr, INT32_MAX, 0);
    std::string text = string::to_std(buffer);
    stack::pop(1);
    return text;
}

// molded(), or "" when the values cannot be molded (a datatype without its mold yet).
std::string molded_or_empty(const cell* v) {
    std::string text;
    guarded([&] { text = molded(v); });
    return text;
}

// The loaded values [r] molded, loaded again and molded again: both molds must be the same
// text (a loader and a mold that disagree lose or change data). A value that cannot be molded
// yet (its datatype has no mold) raises, and the check is skipped.
void check_mold_round_trip(const cell* r) {
    std::string first, second;
    bool done = false;
    guarded([&] {
        first = molded(r);
        cell* again = stack::push(&none_value);
        lexer::scan(again, reinterpret_cast<const uint8_t*>(first.data()), int64_t(first.size()), {});
        second = molded(again);
        done = true;
    });
    if (done && first != second) {
        std::fprintf(stderr, "mold does not load back the same:\n%s\n-- molds again as --\n%s\n", first.c_str(),
                     second.c_str());
        __builtin_trap();
    }
}

uint64_t loaded_count(const cell* r) {
    if (r->type() != T_block) return UINT64_MAX;
    return series::length(r->w2) - r->w1;
}

void run_modes(const uint8_t* text, size_t n, uint32_t seed) {
    cell* result = stack::push(&none_value);
    uint64_t from_memory = UINT64_MAX;
    int32_t memory_error = guarded([&] {
        lexer::scan(result, text, int64_t(n), {});
        from_memory = loaded_count(result);
    });
    std::string memory_mold;
    if (from_memory != UINT64_MAX) {
        memory_mold = molded_or_empty(result);
        check_mold_round_trip(result);
    }
    // One value at a time, as `load/next` and parse's datatype rules walk their input.
    size_t pos = 0;
    for (int i = 0; i < 64 && pos < n; i++) {
        int64_t used = 0;
        lexer::options o;
        o.one_value = true;
        o.load = (seed >> (i % 8)) & 1;
        guarded([&] { lexer::scan(result, text + pos, int64_t(n - pos), o, &used); });
        if (used <= 0) break;
        pos += size_t(used);
    }
    // Events, loading or not.
    for (bool load : {true, false}) {
        chooser c{seed};
        lexer::callback cb{&chooser::answer, &c, seed % 5 == 0 ? uint32_t(lexer::EV_ALL) : seed % 64, none_value};
        lexer::options o;
        o.events = &cb;
        o.load = load;
        guarded([&] { lexer::scan(result, text, int64_t(n), o); });
    }
    // binary! input, with a collection at every allocation for small inputs: it moves.
    node_id bin = series::alloc_bytes(n);
    series_buffer* b = memory::buffer_of(bin);
    if (n) std::memcpy(b->head, text, n);
    b->tail = b->head + n;
    cell* input = stack::push(&none_value);
    *input = cell{T_binary, 0, bin, 0};
    if (n < 512 && seed % 3 == 0) mm.stress_every = 1;
    uint64_t from_binary = UINT64_MAX;
    int32_t binary_error = guarded([&] {
        lexer::scan_binary(result, input, -1, {});
        from_binary = loaded_count(result);
    });
    mm.stress_every = 0;
    if (from_binary != from_memory) { // the two inputs must load alike
        std::fprintf(stderr, "memory and binary! input load apart: %lld values (error %d), %lld values (error %d)\n",
                     (long long)from_memory, memory_error, (long long)from_binary, binary_error);
        __builtin_trap();
    }
    // Events on binary! input above small buffers that die one an event: collecting at every
    // allocation (small inputs), the input moves again and again under the scan. A callback
    // that agrees to everything must load what the memory input loads.
    for (bool agree : {true, false}) {
        constexpr uint32_t HOLDERS = 64;
        cell* holders = es.top;
        for (uint32_t i = 0; i < HOLDERS; i++) *stack::push_slot() = cell{T_binary, 0, series::alloc_bytes(8), 0};
        cell* moving = stack::push(&none_value);
        *moving = cell{T_binary, 0, series::alloc_bytes(n), 0};
        b = memory::buffer_of(moving->w2);
        if (n) std::memcpy(b->head, text, n);
        b->tail = b->head + n;
        chooser c{seed * 7 + 1, 0, holders, HOLDERS, agree};
        lexer::callback cb{&chooser::answer, &c, uint32_t(lexer::EV_ALL), none_value};
        lexer::options eo;
        eo.events = &cb;
        eo.load = agree || (seed & 1);
        if (n < 512) mm.stress_every = 1;
        uint64_t moved = UINT64_MAX;
        int32_t moved_error = guarded([&] {
            lexer::scan_binary(result, moving, -1, eo);
            moved = loaded_count(result);
        });
        mm.stress_every = 0;
        if (agree && moved != from_memory) {
            std::fprintf(stderr, "a moving binary! input loads apart: %lld values (error %d), %lld values (error %d)\n",
                         (long long)from_memory, memory_error, (long long)moved, moved_error);
            __builtin_trap();
        }
        if (agree && moved != UINT64_MAX && molded_or_empty(result) != memory_mold) {
            std::fprintf(stderr, "a moving binary! input molds apart\n");
            __builtin_trap();
        }
    }
    // string! input, when the bytes are UTF-8, and what word! reads through the lexer.
    guarded([&] {
        string::load_at(text, int64_t(n), input, string::ENCODING_UTF8);
        lexer::scan_string(result, input, -1, {});
        word::load_value(input, result);
    });
    if (n < 256) word::scan_type(text, uint32_t(n));
    es.top = es.bottom;
}

} // namespace

// For the replay driver (tests/fuzz/target_replay.cpp).
extern const char* const replay_target = "lexer";
// Pieces of the syntax that random bytes rarely hit.
extern const char* const replay_fragments[] = {
    "[", "]", "(", ")", "{", "}", "\"", "#", "#\"", "#(", "#[", "#{", "%", "%{", "%%{", "}%", "}%%", "^", "^(",
    "^(tab)", ":", "'", "/", "//", ";", "\n", " ", "\t", "\r", ",", ".", "e", "E", "h", "FF", "0", "1", "9",
    "'", "-", "+", "$", "@", "<", ">", "=", "x", "T", "1.#INF", "1.#", "2147483648", "-2147483648", "1e309",
    "\xC2\xA0", "\xE3\x80\x80", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xC0", "\xFF", "\x80", "\0",
    "a", "word", "set:", ":get", "'lit", "/ref", "#iss", "1:30", "50%", "{a {b} c}", "(1, 2)",
    "a/", "/b", "a/b:", "'a/b", ":a/b", "a/(b)/", "/1", "/\"s\"", "%\"", "%a", "%a%20", "%C3%A9", "%C3",
    "http://", "x:", "a@b.c", "<t>", "<", "@r", "10x20", "x-1", "(1, 2, 3)", "(1.5, ", "1.2.3", ".256",
    "#{00}", "#{", "2#{", "64#{", "16#{", "AQI=", "=", "^(22)", "^(null)", "}", "$1", "1-Jan-2000", "#[",
    "USD$", "$1'000.12345", "2000-W01-1", "2000-032", "20000101T1200Z", "/10:00:30.5+05:30", "-Feb-", "/-0005",
};
extern const size_t replay_fragment_count = std::size(replay_fragments);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > MAX_INPUT) return 0;
    if (runs++ % RUNS_PER_RUNTIME == 0) {
        if (runs > 1) stop_runtime();
        start_runtime();
    }
    std::vector<uint8_t> text(data, data + size); // memory that does not move
    uint32_t seed = size ? data[0] * 131u + data[size - 1] + uint32_t(size) : 7;
    run_modes(text.data(), size, seed);
    return 0;
}
