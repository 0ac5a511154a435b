// runtime/sort.h: in-place sorts of fixed-size records with a caller's comparison.
//
// Two sorts share one comparator contract. `quicksort_start` is the unstable default: it first
// gathers a sorted prefix (absorbing ordered blocks it finds) and hands it to `quicksort` as a
// sample. `mergesort` is stable: natural runs merged by the Powersort policy through a heap
// buffer of half the records. Records of equal keys come out in different orders from the two,
// and callers can see it, so both follow their algorithms step by step.
//
// The comparator gets the addresses of two records and the caller's two context words, which
// the sorts never look at. It answers negative when [a] sorts before [b], 0 when equal,
// positive when after, and may raise a language error: the array is then left a permutation of
// its input and nothing leaks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::sort {

using compare_fn = int32_t (*)(const void* a, const void* b, uintptr_t ctx1, uintptr_t ctx2);

// What every step of a sort needs besides the records.
struct params {
    size_t size;    // bytes per record
    uintptr_t ctx1; // handed to cmp untouched
    uintptr_t ctx2; // handed to cmp untouched
    compare_fn cmp;
};

// Exchanges the [size] bytes at [a] and [b], which don't overlap unless they are the same;
// [size] may span several records. Word by word when [size] is a multiple of 4, else byte by
// byte.
void swap(void* a, void* b, size_t size);

// Sorts the [n] records of [size] bytes at [base], unstably, in place.
void quicksort_start(void* base, size_t n, size_t size, uintptr_t ctx1, uintptr_t ctx2,
                     compare_fn cmp);

// Sorts the [n] records at [base] using a sorted sample: [sorted] > 0 says the first [sorted]
// records are in order, [sorted] < 0 that the last -[sorted] are. |sorted| <= n.
void quicksort(void* base, ptrdiff_t sorted, size_t n, size_t size, uintptr_t ctx1, uintptr_t ctx2,
               compare_fn cmp);

// Sorts the [n] records at [base], stably, in place. Allocates a heap buffer of n / 2 records;
// raises script too-long when that needs more than 31 bits.
void mergesort(void* base, size_t n, size_t size, uintptr_t ctx1, uintptr_t ctx2, compare_fn cmp);

// Finds the run that begins at [start] (before [end]): non-descending, or strictly descending
// and then reversed; a run shorter than 24 records is extended to 24 (or to [end]) by
// insertion. Returns one past its last record.
uint8_t* find_run(uint8_t* start, uint8_t* end, const params& p);

// Merges the sorted runs [s, m) and [m, e) stably through [buffer], which holds at least the
// shorter run. On a comparator error the records still in [buffer] are put back first.
void merge(uint8_t* s, uint8_t* m, uint8_t* e, uint8_t* buffer, const params& p);

} // namespace zyl::sort
