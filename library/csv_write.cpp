// library/csv_write.cpp: the CSV writer: each field formed, its quote characters doubled, and
// quoted when that changed it or when it holds a blank, a line end, the quote character or a
// delimiter character; each line ends in one line feed.
#include <algorithm>
#include <vector>

#include "datatypes/series.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "library/text_codecs.h"
#include "library/text_out.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zyl::text_codecs {

namespace {

inline const cell* cells_at(node_id n) { return reinterpret_cast<const cell*>(memory::buffer_of(n)->head); }
inline uint32_t count_of(node_id n) { return memory::buffer_of(n)->used_bytes() / sizeof(cell); }
inline uint32_t length_from(const cell* blk) { return count_of(blk->w2) - std::min(blk->w1, count_of(blk->w2)); }

struct line_writer {
    text_out& out;
    std::vector<uint32_t> delim;
    uint32_t quote;
    cell* scratch;               // a rooted string for forming
    std::vector<uint32_t> field; // the field being escaped

    bool narrow_quotable[256] = {}; // quotable() of the one-byte characters

    bool quotable(uint32_t c) const {
        if (c < 256) return narrow_quotable[c];
        return c == quote || std::find(delim.begin(), delim.end(), c) != delim.end();
    }
    void init() {
        for (uint32_t c : {uint32_t(' '), uint32_t('\n'), uint32_t('\r'), quote}) if (c < 256) narrow_quotable[c] = true;
        for (uint32_t c : delim) if (c < 256) narrow_quotable[c] = true;
    }

    // A one-byte text without quote characters: copied at once.
    bool copy_narrow(const uint8_t* p, uint32_t len) {
        bool quoted = false;
        for (uint32_t i = 0; i < len; i++) {
            if (!narrow_quotable[p[i]]) continue;
            if (p[i] == quote) return false;
            quoted = true;
        }
        if (quoted) out.put(quote);
        if (out.is_wide) {
            for (uint32_t i = 0; i < len; i++) out.put(p[i]);
        } else {
            out.narrow.append(reinterpret_cast<const char*>(p), len);
        }
        if (quoted) out.put(quote);
        return true;
    }

    void value(const cell* vp) {
        cell v = *vp;
        const cell* text = &v;
        if (v.type() != T_string) {
            string::rs_reset(scratch);
            actions::form_typed(&v, scratch, nullptr, INT32_MAX);
            text = scratch;
        }
        series_buffer* b = memory::buffer_of(text->w2);
        uint32_t unit = string::unit_of(b), total = uint32_t(b->used_bytes() / unit);
        uint32_t from = std::min(text->w1, total);
        if (unit == 1 && copy_narrow(b->head + from, total - from)) return;
        field.clear();
        bool quoted = false;
        for (uint32_t i = from; i < total; i++) {
            uint32_t c = string::get_char(b->head + size_t(i) * unit, unit);
            quoted |= quotable(c);
            field.push_back(c);
            if (c == quote) field.push_back(c);
        }
        if (quoted) out.put(quote);
        for (uint32_t c : field) out.put(c);
        if (quoted) out.put(quote);
    }

    // The [count] values of [n] from [from] as one line.
    void line(node_id n, uint32_t from, uint32_t count) {
        for (uint32_t i = 0; i < count; i++) {
            if (i) for (uint32_t c : delim) out.put(c);
            value(cells_at(n) + from + i);
        }
        out.put('\n');
    }
};

} // namespace

bool write_csv(const cell* data, const cell* out, const cell* delimiter, uint32_t quote, uint32_t size) {
    cell d = *data;
    node_id n = d.w2;
    uint32_t from = std::min(d.w1, count_of(n)), total = count_of(n) - from;
    if (size) {
        if (total % size) return false;
    } else {
        int64_t width = -1;
        for (uint32_t i = from; i < count_of(n); i++) {
            cell item = cells_at(n)[i];
            if (!series::is_any_block(item.type())) error::raise(error::cat_script, error::script_invalid_arg, &item);
            if (width < 0) width = length_from(&item);
            if (length_from(&item) != width) return false;
        }
    }
    std::vector<uint32_t> delim = chars_of(delimiter);
    text_out text;
    line_writer w{text, delim, quote, string::push_new(64), {}};
    w.init();
    if (size) {
        for (uint32_t i = 0; i < total; i += size) w.line(n, from + i, size);
    } else {
        for (uint32_t i = from; i < count_of(n); i++) {
            cell item = cells_at(n)[i];
            w.line(item.w2, std::min(item.w1, count_of(item.w2)), length_from(&item));
        }
    }
    stack::pop(1);
    text.append_to(out);
    return true;
}

} // namespace zyl::text_codecs
