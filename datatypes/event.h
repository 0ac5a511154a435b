// datatypes/event.h: event!, one user-interface event (a key, a mouse action, a timer tick, a
// focus change) on its way from the terminal backend to the view engine, or made by a script.
//
// event-cell:
//   word 0  header: type id 54 in bits 0-7; EVENT_OWNS_DATA (bit 12) when made by `make`
//   word 1  event type code, 1 to 38 (type_word); 0 for an event made without `type:`
//   word 2  node of the event's data, 0 when it has none:
//             owned (bit 12 set): a 4-cell block [face window offset picked]
//             backend (bit 12 clear): a record block, cells REC_* below
//   word 3  flags: modifier and button bits (FLAG_*); an owned event keeps its key's code point
//           in the low 21 bits; a backend event sets bit 0 for a special key
// The node is collected like any block, whatever bit 12 says, so an event kept after its
// dispatch still reads the data it was made with.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::event {

constexpr uint32_t FLAG_SPECIAL = 0x00000001;   // backend: the key is a special (negative) code
constexpr uint32_t KEY_MASK = 0x001FFFFF;       // owned: the key's code point
constexpr uint32_t FLAG_AUX_DOWN = 0x00400000;
constexpr uint32_t FLAG_ALT_DOWN = 0x00800000;
constexpr uint32_t FLAG_MID_DOWN = 0x01000000;
constexpr uint32_t FLAG_DOWN = 0x02000000;
constexpr uint32_t FLAG_AWAY = 0x04000000;
constexpr uint32_t FLAG_CONTROL = 0x10000000;
constexpr uint32_t FLAG_SHIFT = 0x20000000;
constexpr uint32_t FLAG_ALT = 0x40000000;
constexpr uint32_t FLAG_COMMAND = 0x80000000;

// The cells of a backend event's record block.
enum record_cell : uint32_t {
    REC_WIDGET = 0, // the widget's reference (none when the event has no widget)
    REC_FACE = 1,   // the widget's face cell, copied when the event was made
    REC_POS = 2,    // point2D!: x and y, widget-local for mouse events
    REC_KEY = 3,    // integer!: the key code or the picked index
    REC_WHEEL = 4,  // float!: the wheel delta
    REC_CELLS = 5
};

constexpr uint32_t TYPE_WHEEL = 11;
constexpr uint32_t TYPE_COUNT = 38; // codes 1 .. TYPE_COUNT have a word

// What a backend event carries besides its type and flags.
struct record {
    const cell* widget; // null: none
    const cell* face;   // null: none
    float x, y;
    int32_t key;        // key code or picked index
    float wheel;
};

// Pushes on the evaluation stack a backend event of type [code] with [flags] and a new record
// block made from [r]. May allocate.
cell* push_backend(uint32_t code, uint32_t flags, const record& r);
// The field number of word [w] (1 .. 15), or -1 when it names no field.
int32_t field_index(const cell* w);
// Writes field [field] (1 .. 15) of event [ev] into [out]; [out] may be [ev]. May allocate (the
// flags block, a word), so [ev] must not point into a series buffer.
cell* get_field(const cell* ev, int32_t field, cell* out);
// Sets the type code of [ev] from the type word [w]; raises not-event-type for another word.
void set_field(cell* ev, const cell* w);
// The NUL-terminated word of type [code], or null outside 1 .. TYPE_COUNT.
const char* type_word(uint32_t code);

// Routines: event? value; send-event-os event queued?; find-flag? facet flag.
void send_event_os();
void find_flag_q();

// Registers event! (id 54, parent 0) with its action entries.
void init();
// Starts of the run-time so far: each start has a new symbol table and collector, so the user
// interface's caches of symbol ids and its collector hook compare this to know them stale.
extern uint32_t starts;

} // namespace zyl::event
