// runtime/error.cpp: raising language errors.
#include "runtime/error.h"

namespace zyl::error {

void raise(int32_t cat, int32_t id) { throw raised{cat, id}; }

} // namespace zyl::error
