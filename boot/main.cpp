// boot/main.cpp: the program entry of `zyl`.
//
// Starts the run-time (the library's top level), hands it the command line, then calls the
// console's entry `cli-console-ctx/launch`, which runs a script or the read-eval-print loop.
// When that returns the process ends with status 0; an error that nothing caught is reported
// and ends it with 254.
#include <cfenv>
#include <cstdio>
#include <cstring>

#include "boot/command_line.h"
#include "boot/fault.h"
#include "boot/startup.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/symbol.h"
#include "eval/interp.h"
#include "eval/stack.h"
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

// The boot top level's last step: the console's `launch`. It runs as the boot top level does,
// as compiled code with no interpreter frame (so reports of errors outside user code show no
// position of its own). Nothing guards it: its error ends the process as the boot top
// level's would, and the process ends when it returns. Sources without a console end here.
void launch_console() {
    const cell* ctx = context::global_value(symbol::make("cli-console-ctx"));
    if (!ctx || ctx->type() != T_object) return;
    static const char call[] = "cli-console-ctx/launch";
    cell* block = runtime::load_text(reinterpret_cast<const uint8_t*>(call), sizeof call - 1);
    interp::is.compiled = true;
    interp::is.events = false;
    interp::eval_block(block, false);
    es.throw_code = THROW_NONE; // a stray exit has nothing left to reach
    stack::pop(2);
}

// The run-time on the big-stack thread. What escapes it ends the process as a runtime error:
// an exhausted heap 94, a systems throw 95 (or silently for the quiet code).
int run(void* p) {
    fault::take();
    try {
        return run_guarded(static_cast<args*>(p));
    } catch (...) {
        fault::end_escaped();
    }
}

int run_guarded(args* a) {
    // Nothing guards the boot top level nor the console's entry: an error there is reported
    // as any uncaught one.
    try {
        runtime::start();
        runtime::set_command_line(a->argc, a->argv);
        launch_console();
    } catch (const error::raised&) {
        if (es.top > es.bottom) error::print_report(es.top - 1);
        return error::UNCAUGHT_STATUS;
    }
    // Everything the run-time holds goes back, its heap blocks too: a leak checker sees a
    // clean exit.
    runtime::stop();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Round to nearest, every float exception masked: float code yields infinities and NaNs,
    // never SIGFPE. The run-time's thread inherits this environment.
    std::fesetenv(FE_DFL_ENV);
    fault::install();
    args a{argc, argv};
    fault::hold(); // the run-time's thread inherits the mask and takes the signals back
    int status = native_stack::run(run, &a);
    fault::take();
    std::fflush(stdout);
    return status;
}
