// eval/natives.h: the natives table and the one calling convention of natives and actions.
//
// A native reads its arguments from the current frame (cell 0 is the first argument and
// receives the result) and takes the check flag, then one integer per refinement of its
// spec in spec order: -1 when the refinement is not used, else the position (in cells from
// the arguments base) of its first argument cell, 0 for a refinement without arguments.
// With the check flag 1 (callers that did not check the arguments against the spec) the
// native checks them first. The table's order is the boot image's native numbering and may
// not change; entry N is native number N.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::natives {

constexpr uint32_t CAPACITY = 120; // room in the table
constexpr uint32_t COUNT = 107;    // natives the run-time defines

// The untyped entry of a native or an action: cast to its arity by call().
using entry_fn = void (*)();

struct native_info {
    const char* name; // the word the boot image binds to it
    entry_fn entry;
};

// The table's entries: entry n at n - 1; null when not filled.
extern entry_fn entries[CAPACITY];
// Entry [n] (1-based), or null when [n] is out of range or not filled.
inline entry_fn entry(uint32_t n) { return n >= 1 && n <= CAPACITY ? entries[n - 1] : nullptr; }
// The name of native [n] (1-based), or null.
const char* name(uint32_t n);
// The next free index (1-based); COUNT + 1 after init.
uint32_t next_index();
// Appends [count] entries at the next index.
void register_native_table(uint32_t count, const native_info* table);
// Fills the table with the run-time's natives, in order, and makes the print scratch block:
// every family's init sets its entries with set_entry; the rest raise "not yet available".
void init();
// Sets entry [n] (1-based) of the table.
void set_entry(uint32_t n, entry_fn f);

// The families, each in its own file.
void init_function(); // func, function, does, has: eval/natives_function.cpp
void init_word();     // get, set, type?, bind, in, construct ...: eval/natives_word.cpp
void init_control();  // if, loops, do, reduce, compose, try, catch ...: eval/natives_control.cpp
void init_compare();  // equal? ... greater-or-equal?, same?, not, max, min: eval/natives_compare.cpp
void init_math();     // sign tests, zero?, NaN?, shift, trigonometry, logarithms: eval/natives_math.cpp
void init_set();      // union, intersect, unique, difference, exclude, complement?, extend: eval/natives_set.cpp
void init_text();     // print, prin, dehex, enhex, debase, enbase, to-hex, case, as-*, as: eval/natives_text.cpp
void init_transcode(); // transcode: eval/natives_transcode.cpp
void init_system();   // wait, checksum, environment, now, size?, compression: eval/natives_system.cpp
void init_process();  // call, browse: eval/natives_process.cpp
void init_parse();    // parse: eval/natives_parse.cpp

// The block print and prin reduce block arguments into (made by init, kept for the whole run).
extern cell print_scratch;
// Whether the last output of print or prin ended its line.
extern bool print_line_ended;

// Calls [f] with [check] (when [with_check]) followed by the [nrefs] refinement parameters
// [refs]; natives and actions have at most 12 refinements.
void call(entry_fn f, bool with_check, int32_t check, uint32_t nrefs, const int32_t* refs);

// Raises internal not-done naming the native: the entry of a native whose family is not built yet.
[[noreturn]] void not_yet_available(const char* name);

} // namespace zyl::natives
