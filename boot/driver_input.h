// boot/driver_input.h: where the development driver reads its standard-input lines from.
//
// On a terminal (standard input and output both) the lines come from the line editor with
// the prompt ">> ", and the editor's history is loaded from the console settings file at the
// start and saved back (its newest 100 lines) at the end. Otherwise lines come from the
// stream as they are. The console of the library takes this over.
#pragma once

#include <string>

namespace zyl::driver_input {

struct reader {
    bool terminal;
    bool escaped = false; // the last line ended with Escape: the open input is dropped
    reader();
    ~reader();
    reader(const reader&) = delete;
    reader& operator=(const reader&) = delete;
    // The next line, its line feed included, in [out]; false at the end of input.
    bool next(std::string& out);
};

} // namespace zyl::driver_input
