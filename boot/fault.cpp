// boot/fault.cpp: the fault handlers. A handler may only call what is safe in a signal: it
// formats the report into a stack buffer, writes it with write(2) and ends with _exit.
#include "boot/fault.h"

#include <csignal>
#include <pthread.h>
#include <initializer_list>
#include <new>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "runtime/common.h"
#include "runtime/platform/native_stack.h"
#include "runtime/platform/terminal.h"

namespace zyl::fault {

int code_of(int sig, int si_code, bool stack_guard) {
    switch (sig) {
    case SIGSEGV: return stack_guard ? 19 : 1;
    case SIGBUS: return 34;
    case SIGILL: return 17;
    case SIGTRAP: return 3;
    case SIGINT: return 0;
    case SIGFPE:
        switch (si_code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTINV: return 9;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        default: return 99;
        }
    default: return 99;
    }
}

namespace {

char* put_text(char* p, const char* s) {
    while (*s) *p++ = *s++;
    return p;
}

char* put_decimal(char* p, unsigned v) {
    char digits[12];
    int n = 0;
    do digits[n++] = char('0' + v % 10), v /= 10;
    while (v);
    while (n) *p++ = digits[--n];
    return p;
}

char* put_hex(char* p, uintptr_t v) {
    char digits[20];
    int n = 0;
    do digits[n++] = "0123456789ABCDEF"[v & 15], v >>= 4;
    while (v);
    while (n < 8) digits[n++] = '0';
    while (n) *p++ = digits[--n];
    return p;
}

[[maybe_unused]] void on_fault(int sig, siginfo_t* info, void* context) {
    (void)context;
    auto addr = reinterpret_cast<uintptr_t>(info->si_addr);
    uintptr_t limit = native_stack::limit;
    bool guard = sig == SIGSEGV && limit && addr < limit && limit - addr < native_stack::MARGIN + (16u << 20);
    int code = code_of(sig, info->si_code, guard);
    terminal::restore_async(); // a fault in the middle of an edit leaves the terminal as it found it
    if (code == 0) _exit(0);
    char buf[256];
    char* p = put_text(buf, "\n*** Runtime Error ");
    p = put_decimal(p, unsigned(code));
    p = put_text(p, ": ");
    p = put_text(p, runtime_error_name(code));
    p = put_text(p, "\n*** at: ");
    p = put_hex(p, addr);
    p = put_text(p, "h\n");
    ssize_t ignored = write(1, buf, size_t(p - buf));
    (void)ignored;
    _exit(code);
}

void on_interrupt(int) { _exit(0); }

void mask(int how) {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) sigaddset(&set, sig);
    pthread_sigmask(how, &set, nullptr);
}

} // namespace

void install() {
    static char alternate[1 << 16];
    stack_t ss{};
    ss.ss_sp = alternate;
    ss.ss_size = sizeof alternate;
    sigaltstack(&ss, nullptr);
    struct sigaction sa{};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = on_interrupt;
    sigaction(SIGINT, &sa, nullptr);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) sigaction(sig, &sa, nullptr);
#endif
}

void end_escaped() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        runtime_error(RT_OUT_OF_MEMORY);
    } catch (const systems_throw& t) {
        runtime_error(t.code == QUIET_THROW ? 0 : 95, reinterpret_cast<const void*>(&end_escaped));
    } catch (...) {
        runtime_error(99, reinterpret_cast<const void*>(&end_escaped));
    }
}

void hold() { mask(SIG_BLOCK); }

void take() { mask(SIG_UNBLOCK); }

} // namespace zyl::fault
