// services/process.h: running external programs: command-line splitting, posix_spawn with
// pipes, one poll loop that feeds standard input and drains both outputs, and the reaping
// of children nobody waits for. Plain bytes in and out; no run-time memory is touched.
//
// Every descriptor the child gets besides 0-2 is closed at its start, its signal mask is
// empty and SIGPIPE and SIGXFSZ are at their default, whatever this process set for itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace zyl::process {

// Splits command text [text] into [argv] as a shell would split it, without expanding
// anything: blanks separate, single quotes keep their text as it is, double quotes group
// (with \" and \\ as escapes), a backslash outside quotes escapes the next character.
// False for an unclosed quote or a NUL.
bool split_command(std::string_view text, std::vector<std::string>& argv);

// Where one standard stream of the child goes.
enum class stream_kind { null_device, inherit, bytes, file };

struct stream_spec {
    stream_kind kind = stream_kind::null_device;
    std::string path;              // file
    const uint8_t* data = nullptr; // bytes (input only): must stay valid while the call runs
    size_t length = 0;
};

struct spec {
    std::vector<std::string> argv; // argv[0] is looked up on PATH
    stream_spec in, out, err;
    bool wait = false;           // wait for the end (forced by any bytes stream)
    bool detach = false;         // a session of its own (browse)
    bool shell_on_enoent = false; // an unknown program is retried through /bin/sh -c [shell_text]
    std::string shell_text;
    int timeout_ms = -1;         // waiting longer kills the child (the clipboard tools)
    size_t capture_limit = SIZE_MAX;
};

enum class outcome {
    exited,      // status holds the exit status, or 128 + the signal
    started,     // not waited for: pid holds the child, reaped later
    not_started, // the program, a pipe or a redirection file could not be opened
    too_large,   // a capture passed capture_limit: the child was killed and reaped
    timed_out,   // timeout_ms passed: the child was killed and reaped
};

struct result {
    outcome how = outcome::not_started;
    int status = -1;
    pid_t pid = 0;
    bool error_too_large = false; // which capture passed the limit
    std::vector<uint8_t> out, err; // the captures of bytes streams
};

// Runs [s]. Reaps finished children of earlier unwaited runs first.
result run(const spec& s);

// Whether program [name] is an executable file on PATH.
bool on_path(const char* name);

// Reaps, without waiting, the children started without waiting that have ended.
void reap_started();

} // namespace zyl::process
