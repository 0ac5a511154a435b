// runtime/common.h: assertions, branch hints and small integer helpers shared by the whole run-time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl {

// Reports a failed internal check and ends the process; never returns.
[[noreturn]] void assert_failed(const char* expr, const char* file, int line);

// Prints the "*** Runtime Error" report for [code] and the address [at], then ends the process
// with [code] as its status; code 0 ends it silently with status 0.
[[noreturn]] void runtime_error(int code, const void* at = nullptr);
// The name of runtime error [code] ("unknown error code!" for codes without one).
const char* runtime_error_name(int code);

// Runtime error codes the run-time itself reports.
constexpr int RT_OUT_OF_MEMORY = 94;
constexpr int RT_ASSERTION = 98;
constexpr int RT_NO_CASE = 100;
constexpr int RT_NO_SWITCH = 101;

} // namespace zyl

// Checked in debug and sanitizer builds only; release builds trust the invariant.
#if defined(ZYL_DEBUG)
#define ZYL_ASSERT(e) ((e) ? (void)0 : ::zyl::assert_failed(#e, __FILE__, __LINE__))
#else
#define ZYL_ASSERT(e) ((void)0)
#endif

#define ZYL_UNREACHABLE() ::zyl::assert_failed("unreachable", __FILE__, __LINE__)
#define ZYL_LIKELY(e)     __builtin_expect(!!(e), 1)
#define ZYL_UNLIKELY(e)   __builtin_expect(!!(e), 0)
// Hot-path helpers the compiler must fold into their caller.
#define ZYL_INLINE [[gnu::always_inline]] inline

namespace zyl {

// Rounds [n] up to a multiple of [a], a power of two.
constexpr uint64_t align_up(uint64_t n, uint64_t a) { return (n + a - 1) & ~(a - 1); }

} // namespace zyl
