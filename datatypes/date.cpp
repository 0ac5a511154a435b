// datatypes/date.cpp: date!: the day counts, packing and zone normalisation, the accessors,
// the setters of paths, arithmetic, comparison by instant, make and to, and the text.
// The layout and its invariant are in datatypes/date.h.
#include "datatypes/date.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system_fields.h"
#include "datatypes/time.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "runtime/words.h"
#include "services/random.h"

namespace zyl::date {

// {== Internal functions

bool leap_year_q(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t month_days(int64_t year, int32_t month) {
    static constexpr int32_t DAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap_year_q(year) ? 29 : DAYS[month - 1];
}

namespace {

// Days from 1 March of year 0 to 1 March of year [y].
int64_t year_days(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

} // namespace

int64_t date_to_days(int64_t year, int32_t month, int32_t day) {
    int64_t m = (month + 9) % 12; // March is 0
    int64_t y = year - m / 10;
    return year_days(y) + (m * 306 + 5) / 10 + (day - 1);
}

void days_to_date(int64_t g, int64_t& year, int32_t& month, int32_t& day) {
    int64_t y = floor_div(10000 * g + 14780, 3652425);
    int64_t r = g - year_days(y);
    if (r < 0) r = g - year_days(--y);
    int64_t mi = (100 * r + 52) / 3060;
    month = int32_t((mi + 2) % 12 + 1);
    year = y + (mi + 2) / 12;
    day = int32_t(r - (mi * 306 + 5) / 10 + 1);
}

int64_t iso_week_one(int64_t year) {
    int64_t j = date_to_days(year, 1, 1);
    int64_t b = floor_mod(j + 2, 7); // 0 when 1 January is a Monday
    return j - b + (b >= 4 ? 7 : 0);
}

double time_of(const cell* d) { return float_::get(d); }

int32_t zone_seconds(uint32_t zone) {
    int32_t s = int32_t((zone >> 2) & 15) * 3600 + int32_t(zone & 3) * 900;
    return (zone & ZONE_NEGATIVE) ? -s : s;
}

int64_t days_of(const cell* d) { return date_to_days(year_of(d), month_of(d), day_of(d)); }

namespace {

[[noreturn]] void type_limit() {
    cell t = datatype::make_value(T_date);
    error::raise(error::cat_script, error::script_type_limit, &t);
}

[[noreturn]] void invalid_arg(const cell* v) { error::raise(error::cat_script, error::script_invalid_arg, v); }

[[noreturn]] void bad_to_arg(const cell* spec) {
    cell t = datatype::make_value(T_date);
    error::raise(error::cat_script, error::script_bad_to_arg, &t, spec);
}

// Zone bits of [minutes] east of UTC, in whole quarter hours; hours beyond 15 answer false.
bool zone_bits(int32_t minutes, uint32_t& zone) {
    int32_t a = minutes < 0 ? -minutes : minutes;
    int32_t hours = a / 60, quarters = (a % 60) / 15;
    if (hours > 15) return false;
    zone = uint32_t(hours) << 2 | uint32_t(quarters);
    if (minutes < 0 && zone) zone |= ZONE_NEGATIVE;
    return true;
}

// The day and stored time normalised so that the local time t + offset lies in 0..86400.
void apply_zone(int64_t& d, double& t, uint32_t zone) {
    double h = zone_seconds(zone) / 3600.0;
    double c = std::trunc((t / 3600.0 + h) / 24.0);
    if (!std::isfinite(c) || std::fabs(c) > 1e8) type_limit();
    d += int64_t(c);
    t -= c * DAY_SECONDS;
    if (h * 3600.0 + t < 0) {
        d -= 1;
        t += DAY_SECONDS;
    }
}

} // namespace

cell* make_from_days(cell* c, int64_t days, double t, uint32_t zone, bool with_time) {
    if (!with_time) {
        t = 0.0;
        zone = 0;
    } else {
        apply_zone(days, t, zone);
    }
    int64_t year;
    int32_t month, day;
    days_to_date(days, year, month, day);
    if (year < MIN_YEAR || year > MAX_YEAR) type_limit();
    uint32_t word = static_cast<uint32_t>(year) << 17 | uint32_t(month) << 12 | uint32_t(day) << 7 | (zone & ZONE_MASK);
    if (with_time) word |= HAS_TIME;
    *c = cell{T_date, word, 0, 0};
    float_::set(c, t);
    return c;
}

cell* make_at(cell* c, int64_t year, int32_t month, int32_t day, double time, int32_t zone_minutes,
              bool with_time) {
    if (year < MIN_YEAR || year > MAX_YEAR) type_limit();
    uint32_t zone = 0;
    if (!zone_bits(zone_minutes, zone)) type_limit();
    int64_t days = date_to_days(year, month, day);
    return make_from_days(c, days, time - zone_seconds(zone), zone, with_time);
}

cell* make_at_hms(cell* c, int64_t year, int32_t month, int32_t day, int32_t h, int32_t m, int32_t s,
                  int32_t ns) {
    return make_at(c, year, month, day, 3600.0 * h + 60.0 * m + s + ns * 1e-9, 0, true);
}

cell* push(uint32_t word, double time) {
    cell* c = stack::push_slot();
    *c = cell{T_date, word, 0, 0};
    float_::set(c, time);
    return c;
}

cell* append_to_block(node_id block, uint32_t word, double time) {
    cell* c = series::append_unset_cell(block);
    *c = cell{T_date, word, 0, 0};
    float_::set(c, time);
    return c;
}

namespace {

// [d] moved to day count [days], its zone, time and flag kept.
void set_days(cell* d, int64_t days) { make_from_days(d, days, time_of(d), d->w1 & ZONE_MASK, has_time(d)); }

} // namespace

void set_week(cell* d, int32_t week) {
    int64_t w1 = iso_week_one(year_of(d));
    set_days(d, w1 + 7 * (int64_t(week) - 1));
}

void set_weekday(cell* d, int32_t weekday) {
    int64_t days = days_of(d);
    set_days(d, days - (weekday_of(days) - 1) + (int64_t(weekday) - 1));
}

void set_yearday(cell* d, int32_t yearday) { set_days(d, date_to_days(year_of(d), 1, 1) + int64_t(yearday) - 1); }

int32_t isoweek(const cell* d) {
    int64_t year = year_of(d), days = days_of(d);
    int64_t w1 = iso_week_one(year);
    if (days < w1) {
        int32_t j = weekday_of(date_to_days(year, 1, 1));
        if (j == 5) return 53;
        if (j == 6) return leap_year_q(year - 1) ? 53 : 52;
        return 52;
    }
    if (days >= iso_week_one(year + 1)) return 1;
    return int32_t((days - w1) / 7 + 1);
}

namespace {

// The week counted from Sunday, week 1 holding 1 January.
int32_t sunday_week(const cell* d) {
    int64_t jan1 = date_to_days(year_of(d), 1, 1);
    int64_t e = floor_mod(jan1 + 3, 7);
    int64_t yearday = days_of(d) - jan1 + 1;
    return yearday > 7 - e ? int32_t((yearday + e - 1) / 7 + 1) : 1;
}

double local_time(const cell* d) { return time_of(d) + zone_seconds(d->w1 & ZONE_MASK); }

cell zone_value(const cell* d) {
    if (!has_time(d)) return none_value;
    return float_::make_value(double(zone_seconds(d->w1 & ZONE_MASK)), T_time);
}

} // namespace

cell* get_field(const cell* d, int32_t index, cell* out) {
    double local = local_time(d);
    cell r;
    switch (index) {
    case F_DATE: r = cell{T_date, d->w1 & ~(HAS_TIME | ZONE_MASK), 0, 0}; break;
    case F_YEAR: r = integer::make_value(year_of(d)); break;
    case F_MONTH: r = integer::make_value(month_of(d)); break;
    case F_DAY: r = integer::make_value(day_of(d)); break;
    case F_ZONE:
    case F_TIMEZONE: r = zone_value(d); break;
    case F_TIME: r = has_time(d) ? float_::make_value(local, T_time) : none_value; break;
    case F_HOUR: r = integer::make_value(int32_t(std::floor(local / 3600.0))); break;
    case F_MINUTE: r = integer::make_value(int32_t(std::floor(std::fmod(local, 3600.0) / 60.0))); break;
    case F_SECOND: r = float_::make_value(std::fmod(local, 60.0)); break;
    case F_WEEKDAY: r = integer::make_value(weekday_of(days_of(d))); break;
    case F_YEARDAY: r = integer::make_value(int32_t(days_of(d) - date_to_days(year_of(d), 1, 1) + 1)); break;
    case F_WEEK: r = integer::make_value(sunday_week(d)); break;
    case F_ISOWEEK: r = integer::make_value(isoweek(d)); break;
    default: {
        cell i = integer::make_value(index);
        error::raise(error::cat_script, error::script_out_of_range, &i);
    }
    }
    *out = r;
    return out;
}

int64_t to_epoch_seconds(const cell* d) {
    return (days_of(d) - EPOCH_DAYS) * 86400 + int64_t(std::floor(time_of(d) + 0.5));
}

double difference(const cell* a, const cell* b) {
    return double(days_of(a) - days_of(b)) * DAY_SECONDS + time_of(a) - time_of(b);
}

double instant_of(const cell* d) { return double(days_of(d)) * DAY_SECONDS + time_of(d); }

int32_t accessor_index(const cell* w) {
    if (!(w->type() == T_word || w->type() == T_lit_word || w->type() == T_get_word)) return 0;
    uint32_t s = symbol::resolve(w->w2);
    const uint32_t names[] = {words::sym.date,    words::sym.year,    words::sym.month,    words::sym.day,
                              words::sym.zone,    words::sym.time,    words::sym.hour,     words::sym.minute,
                              words::sym.second,  words::sym.weekday, words::sym.yearday,  words::sym.timezone,
                              words::sym.week,    words::sym.isoweek};
    for (int32_t i = 0; i < 14; i++) {
        if (names[i] && symbol::resolve(names[i]) == s) return i + 1;
    }
    if (words::sym.julian && symbol::resolve(words::sym.julian) == s) return F_YEARDAY;
    return 0;
}

// }==
// {== Setters of paths

namespace {

// The zone bits that zone value [v] gives: integer! hours or a time! (modulo a day); hours
// beyond 15 or another type raise invalid-arg.
uint32_t zone_of_value(const cell* v) {
    int32_t minutes;
    if (v->type() == T_integer) {
        int32_t h = integer::get(v);
        if (h < -15 || h > 15) invalid_arg(v);
        minutes = h * 60;
    } else if (v->type() == T_time) {
        double s = std::fmod(float_::get(v), DAY_SECONDS);
        if (!std::isfinite(s)) invalid_arg(v);
        minutes = int32_t(std::trunc(s / 60.0));
    } else {
        invalid_arg(v);
    }
    uint32_t zone;
    if (!zone_bits(minutes, zone)) invalid_arg(v);
    return zone;
}

int32_t need_integer(const cell* v) {
    if (v->type() != T_integer) invalid_arg(v);
    return integer::get(v);
}

double need_number(const cell* v) {
    if (v->type() == T_integer) return integer::get(v);
    if (v->type() != T_float_) invalid_arg(v);
    return float_::get(v);
}

// [d] with the local time changed to [local]: has-time set, normalised.
void set_local(cell* d, double local) {
    if (!std::isfinite(local)) type_limit();
    uint32_t zone = d->w1 & ZONE_MASK;
    make_from_days(d, days_of(d), local - zone_seconds(zone), zone, true);
}

// The month setter: months outside 1-12 move by whole years.
void set_month(cell* d, int32_t n) {
    int64_t years = floor_div(int64_t(n) - 1, 12);
    int32_t month = int32_t(floor_mod(int64_t(n) - 1, 12) + 1);
    int64_t year = year_of(d) + years;
    if (year < MIN_YEAR || year > MAX_YEAR) type_limit();
    set_days(d, date_to_days(year, month, day_of(d)));
}

void set_field(cell* d, int32_t index, const cell* v) {
    double local = local_time(d);
    switch (index) {
    case F_DATE:
        if (v->type() != T_date) invalid_arg(v);
        return set_days(d, days_of(v));
    case F_YEAR: {
        int64_t year = need_integer(v);
        if (year < MIN_YEAR || year > MAX_YEAR) type_limit();
        return set_days(d, date_to_days(year, month_of(d), day_of(d)));
    }
    case F_MONTH: return set_month(d, need_integer(v));
    case F_DAY: return set_days(d, date_to_days(year_of(d), month_of(d), 1) - 1 + need_integer(v));
    case F_ZONE: {
        uint32_t zone = zone_of_value(v);
        double keep = has_time(d) ? local : 0.0;
        make_from_days(d, days_of(d), keep - zone_seconds(zone), zone, true);
        return;
    }
    case F_TIMEZONE: return (void)make_from_days(d, days_of(d), time_of(d), zone_of_value(v), true);
    case F_TIME:
        if (v->type() == T_none) return (void)make_from_days(d, days_of(d), 0.0, 0, false);
        if (v->type() != T_time) invalid_arg(v);
        if (!std::isfinite(float_::get(v))) invalid_arg(v);
        return (void)make_from_days(d, days_of(d), float_::get(v), 0, true);
    case F_HOUR: return set_local(d, local - std::floor(local / 3600.0) * 3600.0 + need_number(v) * 3600.0);
    case F_MINUTE: {
        double minutes = std::floor(std::fmod(local, 3600.0) / 60.0);
        return set_local(d, local + (need_number(v) - minutes) * 60.0);
    }
    case F_SECOND: return set_local(d, local - std::fmod(local, 60.0) + need_number(v));
    case F_WEEKDAY: return set_weekday(d, need_integer(v));
    case F_YEARDAY: return set_yearday(d, need_integer(v));
    case F_WEEK:
    case F_ISOWEEK: return set_week(d, need_integer(v));
    default: break;
    }
}

// }==
// {== Building from a block

// The parts a block spec gives, by the state machine's slots.
struct parts {
    int32_t a = 0, month = 0, c = 0, hour = 0, minute = 0, second = 0, zone_hours = 0, zone_minutes = 0;
    double fsecond = 0.0, time = 0.0, zone = 0.0;
    bool float_second = false, zone_is_time = false;
    int state = 0, count = 0;
};

// One value fed to the machine; false for a missing transition.
bool feed(parts& p, const cell* v) {
    uint8_t t = v->type();
    int32_t n = t == T_integer ? integer::get(v) : 0;
    double f = t == T_integer ? 0.0 : float_::get(v);
    auto go = [&p](int next) { return p.state = next, true; };
    if (t == T_integer) {
        switch (p.state) {
        case 0: p.a = n; return go(1);
        case 1: p.month = n; return go(2);
        case 2: p.c = n; return go(3);
        case 3: p.hour = n; return go(8);
        case 4: p.zone_hours = n; return go(6);
        case 6: p.zone_minutes = n; return go(7);
        case 8: p.minute = n; return go(9);
        case 9: p.second = n; return go(10);
        case 10: p.zone_hours = n; return go(12);
        case 12: p.zone_minutes = n; return go(13);
        default: return false;
        }
    }
    if (t == T_time) {
        switch (p.state) {
        case 3: p.time = f; return go(4);
        case 4: p.zone = f, p.zone_is_time = true; return go(5);
        case 10: p.zone = f, p.zone_is_time = true; return go(11);
        default: return false;
        }
    }
    if (t == T_float_ && p.state == 9) {
        p.fsecond = f, p.float_second = true;
        return go(10);
    }
    return false;
}

cell* from_block(cell* out, const cell* spec, bool strict) {
    const series_buffer* b = memory::buffer_of(spec->w2);
    const cell* v = reinterpret_cast<const cell*>(b->head) + spec->w1;
    const cell* end = reinterpret_cast<const cell*>(b->tail);
    parts p;
    for (; v < end; v++, p.count++) {
        if (!feed(p, v)) bad_to_arg(spec);
    }
    if (p.count < 3) bad_to_arg(spec);
    int64_t year = p.c, day = p.a;
    if (p.a > 99 && p.c < p.a) std::swap(year, day);
    bool separate = p.state >= 8;
    double time = separate ? p.hour * 3600.0 + p.minute * 60.0 + (p.float_second ? p.fsecond : p.second) : p.time;
    if (!std::isfinite(time)) bad_to_arg(spec);
    // The zone, as minutes east of UTC.
    int32_t zone_minutes;
    if (p.zone_is_time) {
        if (!std::isfinite(p.zone) || std::fabs(p.zone) >= 16 * 3600.0) bad_to_arg(spec);
        zone_minutes = int32_t(std::trunc(p.zone / 60.0));
    } else {
        if (p.zone_hours < -15 || p.zone_hours > 15 || p.zone_minutes < 0 || p.zone_minutes > 59) bad_to_arg(spec);
        int32_t m = p.zone_hours * 60;
        zone_minutes = p.zone_hours < 0 ? m - p.zone_minutes : m + p.zone_minutes;
    }
    // The month with year carry, then day 0 of that month plus the day.
    int64_t years = floor_div(int64_t(p.month) - 1, 12);
    int32_t month = int32_t(floor_mod(int64_t(p.month) - 1, 12) + 1);
    if (std::llabs(year) > 1000000 || std::llabs(day) > 100000000) bad_to_arg(spec);
    year += years;
    if (year < MIN_YEAR || year > MAX_YEAR) type_limit();
    int64_t days = date_to_days(year, month, 1) - 1 + day;
    bool with_time = p.count > 3;
    if (strict) {
        int64_t y;
        int32_t m, d;
        days_to_date(days, y, m, d);
        bool hms_ok = !separate || (p.hour >= 0 && p.hour <= 23 && p.minute >= 0 && p.minute <= 59);
        if (y != (p.a > 99 && p.c < p.a ? p.a : p.c) || m != p.month || d != day || !hms_ok) bad_to_arg(spec);
    }
    uint32_t zone = 0;
    if (!zone_bits(zone_minutes, zone)) bad_to_arg(spec);
    return make_from_days(out, days, time - zone_seconds(zone), zone, with_time);
}

// }==

} // namespace

// }==
// {== Action entries

namespace {

cell* make_or_to(cell* proto, cell* spec, bool strict) {
    switch (spec->type()) {
    case T_date: *proto = *spec; return proto;
    case T_integer: {
        int64_t n = integer::get(spec);
        return make_from_days(proto, EPOCH_DAYS + floor_div(n, 86400), double(floor_mod(n, 86400)), 0, true);
    }
    case T_block:
    case T_paren:
    case T_hash: return from_block(proto, spec, strict);
    default: bad_to_arg(spec);
    }
}

cell* make(cell* proto, cell* spec, uint8_t) { return make_or_to(proto, spec, true); }
cell* to(cell* proto, cell* spec, uint8_t) { return make_or_to(proto, spec, false); }

cell* random(cell* value, bool seed, bool secure, bool) {
    if (seed) {
        zyl::random::seed(static_cast<int32_t>(value->w1 ^ value->w2 ^ value->w3));
        return &(*value = unset_value);
    }
    int64_t days = zyl::random::in_range(secure, static_cast<int32_t>(days_of(value)));
    double t = has_time(value) ? std::floor(std::fabs(float_::random_draw(DAY_SECONDS, secure))) : 0.0;
    if (t >= DAY_SECONDS) t = 0.0;
    uint32_t zone = value->w1 & ZONE_MASK;
    return make_from_days(value, days, t - zone_seconds(zone), zone, has_time(value));
}

constexpr const char* MONTH_NAMES[12] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};

[[noreturn]] void invalid_months() { error::raise(error::cat_script, error::script_invalid_months); }

// Appends the first three characters of month [m]'s name: from system/locale/months once
// `system` holds it, else the English names. Returns the characters appended.
int32_t append_month(cell* buffer, int32_t m) {
    const cell* list = system_fields::get(system_fields::LOCALE_MONTHS);
    if (!list) {
        string::concatenate_literal(buffer, {MONTH_NAMES[m - 1], 3});
        return 3;
    }
    if (list->type() != T_block) invalid_months();
    const series_buffer* b = memory::buffer_of(list->w2);
    const cell* first = reinterpret_cast<const cell*>(b->head) + list->w1;
    const cell* end = reinterpret_cast<const cell*>(b->tail);
    if (end - first < m || first[m - 1].type() != T_string) invalid_months();
    cell name = first[m - 1]; // kept alive by system/locale
    return int32_t(string::concatenate(buffer, &name, 3, 0, string::COPY_APPEND));
}

// Two decimal digits of [n] at [out].
char* two_digits(char* out, int32_t n) {
    out[0] = char('0' + n / 10);
    out[1] = char('0' + n % 10);
    return out + 2;
}

// d-Mon-yyyy[/time[+hh:mm]]; negative years use "/" and a leading "-".
int32_t form_value(const cell* value, cell* buffer, int32_t part) {
    // A copy: appending allocates, and [value] may lie in a block that moves.
    const cell copy = *value;
    const cell* d = &copy;
    char text[40];
    int32_t year = year_of(d);
    char sep = year < 0 ? '/' : '-';
    int n = std::snprintf(text, sizeof text, "%d%c", day_of(d), sep);
    string::concatenate_literal(buffer, {text, size_t(n)});
    part -= n + append_month(buffer, month_of(d));
    n = std::snprintf(text, sizeof text, "%c%s%04d", sep, year < 0 ? "-" : "", year < 0 ? -year : year);
    string::concatenate_literal(buffer, {text, size_t(n)});
    part -= n;
    if (!has_time(d)) return part;
    string::concatenate_literal(buffer, "/");
    part = time::form_value(local_time(d), buffer, part - 1);
    uint32_t zone = d->w1 & ZONE_MASK;
    if (!zone) return part;
    char* p = text;
    *p++ = (zone & ZONE_NEGATIVE) ? '-' : '+';
    p = two_digits(p, int32_t((zone >> 2) & 15));
    *p++ = ':';
    p = two_digits(p, int32_t(zone & 3) * 15);
    string::concatenate_literal(buffer, {text, size_t(p - text)});
    return part - int32_t(p - text);
}

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) { return form_value(value, buffer, part); }

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell*, int32_t part, int32_t) {
    return form_value(value, buffer, part);
}

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    int32_t index = element->type() == T_integer ? integer::get(element) : accessor_index(element);
    if (index < 1 || index > F_ISOWEEK) {
        error::raise(error::cat_script, error::script_invalid_path, step.path ? step.path : &none_value, element);
    }
    if (!set) return get_field(value, index, value);
    set_field(value, index, set);
    return const_cast<cell*>(set);
}

cell* pick(cell* value, int32_t, const cell* at) {
    int32_t index = at->type() == T_integer ? integer::get(at) : accessor_index(at);
    if (index < 1 || index > F_ISOWEEK) error::raise(error::cat_script, error::script_out_of_range, at);
    return get_field(value, index, value);
}

// Dates order by instant (day count times a day plus the stored time), so dates in different
// zones compare as the moments they name; sameness stays bit for bit.
int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_date) return -2;
    if (op == 9) return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3 ? 0 : 1;
    double ta = double(days_of(a) - days_of(b)) * DAY_SECONDS + time_of(a), tb = time_of(b);
    if (op <= 2 || op == 12) return float_::almost_equal(ta, tb) ? 0 : 1;
    if (ta < tb) return -1;
    return ta > tb ? 1 : (ta == tb ? 0 : 1);
}

[[noreturn]] void not_related(const cell& action) {
    cell t = datatype::make_value(T_date);
    const cell* name = action.type() == T_word ? &action : &none_value;
    error::raise(error::cat_script, error::script_not_related, &t, name);
}

[[noreturn]] void invalid_type(uint8_t type) {
    cell t = datatype::make_value(type);
    error::raise(error::cat_script, error::script_invalid_type, &t);
}

// date + integer! days or time! seconds; date - those, or - date for a count of days.
void do_math(bool add) {
    cell* d = stack::arg(0);
    const cell* v = stack::arg(1);
    int64_t days = days_of(d);
    double t = time_of(d);
    bool with_time = has_time(d);
    double sign = add ? 1.0 : -1.0;
    switch (v->type()) {
    case T_integer: days += add ? integer::get(v) : -int64_t(integer::get(v)); break;
    case T_time:
        t += sign * float_::get(v);
        if (!std::isfinite(t)) type_limit();
        with_time = true;
        break;
    case T_date:
        if (add) not_related(words::loaded.add);
        *d = integer::make_value(int32_t(days - days_of(v)));
        return;
    default: invalid_type(v->type());
    }
    make_from_days(d, days, t, d->w1 & ZONE_MASK, with_time);
}

void add() { do_math(true); }
void subtract() { do_math(false); }

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_random - 1] = entry(&random);
    e[A_to - 1] = entry(&to);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_eval_path - 1] = entry(&eval_path);
    e[A_compare - 1] = entry(&compare);
    e[A_add - 1] = entry(&add);
    e[A_subtract - 1] = entry(&subtract);
    e[A_pick - 1] = entry(&pick);
    datatype::register_type(ACTION_SLOTS + 3, T_date, 0, "date!", e);
}

// }==

} // namespace zyl::date
