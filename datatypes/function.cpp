// datatypes/function.cpp: function!: spec rules, building function values, the automatic
// locals of the `function` native, and the action entries.
#include "datatypes/function.h"

#include <algorithm>
#include <string_view>

#include "datatypes/action_types.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/header_flags.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/words.h"

namespace zyl::function {

// {== Internal functions

namespace {

// The canonical symbol of [sym], 0 when the predefined words are missing.
uint32_t canon(uint32_t sym) { return sym ? symbol::resolve(sym) : 0; }

bool is_arg_word(uint8_t t) { return t == T_word || t == T_lit_word || t == T_get_word; }
bool is_spec_word(uint8_t t) { return is_arg_word(t) || t == T_refinement; }

// The cells of block [blk] from its index (clamped to its tail) to its tail, by absolute
// position.
struct span {
    node_id node;
    uint32_t from;
    uint32_t to;
    const cell* at(uint32_t i) const { return block::cells_of(node) + i; } // re-read: buffers move
};
span span_of(const cell* blk) {
    uint32_t length = static_cast<uint32_t>(series::length(blk->w2));
    return span{blk->w2, std::min(blk->w1, length), length};
}

[[noreturn]] void bad_def(const cell* spec) { error::raise(error::cat_script, error::script_bad_func_def, spec); }

// The attribute block [attrs]: words only; answers the trace flags it sets.
uint32_t check_attributes(const cell* attrs, const cell* spec) {
    uint32_t flags = 0;
    span s = span_of(attrs);
    for (uint32_t i = s.from; i < s.to; i++) {
        const cell* w = s.at(i);
        if (w->type() != T_word) bad_def(spec);
        uint32_t c = canon(w->w2);
        if (c && c == canon(words::sym.trace)) flags |= FUNC_TRACE;
        if (c && c == canon(words::sym.no_trace)) flags |= FUNC_NO_TRACE;
    }
    return flags;
}

// A later word, lit-word, get-word or refinement of [s] with an earlier one's symbol raises
// dup-vars naming it.
void check_duplicates(const span& s) {
    for (uint32_t i = s.from; i < s.to; i++) {
        if (!is_spec_word(s.at(i)->type())) continue;
        uint32_t c = canon(s.at(i)->w2);
        for (uint32_t j = i + 1; j < s.to; j++) {
            if (!is_spec_word(s.at(j)->type()) || canon(s.at(j)->w2) != c) continue;
            cell dup = *s.at(j);
            error::raise(error::cat_script, error::script_dup_vars, &dup);
        }
    }
}

// Whether the value after a refinement may follow it.
bool may_follow_refinement(uint8_t t) {
    return is_arg_word(t) || t == T_refinement || t == T_set_word || t == T_string;
}

// One pass over a spec: where it stands and what it has seen.
struct spec_walk {
    span s;
    const cell* spec; // the whole spec, for the error
    uint32_t i;       // the value being checked
    bool return_seen;
    bool local_seen;
};

// An argument word at w.i and its type block: after /local only plain words, and after
// return: only locals.
void check_arg_word(spec_walk& w) {
    uint8_t t = w.s.at(w.i)->type();
    if ((w.local_seen && t != T_word) || (w.return_seen && !w.local_seen)) bad_def(w.spec);
    if (++w.i < w.s.to && w.s.at(w.i)->type() == T_block) {
        cell types = *w.s.at(w.i++);
        check_type_block(&types);
    }
}

// The return specification at w.i: return: once, before /local, then its type block, then
// the end, a refinement or a string.
void check_return(spec_walk& w) {
    const cell* v = w.s.at(w.i);
    if (canon(v->w2) != canon(words::sym.return_) || w.return_seen || w.local_seen) bad_def(w.spec);
    w.return_seen = true;
    if (++w.i >= w.s.to || w.s.at(w.i)->type() != T_block) bad_def(w.spec);
    uint8_t next = ++w.i < w.s.to ? w.s.at(w.i)->type() : uint8_t(T_string);
    if (next != T_refinement && next != T_string) bad_def(w.spec);
}

// A refinement at w.i: none but /local after /local or return:.
void check_refinement(spec_walk& w) {
    if (is_local(w.s.at(w.i))) {
        w.local_seen = true;
    } else if (w.local_seen || w.return_seen) {
        bad_def(w.spec);
    }
    if (++w.i < w.s.to && !may_follow_refinement(w.s.at(w.i)->type())) bad_def(w.spec);
}

// The automatic locals of `function`.

struct collecting {
    cell* ignore;    // the spec's words (and the collected ones): never collected
    cell* collected; // the new locals, in order of appearance
};

// Whether list [blk] holds a word of canonical symbol [c].
bool listed(const cell* blk, uint32_t c) {
    span s = span_of(blk);
    for (uint32_t i = s.from; i < s.to; i++) {
        const cell* v = s.at(i);
        if (v->type() >= T_word && v->type() <= T_refinement && canon(v->w2) == c) return true;
    }
    return false;
}

// Collects word [w] (a word! or set-word!) once, unless it is to be ignored.
void collect(const collecting& st, cell w) {
    if (w.type() != T_word && w.type() != T_set_word) return;
    if (listed(st.ignore, canon(w.w2))) return;
    cells::set_type(&w, T_word);
    cells::clear_new_line(&w);
    block::append_value(st.collected, &w);
    block::append_value(st.ignore, &w);
}

// The words that the loop word [loop] (repeat, foreach, remove-each) sets, given in [next].
void collect_loop_words(const collecting& st, uint32_t loop, const cell& next) {
    if (loop == canon(words::sym.repeat)) return collect(st, next);
    if (next.type() != T_block) return collect(st, next);
    span s = span_of(&next);
    for (uint32_t i = s.from; i < s.to; i++) collect(st, *s.at(i));
}

// Walks [blk] and the blocks and parens inside it for set-words and loop words.
void walk(const collecting& st, const cell& blk) {
    if (cycles::find(blk.w2)) return; // a block that contains itself is walked once
    cycles::entry k_walk{blk.w2};
    for (uint32_t i = blk.w1; i < series::length(blk.w2); i++) {
        cell v = *(block::cells_of(blk.w2) + i);
        uint8_t t = v.type();
        if (t == T_set_word) {
            collect(st, v);
        } else if (t == T_block || t == T_paren) {
            walk(st, v);
        } else if (t == T_word && i + 1 < series::length(blk.w2)) {
            uint32_t c = canon(v.w2);
            if (c && (c == canon(words::sym.repeat) || c == canon(words::sym.foreach) ||
                      c == canon(words::sym.remove_each)))
                collect_loop_words(st, c, *(block::cells_of(blk.w2) + i + 1));
        }
    }
}

// The ignore list: the spec's values with every kind of word made a word!; with [externs] a
// value that is neither a word nor a block nor a string raises bad-func-extern.
void make_ignore_list(cell* ignore, bool externs) {
    span s = span_of(ignore);
    for (uint32_t i = s.from; i < s.to; i++) {
        cell* v = block::cells_of(s.node) + i;
        uint8_t t = v->type();
        if (t == T_set_word || t == T_lit_word || t == T_get_word || t == T_refinement) {
            cells::set_type(v, T_word);
        } else if (t != T_word && t != T_block && t != T_string && externs) {
            cell bad = *v;
            error::raise(error::cat_script, error::script_bad_func_extern, &bad);
        }
    }
}

// The position of /extern in [spec], or -1.
int32_t find_extern(const cell* spec) {
    span s = span_of(spec);
    uint32_t c = canon(words::refs.extern_.w2);
    for (uint32_t i = s.from; i < s.to; i++)
        if (c && s.at(i)->type() == T_refinement && canon(s.at(i)->w2) == c) return int32_t(i);
    return -1;
}

// The words after /local that follow the extern words at [from] go to the collected list.
void take_extern_locals(const collecting& st, const cell* spec, uint32_t from) {
    span s = span_of(spec);
    uint32_t i = from;
    while (i < s.to && !is_local(s.at(i))) i++;
    for (i++; i < s.to; i++) {
        cell w = *s.at(i);
        if (w.type() != T_word) continue;
        cells::clear_new_line(&w);
        block::append_value(st.collected, &w);
    }
}

// Drops the word local from the collected list.
void drop_local_word(cell* collected) {
    span s = span_of(collected);
    uint32_t c = canon(words::refs.local.w2);
    uint32_t kept = s.from;
    for (uint32_t i = s.from; i < s.to; i++) {
        cell* all = block::cells_of(s.node);
        if (canon(all[i].w2) != c) all[kept++] = all[i];
    }
    block::rs_set_tail(collected, kept);
}

// Building values.

// Fills the five cells of function series [s].
void fill_series(node_id s, const cell* body, int64_t code, int64_t extra) {
    cell* c = block::cells_of(s);
    c[FN_BODY] = body ? *body : none_value;
    c[FN_ARGS] = unset_value;
    c[FN_CODE] = code >= 0 ? integer::make_value(static_cast<int32_t>(code)) : unset_value;
    c[FN_OP] = unset_value;
    c[FN_EXTRA] = extra >= 0 ? integer::make_value(static_cast<int32_t>(extra)) : unset_value;
    memory::buffer_of(s)->tail = reinterpret_cast<uint8_t*>(c + FN_CELLS);
}

// Pushes [blk] with its index clamped to its tail.
cell* push_clamped(const cell* blk) {
    cell* c = stack::push(blk);
    c->w1 = std::min(c->w1, static_cast<uint32_t>(series::length(c->w2)));
    return c;
}

} // namespace

bool is_local(const cell* c) {
    uint32_t local = canon(words::refs.local.w2);
    return local && c->type() == T_refinement && canon(c->w2) == local;
}

void check_type_block(const cell* types) {
    span s = span_of(types);
    for (uint32_t i = s.from; i < s.to; i++) {
        cell v = *s.at(i);
        uint8_t t = v.type();
        if (t == T_word) {
            t = word::push_value(&v)->type(); // an unset word raises no-value
            stack::pop(1);
        }
        if (t != T_datatype && t != T_typeset && t != T_word)
            error::raise(error::cat_script, error::script_invalid_type_spec, &v);
    }
}

uint32_t validate_spec(const cell* spec) {
    spec_walk w{span_of(spec), spec, 0, false, false};
    w.i = w.s.from;
    uint32_t flags = 0;
    if (w.i < w.s.to && w.s.at(w.i)->type() == T_block) flags = check_attributes(w.s.at(w.i++), spec);
    while (w.i < w.s.to) {
        switch (w.s.at(w.i)->type()) {
        case T_word: case T_lit_word: case T_get_word: check_arg_word(w); break;
        case T_set_word: check_return(w); break;
        case T_refinement: check_refinement(w); break;
        case T_string: w.i++; break; // doc strings
        default: bad_def(spec);
        }
    }
    check_duplicates(w.s);
    return flags;
}

bool making_library = false;

node_id make_value(const cell* spec, const cell* body, node_id ctx, int64_t code, int64_t extra, uint32_t flags) {
    cell* result = stack::push(&none_value);
    cell* s = push_clamped(spec);
    if (s->w1 != 0) { // the function keeps a spec of its own from that index
        block::clone(s, UINT32_MAX, false, false);
        stack::move_top_down();
    }
    cell* b = body ? push_clamped(body) : nullptr;
    if (b) block::copy(b, nullptr, true, nullptr); // in place: b becomes the deep copy
    bool made = ctx == 0;
    if (made) ctx = context::make_from_spec(s, true, false, context::KIND_FUNCTION);
    collector::keep_node k_ctx{&ctx};
    node_id series = series::alloc_cells(FN_CELLS);
    fill_series(series, b, code, extra);
    if (making_library) flags |= FUNC_LIBRARY;
    *result = cell{T_function | flags, ctx, s->w2, series};
    *context::owner_of(ctx) = *result;
    if (made && b) context::bind(b, ctx, false);
    es.top = result + 1;
    return ctx;
}

cell* collect_words(cell* spec_copy, const cell* body) {
    cell* ignore = block::clone(spec_copy, UINT32_MAX, false, false);
    cell* collected = block::push_new(8);
    collecting st{ignore, collected};
    int32_t ext = find_extern(spec_copy);
    if (ext >= 0) {
        take_extern_locals(st, spec_copy, uint32_t(ext) + 1);
        block::rs_set_tail(spec_copy, uint32_t(ext));
    }
    make_ignore_list(ignore, ext >= 0);
    walk(st, *body);
    if (block::rs_length_q(collected) > 0) {
        if (count_args(spec_copy->w2, spec_copy->w1, false) == 0)
            block::append_value(spec_copy, &words::refs.local);
        drop_local_word(collected);
        block::append_part(spec_copy, collected, static_cast<uint32_t>(series::length(collected->w2)));
    }
    stack::move_top_down(); // the collected list takes the ignore list's place
    return stack::top();
}

int32_t count_args(node_id spec, uint32_t start, bool required) {
    const uint32_t length = static_cast<uint32_t>(series::length(spec));
    const cell* c = block::cells_of(spec);
    for (uint32_t i = start; i < length; i++) {
        if (!is_local(&c[i])) continue;
        int32_t count = 1;
        for (uint32_t j = i + 1; j < length; j++) count += c[j].type() == T_word;
        return count;
    }
    return required ? -1 : 0;
}

void push_unused_refinement(int32_t n) {
    if (n < 1) return;
    stack::push(&false_value);
    for (int32_t i = 1; i < n; i++) stack::push(&none_value);
}

// }==
// {== Action entries

namespace {

// Whether [field] is a word of canonical symbol [sym].
bool names(const cell* field, uint32_t sym) {
    return sym != 0 && field->type() >= T_word && field->type() <= T_refinement && canon(field->w2) == canon(sym);
}

cell* make(cell* proto, cell* spec, uint8_t) {
    if (spec->type() != T_block || block::rs_length_q(spec) < 2) bad_def(spec);
    const cell* c = block::cells_of(spec->w2) + spec->w1;
    cell parts[2] = {c[0], c[1]};
    if (parts[0].type() != T_block || parts[1].type() != T_block) bad_def(spec);
    uint32_t flags = validate_spec(&parts[0]);
    make_value(&parts[0], &parts[1], 0, -1, -1, flags);
    *proto = *stack::top();
    stack::pop(1);
    return proto;
}

// A new block of the words of [ctx], each bound to it.
cell words_of(node_id ctx) {
    node_id n = series::copy_buffer(context::words_of(ctx));
    series_buffer* b = memory::buffer_of(n);
    uint32_t index = 0;
    for (auto* w = reinterpret_cast<cell*>(b->head); w < reinterpret_cast<cell*>(b->tail); w++) {
        *w = word::make_value(T_word, ctx, w->w2, index++);
    }
    return cell{T_block, 0, n, 0};
}

int32_t form(const cell*, cell* buffer, const cell*, int32_t part) {
    string::concatenate_literal(buffer, "?function?");
    return part - 10;
}

int32_t mold(const cell* value, cell* buffer, bool, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent) {
    cell spec = cell{T_block, 0, value->w2, 0};
    cell body = *series_cell(value, FN_BODY);
    collector::keep k_body{&body};
    string::concatenate_literal(buffer, "func ");
    part = actions::mold_typed(&spec, buffer, false, all, flat, arg, part - 5, indent);
    if (body.type() != T_none) return actions::mold_typed(&body, buffer, false, all, flat, arg, part, indent);
    string::concatenate_literal(buffer, " none");
    return part - 5;
}

// Functions are ordered by the identity of their series: equal only to themselves.
int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_function || !is_equality_op(op)) return -2;
    return a->w3 < b->w3 ? -1 : a->w3 > b->w3 ? 1 : 0;
}

// routine! inherits it.
cell* reflect(cell* value, const cell* field) {
    if (names(field, words::sym.spec)) return &(*value = cell{T_block, 0, value->w2, 0});
    if (names(field, words::sym.body)) return &(*value = *series_cell(value, FN_BODY));
    if (names(field, words::sym.words)) return &(*value = words_of(value->w1));
    error::raise(error::cat_internal, error::internal_not_done);
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_reflect - 1] = entry(&reflect);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_compare - 1] = entry(&compare);
    datatype::register_type(ACTION_SLOTS + 3, T_function, T_context, "function!", e);
}

// }==

} // namespace zyl::function
