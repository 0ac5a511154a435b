// parse/parse.cpp: the parse engine's walk: alternatives, sub-rules, loops, to/thru and the
// keywords that only steer matching.
#include "parse/parse.h"

#include <vector>

#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/fast_paths.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "parse/engine.h"
#include "runtime/error.h"
#include "runtime/platform/native_stack.h"

namespace zyl::parse {

uint32_t frames = 0;

namespace {

// {== Internal functions

constexpr const char* KEYWORD_NAMES[K_COUNT] = {
    "",       "any",    "break",  "copy", "end",     "fail", "into", "opt",   "not",   "quote",
    "case",   "reject", "set",    "skip", "some",    "thru", "to",   "none",  "|",     "if",
    "remove", "while",  "insert", "only", "collect", "keep", "pick", "ahead", "after", "change"};

// The keyword of each canonical symbol id up to the largest keyword's (interned at start-up,
// so the table stays small): one load per rule word.
std::vector<uint8_t> keyword_table;

// Rule values matched by match_literal alone.
bool is_literal(uint8_t t) {
    switch (t) {
    case T_string:
    case T_file:
    case T_url:
    case T_tag:
    case T_email:
    case T_ref:
    case T_char_:
    case T_bitset:
    case T_binary:
    case T_datatype:
    case T_typeset:
    case T_lit_word:
    case T_lit_path: return true;
    default: return false;
    }
}

bool is_word_kw(const cell& c, keyword k) { return c.type() == T_word && keyword_of(c) == k; }

// Raises parse-end naming the keyword at [kw_index] when [i] is at the block's tail.
void need(const cell& blk, uint32_t i, uint32_t kw_index) {
    if (i >= interp::tail_of(&blk)) fail_with(error::script_parse_end, rule_at(blk, kw_index));
}

// Repeats literal [r] between [min] and [max] (-1: unbounded) times in one loop, without a
// step per repetition.
bool repeat_literal(engine& e, const cell& r, int64_t min, int64_t max) {
    uint32_t start = e.pos;
    int64_t count = 0;
    while (max < 0 || count < max) {
        int64_t n = match_literal(e, r, e.pos);
        if (n < 0) break;
        count++;
        if (n == e.pos) { // an empty match: every further pass would match the same way
            if (count < min) count = min;
            break;
        }
        e.pos = static_cast<uint32_t>(n);
    }
    if (count >= min) return true;
    e.pos = start;
    return false;
}

// Repeats the element at [j] between [min] and [max] (-1: unbounded) times. An iteration
// that matches without moving the input or changing its length ends the loop (as success),
// so rules that match empty input cannot spin forever; with [stall] (`while`) the loop goes
// on, as a rule whose actions move the position back or rewrite the input relies on.
bool repeat(engine& e, const cell& blk, uint32_t j, int64_t min, int64_t max, bool stall = false) {
    frame_guard g;
    if (!e.has_callback && !stall) {
        cell r = rule_at(blk, j);
        if (r.type() == T_word && !keyword_of(r)) r = word_value(r);
        if (is_literal(r.type())) return repeat_literal(e, r, min, max);
    }
    uint32_t start = e.pos;
    int64_t count = 0;
    event(e, TE_PUSH, e.last, blk, j);
    while (max < 0 || count < max) {
        uint32_t save = e.pos;
        uint32_t len = series::rs_abs_length_q(&e.in);
        bool ok = step(e, blk, j);
        if (e.halt) return ok;
        if (e.exit) { // break succeeds where it stands; reject fails the whole loop
            bool broke = e.exit == EXIT_BREAK;
            e.exit = EXIT_NONE;
            if (!broke) e.pos = start;
            return broke;
        }
        if (!ok) break;
        count++;
        if (!stall && e.pos == save && series::rs_abs_length_q(&e.in) == len) {
            if (count < min) count = min; // every further pass would match the same way
            break;
        }
        event(e, TE_ITERATE, true, blk, j);
    }
    bool ok = count >= min;
    if (!ok) e.pos = start;
    event(e, TE_POP, ok, blk, j);
    return ok;
}

// A repeat count at [i]: `n rule` or `n m rule`.
bool counted(engine& e, const cell& blk, uint32_t i, const cell& first) {
    int64_t min = static_cast<int32_t>(first.w2), max = min;
    uint32_t tail = interp::tail_of(&blk);
    uint32_t j = i + 1;
    if (min < 0) fail_with(error::script_out_of_range, first);
    if (j < tail) {
        cell n = rule_at(blk, j);
        if (n.type() == T_word && !keyword_of(n)) {
            cell v = word_value(n);
            if (v.type() == T_integer) n = v;
        }
        if (n.type() == T_integer) {
            max = static_cast<int32_t>(n.w2);
            if (max < 0) fail_with(error::script_out_of_range, n);
            j++;
        }
    }
    if (j >= tail || max < min) fail_with(error::script_parse_rule, first);
    if (max == 0) return true;
    return repeat(e, blk, j, min, max);
}

// to / thru: the first position where the element at [j] matches.
bool search(engine& e, const cell& blk, uint32_t j, bool thru) {
    frame_guard g;
    uint32_t start = e.pos;
    cell r = rule_at(blk, j);
    if (r.type() == T_word && !keyword_of(r)) r = word_value(r);
    if (is_searchable(e, r)) {
        for (uint32_t p = start, end = end_of(e); p < end; p++) {
            int64_t n = match_literal(e, r, p);
            if (n >= 0) {
                e.pos = thru ? static_cast<uint32_t>(n) : p;
                return true;
            }
        }
        return false;
    }
    for (uint32_t p = start;; p++) {
        uint32_t end = end_of(e);
        if (p > end) break;
        e.pos = p;
        bool ok = step(e, blk, j);
        if (e.halt || e.exit) return ok;
        if (ok) {
            if (!thru) e.pos = p;
            return true;
        }
    }
    e.pos = start;
    return false;
}

// into: parses the series at the position with the rule at [j].
bool into(engine& e, const cell& blk, uint32_t j, uint32_t kw) {
    if (!e.is_block) fail_with(error::script_parse_block, e.in);
    cell r = rule_at(blk, j);
    if (r.type() == T_word) r = word_value(r);
    if (r.type() != T_block) fail_with(error::script_parse_end, rule_at(blk, kw));
    if (e.pos >= end_of(e)) return false;
    cell v = block::cells_of(e.in.w2)[e.pos];
    uint8_t t = v.type();
    if (!(series::is_any_block(t) || t == T_binary || t == T_string || t == T_file || t == T_url ||
          t == T_tag || t == T_email || t == T_ref))
        return false;
    frame_guard g;
    cell* keep = stack::push(&v);
    stack::push(&r);
    engine saved = e;
    e.in = *keep;
    e.pos = keep->w1;
    e.limit = NO_LIMIT;
    e.is_block = series::is_any_block(t);
    e.is_binary = t == T_binary;
    bool ok = match_block(e, r) && e.pos >= end_of(e);
    bool halt = e.halt;
    uint8_t ex = e.exit;
    cell* coll = e.collect;
    uint32_t depth = e.collect_depth;
    bool collected = e.collected;
    e = saved;
    e.halt = halt;
    e.exit = ex;
    e.collect = coll;
    e.collect_depth = depth;
    e.collected = collected;
    if (es.throw_code == THROW_NONE) es.top = keep;
    if (ok) e.pos++;
    return ok;
}

// The keywords that take no input themselves: loops, look-ahead, conditions, commands.
bool keyword_step(engine& e, const cell& blk, uint32_t i, keyword k) {
    uint32_t j = i + 1;
    switch (k) {
    case K_SKIP:
        if (e.pos >= end_of(e)) return false;
        e.pos++;
        return true;
    case K_END: return e.pos >= end_of(e);
    case K_NONE: return true;
    case K_FAIL: return false;
    case K_BREAK: e.exit = EXIT_BREAK; return true;
    case K_REJECT: e.exit = EXIT_REJECT; return false;
    case K_OPT: need(blk, j, i); return repeat(e, blk, j, 0, 1);
    case K_ANY: need(blk, j, i); return repeat(e, blk, j, 0, -1);
    case K_WHILE: need(blk, j, i); return repeat(e, blk, j, 0, -1, true);
    case K_SOME: need(blk, j, i); return repeat(e, blk, j, 1, -1);
    case K_TO:
    case K_THRU: need(blk, j, i); return search(e, blk, j, k == K_THRU);
    case K_AHEAD:
    case K_NOT: {
        need(blk, j, i);
        frame_guard g;
        uint32_t start = e.pos;
        bool ok = step(e, blk, j);
        if (e.halt || e.exit) return ok;
        e.pos = start;
        return k == K_NOT ? !ok : ok;
    }
    case K_QUOTE: {
        need(blk, j, i);
        cell v = rule_at(blk, j);
        if (e.pos >= end_of(e)) return false;
        if (e.is_block) {
            cell in = block::cells_of(e.in.w2)[e.pos];
            if (!actions::compare(&in, &v,
                                  e.case_ ? actions::CMP_STRICT_EQUAL : actions::CMP_EQUAL))
                return false;
            e.pos++;
            return true;
        }
        int64_t n = match_literal(e, v, e.pos);
        if (n < 0) return false;
        e.pos = static_cast<uint32_t>(n);
        return true;
    }
    case K_IF: {
        need(blk, j, i);
        cell p = rule_at(blk, j);
        if (p.type() != T_paren) fail_with(error::script_parse_end, rule_at(blk, i));
        cell v;
        if (!eval_paren(e, p, &v)) return false;
        return logic::is_true(&v, false);
    }
    case K_CASE: {
        need(blk, j, i);
        frame_guard g;
        cell w = rule_at(blk, j);
        if (w.type() != T_word) fail_with(error::script_parse_end, rule_at(blk, i));
        need(blk, j + 1, i);
        cell v = word_value(w);
        bool saved = e.case_;
        e.case_ = logic::is_true(&v, false);
        bool ok = step(e, blk, j + 1);
        e.case_ = saved;
        return ok;
    }
    case K_INTO: need(blk, j, i); return into(e, blk, j, i);
    default: break;
    }
    frame_guard g; // the commands: each holds a frame while its rule runs
    switch (k) {
    case K_COPY:
    case K_SET: return do_copy_set(e, blk, i, k == K_COPY);
    case K_REMOVE: return do_remove(e, blk, i);
    case K_INSERT: return do_insert(e, blk, i);
    case K_CHANGE: return do_change(e, blk, i);
    case K_COLLECT: return do_collect(e, blk, i);
    case K_KEEP: return do_keep(e, blk, i);
    default:
        fail_with(error::script_parse_rule, rule_at(blk, i)); // |, only, pick, after out of place
    }
}

// A rule value that is not a keyword, at [i] (words already looked up into [r]).
bool value_step(engine& e, const cell& blk, uint32_t i, const cell& r) {
    switch (r.type()) {
    case T_block: {
        cell* keep = stack::push(&r);
        bool ok = match_block(e, *keep);
        if (es.throw_code == THROW_NONE) es.top = keep; // an exit has cut the stack already
        return ok;
    }
    case T_paren: {
        cell v;
        event(e, TE_PAREN, e.last, blk, i);
        return eval_paren(e, r, &v);
    }
    case T_integer: return counted(e, blk, i, r);
    case T_set_word: {
        cell w = r, at = e.in;
        at.w1 = e.pos;
        word::set_value(&w, &at);
        return true;
    }
    case T_get_word: {
        cell v = word_value(r);
        if (!series::is_series_type(v.type()) || v.w2 != e.in.w2)
            fail_with(error::script_parse_invalid_ref, r);
        e.pos = v.w1 > series::rs_abs_length_q(&e.in) ? series::rs_abs_length_q(&e.in) : v.w1;
        return true;
    }
    case T_unset: fail_with(error::script_no_value, rule_at(blk, i));
    default: {
        int64_t n = match_literal(e, r, e.pos);
        event(e, TE_MATCH, n >= 0, blk, i);
        if (n < 0) return false;
        e.pos = static_cast<uint32_t>(n);
        return true;
    }
    }
}

// }==

} // namespace

// {== Engine

void frame_guard::overflow() {
    frames--;
    error::raise(error::cat_script, error::script_parse_stack);
}

void fail_with(int32_t id, const cell& arg) {
    cell a = arg;
    error::raise(error::cat_script, id, &a);
}

keyword keyword_of(const cell& w) {
    uint32_t s = symbol::resolve(w.w2);
    return s < keyword_table.size() ? static_cast<keyword>(keyword_table[s]) : K_NONE_KW;
}

cell word_value(const cell& w) {
    cell v = *word::get_value(&w);
    if (v.type() == T_unset) fail_with(error::script_no_value, w);
    return v;
}

uint32_t end_of(const engine& e) {
    uint32_t n = series::rs_abs_length_q(&e.in);
    return n < e.limit ? n : e.limit;
}

bool eval_paren(engine& e, const cell& p, cell* out) {
    cell* saved = es.top;
    cell code = p;
    stack::push(&code);
    interp::eval_block(&code, false);
    if (es.throw_code != THROW_NONE) {
        e.halt = true;
        return false;
    }
    *out = *stack::top();
    es.top = saved;
    return true;
}

uint32_t extent(const cell& blk, uint32_t i) {
    uint32_t tail = interp::tail_of(&blk), extra = 0;
    while (i < tail) {
        cell r = rule_at(blk, i);
        keyword k = r.type() == T_word ? keyword_of(r) : K_NONE_KW;
        if (r.type() == T_integer) {
            i++;
            if (i < tail) {
                cell n = rule_at(blk, i);
                if (n.type() == T_word && !keyword_of(n)) {
                    cell* v = word::get_value(&n);
                    if (v->type() == T_integer) i++;
                } else if (n.type() == T_integer) {
                    i++;
                }
            }
            continue;
        }
        switch (k) {
        case K_OPT:
        case K_ANY:
        case K_SOME:
        case K_WHILE:
        case K_NOT:
        case K_AHEAD:
        case K_TO:
        case K_THRU:
        case K_REMOVE: i++; continue;
        case K_COPY:
        case K_SET:
        case K_CASE: i += 2; continue;
        case K_COLLECT:
            i++;
            if (i < tail &&
                (is_word_kw(rule_at(blk, i), K_SET) || is_word_kw(rule_at(blk, i), K_INTO) ||
                 is_word_kw(rule_at(blk, i), K_AFTER)))
                i += 2;
            continue;
        case K_KEEP:
            i++;
            if (i < tail && is_word_kw(rule_at(blk, i), K_PICK)) i++;
            continue;
        case K_INSERT:
            i++;
            if (i < tail && is_word_kw(rule_at(blk, i), K_ONLY)) i++;
            i++;
            break;
        case K_CHANGE:
            i++;
            if (i < tail && is_word_kw(rule_at(blk, i), K_ONLY)) i++;
            extra++;
            continue;
        case K_QUOTE:
        case K_IF:
        case K_INTO: i += 2; break;
        default: i++; break;
        }
        break;
    }
    i += extra;
    return i < tail ? i : tail;
}

bool step(engine& e, const cell& blk, uint32_t i) {
    uint32_t start = e.pos;
    cell r = rule_at(blk, i);
    event(e, TE_FETCH, e.last, blk, i);
    if (e.halt) return false;
    bool ok;
    if (r.type() == T_word) {
        keyword k = keyword_of(r);
        ok = k ? keyword_step(e, blk, i, k) : value_step(e, blk, i, word_value(r));
    } else {
        ok = value_step(e, blk, i, r);
    }
    if (e.halt) return ok;
    if (!ok) e.pos = start;
    e.last = ok;
    return ok;
}

bool match_block(engine& e, const cell& blk) {
    frame_guard g;
    native_stack::check();
    if (e.trace_stack) block::append_value(e.trace_stack, &blk);
    event(e, TE_PUSH, e.last, blk, blk.w1);
    uint32_t start = e.pos;
    bool ok = true;
    for (uint32_t i = blk.w1; i < interp::tail_of(&blk);) {
        cell r = rule_at(blk, i);
        if (r.type() == T_word && keyword_of(r) == K_BAR) {
            if (ok) break;
            e.pos = start;
            ok = true;
            i++;
            continue;
        }
        uint32_t next = extent(blk, i);
        if (ok) {
            ok = step(e, blk, i);
            if (e.halt || e.exit) return ok;
        }
        i = next;
    }
    if (!ok) e.pos = start;
    if (e.trace_stack) block::remove_last(e.trace_stack);
    event(e, TE_POP, ok, blk, blk.w1);
    return ok;
}

// }==
// {== Interface

void init() {
    uint32_t symbols[K_COUNT] = {};
    uint32_t top = 0;
    for (uint32_t k = 1; k < K_COUNT; k++) {
        cell w = word::load(KEYWORD_NAMES[k]);
        symbols[k] = symbol::resolve(w.w2);
        if (symbols[k] > top) top = symbols[k];
    }
    keyword_table.assign(top + 1, K_NONE_KW);
    for (uint32_t k = 1; k < K_COUNT; k++) keyword_table[symbols[k]] = static_cast<uint8_t>(k);
    init_trace();
}

void process(const cell* input, const cell* rules, bool case_, uint32_t part_limit,
             const cell* callback, cell* result) {
    cell* base = stack::push(input);
    cell* rule_slot = stack::push(rules);
    cell* result_slot = stack::push(&none_value);
    engine e{};
    e.in = *base;
    e.pos = base->w1;
    e.limit = part_limit;
    uint8_t t = base->type();
    e.is_block = series::is_any_block(t);
    e.is_binary = t == T_binary;
    e.case_ = case_;
    e.result_block = result_slot;
    if (callback) {
        e.has_callback = true;
        e.callback = *callback;
        stack::push(callback);
        e.trace_stack = block::push_new(8);
    }
    uint32_t saved_frames = frames;
    bool ok;
    try {
        ok = match_block(e, *rule_slot);
    } catch (...) {
        frames = saved_frames;
        throw;
    }
    if (es.throw_code != THROW_NONE) {
        *result = unset_value;
        return;
    }
    if (!e.halt) {
        e.exit = EXIT_NONE;
        ok = ok && e.pos >= end_of(e);
        event(e, TE_END, ok, *rule_slot, interp::tail_of(rule_slot));
        if (es.throw_code != THROW_NONE) {
            *result = unset_value;
            return;
        }
    }
    if (e.halt) ok = e.last;
    *result = e.collected ? *result_slot : logic::make_value(ok);
    es.top = base;
}

// }==

} // namespace zyl::parse
