// boot/main.cpp: the program entry of `zyl`.
//
// Until the console of the library exists, `zyl` is a development driver: it reads a script
// file (`zyl file.zyl`) or standard input, evaluates each top-level expression and prints
// what the console prints: "== " and the molded result, nothing for unset, or the error
// report, which does not stop the expressions after it. Standard input is read as the
// console reads it: each line is one input (a value left open at its end continues on the
// next line), evaluated whole, and its last value is printed.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "boot/command_line.h"
#include "boot/driver_input.h"
#include "boot/fault.h"
#include "boot/startup.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/platform/console_output.h"
#include "runtime/platform/native_stack.h"
#include "runtime/words.h"

using namespace zyl;

namespace {

// The frame name of the driver's own frames: the console evaluates input with `do`, so an
// error at the top level reports it as its "where".
cell driver_word() {
    static cell w = word::load("do");
    return w;
}

// Prints "== " and the molded value (a float formed), nothing for unset.
void print_result(const cell* value) {
    if (value->type() == T_unset) return;
    cell* v = stack::push(value);
    cell* out = stack::push_slot();
    static const uint8_t prefix[] = "== ";
    string::load_at(prefix, 3, out, string::ENCODING_UTF8);
    if (v->type() == T_float_)
        actions::form_typed(v, out, nullptr, 0x7FFFFFFF);
    else
        actions::mold_typed(v, out, false, false, false, nullptr, 0x7FFFFFFF, 0);
    console::print_string(out, true);
    stack::pop(2);
}

// The catalogued error of an exit that nothing caught at the top level.
void raise_stray_exit(uint32_t code) {
    es.throw_code = THROW_NONE;
    switch (code) {
    case THROW_BREAK: error::raise(error::cat_throw, error::throw_break);
    case THROW_CONTINUE: error::raise(error::cat_throw, error::throw_continue);
    case THROW_THROW: error::raise(error::cat_throw, error::throw_throw);
    default: error::raise(error::cat_throw, error::throw_return);
    }
}

// The stacks as they were before a guarded step; restored after it, error or not.
struct stack_mark {
    cell* top = es.top;
    cell* base = es.base;
    call_frame* ftop = es.ftop;
    void restore() const {
        es.top = top;
        es.base = base;
        es.ftop = ftop;
        es.throw_code = THROW_NONE;
    }
};

// Prints the report of the error that a raise left on the stack top.
void report_raised(const stack_mark& m) {
    cell err = es.top > es.bottom ? es.top[-1] : none_value;
    m.restore();
    cell* e = stack::push(&err); // rooted while the report is made
    error::print_report(e);
    m.restore();
}

// print_result under a try frame of its own: molding can fail too (text that is not UTF-8).
void print_guarded(const cell* value) {
    stack_mark m;
    cell v = *value;
    cell w = driver_word();
    stack::mark_try(&w);
    cell* kept = stack::push(&v);
    try {
        print_result(kept);
        m.restore();
    } catch (const error::raised&) { report_raised(m); }
}

// Evaluates [block] (on the stack) as the console evaluates one input: the whole block, then
// its last value is printed; an error stops it. Answers whether no error was raised.
bool eval_input(cell* block, uint32_t skip) {
    stack_mark m;
    cell w = driver_word();
    stack::mark_try(&w);
    cell* result = stack::push_slot();
    try {
        cell code = *block;
        code.w1 += skip;
        interp::eval_block(&code, true);
        if (es.throw_code != THROW_NONE) raise_stray_exit(es.throw_code);
        cell r = *result;
        m.restore();
        print_guarded(&r);
        return true;
    } catch (const error::raised&) {
        report_raised(m);
        return false;
    }
}

// Evaluates the values of [block] (on the stack) expression by expression, printing each
// result; an error does not stop the expressions after it (evaluation goes on at the next
// line). Answers whether every expression ran without an error.
bool eval_top_level(cell* block, uint32_t skip) {
    bool ok = true;
    uint32_t index = block->w1 + skip;
    cell* position = interp::is.position;
    cell saved_position = position ? *position : unset_value;
    for (;;) {
        auto len = static_cast<uint32_t>(memory::buffer_of(block->w2)->used_bytes() / sizeof(cell));
        if (index >= len) break;
        stack_mark m;
        if (position) { // an error reports the code near the expression being evaluated
            *position = *block;
            position->w1 = index;
        }
        cell w = driver_word();
        stack::mark_try(&w);
        cell* result = stack::push_slot();
        try {
            index = interp::eval_expression_at(block, index, len, false, false, false);
            if (es.throw_code != THROW_NONE) raise_stray_exit(es.throw_code);
            cell r = *result;
            m.restore();
            print_guarded(&r);
        } catch (const error::raised&) {
            ok = false;
            report_raised(m);
            // Where the failed expression ends is not known: go on at the next line.
            const cell* head = reinterpret_cast<const cell*>(memory::buffer_of(block->w2)->head);
            len = static_cast<uint32_t>(memory::buffer_of(block->w2)->used_bytes() / sizeof(cell));
            index++;
            while (index < len && !(head[index].header & CELL_NEW_LINE)) index++;
        }
    }
    if (position) *position = saved_position;
    return ok;
}

// Whether [text] leaves a brace string open: the lexer reports that as an invalid string,
// but at the console the string goes on at the next line. Braces inside double-quoted
// strings, comments and characters don't count.
bool brace_open(const std::string& text) {
    int depth = 0;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); i++) {
        char ch = text[i];
        if (ch == '^' && i + 1 < text.size()) {
            i++; // an escaped character
        } else if (quoted) {
            if (ch == '"' || ch == '\n') quoted = false;
        } else if (depth == 0 && ch == ';') {
            while (i < text.size() && text[i] != '\n') i++;
        } else if (depth == 0 && ch == '"') {
            quoted = true;
        } else if (ch == '{') {
            depth++;
        } else if (ch == '}' && depth > 0) {
            depth--;
        }
    }
    return depth > 0;
}

// Whether the missing-delimiter error just raised (the last pushed cell) misses a closing
// one: more input may close the value. A close without its open (`1 + )`) is an error now.
bool closer_missing() {
    const cell* err = es.top > es.bottom ? es.top - 1 : nullptr;
    if (!err || err->type() != T_error) return true;
    const cell* missing = error::field(err, error::F_ARG2);
    return missing->type() != T_char_ ||
           (missing->w2 != '(' && missing->w2 != '[' && missing->w2 != '{');
}

// Loads [text] inside a try frame; answers the block pushed on the stack, or null after
// printing the syntax error. [incomplete] is set when the text ends inside an open value
// (then nothing is printed: more input may close it), unless [final].
cell* load_guarded(const std::string& text, bool* incomplete, bool final) {
    *incomplete = false;
    cell* slot = stack::push_slot();
    stack_mark m;
    cell w = driver_word();
    stack::mark_try(&w);
    try {
        cell* b = runtime::load_text(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        *slot = *b;
        m.restore();
        return slot;
    } catch (const error::raised& e) {
        if (!final && e.category == error::cat_syntax &&
            ((e.id == error::syntax_missing && closer_missing()) ||
             (e.id == error::syntax_invalid && brace_open(text))))
            *incomplete = true;
        else
            report_raised(m);
        m.restore();
        es.top = slot;
        return nullptr;
    }
}

// The number of values a script header takes: `Zyl [...]` at the head.
uint32_t header_length(const cell* block) {
    const cell* head =
        reinterpret_cast<const cell*>(memory::buffer_of(block->w2)->head) + block->w1;
    uint32_t len =
        static_cast<uint32_t>(memory::buffer_of(block->w2)->used_bytes() / sizeof(cell)) -
        block->w1;
    if (len >= 2 && head[0].type() == T_word && head[1].type() == T_block) {
        const char* name = symbol::c_name(head[0].w2);
        if (std::strcmp(name, "Zyl") == 0) return 2;
    }
    return 0;
}

struct args {
    int argc;
    char** argv;
};

int run_file(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "zyl: cannot open %s\n", path);
        return 1;
    }
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    bool incomplete;
    cell* block = load_guarded(text, &incomplete, true);
    if (!block) return error::UNCAUGHT_STATUS;
    return eval_top_level(block, header_length(block)) ? 0 : error::UNCAUGHT_STATUS;
}

int run_stdin() {
    std::string pending, line;
    bool first = true;
    driver_input::reader input; // the line editor when on a terminal
    while (input.next(line)) {
        if (input.escaped) {
            pending.clear();
            continue;
        }
        pending += line;
        bool incomplete;
        cell* block = load_guarded(pending, &incomplete, false);
        if (incomplete) continue;
        if (block) {
            eval_input(block, first ? header_length(block) : 0);
            stack::pop(1);
        }
        first = false;
        pending.clear();
    }
    if (!pending.empty()) { // input ended inside an open value: report what is missing
        bool incomplete;
        load_guarded(pending, &incomplete, true);
    }
    return 0;
}

int run_guarded(args* a);

// The boot top level's last step: the console's `launch`, once the console sources define
// `cli-console-ctx`; answers false while they don't (the driver above stands in for it).
// Nothing guards it: its error ends the process as the boot top level's would, and the
// process ends when it returns.
bool launch_console() {
    const cell* ctx = context::global_value(symbol::make("cli-console-ctx"));
    if (!ctx || ctx->type() != T_object) return false;
    static const char call[] = "cli-console-ctx/launch";
    cell* block = runtime::load_text(reinterpret_cast<const uint8_t*>(call), sizeof call - 1);
    // The call is the boot top level's, which runs as compiled code: no interpreter frame.
    interp::is.compiled = true;
    interp::is.events = false;
    interp::eval_block(block, false);
    stack::pop(2);
    return true;
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
    try {
        runtime::start();
        runtime::set_command_line(a->argc, a->argv);
        if (launch_console()) {
            runtime::stop();
            return 0;
        }
    } catch (const error::raised&) {
        // Nothing guards the boot top level: its error is reported as any uncaught one.
        if (es.top > es.bottom) error::print_report(es.top - 1);
        return error::UNCAUGHT_STATUS;
    }
    int status = a->argc > 1 && std::strcmp(a->argv[1], "-") != 0 ? run_file(a->argv[1]) : run_stdin();
    // Everything the run-time holds goes back, its heap blocks too: a leak checker sees a
    // clean exit.
    runtime::stop();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0)) {
        std::printf("Zyl %s\n", ZYL_VERSION);
        return 0;
    }
    fault::install();
    args a{argc, argv};
    int status = native_stack::run(run, &a);
    std::fflush(stdout);
    return status;
}
