// runtime/error.h: raising language errors from run-time code.
//
// A raise never returns. Once the evaluation stack exists, the error value is built, the
// stacks are cut back to the nearest try frame (eval/stack.h) and the native frames unwind by
// one C++ exception type, `error::raised`, to the code that pushed that frame. Before the
// stack exists (start-up, tests of inner pieces) only the exception travels. Ids are 0-based
// field indexes within their category of the error catalogue (runtime/error_catalogue.inc).
//
// The value raised is a full error! (datatypes/error.h) once the start-up has made the error
// system. Before that an error is bare: type error!, word 1 the node of a three-cell series
// holding its arguments, word 2 the category, word 3 the id (2 or more). A full error's
// word 3 is always 0, which tells the two apart.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/error_ids.h"

namespace zyl::error {

// Category indexes (cat_script, ...) and message ids (script_no_value, ...).
using namespace ids;

// What unwinds the native frames: the category and id of the raised error.
struct raised {
    int32_t category;
    int32_t id;
};

// Raises the error [id] of [cat] with up to three argument values; never returns.
[[noreturn]] void raise(int32_t cat, int32_t id, const cell* arg1 = nullptr,
                        const cell* arg2 = nullptr, const cell* arg3 = nullptr);

// Raises script bad-make-arg with [datatype] and [spec].
[[noreturn]] void raise_bad_make_arg(const cell* datatype, const cell* spec);

// Whether type [t] is in typeset [ts]: bit 7 - t % 8 of payload byte t / 8.
inline bool typeset_has(const cell* ts, uint8_t t) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&ts->w1);
    return (bytes[t >> 3] >> (7 - (t & 7))) & 1;
}

// Returns argument [arg] when its type is in typeset [ts]; else raises script expect-arg
// naming the call, the argument's datatype and the spec word of argument [pos] (from 0).
const cell* check_arg_type(const cell* ts, int32_t pos, const cell* arg);
// check_arg_type on the cell at [index] from the arguments base; nothing when [index] < 0.
void check_arg_type_at(int32_t index, const cell* ts, int32_t pos);
// check_arg_type only when refinement cell [ref] was used (its word 1 is not 0).
const cell* check_optional_arg_type(const cell* ref, const cell* ts, int32_t pos, const cell* arg);

// Whether error cell [err] is bare (made before the error system existed).
inline bool is_bare(const cell* err) { return err->w3 != 0; }
// The category and message id of error cell [err], bare or full.
int32_t category_index(const cell* err);
int32_t message_index(const cell* err);

// Prints the report of error [err] (its form) on the console, with a line end.
void print_report(const cell* err);
// Makes the error [id] of [cat] with the arguments and prints its report without raising it.
void print_new(int32_t cat, int32_t id, const cell* arg1, const cell* arg2, const cell* arg3);

// Ends the process after an error that nothing caught.
[[noreturn]] void exit_uncaught();

// Exit status of a process ended by an uncaught error (-2 as an unsigned byte).
constexpr int UNCAUGHT_STATUS = 254;

} // namespace zyl::error
