// library/file_routines.h: the routines that reach the file service and the system
// description: exists?, create-dir, write-stdout, get-current-dir, set-current-dir, os-info.
#pragma once

#include <string>
#include <string_view>

namespace zyl::file_routines {

// Adds the routines to the routine table and binds each to its global word.
void init();

// The architecture word for uname's [machine] name: x86-64, x86-32, ARM64, ARM, IA-64 or
// Unknown.
const char* arch_word(std::string_view machine);
// The PRETTY_NAME value of os-release text [text], unquoted; empty when it has none.
std::string pretty_name(std::string_view text);

} // namespace zyl::file_routines
