// runtime/platform/native_stack.h: the machine stack the evaluator runs on.
//
// The evaluator recurses in C++. It runs on a thread with a large stack (pages are committed
// only when touched), and a depth guard raises stack-overflow well before that stack ends, so
// no input can crash the process through native stack exhaustion.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::native_stack {

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer loses track of unwinds that clear more than 64 MB of stack.
constexpr size_t SIZE = size_t(56) << 20;
constexpr size_t MARGIN = size_t(8) << 20;
#else
constexpr size_t SIZE = size_t(1) << 30; // 1 GiB reserved
constexpr size_t MARGIN = size_t(64) << 20; // left for the error path and the C library
#endif

// Lowest address the guard lets the stack reach; 0 until run() sets it.
extern uintptr_t limit;

// Runs [fn]([arg]) on a thread with a stack of SIZE bytes and returns its result.
int run(int (*fn)(void*), void* arg);

// Raises stack-overflow when the machine stack is nearly used up.
[[noreturn]] void overflow();
// The stack pointer is read directly: taking the frame address would give every function
// that inlines the check a frame pointer of its own.
inline uintptr_t stack_pointer() {
#if defined(__x86_64__)
    uintptr_t sp;
    asm("mov %%rsp, %0" : "=r"(sp));
    return sp;
#elif defined(__aarch64__)
    uintptr_t sp;
    asm("mov %0, sp" : "=r"(sp));
    return sp;
#else
    return reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
#endif
}
inline void check() {
    if (stack_pointer() < limit) [[unlikely]]
        overflow();
}

} // namespace zyl::native_stack
