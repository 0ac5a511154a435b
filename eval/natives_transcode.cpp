// eval/natives_transcode.cpp: transcode, the native face of the lexer, and the bridge that
// hands the lexer's events to a language-level callback.
//
// The callback runs in a function frame of its own above transcode's cells, with five
// arguments: the event word, the input (its index at the token), the token's datatype (none
// for a structure token), the line and the token (the loaded value for `load`, else a pair!
// of its 1-based start and end). When it sets its input argument to another index of the
// same series, scanning resumes there.
#include <bit>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/control_internal.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "lexer/lexer.h"
#include "runtime/error.h"

namespace zyl::natives {

namespace {

using control::check_arg;

// {== Internal functions

constexpr uint32_t EVENT_KINDS = 6;
constexpr const char* EVENT_NAMES[EVENT_KINDS] = {"prescan", "scan", "load", "open", "close", "error"};

// The event words, by the bit of their event; global words, so they need no marking.
cell event_words[EVENT_KINDS];

constexpr cell ts_source = typeset::of({T_binary, T_string});
constexpr cell ts_part = typeset::of({T_integer, T_string, T_binary});
constexpr cell ts_block = typeset::of({T_block});
constexpr cell ts_function = typeset::of({T_function});

// With [check], checks the argument of the refinement at [pos] (when used) against [ts].
inline void check_refinement(int32_t check, const cell& ts, int32_t pos) {
    if (check && pos >= 0) error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
}

// The events callback [fn] wants: the event words of the block that opens its body, or all.
uint32_t callback_mask(const cell* fn) {
    cell body = *function::series_cell(fn, function::FN_BODY);
    if (body.type() != T_block || body.w1 >= interp::tail_of(&body)) return lexer::EV_ALL;
    cell first = block::cells_of(body.w2)[body.w1];
    if (first.type() != T_block) return lexer::EV_ALL;
    uint32_t mask = 0;
    for (uint32_t i = first.w1, n = interp::tail_of(&first); i < n; i++) {
        const cell* w = block::cells_of(first.w2) + i;
        if (w->type() != T_word) continue;
        uint32_t s = symbol::resolve(w->w2);
        for (uint32_t b = 0; b < EVENT_KINDS; b++) {
            if (symbol::resolve(event_words[b].w2) == s) mask |= 1u << b;
        }
    }
    return mask;
}

// The arguments [fn]'s spec declares before its first refinement.
uint32_t fixed_arg_count(const cell* fn) {
    cell spec{T_block, 0, fn->w2, 0};
    uint32_t n = 0;
    for (uint32_t i = 0, end = interp::tail_of(&spec); i < end; i++) {
        uint8_t t = block::cells_of(spec.w2)[i].type();
        if (t == T_refinement) break;
        if (t == T_word || t == T_get_word || t == T_lit_word) n++;
    }
    return n;
}

// The five values the callback is given for event [e].
void event_args(const lexer::event& e, cell (&args)[5]) {
    auto clamp = [](int64_t v) { return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v); };
    args[0] = event_words[std::countr_zero(static_cast<uint32_t>(e.kind))];
    args[1] = e.input ? *e.input : none_value;
    args[2] = e.type > 0 ? datatype::make_value(static_cast<uint8_t>(e.type)) : none_value;
    args[3] = integer::make_value(e.line);
    args[4] = e.value ? *e.value : pair::make_value(clamp(e.start), clamp(e.end));
}

// The lexer's callback: runs the language function kept in the callback record [user] on
// event [e]; answers its truth. A non-local exit is left pending for the lexer to see.
bool call_language(void* user, lexer::event& e) {
    cell fn = static_cast<lexer::callback*>(user)->value;
    cell args[5];
    event_args(e, args);
    cell* saved_top = es.top;
    stack::push(&fn); // keeps the function alive whatever it does
    cell name = word::make_value(T_word, fn.w1, es.anon_symbol, word::NO_INDEX);
    stack::mark_func_context(&name, fn.w1);
    uint32_t fixed = fixed_arg_count(&fn);
    for (uint32_t i = 0; i < fixed; i++) stack::push(i < 5 ? &args[i] : &none_value);
    cell spec{T_block, 0, fn.w2, 0};
    interp::push_refinement_defaults(&spec);
    for (uint32_t n = context::word_count(fn.w1); static_cast<uint32_t>(es.top - es.base) < n;)
        stack::push(&none_value);
    interp::exec_function(&fn, fn.w1, &name);
    if (control::pending()) return false;
    bool answer = logic::is_true(es.base, false);
    const cell* input = es.base + 1;
    if (e.input && fixed > 1 && input->type() == e.input->type() && input->w2 == e.input->w2)
        e.input->w1 = input->w1;
    stack::unwind_func();
    es.top = saved_top;
    return answer;
}

// The callback of a /scan run without /trace: it makes the lexer check each token it meets,
// which a run that only looks at the token's shape skips, and answers yes to every event.
bool accept_all(void*, lexer::event&) { return true; }

// The length /part gives for [src] (its index already clamped): an integer! count, or a
// position in the source itself; [avail] is the source's length.
int64_t part_length(const cell* src, const cell* limit, int64_t avail) {
    int64_t n;
    if (limit->type() == T_integer) {
        n = integer::get(limit);
    } else if (limit->type() == src->type()) {
        // A position in another series would cut the source at a meaningless length.
        if (limit->w2 != src->w2) {
            cell refinement = word::load("part");
            cells::set_type(&refinement, T_refinement);
            error::raise(error::cat_script, error::script_invalid_refine_arg, &refinement, limit);
        }
        n = int64_t(limit->w1) - int64_t(src->w1);
    } else {
        error::raise(error::cat_script, error::script_not_same_type);
    }
    return n < 0 ? 0 : n > avail ? avail : n;
}

// A binary! source that starts with the UTF-8 byte-order mark skips it.
void skip_bom(cell* src, int64_t& length) {
    static constexpr uint8_t BOM[3] = {0xEF, 0xBB, 0xBF};
    if (length < 3) return;
    const uint8_t* p = memory::buffer_of(src->w2)->head + src->w1;
    if (p[0] != BOM[0] || p[1] != BOM[1] || p[2] != BOM[2]) return;
    src->w1 += 3;
    length -= 3;
}

// }==
// {== Native

// transcode: src [/next] [/one] [/prescan] [/scan] [/part length] [/into dst] [/trace callback]
void transcode(int32_t check, int32_t next, int32_t one, int32_t prescan, int32_t scan, int32_t part,
               int32_t into, int32_t trace) {
    check_arg(check, ts_source, 0);
    check_refinement(check, ts_part, part);
    check_refinement(check, ts_block, into);
    check_refinement(check, ts_function, trace);
    cell* src = stack::arg(0);
    bool binary = src->type() == T_binary;
    int64_t length = binary ? binary::rs_length_q(src) : string::rs_length_q(src);
    if (part >= 0) length = part_length(src, stack::arg(static_cast<uint32_t>(part)), length);
    if (binary) skip_bom(src, length);
    bool type_only = prescan >= 0 || scan >= 0;

    lexer::options o;
    o.one_value = next >= 0 || one >= 0 || scan >= 0;
    o.load = !type_only;
    o.output = !type_only;
    o.into = into >= 0 ? stack::arg(static_cast<uint32_t>(into)) : nullptr;
    lexer::callback cb{&accept_all, nullptr, 0, none_value};
    if (trace >= 0) {
        cb.value = *stack::arg(static_cast<uint32_t>(trace));
        cb.fn = &call_language;
        cb.user = &cb;
        cb.mask = callback_mask(&cb.value);
    }
    if (trace >= 0 || scan >= 0) o.events = &cb;

    cell* result = stack::push(&unset_value);
    int64_t consumed = 0;
    int32_t type = 0;
    if (!(type_only && length == 0)) {
        type = binary ? lexer::scan_binary(result, src, length, o, &consumed)
                      : lexer::scan_string(result, src, length, o, &consumed);
        if (control::pending()) return;
    }
    if (type_only) *result = type == 0 ? none_value : datatype::make_value(type < 0 ? uint8_t(T_error) : uint8_t(type));
    if (next >= 0 && one < 0) {
        cell rest = *src;
        rest.w1 += static_cast<uint32_t>(consumed);
        cell* pair = block::push_new(2);
        block::append_value(pair, result);
        block::append_value(pair, &rest);
        result = pair;
    }
    stack::set_last_keep(into >= 0 ? stack::arg(static_cast<uint32_t>(into)) : result);
}

// }==

} // namespace

// {== Registration

void init_transcode() {
    for (uint32_t i = 0; i < EVENT_KINDS; i++) event_words[i] = word::load(EVENT_NAMES[i]);
    set_entry(106, reinterpret_cast<entry_fn>(&transcode));
}

// }==

} // namespace zyl::natives
