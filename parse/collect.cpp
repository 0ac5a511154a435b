// parse/collect.cpp: the parse keywords that take values out of the input or change it:
// copy, set, collect, keep, remove, insert and change.
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "parse/engine.h"
#include "runtime/error.h"

namespace zyl::parse {

namespace {

// {== Internal functions

bool is_kw(const cell& c, keyword k) { return c.type() == T_word && keyword_of(c) == k; }

void need(const cell& blk, uint32_t i, uint32_t kw) {
    if (i >= interp::tail_of(&blk)) fail_with(error::script_parse_end, rule_at(blk, kw));
}

// The target word after copy, set or collect set/into/after at [i].
cell target_word(const cell& blk, uint32_t i, uint32_t kw) {
    need(blk, i, kw);
    cell w = rule_at(blk, i);
    if (w.type() != T_word && w.type() != T_set_word)
        fail_with(error::script_parse_end, rule_at(blk, kw));
    return w;
}

void set_word(const cell& w, const cell& v) {
    cell word = w, value = v;
    word::set_value(&word, &value);
}

// The part of the input between [from] and [to] as one value: nothing for an empty part, the
// element for one, else a copy of the input's type. Answers false for nothing.
bool part_value(const engine& e, uint32_t from, uint32_t to, cell* out) {
    if (to <= from) return false;
    if (to - from == 1) {
        series::element_at(&e.in, from, out);
        return true;
    }
    *out = series::detail::copy_units(&e.in, from, to - from);
    return true;
}

// The value an insert or change puts in: a paren's result, a word's value, or itself.
bool insert_value(engine& e, const cell& blk, uint32_t i, uint32_t kw, cell* out) {
    need(blk, i, kw);
    cell v = rule_at(blk, i);
    if (v.type() == T_path || v.type() == T_set_path || v.type() == T_get_path)
        fail_with(error::script_parse_rule, v);
    if (v.type() == T_paren) return eval_paren(e, v, out);
    *out = v.type() == T_word ? word_value(v) : v;
    return true;
}

// Moves the part limit by [delta] units after a change of the input's length.
void shift_limit(engine& e, int64_t delta) {
    if (e.limit == NO_LIMIT) return;
    int64_t l = static_cast<int64_t>(e.limit) + delta;
    e.limit = l < 0 ? 0 : static_cast<uint32_t>(l);
}

// Puts [v] in the open collection: its own block, or the into/after target.
void keep_one(engine& e, const cell& v) {
    cell* target = e.collect;
    if (e.collect_mode == 0) {
        block::append_value(target, &v);
        return;
    }
    cell* s = stack::push(target);
    cell* value = stack::push(&v);
    bool only = series::is_any_block(target->type());
    if (e.collect_mode == 2) {
        actions::append_typed(s, value, nullptr, only, nullptr);
    } else {
        uint32_t before = series::rs_abs_length_q(s);
        actions::insert_typed(s, value, nullptr, only, nullptr);
        target->w1 += series::rs_abs_length_q(target) - before;
    }
    es.top = s;
}

// Checks a collect into/after target against the input.
void check_target(const engine& e, const cell& t) {
    uint8_t tt = t.type(), it = e.in.type();
    if (!series::is_series_type(tt) || tt == T_map || tt == T_vector || tt == T_image)
        error::raise(error::cat_script, error::script_parse_into_type);
    if (t.w2 == e.in.w2) error::raise(error::cat_script, error::script_parse_into_bad);
    if (series::is_any_block(tt) || tt == T_binary) return;
    if (tt == it || series::is_any_block(it)) return;
    error::raise(error::cat_script, error::script_parse_into_type);
}

// }==

} // namespace

// {== Keywords

bool do_copy_set(engine& e, const cell& blk, uint32_t i, bool copy) {
    cell w = target_word(blk, i + 1, i);
    need(blk, i + 2, i);
    uint32_t start = e.pos;
    bool ok = step(e, blk, i + 2);
    if (!ok || e.halt) return ok;
    cell v = none_value;
    if (copy) {
        uint32_t from = start, to = e.pos < start ? start : e.pos;
        v = series::detail::copy_units(&e.in, from, to - from);
    } else if (e.pos > start) {
        series::element_at(&e.in, start, &v);
    }
    set_word(w, v);
    return true;
}

bool do_remove(engine& e, const cell& blk, uint32_t i) {
    need(blk, i + 1, i);
    cell r = rule_at(blk, i + 1);
    if (r.type() == T_path || r.type() == T_set_path || r.type() == T_get_path)
        fail_with(error::script_parse_rule, r);
    uint32_t start = e.pos, to;
    if (r.type() == T_word && !keyword_of(r)) {
        cell v = word_value(r);
        if (series::is_series_type(v.type()) && v.w2 == e.in.w2) {
            start = v.w1 < e.pos ? v.w1 : e.pos;
            to = v.w1 < e.pos ? e.pos : v.w1;
            series::detail::remove_units(&e.in, start, to - start);
            shift_limit(e, -static_cast<int64_t>(to - start));
            e.pos = start;
            return true;
        }
    }
    bool ok = step(e, blk, i + 1);
    if (!ok || e.halt) return ok;
    to = e.pos;
    if (to > start) {
        series::detail::remove_units(&e.in, start, to - start);
        shift_limit(e, -static_cast<int64_t>(to - start));
    }
    e.pos = start;
    return true;
}

bool do_insert(engine& e, const cell& blk, uint32_t i) {
    uint32_t j = i + 1;
    bool only = j < interp::tail_of(&blk) && is_kw(rule_at(blk, j), K_ONLY);
    if (only) j++;
    cell v;
    if (!insert_value(e, blk, j, i, &v)) return false;
    cell at = e.in;
    at.w1 = e.pos;
    cell* s = stack::push(&at);
    cell* value = stack::push(&v);
    uint32_t before = series::rs_abs_length_q(s);
    actions::insert_typed(s, value, nullptr, only, nullptr);
    int64_t delta = static_cast<int64_t>(series::rs_abs_length_q(&e.in)) - before;
    es.top = s;
    e.pos = static_cast<uint32_t>(e.pos + delta);
    shift_limit(e, delta);
    return true;
}

bool do_change(engine& e, const cell& blk, uint32_t i) {
    uint32_t j = i + 1;
    bool only = j < interp::tail_of(&blk) && is_kw(rule_at(blk, j), K_ONLY);
    if (only) j++;
    need(blk, j, i);
    uint32_t k = extent(blk, j);
    need(blk, k, i);
    uint32_t start = e.pos, to;
    cell r = rule_at(blk, j);
    if (r.type() == T_path || r.type() == T_set_path || r.type() == T_get_path)
        fail_with(error::script_parse_rule, r);
    cell wv = r.type() == T_word && !keyword_of(r) ? word_value(r) : none_value;
    if (series::is_series_type(wv.type()) && wv.w2 == e.in.w2) {
        start = wv.w1 < e.pos ? wv.w1 : e.pos;
        to = wv.w1 < e.pos ? e.pos : wv.w1;
    } else {
        bool ok = step(e, blk, j);
        if (!ok || e.halt) return ok;
        to = e.pos;
    }
    cell v;
    if (!insert_value(e, blk, k, i, &v)) return false;
    cell at = e.in;
    at.w1 = start;
    cell* s = stack::push(&at);
    cell* value = stack::push(&v);
    cell count = integer::make_value(static_cast<int32_t>(to - start));
    cell* part = stack::push(&count);
    uint32_t before = series::rs_abs_length_q(s);
    actions::change_typed(s, value, part, only, nullptr);
    int64_t delta = static_cast<int64_t>(series::rs_abs_length_q(&e.in)) - before;
    es.top = s;
    e.pos = static_cast<uint32_t>(to + delta);
    shift_limit(e, delta);
    return true;
}

bool do_collect(engine& e, const cell& blk, uint32_t i) {
    uint32_t j = i + 1;
    need(blk, j, i);
    cell opt = rule_at(blk, j);
    uint8_t mode = 0;
    bool set = false;
    cell w{};
    if (is_kw(opt, K_SET) || is_kw(opt, K_INTO) || is_kw(opt, K_AFTER)) {
        w = target_word(blk, j + 1, i);
        set = is_kw(opt, K_SET);
        mode = is_kw(opt, K_INTO) ? 1 : is_kw(opt, K_AFTER) ? 2 : 0;
        j += 2;
        need(blk, j, i);
    }
    cell* saved_top = es.top;
    cell* target;
    if (mode) {
        cell t = word_value(w);
        check_target(e, t);
        target = stack::push(&t);
    } else {
        target = block::push_new(8);
    }
    cell* outer = e.collect;
    uint8_t outer_mode = e.collect_mode;
    e.collect = target;
    e.collect_mode = mode;
    e.collect_depth++;
    bool ok = step(e, blk, j);
    e.collect = outer;
    e.collect_mode = outer_mode;
    e.collect_depth--;
    if (e.halt) return ok;
    if (mode == 0) {
        cell result = *target;
        if (set) {
            set_word(w, result);
        } else if (outer) {
            keep_one(e, result);
        } else if (e.collect_depth == 0) {
            *e.result_block = result;
            e.collected = true;
        }
    }
    es.top = saved_top;
    return ok;
}

bool do_keep(engine& e, const cell& blk, uint32_t i) {
    uint32_t j = i + 1;
    need(blk, j, i);
    bool pick = is_kw(rule_at(blk, j), K_PICK);
    if (pick) {
        j++;
        need(blk, j, i);
    }
    if (!e.collect) error::raise(error::cat_script, error::script_parse_keep);
    cell r = rule_at(blk, j);
    if (r.type() == T_paren) {
        cell v;
        if (!eval_paren(e, r, &v)) return false;
        if (pick && v.type() == T_block) {
            cell* s = stack::push(&v);
            for (uint32_t k = s->w1; k < interp::tail_of(s); k++) {
                cell x = block::cells_of(s->w2)[k]; // the append may move the buffer
                keep_one(e, x);
            }
            es.top = s;
        } else {
            keep_one(e, v);
        }
        return true;
    }
    uint32_t start = e.pos;
    bool ok = step(e, blk, j);
    if (!ok || e.halt) return ok;
    if (pick) {
        for (uint32_t k = start; k < e.pos; k++) {
            cell v;
            series::element_at(&e.in, k, &v);
            keep_one(e, v);
        }
        return true;
    }
    cell v;
    if (part_value(e, start, e.pos, &v)) {
        cell* s = stack::push(&v);
        keep_one(e, *s);
        es.top = s;
    }
    return true;
}

// }==

} // namespace zyl::parse
