// eval/natives_math.cpp: the sign tests (negative?, positive?, sign?, zero?, NaN?), shift, and
// the floating-point natives: trigonometry in degrees or radians, logarithms, exp, square-root.
#include <cmath>

#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "eval/actions.h"
#include "eval/fast_paths.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/error.h"

namespace zyl::natives {

namespace {

// {== Internal functions

constexpr double PI = 3.141592653589793;
constexpr double LN_2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;
// sine and cosine below it are rounding noise: sine 180 is 0.0, not 1.2e-16.
constexpr double TRIG_CUTOFF = 2.220446049250313e-16;

constexpr cell number_types = typeset::standard::number;
constexpr cell sign_types = typeset::unite(number_types, typeset::of({T_time, T_money}));
constexpr cell zero_types =
    typeset::unite(sign_types, typeset::of({T_char_, T_pair, T_tuple, T_point2d, T_point3d}));
constexpr cell integer_types = typeset::of({T_integer});

inline void check(int32_t flag, const cell& ts, int32_t pos) {
    if (flag) error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
}

// Raises expect-arg for argument [pos] outside [ts]: the natives reach it only when called
// without checking.
[[noreturn]] void wrong_type(const cell& ts, int32_t pos) {
    error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
    runtime_error(RT_NO_SWITCH); // check_arg_type passed a type the caller did not handle
}

inline void result_logic(bool b) {
    cell r = logic::make_value(b);
    stack::set_last_keep(&r);
}

// The sign of money! [v]: its order against 0, by money!'s own compare entry.
inline int32_t money_sign(const cell* v) {
    cell zero = integer::make_value(0);
    return integer::sign(actions::compare_typed(v, &zero, actions::CMP_LESSER));
}

// The sign (-1, 0, 1) of sign-test argument 0; a NaN has none (0).
int32_t sign_of_arg() {
    const cell* v = stack::arg(0);
    switch (v->type()) {
    case T_integer: return integer::sign(integer::get(v));
    case T_float_: case T_percent: case T_time: {
        double d = float_::get(v);
        return (d > 0.0) - (d < 0.0);
    }
    case T_money: return money_sign(v);
    default: wrong_type(sign_types, 0);
    }
}

bool zero_of(const cell* v) {
    switch (v->type()) {
    case T_integer: case T_char_: return integer::get(v) == 0;
    case T_float_: case T_percent: case T_time: return float_::get(v) == 0.0;
    case T_pair: return pair::get_x(v) == 0 && pair::get_y(v) == 0;
    case T_tuple: return tuple::zero_q(v);
    case T_money: return money_sign(v) == 0;
    case T_point2d: return point::get(v, 0) == 0.0f && point::get(v, 1) == 0.0f;
    case T_point3d: return point::get(v, 0) == 0.0f && point::get(v, 1) == 0.0f && point::get(v, 2) == 0.0f;
    default: return false;
    }
}

// Argument [pos] as a double; the cell becomes that float! in place (an integer! is widened,
// a percent! retyped).
double float_arg(uint32_t pos) {
    cell* v = stack::arg(pos);
    switch (v->type()) {
    case T_integer: float_::make_at(v, double(integer::get(v))); break;
    case T_percent: cells::set_type(v, T_float_); break;
    case T_float_: break;
    default: wrong_type(number_types, int32_t(pos));
    }
    return float_::get(v);
}

inline void result_float(double d) {
    float_::make_at(stack::arg(0), d);
    stack::keep();
}

// Degrees to radians, brought first into the range where the C library's functions are
// exact at the right angles: [kind] 0 tangent, 1 cosine, 2 sine.
double normalize(double x, int kind) {
    x = std::fmod(x, 360.0);
    if (x > 180.0 || x < -180.0) x += x >= 0.0 ? -360.0 : 360.0;
    if (x > 90.0 || x < -90.0) {
        if (kind == 0) x += x >= 0.0 ? -180.0 : 180.0;
        if (kind == 2) x = x >= 0.0 ? 180.0 - x : -180.0 - x;
    }
    return x * PI / 180.0;
}

inline double cut_noise(double d) { return std::fabs(d) < TRIG_CUTOFF ? 0.0 : d; }
inline double to_degrees(double r, bool radians) { return radians ? r : r * 180.0 / PI; }

// }==
// {== Sign tests and shift

void negative_q(int32_t chk) {
    check(chk, sign_types, 0);
    result_logic(sign_of_arg() < 0);
}

void positive_q(int32_t chk) {
    check(chk, sign_types, 0);
    result_logic(sign_of_arg() > 0);
}

void sign_q(int32_t chk) {
    check(chk, sign_types, 0);
    integer::make_at(stack::arg(0), sign_of_arg());
    stack::keep();
}

void zero_q(int32_t chk) {
    check(chk, zero_types, 0);
    result_logic(zero_of(stack::arg(0)));
}

void nan_q(int32_t chk) {
    check(chk, number_types, 0);
    const cell* v = stack::arg(0);
    // A NaN percent! is no more a number than a NaN float!.
    result_logic((v->type() == T_float_ || v->type() == T_percent) && std::isnan(float_::get(v)));
}

void shift(int32_t chk, int32_t left, int32_t logical) {
    check(chk, integer_types, 0);
    check(chk, integer_types, 1);
    if (stack::arg(0)->type() != T_integer) wrong_type(integer_types, 0);
    if (stack::arg(1)->type() != T_integer) wrong_type(integer_types, 1);
    int32_t data = integer::get(stack::arg(0));
    int32_t bits = integer::get(stack::arg(1));
    uint32_t n = bits < 0 ? 0 : uint32_t(bits);
    int32_t r;
    if (left >= 0) {
        r = n < 32 ? int32_t(uint32_t(data) << n) : 0;
    } else if (logical >= 0) {
        r = n < 32 ? int32_t(uint32_t(data) >> n) : 0;
    } else {
        r = n < 32 ? data >> n : (data < 0 ? -1 : 0);
    }
    integer::make_at(stack::arg(0), r);
    stack::keep();
}

// }==
// {== Trigonometry

void sine(int32_t chk, int32_t radians) {
    check(chk, number_types, 0);
    double x = float_arg(0);
    result_float(cut_noise(std::sin(radians >= 0 ? x : normalize(x, 2))));
}

void cosine(int32_t chk, int32_t radians) {
    check(chk, number_types, 0);
    double x = float_arg(0);
    result_float(cut_noise(std::cos(radians >= 0 ? x : normalize(x, 1))));
}

void tangent(int32_t chk, int32_t radians) {
    check(chk, number_types, 0);
    double x = float_arg(0);
    if (radians < 0) x = normalize(x, 0);
    // tan of the double nearest pi/2 is finite; the right angle itself has no tangent.
    if (x == PI / 2) return result_float(INFINITY);
    if (x == -PI / 2) return result_float(-INFINITY);
    result_float(std::tan(x));
}

void arcsine(int32_t chk, int32_t radians) {
    check(chk, number_types, 0);
    result_float(to_degrees(std::asin(float_arg(0)), radians >= 0));
}

void arccosine(int32_t chk, int32_t radians) {
    check(chk, number_types, 0);
    result_float(to_degrees(std::acos(float_arg(0)), radians >= 0));
}

void arctangent(int32_t chk, int32_t radians) {
    check(chk, number_types, 0);
    result_float(to_degrees(std::atan(float_arg(0)), radians >= 0));
}

void arctangent2(int32_t chk, int32_t radians) {
    check(chk, number_types, 0);
    check(chk, number_types, 1);
    double y = float_arg(0);
    double x = float_arg(1);
    result_float(to_degrees(std::atan2(y, x), radians >= 0));
}

// }==
// {== Logarithms and powers (domain errors give NaN or infinities, as the C library does)

void log_2(int32_t chk) {
    check(chk, number_types, 0);
    result_float(std::log(float_arg(0)) / LN_2);
}

void log_10(int32_t chk) {
    check(chk, number_types, 0);
    result_float(std::log10(float_arg(0)));
}

void log_e(int32_t chk) {
    check(chk, number_types, 0);
    result_float(std::log(float_arg(0)));
}

void exp_(int32_t chk) {
    check(chk, number_types, 0);
    result_float(std::pow(E, float_arg(0)));
}

void square_root(int32_t chk) {
    check(chk, number_types, 0);
    result_float(std::sqrt(float_arg(0)));
}

// }==

} // namespace

// {== Registration

void init_math() {
    auto e = [](auto f) { return reinterpret_cast<entry_fn>(f); };
    set_entry(49, e(&negative_q));
    set_entry(50, e(&positive_q));
    set_entry(53, e(&shift));
    set_entry(55, e(&sine));
    set_entry(56, e(&cosine));
    set_entry(57, e(&tangent));
    set_entry(58, e(&arcsine));
    set_entry(59, e(&arccosine));
    set_entry(60, e(&arctangent));
    set_entry(61, e(&arctangent2));
    set_entry(62, e(&nan_q));
    set_entry(63, e(&log_2));
    set_entry(64, e(&log_10));
    set_entry(65, e(&log_e));
    set_entry(66, e(&exp_));
    set_entry(67, e(&square_root));
    set_entry(97, e(&sign_q));
    set_entry(100, e(&zero_q));
}

// }==

} // namespace zyl::natives
