// runtime/error.cpp: raising language errors, the argument type checks, and the report of an
// error on the console.
#include "runtime/error.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error_catalogue.h"
#include "runtime/memory.h"
#include "runtime/platform/console_output.h"
#include "runtime/platform/terminal.h"

namespace zyl::error {

// {== Internal functions

namespace {

// A bare error cell for [cat]/[id] with the argument values [args].
cell make_bare(int32_t cat, int32_t id, const cell (&args)[3]) {
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
    if (!mold) return datatype::name_of(v->type());
    cell value = *v;
    cell* out = string::push_new(16);
    mold(&value, out, false, false, true, nullptr, 80, 0);
    std::string text = string::to_std(out);
    stack::pop(1);
    return text;
}

// The report of bare error [err], made from the catalogue's template text.
std::string bare_report(const cell* err) {
    const char* t = catalogue::message_template(static_cast<int32_t>(err->w2), static_cast<int32_t>(err->w3));
    const char* title = catalogue::category_title(static_cast<int32_t>(err->w2));
    std::string out = std::string("*** ") + (title ? title : "Internal Error") + ": ";
    if (!t) return out + "invalid error\n*** Where: ???\n*** Near : ???";
    size_t start = out.size();
    for (const char* p = t; *p; p++) {
        const char* q = *p == '"' ? std::strchr(p + 1, '"') : nullptr;
        bool arg = *p == ':' && std::strncmp(p + 1, "arg", 3) == 0 && p[4] >= '1' && p[4] <= '3';
        if (!q && !arg) continue;
        if (out.size() > start) out += ' ';
        if (q) {
            out.append(p + 1, q);
            p = q;
        } else {
            cell a = reinterpret_cast<const cell*>(memory::buffer_of(err->w1)->head)[p[4] - '1'];
            out += mold_arg(&a);
            p += 4;
        }
    }
    return out + "\n*** Where: ???\n*** Near : ???";
}

// Hands a new error to the tracer, when one runs, as its error event. An error raised by the
// tracer itself is thrown as any other; the trace call sees no pending exit.
void trace_error(const cell* err) {
    static bool tracing = false;
    if (!interp::is.tracing || tracing) return;
    struct flag_guard {
        uint32_t saved_code = es.throw_code;
        flag_guard() {
            tracing = true;
            es.throw_code = THROW_NONE;
        }
        ~flag_guard() {
            tracing = false;
            es.throw_code = saved_code;
        }
    } guard;
    const cell* no_position = nullptr;
    interp::trace(interp::EV_ERROR, nullptr, no_position, nullptr, err);
}

} // namespace

// }==
// {== Raising

void raise(int32_t cat, int32_t id, const cell* arg1, const cell* arg2, const cell* arg3) {
    if (!stack::ready()) throw raised{cat, id};
    // Copied first: the arguments may lie in buffers that the allocations below move.
    cell args[3] = {arg1 ? *arg1 : none_value, arg2 ? *arg2 : none_value, arg3 ? *arg3 : none_value};
    collector::keep k_arg1{&args[0]}, k_arg2{&args[1]}, k_arg3{&args[2]};
    cell err = ready() ? *create_by_index(cat, id, &args[0], &args[1], &args[2]) : make_bare(cat, id, args);
    collector::keep k_err{&err};
    trace_error(&err);
    stack::throw_error(&err);
}

void raise_bad_make_arg(const cell* datatype, const cell* spec) {
    raise(cat_script, script_bad_make_arg, datatype, spec);
}

const cell* check_arg_type(const cell* ts, int32_t pos, const cell* arg) {
    if (typeset_has(ts, arg->type())) return arg;
    cell datatype{T_datatype, arg->type(), 0, 0};
    cell word = ready() ? arg_word_at(pos) : none_value;
    cell call = stack::ready() ? stack::get_call() : none_value;
    raise(cat_script, script_expect_arg, &call, &datatype, &word);
}

void check_arg_type_at(int32_t index, const cell* ts, int32_t pos) {
    if (index >= 0) check_arg_type(ts, pos, stack::arg(static_cast<uint32_t>(index)));
}

const cell* check_optional_arg_type(const cell* ref, const cell* ts, int32_t pos, const cell* arg) {
    return ref->w1 ? check_arg_type(ts, pos, arg) : arg;
}

int32_t category_index(const cell* err) {
    return is_bare(err) ? static_cast<int32_t>(err->w2) : category_number(err);
}

int32_t message_index(const cell* err) {
    return is_bare(err) ? static_cast<int32_t>(err->w3) : message_number(err);
}

// }==
// {== Reports

void print_report(const cell* err) {
    if (is_bare(err)) {
        std::string text = bare_report(err);
        console::write_cstring(text.c_str());
        console::write_cstring("\n");
        return;
    }
    cell e = *err;
    collector::keep k_err{&e};
    cell* out = string::push_new(256);
    form(&e, out, nullptr, INT32_MAX);
    console::print_string(out, true);
    stack::pop(1);
}

void print_new(int32_t cat, int32_t id, const cell* arg1, const cell* arg2, const cell* arg3) {
    cell body{T_word, 0, es.body_symbol, 0xFFFFFFFF};
    stack::mark_native(&body);
    if (ready()) {
        *es.base = *create_by_index(cat, id, arg1, arg2, arg3);
    } else {
        cell args[3] = {arg1 ? *arg1 : none_value, arg2 ? *arg2 : none_value, arg3 ? *arg3 : none_value};
        *stack::push_slot() = make_bare(cat, id, args);
        *es.base = es.top[-1];
    }
    print_report(es.base);
    *es.base = unset_value;
    stack::unwind();
}

void exit_uncaught() {
    std::fflush(stdout);
    terminal::restore_async(); // no exit handler runs after _exit
    _exit(UNCAUGHT_STATUS);
}

// }==

} // namespace zyl::error
