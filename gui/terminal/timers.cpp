// gui/terminal/timers.cpp: the timer table. Few timers exist at a time, so it is a plain array
// searched linearly; the snapshot array is kept between ticks so that a tick allocates nothing.
#include "gui/terminal/timers.h"

#include <climits>
#include <cmath>
#include <ctime>
#include <vector>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "runtime/error.h"

namespace zyl::tui {

namespace {

// {== Internal functions

struct timer_record {
    uint64_t id;     // unique while the program runs: a snapshot's key
    int64_t due;     // ms of the monotonic clock
    int32_t interval;
    cell owner;      // the widget's handle
};

std::vector<timer_record> timers;  // in creation order
std::vector<uint64_t> snapshot;    // reused by every tick
uint64_t next_id = 1;

timer_record* find_id(uint64_t id) {
    for (auto& t : timers)
        if (t.id == id) return &t;
    return nullptr;
}

// }==

} // namespace

int64_t monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int32_t rate_interval(const cell* rate) {
    double ms = -1;
    if (rate->type() == T_none) return 0;
    if (rate->type() == T_integer && integer::get(rate) > 0) ms = double(1000 / integer::get(rate));
    else if (rate->type() == T_time && float_::get(rate) > 0.0) ms = std::trunc(float_::get(rate) * 1000.0);
    if (ms < 0 || std::isnan(ms)) error::raise(error::cat_script, error::script_invalid_facet_type, rate);
    // Under a millisecond would spin the loop; beyond 2^31-1 would overflow.
    return ms < 1 ? 1 : ms > INT32_MAX ? INT32_MAX : int32_t(ms);
}

void set_rate(widget* w, const cell* rate, int64_t now) {
    int32_t interval = rate_interval(rate);
    if (!interval) return remove_timer(w);
    timer_record t{next_id++, now + interval, interval, {}};
    handle_of(w, &t.owner);
    timers.push_back(t);
}

void remove_timer(widget* w) {
    cell h;
    handle_of(w, &h);
    for (size_t i = timers.size(); i-- > 0;) {
        const cell& o = timers[i].owner;
        if (o.w2 == h.w2 && o.header == h.header) {
            timers.erase(timers.begin() + ptrdiff_t(i));
            return;
        }
    }
}

void clear_timers() { timers.clear(); }
uint32_t timer_count() { return uint32_t(timers.size()); }

bool tick_timers(int64_t now) {
    snapshot.clear();
    for (const auto& t : timers)
        if (t.due <= now) snapshot.push_back(t.id);
    bool fired = false;
    for (uint64_t id : snapshot) {
        timer_record* t = find_id(id);
        if (!t) continue; // removed by an earlier callback
        t->due = now - t->due >= t->interval ? now + t->interval : t->due + t->interval;
        cell owner = t->owner; // the callback may move the array
        widget* w = resolve(&owner);
        fired = true;
        if (w && timer_fired) timer_fired(w);
    }
    return fired;
}

int64_t next_due() {
    int64_t d = INT64_MAX;
    for (const auto& t : timers)
        if (t.due < d) d = t.due;
    return d;
}

} // namespace zyl::tui
