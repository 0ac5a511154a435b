// boot/top_level.h: the frame around the boot sources' top level: what holds while it runs
// and the links from the run-time to the system object that it builds.
#pragma once

namespace zyl::top_level {

// Before the first top-level expression: functions made from here on are the library's,
// the top level runs as compiled code (no tracer events, no interpreter frames), and
// `routine` is the boot maker of registry routines.
void begin();
// After the last top-level expression: ends what begin started, and points the run-time's
// own tables at the fields of `system` (the catalogue, the prototypes, the scheme list).
void finish();

} // namespace zyl::top_level
