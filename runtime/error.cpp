// runtime/error.cpp: raising language errors and the report of an uncaught one.
#include "runtime/error.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <cstring>
#include <string>

#include "datatypes/action_types.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error_catalogue.h"
#include "runtime/memory.h"

namespace zyl::error {

namespace {

// A new error cell for [cat]/[id] with the argument values [args] (null entries are none).
cell make_error(int32_t cat, int32_t id, const cell (&args)[3]) {
    node_id n = series::alloc_cells(3);
    series_buffer* b = memory::buffer_of(n);
    auto* c = reinterpret_cast<cell*>(b->head);
    for (int i = 0; i < 3; i++) c[i] = args[i];
    b->tail = b->head + 3 * sizeof(cell);
    return cell{T_error, n, static_cast<uint32_t>(cat), static_cast<uint32_t>(id)};
}

// The molded text of [v] when its type can mold, else its type's name.
std::string mold_arg(const cell* v) {
    auto mold = datatype::action_as<actions::mold_fn>(v->type(), A_mold);
    if (!mold) return datatype::name_of(v->type()) ? datatype::name_of(v->type()) : "?";
    cell out;
    string::make_at(&out, 16);
    mold(v, &out, false, false, true, nullptr, 80, 0);
    return string::to_std(&out);
}

// The message of [err]: its template with :arg1 .. :arg3 replaced by the molded arguments.
std::string message_of(const cell* err) {
    const char* t = catalogue::message_template(static_cast<int32_t>(err->w2), static_cast<int32_t>(err->w3));
    if (!t) return "invalid error";
    std::string out;
    const auto* args = reinterpret_cast<const cell*>(memory::buffer_of(err->w1)->head);
    for (const char* p = t; *p; p++) {
        if (*p == '"') {
            const char* q = std::strchr(p + 1, '"');
            if (!q) break;
            if (!out.empty()) out += ' ';
            out.append(p + 1, q);
            p = q;
        } else if (*p == ':' && std::strncmp(p + 1, "arg", 3) == 0 && p[4] >= '1' && p[4] <= '3') {
            if (!out.empty()) out += ' ';
            out += mold_arg(&args[p[4] - '1']);
            p += 4;
        }
    }
    return out;
}

} // namespace

void raise(int32_t cat, int32_t id, const cell* arg1, const cell* arg2, const cell* arg3) {
    if (!stack::ready()) throw raised{cat, id};
    // Copied first: the arguments may lie in buffers that the allocation below moves.
    const cell none{T_none, 0, 0, 0};
    cell args[3] = {arg1 ? *arg1 : none, arg2 ? *arg2 : none, arg3 ? *arg3 : none};
    collector::keep k_arg1(&args[0]), k_arg2(&args[1]), k_arg3(&args[2]);
    cell err = make_error(cat, id, args);
    stack::throw_error(&err);
}

void raise_bad_make_arg(const cell* datatype, const cell* spec) {
    raise(cat_script, script_bad_make_arg, datatype, spec);
}

const cell* check_arg_type(const cell* ts, int32_t pos, const cell* arg) {
    if (typeset_has(ts, arg->type())) return arg;
    (void)pos; // the argument's word joins the report once function specs exist
    cell none{T_none, 0, 0, 0};
    cell datatype{T_datatype, arg->type(), 0, 0};
    raise(cat_script, script_expect_arg, &none, &datatype, &none);
}

void check_arg_type_at(int32_t index, const cell* ts, int32_t pos) {
    if (index >= 0) check_arg_type(ts, pos, stack::arg(static_cast<uint32_t>(index)));
}

const cell* check_optional_arg_type(const cell* ref, const cell* ts, int32_t pos, const cell* arg) {
    return ref->w1 ? check_arg_type(ts, pos, arg) : arg;
}

void print_report(const cell* err) {
    const char* title = catalogue::category_title(static_cast<int32_t>(err->w2));
    std::string message = message_of(err);
    std::printf("*** %s: %s\n*** Where: ???\n*** Near : ???\n", title ? title : "Internal Error",
                message.c_str());
}

void exit_uncaught() {
    std::fflush(stdout);
    _exit(UNCAUGHT_STATUS);
}

} // namespace zyl::error
