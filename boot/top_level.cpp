// boot/top_level.cpp: the frame around the boot sources' top level (top_level.h).
#include "boot/top_level.h"

#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/port.h"
#include "datatypes/symbol.h"
#include "eval/interp.h"
#include "library/predicates.h"
#include "library/routine_registry.h"

namespace zyl::top_level {

namespace {

// {== Internal functions

// The object in field [name] of object context [ctx], or 0.
node_id object_field(node_id ctx, const char* name) {
    int32_t i = context::find_word(ctx, symbol::make(name), true);
    if (i < 0) return 0;
    const cell* v = context::value_at(ctx, uint32_t(i));
    return object::is_object_type(v->type()) ? object::context_of(v) : 0;
}

// Stores [value] into field [name] of [ctx], when the field exists; no hook sees it.
void store(node_id ctx, const char* name, const cell& value) {
    if (!ctx) return;
    int32_t i = context::find_word(ctx, symbol::make(name), true);
    if (i >= 0) *context::value_at(ctx, uint32_t(i)) = value;
}

// The run-time made the catalogue from its error table and the port prototypes before any
// source ran; the system object's fields now hold those same objects.
void link_system() {
    const cell* sys = context::global_value(symbol::make("system"));
    if (!sys || sys->type() != T_object) return;
    node_id s = object::context_of(sys);
    store(s, "schemes", port::sys.schemes);
    store(object_field(s, "catalog"), "errors", error::sys.errors);
    node_id standard = object_field(s, "standard");
    store(standard, "error", error::sys.prototype);
    store(standard, "port", port::sys.port);
    store(standard, "scheme", port::sys.scheme);
    store(standard, "url-parts", port::sys.url_parts);
    error::link_system(nullptr, nullptr, object_field(s, "state"));
}

// The empty handle that no source literal can spell.
void set_null_handle() {
    cell h;
    handle::make_at(&h, 0, handle::KIND_NONE);
    if (cell* slot = context::global_value(symbol::make("null-handle"))) *slot = h;
}

bool saved_compiled;

// }==

} // namespace

void begin() {
    predicates::init();
    routine_registry::install_maker();
    function::making_library = true;
    saved_compiled = interp::is.compiled;
    interp::is.compiled = true;
    interp::is.events = false;
}

void finish() {
    function::making_library = false;
    interp::is.compiled = saved_compiled;
    interp::is.events = interp::is.tracing && !interp::is.compiled;
    set_null_handle();
    link_system();
}

} // namespace zyl::top_level
