// datatypes/registry.h: the datatype registry: the name table and the action table.
//
// Each datatype registers its id, its parent's id, its name and one entry per action slot.
// The action table keeps 256 entries per type id (slot s of type t at t * 256 + s - 1); an
// absent entry is null and the dispatcher raises when it is called. Entries of different slots
// have different signatures, so the table stores them as `action_fn` and each slot's caller
// casts back to that slot's signature. A parent's entries are copied at registration, so a
// parent registers before its children.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "datatypes/cell.h"

namespace zyl {

enum action_slot : uint8_t {
#define ZYL_ACTION(slot, ident, word) A_##ident = slot,
#include "datatypes/actions.inc"
#undef ZYL_ACTION
};

constexpr uint32_t ACTION_SLOTS = 62;
constexpr uint32_t ACTION_ROW = 256;     // entries per type id in the action table
constexpr uint32_t MAX_TYPES = 57;       // rows of the action table and the name table

using action_fn = void (*)();

namespace datatype {

// Marks a slot that takes its parent's entry at registration.
void inherit_entry();
#define ZYL_INHERIT (&::zyl::datatype::inherit_entry)
// Casts an entry of any signature to the table's entry type.
template <typename F> action_fn entry(F f) { return reinterpret_cast<action_fn>(f); }

struct name_entry {
    const char* name;     // "integer!"
    uint32_t name_length; // characters without the final "!"
    cell word;            // the type's name word, once words exist (else unset)
};

struct registry {
    name_entry names[MAX_TYPES];
    action_fn actions[MAX_TYPES * ACTION_ROW];
    uint32_t highest; // highest type id registered so far
    bool words_made;  // name words are made at registration from now on
};

extern registry reg;

// Registers type [id] with parent [parent] (0 for none), [name] and its [entries] in slot
// order; [count] is the number of spec values (3 + entries) and must be 65, else the process
// ends with the registration report.
void register_type(uint32_t count, uint8_t id, uint8_t parent, const char* name,
                   const action_fn* entries);
// register_type from a list of entries.
void register_type(uint8_t id, uint8_t parent, const char* name, std::initializer_list<action_fn> entries);

// Makes the name word of every registered type; from then on a type that registers gets its
// name word at once. Needs the symbol table and the global context.
void make_words();

// The entry of [slot] for type [t], null when absent.
inline action_fn action(uint8_t t, uint8_t slot) { return reg.actions[t * ACTION_ROW + slot - 1]; }
// The entry cast to the slot's signature [F].
template <typename F> F action_as(uint8_t t, uint8_t slot) { return reinterpret_cast<F>(action(t, slot)); }

// The name entry of type [t]: the registered one, or one made from the type list for a type
// that has not registered (an id out of range gives "unknown!").
const name_entry& entry_of(uint8_t t);
inline const char* name_of(uint8_t t) { return entry_of(t).name; }
// Whether some datatype has id [t]: registered, or named in the type list.
bool has_name(uint8_t t);

} // namespace datatype
} // namespace zyl
