// datatypes/registry.cpp: registering datatypes into the name and action tables.
#include "datatypes/registry.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"

namespace zyl::datatype {

registry reg;

void inherit_entry() {}

namespace {

constexpr name_entry fallback(const char* name, uint32_t chars) {
    return name_entry{name, chars - 2, cell{T_unset, 0, 0, 0}};
}

// Names of every type id from the type list, for types that have not registered.
const name_entry listed[MAX_TYPES] = {
    fallback("unknown!", sizeof "unknown!"),
#define ZYL_TYPE(id, ident, name, parent) fallback(name, sizeof name),
#include "datatypes/types.inc"
#undef ZYL_TYPE
};

} // namespace

const name_entry& entry_of(uint8_t t) {
    if (t < MAX_TYPES && reg.names[t].name) return reg.names[t];
    return t < MAX_TYPES && listed[t].name ? listed[t] : listed[0];
}

bool has_name(uint8_t t) { return &entry_of(t) != &listed[0]; }

void register_type(uint32_t count, uint8_t id, uint8_t parent, const char* name,
                   const action_fn* entries) {
    ZYL_ASSERT(id > 0 && id < MAX_TYPES && parent < MAX_TYPES);
    if (count - 3 != ACTION_SLOTS) {
        // A wrong row is a build fault of the run-time itself; nothing is registered.
        std::printf("*** Datatype Error: invalid actions count for type: %u\n*** Found: %u\n"
                    "*** Expected: %u\n",
                    id, count - 3, ACTION_SLOTS);
        std::fflush(stdout);
        _exit(1);
    }
    if (id > reg.highest) reg.highest = id;
    size_t len = std::strlen(name);
    reg.names[id] = name_entry{name, static_cast<uint32_t>(len ? len - 1 : 0), cell{T_unset, 0, 0, 0}};
    if (reg.words_made) reg.names[id].word = word::load(name); // a type that registers late
    action_fn* row = &reg.actions[id * ACTION_ROW];
    for (uint32_t s = 0; s < ACTION_SLOTS; s++) {
        action_fn e = entries[s];
        row[s] = (parent != 0 && e == ZYL_INHERIT) ? reg.actions[parent * ACTION_ROW + s] : e;
    }
}

void make_words() {
    for (uint32_t t = 1; t <= reg.highest; t++)
        if (reg.names[t].name) reg.names[t].word = word::load(reg.names[t].name);
    // Each name word holds its datatype, also for a type not registered yet, so that type
    // blocks may name it; each standard typeset's name holds the typeset.
    static constexpr struct {
        uint8_t id;
        const char* name;
    } all[] = {
#define ZYL_TYPE(id, ident, name, parent) {id, name},
#include "datatypes/types.inc"
#undef ZYL_TYPE
    };
    for (const auto& e : all) {
        cell w = word::load(e.name);
        cell v = make_value(e.id);
        context::set_value(&w, &v);
    }
    for (const auto& e : typeset::standard::table) {
        cell w = word::load(e.name);
        context::set_value(&w, &e.value);
    }
    reg.words_made = true;
}

void register_type(uint8_t id, uint8_t parent, const char* name, std::initializer_list<action_fn> entries) {
    register_type(static_cast<uint32_t>(entries.size() + 3), id, parent, name, entries.begin());
}

} // namespace zyl::datatype
