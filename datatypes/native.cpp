// datatypes/native.cpp: native!, action! and op!: making them from specs and table indexes,
// reflecting, forming, molding and comparing them.
#include "datatypes/native.h"

#include <cstring>
#include <string_view>

#include "datatypes/action_types.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/words.h"

namespace zyl {

// {== Internal functions

namespace {

constexpr uint32_t MAX_REFINEMENTS = 12; // what natives::call can pass

// The shapes of the action stack entries, by slot (see native::has_shape). eval-path takes
// the value to store as a refinement; set-path has no entry and compare's entry takes an
// operator code, not refinement positions, so neither can back an action! value.
constexpr const char* action_shapes[ACTION_SLOTS] = {
    "2",        "1000",         "2",          "2",        "11",         "10001",    // make .. mold
    "21",       nullptr,        nullptr,      "1",        "2",          "2",        // eval-path .. divide
    "2",        "1",            "2",          "2",        "11000000",   "2",        // multiply .. subtract
    "1",        "1",            "2",          "1",        "2",          "2",        // even? .. xor~
    "2101",     "2",            "1",          "2101",     "1",          "1101",     // append .. copy
    "210000110000", "1",        "1",          "1",        "2101",       "1",        // find .. length?
    "21",       "1",            "2",          "3",        "30",         "111",      // move .. remove
    "111",      "2100001100",   "10111000",   "2",        "2",          "1",        // reverse .. tail
    "1",        "1100",         "1000001",    "1",        "1",          "1",        // tail? .. delete
    "30",       "100001",       "1",          "1",        "1110001",    "2",        // modify .. rename
    "1",        "200001111",                                                        // update, write
};

// Appends [text] to [buffer]; answers [part] less its length.
int32_t append_text(cell* buffer, std::string_view text, int32_t part) {
    string::concatenate_literal(buffer, text);
    return part - static_cast<int32_t>(text.size());
}

// Molds block [blk] with the caller's flags (brackets included).
int32_t mold_block(const cell* blk, cell* buffer, bool all, bool flat, const cell* arg, int32_t part,
                   int32_t indent) {
    return actions::mold_typed(blk, buffer, false, all, flat, arg, part, indent);
}

// Whether [field] is a word of canonical symbol [sym] (0 when the predefined words are missing).
bool names(const cell* field, uint32_t sym) {
    return sym != 0 && field->type() >= T_word && field->type() <= T_refinement &&
           symbol::resolve(field->w2) == symbol::resolve(sym);
}

// The table index of make's argument [spec] for [type]: a block of exactly a spec block and
// an integer! naming a filled entry whose parameters fit the spec. Raises bad-make-arg.
uint32_t checked_index(const cell* spec, uint8_t type) {
    cell datatype = datatype::make_value(type);
    if (spec->type() != T_block || block::rs_length_q(spec) != 2) error::raise_bad_make_arg(&datatype, spec);
    const cell* first = block::cells_of(spec->w2) + spec->w1;
    if (first[0].type() != T_block || first[1].type() != T_integer) error::raise_bad_make_arg(&datatype, spec);
    int32_t n = integer::get(&first[1]);
    const char* shape = nullptr;
    bool filled = false;
    if (type == T_native) {
        filled = n >= 1 && uint32_t(n) <= natives::CAPACITY && natives::entry(uint32_t(n)) != nullptr;
        if (filled) shape = native::shape(uint32_t(n));
    } else {
        shape = n >= 1 && uint32_t(n) <= ACTION_SLOTS ? action::shape(uint32_t(n)) : nullptr;
        filled = shape && actions::generic[n - 1] != nullptr;
    }
    // A native past the run-time's own has no known shape: its registrar vouches for it.
    if (!filled || (shape && !native::has_shape(&first[0], shape))) error::raise_bad_make_arg(&datatype, spec);
    return uint32_t(n);
}

// The value of [type] for entry [n] and the spec block [spec_block] (copied from its index
// when that is not 0), written into [out].
cell* make_callable(cell* out, const cell* spec_block, uint8_t type, uint32_t n) {
    cell* spec = stack::push(spec_block); // the spec's node stays rooted while the rest is made
    if (spec->w1 != 0) {
        block::clone(spec, UINT32_MAX, false, false);
        stack::move_top_down();
    }
    node_id ctx = context::make_from_spec(spec, true, false, context::KIND_FUNCTION);
    collector::keep_node k_ctx{&ctx};
    node_id s = series::alloc_cells(native::NV_CELLS);
    cell* c = block::cells_of(s);
    c[native::NV_CONTEXT] = *context::cell_of(ctx);
    c[native::NV_ARGS] = none_value;
    memory::buffer_of(s)->tail = reinterpret_cast<uint8_t*>(c + native::NV_CELLS);
    *out = cell{type, n - 1, spec->w2, s};
    stack::pop(1);
    return out;
}

// compare for native!, action! and op!: ordered by the code's table index (and for an op by
// the type it runs first, so that ops of a native and of an action of the same index differ).
int32_t compare_code(const cell* a, const cell* b, int32_t op) {
    if (b->type() != a->type() || !is_equality_op(op)) return -2;
    if (a->type() == T_op && op::source_type(a) != op::source_type(b))
        return op::source_type(a) < op::source_type(b) ? -1 : 1;
    return a->w1 < b->w1 ? -1 : a->w1 > b->w1 ? 1 : 0;
}

// Molds "make <type>! [", the spec, "]".
int32_t mold_made(const cell* value, cell* buffer, std::string_view head, bool all, bool flat,
                  const cell* arg, int32_t part, int32_t indent) {
    part = append_text(buffer, head, part);
    cell spec = native::spec_of(value);
    part = mold_block(&spec, buffer, all, flat, arg, part, indent);
    return append_text(buffer, "]", part);
}

} // namespace

namespace native {

bool has_shape(const cell* spec, const char* shape) {
    uint32_t counts[MAX_REFINEMENTS + 1] = {};
    uint32_t refs = 0; // counts[0] is the fixed part, counts[i] refinement i
    const cell* c = block::cells_of(spec->w2);
    uint32_t length = static_cast<uint32_t>(series::length(spec->w2));
    for (uint32_t i = spec->w1; i < length; i++) {
        uint8_t t = c[i].type();
        if (t == T_word || t == T_lit_word || t == T_get_word) {
            counts[refs]++;
        } else if (t == T_refinement) {
            if (function::is_local(&c[i])) break;
            if (refs == MAX_REFINEMENTS) return false;
            refs++;
        }
    }
    if (std::strlen(shape) != refs + 1) return false;
    for (uint32_t r = 0; r <= refs; r++)
        if (counts[r] != uint32_t(shape[r] - '0')) return false;
    return true;
}

} // namespace native

namespace action {

const char* shape(uint32_t slot) { return slot >= 1 && slot <= ACTION_SLOTS ? action_shapes[slot - 1] : nullptr; }

} // namespace action

namespace op {

bool check_spec(const cell* spec) {
    const cell* c = block::cells_of(spec->w2);
    uint32_t length = static_cast<uint32_t>(series::length(spec->w2));
    uint32_t args = 0;
    for (uint32_t i = 0; i < length; i++) {
        uint8_t t = c[i].type();
        if (t == T_set_word) break; // return:
        if (t == T_refinement) {
            if (function::is_local(&c[i]) || names(&c[i], words::refs.extern_.w2)) break;
            return false;
        }
        if (t == T_word) {
            args++;
        } else if (t == T_lit_word || t == T_get_word) {
            if (args == 0) return false; // the left operand is always evaluated
            args++;
        }
    }
    return args == 2;
}

} // namespace op

// }==
// {== Action entries

namespace {

cell* native_make(cell* proto, cell* spec, uint8_t type) {
    uint32_t n = checked_index(spec, type);
    cell inner = block::cells_of(spec->w2)[spec->w1];
    return make_callable(proto, &inner, type, n);
}

cell* native_reflect(cell* value, const cell* field) {
    if (names(field, words::sym.spec)) return &(*value = native::spec_of(value));
    if (!names(field, words::sym.body)) error::raise(error::cat_internal, error::internal_not_done);
    uint8_t source = value->type() == T_op ? op::source_type(value) : value->type();
    if (source == T_function || source == T_routine)
        return &(*value = *function::series_cell(value, function::FN_BODY));
    return &(*value = integer::make_value(static_cast<int32_t>(value->w1 + 1)));
}

int32_t native_form(const cell*, cell* buffer, const cell*, int32_t part) {
    return append_text(buffer, "?native?", part);
}

int32_t native_mold(const cell* value, cell* buffer, bool, bool all, bool flat, const cell* arg, int32_t part,
                    int32_t indent) {
    return mold_made(value, buffer, "make native! [", all, flat, arg, part, indent);
}

int32_t action_form(const cell*, cell* buffer, const cell*, int32_t part) {
    return append_text(buffer, "?action?", part);
}

int32_t action_mold(const cell* value, cell* buffer, bool, bool all, bool flat, const cell* arg, int32_t part,
                    int32_t indent) {
    return mold_made(value, buffer, "make action! [", all, flat, arg, part, indent);
}

cell* op_make(cell* proto, cell* spec, uint8_t) {
    uint8_t source = spec->type();
    if (source != T_native && source != T_action && source != T_function && source != T_routine) {
        cell datatype = datatype::make_value(source);
        error::raise(error::cat_script, error::script_invalid_type, &datatype);
    }
    cell spec_block = native::spec_of(spec);
    if (!op::check_spec(&spec_block)) error::raise(error::cat_script, error::script_bad_op_spec);
    cell result = *spec;
    // The source's flags stay: a routine's argument count, a function's trace bits.
    result.header = (spec->header & ~(CELL_TYPE_MASK | CELL_NEW_LINE | OP_SOURCE_MASK)) | T_op |
                    (uint32_t(source) << OP_SOURCE_SHIFT);
    if (source == T_function || source == T_routine) *function::series_cell(spec, function::FN_OP) = result;
    return &(*proto = result);
}

int32_t op_form(const cell*, cell* buffer, const cell*, int32_t part) { return append_text(buffer, "?op?", part); }

int32_t op_mold(const cell* value, cell* buffer, bool, bool all, bool flat, const cell* arg, int32_t part,
                int32_t indent) {
    part = append_text(buffer, "make op! ", part);
    bool func = op::source_type(value) == T_function;
    cell spec = native::spec_of(value);
    cell body = func ? *function::series_cell(value, function::FN_BODY) : none_value;
    // The spec is molded inside a native frame of its own, as a call of <body>.
    cell* top = es.top;
    cell* base = es.base;
    call_frame* frames = es.ftop;
    stack::mark_native(&words::loaded.body);
    collector::keep k_body{&body};
    part = append_text(buffer, func ? "func " : "[", part);
    part = mold_block(&spec, buffer, all, flat, arg, part, indent);
    es.ftop = frames;
    es.base = base;
    es.top = top;
    if (!func) return append_text(buffer, "]", part);
    if (body.type() == T_none) return append_text(buffer, " none", part);
    return actions::mold_typed(&body, buffer, false, all, flat, arg, part, indent);
}

} // namespace

// }==
// {== Registration

namespace native {

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&native_make);
    e[A_reflect - 1] = entry(&native_reflect);
    e[A_form - 1] = entry(&native_form);
    e[A_mold - 1] = entry(&native_mold);
    e[A_compare - 1] = entry(&compare_code);
    datatype::register_type(ACTION_SLOTS + 3, T_native, 0, "native!", e);
}

} // namespace native

namespace action {

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&native_make);
    e[A_reflect - 1] = ZYL_INHERIT;
    e[A_form - 1] = entry(&action_form);
    e[A_mold - 1] = entry(&action_mold);
    e[A_compare - 1] = entry(&compare_code);
    datatype::register_type(ACTION_SLOTS + 3, T_action, T_native, "action!", e);
}

} // namespace action

namespace op {

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&op_make);
    e[A_reflect - 1] = ZYL_INHERIT;
    e[A_form - 1] = entry(&op_form);
    e[A_mold - 1] = entry(&op_mold);
    e[A_compare - 1] = entry(&compare_code);
    datatype::register_type(ACTION_SLOTS + 3, T_op, T_native, "op!", e);
}

} // namespace op

// }==

} // namespace zyl
