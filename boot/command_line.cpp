// boot/command_line.cpp: the command line into the system object (command_line.h).
#include "boot/command_line.h"

#include <cstring>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/unicode.h"
#include "services/sysinfo.h"

namespace zyl::runtime {

namespace {

// The slot of field [name] of the object in global `system`'s field [object], or null.
cell* system_field(const char* object, const char* name) {
    const cell* sys = context::global_value(symbol::make("system"));
    if (!sys || sys->type() != T_object) return nullptr;
    node_id s = object::context_of(sys);
    int32_t i = context::find_word(s, symbol::make(object), true);
    if (i < 0) return nullptr;
    const cell* o = context::value_at(s, uint32_t(i));
    if (o->type() != T_object) return nullptr;
    node_id ctx = object::context_of(o);
    int32_t j = context::find_word(ctx, symbol::make(name), true);
    return j < 0 ? nullptr : context::value_at(ctx, uint32_t(j));
}

// Arguments are bytes: a sequence that is not UTF-8 becomes U+FFFD rather than failing the start.
cell* push_text(std::string_view bytes) {
    return string::from_utf8(stack::push_slot(),
                             unicode::repair_utf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

} // namespace

void set_command_line(int argc, const char* const* argv) {
    cell* text = push_text(sysinfo::command_line(argc, argv));
    cell* slot = system_field("script", "args");
    if (!slot) {
        stack::pop(1);
        return;
    }
    *slot = *text;
    static constexpr char call[] = "extract-boot-args";
    cell* code = load_text(reinterpret_cast<const uint8_t*>(call), sizeof call - 1);
    interp::eval_block(code, false);
    cell* args = block::push_new(argc > 1 ? argc - 1 : 1);
    for (int i = 1; i < argc; i++) {
        cell* s = push_text(argv[i]);
        block::append_value(args, s);
        stack::pop(1);
    }
    if ((slot = system_field("options", "args"))) *slot = *args;
    stack::pop(4);
}

} // namespace zyl::runtime
