// services/sysinfo.h: the command line as one text, the environment as name and value
// pairs, the pieces of the system description, and a type guard.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "datatypes/cell.h"

namespace zyl::sysinfo {

// The arguments [argv] ([argc] of them) joined by blanks, the program's own name first; an
// empty argument, or one holding a blank or a tab, in double quotes.
std::string command_line(int argc, const char* const* argv);

// The entries of the environment block [env] (null-terminated, as environ) split at their
// first "=" that is not their first character, in order. An entry without such an "=" is
// no variable and is skipped.
std::vector<std::pair<std::string, std::string>> environment(const char* const* env);

// The architecture word for uname's [machine] name: x86-64, x86-32, ARM64, ARM, IA-64 or
// Unknown.
const char* arch_word(std::string_view machine);
// The PRETTY_NAME value of os-release text [text], unquoted; empty when it has none.
std::string pretty_name(std::string_view text);

// Returns when [value] is of datatype [type]; else raises script invalid-arg with it.
void expect_type(const cell* value, uint8_t type);

} // namespace zyl::sysinfo
