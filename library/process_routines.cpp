// library/process_routines.cpp: quit-return, which ends the process with a status.
#include "library/process_routines.h"

#include <cstdio>
#include <cstdlib>

#include "boot/startup.h"
#include "datatypes/integer.h"
#include "eval/stack.h"

namespace zyl::process_routines {

namespace {

// {== Internal functions

// Ends the process at once with the status argument. Console output is written unbuffered,
// so only the C streams need flushing.
void quit_return() {
    int32_t status = integer::get(stack::arg(0));
    std::fflush(nullptr);
    std::_Exit(status);
}

// }==

} // namespace

void init() {
    runtime::define_routine("quit-return", R"([status [integer!] "Process termination value to return"])",
                            quit_return);
}

} // namespace zyl::process_routines
