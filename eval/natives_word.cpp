// eval/natives_word.cpp: the word, value and context natives: get, set, unset, value?, type?,
// bind, in, construct, context?, new-line, new-line?, stats and recycle.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "eval/natives_control.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/words.h"

#include <vector>

namespace zyl::natives {

namespace {

// {== Internal functions

constexpr cell any_word_path_object =
    typeset::unite(typeset::unite(typeset::standard::any_word, typeset::standard::any_path), typeset::of({T_object}));
constexpr cell any_type = typeset::standard::any_type;

inline bool is_path(uint8_t t) { return t >= T_path && t <= T_get_path; }
inline bool is_word(uint8_t t) { return t >= T_word && t <= T_get_word; }
inline bool has_context(uint8_t t) {
    return t == T_object || t == T_error || t == T_port || t == T_function || t == T_routine;
}

// Checks argument [pos] against [ts] when the caller asked for it.
inline void check(int32_t flag, const cell& ts, int32_t pos) {
    if (flag) error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
}

// The memory in use, as stats answers it: an integer! up to 2147483647, a float! above.
cell memory_in_use() {
    uint64_t n = mm.total;
    if (n <= 0x7FFFFFFFu) return integer::make_value(static_cast<int32_t>(n));
    return float_::make_value(static_cast<double>(n));
}

// The cells of block [blk] from its index, and its tail; valid until the next allocation.
inline cell* block_head(const cell* blk) { return block::rs_head(const_cast<cell*>(blk)); }

// A count of the memory report: an integer! up to 2147483647, a float! above.
cell count_value(uint64_t n) {
    if (n <= 0x7FFFFFFFu) return integer::make_value(static_cast<int32_t>(n));
    return float_::make_value(static_cast<double>(n));
}

uint64_t heap_total;
void add_heap_buffer(series_buffer* b) { heap_total += BUFFER_OVERHEAD + b->size; }

// A block of counts on the stack, marked to begin a new line.
cell* push_counts(const std::vector<uint64_t>& counts) {
    cell* blk = block::push_new(static_cast<int32_t>(counts.size()));
    for (uint64_t n : counts) {
        cell v = count_value(n);
        block::append_value(blk, &v);
    }
    blk->header |= CELL_NEW_LINE;
    return blk;
}

// The memory report of stats/info and stats/show, pushed: per node frame [free used total]
// in slots, per series frame the same in bytes, each big buffer's size, then the bytes held
// from the system and the bytes of the live heap buffers. The numbers are read before
// anything is allocated, so the report shows the frames as they were.
cell* push_stats_block() {
    std::vector<std::vector<uint64_t>> nodes, series;
    std::vector<uint64_t> big;
    for (auto* f = mm.first_node_frame; f; f = f->next)
        nodes.push_back({uint64_t(f->slot_count - f->used), f->used, f->slot_count});
    for (auto* f = mm.first_series_frame; f; f = f->next) {
        uint64_t used = uint64_t(f->heap - f->data()), free = uint64_t(f->end - f->heap);
        series.push_back({free, used, used + free});
    }
    for (auto* f = mm.first_big_frame; f; f = f->next) big.push_back(f->requested);
    heap_total = 0;
    memory::for_each_unmanaged(add_heap_buffer);
    uint64_t os_total = mm.total;
    bool was_active = collector::gc.active;
    collector::gc.active = false; // the report is built whole, without a collection between
    cell* out = block::push_new(5);
    for (auto* frames : {&nodes, &series}) {
        cell* list = block::push_new(static_cast<int32_t>(frames->size()));
        for (auto& f : *frames) {
            push_counts(f);
            block::append_top();
        }
        list->header |= CELL_NEW_LINE;
        block::append_value(out, list);
        stack::pop(1);
    }
    push_counts(big);
    block::append_top();
    cell total = count_value(os_total), heap = count_value(heap_total);
    block::append_value(out, &total);
    block::append_value(out, &heap);
    collector::gc.active = was_active;
    return out;
}

// Evaluates path value [path] (a cell on the stack) as an expression of its own; the result
// is pushed. [set] is the value to store, or null.
void eval_path_value(cell* path, const cell* set) {
    cell* p = stack::push(path);
    cells::set_type(p, set ? T_set_path : T_get_path);
    interp::eval_path_at(p, nullptr, 0, 0, true, set == nullptr, set);
}

// The context of a value that has one (word 1), for bind and in; 0 for any other.
node_id context_of(const cell* v) {
    uint8_t t = v->type();
    if (has_context(t)) return v->w1;
    if (is_word(t) || t == T_refinement) return v->w1;
    return 0;
}

// }==
// {== Natives

// get: word, path or object [/any] [/case]
void get(int32_t chk, int32_t any, int32_t case_) {
    check(chk, any_word_path_object, 0);
    cell* v = stack::arg(0);
    uint8_t t = v->type();
    if (is_path(t)) {
        (void)case_; // paths select words case-insensitively unless the path says otherwise
        eval_path_value(v, nullptr);
        stack::set_last_keep(stack::top());
        return;
    }
    if (t == T_object) {
        cell field = word::make_value(T_word, 0, words::sym.values, word::NO_INDEX);
        cell* r = actions::reflect_typed(v, &field);
        stack::set_last_keep(r);
        return;
    }
    const cell* value = context::get_value(v);
    if (any < 0 && value->type() == T_unset) error::raise(error::cat_script, error::script_no_value, v);
    stack::set_last_keep(value);
}

// set: word, path, object or block of words; value [/any] [/case] [/only] [/some]
void set(int32_t chk, int32_t any, int32_t case_, int32_t only, int32_t some) {
    static constexpr cell targets = typeset::unite(any_word_path_object, typeset::of({T_block}));
    check(chk, targets, 0);
    check(chk, any_type, 1);
    cell* target = stack::arg(0);
    cell* value = stack::arg(1);
    (void)case_;
    if (any < 0 && value->type() == T_unset) error::raise(error::cat_script, error::script_need_value, target);
    uint8_t t = target->type();
    if (t == T_block) {
        set_words_from_block(target, value, block::rs_length_q(target), any >= 0, only >= 0, some >= 0);
    } else if (is_path(t)) {
        eval_path_value(target, value);
    } else if (t == T_object) {
        object::set_from(target, value, any >= 0, only >= 0, some >= 0);
    } else {
        context::set_value(target, value);
    }
    stack::set_last_keep(value);
}

// unset: word or block
void unset(int32_t chk) {
    static constexpr cell ts = typeset::of({T_word, T_block});
    check(chk, ts, 0);
    cell* target = stack::arg(0);
    if (target->type() == T_block) {
        uint32_t n = block::rs_length_q(target);
        for (uint32_t i = 0; i < n; i++) {
            cell w = block_head(target)[i];
            if (w.type() == T_word) context::set_value(&w, &unset_value);
        }
    } else {
        cell w = *target;
        context::set_value(&w, &unset_value);
    }
    stack::set_last_keep(&unset_value);
}

// value?: value
void value_q(int32_t chk) {
    check(chk, any_type, 0);
    cell* v = stack::arg(0);
    bool result;
    if (is_word(v->type()))
        result = context::get_value(v)->type() != T_unset;
    else
        result = v->type() != T_unset;
    cell r = logic::make_value(result);
    stack::set_last_keep(&r);
}

// type?: value [/word]
void type_q(int32_t chk, int32_t word_) {
    check(chk, any_type, 0);
    uint8_t t = stack::arg(0)->type();
    cell r = datatype::make_value(t);
    if (word_ >= 0) r = datatype::reg.names[t].word;
    stack::set_last_keep(&r);
}

// stats [/show] [/info]
void stats(int32_t chk, int32_t show, int32_t info) {
    (void)chk;
    if (show >= 0) {
        const cell* fn = context::global_value(symbol::make("show-memory-stats"));
        if (!fn || fn->type() != T_function) not_yet_available("stats/show");
        cell f = *fn;
        cell* data = push_stats_block();
        if (!interp::call_with(&f, data, 1)) return; // a non-local exit goes on
        stack::set_last_keep(&unset_value);
        return;
    }
    if (info >= 0) {
        stack::set_last_keep(push_stats_block());
        return;
    }
    cell r = memory_in_use();
    stack::set_last_keep(&r);
}

// bind: word or block; context [/copy]
void bind(int32_t chk, int32_t copy) {
    static constexpr cell targets = typeset::unite(typeset::of({T_block}), typeset::standard::any_word);
    static constexpr cell contexts =
        typeset::unite(typeset::standard::any_word, typeset::of({T_object, T_error, T_port, T_function, T_routine}));
    check(chk, targets, 0);
    check(chk, contexts, 1);
    cell* target = stack::arg(0);
    node_id ctx = context_of(stack::arg(1));
    if (ctx == 0) error::raise(error::cat_script, error::script_not_defined, stack::arg(1));
    bool self = stack::arg(1)->type() != T_function && stack::arg(1)->type() != T_routine;
    if (target->type() == T_block) {
        if (copy >= 0) {
            cell* c = block::clone(target, block::rs_length_q(target) + target->w1, true, true);
            *target = *c;
            stack::pop(1);
        }
        context::bind(target, ctx, self);
    } else {
        context::bind_word(ctx, target);
    }
    stack::keep();
}

// in: object; word
void in(int32_t chk) {
    static constexpr cell owners = typeset::of({T_object, T_error, T_port, T_function, T_routine});
    static constexpr cell names = typeset::unite(typeset::standard::any_word, typeset::of({T_refinement}));
    check(chk, owners, 0);
    check(chk, names, 1);
    node_id ctx = context_of(stack::arg(0));
    cell w = *stack::arg(1);
    int32_t index = ctx ? context::find_word(ctx, w.w2, true) : -1;
    if (index < 0) {
        stack::set_last_keep(&none_value);
        return;
    }
    if (w.type() == T_refinement) cells::set_type(&w, T_word);
    w.w1 = ctx;
    w.w3 = static_cast<uint32_t>(index);
    stack::set_last_keep(&w);
}

// construct: block [/with object] [/only]
void construct(int32_t chk, int32_t with, int32_t only) {
    static constexpr cell blocks = typeset::of({T_block});
    static constexpr cell objects = typeset::of({T_object});
    check(chk, blocks, 0);
    if (chk && with >= 0) error::check_arg_type(&objects, with, stack::arg(static_cast<uint32_t>(with)));
    const cell* proto = with >= 0 ? stack::arg(static_cast<uint32_t>(with)) : nullptr;
    cell* made = object::push_new(stack::arg(0), proto, only >= 0);
    stack::set_last_keep(made);
}

// context?: word
void context_q(int32_t chk) {
    check(chk, typeset::standard::any_word, 0);
    cell* w = stack::arg(0);
    if (w->w1 == 0) error::raise(error::cat_script, error::script_not_defined, w);
    cell owner = *context::owner_of(w->w1);
    stack::set_last_keep(&owner);
}

// new-line: position (block); value (logic) [/all] [/skip size]
void new_line(int32_t chk, int32_t all, int32_t skip) {
    static constexpr cell blocks = typeset::standard::any_list;
    static constexpr cell logics = typeset::of({T_logic});
    check(chk, blocks, 0);
    check(chk, logics, 1);
    cell* pos = stack::arg(0);
    bool on = logic::is_true(stack::arg(1), false);
    int32_t step = 0;
    if (all >= 0) step = 1;
    if (skip >= 0) {
        cell* size = stack::arg(static_cast<uint32_t>(skip));
        if (chk) error::check_arg_type(&typeset::standard::number, skip, size);
        int32_t n = static_cast<int32_t>(size->w2);
        if (size->type() != T_integer) n = static_cast<int32_t>(float_::get(size));
        if (n <= 0) error::raise(error::cat_script, error::script_out_of_range, size);
        step = n;
    }
    uint32_t len = block::rs_length_q(pos);
    cell* head = block_head(pos);
    if (step == 0) {
        if (len > 0) {
            if (on)
                head->header |= CELL_NEW_LINE;
            else
                head->header &= ~CELL_NEW_LINE;
        }
    } else {
        for (uint32_t i = 0; i < len; i++) {
            bool on_step = step == 1 || i % static_cast<uint32_t>(step) == 0;
            if (on_step == on)
                head[i].header |= CELL_NEW_LINE;
            else
                head[i].header &= ~CELL_NEW_LINE;
        }
    }
    stack::keep();
}

// new-line?: position
void new_line_q(int32_t chk) {
    check(chk, typeset::standard::any_list, 0);
    cell* pos = stack::arg(0);
    bool r = block::rs_length_q(pos) > 0 && (block_head(pos)->header & CELL_NEW_LINE);
    cell v = logic::make_value(r);
    stack::set_last_keep(&v);
}

// recycle [/on] [/off]
void recycle(int32_t chk, int32_t on, int32_t off) {
    (void)chk;
    if (on >= 0 || off >= 0) {
        collector::gc.active = on >= 0;
        stack::set_last_keep(&unset_value);
        return;
    }
    collector::collect();
    cell r = memory_in_use();
    stack::set_last_keep(&r);
}

// }==

} // namespace

// {== Registration

void init_word() {
    set_entry(21, reinterpret_cast<entry_fn>(&get));
    set_entry(22, reinterpret_cast<entry_fn>(&set));
    set_entry(34, reinterpret_cast<entry_fn>(&type_q));
    set_entry(37, reinterpret_cast<entry_fn>(&stats));
    set_entry(38, reinterpret_cast<entry_fn>(&bind));
    set_entry(39, reinterpret_cast<entry_fn>(&in));
    set_entry(68, reinterpret_cast<entry_fn>(&construct));
    set_entry(69, reinterpret_cast<entry_fn>(&value_q));
    set_entry(88, reinterpret_cast<entry_fn>(&unset));
    set_entry(89, reinterpret_cast<entry_fn>(&new_line));
    set_entry(90, reinterpret_cast<entry_fn>(&new_line_q));
    set_entry(92, reinterpret_cast<entry_fn>(&context_q));
    set_entry(105, reinterpret_cast<entry_fn>(&recycle));
}

// }==

} // namespace zyl::natives
