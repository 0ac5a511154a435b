// datatypes/port.h: port!, an object whose every series and port action is forwarded, by the
// action's name, to the function of that name in its actor object, which its scheme supplies.
//
// A port's fields, in order: spec, scheme, actor, awake, state, data, extra. Until the system
// object exists, the prototypes it would hold (standard/port, standard/scheme,
// standard/url-parts) and the list of schemes (pairs of a name word and a scheme object) are
// made here and kept by a collector hook.
#pragma once

#include "datatypes/cell.h"
#include "datatypes/registry.h"

namespace zyl::port {

struct system_links {
    cell port;      // system/standard/port
    cell scheme;    // system/standard/scheme
    cell url_parts; // system/standard/url-parts
    cell schemes;   // system/schemes: a block of name words and scheme objects
};
extern system_links sys;

// Makes the prototypes and the empty scheme list, and the hook that keeps them. Needs the
// symbol table and the evaluation stack. May allocate.
void init_system();
// Drops the links and the hook: for tests that free all memory afterwards.
void forget_system();
// Adds a scheme named [name] whose actor is [actor] (an object!, or a handle! of a native
// actor table) to the scheme list. May allocate.
void add_scheme(const char* name, const cell* actor);
// Adds a scheme named [name] served by the native actor table [table] (the entries of the
// action slots from append to write; a null entry raises invalid-actor): its actor is a
// handle! naming the table. A table is registered once however many schemes use it.
void add_native_scheme(const char* name, const action_fn* table);

// Registers port!; object! must be registered.
void init();

} // namespace zyl::port
