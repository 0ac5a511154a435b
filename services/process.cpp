// services/process.cpp: the process service: argv splitting, spawning with redirections, the
// poll loop over the child's pipes and the reaping of unwaited children.
#include "services/process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zyl::process {

namespace {

// {== Internal functions

// Children started without waiting; each is reaped by a later run once it has ended.
std::vector<pid_t> started_children;

struct fd_set_guard {
    int fds[8];
    int n = 0;
    int add(int fd) { return fds[n++] = fd; }
    void close_one(int& fd) {
        if (fd < 0) return;
        ::close(fd);
        for (int i = 0; i < n; i++)
            if (fds[i] == fd) fds[i] = -1;
        fd = -1;
    }
    ~fd_set_guard() {
        for (int i = 0; i < n; i++)
            if (fds[i] >= 0) ::close(fds[i]);
    }
};

inline bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int status_of(int st) {
    if (WIFEXITED(st)) return WEXITSTATUS(st);
    if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
    return -1;
}

int wait_child(pid_t pid) {
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status_of(st);
}

void kill_and_reap(pid_t pid) {
    ::kill(pid, SIGKILL);
    wait_child(pid);
}

int64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The child's end of stream [s] for standard stream [target] (0, 1 or 2) into [child]; for a
// pipe the parent's end goes to [parent]. False when a file or a pipe cannot be opened.
bool open_stream(const stream_spec& s, int target, fd_set_guard& fds, int& child, int& parent, int& null_fd) {
    child = parent = -1;
    switch (s.kind) {
    case stream_kind::inherit: return true;
    case stream_kind::null_device:
        if (null_fd < 0) null_fd = fds.add(::open("/dev/null", O_RDWR | O_CLOEXEC));
        child = null_fd;
        return child >= 0;
    case stream_kind::file:
        child = target == 0 ? ::open(s.path.c_str(), O_RDONLY | O_CLOEXEC)
                            : ::open(s.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (child < 0) return false;
        fds.add(child);
        return true;
    case stream_kind::bytes: {
        int p[2];
        if (::pipe2(p, O_CLOEXEC) < 0) return false;
        child = fds.add(target == 0 ? p[0] : p[1]);
        parent = fds.add(target == 0 ? p[1] : p[0]);
        ::fcntl(parent, F_SETFL, O_NONBLOCK);
        // Larger pipes mean fewer wake-ups for big transfers; refused sizes are harmless.
        ::fcntl(parent, F_SETPIPE_SZ, 1 << 20);
        return true;
    }
    }
    return false;
}

// Reads what [fd] has into [into], whose first [filled] bytes hold data (its size is its
// room); false at its end (or on an error, which ends the capture).
bool drain(int fd, std::vector<uint8_t>& into, size_t& filled) {
    for (;;) {
        if (filled == into.size()) into.resize(std::max<size_t>(65536, into.size() * 2));
        size_t room = into.size() - filled;
        ssize_t n = ::read(fd, into.data() + filled, room);
        if (n > 0) {
            filled += size_t(n);
            if (size_t(n) < room) return true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && errno == EAGAIN;
    }
}

// Feeds the input and drains the captures until all are at their end, then waits for the
// child. [r] receives the outcome.
void pump(const spec& s, pid_t pid, int in_fd, int out_fd, int err_fd, fd_set_guard& fds, result& r) {
    size_t sent = 0, out_filled = 0, err_filled = 0;
    struct trim { // the captures keep only the bytes read, however the loop ends
        result& r;
        size_t &o, &e;
        ~trim() { r.out.resize(o), r.err.resize(e); }
    } trimmed{r, out_filled, err_filled};
    int64_t deadline = s.timeout_ms >= 0 ? now_ms() + s.timeout_ms : -1;
    if (in_fd >= 0 && s.in.length == 0) fds.close_one(in_fd);
    while (in_fd >= 0 || out_fd >= 0 || err_fd >= 0) {
        pollfd p[3];
        int n = 0, i_in = -1, i_out = -1, i_err = -1;
        if (in_fd >= 0) i_in = n, p[n++] = {in_fd, POLLOUT, 0};
        if (out_fd >= 0) i_out = n, p[n++] = {out_fd, POLLIN, 0};
        if (err_fd >= 0) i_err = n, p[n++] = {err_fd, POLLIN, 0};
        int wait_ms = -1;
        if (deadline >= 0) {
            wait_ms = int(std::max<int64_t>(0, deadline - now_ms()));
            if (wait_ms == 0) {
                kill_and_reap(pid);
                r.how = outcome::timed_out;
                return;
            }
        }
        int ready = ::poll(p, nfds_t(n), wait_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (i_in >= 0 && p[i_in].revents) {
            ssize_t w = ::write(in_fd, s.in.data + sent, std::min<size_t>(s.in.length - sent, 1 << 20));
            if (w > 0) sent += size_t(w);
            // A child that stops reading (EPIPE) leaves the rest of its input unread.
            if ((w < 0 && errno != EAGAIN && errno != EINTR) || sent == s.in.length) fds.close_one(in_fd);
        }
        if (i_out >= 0 && p[i_out].revents && !drain(out_fd, r.out, out_filled)) fds.close_one(out_fd);
        if (i_err >= 0 && p[i_err].revents && !drain(err_fd, r.err, err_filled)) fds.close_one(err_fd);
        if (out_filled > s.capture_limit || err_filled > s.capture_limit) {
            r.error_too_large = err_filled > s.capture_limit;
            kill_and_reap(pid);
            r.how = outcome::too_large;
            return;
        }
    }
    if (deadline < 0) {
        r.status = wait_child(pid);
        r.how = outcome::exited;
        return;
    }
    for (;;) {
        int st = 0;
        pid_t w = ::waitpid(pid, &st, WNOHANG);
        if (w == pid) {
            r.status = status_of(st);
            r.how = outcome::exited;
            return;
        }
        if (w < 0 && errno != EINTR) {
            r.how = outcome::exited;
            return;
        }
        if (now_ms() >= deadline) {
            kill_and_reap(pid);
            r.how = outcome::timed_out;
            return;
        }
        timespec nap = {0, 2000000};
        nanosleep(&nap, nullptr);
    }
}

// }==

} // namespace

bool split_command(std::string_view text, std::vector<std::string>& argv) {
    std::string word;
    bool in_word = false;
    size_t i = 0, n = text.size();
    while (i < n) {
        char c = text[i];
        if (c == '\0') return false;
        if (blank(c)) {
            if (in_word) argv.push_back(std::move(word)), word.clear(), in_word = false;
            i++;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            size_t close = text.find('\'', i + 1);
            if (close == std::string_view::npos) return false;
            std::string_view inner = text.substr(i + 1, close - i - 1);
            if (inner.find('\0') != std::string_view::npos) return false;
            word.append(inner);
            i = close + 1;
        } else if (c == '"') {
            for (i++;; i++) {
                if (i >= n || text[i] == '\0') return false;
                if (text[i] == '"') break;
                if (text[i] == '\\' && i + 1 < n && (text[i + 1] == '"' || text[i + 1] == '\\')) i++;
                word += text[i];
            }
            i++;
        } else if (c == '\\' && i + 1 < n) {
            if (text[i + 1] == '\0') return false;
            word += text[i + 1];
            i += 2;
        } else {
            word += c;
            i++;
        }
    }
    if (in_word) argv.push_back(std::move(word));
    return true;
}

bool on_path(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path || !*name || std::strchr(name, '/')) return false;
    std::string_view rest(path);
    while (true) {
        size_t colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        std::string full = (dir.empty() ? std::string(".") : dir) + "/" + name;
        struct stat st;
        if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(full.c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        rest.remove_prefix(colon + 1);
    }
}

void reap_started() {
    std::erase_if(started_children, [](pid_t pid) {
        int st;
        pid_t w = ::waitpid(pid, &st, WNOHANG);
        return w == pid || (w < 0 && errno == ECHILD);
    });
}

result run(const spec& s) {
    reap_started();
    result r;
    if (s.argv.empty()) return r;
    fd_set_guard fds;
    int null_fd = -1;
    int child[3], parent[3];
    const stream_spec* streams[3] = {&s.in, &s.out, &s.err};
    for (int i = 0; i < 3; i++) {
        if (!open_stream(*streams[i], i, fds, child[i], parent[i], null_fd)) return r;
    }

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    for (int i = 0; i < 3; i++) {
        if (child[i] >= 0) posix_spawn_file_actions_adddup2(&fa, child[i], i);
    }
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (s.detach) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);

    auto spawn = [&](const std::vector<std::string>& args) {
        std::vector<char*> v;
        for (const std::string& a : args) v.push_back(const_cast<char*>(a.c_str()));
        v.push_back(nullptr);
        return posix_spawnp(&r.pid, v[0], &fa, &attr, v.data(), environ);
    };
    int e = spawn(s.argv);
    if (e == ENOENT && s.shell_on_enoent) e = spawn({"/bin/sh", "-c", s.shell_text});
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (e != 0) {
        r.pid = 0;
        return r;
    }
    for (int i = 0; i < 3; i++) {
        if (child[i] >= 0 && child[i] != null_fd) fds.close_one(child[i]);
    }
    fds.close_one(null_fd);
    bool piped = parent[0] >= 0 || parent[1] >= 0 || parent[2] >= 0;
    if (!s.wait && !piped) {
        started_children.push_back(r.pid);
        r.how = outcome::started;
        return r;
    }
    pump(s, r.pid, parent[0], parent[1], parent[2], fds, r);
    return r;
}

} // namespace zyl::process
