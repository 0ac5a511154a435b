// runtime/platform/os.h: process start-up of input and output, the clock, sleeping, the
// environment and the current folder.
//
// Text crosses this boundary as NUL-terminated UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::os {

// Prepares console output; a write to a closed pipe, or past the file-size limit, then fails
// with an error instead of ending the process with SIGPIPE or SIGXFSZ.
void init_io();

// The current folder as an absolute path, [length] set to its bytes; the text lives in a
// buffer reused by the next call. nullptr (length 0) when the folder is gone or unreadable.
const char* get_current_dir(size_t* length);
// Makes [path] the current folder; false when refused.
bool set_current_dir(const char* path);

// The value of the variable [name], valid until the environment next changes; nullptr when
// it is not set.
const char* get_env(const char* name);
// Sets [name] to [value], or removes it when [value] is null; false for a name that is empty
// or holds "=", or when memory runs out.
bool set_env(const char* name, const char* value);

// Sleeps [seconds], at least 1 ms (also for negative and NaN durations); a signal does not cut
// it short.
void sleep(double seconds);

// Seconds since midnight UTC; with [precise] including the fraction, in steps of 100 ns.
double utc_time_of_day(bool precise);
// Today's date packed as year << 17 | month << 12 | day << 7 | zone, in UTC with [utc], else
// in the local zone. Zone bits: 6 the sign (west of UTC), 5-2 hours, 1-0 quarter hours.
uint32_t time_now(bool utc);
// Nanoseconds on a clock that never goes back (not wall time): for measuring intervals.
int64_t monotonic_ns();

} // namespace zyl::os
