// runtime/platform/native_stack.cpp: a big-stack thread for the evaluator, and its depth guard.
#include "runtime/platform/native_stack.h"

#include <pthread.h>

#include "runtime/error.h"

namespace zyl::native_stack {

uintptr_t limit;

namespace {

struct job {
    int (*fn)(void*);
    void* arg;
    int result;
};

void* start(void* p) {
    auto* j = static_cast<job*>(p);
    // The stack grows down from about here; leave the margin below the guard.
    auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    limit = here - (SIZE - MARGIN);
    j->result = j->fn(j->arg);
    return nullptr;
}

} // namespace

int run(int (*fn)(void*), void* arg) {
    job j{fn, arg, 0};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, SIZE);
    pthread_t t;
    if (pthread_create(&t, &attr, start, &j) != 0) {
        // No big thread to be had: run here, with the guard set for this thread's stack.
        pthread_attr_destroy(&attr);
        limit = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - (size_t(6) << 20);
        return fn(arg);
    }
    pthread_attr_destroy(&attr);
    pthread_join(t, nullptr);
    return j.result;
}

void overflow() { error::raise(error::cat_internal, error::internal_stack_overflow); }

} // namespace zyl::native_stack
