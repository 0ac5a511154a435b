// datatypes/header_flags.h: every flag bit of a cell header, for every datatype, in one place.
//
// Bits 0-7 hold the type id and bit 30 the new-line marker, for every type. The other bits
// belong to single types, so two types may reuse a bit; within one type, and against the
// shared bits, none may collide. The checks below say so for each type.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "datatypes/cell.h"

namespace zyl {

constexpr uint32_t SHARED_HEADER_BITS = CELL_TYPE_MASK | CELL_NEW_LINE;

// context!: the first cell of a context.
constexpr uint32_t CTX_KIND_MASK = 0x00001800;     // bits 11-12: 0 plain, 1 function, 2 object
constexpr uint32_t CTX_KIND_SHIFT = 11;
constexpr uint32_t CTX_OWNER_SET = 0x00010000;     // the object's fields were given owners
constexpr uint32_t CTX_SMALL = 0x00020000;         // word 1 is the word list itself: no index
constexpr uint32_t CTX_STACK_VALUES = 0x00400000;  // values live on the evaluation stack
constexpr uint32_t CTX_OBJECT = 0x01000000;        // made for an object!; kept by clones

// word! entries of an object context's word list.
constexpr uint32_t WORD_CHANGED = 0x00002000; // the field was assigned

// op!: the type of the value it runs, in bits 16-23.
constexpr uint32_t OP_SOURCE_MASK = 0x00FF0000;
constexpr uint32_t OP_SOURCE_SHIFT = 16;

// function! and routine!.
constexpr uint32_t FUNC_NO_TRACE = 0x00000200;
constexpr uint32_t FUNC_TRACE = 0x00000400;
constexpr uint32_t FUNC_LIBRARY = 0x00000800;       // made by the boot scripts: runs as compiled
constexpr uint32_t ROUTINE_BY_ADDRESS = 0x00008000; // gets its argument cells' addresses
constexpr uint32_t FUNC_COUNT_MASK = 0x3E000000;    // bits 25-29: words of a routine's spec
constexpr uint32_t FUNC_COUNT_SHIFT = 25;

// tuple!: the component count.
constexpr uint32_t TUPLE_COUNT_MASK = 0x00780000; // bits 19-22
constexpr uint32_t TUPLE_COUNT_SHIFT = 19;

// money!: the sign.
constexpr uint32_t MONEY_NEGATIVE = 0x00004000;

// typeset! of a function's argument spec: the kind of argument.
constexpr uint32_t TYPESET_ARG_KIND_MASK = 0x00300000; // bits 20-21: 0 normal, 1 get, 2 lit
constexpr uint32_t TYPESET_ARG_KIND_SHIFT = 20;

// image!: the image has an owner entry.
constexpr uint32_t IMAGE_OWNED = 0x00010000;

// handle!: the low bits of the generation of the external resource a handle names.
constexpr uint32_t HANDLE_GENERATION_MASK = 0x00FFFF00; // bits 8-23
constexpr uint32_t HANDLE_GENERATION_SHIFT = 8;

// event!: the event owns a data block.
constexpr uint32_t EVENT_OWNS_DATA = 0x00001000;

namespace header_check {

// Whether the masks are pairwise disjoint and clear of the shared bits.
constexpr bool disjoint(std::initializer_list<uint32_t> masks) {
    uint32_t seen = SHARED_HEADER_BITS;
    for (uint32_t m : masks) {
        if (seen & m) return false;
        seen |= m;
    }
    return true;
}

static_assert(disjoint({CTX_KIND_MASK, CTX_OWNER_SET, CTX_SMALL, CTX_STACK_VALUES, CTX_OBJECT}));
static_assert(disjoint({WORD_CHANGED}));
static_assert(disjoint({OP_SOURCE_MASK}));
static_assert(disjoint({FUNC_NO_TRACE, FUNC_TRACE, FUNC_LIBRARY, ROUTINE_BY_ADDRESS, FUNC_COUNT_MASK}));
static_assert(disjoint({TUPLE_COUNT_MASK}));
static_assert(disjoint({MONEY_NEGATIVE}));
static_assert(disjoint({TYPESET_ARG_KIND_MASK}));
static_assert(disjoint({IMAGE_OWNED}));
static_assert(disjoint({EVENT_OWNS_DATA}));
static_assert(disjoint({HANDLE_GENERATION_MASK}));

} // namespace header_check
} // namespace zyl
