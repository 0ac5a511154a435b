// library/json_write.cpp: the JSON encoder: walks a value (guarded by the cycle stack, so a
// value that holds itself is refused and nesting is bounded) into a C++ text buffer, which it
// then appends to the output (library/text_out.h).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "library/text_codecs.h"
#include "runtime/dtoa.h"
#include "library/text_out.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zyl::text_codecs {

namespace {

inline const cell* cells_at(node_id n) { return reinterpret_cast<const cell*>(memory::buffer_of(n)->head); }
inline uint32_t count_of(node_id n) { return memory::buffer_of(n)->used_bytes() / sizeof(cell); }

const char HEX[] = "0123456789ABCDEF";

struct writer {
    text_out& out;
    const cell* indent; // a string, or null
    bool ascii;
    cell* scratch;      // a rooted string for forming and molding
    int32_t level = 0;

    bool normal(uint32_t c) const {
        if (ascii) return c >= 32 && c <= 127 && c != '"' && c != '\\';
        return c >= 32 && c != '"' && c != '\\';
    }

    void hex4(uint32_t v) {
        out.put("\\u");
        for (int shift = 12; shift >= 0; shift -= 4) out.put(uint32_t(uint8_t(HEX[(v >> shift) & 15])));
    }

    void escaped(uint32_t c) {
        if (normal(c)) {
            out.put(c);
            return;
        }
        switch (c) {
        case '"': out.put("\\\""); return;
        case '\\': out.put("\\\\"); return;
        case 8: out.put("\\b"); return;
        case 12: out.put("\\f"); return;
        case 10: out.put("\\n"); return;
        case 13: out.put("\\r"); return;
        case 9: out.put("\\t"); return;
        default: break;
        }
        if (c <= 0xFFFF) {
            hex4(c);
        } else {
            uint32_t v = c - 0x10000;
            hex4((v >> 10) + 0xD800);
            hex4((v & 1023) + 0xDC00);
        }
    }

    // The characters of text value [s] from its index, as a JSON string.
    void text(const cell* s) {
        series_buffer* b = memory::buffer_of(s->w2);
        uint32_t unit = string::unit_of(b), total = uint32_t(b->used_bytes() / unit);
        out.put('"');
        for (uint32_t i = std::min(s->w1, total); i < total; i++) escaped(string::get_char(b->head + size_t(i) * unit, unit));
        out.put('"');
    }

    // UTF-8 [bytes] as a JSON string.
    void utf8_text(const uint8_t* p, const uint8_t* end) {
        out.put('"');
        while (p < end) {
            uint32_t c = *p++;
            int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
            if (more) c &= 0x3F >> more;
            for (; more && p < end; more--) c = c << 6 | (*p++ & 0x3F);
            escaped(c);
        }
        out.put('"');
    }

    // [v] formed (or molded) into the scratch string, then written as a JSON string.
    void as_text(const cell* v, bool mold) {
        string::rs_reset(scratch);
        cell copy = *v;
        if (mold) actions::mold_typed(&copy, scratch, false, false, false, nullptr, INT32_MAX, 0);
        else actions::form_typed(&copy, scratch, nullptr, INT32_MAX);
        text(scratch);
    }

    void newline_indent(int32_t step) {
        level += step;
        series_buffer* b = memory::buffer_of(indent->w2);
        uint32_t unit = string::unit_of(b), total = uint32_t(b->used_bytes() / unit);
        for (int32_t k = 0; k < level; k++)
            for (uint32_t i = std::min(indent->w1, total); i < total; i++) out.put(string::get_char(b->head + size_t(i) * unit, unit));
    }

    // Opens a container of [count] items; false (having written "[]" or "{}") when empty.
    bool open(uint32_t count, char left, char right) {
        out.put(uint32_t(uint8_t(left)));
        if (count == 0) {
            out.put(uint32_t(uint8_t(right)));
            return false;
        }
        if (indent) {
            out.put('\n');
            newline_indent(1);
        }
        return true;
    }
    void next_item() {
        out.put(',');
        if (indent) {
            out.put('\n');
            newline_indent(0);
        }
    }
    void close(char right) {
        if (indent) {
            out.put('\n');
            newline_indent(-1);
        }
        out.put(uint32_t(uint8_t(right)));
    }

    void key(const cell* k) {
        uint8_t t = k->type();
        if (t >= T_word && t <= T_refinement) {
            series_buffer* b = memory::buffer_of(symbol::entry_cell(k->w2)->w3);
            utf8_text(b->head, b->tail);
        } else if (t == T_string) {
            text(k);
        } else {
            as_text(k, true);
        }
        out.put(indent ? ": " : ":");
    }

    void value(const cell* vp) {
        cell v = *vp; // [vp] may lie in a buffer that forming moves
        switch (v.type()) {
        case T_none: out.put("null"); return;
        case T_logic: out.put(v.w1 ? "true" : "false"); return;
        case T_integer: {
            char buf[16];
            auto r = std::to_chars(buf, buf + sizeof buf, integer::get(&v));
            out.put(std::string_view(buf, size_t(r.ptr - buf)));
            return;
        }
        case T_float_:
        case T_percent: {
            double d = float_::get(&v);
            if (!std::isfinite(d)) out.put("null"); // JSON has no infinities
            // form shows values near zero as 0.0: the data would be lost, so they are written
            // in full.
            else if (d != 0 && std::fabs(d) < float_::EPSILON) out.put(dtoa::to_text(d, 0, true));
            else out.put(float_::format(d, float_::KIND_FLOAT));
            return;
        }
        case T_string: text(&v); return;
        case T_map: container(&v, true); return;
        case T_object: container(&v, false); return;
        default: break;
        }
        if (series::is_any_block(v.type())) array(&v);
        else if (string::is_text_type(v.type())) as_text(&v, false);
        else as_text(&v, true);
    }

    void enter(const cell* v) {
        if (cycles::find(cycles::node_of(v))) error::raise(error::cat_internal, error::internal_no_cycle);
    }

    void array(const cell* v) {
        enter(v);
        cycles::entry guard(cycles::node_of(v));
        node_id n = v->w2;
        uint32_t from = std::min(v->w1, count_of(n));
        if (!open(count_of(n) - from, '[', ']')) return;
        for (uint32_t i = from; i < count_of(n); i++) {
            if (i > from) next_item();
            value(cells_at(n) + i);
        }
        close(']');
    }

    void container(const cell* v, bool is_map) {
        enter(v);
        cycles::entry guard(cycles::node_of(v));
        bool first = true;
        auto member = [&](const cell* k, const cell* val) {
            if (first) {
                out.put('{');
                if (indent) {
                    out.put('\n');
                    newline_indent(1);
                }
                first = false;
            } else {
                next_item();
            }
            cell kc = *k, vc = *val;
            key(&kc);
            value(&vc);
        };
        if (is_map) {
            node_id n = v->w2;
            for (uint32_t i = v->w1; i + 1 < count_of(n); i += 2) {
                if (cells_at(n)[i + 1].header == 0) continue; // a removed pair
                member(cells_at(n) + i, cells_at(n) + i + 1);
            }
        } else {
            node_id ctx = v->w1;
            for (uint32_t i = 0; i < context::word_count(ctx); i++) {
                cell w = *context::word_at(ctx, i);
                member(&w, context::value_at(ctx, i));
            }
        }
        if (first) out.put("{}");
        else close('}');
    }
};

} // namespace

void write_json(const cell* value, const cell* out, const cell* indent, bool ascii) {
    text_out text;
    cell* scratch = string::push_new(64);
    cell ind = indent ? *indent : cell{};
    writer w{text, indent ? &ind : nullptr, ascii, scratch};
    w.value(value);
    stack::pop(1);
    text.append_to(out);
}

} // namespace zyl::text_codecs
