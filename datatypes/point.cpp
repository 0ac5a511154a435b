// datatypes/point.cpp: point2D! and point3D!: one set of entries, written once for N
// components, with the point literal; each type registers its own instances.
#include "datatypes/point.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "runtime/murmur.h"
#include "runtime/values.h"
#include "services/random.h"

namespace zyl::point {

// {== Internal functions

namespace {

constexpr size_t MAX_FLOAT_TEXT = 312;

// The type of the point with [n] components.
template <int N> constexpr uint8_t type_of() { return N == 2 ? T_point2d : T_point3d; }

template <int N> void fill(cell* c, float f) {
    for (int i = 0; i < N; i++) set(c, i, f);
}

// The point of [N] components [v] at [c] (a fresh header).
template <int N> cell* make_at(cell* c, const float* v) {
    *c = cell{type_of<N>(), 0, 0, 0};
    for (int i = 0; i < N; i++) set(c, i, v[i]);
    return c;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether [t] ([n] characters) is a float form: sign, digits with single "'" between digit
// groups, one ".", an exponent with optional sign and digits; a digit before or after the ".".
bool float_form(const char* t, size_t n) {
    size_t i = 0, mantissa = 0;
    if (i < n && (t[i] == '+' || t[i] == '-')) i++;
    auto digits = [&](bool separators) {
        size_t count = 0;
        for (; i < n; i++) {
            if (is_digit(t[i])) {
                count++;
            } else if (separators && t[i] == '\'' && count > 0 && i + 1 < n && is_digit(t[i + 1])) {
                continue;
            } else {
                break;
            }
        }
        return count;
    };
    mantissa += digits(true);
    if (i < n && t[i] == '.') {
        i++;
        mantissa += digits(true);
    }
    if (mantissa == 0) return false;
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        i++;
        if (i < n && (t[i] == '+' || t[i] == '-')) i++;
        if (digits(false) == 0) return false;
    }
    return i == n;
}

// "1.#INF", "-1.#inf", "+1.#NaN": the special floats; the sign of a NaN is ignored.
bool read_special(const char* t, size_t n, double& d) {
    bool negative = n > 0 && t[0] == '-';
    size_t i = n > 0 && (t[0] == '+' || t[0] == '-') ? 1 : 0;
    if (n - i != 6 || t[i] != '1' || t[i + 1] != '.' || t[i + 2] != '#') return false;
    char name[3];
    for (int k = 0; k < 3; k++) name[k] = static_cast<char>(t[i + 3 + k] | 0x20);
    if (name[0] == 'n' && name[1] == 'a' && name[2] == 'n') {
        d = std::nan("");
        return true;
    }
    if (name[0] != 'i' || name[1] != 'n' || name[2] != 'f') return false;
    d = negative ? -INFINITY : INFINITY;
    return true;
}

// One coordinate of a point literal: blanks and TABs around a float, in 32 bits.
bool read_coordinate(const char* p, const char* end, float& f) {
    while (p < end && (*p == ' ' || *p == '\t')) p++;
    while (end > p && (end[-1] == ' ' || end[-1] == '\t')) end--;
    size_t n = static_cast<size_t>(end - p);
    if (n == 0 || n > MAX_FLOAT_TEXT) return false;
    double d;
    if (std::memchr(p, '#', n)) {
        if (!read_special(p, n, d)) return false;
    } else {
        if (!float_form(p, n)) return false;
        char t[MAX_FLOAT_TEXT];
        size_t m = 0;
        for (size_t i = 0; i < n; i++) {
            if (p[i] != '\'') t[m++] = p[i];
        }
        size_t unconsumed;
        d = dtoa::strtod(t, t + m, 0, unconsumed);
        if (unconsumed != 0) return false;
    }
    f = static_cast<float>(d);
    return true;
}

} // namespace

uint8_t load_text(const char* start, const char* end, cell* out) {
    if (end - start < 2 || *start != '(') return T_point2d;
    float v[3];
    int n = 0;
    for (const char* p = start + 1;;) {
        uint8_t failing = n >= 2 ? T_point3d : T_point2d; // a second comma makes it 3D
        const char* stop = p;
        while (stop < end && *stop != ',' && *stop != ')') stop++;
        if (stop == end || !read_coordinate(p, stop, v[n])) return failing;
        n++;
        if (*stop == ')') {
            if (n < 2 || stop + 1 != end) return failing;
            break;
        }
        if (n == 3) return T_point3d;
        p = stop + 1;
    }
    if (n == 2) make_at<2>(out, v);
    else make_at<3>(out, v);
    return 0;
}

// }==
// {== Action entries

namespace {

[[noreturn]] void invalid_type(uint8_t type) {
    cell t = datatype::make_value(type);
    error::raise(error::cat_script, error::script_invalid_type, &t);
}

[[noreturn]] void bad_to_arg(uint8_t type, const cell* spec) {
    cell t = datatype::make_value(type);
    error::raise(error::cat_script, error::script_bad_to_arg, &t, spec);
}

// The double of a number cell: integer! converted, the float family as it is.
double double_of(const cell* c) {
    return c->type() == T_integer || c->type() == T_char_ ? double(integer::get(c)) : float_::get(c);
}

template <int N> void do_math(int32_t op) {
    cell* left = stack::arg(0);
    const cell* right = left + 1;
    float r[3];
    uint8_t t = right->type();
    if (t == T_integer || t == T_float_ || t == T_percent) {
        r[0] = r[1] = r[2] = static_cast<float>(double_of(right));
    } else if (N == 2 && t == T_pair) {
        r[0] = static_cast<float>(pair::get_x(right));
        r[1] = static_cast<float>(pair::get_y(right));
    } else if (t == type_of<N>()) {
        for (int i = 0; i < N; i++) r[i] = get(right, i);
    } else {
        invalid_type(t);
    }
    float out[3];
    for (int i = 0; i < N; i++) out[i] = static_cast<float>(float_::math_op(get(left, i), r[i], op));
    make_at<N>(left, out);
}

template <int N> cell* negate(cell* value) {
    for (int i = 0; i < N; i++) set(value, i, static_cast<float>(0.0 - get(value, i)));
    return value;
}

template <int N> void absolute() {
    cell* a = stack::arg(0);
    for (int i = 0; i < N; i++) set(a, i, std::fabs(get(a, i)));
}

template <int N, int OP> void arith() { do_math<N>(OP); }

template <int N> int32_t compare(const cell* a, const cell* b, int32_t op) {
    cell converted;
    if (N == 2 && b->type() == T_pair) {
        converted = point2D::make_value(static_cast<float>(pair::get_x(b)), static_cast<float>(pair::get_y(b)));
        b = &converted;
    }
    if (b->type() != type_of<N>()) return -2;
    bool same = true;
    for (int i = 0; i < N; i++) {
        float x = get(a, i), y = get(b, i);
        switch (op) {
        case 0:
        case 1: same = same && float_::almost_equal32(x, y); break;
        case 2: same = same && x == y; break;
        case 9: same = same && std::memcmp(&x, &y, 4) == 0; break;
        default: break;
        }
    }
    if (op == 0 || op == 1 || op == 2 || op == 9) return same ? 0 : 1;
    // Orderings: the first component whose difference is not almost zero decides.
    float f = get(a, 0) - get(b, 0);
    for (int i = 1; i < N && float_::almost_equal32(f, 0.0f); i++) f = get(a, i) - get(b, i);
    return f < 0 ? -1 : f > 0 ? 1 : 0;
}

// A block whose first N values are integer! or float!.
template <int N> cell from_block(const cell* block) {
    const series_buffer* b = memory::buffer_of(block->w2);
    const cell* first = reinterpret_cast<const cell*>(b->head) + block->w1;
    const cell* end = reinterpret_cast<const cell*>(b->tail);
    if (end - first < N) error::raise(error::cat_syntax, error::syntax_malconstruct, block);
    float v[3];
    for (int i = 0; i < N; i++) {
        uint8_t t = first[i].type();
        if (t != T_integer && t != T_float_) error::raise(error::cat_syntax, error::syntax_malconstruct, block);
        v[i] = static_cast<float>(double_of(first + i));
    }
    cell c;
    make_at<N>(&c, v);
    return c;
}

template <int N> cell* make(cell* proto, cell* spec, uint8_t type) {
    float v[3] = {0.0f, 0.0f, 0.0f};
    switch (spec->type()) {
    case T_block: *proto = from_block<N>(spec); return proto;
    case T_string: {
        cell r;
        if (!pair::load_literal(spec, &r) || r.type() != type_of<N>()) bad_to_arg(type, spec);
        return &(*proto = r);
    }
    case T_integer:
    case T_float_: v[0] = v[1] = v[2] = static_cast<float>(double_of(spec)); break;
    case T_pair:
        v[0] = static_cast<float>(pair::get_x(spec));
        v[1] = static_cast<float>(pair::get_y(spec));
        break;
    case T_point2d:
    case T_point3d:
        // A point3D! keeps its own kind only: there is no conversion to fewer components.
        if (spec->type() == T_point3d && N == 2) bad_to_arg(type, spec);
        v[0] = get(spec, 0);
        v[1] = get(spec, 1);
        if (spec->type() == T_point3d) v[2] = get(spec, 2);
        break;
    default: bad_to_arg(type, spec);
    }
    return make_at<N>(proto, v);
}

template <int N> cell* random(cell* value, bool seed, bool secure, bool) {
    if (seed) {
        uint32_t h = hash::murmur3(reinterpret_cast<const uint8_t*>(value) + 4, 4 * N);
        zyl::random::seed(static_cast<int32_t>(h));
        return &(*value = unset_value);
    }
    for (int i = 0; i < N; i++) {
        float c = get(value, i);
        if (c != 0.0f) set(value, i, static_cast<float>(float_::random_draw(c, secure)));
    }
    return value;
}

template <int N> int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    cell v = *value; // the value may lie in a series that moves when the buffer grows
    char text[4 + 3 * 32];
    size_t n = 0;
    text[n++] = '(';
    for (int i = 0; i < N; i++) {
        if (i > 0) {
            text[n++] = ',';
            text[n++] = ' ';
        }
        std::string_view c = float_::format(get(&v, i), float_::KIND_POINT);
        std::memcpy(text + n, c.data(), c.size());
        n += c.size();
    }
    text[n++] = ')';
    string::concatenate_literal(buffer, {text, n});
    return part - static_cast<int32_t>(n);
}

template <int N> int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell*, int32_t part, int32_t) {
    return form<N>(value, buffer, nullptr, part);
}

// The component that path element or pick index [at] names, 1 to N, else 0.
template <int N> int32_t component_of(const cell* at) {
    int32_t axis = at->type() == T_integer ? integer::get(at) : pair::axis_of(at);
    return axis >= 1 && axis <= N ? axis : 0;
}

template <int N>
cell* eval_path(cell* value, const cell* element, const cell* set_value, const actions::path_step& step) {
    int32_t axis = component_of<N>(element);
    if (axis == 0) {
        error::raise(error::cat_script, error::script_invalid_path, step.path ? step.path : &none_value, element);
    }
    if (!set_value) return float_::make_at(value, get(value, axis - 1));
    uint8_t t = set_value->type();
    if (t != T_integer && t != T_float_) invalid_type(t);
    set(value, axis - 1, static_cast<float>(double_of(set_value)));
    // The owner of an object field hears of the change (step.notify) once objects exist.
    // The result of a set is the value set; callers only read it.
    return const_cast<cell*>(set_value);
}

template <int N> cell* pick(cell* value, int32_t, const cell* at) {
    int32_t axis = component_of<N>(at);
    if (axis == 0) error::raise(error::cat_script, error::script_out_of_range, at);
    return float_::make_at(value, get(value, axis - 1));
}

template <int N> cell* round(cell* value, const cell* scale, bool even, bool down, bool half_down, bool floor,
                             bool ceiling, bool half_ceiling) {
    uint8_t t = scale ? scale->type() : uint8_t(T_none);
    if (t == T_money) {
        cell call = stack::ready() ? stack::get_call() : none_value;
        cell m = datatype::make_value(T_money);
        error::raise(error::cat_script, error::script_not_related, &call, &m);
    }
    // One scale per component from a pair or point scale; a number scale counts as a float!
    // so that the components stay floats whatever their size.
    cell scales[3];
    const cell* per[3] = {scale, scale, scale};
    if ((N == 2 && t == T_pair) || t == T_point2d || t == T_point3d) {
        for (int i = 0; i < N; i++) {
            double s = t == T_pair ? (i == 0 ? pair::get_x(scale) : pair::get_y(scale))
                       : i < 2 || t == T_point3d ? get(scale, i) : 0.0;
            scales[i] = float_::make_value(s);
            per[i] = &scales[i];
        }
    } else if (t == T_integer || t == T_char_) {
        scales[0] = float_::make_value(double(integer::get(scale)));
        per[0] = per[1] = per[2] = &scales[0];
    }
    float out[3];
    for (int i = 0; i < N; i++) {
        cell c = float_::make_value(get(value, i));
        float_::round(&c, per[i], even, down, half_down, floor, ceiling, half_ceiling);
        out[i] = static_cast<float>(double_of(&c));
    }
    return make_at<N>(value, out);
}

// x and the last component change places: (x, y) to (y, x), (x, y, z) to (z, y, x).
template <int N> cell* reverse(cell* value, const cell*, const cell*) {
    float x = get(value, 0);
    set(value, 0, get(value, N - 1));
    set(value, N - 1, x);
    return value;
}

} // namespace

// }==
// {== Registration

namespace {

template <int N> void register_point(const char* name) {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make<N>);
    e[A_random - 1] = entry(&random<N>);
    e[A_to - 1] = entry(&make<N>);
    e[A_form - 1] = entry(&form<N>);
    e[A_mold - 1] = entry(&mold<N>);
    e[A_eval_path - 1] = entry(&eval_path<N>);
    e[A_compare - 1] = entry(&compare<N>);
    e[A_absolute - 1] = entry(&absolute<N>);
    e[A_add - 1] = entry(&arith<N, MATH_ADD>);
    e[A_divide - 1] = entry(&arith<N, MATH_DIVIDE>);
    e[A_multiply - 1] = entry(&arith<N, MATH_MULTIPLY>);
    e[A_negate - 1] = entry(&negate<N>);
    e[A_remainder - 1] = entry(&arith<N, MATH_REMAINDER>);
    e[A_round - 1] = entry(&round<N>);
    e[A_subtract - 1] = entry(&arith<N, MATH_SUBTRACT>);
    e[A_pick - 1] = entry(&pick<N>);
    e[A_reverse - 1] = entry(&reverse<N>);
    datatype::register_type(ACTION_SLOTS + 3, type_of<N>(), 0, name, e);
}

} // namespace

// }==

} // namespace zyl::point

namespace zyl::point2D {

cell* make_at(cell* c, float x, float y) { return &(*c = make_value(x, y)); }
cell* push(float x, float y) { return make_at(stack::push_slot(), x, y); }
cell* append_to_block(node_id block, float x, float y) { return make_at(series::append_unset_cell(block), x, y); }
float number_of(const cell* c) { return static_cast<float>(float_::number_of(c)); }

int32_t field_index(const cell* word) {
    int32_t axis = pair::axis_of(word);
    if (axis < 1 || axis > 2) error::raise(error::cat_script, error::script_invalid_path, &none_value, word);
    return axis;
}

void do_math(int32_t op) { point::do_math<2>(op); }
cell* negate(cell* value) { return point::negate<2>(value); }
int32_t compare(const cell* a, const cell* b, int32_t op) { return point::compare<2>(a, b, op); }
void init() { point::register_point<2>("point2D!"); }

} // namespace zyl::point2D

namespace zyl::point3D {

cell* make_at(cell* c, float x, float y, float z) { return &(*c = make_value(x, y, z)); }
cell* push(float x, float y, float z) { return make_at(stack::push_slot(), x, y, z); }
cell* append_to_block(node_id block, float x, float y, float z) {
    return make_at(series::append_unset_cell(block), x, y, z);
}
float number_of(const cell* c) { return static_cast<float>(float_::number_of(c)); }

int32_t field_index(const cell* word) {
    int32_t axis = pair::axis_of(word);
    if (axis < 1) error::raise(error::cat_script, error::script_invalid_path, &none_value, word);
    return axis;
}

void do_math(int32_t op) { point::do_math<3>(op); }
cell* negate(cell* value) { return point::negate<3>(value); }
int32_t compare(const cell* a, const cell* b, int32_t op) { return point::compare<3>(a, b, op); }
void init() { point::register_point<3>("point3D!"); }

} // namespace zyl::point3D
