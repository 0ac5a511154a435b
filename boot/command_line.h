// boot/command_line.h: the command line as the system object shows it to scripts.
#pragma once

namespace zyl::runtime {

// Sets system/script/args to the arguments [argv] joined as one text, splits it into
// system/options/boot and /args with `extract-boot-args`, then sets system/options/args to
// the exact arguments after the program's name. After start.
void set_command_line(int argc, const char* const* argv);

} // namespace zyl::runtime
