// datatypes/typeset.cpp: typeset!: building typesets from type blocks, the set operations,
// find, comparison, the text form and the standard typesets' look-up. The bit layout is in
// typeset.h.
#include "datatypes/typeset.h"

#include <string_view>

#include "datatypes/action_types.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/values.h"

namespace zyl::typeset {

// {== Internal functions

namespace {

// Whether [a] ([n] bytes) and the NUL-terminated [b] are the same name, ASCII case aside.
bool same_name(const uint8_t* a, uint32_t n, const char* b) {
    for (uint32_t i = 0; i < n; i++) {
        uint8_t x = a[i], y = static_cast<uint8_t>(b[i]);
        if (y == 0) return false;
        if (x >= 'A' && x <= 'Z') x = static_cast<uint8_t>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<uint8_t>(y + 32);
        if (x != y) return false;
    }
    return b[n] == 0;
}

// The ids of the type list: the datatypes a name can spell.
constexpr uint8_t listed_ids[] = {
#define ZYL_TYPE(id, ident, name, parent) id,
#include "datatypes/types.inc"
#undef ZYL_TYPE
};

// The standard typeset or datatype! spelled by symbol [id]; none when it spells neither. The
// typesets come first: the start-up gives the word series! the typeset, not the datatype.
cell value_by_name(uint32_t id) {
    if (symbol::table.entries == 0 || id == 0 || id > symbol::count()) return none_value;
    series_buffer* b = memory::buffer_of(symbol::entry_cell(id)->w3);
    const uint8_t* text = b->head;
    auto length = static_cast<uint32_t>(b->used_bytes());
    if (const cell* ts = standard::named(reinterpret_cast<const char*>(text), length)) return *ts;
    for (uint8_t t : listed_ids) {
        if (same_name(text, length, datatype::entry_of(t).name)) return datatype::make_value(t);
    }
    return none_value;
}

// The value of word [w], as a type block reads it: its value through its binding (so a word
// set to a datatype stands for it), else, for a word with no value there (start-up, before
// the global words hold the datatypes), the datatype or standard typeset its name spells. A
// word with neither raises no-value.
cell word_value(const cell* w) {
    if (w->w1 != 0 && static_cast<int32_t>(w->w3) >= 0) {
        cell v = *context::get_value(w);
        if (v.type() != T_unset) return v;
    }
    cell v = value_by_name(w->w2);
    if (v.type() == T_none) error::raise(error::cat_script, error::script_no_value, w);
    return v;
}

// The id of datatype! [dt], or 0 when it names no id a typeset can hold.
uint32_t id_of(const cell* dt) { return dt->w1 >= 1 && dt->w1 < BITS ? dt->w1 : 0; }

// ORs the bits of [other] into [ts].
void merge(cell* ts, const cell* other) {
    ts->w1 |= other->w1;
    ts->w2 |= other->w2;
    ts->w3 |= other->w3;
}

// The typeset of the second operand [v] of a set operation: a typeset! as it is, a datatype!
// as its one bit; anything else raises invalid-arg.
cell operand(const cell* v) {
    if (v->type() == T_typeset) return *v;
    uint32_t t = v->type() == T_datatype ? id_of(v) : 0;
    if (t == 0) error::raise(error::cat_script, error::script_invalid_arg, v);
    cell ts = make_value();
    set(ts, t);
    return ts;
}

// The word that names datatype [t] in a block: its name word once the name table has one,
// else an unbound word! of its name. May allocate.
cell name_word(uint8_t t) {
    const datatype::name_entry& e = datatype::entry_of(t);
    if (e.word.type() != T_unset) return e.word;
    return cell{T_word, 0, symbol::make(e.name), 0xFFFFFFFF};
}

} // namespace

namespace standard {

const cell* named(const char* name, uint32_t length) {
    for (const entry& e : table) {
        if (same_name(reinterpret_cast<const uint8_t*>(name), length, e.name)) return &e.value;
    }
    return nullptr;
}

} // namespace standard

cell* append_to_block(node_id block, uint32_t w1, uint32_t w2, uint32_t w3) {
    return series::append_value(block, make_value(w1, w2, w3));
}

cell* append_all_types(node_id block) { return series::append_value(block, all_types()); }

cell* from_block(node_id target, const cell* spec) {
    cell ts = make_value();
    node_id n = spec->w2;
    // Re-read from the node at each step: a word's look-up may move buffers.
    for (uint64_t i = spec->w1; i < series::length(n); i++) {
        cell v = reinterpret_cast<const cell*>(memory::buffer_of(n)->head)[i];
        if (v.type() == T_word) v = word_value(&v);
        switch (v.type()) {
        case T_datatype:
            if (id_of(&v) == 0)
                error::raise(error::cat_script, error::script_invalid_type_spec, &v);
            set(ts, id_of(&v));
            break;
        case T_typeset: merge(&ts, &v); break;
        case T_word: set(ts, T_object); break;
        case T_block: break;
        default: error::raise(error::cat_script, error::script_invalid_type_spec, &v);
        }
    }
    return series::append_value(target, ts);
}

void add_type(cell* ts, const cell* value) {
    cell v = value->type() == T_word ? word_value(value) : *value;
    if (v.type() == T_typeset) return merge(ts, &v);
    uint32_t t = v.type() == T_datatype ? id_of(&v) : 0;
    if (t == 0) error::raise(error::cat_script, error::script_invalid_arg, &v);
    set(*ts, t);
}

uint32_t count(const cell* ts) {
    uint32_t n = 0;
    for (uint32_t t = 1; t <= datatype::reg.highest && t < BITS; t++) n += has(ts, t) && datatype::has_name(uint8_t(t));
    return n;
}

cell* to_block(const cell* ts, cell* result) {
    cell bits = *ts; // no series behind it: a copy stays valid across allocations
    *result = cell{T_block, 0, series::alloc_cells(4), 0};
    node_id block = result->w2;
    collector::keep_node k_block(&block);
    for (uint32_t t = 1; t <= datatype::reg.highest && t < BITS; t++) {
        if (!has(bits, t) || !datatype::has_name(uint8_t(t))) continue;
        cell word = name_word(static_cast<uint8_t>(t));
        series::append_value(block, word);
    }
    return result;
}

cell* push_copy(const cell* ts) { return stack::push(ts); }

// }==
// {== Action entries

void do_bitwise(int32_t op) {
    cell* a = stack::arg(0);
    ZYL_ASSERT(a->type() == T_typeset);
    if (op == OP_UNIQUE) return;
    cell b = operand(stack::arg(1));
    cell r = make_value();
    for (uint32_t i = 0; i < 3; i++) {
        uint32_t x = word_at(*a, i), y = word_at(b, i);
        switch (op) {
        case OP_OR:
        case OP_UNION: set_word_at(r, i, x | y); break;
        case OP_AND:
        case OP_INTERSECT: set_word_at(r, i, x & y); break;
        case OP_XOR:
        case OP_DIFFERENCE: set_word_at(r, i, x ^ y); break;
        case OP_EXCLUDE: set_word_at(r, i, x & ~y); break;
        default: ZYL_UNREACHABLE();
        }
    }
    *a = r;
}

int32_t serialize(const cell* ts, cell* buffer, bool only, bool, bool, const cell* arg,
                  int32_t part) {
    cell bits = *ts; // [ts] may lie in a buffer that the appends below move
    if (!only) {
        string::concatenate_literal(buffer, "make typeset! [");
        part -= 15;
    }
    bool written = false;
    for (uint32_t t = 1; t <= datatype::reg.highest && t < BITS; t++) {
        if (!has(bits, t) || !datatype::has_name(uint8_t(t))) continue;
        if (arg && part < 0) return part;
        std::string_view name = datatype::entry_of(static_cast<uint8_t>(t)).name;
        string::concatenate_literal(buffer, name);
        string::concatenate_literal(buffer, " ");
        part -= static_cast<int32_t>(name.size()) + 1;
        written = true;
    }
    // Only the space written above is dropped: the buffer may hold other values' text.
    uint32_t length = static_cast<uint32_t>(series::length(buffer->w2));
    if (only) {
        if (written) string::truncate(buffer->w2, length - 1);
        return part + (written ? 1 : 0);
    }
    if (written)
        string::store_char(buffer->w2, length - 1, ']');
    else
        string::concatenate_literal(buffer, "]");
    return written ? part : part - 1;
}

namespace {

cell* make(cell* proto, cell* spec, uint8_t) {
    if (spec->type() == T_typeset) return cells::copy(spec, proto);
    if (spec->type() != T_block) {
        cell type = datatype::make_value(T_typeset);
        error::raise(error::cat_script, error::script_bad_to_arg, &type, spec);
    }
    cell ts = make_value();
    node_id n = spec->w2;
    for (uint64_t i = spec->w1; i < series::length(n); i++) {
        cell v = reinterpret_cast<const cell*>(memory::buffer_of(n)->head)[i];
        add_type(&ts, &v);
    }
    return &(*proto = ts);
}

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    return serialize(value, buffer, false, false, false, arg, part);
}

int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t) {
    return serialize(value, buffer, only, all, flat, arg, part);
}

int32_t order(uint32_t a, uint32_t b) { return a < b ? -1 : a > b ? 1 : 0; }

// Equality by the bits alone (an argument's kind in the header does not count); the sort
// orders by size; nothing else orders typesets.
int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_typeset) return -2;
    switch (op) {
    case 0:
    case 1:
    case 2:
    case 9:
    case 12: return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3 ? 0 : 1;
    case 7:
    case 8: return order(count(a), count(b));
    default: return -2;
    }
}

// The result replaces the value's cell, which the stack entry gives as a copy of the argument.
cell* complement(cell* value) {
    value->w1 = ~value->w1;
    value->w2 = ~value->w2;
    value->w3 = ~value->w3;
    return value;
}

// The result replaces the typeset's cell.
cell* find(cell* ts, cell* value, const cell*, bool, bool, bool, bool, const cell*, const cell*,
           bool, bool, bool, bool) {
    if (value->type() != T_datatype)
        error::raise(error::cat_script, error::script_invalid_arg, value);
    return &(*ts = logic::make_value(has(ts, value->w1)));
}

template <int32_t OP> void bitwise() { do_bitwise(OP); }

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_to - 1] = entry(&make);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_compare - 1] = entry(&compare);
    e[A_and_t - 1] = entry(&bitwise<OP_AND>);
    e[A_complement - 1] = entry(&complement);
    e[A_or_t - 1] = entry(&bitwise<OP_OR>);
    e[A_xor_t - 1] = entry(&bitwise<OP_XOR>);
    e[A_find - 1] = entry(&find);
    datatype::register_type(ACTION_SLOTS + 3, T_typeset, 0, "typeset!", e);
}

// }==

} // namespace zyl::typeset
