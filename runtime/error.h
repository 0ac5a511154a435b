// runtime/error.h: raising language errors from run-time code.
//
// A raise never returns. Once the evaluation stack exists, the error value is built, the
// stacks are cut back to the nearest try frame (eval/stack.h) and the native frames unwind by
// one C++ exception type, `error::raised`, to the code that pushed that frame. Before the
// stack exists (start-up, tests of inner pieces) only the exception travels. Ids are 0-based
// field indexes within their category of the error catalogue, so the numbers below are final.
//
// Until error! values exist in full, an error cell is: type error!, word 1 the node of a
// three-cell series holding its arguments, word 2 the category, word 3 the id.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::error {

// Catalogue categories, in catalogue order.
enum category : int32_t {
    cat_throw = 0,
    cat_note = 1,
    cat_syntax = 2,
    cat_script = 3,
    cat_math = 4,
    cat_access = 5,
    cat_reserved1 = 6,
    cat_reserved2 = 7,
    cat_user = 8,
    cat_internal = 9,
};

// The ids the foundation raises.
constexpr int32_t script_no_value = 2;
constexpr int32_t script_expect_arg = 7;
constexpr int32_t script_no_return = 50;
constexpr int32_t script_too_long = 61;
constexpr int32_t internal_no_memory = 4;
constexpr int32_t internal_stack_overflow = 6;
constexpr int32_t internal_too_deep = 8;
constexpr int32_t throw_break = 2;
constexpr int32_t throw_return = 3;
constexpr int32_t throw_throw = 4;
constexpr int32_t throw_continue = 5;
constexpr int32_t access_invalid_utf8 = 4;
constexpr int32_t script_invalid_char = 62;
constexpr int32_t script_invalid_refine_arg = 47;

// What unwinds the native frames: the category and id of the raised error.
struct raised {
    int32_t category;
    int32_t id;
};

// Raises the error [id] of [cat] with up to three argument values; never returns.
[[noreturn]] void raise(int32_t cat, int32_t id, const cell* arg1 = nullptr,
                        const cell* arg2 = nullptr, const cell* arg3 = nullptr);

// Prints the report of error [err] on the console.
void print_report(const cell* err);

// Ends the process after an error that nothing caught.
[[noreturn]] void exit_uncaught();

// Exit status of a process ended by an uncaught error (-2 as an unsigned byte).
constexpr int UNCAUGHT_STATUS = 254;

} // namespace zyl::error
