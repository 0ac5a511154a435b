// datatypes/sort_call.h: sorting through a language comparator (`sort/compare` with a
// function), shared by block! and string!.
//
// The comparator runs language code, which may allocate, raise, exit or change the series
// being sorted. So the sorts order an array of record numbers held outside the series; the
// caller reads each record from a copy of its own and writes the records back in the new
// order only once the sort is done. An error inside the comparator leaves the series as it
// was; an exit (break, return, throw) likewise, with the exit still pending.
#pragma once

#include <cstdint>
#include <vector>

#include "datatypes/cell.h"

namespace zyl::sort_call {

// Whether [t] is a type that sort/compare can call.
bool callable_q(uint8_t t);

// How a comparator's answer orders its two arguments x and y: negative when x sorts first.
// Block rules: true, a positive integer!, a float! above 0.0 and any other value put x first;
// false, a negative integer!, a float! below 0.0 and none put y first; 0, 0.0 and NaN neither.
int32_t block_order(const cell* answer);
// String rules, read as the order of (a, b) when the comparator was called with (b, a): true
// 1, false -1, integer! n -n, float! above 0.0 -1, below 1, none -1, any other value 1.
int32_t string_order(const cell* answer);

// The caller's side of the comparisons: the comparator gets the first values of two records,
// or with /all two series refilled with the whole records (made once a sort).
struct arguments {
    const cell* x_scratch = nullptr; // the two series /all passes, else null
    const cell* y_scratch = nullptr;
    bool swap = false; // the comparator gets records (a, b) as (b, a)
    // The first value of record [r].
    virtual cell first(uint32_t r) = 0;
    // Empties [scratch] and fills it with record [r].
    virtual void fill(const cell* scratch, uint32_t r) = 0;
    // The order of records a and b from the comparator's [answer].
    virtual int32_t order(const cell* answer) = 0;
    // The comparator's two arguments for records [a] and [b], into cells outside any series.
    void make(uint32_t a, uint32_t b, cell* x, cell* y);
};

// Sorts the record numbers 0 to [count] - 1 into [order] by calling [fn] on the arguments
// [args] makes: the merge sort with [stable], else the quicksort. Answers false when an exit
// out of the comparator is pending. A raised error passes through.
bool sort(std::vector<uint32_t>& order, uint32_t count, const cell* fn, arguments& args, bool stable);

} // namespace zyl::sort_call
