// library/routines.h: making routine! words from C++ code, and the routines the library's
// own functions stand on until the boot image declares them.
#pragma once

#include "datatypes/function.h"

namespace zyl::routines {

// Adds [code] to the routine table under [name] (once), makes the routine from [spec_text]
// (a spec block in source form) and binds it to the global word [name].
void define(const char* name, const char* spec_text, routine::code_fn code);

// Defines quit-return. After the datatype words exist.
void init();

} // namespace zyl::routines
