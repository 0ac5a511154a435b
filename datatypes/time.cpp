// datatypes/time.cpp: time!: making times from blocks, numbers and text, the h:mm:ss text,
// the hour, minute and second fields, and the arithmetic that float! does for it.
#include "datatypes/time.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/stack.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "runtime/unicode_text.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::time {

// {== Internal functions

cell* make_at(double seconds, cell* c) { return &(*c = float_::make_value(seconds, T_time)); }

cell* push(double seconds) { return make_at(seconds, stack::push_slot()); }

cell* make_in(node_id block, double seconds) { return make_at(seconds, series::append_unset_cell(block)); }

namespace {

// A field read as integer!; one beyond 32 bits raises script type-limit.
int32_t checked_field(double d) {
    if (integer::float_overflow(d)) {
        cell t = datatype::make_value(T_integer);
        error::raise(error::cat_script, error::script_type_limit, &t);
    }
    return static_cast<int32_t>(d);
}

} // namespace

int32_t get_hours(double seconds) { return checked_field(std::trunc(seconds / SECONDS_PER_HOUR)); }

int32_t get_minutes(double seconds) {
    return static_cast<int32_t>(std::floor(std::fmod(std::fabs(seconds), SECONDS_PER_HOUR) / SECONDS_PER_MINUTE));
}

namespace {

// {== Text

// Writes the decimal digits of the whole number [d] >= 0 at [out]; returns the count.
int whole_digits(double d, char* out, int room) {
    if (d < 1e18) {
        auto r = std::to_chars(out, out + room, static_cast<int64_t>(d));
        return static_cast<int>(r.ptr - out);
    }
    return std::snprintf(out, room, "%.0f", d);
}

// The seconds field text of [s] (0 <= s < 60) into [out]: "00", "05", "05.5", "59.25".
// Returns 0 when the text rounds up to a whole minute, which the caller carries.
int seconds_text(double s, char* out) {
    if (s < ZERO_SECONDS) {
        out[0] = out[1] = '0';
        return 2;
    }
    std::string_view t = float_::format(s, float_::KIND_TIME);
    if (t == "60") return 0;
    int n = 0;
    if (t.size() == 1 || t[1] == '.') out[n++] = '0';
    for (char c : t) out[n++] = c;
    return n;
}

// }==

} // namespace

int32_t form_value(double seconds, const cell* buffer, int32_t part) {
    if (!std::isfinite(seconds)) {
        std::string_view special = float_::format(seconds, float_::KIND_FLOAT);
        string::concatenate_literal(buffer, special);
        return part - static_cast<int32_t>(special.size());
    }
    char out[360]; // a sign, up to 306 hour digits, ":mm:", the seconds
    int n = 0;
    double x = seconds;
    if (x < 0) {
        out[n++] = '-';
        x = -x;
    }
    char sec[40];
    double s = std::fmod(x, SECONDS_PER_MINUTE);
    int sn = seconds_text(s, sec);
    if (sn == 0) {
        // 59.9999999 rounds to 60 in six digits: it forms as the next whole minute.
        x = x - s + SECONDS_PER_MINUTE;
        sn = seconds_text(0.0, sec);
    }
    n += whole_digits(std::floor(x / SECONDS_PER_HOUR), out + n, 320);
    int minutes = get_minutes(x);
    out[n++] = ':';
    out[n++] = static_cast<char>('0' + minutes / 10);
    out[n++] = static_cast<char>('0' + minutes % 10);
    out[n++] = ':';
    for (int i = 0; i < sn; i++) out[n++] = sec[i];
    string::concatenate_literal(buffer, {out, size_t(n)});
    return part - n;
}

namespace {

[[noreturn]] void out_of_range(int32_t f) {
    cell index = integer::make_value(f);
    error::raise(error::cat_script, error::script_out_of_range, &index);
}

[[noreturn]] void invalid_arg(const cell* value) {
    error::raise(error::cat_script, error::script_invalid_arg, value);
}

// Seconds with the hour set to [h], minutes and seconds kept. Both read back unchanged:
// the part below the hour takes the sign of the new hour (of the old time for hour 0).
double with_hour(double seconds, int32_t h) {
    double rest = seconds - std::trunc(seconds / SECONDS_PER_HOUR) * SECONDS_PER_HOUR;
    if (h != 0) rest = h < 0 ? -std::fabs(rest) : std::fabs(rest);
    return h * SECONDS_PER_HOUR + rest;
}

// Seconds with the minute set to [m]; minutes count on the magnitude, as they read.
double with_minute(double seconds, int32_t m) {
    double a = std::fabs(seconds);
    a -= (std::floor(std::fmod(a, SECONDS_PER_HOUR) / SECONDS_PER_MINUTE) - m) * SECONDS_PER_MINUTE;
    return seconds < 0 ? -a : a;
}

} // namespace

cell* get_field(const cell* t, int32_t f, cell* out) {
    double seconds = float_::get(t);
    switch (f) {
    case FIELD_HOUR: *out = integer::make_value(get_hours(seconds)); break;
    case FIELD_MINUTE: *out = integer::make_value(get_minutes(seconds)); break;
    case FIELD_SECOND: *out = float_::make_value(std::fmod(seconds, SECONDS_PER_MINUTE)); break;
    default: out_of_range(f);
    }
    return out;
}

void set_field(cell* t, int32_t f, const cell* value) {
    if (f < FIELD_HOUR || f > FIELD_SECOND) out_of_range(f);
    uint8_t vt = value->type();
    if (vt != T_integer && (f != FIELD_SECOND || vt != T_float_)) invalid_arg(value);
    double seconds = float_::get(t);
    if (f == FIELD_HOUR) {
        seconds = with_hour(seconds, integer::get(value));
    } else if (f == FIELD_MINUTE) {
        seconds = with_minute(seconds, integer::get(value));
    } else {
        double s = vt == T_integer ? double(integer::get(value)) : float_::get(value);
        seconds -= std::fmod(seconds, SECONDS_PER_MINUTE) - s;
    }
    float_::set(t, seconds);
}

namespace {

// {== Reading text

// A run of decimal digits at [p] into [n] (at most 32 bits); false when there is none.
bool read_digits(const char*& p, const char* end, int64_t& n) {
    const char* start = p;
    n = 0;
    for (; p < end && *p >= '0' && *p <= '9'; p++) {
        n = n * 10 + (*p - '0');
        if (n > INT32_MAX) return false;
    }
    return p > start;
}

// A fraction "." or "," then digits at [p], as the double 0.digits; false when malformed.
bool read_fraction(const char*& p, const char* end, double& f) {
    f = 0.0;
    if (p == end) return true;
    if (*p != '.' && *p != ',') return false;
    char text[64] = "0.";
    int n = 2;
    for (p++; p < end && *p >= '0' && *p <= '9' && n < 63; p++) text[n++] = *p;
    size_t unconsumed;
    f = dtoa::strtod(text, text + n, 0, unconsumed);
    return n > 2 && p == end;
}

// }==

} // namespace

double from_text(const cell* text, bool& ok) {
    ok = false;
    unicode::text::range r = unicode::text::range_of(text, -1);
    auto blank = [&](const uint8_t* q) {
        uint32_t c = unicode::text::get(q, r.unit);
        return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    };
    while (r.start < r.end && blank(r.start)) r.start += r.unit;
    while (r.end > r.start && blank(r.end - r.unit)) r.end -= r.unit;
    char t[64];
    int n = 0;
    for (const uint8_t* p = r.start; p < r.end; p += r.unit) {
        uint32_t c = unicode::text::get(p, r.unit);
        if (c >= 0x80 || n == 63) return 0.0; // no time text is that long
        t[n++] = static_cast<char>(c);
    }
    const char* p = t;
    const char* end = t + n;
    bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) p++;
    int64_t first, second, third = 0;
    if (!read_digits(p, end, first) || p == end || *p++ != ':' || !read_digits(p, end, second)) return 0.0;
    double fraction, value;
    if (p < end && *p == ':') {
        // h:m:s[.f]
        p++;
        if (!read_digits(p, end, third) || !read_fraction(p, end, fraction)) return 0.0;
        value = first * SECONDS_PER_HOUR + second * SECONDS_PER_MINUTE + third + fraction;
    } else if (p == end || *p == '.' || *p == ',') {
        // h:m, or m:s.f when a fraction follows the second number
        bool minutes_seconds = p < end;
        if (!read_fraction(p, end, fraction)) return 0.0;
        value = minutes_seconds ? first * SECONDS_PER_MINUTE + second + fraction
                                : first * SECONDS_PER_HOUR + second * SECONDS_PER_MINUTE;
    } else {
        return 0.0;
    }
    ok = true;
    return negative ? -value : value;
}

// }==
// {== Action entries

namespace {

[[noreturn]] void bad_to_arg(const cell* spec) {
    cell t = datatype::make_value(T_time);
    error::raise(error::cat_script, error::script_bad_to_arg, &t, spec);
}

// [h m s]: hours and minutes integer!, seconds integer! or float!; only the hours may be
// negative, and their sign applies to the whole.
double from_block(const cell* block) {
    series_buffer* b = memory::buffer_of(block->w2);
    const cell* v = reinterpret_cast<const cell*>(b->head) + block->w1;
    const cell* end = reinterpret_cast<const cell*>(b->tail);
    int64_t count = v < end ? end - v : 0;
    if (count > 3) bad_to_arg(block);
    double parts[3] = {0.0, 0.0, 0.0};
    for (int64_t i = 0; i < count; i++) {
        uint8_t t = v[i].type();
        if (t != T_integer && (i < 2 || t != T_float_)) bad_to_arg(block);
        parts[i] = t == T_integer ? double(integer::get(&v[i])) : float_::get(&v[i]);
        if (i > 0 && parts[i] < 0) bad_to_arg(block);
    }
    double total = std::fabs(parts[0]) * SECONDS_PER_HOUR + parts[1] * SECONDS_PER_MINUTE + parts[2];
    return parts[0] < 0 ? -total : total;
}

cell* make(cell* proto, cell* spec, uint8_t) {
    double seconds = 0.0;
    switch (spec->type()) {
    case T_time:
    case T_float_:
    case T_percent: seconds = float_::get(spec); break;
    case T_integer: seconds = integer::get(spec); break;
    case T_block:
    case T_paren:
    case T_hash: seconds = from_block(spec); break;
    default: {
        bool ok = integer::is_text_type(spec->type());
        if (ok) seconds = from_text(spec, ok);
        if (!ok) bad_to_arg(spec);
    }
    }
    return make_at(seconds, proto);
}

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    return form_value(float_::get(value), buffer, part);
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell*, int32_t part, int32_t) {
    return form_value(float_::get(value), buffer, part);
}

// The field that selector [at] names: an integer! 1 to 3 as it stands (other numbers too,
// for the caller to refuse), the words hour, minute and second in any case; 0 for anything else.
int32_t field_of(const cell* at) {
    if (at->type() == T_integer) {
        int32_t n = integer::get(at);
        return n == 0 ? -1 : n;
    }
    if (at->type() != T_word) return 0;
    uint32_t s = symbol::resolve(at->w2);
    if (s == symbol::resolve(words::sym.hour)) return FIELD_HOUR;
    if (s == symbol::resolve(words::sym.minute)) return FIELD_MINUTE;
    if (s == symbol::resolve(words::sym.second)) return FIELD_SECOND;
    return 0;
}

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    int32_t f = field_of(element);
    if (f < FIELD_HOUR || f > FIELD_SECOND)
        error::raise(error::cat_script, error::script_invalid_path, step.path ? step.path : &none_value, element);
    if (!set) return get_field(value, f, value);
    set_field(value, f, set);
    return const_cast<cell*>(set); // the result of a set is the value set
}

cell* pick(cell* value, int32_t, const cell* at) {
    int32_t f = field_of(at);
    if (f == 0) {
        cell t = *value;
        error::raise(error::cat_script, error::script_cannot_use, &t, at);
    }
    if (f < FIELD_HOUR || f > FIELD_SECOND) error::raise(error::cat_script, error::script_out_of_range, at);
    return get_field(value, f, value);
}

// [action] (its predefined word) cannot take a second operand of type [other].
[[noreturn]] void not_related(const cell& action, uint8_t other) {
    cell a = action, b = datatype::make_value(other);
    error::raise(error::cat_script, error::script_not_related, &a, &b);
}

void add() {
    if (stack::arg(1)->type() == T_date) return float_::forward_math(MATH_ADD, true);
    float_::do_math(MATH_ADD);
}

void subtract() {
    if (stack::arg(1)->type() == T_date) not_related(words::loaded.subtract, T_date);
    float_::do_math(MATH_SUBTRACT);
}

void multiply() {
    if (stack::arg(1)->type() == T_time) not_related(words::loaded.multiply, T_time);
    float_::do_math(MATH_MULTIPLY);
}

void divide() {
    bool ratio = stack::arg(1)->type() == T_time;
    float_::do_math(MATH_DIVIDE);
    if (ratio) cells::set_type(stack::arg(0), T_float_); // time / time is a plain number
}

cell* round(cell* value, const cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    if (scale && scale->type() == T_money) not_related(stack::ready() ? stack::get_call() : none_value, T_money);
    // An integer! scale counts seconds: rounded as a float, so no 32-bit limit applies.
    cell float_scale;
    if (scale && scale->type() == T_integer) {
        float_scale = float_::make_value(double(integer::get(scale)));
        scale = &float_scale;
    }
    float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    cells::set_type(value, T_time);
    return value;
}

// Bit 0 of the whole seconds field, nudged by a microsecond away from zero.
bool seconds_odd(const cell* value) {
    double s = float_::get(value);
    s += s >= 0 ? ZERO_SECONDS : -ZERO_SECONDS;
    return static_cast<int32_t>(std::fmod(s, SECONDS_PER_MINUTE)) & 1;
}

bool even_q(const cell* value) { return !seconds_odd(value); }
bool odd_q(const cell* value) { return seconds_odd(value); }

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_random - 1] = ZYL_INHERIT;
    e[A_to - 1] = entry(&make);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_eval_path - 1] = entry(&eval_path);
    e[A_compare - 1] = ZYL_INHERIT;
    e[A_absolute - 1] = ZYL_INHERIT;
    e[A_add - 1] = entry(&add);
    e[A_divide - 1] = entry(&divide);
    e[A_multiply - 1] = entry(&multiply);
    e[A_negate - 1] = ZYL_INHERIT;
    e[A_remainder - 1] = ZYL_INHERIT;
    e[A_round - 1] = entry(&round);
    e[A_subtract - 1] = entry(&subtract);
    e[A_even_q - 1] = entry(&even_q);
    e[A_odd_q - 1] = entry(&odd_q);
    e[A_pick - 1] = entry(&pick);
    datatype::register_type(ACTION_SLOTS + 3, T_time, T_float_, "time!", e);
}

// }==

} // namespace zyl::time
