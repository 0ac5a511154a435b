// runtime/char_width.cpp: display widths by binary search over the generated range tables.
#include "runtime/char_width.h"

namespace zyl::unicode {
namespace {
#include "runtime/width_tables.inc"
} // namespace

const uint32_t* const zero_width_ranges = zero_width_table;
const size_t zero_width_count = sizeof zero_width_table / sizeof zero_width_table[0];
const uint32_t* const wide_ranges = wide_table;
const size_t wide_count = sizeof wide_table / sizeof wide_table[0];

bool in_ranges(uint32_t cp, const uint32_t* table, size_t count) {
    if (count < 2 || cp < table[0] || cp > table[count - 1]) return false;
    size_t lo = 0, hi = count / 2; // range indexes: the answer lies in [lo, hi)
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (cp < table[2 * mid]) hi = mid;
        else if (cp > table[2 * mid + 1]) lo = mid + 1;
        else return true;
    }
    return false;
}

int char_width(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    if (cp < 0x300) return 1; // below the first mark: the common case, decided at once
    if (in_ranges(cp, zero_width_table, zero_width_count)) return 0;
    if (in_ranges(cp, wide_table, wide_count)) return 2;
    return 1;
}

} // namespace zyl::unicode
