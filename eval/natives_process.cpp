// eval/natives_process.cpp: call and browse, the natives that start other programs through the
// process service (services/process.h).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/core.h"
#include "datatypes/file_url.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/control_internal.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "services/process.h"

namespace zyl::natives {

namespace {

using control::check_arg;

// {== Internal functions

constexpr cell ts_command = typeset::of({T_string, T_file});
constexpr cell ts_io = typeset::unite(typeset::standard::any_string, typeset::of({T_binary}));
constexpr cell ts_browse = typeset::of({T_url, T_file});

inline void check_refinement(int32_t check, const cell& ts, int32_t pos) {
    if (check && pos >= 0) error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
}

// The local path of file [v]; a NUL in it raises invalid-arg.
std::string path_of(const cell* v) {
    node_id conv = 0;
    collector::keep_node k{&conv};
    return file::to_local_path(v, conv);
}

// The absolute local path of file [v]: a file! command names a file, not a program on PATH.
std::string full_path_of(const cell* v) {
    cell* full = string::push_new(64);
    file::to_local_text(v, full, true);
    std::string path = string::utf8_of(full);
    stack::pop(1);
    if (path.find('\0') != std::string::npos) error::raise(error::cat_script, error::script_invalid_arg, v);
    return path;
}

// [text] quoted for /bin/sh: one word whatever it holds.
std::string shell_quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The refinement word [name], for the limit-hit error of a capture.
cell refinement_word(const char* name) {
    cell w = word::load(name);
    cells::set_type(&w, T_refinement);
    return w;
}

// Where the bytes of a /input value come from. [text] keeps a text's UTF-8 alive.
void input_stream(const cell* v, process::stream_spec& s, std::string& text) {
    if (v->type() == T_file) {
        s.kind = process::stream_kind::file;
        s.path = path_of(v);
    } else if (v->type() == T_binary) {
        s.kind = process::stream_kind::bytes;
        s.data = binary::head_pointer(const_cast<cell*>(v)); // no allocation until the child has run
        s.length = binary::rs_length_q(const_cast<cell*>(v));
    } else {
        text = string::utf8_of(v);
        s.kind = process::stream_kind::bytes;
        s.data = reinterpret_cast<const uint8_t*>(text.data());
        s.length = text.size();
    }
}

void output_stream(const cell* v, process::stream_spec& s) {
    if (v->type() == T_file) {
        s.kind = process::stream_kind::file;
        s.path = path_of(v);
    } else {
        s.kind = process::stream_kind::bytes;
    }
}

// Appends captured [bytes] to [target]: a binary! takes them as they are; a text decodes them
// as UTF-8, each byte that is no UTF-8 becoming U+FFFD.
void append_capture(const cell* target, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    if (target->type() == T_binary) {
        binary::append_bytes(target, bytes.data(), uint32_t(bytes.size()));
        return;
    }
    std::string clean = unicode::repair_utf8(bytes.data(), bytes.size());
    int64_t remaining = 0;
    unicode::load_utf8(reinterpret_cast<const uint8_t*>(clean.data()), int64_t(clean.size()), target->w2, remaining,
                       false);
}

// }==
// {== Natives

// call: cmd [/wait] [/show] [/console] [/shell] [/input in] [/output out] [/error err]
void call_(int32_t check, int32_t wait_, int32_t show, int32_t console, int32_t shell, int32_t input, int32_t output,
           int32_t error_) {
    (void)show; // there is no window to show or hide
    check_arg(check, ts_command, 0);
    check_refinement(check, ts_io, input);
    check_refinement(check, ts_io, output);
    check_refinement(check, ts_io, error_);
    const cell* cmd = stack::arg(0);
    auto finish = [](int32_t n) {
        cell r = integer::make_value(n);
        stack::set_last_keep(&r);
    };
    if (string::length_of(cmd) == 0) return finish(0);

    process::spec s;
    std::string program = cmd->type() == T_file ? full_path_of(cmd) : std::string();
    std::string text = cmd->type() == T_file ? shell_quoted(program) : string::utf8_of(cmd);
    // A NUL would cut the command short where the system reads it.
    if (text.find('\0') != std::string::npos) error::raise(error::cat_script, error::script_invalid_arg, cmd);
    if (shell >= 0) {
        s.argv = {"/bin/sh", "-c", text};
    } else if (cmd->type() == T_file) {
        s.argv = {program};
    } else if (!process::split_command(text, s.argv)) {
        error::raise(error::cat_script, error::script_invalid_arg, cmd);
    }
    if (s.argv.empty()) return finish(0);
    s.shell_on_enoent = shell < 0;
    s.shell_text = text;

    auto io_stream = console >= 0 ? process::stream_kind::inherit : process::stream_kind::null_device;
    s.in.kind = s.out.kind = s.err.kind = io_stream;
    std::string input_text;
    const cell* out = output >= 0 ? stack::arg(uint32_t(output)) : nullptr;
    const cell* err = error_ >= 0 ? stack::arg(uint32_t(error_)) : nullptr;
    if (out) output_stream(out, s.out);
    if (err) output_stream(err, s.err);
    // Last: a binary's bytes are taken in place, and nothing may allocate after that.
    if (input >= 0) input_stream(stack::arg(uint32_t(input)), s.in, input_text);
    s.wait = wait_ >= 0 || console >= 0 || input >= 0 || out || err;
    s.capture_limit = MAX_BUFFER_BYTES;

    std::fflush(nullptr); // our own output comes before the child's
    process::result r = process::run(s);
    if (r.how == process::outcome::too_large) {
        cell w = refinement_word(r.error_too_large ? "error" : "output");
        error::raise(error::cat_internal, error::internal_limit_hit, &w);
    }
    if (r.how == process::outcome::not_started) return finish(-1);
    if (r.how == process::outcome::started) return finish(int32_t(r.pid));
    for (auto [target, bytes] : {std::pair{out, &r.out}, std::pair{err, &r.err}}) {
        if (!target || target->type() == T_file) continue;
        uint64_t have = target->type() == T_binary ? binary::rs_length_q(const_cast<cell*>(target))
                                                   : string::length_of(target);
        if (have + bytes->size() > MAX_BUFFER_BYTES) {
            cell w = refinement_word(target == out ? "output" : "error");
            error::raise(error::cat_internal, error::internal_limit_hit, &w);
        }
        append_capture(target, *bytes);
    }
    finish(r.status);
}

// browse: url. Hands the URL, or the file's absolute path, to the desktop's opener in a
// session of its own; it is reaped by a later call.
void browse(int32_t check) {
    check_arg(check, ts_browse, 0);
    const cell* v = stack::arg(0);
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    bool desktop = (display && *display) || (wayland && *wayland);
    if (!desktop || !process::on_path("xdg-open")) {
        cell name = word::load("browse");
        error::raise(error::cat_internal, error::internal_not_here, &name);
    }
    std::string target = v->type() == T_file ? full_path_of(v) : string::utf8_of(v);
    // The opener would read a leading "-" as one of its options.
    if (target.empty() || target[0] == '-' || target.find('\0') != std::string::npos)
        error::raise(error::cat_script, error::script_invalid_arg, v);
    process::spec s;
    s.argv = {"xdg-open", target};
    s.detach = true;
    std::fflush(nullptr);
    process::run(s);
    stack::set_last_keep(&unset_value);
}

// }==

template <typename F> entry_fn e(F f) { return reinterpret_cast<entry_fn>(f); }

} // namespace

// {== Registration

void init_process() {
    set_entry(99, e(&call_));
    set_entry(102, e(&browse));
}

// }==

} // namespace zyl::natives
