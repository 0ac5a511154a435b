// datatypes/cell.h: the value cell, the one representation of every language value.
//
// A cell is 16 bytes: four 32-bit words. Word 0 is the header, words 1-3 the payload whose
// meaning the datatype fixes. Every reference a cell holds is a 32-bit id (a node id, a
// table index), never a native pointer, so cells stay 16 bytes on a 64-bit machine; 64-bit
// payloads (float!, time!, ...) use words 2 and 3.
//
//   word 0  header   [31 ........ 8][7 ..... 0]
//                     flags           type id
//                     bit 30: new-line marker (shared by all types); the others per type
//   word 1  payload  series: index of the head, in units from the buffer's start
//   word 2  payload  series: node id of the buffer
//   word 3  payload  series: per type (0 for strings)
#pragma once

#include <cstdint>

#include "runtime/common.h"

namespace zyl {

enum type_id : uint8_t {
#define ZYL_TYPE(id, ident, name, parent) T_##ident = id,
#include "datatypes/types.inc"
#undef ZYL_TYPE
};

constexpr uint32_t CELL_TYPE_MASK = 0xFF;
constexpr uint32_t CELL_NEW_LINE = 0x40000000; // value begins a source line

struct cell {
    uint32_t header; // type id in bits 0-7, flags above
    uint32_t w1;
    uint32_t w2;
    uint32_t w3;

    uint8_t type() const { return static_cast<uint8_t>(header & CELL_TYPE_MASK); }
};
static_assert(sizeof(cell) == 16, "a cell is four 32-bit words");

namespace cells {

// Replaces the type id of [c] and keeps every flag.
inline void set_type(cell* c, uint8_t type) { c->header = (c->header & ~CELL_TYPE_MASK) | type; }

// Copies [src] over [dst] unless they are the same cell; returns [dst].
inline cell* copy(const cell* src, cell* dst) {
    if (src != dst) *dst = *src;
    return dst;
}

// Clears the new-line marker of [c].
inline void clear_new_line(cell* c) { c->header &= ~CELL_NEW_LINE; }

} // namespace cells
} // namespace zyl
