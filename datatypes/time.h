// datatypes/time.h: time!, a duration or time of day held as a signed number of seconds.
//
// Cell: header type 43; words 2 and 3 the seconds as a double, where float! keeps its value
// (time! is float!'s child and shares its compare, absolute, negate, remainder, random).
// There is no range limit: hours may pass 23 and the value may be negative; a negative time
// forms with one "-" in front of the whole ("-1:30:00" is minus ninety minutes).
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::time {

constexpr double SECONDS_PER_HOUR = 3600.0;
constexpr double SECONDS_PER_MINUTE = 60.0;
constexpr double ZERO_SECONDS = 1e-06; // a seconds field below it forms as "00"

// The fields that paths and pick reach, by number.
enum field : int32_t { FIELD_HOUR = 1, FIELD_MINUTE = 2, FIELD_SECOND = 3 };

// Makes [c] the time of [seconds]; returns [c].
cell* make_at(double seconds, cell* c);
cell* push(double seconds);
// Appends a time to block series [block]; may allocate.
cell* make_in(node_id block, double seconds);

// The hour field of [seconds]: truncated toward zero, so negative times read negative hours.
int32_t get_hours(double seconds);
// The minute field of [seconds]: 0 to 59 whatever the sign.
int32_t get_minutes(double seconds);

// Appends the text of [seconds] (h:mm:ss[.fraction]) to string [buffer]; returns [part]
// less what it wrote.
int32_t form_value(double seconds, const cell* buffer, int32_t part);

// Field [f] of time [t] into [out] (integer! hour and minute, float! second); a number
// outside 1 to 3 raises script out-of-range.
cell* get_field(const cell* t, int32_t f, cell* out);
// Sets field [f] of time [t] to [value], keeping the other two fields; a value of the wrong
// type raises script invalid-arg, a number outside 1 to 3 out-of-range.
void set_field(cell* t, int32_t f, const cell* value);

// The seconds of the time written in text value [text] ([sign]h:m[:s[.f]] or [sign]m:s.f);
// [ok] is false for any other text. Stands in for loading the text until the lexer exists.
double from_text(const cell* text, bool& ok);

void init();

} // namespace zyl::time
