// datatypes/file.cpp: file!: molding with quotes and escapes, the local (POSIX) form of a
// file name, and the routing of read, write, delete, rename and query. Invariants:
// datatypes/file_url.h.
#include <algorithm>
#include <climits>

#include "datatypes/date.h"
#include "datatypes/file_url.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/core.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "services/files.h"
#include "runtime/error.h"
#include "runtime/platform/os.h"
#include "runtime/unicode.h"

namespace zyl::file {

// {== Internal functions

namespace {

// Whether [c] makes a file name need quotes to load back whole: a character below 127
// outside the file-safe class, or one that ends an unquoted name in source text ("(" ")"
// ":" "@", file-safe though they are).
inline bool needs_quotes(uint32_t c) {
    if (c >= 127) return false;
    return !url::in_class(url::FILE_SAFE, c) || c == '(' || c == ')' || c == ':' || c == '@';
}

// Whether any of the [count] characters of [v] from absolute position [from] needs quotes.
bool any_needs_quotes(const cell* v, uint32_t from, uint32_t count) {
    for (uint32_t i = 0; i < count; i++)
        if (needs_quotes(string::rs_abs_char_at(v, from + i))) return true;
    return false;
}

// Writes the [count] characters of [v] from absolute position [from] between double quotes,
// with the escapes that a quoted name reads back. A quoted name ends at its first double
// quote whatever precedes it, so that quote is written "^(22)".
void mold_quoted(const cell* v, uint32_t from, uint32_t count, cell* out) {
    string::append_char(out->w2, '"');
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = string::rs_abs_char_at(v, from + i);
        if (c == '"') string::concatenate_literal(out, "^(22)");
        else string::mold_char(out, c, false);
    }
    string::append_char(out->w2, '"');
}

[[noreturn]] void not_done() { error::raise(error::cat_internal, error::internal_not_done); }

// The offset or count of a /part or /seek argument of read: its integer value (a float
// truncated); -1 when the refinement is not used.
int64_t count_of(const cell* arg) {
    if (!arg) return -1;
    if (arg->type() == T_float_) return static_cast<int64_t>(float_::get(arg));
    return integer::get(arg);
}

} // namespace

cell* push(const cell* value) { return stack::push(value); }

cell* current_dir_string(cell* out) {
    size_t length = 0;
    const char* dir = os::get_current_dir(&length);
    if (!dir) return string::make_at(out, 1);
    string::from_utf8(out, {dir, length});
    if (length == 0 || dir[length - 1] != '/') string::append_char(out->w2, '/');
    return out;
}

void to_local_text(const cell* value, const cell* target, bool with_current_dir) {
    cell f = *value; // [value] may lie in a buffer that the appends move
    if (with_current_dir && (string::rs_tail_q(&f) || string::rs_abs_char_at(&f, f.w1) != '/')) {
        cell* dir = current_dir_string(stack::push_slot());
        string::insert_core(target, dir, -1, 0, string::COPY_APPEND);
        stack::pop(1);
    }
    string::insert_core(target, &f, -1, 0, string::COPY_APPEND);
}

const char* to_local_path(const cell* value, node_id& conv) {
    if (string::find_char(value, 0) >= 0) error::raise(error::cat_script, error::script_invalid_arg, value);
    int64_t length = -1;
    return reinterpret_cast<const char*>(unicode::to_utf8(value, length, conv));
}

// }==
// {== Action entries

namespace {

// "%" and the name, in double quotes when a character needs them; an empty name gives a
// pair of double quotes.
int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part, int32_t) {
    cell v = *value;
    uint32_t len = string::length_of(&v); // measured first: [buffer] may be the name's own
    uint32_t before = string::rs_abs_length_q(buffer);
    string::append_char(buffer->w2, '%');
    if (len == 0) {
        string::concatenate_literal(buffer, "\"\"");
    } else {
        uint32_t count = arg ? uint32_t(std::clamp<int64_t>(part, 0, len)) : len;
        if (any_needs_quotes(&v, v.w1, count)) mold_quoted(&v, v.w1, count, buffer);
        else string::insert_core(buffer, &v, int32_t(count), 0, string::COPY_APPEND);
    }
    int64_t written = string::rs_abs_length_q(buffer) - before;
    return static_cast<int32_t>(std::max<int64_t>(int64_t(part) - written, INT32_MIN));
}

cell* delete_(cell* file) {
    *file = logic::make_value(files::remove(file));
    return file;
}

// The modification date as a UTC date!; none for a missing file.
cell* query(cell* file) {
    int64_t seconds = 0;
    int32_t nanoseconds = 0;
    if (!files::modified(file, seconds, nanoseconds)) {
        *file = none_value;
        return file;
    }
    int64_t days = date::floor_div(seconds, 86400);
    int64_t rest = seconds - days * 86400;
    int64_t year = 0;
    int32_t month = 0, day = 0;
    date::days_to_date(date::date_to_days(1970, 1, 1) + days, year, month, day);
    return date::make_at_hms(file, year, month, day, int32_t(rest / 3600), int32_t(rest / 60 % 60),
                             int32_t(rest % 60), nanoseconds);
}

cell* rename(cell* from, cell* to) {
    if (to->type() != T_file) error::raise(error::cat_script, error::script_invalid_arg, to);
    *from = logic::make_value(files::rename(from, to));
    return from;
}

// /info is not passed on; the service reads the whole file or lists the folder.
cell* read(cell* source, const cell* part, const cell* seek, bool binary, bool lines, bool, const cell* as) {
    if (as) not_done();
    cell* out = stack::push_slot();
    files::read(source, count_of(part), count_of(seek), binary, lines, out);
    *source = *out;
    stack::pop(1);
    return source;
}

// Text goes out as UTF-8 with its LF line ends, binary or not.
cell* write(cell* target, cell* data, bool, bool lines, bool, bool append, const cell* part, const cell* seek,
            const cell* allow, const cell* as) {
    if (allow || as) not_done();
    files::write(target, data, part, seek ? count_of(seek) : -1, append, lines);
    *target = unset_value;
    return target;
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        ZYL_INHERIT,           // make
        nullptr,               // random
        nullptr,               // reflect
        ZYL_INHERIT,           // to
        ZYL_INHERIT,           // form
        entry(&mold),          // mold
        ZYL_INHERIT,           // eval-path
        nullptr,               // set-path
        ZYL_INHERIT,           // compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // absolute .. subtract
        nullptr, nullptr,      // even? odd?
        nullptr, nullptr, nullptr, nullptr, // and~ complement or~ xor~
        ZYL_INHERIT,           // append
        ZYL_INHERIT,           // at
        ZYL_INHERIT,           // back
        ZYL_INHERIT,           // change
        ZYL_INHERIT,           // clear
        ZYL_INHERIT,           // copy
        ZYL_INHERIT,           // find
        ZYL_INHERIT,           // head
        ZYL_INHERIT,           // head?
        ZYL_INHERIT,           // index?
        ZYL_INHERIT,           // insert
        ZYL_INHERIT,           // length?
        ZYL_INHERIT,           // move
        ZYL_INHERIT,           // next
        ZYL_INHERIT,           // pick
        ZYL_INHERIT,           // poke
        nullptr,               // put
        ZYL_INHERIT,           // remove
        ZYL_INHERIT,           // reverse
        ZYL_INHERIT,           // select
        nullptr,               // sort
        ZYL_INHERIT,           // skip
        ZYL_INHERIT,           // swap
        ZYL_INHERIT,           // tail
        ZYL_INHERIT,           // tail?
        ZYL_INHERIT,           // take
        nullptr,               // trim
        nullptr, nullptr,      // create close
        entry(&delete_),       // delete
        ZYL_INHERIT,           // modify
        nullptr,               // open
        nullptr,               // open?
        entry(&query),         // query
        entry(&read),          // read
        entry(&rename),        // rename
        nullptr,               // update
        entry(&write),         // write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_file, T_url, "file!", entries);
}

// }==

} // namespace zyl::file
