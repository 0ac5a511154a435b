// boot/zylbin_contexts.cpp: the Zylbin readers of values with contexts and code: words in
// both modes, context!, object!, function!, native!, action!, op! and error!. Each builds its
// value as the datatype's maker does, and refuses what that maker would refuse.
#include <algorithm>

#include "boot/zylbin_reader.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/error_internal.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/values.h"

namespace zyl::zylbin {

namespace {

constexpr uint8_t CTX_FLAG_KIND = 0x03;
constexpr uint8_t CTX_FLAG_NO_STORAGE = 0x04;
constexpr uint8_t CTX_FLAG_OBJECT = 0x08;
constexpr uint8_t CTX_FLAG_VALUES = 0x10;
constexpr uint32_t OWNER_TYPE_MASK = 0x3F;
constexpr uint32_t OWNER_F = 0x40;

// Runs [body], a maker's check; answers false, with the stacks as they were, when it raised.
template <typename F> bool succeeds(F body) {
    cell* top = es.top;
    cell w{T_word, 0, symbol::make("zylbin"), 0};
    stack::mark_try(&w);
    try {
        body();
    } catch (const error::raised&) {
        es.throw_code = THROW_NONE;
        es.top = top;
        return false;
    }
    stack::pop_frame();
    es.top = top;
    return true;
}

// A context read from its sub-record: its node, and whether values follow.
struct context_head {
    node_id ctx;
    bool values;
};

// Reads a context sub-record's flags and words into a new context: a function context (kind
// 1, no storage) with [function], else a plain or object context with storage. The caller
// keeps the node alive and then reads the values (read_context_values).
context_head read_context_words(decoder& d, bool function) {
    const uint8_t* at = d.p;
    uint8_t flags = d.fixed ? fixed_context_flags(d.hw) : read_byte(d);
    uint32_t kind = flags & CTX_FLAG_KIND;
    bool no_storage = (flags & CTX_FLAG_NO_STORAGE) != 0;
    if ((flags & 0xE0) || kind == 3 || no_storage != function || (kind == context::KIND_FUNCTION) != function)
        invalid_at(d, at);
    uint32_t n = read_count(d, 1);
    node_id ctx = context::make(n, function, (flags & CTX_FLAG_OBJECT) != 0, 0, kind);
    collector::keep_node k{&ctx};
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t* word_at = d.p;
        cell w{T_word, 0, read_symbol(d), 0};
        if (context::find_word(ctx, w.w2, true) >= 0) invalid_at(d, word_at); // one slot a word
        context::add_word(ctx, &w);
    }
    bool values = !function && (flags & CTX_FLAG_VALUES);
    if (values) expect_records(d, n);
    return {ctx, values};
}

// Reads one record straight into slot [i] of the values series of [ctx] (the series cut
// before the slot for the while), so that a path inside the record can already reach the slot:
// a function whose body names itself, a block that holds the error it is a field of.
void read_into_slot(decoder& d, node_id ctx, uint32_t i) {
    node_id values = context::cell_of(ctx)->w2;
    struct whole_again { // the series is as long as before on every way out
        node_id values;
        uint64_t length;
        ~whole_again() {
            series_buffer* b = memory::buffer_of(values);
            b->tail = b->head + length * sizeof(cell);
        }
    } restore{values, series::length(values)};
    if (i >= restore.length) invalid_at(d, d.p);
    series_buffer* b = memory::buffer_of(values);
    b->tail = b->head + uint64_t(i) * sizeof(cell);
    read_record(d, values);
    if (series::length(values) != i + 1) invalid_at(d, d.p);
}

// Reads the values of [h] into their slots (the context is reachable from its owner by now).
void read_context_values(decoder& d, const context_head& h) {
    if (!h.values) return;
    for (uint32_t i = 0, n = context::word_count(h.ctx); i < n; i++) read_into_slot(d, h.ctx, i);
}

// A bound word whose owner follows inline: it goes into its block as soon as the owner's
// context has its words, since the owner's values may reach it by a path (the writer met
// the word first, so the word's path is the owner's).
struct inline_word {
    uint8_t type;
    uint32_t sym;
    int32_t index;
    const uint8_t* at;
};

// Whether the entry [index] of [ctx] names [sym] (any case).
bool names_word(node_id ctx, int32_t index, uint32_t sym) {
    return index >= 0 && uint32_t(index) < context::word_count(ctx) &&
           symbol::resolve(context::word_at(ctx, uint32_t(index))->w2) == symbol::resolve(sym);
}

// Appends [w] to [into], bound to [ctx]: the owner just made, or an invalid record.
void append_inline_word(decoder& d, node_id into, const inline_word& w, node_id ctx) {
    if (!names_word(ctx, w.index, w.sym)) invalid_at(d, w.at);
    series::append_value(into, cell{w.type, ctx, w.sym, uint32_t(w.index)});
}

// The context head byte in front of a context sub-record.
void read_context_head_byte(decoder& d) {
    const uint8_t* at = d.p;
    if (d.fixed) { // a context record whose header word carries the flags
        d.hw = read_word32(d);
        if ((d.hw & 0x8007FFFF) != T_context) invalid_at(d, at);
        return;
    }
    if ((read_byte(d) & OWNER_TYPE_MASK) != T_context) invalid_at(d, at);
}

// An object! record's body after its head: class id, on-set indexes with [f], the context.
// Appends the object to [into] before its values are read, or [word] bound to it when the
// object is a word's inline owner.
void read_object_body(decoder& d, node_id into, bool f, const inline_word* word = nullptr) {
    const uint8_t* at = d.p;
    int32_t class_id = read_zigzag(d);
    int32_t hooks[2] = {-1, -1};
    if (f) hooks[0] = read_zigzag(d), hooks[1] = read_zigzag(d);
    read_context_head_byte(d);
    context_head h = read_context_words(d, false);
    collector::keep_node k{&h.ctx};
    uint32_t cls = d.m == MODE_BOOT ? uint32_t(class_id) : UINT32_MAX;
    cell obj{T_object, h.ctx, cls, 0};
    object::store_owner(&obj);
    uint32_t pos = uint32_t(series::length(into));
    if (word) append_inline_word(d, into, *word, h.ctx);
    else series::append_value(into, obj);
    read_context_values(d, h);
    if (!f) return;
    // The hooks are what the object's own fields say; the record's indexes must agree.
    if (!succeeds([&] { object::attach_hooks(&obj); })) invalid_at(d, at);
    const cell* record = obj.w3 ? block::cells_of(obj.w3) : nullptr;
    for (uint32_t i = 0; i < 2; i++) {
        uint32_t found = record ? record[i].w2 >> 16 : object::NO_HOOK;
        uint32_t given = hooks[i] < 0 ? object::NO_HOOK : uint32_t(hooks[i]);
        if (found != given) invalid_at(d, at);
    }
    if (!word) block::cells_of(into)[pos].w3 = obj.w3;
}

// A function's spec or body block record: [n] records into a new block, or a shared block.
// Answers the block! cell (index 0), kept alive by the caller from the moment it is stored.
cell read_code_block_head(decoder& d, uint32_t* count) {
    const uint8_t* at;
    uint8_t head;
    uint32_t notes = read_prefixes(d, &at, &head);
    if ((notes & NOTE_DEFINITION) || head >= 0x80 || (head & 0x3F) != T_block) invalid_at(d, at);
    if (head & 0x40) read_varint(d); // an index, which the function's block does not keep
    *count = 0;
    if (notes & NOTE_REFERENCE) {
        cell c = read_path_target(d);
        if (c.type() != T_block) invalid_at(d, at);
        return cell{T_block, 0, c.w2, 0};
    }
    *count = read_record_count(d);
    return cell{T_block, 0, series::alloc_cells(std::max(*count, 1u)), 0};
}

// Whether the words of function context [ctx] are those that [spec] makes.
bool words_fit_spec(node_id ctx, const cell* spec) {
    node_id made = context::make_from_spec(spec, true, false, context::KIND_FUNCTION);
    uint32_t n = context::word_count(ctx);
    if (context::word_count(made) != n) return false;
    for (uint32_t i = 0; i < n; i++)
        if (context::word_at(made, i)->w2 != context::word_at(ctx, i)->w2) return false;
    return true;
}

// A function! record's body after its head. Appends the function to [into] before its spec
// and body are read (or [word] bound to it, for a word's inline owner); refuses a spec that
// make function! refuses or that makes other words.
void read_function_body(decoder& d, node_id into, const inline_word* word = nullptr) {
    const uint8_t* at = d.p;
    uint32_t spec_length = read_count(d, 1); // room hints: the blocks get their records' counts
    uint32_t body_length = read_count(d, 1);
    (void)spec_length, (void)body_length;
    read_context_head_byte(d);
    context_head h = read_context_words(d, true);
    collector::keep_node k{&h.ctx};
    uint32_t spec_count = 0, body_count = 0;
    cell spec = read_code_block_head(d, &spec_count);
    collector::keep k_spec{&spec};
    node_id fs = series::alloc_cells(function::FN_CELLS);
    cell* c = block::cells_of(fs);
    c[function::FN_BODY] = none_value;
    for (uint32_t i = 1; i < function::FN_CELLS; i++) c[i] = unset_value;
    memory::buffer_of(fs)->tail = reinterpret_cast<uint8_t*>(c + function::FN_CELLS);
    uint32_t flags = d.m == MODE_BOOT || function::making_library ? FUNC_LIBRARY : 0;
    cell fn{T_function | flags, h.ctx, spec.w2, fs};
    *context::owner_of(h.ctx) = fn;
    uint32_t pos = uint32_t(series::length(into));
    if (word) append_inline_word(d, into, *word, h.ctx);
    else series::append_value(into, fn);
    for (uint32_t i = 0; i < spec_count; i++) read_record(d, spec.w2);
    cell body = read_code_block_head(d, &body_count);
    *function::series_cell(&fn, function::FN_BODY) = body;
    for (uint32_t i = 0; i < body_count; i++) read_record(d, body.w2);
    uint32_t trace_flags = 0;
    if (!succeeds([&] { trace_flags = function::validate_spec(&spec); }) || !words_fit_spec(h.ctx, &spec))
        invalid_at(d, at);
    fn.header |= trace_flags;
    *context::owner_of(h.ctx) = fn;
    if (!word) block::cells_of(into)[pos] = fn;
}

// The context that an owner value brings in: an object's, a function's (an op's function).
node_id owner_context(const cell& c) {
    switch (c.type()) {
    case T_object: return c.w1;
    case T_function: return c.w1;
    case T_op: return (c.header & OP_SOURCE_MASK) >> OP_SOURCE_SHIFT == T_function ? c.w1 : 0;
    default: return 0;
    }
}

// Whether a native! or action! [n] exists and fits [spec], as make native! checks it.
bool entry_fits(uint8_t type, uint32_t n, const cell* spec) {
    const char* shape = nullptr;
    if (type == T_native) {
        if (n < 1 || n > natives::CAPACITY || !natives::entry(n)) return false;
        shape = native::shape(n);
    } else {
        shape = n >= 1 && n <= ACTION_SLOTS ? action::shape(n) : nullptr;
        if (!shape || !actions::generic[n - 1]) return false;
    }
    return !shape || native::has_shape(spec, shape);
}

// The owner of a bound word's context when [c] is one: a path to an object or function may
// lead to a word that the writer met first, which brought the context in.
cell owner_through_word(const cell& c) {
    if (c.type() < T_word || c.type() > T_refinement || c.w1 == 0) return c;
    return *context::owner_of(c.w1);
}

} // namespace

// {== Words

void read_word(decoder& d, node_id into, uint8_t type, bool f, uint32_t notes) {
    const uint8_t* at = d.p;
    uint32_t sym = read_symbol(d);
    if (d.fixed && d.m == MODE_BOOT) { // the owner position tells whether the word is global
        const uint8_t* r_at = d.p;
        if (read_word32(d) == UINT32_MAX) f = false, read_word32(d);
        else d.p = r_at;
    } else if (d.fixed && !f) {
        read_word32(d); // the index in the global context: the symbol finds it
    }
    if (!f) {
        if (notes & NOTE_REFERENCE) invalid_at(d, at);
        // Most words are global: each name is looked up (or added) there once a decoding. The
        // boot image's refinements stay unbound, as the lexer leaves them.
        cell w{T_word, 0, sym, word::NO_INDEX};
        if (d.m != MODE_BOOT || type != T_refinement) {
            uint32_t& known = d.globals[d.last_symbol];
            if (known) w.w1 = context::global(), w.w3 = known - 1;
            else if (context::global()) word::make_at_global(sym, &w), known = w.w3 + 1;
        }
        cells::set_type(&w, type);
        series::append_value(into, w);
        return;
    }
    cell owner{T_unset, 0, 0, 0};
    collector::keep k{&owner};
    int32_t index;
    if (d.m == MODE_BOOT) {
        if (notes & NOTE_REFERENCE) invalid_at(d, at);
        uint32_t r = read_varint(d);
        index = read_zigzag(d);
        uint64_t length = series::length(d.target);
        if (uint64_t(r) + d.root_before >= length) invalid_at(d, at); // owners come from this load
        owner = block::cells_of(d.target)[d.root_before + r];
    } else {
        index = read_zigzag(d);
        if (notes & NOTE_REFERENCE) {
            owner = read_path_target(d);
            if (word::any_word_type_q(owner.type()) && owner.type() != T_issue && owner.w1)
                owner = *context::owner_of(owner.w1);
        } else {
            const uint8_t* head_at = d.p;
            uint8_t head;
            if (d.fixed) { // a whole object or function record
                uint32_t hw = read_word32(d);
                if (hw & ~(0xFFu | FX_OBJECT_HOOKS)) invalid_at(d, head_at);
                head = uint8_t((hw & 0x3F) | (hw & FX_OBJECT_HOOKS ? OWNER_F : 0));
                if ((hw & 0xFF) > 0x3F) invalid_at(d, head_at);
            } else {
                head = read_byte(d);
            }
            if ((head & ~(OWNER_TYPE_MASK | OWNER_F)) || ((head & OWNER_TYPE_MASK) != T_object && (head & OWNER_TYPE_MASK) != T_function))
                invalid_at(d, head_at);
            inline_word w{type, sym, index, at};
            if ((head & OWNER_TYPE_MASK) == T_object) read_object_body(d, into, (head & OWNER_F) != 0, &w);
            else read_function_body(d, into, &w);
            return;
        }
    }
    node_id ctx = owner_context(owner);
    if (ctx == 0) invalid_at(d, at);
    if (d.m == MODE_BOOT && index == -1) index = context::find_word(ctx, sym, true);
    if (!names_word(ctx, index, sym)) invalid_at(d, at);
    series::append_value(into, cell{type, ctx, sym, uint32_t(index)});
}

// }==
// {== Contexts and objects

void read_context(decoder& d, node_id into) {
    context_head h = read_context_words(d, false);
    collector::keep_node k{&h.ctx};
    cell obj{T_object, h.ctx, UINT32_MAX, 0};
    object::store_owner(&obj);
    series::append_value(into, obj);
    read_context_values(d, h);
}

void read_object(decoder& d, node_id into, bool f, uint32_t notes) {
    if (notes & NOTE_REFERENCE) {
        const uint8_t* at = d.p;
        cell c = owner_through_word(read_path_target(d));
        if (c.type() != T_object) invalid_at(d, at);
        series::append_value(into, *context::owner_of(c.w1));
        return;
    }
    read_object_body(d, into, f);
}

// }==
// {== Functions, natives, actions, ops

void read_function(decoder& d, node_id into, bool, uint32_t notes) {
    if (notes & NOTE_REFERENCE) {
        const uint8_t* at = d.p;
        cell c = owner_through_word(read_path_target(d));
        if (c.type() == T_op && owner_context(c)) {
            c.header &= ~(OP_SOURCE_MASK | CELL_TYPE_MASK);
            c.header |= T_function;
        }
        if (c.type() != T_function) invalid_at(d, at);
        cells::clear_new_line(&c);
        series::append_value(into, c);
        return;
    }
    read_function_body(d, into);
}

void read_native(decoder& d, node_id into, uint8_t type) {
    const uint8_t* at = d.p;
    uint32_t n = read_varint(d);
    if (n < 1 || (type == T_action && n > ACTION_SLOTS)) invalid_at(d, at);
    cell spec;
    uint32_t pos = uint32_t(series::length(into));
    expect_records(d, 1);
    if (d.m == MODE_BOOT) { // the spec stays right after the native
        series::append_value(into, none_value);
        read_record(d, into);
        if (series::length(into) <= pos + 1) invalid_at(d, at);
        spec = block::cells_of(into)[pos + 1];
    } else { // the spec takes the native's place until the native is made: paths into it pass there
        read_record(d, into);
        if (series::length(into) != pos + 1) invalid_at(d, at);
        spec = block::cells_of(into)[pos];
    }
    collector::keep k_spec{&spec};
    if (spec.type() != T_block || !entry_fits(type, n, &spec)) invalid_at(d, at);
    cell proto = datatype::make_value(type);
    cell made[2] = {spec, integer::make_value(int32_t(n))};
    cell args{T_block, 0, series::alloc_cells(2), 0};
    collector::keep k_args{&args};
    block::append_value(&args, &made[0]);
    block::append_value(&args, &made[1]);
    cell result = unset_value;
    collector::keep k_result{&result};
    if (!succeeds([&] { result = *datatype::action_as<actions::make_fn>(type, A_make)(&proto, &args, type); }))
        invalid_at(d, at);
    block::cells_of(into)[pos] = result;
}

void read_op(decoder& d, node_id into) {
    const uint8_t* at = d.p;
    expect_records(d, 1);
    // The wrapped value takes the op's place while it is read: the writer gave it the op's
    // path, so a function's body reaches its own context through it.
    uint32_t pos = uint32_t(series::length(into));
    read_record(d, into);
    if (series::length(into) != pos + 1) invalid_at(d, at);
    cell source = block::cells_of(into)[pos];
    cells::clear_new_line(&source);
    uint8_t t = source.type();
    if (t != T_native && t != T_action && t != T_function) invalid_at(d, at);
    cell proto = datatype::make_value(T_op);
    cell result = unset_value;
    collector::keep k_result{&result};
    if (!succeeds([&] { result = *datatype::action_as<actions::make_fn>(T_op, A_make)(&proto, &source, T_op); }))
        invalid_at(d, at);
    block::cells_of(into)[pos] = result;
}

// }==
// {== Errors

void read_error(decoder& d, node_id into) {
    const uint8_t* at = d.p;
    uint32_t code = read_varint(d);
    int32_t cat = int32_t(code / 100), m = int32_t(code % 100) + error::ids::first_message;
    if (code > INT32_MAX || !error::ready() || !error::detail::has_message(cat, m)) invalid_at(d, at);
    cell proto = datatype::make_value(T_error);
    cell spec = integer::make_value(int32_t(code));
    collector::keep k{&proto};
    error::make(&proto, &spec, T_error);
    series::append_value(into, proto);
    expect_records(d, 6);
    for (uint32_t i = 0; i < 6; i++) read_into_slot(d, proto.w1, error::F_ARG1 + i);
}

// }==

} // namespace zyl::zylbin
