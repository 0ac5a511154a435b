// runtime/common.cpp: the fatal paths: failed internal checks and the runtime error report.
#include "runtime/common.h"
#include "runtime/platform/terminal.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace zyl {

const char* runtime_error_name(int code) {
    static const char* const names[] = {
        "",
        "access violation",
        "invalid alignment",
        "breakpoint",
        "single step",
        "bounds exceeded",
        "float denormal operand",
        "float divide by zero",
        "float inexact result",
        "float invalid operation",
        "float overflow",
        "float stack check",
        "float underflow",
        "integer divide by zero",
        "integer overflow",
        "privileged instruction",
        "invalid virtual address",
        "illegal instruction",
        "non-continuable exception",
        "stack error or overflow",
        "invalid disposition",
        "guard page",
        "invalid handle",
        "illegal operand",
        "illegal addressing mode",
        "illegal trap",
        "coprocessor error",
        "non-existent physical address",
        "object specific hardware error",
        "hardware memory error consumed AR",
        "hardware memory error consumed AO",
        "privileged register",
        "segmentation fault",
        "FPU error",
        "Bus error",
    };
    if (code > 0 && code < static_cast<int>(sizeof(names) / sizeof(names[0]))) return names[code];
    switch (code) {
    case 94: return "out of memory";
    case 95: return "no CATCH for THROW";
    case 98: return "assertion failed";
    case 99: return "unknown error";
    case 100: return "no value matched in CASE";
    case 101: return "no value matched in SWITCH";
    default: return "unknown error code!";
    }
}

void runtime_error(int code, const void* at) {
    if (code != 0) {
        std::printf("\n*** Runtime Error %d: %s\n*** at: %08zXh\n", code, runtime_error_name(code),
                    reinterpret_cast<size_t>(at));
    }
    std::fflush(stdout);
    terminal::restore_async(); // no exit handler runs after _exit
    _exit(code);
}

void assert_failed(const char* expr, const char* file, int line) {
    std::fflush(stdout);
    std::fprintf(stderr, "*** Internal check failed: %s\n*** at: %s:%d\n", expr, file, line);
    std::fflush(stderr);
    std::abort();
}

} // namespace zyl
