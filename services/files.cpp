// services/files.cpp: the file service over POSIX: whole-file reads (files, pipes and /proc
// files alike), sorted folder listings, whole-file writes through a temporary file, and the
// small questions of the routines. Interface and invariants: services/files.h.
#include "services/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <emmintrin.h>
#include <memory>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/file_url.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/platform/console_output.h"
#include "runtime/unicode.h"
#include "services/text_load.h"

namespace zyl::files {

namespace {

// {== Paths and errors

// The UTF-8 path of file [value], copied out of the run-time's buffers.
std::string local_path(const cell* value) {
    node_id conv = 0;
    collector::keep_node k_conv{&conv};
    return file::to_local_path(value, conv);
}

// Raises access [id] with file [value] and the system's reason for [err].
[[noreturn]] void raise_system(int32_t id, const cell* value, int err) {
    cell file = *value;
    collector::keep k_file{&file};
    cell* reason = string::from_utf8(stack::push_slot(), std::strerror(err));
    error::raise(error::cat_access, id, &file, reason);
}

[[noreturn]] void cannot_open(const cell* value, int err) { raise_system(error::access_cannot_open, value, err); }

// Closes a descriptor when the scope ends, also when an error unwinds it.
struct fd_guard {
    int fd = -1;
    ~fd_guard() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads up to [n] bytes into [p], over short counts and interrupted calls, to the end of
// the file; returns the bytes read, or -1 with errno set.
int64_t read_full(int fd, uint8_t* p, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, p + got, n - got);
        if (r == 0) break;
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        got += size_t(r);
    }
    return int64_t(got);
}

// Writes all [n] bytes of [p]; false with errno set when the system refuses. Large writes go
// in pieces: the kernel copies a piece while it is still in the cache, several times faster
// than one call over 100 MB.
bool write_full(int fd, const uint8_t* p, size_t n) {
    constexpr size_t PIECE = 256 * 1024;
    while (n > 0) {
        ssize_t w = ::write(fd, p, std::min(n, PIECE));
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

// }==
// {== Reading

// The empty result of a read: "", #{} or [].
cell* empty_result(bool binary, bool lines, cell* out) {
    if (binary) return binary::make_at(out, 1);
    if (lines) return block::make_at(out, 1);
    return string::make_at(out, 1);
}

// Makes [out] a block of the LF-ended lines of [p, p + n) (one CR before an LF dropped).
cell* split_lines(const uint8_t* p, size_t n, cell* out) {
    const uint8_t* end = p + n;
    int32_t count = int32_t(std::count(p, end, uint8_t('\n'))) + 1;
    block::make_at(out, count);
    node_id blk = out->w2;
    while (p < end) {
        const uint8_t* lf = static_cast<const uint8_t*>(std::memchr(p, '\n', size_t(end - p)));
        const uint8_t* stop = lf ? lf : end;
        size_t len = size_t(stop - p);
        if (lf && len > 0 && stop[-1] == '\r') len--;
        string::load_in(p, int64_t(len), blk, string::ENCODING_UTF8);
        p = lf ? lf + 1 : end;
    }
    return out;
}

// Where UTF-8 text starts: past a leading byte-order mark of the [n] bytes at [p].
size_t text_start(const uint8_t* p, size_t n) { return n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF ? 3 : 0; }

// The text of the UTF-8 bytes [at]() from [from] to [n], measured [m], made in [out] at its
// final size and width. [at] answers where the bytes are once [out] is made: they may lie in
// a series that the allocation moves.
template <typename F>
cell* decode_text(F at, size_t from, size_t n, const text_load::measure_t& m, const cell* source, cell* out) {
    if (m.chars * m.unit > MAX_BUFFER_BYTES) error::raise(error::cat_internal, error::internal_limit_hit, source);
    string::make_at_sized(out, uint32_t(std::max<uint64_t>(m.chars, 1)), m.unit);
    series_buffer* b = memory::buffer_of(out->w2); // nothing allocates while it decodes
    b->tail = text_load::decode(at() + from, n - from, b->head, m);
    return out;
}

// Makes [out] the value of the bytes read: a binary!, lines or UTF-8 text.
cell* value_of_bytes(const uint8_t* p, size_t n, bool binary, bool lines, const cell* source, cell* out) {
    if (binary) {
        binary::make_at(out, uint32_t(std::max<size_t>(n, 1)));
        binary::append_bytes(out, p, uint32_t(n));
        return out;
    }
    if (lines) return split_lines(p, n, out);
    size_t from = text_start(p, n);
    return decode_text([p] { return p; }, from, n, text_load::measure(p + from, n - from), source, out);
}

// Reads [fd] to its end (a pipe, a device, a /proc file), skipping [seek] bytes and keeping
// at most [part]; [source] names the file in errors.
std::vector<uint8_t> stream(int fd, int64_t part, int64_t seek, const cell* source) {
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    int64_t skip = std::max<int64_t>(seek, 0);
    for (;;) {
        int64_t r = read_full(fd, chunk, sizeof chunk);
        if (r < 0) cannot_open(source, errno);
        int64_t from = std::min(skip, r);
        skip -= from;
        bytes.insert(bytes.end(), chunk + from, chunk + r);
        if (part >= 0 && int64_t(bytes.size()) >= part) {
            bytes.resize(size_t(part));
            break;
        }
        if (bytes.size() > MAX_BUFFER_BYTES) error::raise(error::cat_internal, error::internal_limit_hit, source);
        if (r < int64_t(sizeof chunk)) break;
    }
    return bytes;
}

// Whether the [n] bytes at [p] are all ASCII, 64 at a time.
bool all_ascii(const uint8_t* p, size_t n) {
    size_t i = 0;
    __m128i any = _mm_setzero_si128();
    for (; i + 64 <= n; i += 64) {
        auto at = [p, i](size_t k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + k)); };
        any = _mm_or_si128(any, _mm_or_si128(_mm_or_si128(at(0), at(16)), _mm_or_si128(at(32), at(48))));
    }
    uint32_t rest = 0;
    for (; i < n; i++) rest |= p[i];
    return _mm_movemask_epi8(any) == 0 && rest < 0x80;
}

// What reading a text found: whether every piece so far was ASCII, else where the text
// starts (past a byte-order mark) and its measure as UTF-8.
struct text_measure {
    bool ascii = true;
    size_t from = 0;
    text_load::measure_t m{0, 1};
};

// Measures the [n] bytes read at [at] into the text at [p]. The ASCII bytes before the first
// other piece count one character each.
void scan(const uint8_t* p, size_t at, size_t n, text_measure& t) {
    size_t skip = 0;
    if (t.ascii) {
        if (all_ascii(p + at, n)) return;
        t.ascii = false;
        t.m.chars = at;
        if (at == 0) skip = t.from = text_start(p, n);
    }
    text_load::measure_t m = text_load::measure(p + at + skip, n - skip);
    t.m.chars += m.chars;
    t.m.unit = std::max(t.m.unit, m.unit);
}

// Reads up to [size] bytes of text into [p] as read_full does, measuring each piece into [t]
// while it is still in the cache.
int64_t read_text(int fd, uint8_t* p, size_t size, text_measure& t) {
    constexpr size_t PIECE = 256 * 1024;
    size_t got = 0;
    while (got < size) {
        size_t want = std::min(PIECE, size - got);
        int64_t r = read_full(fd, p + got, want);
        if (r < 0) return -1;
        scan(p, got, size_t(r), t);
        got += size_t(r);
        if (size_t(r) < want) break; // the file ended early
    }
    return int64_t(got);
}

// Reads [size] bytes of a regular file (from its current offset) straight into a new
// one-byte series in [out]: a binary!, else a string! when the bytes are ASCII. Other text
// is decoded from that series; lines are made from a copy of the bytes, which their loader
// needs outside any series.
cell* read_regular(int fd, uint32_t size, bool binary, bool lines, const cell* source, cell* out) {
    if (binary) binary::make_at(out, std::max<uint32_t>(size, 1));
    else string::make_at(out, std::max<uint32_t>(size, 1));
    series_buffer* b = memory::buffer_of(out->w2); // nothing allocates until the tail is set
    text_measure t;
    int64_t got = binary || lines ? read_full(fd, b->head, size) : read_text(fd, b->head, size, t);
    if (got < 0) cannot_open(source, errno);
    b->tail = b->head + got;
    if (binary || (!lines && t.ascii)) return out;
    if (!lines) {
        // The bytes stay in their series, held on the stack while the text is made.
        cell* raw = stack::push(out);
        node_id n = raw->w2;
        decode_text([n] { return memory::buffer_of(n)->head; }, t.from, size_t(got), t.m, source, out);
        stack::pop(1);
        return out;
    }
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size_t(got) + 1]);
    std::memcpy(bytes.get(), b->head, size_t(got));
    return value_of_bytes(bytes.get(), size_t(got), false, lines, source, out);
}

// Lists folder [source] into [out]: its entries but "." and "..", folders (links followed)
// with "/" after their names, sorted by name.
cell* list_dir(const cell* source, cell* out) {
    std::string path = local_path(source);
    DIR* d = ::opendir(path.c_str());
    if (!d) cannot_open(source, errno);
    std::vector<std::string> names;
    int fd = ::dirfd(d);
    errno = 0;
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        std::string name = e->d_name;
        bool dir = e->d_type == DT_DIR;
        struct stat st;
        if ((e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) && ::fstatat(fd, e->d_name, &st, 0) == 0)
            dir = S_ISDIR(st.st_mode);
        if (dir) name += '/';
        names.push_back(std::move(name));
    }
    int err = errno;
    ::closedir(d);
    if (err) cannot_open(source, err);
    std::sort(names.begin(), names.end());
    block::make_at(out, int32_t(names.size()) + 1);
    for (const std::string& name : names) {
        cell* f = string::load_in(reinterpret_cast<const uint8_t*>(name.data()), int64_t(name.size()), out->w2,
                                  string::ENCODING_UTF8);
        cells::set_type(f, T_file);
    }
    return out;
}

// }==
// {== Writing

// Where a write goes: the descriptor, and for a replacement the temporary file to rename
// over the target. The temporary is removed unless the write committed.
struct target_file {
    fd_guard fd;
    bool owned = true;  // false for the standard output, which stays open
    std::string temp;   // the temporary file, empty when writing in place
    std::string real;   // what the temporary replaces
    ~target_file() {
        if (!owned) fd.fd = -1;
        if (!temp.empty()) {
            if (fd.fd >= 0) ::close(fd.fd);
            fd.fd = -1;
            ::unlink(temp.c_str());
        }
    }
};

// Opens a temporary file beside [real] with [mode]; -1 with errno set when refused.
int open_temp(const std::string& real, mode_t mode, std::string& temp) {
    size_t slash = real.rfind('/');
    std::string dir = slash == std::string::npos ? "" : real.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? real : real.substr(slash + 1);
    static unsigned counter = 0;
    for (int tries = 0; tries < 100; tries++) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", long(::getpid()), counter++);
        temp = dir + "." + base + suffix;
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0) temp.clear();
            return fd;
        }
    }
    temp.clear();
    errno = EEXIST;
    return -1;
}

// Opens [path] for a whole-file write: a regular file with one link, or a new one, is
// replaced through a temporary file (its permission bits and owner kept, a symbolic link
// written through); anything else is truncated and written in place.
void open_replacement(const std::string& path, target_file& t, const cell* target) {
    std::string real = path;
    struct stat st;
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved) {
            real = resolved;
            std::free(resolved);
        }
    }
    bool replace = !exists ? (::lstat(path.c_str(), &st) != 0) // a dangling link is written in place
                           : S_ISREG(st.st_mode) && st.st_nlink == 1;
    if (replace) {
        t.fd.fd = open_temp(real, exists ? 0600 : 0666, t.temp);
        if (t.fd.fd >= 0) {
            t.real = real;
            if (exists) {
                (void)!::fchown(t.fd.fd, st.st_uid, st.st_gid);
                ::fchmod(t.fd.fd, st.st_mode & 07777);
            }
            return;
        }
        // A folder that takes no new file still lets an existing file be rewritten.
        if (!(exists && (errno == EACCES || errno == EPERM))) cannot_open(target, errno);
    }
    t.fd.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (t.fd.fd < 0) cannot_open(target, errno);
}

// Opens the target of a write as [seek] and [append] ask.
void open_target(const cell* target, int64_t seek, bool append, target_file& t) {
    if (!target) {
        t.fd.fd = console::output_fd();
        t.owned = false;
        return;
    }
    std::string path = local_path(target);
    if (append || seek >= 0) {
        t.fd.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : 0), 0666);
        if (t.fd.fd < 0) cannot_open(target, errno);
        if (!append && seek > 0 && ::lseek(t.fd.fd, seek, SEEK_SET) < 0) cannot_open(target, errno);
        return;
    }
    open_replacement(path, t, target);
}

// Ends a write: a replacement is closed and renamed over its target.
void commit(target_file& t, const cell* target) {
    if (t.temp.empty()) {
        if (t.owned && ::close(t.fd.fd) != 0) {
            t.fd.fd = -1;
            cannot_open(target, errno);
        }
        t.fd.fd = -1;
        return;
    }
    int fd = t.fd.fd;
    t.fd.fd = -1;
    if (::close(fd) != 0 || ::rename(t.temp.c_str(), t.real.c_str()) != 0) cannot_open(target, errno);
    t.temp.clear();
}

// The bytes to write for [value]: a text's UTF-8 (at most [part] characters), a binary's
// bytes (at most [part]), else the UTF-8 of its mold. [part] < 0: all. The bytes stay valid
// until the next allocation.
const uint8_t* value_bytes(const cell* value, int64_t part, node_id& conv, size_t& n) {
    uint8_t t = value->type();
    if (t == T_binary) {
        cell b = *value;
        uint32_t len = binary::rs_length_q(&b);
        n = part >= 0 && part < len ? size_t(part) : len;
        return binary::head_pointer(&b);
    }
    cell text = *value;
    if (!string::is_text_type(t)) {
        cell* buffer = string::push_new(16);
        actions::mold_typed(value, buffer, false, false, false, nullptr, INT32_MAX, 0);
        text = *buffer;
        stack::pop(1); // [text] is what conv is made from next; nothing allocates in between
        collector::keep k_text{&text};
        int64_t length = part;
        const uint8_t* p = unicode::to_utf8(&text, length, conv);
        n = size_t(length);
        return p;
    }
    int64_t length = part;
    const uint8_t* p = unicode::to_utf8(&text, length, conv);
    n = size_t(length);
    return p;
}

// Writes [value]'s bytes, then an LF when [lf]; returns the bytes of the value.
size_t write_value(int fd, const cell* value, int64_t part, bool lf, const cell* target) {
    node_id conv = 0;
    collector::keep_node k_conv{&conv};
    size_t n = 0;
    const uint8_t* p = value_bytes(value, part, conv, n);
    static const uint8_t LF = '\n';
    if (!write_full(fd, p, n) || (lf && !write_full(fd, &LF, 1))) {
        if (target) cannot_open(target, errno);
        error::raise(error::cat_access, error::access_cannot_open, &none_value);
    }
    return n;
}

// The count of a /part argument: an integer! of 0 or more, else invalid-refine-arg.
int64_t part_count(const cell* part) {
    if (!part) return -1;
    if (part->type() == T_integer && integer::get(part) >= 0) return integer::get(part);
    cell w = word::load("part");
    cells::set_type(&w, T_refinement);
    error::raise(error::cat_script, error::script_invalid_refine_arg, &w, part);
}

// }==

} // namespace

cell* bytes_to_value(const uint8_t* p, size_t n, bool binary, bool lines, cell* out) {
    return value_of_bytes(p, n, binary, lines, &none_value, out);
}

bool is_dir_path(const cell* value) {
    cell v = *value;
    uint32_t len = string::length_of(&v);
    if (len == 0) return false;
    uint32_t from = v.w1, end = from + len;
    auto at = [&](uint32_t i) { return string::rs_abs_char_at(&v, i); };
    if (at(end - 1) == '/') return true;
    uint32_t dots = 0;
    while (dots < 2 && dots < len && at(end - 1 - dots) == '.') dots++;
    if (dots == 0) return false;
    return dots == len || at(end - 1 - dots) == '/';
}

cell* read(const cell* source, int64_t part, int64_t seek, bool binary, bool lines, cell* out) {
    if (is_dir_path(source)) return list_dir(source, out);
    std::string path = local_path(source);
    fd_guard fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (fd.fd < 0) cannot_open(source, errno);
    struct stat st;
    if (::fstat(fd.fd, &st) != 0) cannot_open(source, errno);
    if (S_ISDIR(st.st_mode)) cannot_open(source, EISDIR);
    if (part == 0) return empty_result(binary, lines, out);
    // A regular file with a size is read in one go; anything else streams to its end.
    if (!S_ISREG(st.st_mode) || st.st_size == 0) {
        std::vector<uint8_t> bytes = stream(fd.fd, part, seek, source);
        if (bytes.empty()) return empty_result(binary, lines, out);
        return value_of_bytes(bytes.data(), bytes.size(), binary, lines, source, out);
    }
    int64_t size = st.st_size;
    if (seek > 0) {
        if (seek >= size) return empty_result(binary, lines, out);
        if (::lseek(fd.fd, seek, SEEK_SET) < 0) cannot_open(source, errno);
        size -= seek;
    }
    if (part > 0 && part < size) size = part;
    if (uint64_t(size) > MAX_BUFFER_BYTES) error::raise(error::cat_internal, error::internal_limit_hit, source);
    return read_regular(fd.fd, uint32_t(size), binary, lines, source, out);
}

int64_t write(const cell* target, const cell* data, const cell* part, int64_t seek, bool append, bool lines) {
    int64_t count = part_count(part);
    cell file = target ? *target : none_value;
    cell value = *data;
    collector::keep k_file{&file};
    collector::keep k_value{&value};
    const cell* named = target ? &file : nullptr;
    target_file t;
    open_target(named, seek, append, t);
    size_t written = 0;
    if (lines && series::is_any_block(value.type())) {
        for (uint32_t i = value.w1; i < uint32_t(series::length(value.w2)); i++) {
            cell item = block::cells_of(value.w2)[i];
            collector::keep k_item{&item};
            written = write_value(t.fd.fd, &item, -1, true, named);
        }
    } else {
        written = write_value(t.fd.fd, &value, count, lines, named);
    }
    commit(t, named);
    return int64_t(written);
}

bool remove(const cell* value) {
    std::string path = local_path(value);
    return (is_dir_path(value) ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) == 0;
}

bool rename(const cell* from, const cell* to) {
    std::string a = local_path(from);
    std::string b = local_path(to);
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace flag: check first, then rename.
    struct stat st;
    if (::lstat(b.c_str(), &st) == 0) return false;
    return ::rename(a.c_str(), b.c_str()) == 0;
}

bool exists(const cell* value) {
    struct stat st;
    return ::stat(local_path(value).c_str(), &st) == 0;
}

void create_dir(const cell* value) {
    if (::mkdir(local_path(value).c_str(), 0777) != 0) raise_system(error::access_no_create, value, errno);
}

int64_t size_of(const cell* value) {
    struct stat st;
    if (::stat(local_path(value).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return st.st_size;
}

bool modified(const cell* value, int64_t& seconds, int32_t& nanoseconds) {
    struct stat st;
    if (::stat(local_path(value).c_str(), &st) != 0) return false;
    seconds = st.st_mtim.tv_sec;
    nanoseconds = int32_t(st.st_mtim.tv_nsec);
    return true;
}

} // namespace zyl::files
