// runtime/error.h: raising language errors from run-time code.
//
// A raise never returns. The error travels up the native frames as one C++ exception type,
// `error::raised`, to the frame that catches it. Ids are 0-based field indexes within their
// category of the error catalogue, so the numbers below are final.
#pragma once

#include <cstdint>

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
constexpr int32_t script_too_long = 61;
constexpr int32_t internal_no_memory = 4;

// What unwinds the native frames: the category and id of the raised error.
struct raised {
    int32_t category;
    int32_t id;
};

// Raises the error [id] of [cat]; never returns.
[[noreturn]] void raise(int32_t cat, int32_t id);

} // namespace zyl::error
