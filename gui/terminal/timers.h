// gui/terminal/timers.h: the timers that faces' `rate` sets, kept by due time on the monotonic
// clock, so that typing neither speeds them nor a slow pass loses time.
//
// A timer names its widget by handle: a widget freed by a handler makes its timer name none,
// and a tick runs over a snapshot of the timers, skipping those removed meanwhile.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "gui/terminal/widget.h"

namespace zyl::tui {

// Milliseconds of the monotonic clock.
int64_t monotonic_ms();

// The interval in ms a face's `rate` asks for: integer n > 0 gives 1000 / n, a time above 0
// its seconds x 1000 truncated, each kept within 1 .. 2^31-1; none gives 0. Another value,
// 0 or a negative one included, raises invalid-facet-type with it.
int32_t rate_interval(const cell* rate);

// tui/set-rate: [rate] none removes [w]'s timer; else adds one first due [now] + interval.
void set_rate(widget* w, const cell* rate, int64_t now);
// tui/remove-timer: removes the last timer added for [w], if any.
void remove_timer(widget* w);
// Removes every timer.
void clear_timers();
uint32_t timer_count();

// Called with the widget of each timer that fires; the dispatcher sets it.
inline void (*timer_fired)(widget* w) = nullptr;

// Fires each timer due at [now], at most once; the next due time is the last one plus the
// interval, or [now] plus the interval when the timer is a whole interval late. Answers
// whether any fired.
bool tick_timers(int64_t now);
// The earliest due time, or INT64_MAX when there is no timer.
int64_t next_due();

} // namespace zyl::tui
