// datatypes/object_mold.cpp: object! form, mold and compare: walks over the fields, guarded
// by the cycle stack so that an object met again inside itself is written as its marker.
//
// Form and mold write into an output string and return what is left of the /part budget;
// every character written costs one.
#include <string_view>

#include "datatypes/core.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "runtime/cycles.h"

namespace zyl::object {

// {== Internal functions

namespace {

// Appends [text] to [out] and charges it to [part].
void write(const cell* out, std::string_view text, int32_t& part) {
    string::concatenate_literal(out, text);
    part -= static_cast<int32_t>(text.size());
}

// Four spaces per level of [levels].
void indent_by(const cell* out, int32_t levels, int32_t& part) {
    for (int32_t i = 0; i < levels; i++) write(out, "    ", part);
}

// Writes field [i] of [ctx]: the word, ": " and the value molded one level deeper (a word!
// value quoted).
int32_t write_field(node_id ctx, uint32_t i, cell* buffer, bool all, bool flat, const cell* arg,
                    int32_t part, int32_t indent) {
    cell w = *context::word_at(ctx, i);
    w.header = T_word;
    part = word::mold(&w, buffer, false, false, false, arg, part, indent);
    write(buffer, ": ", part);
    cell v = *context::value_at(ctx, i); // held by the context while it is molded
    if (v.type() == 0) v = unset_value;
    if (v.type() == T_word) write(buffer, "'", part);
    return actions::mold_typed(&v, buffer, false, all, flat, arg, part, indent + 1);
}

inline bool is_word_kind(uint8_t t) { return t >= T_word && t <= T_issue; }
inline bool is_number(uint8_t t) { return t == T_integer || t == T_float_ || t == T_percent; }

// Fields of different kinds order by type id, the rest by their own comparison.
int32_t compare_values(const cell* x, const cell* y, int32_t op) {
    uint8_t tx = x->type(), ty = y->type();
    bool alike =
        tx == ty || (is_word_kind(tx) && is_word_kind(ty)) || (is_number(tx) && is_number(ty));
    if (!alike) return tx < ty ? -1 : 1;
    return actions::compare_typed(x, y, op);
}

// Compares the fields of two contexts of [count] words each, in order.
int32_t compare_fields(node_id a, node_id b, uint32_t count, int32_t op) {
    for (uint32_t i = 0; i < count; i++) {
        uint32_t sa = symbol::resolve(context::word_at(a, i)->w2);
        uint32_t sb = symbol::resolve(context::word_at(b, i)->w2);
        if (sa != sb) return sa < sb ? -1 : 1;
        cell x = *context::value_at(a, i),
             y = *context::value_at(b, i); // a comparison may allocate
        int32_t r = compare_values(&x, &y, op);
        if (r != 0) return r;
    }
    return 0;
}

} // namespace

// }==
// {== Form and mold

int32_t mold_fields(const cell* value, cell* buffer, bool mold, bool only, bool all, bool flat,
                    const cell* arg, int32_t part, int32_t indent) {
    node_id ctx = value->w1;
    if (cycles::find(ctx)) {
        write(buffer, mold ? "make object! [...]" : "...", part);
        return part;
    }
    cycles::entry walking(ctx);
    bool framed = mold && !only;
    bool indented = framed && !flat;
    if (framed) write(buffer, "make object! [", part);
    if (indented) write(buffer, "\n", part);
    bool first = true;
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        if (arg && part <= 0) break;
        if (!all && detail::is_hook_word(context::word_at(ctx, i))) continue;
        if (indented) {
            indent_by(buffer, indent + 1, part);
        } else if (!first) {
            write(buffer, flat ? " " : "\n", part);
        }
        part = write_field(ctx, i, buffer, all, flat, arg, part, indent);
        if (indented) write(buffer, "\n", part);
        first = false;
    }
    if (indented && indent >= 1) indent_by(buffer, indent, part);
    if (framed) write(buffer, "]", part);
    return part;
}

// }==
// {== Action entries

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    return mold_fields(value, buffer, false, false, false, false, arg, part, 0);
}

int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent) {
    return mold_fields(value, buffer, true, only, all, flat, arg, part, indent);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != a->type()) return -2;
    node_id ca = a->w1, cb = b->w1;
    if (ca == cb) return 0;
    if (op == 9) return -1;
    if (cycles::find(ca)) return cycles::find(cb) ? 0 : -1;
    uint32_t na = context::word_count(ca), nb = context::word_count(cb);
    if (na != nb) return na > nb ? 1 : -1;
    cycles::entry walking_a(ca);
    cycles::entry walking_b(cb);
    return compare_fields(ca, cb, na, op);
}

// }==

} // namespace zyl::object
