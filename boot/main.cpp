// boot/main.cpp: the program entry of `zyl`.
//
// Starts the run-time (the library's top level), hands it the command line, then calls the
// console's entry `cli-console-ctx/launch`, which runs a script or the read-eval-print loop.
// When that returns the process ends with status 0; an error that nothing caught is reported
// and ends it with 254.
#include <cstdio>
#include <cstring>
#include <new>

#include "boot/command_line.h"
#include "boot/fault.h"
#include "boot/startup.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/common.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/platform/native_stack.h"

using namespace zyl;

namespace {

struct args {
    int argc;
    char** argv;
};

int run_guarded(args* a);

// Calls `cli-console-ctx/launch` as the start-up's last step: straight from here, so no
// position of the entry's own shows in the reports of errors raised outside user code.
void call_launch() {
    const cell* ctx = context::global_value(symbol::make("cli-console-ctx"));
    if (!ctx || ctx->type() != T_object) runtime_error(101, "the console's entry is missing");
    cell name = word::load("launch");
    const cell* fn = context::find_value(ctx->w1, &name);
    if (!fn || fn->type() != T_function) runtime_error(101, "the console's entry is missing");
    cell f = *fn;
    interp::call_with(&f, es.top, 0);
    if (es.throw_code != THROW_NONE) es.throw_code = THROW_NONE; // nothing is left to catch it
}

// The run-time on the big-stack thread. What escapes it ends the process as a runtime error:
// an exhausted heap 94, a systems throw 95 (or silently for the quiet code).
int run(void* p) {
    try {
        return run_guarded(static_cast<args*>(p));
    } catch (const std::bad_alloc&) {
        runtime_error(RT_OUT_OF_MEMORY);
    } catch (const fault::systems_throw& t) {
        runtime_error(t.code == fault::QUIET_THROW ? 0 : 95, reinterpret_cast<const void*>(&run));
    }
}

int run_guarded(args* a) {
    // Nothing guards the boot top level nor the console's entry: an error there is reported
    // as any uncaught one.
    try {
        runtime::start();
        runtime::set_command_line(a->argc, a->argv);
    } catch (const error::raised&) {
        if (es.top > es.bottom) error::print_report(es.top - 1);
        return error::UNCAUGHT_STATUS;
    }
    int status = 0;
    try {
        call_launch();
    } catch (const error::raised&) {
        if (es.top > es.bottom) error::print_report(es.top - 1);
        status = error::UNCAUGHT_STATUS;
    }
    // Everything the run-time holds goes back, its heap blocks too: a leak checker sees a
    // clean exit.
    runtime::stop();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    fault::install();
    args a{argc, argv};
    int status = native_stack::run(run, &a);
    std::fflush(stdout);
    return status;
}
