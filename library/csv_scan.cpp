// library/csv_scan.cpp: the CSV reader: one pass over a copy of the text, each line a block
// of new strings. A quoted field that is never closed is read as an unquoted one; text after
// a closed quoted field that is neither a delimiter nor a line end cannot be read, and the
// reader says where instead of dropping the rest.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "library/text_codecs.h"
#include "library/text_out.h"
#include "runtime/memory.h"
#include "runtime/values.h"

namespace zyl::text_codecs {

namespace {

inline uint32_t count_of(node_id n) { return memory::buffer_of(n)->used_bytes() / sizeof(cell); }

template <typename C> struct reader {
    const C* s;
    uint32_t n;
    const csv_options& o;
    std::vector<uint32_t> delim;
    node_id current = 0; // the line being read, held by [slot]
    cell* slot = nullptr; // an evaluation stack cell: that stack never moves
    uint32_t pos = 0, line = 1;
    std::vector<uint32_t> unq; // an unescaped quoted field

    bool delim_char(uint32_t c) const { return std::find(delim.begin(), delim.end(), c) != delim.end(); }
    bool delim_at(uint32_t at) const {
        if (n - at < delim.size()) return false;
        for (size_t i = 0; i < delim.size(); i++)
            if (s[at + i] != delim[i]) return false;
        return true;
    }
    bool line_end_at(uint32_t at) const { return at < n && (s[at] == '\n' || s[at] == '\r'); }
    void skip_line_end() {
        if (s[pos] == '\r' && pos + 1 < n && s[pos + 1] == '\n') pos++;
        pos++;
        line++;
    }

    template <typename T> void add(const T* p, uint32_t len) {
        uint32_t widest = 0;
        for (uint32_t i = 0; i < len; i++) widest = std::max<uint32_t>(widest, p[i]);
        uint32_t unit = string::unit_for(widest);
        node_id str = series::alloc_by_encoding(len, unit);
        series_buffer* b = memory::buffer_of(str);
        if (unit == sizeof(T)) {
            if (len) std::memcpy(b->head, p, size_t(len) * unit);
        } else {
            for (uint32_t i = 0; i < len; i++) string::put_char(b->head + size_t(i) * unit, unit, p[i]);
        }
        b->tail = b->head + size_t(len) * unit;
        if (!o.trim) {
            series::append_value(current, cell{T_string, 0, str, 0}); // keeps the new string alive
            return;
        }
        cell* f = stack::push_slot();
        *f = cell{T_string, 0, str, 0};
        trim_field(f);
        series::append_value(current, *f);
        stack::pop(1);
    }

    // The language's trim, then the enclosing quotes taken off.
    void trim_field(cell* f) {
        string::trim(f, false, false, false, false, false, nullptr);
        uint32_t len = string::length_of(f);
        if (len == 0) return;
        if (string::rs_abs_char_at(f, f->w1) != o.quote || string::rs_abs_char_at(f, f->w1 + len - 1) != o.quote) return;
        string::remove_char(f, f->w1);
        if (len > 1) string::remove_char(f, f->w1 + len - 2);
    }

    // A quoted field at [pos] into [unq]; false when it is never closed.
    bool quoted() {
        unq.clear();
        uint32_t lines = 0;
        for (uint32_t i = pos + 1; i < n; i++) {
            uint32_t c = s[i];
            if (c == o.quote) {
                if (i + 1 < n && s[i + 1] == o.quote) {
                    unq.push_back(c);
                    i++;
                    continue;
                }
                pos = i + 1;
                line += lines;
                return true;
            }
            if (c == '\n' || (c == '\r' && !(i + 1 < n && s[i + 1] == '\n'))) lines++;
            unq.push_back(c);
        }
        return false;
    }

    // The fields of one line into [current]; false when a quoted field is followed by text
    // that is no delimiter and no line end.
    bool fields() {
        for (;;) {
            if (pos < n && s[pos] == o.quote && quoted()) {
                add(unq.data(), uint32_t(unq.size()));
            } else {
                uint32_t start = pos;
                while (pos < n && s[pos] != '\n' && s[pos] != '\r' && !delim_char(s[pos])) pos++;
                add(s + start, pos - start);
            }
            if (delim_at(pos)) {
                pos += uint32_t(delim.size());
                continue;
            }
            // Else a closed quoted field, or a delimiter character that does not begin the
            // whole delimiter, is followed by text no rule reads.
            return pos == n || line_end_at(pos);
        }
    }

    void new_line(uint32_t room) {
        node_id blk = series::alloc_cells(std::max<uint32_t>(room, 1));
        slot->w2 = blk;
        current = blk;
    }

    csv_status run(node_id lines_blk, node_id names_blk, uint32_t& bad_line) {
        slot = stack::push_slot();
        *slot = cell{T_block, 0, series::alloc_cells(8), 0};
        current = slot->w2;
        if (o.header) {
            if (!fields() || pos == n) {
                stack::pop(1);
                return csv_status::no_header;
            }
            skip_line_end();
            for (uint32_t i = 0; i < count_of(current); i++)
                series::append_value(names_blk, reinterpret_cast<cell*>(memory::buffer_of(current)->head)[i]);
            new_line(8);
        }
        int64_t width = -1;
        while (pos < n) {
            uint32_t at = line;
            if (!fields()) {
                bad_line = at;
                stack::pop(1);
                return csv_status::invalid;
            }
            if (pos < n) skip_line_end();
            uint32_t count = count_of(current);
            if (width < 0) width = count;
            if (count != width) {
                stack::pop(1);
                return csv_status::not_aligned;
            }
            series::append_value(lines_blk, cell{T_block, 0, current, 0});
            new_line(count);
        }
        stack::pop(1);
        return csv_status::ok;
    }
};

template <typename C>
csv_status read_units(const uint8_t* p, uint32_t count, const csv_options& o, node_id lines, node_id names,
                      uint32_t& line) {
    std::unique_ptr<C[]> copy(new C[count]); // not zeroed: the input's buffer may move while fields are made
    if (count) std::memcpy(copy.get(), p, size_t(count) * sizeof(C));
    reader<C> r{copy.get(), count, o, chars_of(o.delimiter), 0, nullptr, 0, 1, {}};
    return r.run(lines, names, line);
}

} // namespace

csv_status scan_csv(const cell* input, const csv_options& o, const cell* lines, const cell* names, uint32_t& line) {
    cell in = *input;
    series_buffer* b = memory::buffer_of(in.w2);
    uint32_t unit = string::unit_of(b);
    uint32_t total = uint32_t(b->used_bytes() / unit), from = std::min(in.w1, total);
    const uint8_t* p = b->head + size_t(from) * unit;
    return unit == 1   ? read_units<uint8_t>(p, total - from, o, lines->w2, names->w2, line)
           : unit == 2 ? read_units<uint16_t>(p, total - from, o, lines->w2, names->w2, line)
                       : read_units<uint32_t>(p, total - from, o, lines->w2, names->w2, line);
}

} // namespace zyl::text_codecs
