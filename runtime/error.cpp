// runtime/error.cpp: raising language errors and the report of an uncaught one.
#include "runtime/error.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "eval/stack.h"
#include "runtime/memory.h"

namespace zyl::error {

namespace {

const char* const titles[] = {
    "Throw Error", "note",          "Syntax Error", "Script Error", "Math Error",
    "Access Error", "Reserved1 Error", "Reserved2 Error", "User Error", "Internal Error",
};

// A new error cell for [cat]/[id] with the argument values [args] (null entries are none).
cell make_error(int32_t cat, int32_t id, const cell (&args)[3]) {
    node_id n = series::alloc_cells(3);
    series_buffer* b = memory::buffer_of(n);
    auto* c = reinterpret_cast<cell*>(b->head);
    for (int i = 0; i < 3; i++) c[i] = args[i];
    b->tail = b->head + 3 * sizeof(cell);
    return cell{T_error, n, static_cast<uint32_t>(cat), static_cast<uint32_t>(id)};
}

} // namespace

void raise(int32_t cat, int32_t id, const cell* arg1, const cell* arg2, const cell* arg3) {
    if (!stack::ready()) throw raised{cat, id};
    // Copied first: the arguments may lie in buffers that the allocation below moves.
    const cell none{T_none, 0, 0, 0};
    cell args[3] = {arg1 ? *arg1 : none, arg2 ? *arg2 : none, arg3 ? *arg3 : none};
    cell err = make_error(cat, id, args);
    stack::throw_error(&err);
}

void print_report(const cell* err) {
    uint32_t cat = err->w2;
    const char* title = cat < sizeof titles / sizeof titles[0] ? titles[cat] : "Internal Error";
    std::printf("*** %s: error %u\n*** Where: ???\n*** Near : ???\n", title, err->w3);
}

void exit_uncaught() {
    std::fflush(stdout);
    _exit(UNCAUGHT_STATUS);
}

} // namespace zyl::error
