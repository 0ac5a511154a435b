// eval/natives_text.cpp: the text and conversion natives: print, prin, dehex, enhex, debase,
// enbase, to-hex, uppercase, lowercase, as-pair, as-point2D, as-point3D, as-money, as and
// to-local-file.
//
// print reduces a block argument into the one print scratch block, from its tail on, so that
// a print reached while another is reducing appends after the outer one's values and cuts
// the block back to where it began before the outer print goes on.
#include <cmath>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/money.h"
#include "datatypes/file_url.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/issue.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/control_internal.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "eval/natives_control.h"
#include "eval/stack.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/platform/console_output.h"

namespace zyl::natives {

bool print_line_ended = true;

namespace {

using control::check_arg;

// {== Internal functions

constexpr cell ts_any = typeset::standard::any_type;
constexpr cell ts_text = typeset::standard::any_string;
constexpr cell ts_integer = typeset::of({T_integer});
constexpr cell ts_number = typeset::of({T_integer, T_float_});
constexpr cell ts_string = typeset::of({T_string});
constexpr cell ts_bytes = typeset::of({T_binary, T_string});
constexpr cell ts_case_target = typeset::unite(typeset::standard::any_string, typeset::of({T_char_}));
constexpr cell ts_case_limit = typeset::unite(typeset::standard::number, typeset::standard::any_string);
constexpr cell ts_as_type =
    typeset::unite(typeset::of({T_datatype}), typeset::unite(typeset::standard::any_block, typeset::standard::any_string));
constexpr cell ts_as_spec = typeset::unite(typeset::standard::any_block, typeset::standard::any_string);
constexpr cell ts_local_file = typeset::of({T_file, T_string});

// With [check], raises expect-arg unless the argument at refinement position [pos] (when the
// refinement is used) is of a type in [ts].
inline void check_refinement(int32_t check, const cell& ts, int32_t pos) {
    if (check && pos >= 0) error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
}

// Cuts the print scratch block back to [start] cells when it goes out of scope, whether the
// print ends, an exit leaves it or an error unwinds through it.
struct scratch_cut {
    uint32_t start;
    ~scratch_cut() {
        if (interp::tail_of(&print_scratch) > start) block::rs_set_tail(&print_scratch, start);
    }
};

// Hands [text] (a string!) to the print hooks and notes how the output ended.
void emit(const cell* text, bool line) {
    console::call_print_hooks(text, line);
    print_line_ended = line;
}

// Forms [value] into a new string pushed on the stack; answers it.
cell* form_pushed(const cell* value) {
    cell v = *value; // [value] may lie in a buffer that the new string moves
    collector::keep k_v(&v);
    cell* out = string::push_new(16);
    actions::form_typed(&v, out, nullptr, INT32_MAX);
    return out;
}

// print of a block: its values reduced after the scratch block's tail, formed and printed.
void print_block(bool line) {
    scratch_cut cut{interp::tail_of(&print_scratch)};
    cell out = print_scratch;
    out.w1 = cut.start;
    stack::keep();
    stack::push(&out); // reduce/into reads it as its cell 1
    reduce(0, 1);
    if (control::pending()) return;
    cell part = print_scratch;
    part.w1 = cut.start;
    cell* text = form_pushed(&part);
    emit(text, line);
}

// What print and prin share: [line] ends the output with a line end.
void print_core(bool line) {
    cell* v = stack::arg(0);
    if (v->type() == T_block) {
        print_block(line);
        if (control::pending()) return;
    } else if (v->type() == T_string) {
        string::rs_length_q(v); // clamps the index to the tail
        emit(v, line);
    } else {
        emit(form_pushed(v), line);
    }
    stack::set_last_keep(&unset_value);
}

// Keeps the print scratch block's values alive: start-up may make it before the root block.
void mark_scratch() { collector::mark_values(&print_scratch, &print_scratch + 1); }

// The base of /base (64 without it).
int32_t base_of(int32_t check, int32_t base) {
    if (base < 0) return 64;
    check_refinement(check, ts_integer, base);
    return integer::get(stack::arg(static_cast<uint32_t>(base)));
}

// A pair or point coordinate: [v] an integer! or float!.
double coordinate(const cell* v) {
    return v->type() == T_integer ? double(integer::get(v)) : float_::get(v);
}

inline bool is_block_like(uint8_t t) { return t == T_block || t == T_paren || (t >= T_path && t <= T_get_path); }
inline bool is_string_like(uint8_t t) { return string::is_text_type(t); }

// }==
// {== Natives

// print: value
void print(int32_t check) {
    check_arg(check, ts_any, 0);
    print_core(true);
}

// prin: value
void prin(int32_t check) {
    check_arg(check, ts_any, 0);
    print_core(false);
}

// dehex: value
void dehex(int32_t check) {
    check_arg(check, ts_text, 0);
    cell* out = string::push_new(string::length_of(stack::arg(0)));
    url::decode_percent(stack::arg(0), out);
    stack::set_last_keep(out);
}

// enhex: value. A string! keeps only the unreserved characters; a file or URL also keeps
// the characters a path may hold as they stand.
void enhex(int32_t check) {
    check_arg(check, ts_text, 0);
    cell* v = stack::arg(0);
    uint32_t mode = v->type() == T_string ? url::MODE_STRICT : 0;
    cell* out = string::push_new(string::length_of(v) + 1);
    url::encode_percent(stack::arg(0), -1, out, mode);
    stack::set_last_keep(out);
}

// debase: value [/base base-value]
void debase(int32_t check, int32_t base) {
    check_arg(check, ts_string, 0);
    int32_t b = base_of(check, base);
    const cell* base_cell = base >= 0 ? stack::arg(static_cast<uint32_t>(base)) : &none_value;
    binary::debase(stack::arg(0), stack::arg(0), b, base_cell);
    stack::keep();
}

// enbase: value [/base base-value]
void enbase(int32_t check, int32_t base) {
    check_arg(check, ts_bytes, 0);
    int32_t b = base_of(check, base);
    const cell* base_cell = base >= 0 ? stack::arg(static_cast<uint32_t>(base)) : &none_value;
    binary::enbase(stack::arg(0), stack::arg(0), b, base_cell);
    stack::keep();
}

// to-hex: value [/size length]: the last [length] of the eight digits, as an issue!.
void to_hex(int32_t check, int32_t size) {
    check_arg(check, ts_integer, 0);
    int32_t keep = 8;
    if (size >= 0) {
        check_refinement(check, ts_integer, size);
        const cell* n = stack::arg(static_cast<uint32_t>(size));
        keep = integer::get(n);
        if (keep <= 0) error::raise(error::cat_script, error::script_invalid_arg, n);
        if (keep > 8) keep = 8;
    }
    std::string_view digits = string::int_to_hex(integer::get(stack::arg(0)), false);
    char name[9];
    std::memcpy(name, digits.data() + (8 - keep), size_t(keep));
    name[keep] = 0;
    issue::make_at(stack::arg(0), name);
    stack::keep();
}

// uppercase and lowercase: string [/part limit]
void change_case(int32_t check, int32_t part, bool upper) {
    check_arg(check, ts_case_target, 0);
    check_refinement(check, ts_case_limit, part);
    cell limit = none_value;
    if (part >= 0) {
        limit = *stack::arg(static_cast<uint32_t>(part));
        if (limit.type() == T_float_ || limit.type() == T_percent)
            limit = integer::make_value(string::detail::int_of(&limit));
        const cell* v = stack::arg(0);
        // A text limit is a position in the value itself.
        if (is_string_like(limit.type()) && v->type() != T_char_ && (limit.type() != v->type() || limit.w2 != v->w2)) {
            cell refinement = word::load("part");
            cells::set_type(&refinement, T_refinement);
            error::raise(error::cat_script, error::script_invalid_refine_arg, &refinement, &limit);
        }
    }
    unicode::change_case(stack::arg(0), part >= 0 ? &limit : nullptr, upper);
    stack::keep();
}

void uppercase(int32_t check, int32_t part) { change_case(check, part, true); }
void lowercase(int32_t check, int32_t part) { change_case(check, part, false); }

// as-pair: x y. A float! is truncated; one that is not finite is refused.
void as_pair(int32_t check) {
    check_arg(check, ts_number, 0);
    check_arg(check, ts_number, 1);
    int32_t xy[2];
    for (uint32_t i = 0; i < 2; i++) {
        const cell* v = stack::arg(i);
        if (v->type() == T_float_ && !std::isfinite(float_::get(v)))
            error::raise(error::cat_script, error::script_invalid_arg, v);
        xy[i] = pair::number_to_int(v);
    }
    pair::make_at(stack::arg(0), xy[0], xy[1]);
    stack::keep();
}

// as-point2D: x y
void as_point2d(int32_t check) {
    check_arg(check, ts_number, 0);
    check_arg(check, ts_number, 1);
    cell p = point2D::make_value(float(coordinate(stack::arg(0))), float(coordinate(stack::arg(1))));
    stack::set_last_keep(&p);
}

// as-point3D: x y z
void as_point3d(int32_t check) {
    for (int32_t i = 0; i < 3; i++) check_arg(check, ts_number, i);
    cell p = point3D::make_value(float(coordinate(stack::arg(0))), float(coordinate(stack::arg(1))),
                                 float(coordinate(stack::arg(2))));
    stack::set_last_keep(&p);
}

// as-money: currency amount. The amount converts as make money! converts it.
void as_money(int32_t check) {
    static constexpr cell ts_word = typeset::of({T_word});
    check_arg(check, ts_word, 0);
    check_arg(check, ts_number, 1);
    int32_t currency = money::find_currency(stack::arg(0));
    if (currency < 0) error::raise(error::cat_script, error::script_bad_denom, stack::arg(0));
    const cell* amount = stack::arg(1);
    cell m = amount->type() == T_integer ? money::from_integer(integer::get(amount))
                                         : money::from_float(float_::get(amount), true);
    money::make_at(&m, money::get_sign(&m), uint32_t(currency), money::magnitude(&m));
    stack::set_last_keep(&m);
}

// as: type spec. The spec's series seen as another type of its own class.
void as(int32_t check) {
    check_arg(check, ts_as_type, 0);
    check_arg(check, ts_as_spec, 1);
    const cell* type = stack::arg(0);
    uint8_t target = type->type() == T_datatype ? static_cast<uint8_t>(type->w1) : type->type();
    cell spec = *stack::arg(1);
    uint8_t from = spec.type();
    bool same_class = (is_block_like(target) && is_block_like(from)) || (is_string_like(target) && is_string_like(from));
    if (!same_class) {
        cell a = datatype::make_value(target), b = datatype::make_value(from);
        error::raise(error::cat_script, error::script_not_same_class, &a, &b);
    }
    cells::set_type(&spec, target);
    stack::set_last_keep(&spec);
}

// to-local-file: path [/full]
void to_local_file(int32_t check, int32_t full) {
    check_arg(check, ts_local_file, 0);
    cell* out = string::push_new(string::length_of(stack::arg(0)) + 1);
    file::to_local_text(stack::arg(0), out, full >= 0);
    stack::set_last_keep(out);
}

// }==

template <typename F> entry_fn e(F f) { return reinterpret_cast<entry_fn>(f); }

} // namespace

// {== Registration

void init_text() {
    collector::remove_mark_hook(mark_scratch);
    collector::add_mark_hook(mark_scratch);
    print_line_ended = true;
    set_entry(23, e(&print));
    set_entry(24, e(&prin));
    set_entry(47, e(&dehex));
    set_entry(48, e(&enhex));
    set_entry(54, e(&to_hex));
    set_entry(71, e(&uppercase));
    set_entry(72, e(&lowercase));
    set_entry(73, e(&as_pair));
    set_entry(74, e(&as_point2d));
    set_entry(75, e(&as_point3d));
    set_entry(76, e(&as_money));
    set_entry(84, e(&debase));
    set_entry(85, e(&to_local_file));
    set_entry(91, e(&enbase));
    set_entry(98, e(&as));
}

// }==

} // namespace zyl::natives
