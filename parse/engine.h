// parse/engine.h: the parse engine's state and the helpers its files share.
//
// The engine walks rule blocks by index (never by address: actions may move every buffer).
// Sub-rules, loops and commands nest as C++ calls bounded by a frame count: each frame stands
// for the three cells of a rule-stack frame, and 10,000 cells raise parse-stack.
#pragma once

#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/cell.h"

namespace zyl::parse {

enum keyword : uint8_t {
    K_NONE_KW = 0, // not a keyword
    K_ANY,
    K_BREAK,
    K_COPY,
    K_END,
    K_FAIL,
    K_INTO,
    K_OPT,
    K_NOT,
    K_QUOTE,
    K_CASE,
    K_REJECT,
    K_SET,
    K_SKIP,
    K_SOME,
    K_THRU,
    K_TO,
    K_NONE,
    K_BAR,
    K_IF,
    K_REMOVE,
    K_WHILE,
    K_INSERT,
    K_ONLY,
    K_COLLECT,
    K_KEEP,
    K_PICK,
    K_AHEAD,
    K_AFTER,
    K_CHANGE,
    K_COUNT
};

enum exit_kind : uint8_t { EXIT_NONE = 0, EXIT_BREAK = 1, EXIT_REJECT = 2 };

// Trace event words, in this order.
enum trace_event : uint8_t {
    TE_PUSH,
    TE_POP,
    TE_FETCH,
    TE_MATCH,
    TE_ITERATE,
    TE_PAREN,
    TE_END,
    TE_COUNT
};

constexpr uint32_t MAX_FRAMES = 10000 / 3; // three rule-stack cells a frame
constexpr uint32_t NO_LIMIT = UINT32_MAX;

struct engine {
    cell in;        // the input series (index: where this input began)
    uint32_t pos;   // current absolute position in [in]
    uint32_t limit; // part limit (absolute), NO_LIMIT when none
    bool is_block;  // input is any-block!
    bool is_binary; // input is binary! (else any-string! when not a block)
    bool case_;     // case-sensitive comparisons
    uint8_t exit;   // break or reject pending for the innermost loop
    bool halt;      // the callback said stop, or a non-local exit is pending
    bool last;      // result of the last rule (what a halted parse answers)
    bool has_callback;
    cell callback;        // the trace function (when has_callback)
    cell* trace_stack;    // stack slot: block of the active rule blocks (tracing only)
    cell* collect;        // stack slot of the open collection's target, or null
    uint8_t collect_mode; // 0 own block (append), 1 into (insert at index), 2 after (append)
    uint32_t collect_depth;
    cell* result_block; // stack slot receiving a top-level collect's block
    bool collected;
};

// Frames in use across nested calls of parse.
extern uint32_t frames;

// Counts one frame for the scope; raises parse-stack past the limit.
struct frame_guard {
    frame_guard() {
        if (++frames >= MAX_FRAMES) overflow();
    }
    ~frame_guard() { frames--; }
    [[noreturn]] static void overflow();
};

// {== parse.cpp
inline cell rule_at(const cell& blk, uint32_t i) { return block::cells_of(blk.w2)[i]; }
keyword keyword_of(const cell& w);
// The index just past the rule element that starts at [i] (its keywords' arguments included).
uint32_t extent(const cell& blk, uint32_t i);
// Matches the rule element at [i] of [blk]; a failure leaves the position unchanged.
bool step(engine& e, const cell& blk, uint32_t i);
// Matches a block of alternatives from its index.
bool match_block(engine& e, const cell& blk);
// The value of rule word [w]; no-value when unset.
cell word_value(const cell& w);
// Evaluates paren [p] into [out]; false (with e.halt) when a non-local exit is pending.
bool eval_paren(engine& e, const cell& p, cell* out);
// The end of the input: its tail or the part limit.
uint32_t end_of(const engine& e);
// Raises a script error with one argument.
[[noreturn]] void fail_with(int32_t id, const cell& arg);
// }==
// {== match.cpp
// Matches literal or datatype rule value [r] once at e.pos; answers the position after it, or
// -1. Bitsets, strings, chars, tags, binaries, integers, datatypes, typesets, lit-words...
int64_t match_literal(engine& e, const cell& r, uint32_t pos);
// Whether [r] can be searched for directly by to/thru.
bool is_searchable(const engine& e, const cell& r);
// }==
// {== collect.cpp
bool do_collect(engine& e, const cell& blk, uint32_t i);
bool do_keep(engine& e, const cell& blk, uint32_t i);
bool do_copy_set(engine& e, const cell& blk, uint32_t i, bool copy);
bool do_remove(engine& e, const cell& blk, uint32_t i);
bool do_insert(engine& e, const cell& blk, uint32_t i);
bool do_change(engine& e, const cell& blk, uint32_t i);
// }==
// {== trace.cpp
void init_trace();
// Reports [ev] to the callback; a false answer (or an exit) halts the engine.
void trace(engine& e, trace_event ev, bool match, const cell& blk, uint32_t i);
inline void event(engine& e, trace_event ev, bool match, const cell& blk, uint32_t i) {
    if (e.has_callback) [[unlikely]]
        trace(e, ev, match, blk, i);
}
// }==

} // namespace zyl::parse
