// boot/fault.h: the process's last words: processor faults and signals turned into the
// runtime-error report and exit status, and the systems-level throw that ends the process.
#pragma once

#include <cstdint>

namespace zyl::fault {

// The runtime-error code of signal [sig] with [si_code] (SIGFPE's kind of fault);
// [stack_guard] when a SIGSEGV hit the guard below the machine stack. 0 for the silent
// control-C exit.
int code_of(int sig, int si_code, bool stack_guard);

// Installs the handlers on an alternate stack: faults report and end with their code,
// SIGINT ends silently with status 0. Sanitizer builds keep their own fault handlers.
void install();

// The entry thread only waits for the run-time's thread: it holds the signals that install
// handles (hold), and the run-time's thread takes them (take), so that a signal sent to the
// process stops the thread that runs, and its report and status cannot race that thread's
// own exit.
void hold();
void take();

// Thrown by systems code that must end the process from deep inside: code 0x0BADCAFE ends it
// silently with status 0, any other code with runtime error 95.
struct systems_throw {
    uint32_t code;
};
constexpr uint32_t QUIET_THROW = 0x0BADCAFE;

// Ends the process for the exception being handled, which escaped the run-time: an exhausted
// heap (std::bad_alloc) with runtime error 94, a systems throw silently with 0 or with 95,
// anything else with 99. Call it only inside a catch block.
[[noreturn]] void end_escaped();

} // namespace zyl::fault
