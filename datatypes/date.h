// datatypes/date.h: date!, a calendar day with an optional time of day and zone, in one cell.
//
// Cell: header type 47; word 1 the date word; words 2-3 the time in seconds as a double.
// Date word, from the top bit:
//   bits 31-17  year, signed (an arithmetic shift right by 17 reads it back)
//   bit  16     has-time: the date carries a time, and so a zone
//   bits 15-12  month 1-12
//   bits 11-7   day 1-31
//   bit  6      zone sign (west of UTC)
//   bits 5-2    zone hours 0-15
//   bits 1-0    zone quarter hours 0-3
// Invariant: the day fields hold the local calendar day and the stored time is the local
// time less the zone offset, so that local time = stored time + offset lies in 0..86400.
// Without has-time the time is 0 and the zone bits are clear. Years lie in -16384..16383;
// every operation that would leave that range raises type-limit instead of wrapping.
//
// Day counts run continuously (1970-01-01 is day 719468) in 64-bit arithmetic with floored
// division, so negative years and weekdays come out right.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::date {

constexpr uint32_t HAS_TIME = 1u << 16;
constexpr uint32_t ZONE_MASK = 0x7F;
constexpr uint32_t ZONE_NEGATIVE = 0x40;
constexpr int64_t EPOCH_DAYS = 719468; // day count of 1 January 1970
constexpr double DAY_SECONDS = 86400.0;
constexpr int32_t MIN_YEAR = -16384, MAX_YEAR = 16383;

// Accessor indexes of get_field, pick and paths.
enum field : int32_t {
    F_DATE = 1, F_YEAR, F_MONTH, F_DAY, F_ZONE, F_TIME, F_HOUR, F_MINUTE, F_SECOND, F_WEEKDAY,
    F_YEARDAY, F_TIMEZONE, F_WEEK, F_ISOWEEK
};

// {== The day core

inline int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
inline int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

bool leap_year_q(int64_t year);
// Days of [month] (1-12) in [year].
int32_t month_days(int64_t year, int32_t month);
// The day count of [year]-[month]-[day]; a day beyond the month runs into the next ones.
int64_t date_to_days(int64_t year, int32_t month, int32_t day);
// The calendar day of day count [g].
void days_to_date(int64_t g, int64_t& year, int32_t& month, int32_t& day);
// 1 (Monday) to 7 (Sunday).
inline int32_t weekday_of(int64_t days) { return int32_t(floor_mod(days + 2, 7) + 1); }
// The day count of the Monday of ISO week 1 of [year].
int64_t iso_week_one(int64_t year);

// }==
// {== Cells

inline uint32_t word_of(const cell* d) { return d->w1; }
inline int32_t year_of(const cell* d) { return static_cast<int32_t>(d->w1) >> 17; }
inline int32_t month_of(const cell* d) { return int32_t((d->w1 >> 12) & 15); }
inline int32_t day_of(const cell* d) { return int32_t((d->w1 >> 7) & 31); }
inline bool has_time(const cell* d) { return (d->w1 & HAS_TIME) != 0; }
double time_of(const cell* d);
// The zone offset of zone bits [zone] in seconds.
int32_t zone_seconds(uint32_t zone);
// The day count of [d]'s local day.
int64_t days_of(const cell* d);

// Makes [c] the date [year]-[month]-[day] (a day beyond the month runs on) with local time
// [time] in a zone of [zone_minutes] east of UTC (whole quarter hours are kept), or without a
// time when ![has_time]. Raises type-limit for a year out of range.
cell* make_at(cell* c, int64_t year, int32_t month, int32_t day, double time, int32_t zone_minutes,
              bool has_time);
// Makes [c] a UTC date with the time [h]:[m]:[s] and [ns] nanoseconds (file times).
cell* make_at_hms(cell* c, int64_t year, int32_t month, int32_t day, int32_t h, int32_t m, int32_t s,
                  int32_t ns);
// Makes [c] the date of local day count [days] and stored time [t] with zone bits [zone],
// normalised so that the local time lies in 0..86400.
cell* make_from_days(cell* c, int64_t days, double t, uint32_t zone, bool has_time);
// A date of [word] and [time] pushed, or appended to block series [block] (may allocate).
cell* push(uint32_t word, double time);
cell* append_to_block(node_id block, uint32_t word, double time);

// The loader setters: they change the day and keep zone, time and flag.
void set_week(cell* d, int32_t week);
void set_weekday(cell* d, int32_t weekday);
void set_yearday(cell* d, int32_t yearday);

// Accessor [index] of [d] into [out]: see enum field. An index outside 1..14 raises
// out-of-range.
cell* get_field(const cell* d, int32_t index, cell* out);
// The ISO week of [d].
int32_t isoweek(const cell* d);

// Seconds since 1970-01-01 UTC, the stored time rounded to a whole second.
int64_t to_epoch_seconds(const cell* d);
// (days1 - days2) * 86400 + time1 - time2: the seconds from [b] to [a].
double difference(const cell* a, const cell* b);
// The instant of [d]: its day count times 86400 plus its stored time (for hashing).
double instant_of(const cell* d);

// The accessor index of word [w] (julian reads as yearday), 0 for none.
int32_t accessor_index(const cell* w);

// }==

void init();

} // namespace zyl::date
