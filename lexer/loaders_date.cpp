// lexer/loaders_date.cpp: the date loader: compact ISO (20000101T1200Z), ISO week
// (2000-W01-1), ordinal (2000-032), d-m-y and y-m-d with "-" or "/" and numeric or named
// months, each optionally followed by a time and a zone.
#include <cmath>

#include "datatypes/date.h"
#include "lexer/internal.h"
#include "lexer/loaders.h"

namespace zyl::lexer {

namespace {

// {== Reading pieces of the token

struct reader {
    const uint8_t* p;
    const uint8_t* end;

    bool at(char c) const { return p < end && *p == c; }
    bool take(char c) { return at(c) ? (p++, true) : false; }
    bool digit() const { return p < end && *p >= '0' && *p <= '9'; }
    // Up to [max] digits into [v]; answers the count (0 when none).
    int number(int64_t& v, int max) {
        int n = 0;
        for (v = 0; digit() && n < max; n++) v = v * 10 + (*p++ - '0');
        return n;
    }
};

constexpr const char* MONTHS[12] = {"january", "february", "march",     "april",   "may",      "june",
                                    "july",    "august",   "september", "october", "november", "december"};

// A month name of 3 to 9 letters that begins one of the twelve names, any case; 0 for none.
int32_t month_name(reader& r) {
    const uint8_t* start = r.p;
    while (r.p < r.end && ((*r.p | 0x20) >= 'a' && (*r.p | 0x20) <= 'z')) r.p++;
    size_t n = size_t(r.p - start);
    if (n < 3 || n > 9) return 0;
    for (int32_t m = 0; m < 12; m++) {
        size_t i = 0;
        while (i < n && MONTHS[m][i] && (start[i] | 0x20) == MONTHS[m][i]) i++;
        if (i == n) return m + 1;
    }
    return 0;
}

// The parts a date text gives.
struct parts {
    int64_t year = 0;
    int32_t month = 1, day = 1;
    int64_t days = 0;    // the day count, for the week and ordinal forms
    bool by_days = false;
    bool has_time = false;
    double time = 0.0;
    int32_t zone = 0;    // minutes east of UTC
};

// A zone: Z, or a sign and hh[:mm] or hhmm.
bool read_zone(reader& r, parts& d) {
    if (r.take('Z')) return true;
    if (!r.at('+') && !r.at('-')) return true;
    bool negative = *r.p++ == '-';
    int64_t h, m = 0;
    int n = r.number(h, 4);
    if (n == 4) {
        m = h % 100;
        h /= 100;
    } else if (n == 0 || n > 2 || (r.take(':') && r.number(m, 2) != 2)) {
        return false;
    }
    if (h > 15 || m > 59) return false;
    d.zone = int32_t(negative ? -(h * 60 + m) : h * 60 + m);
    return true;
}

// Seconds with an optional fraction after them.
bool read_seconds(reader& r, double& s) {
    int64_t whole;
    if (r.number(whole, 2) == 0) return false;
    s = double(whole);
    if (!r.take('.') && !r.take(',')) return true;
    double scale = 0.1;
    if (!r.digit()) return false;
    for (; r.digit(); scale /= 10) s += (*r.p++ - '0') * scale;
    return s < 60.0;
}

// hh:mm[:ss[.fff]] then a zone.
bool read_time(reader& r, parts& d) {
    int64_t h, m;
    double s = 0.0;
    if (r.number(h, 2) == 0 || !r.take(':') || r.number(m, 2) == 0) return false;
    if (r.take(':') && !read_seconds(r, s)) return false;
    if (h > 23 || m > 59 || s >= 60.0) return false;
    d.has_time = true;
    d.time = double(h) * 3600.0 + double(m) * 60.0 + s;
    return read_zone(r, d);
}

// The compact ISO time after the T: hhmm[ss[.fff]] then a zone.
bool read_compact_time(reader& r, parts& d) {
    int64_t h, m, s = 0;
    if (r.number(h, 2) != 2 || r.number(m, 2) != 2) return false;
    double seconds = 0.0;
    if (r.digit()) {
        if (!read_seconds(r, seconds)) return false;
        s = 0;
    }
    if (h > 23 || m > 59 || seconds >= 60.0) return false;
    d.has_time = true;
    d.time = double(h) * 3600.0 + double(m) * 60.0 + seconds + double(s);
    return read_zone(r, d);
}

// The year of a text of [digits] digits: one or two digits name 1950 to 2049.
int64_t full_year(int64_t y, int digits, bool negative) {
    if (digits <= 2 && !negative) return y > 49 ? 1900 + y : 2000 + y;
    return negative ? -y : y;
}

// The week form after "yyyy-": Www[-d].
bool read_week(reader& r, parts& d) {
    int64_t w, day = 1;
    if (r.number(w, 2) != 2 || w < 1 || w > 53) return false;
    if (r.take('-') && (r.number(day, 1) != 1 || day < 1 || day > 7)) return false;
    d.by_days = true;
    d.days = date::iso_week_one(d.year) + 7 * (w - 1) + (day - 1);
    return true;
}

// The date part of the token.
bool read_date(reader& r, parts& d) {
    bool negative = r.take('-');
    int64_t first;
    int n1 = r.number(first, 9);
    if (n1 == 0) return false;
    if (n1 == 8 && !negative && r.at('T')) {
        d.year = first / 10000;
        d.month = int32_t(first / 100 % 100);
        d.day = int32_t(first % 100);
        r.p++;
        return read_compact_time(r, d);
    }
    if (!r.at('-') && !r.at('/')) return false;
    char sep = char(*r.p++);
    if (sep == '-' && (r.at('W') || r.at('w'))) {
        r.p++;
        if (n1 > 4) return false;
        d.year = negative ? -first : first;
        return read_week(r, d);
    }
    const uint8_t* month_start = r.p;
    int64_t month;
    int nm = r.number(month, 3);
    if (nm == 3 && sep == '-' && n1 == 4 && (r.p == r.end || r.at('/') || r.at('T'))) {
        // yyyy-ddd: the day of the year.
        d.year = negative ? -first : first;
        if (month < 1 || month > (date::leap_year_q(d.year) ? 366 : 365)) return false;
        d.by_days = true;
        d.days = date::date_to_days(d.year, 1, 1) + month - 1;
        return true;
    }
    if (nm == 0) {
        r.p = month_start;
        month = month_name(r);
        if (month == 0) return false;
    } else if (nm > 2) {
        return false;
    }
    if (!r.take(sep)) return false;
    bool last_negative = r.take('-');
    int64_t last;
    int nl = r.number(last, 5);
    if (nl == 0 || nl > 4) return false;
    if (!negative && first > 99 && !last_negative && last <= 31) {
        d.year = first, d.day = int32_t(last);
    } else {
        if (negative || n1 > 2) return false;
        d.day = int32_t(first);
        d.year = full_year(last, nl, last_negative);
    }
    d.month = int32_t(month);
    return true;
}

// }==

} // namespace

bool read_date_text(const uint8_t* text, size_t n, cell* out) {
    reader r{text, text + n};
    parts d;
    if (!read_date(r, d)) return false;
    if (!d.has_time && (r.take('/') || r.take('T')) && !read_time(r, d)) return false;
    if (r.p != r.end) return false;
    if (d.by_days) {
        int64_t y;
        date::days_to_date(d.days, y, d.month, d.day);
        d.year = y;
    }
    if (d.year < -9999 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1 ||
        d.day > date::month_days(d.year, d.month))
        return false;
    date::make_at(out, d.year, d.month, d.day, d.time, d.zone, d.has_time);
    return true;
}

void load_date(state& st, size_t start, size_t end, uint32_t, int mode) {
    cell v;
    if (!read_date_text(st.base + start, end - start, &v)) throw_error(st, start, T_date);
    if (mode) push_loaded(st, v);
}

} // namespace zyl::lexer
