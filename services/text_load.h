// services/text_load.h: whole UTF-8 inputs (a file's bytes) decoded into text made at its
// final size and width in one pass, instead of growing and widening as it loads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::text_load {

// What the text of the UTF-8 [p], [n] needs: one unit per character (each byte that is not
// a continuation byte counts one) of [unit] bytes, the widest its lead bytes call for.
struct measure_t {
    uint64_t chars;
    uint32_t unit;
};
measure_t measure(const uint8_t* p, size_t n);

// Decodes the UTF-8 [p], [n] into [out], which has room for exactly the units [m] counted;
// answers the end of what was written. Invalid or cut UTF-8 raises access invalid-utf8 (a
// valid input never holds more characters than were counted, so nothing is written past
// the room). Allocates nothing.
uint8_t* decode(const uint8_t* p, size_t n, uint8_t* out, const measure_t& m);

} // namespace zyl::text_load
