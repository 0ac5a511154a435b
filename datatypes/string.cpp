// datatypes/string.cpp: string! storage primitives.
#include "datatypes/string.h"

#include <string>

#include "runtime/unicode.h"
#include "runtime/unicode_text.h"
#include "runtime/values.h"

namespace zyl::string {

cell* make_at(cell* c, uint32_t units) {
    node_id n = series::alloc_by_encoding(units, 1);
    *c = cell{T_string, 0, n, 0};
    return c;
}

void concatenate_literal(const cell* s, std::string_view text) {
    node_id n = s->w2;
    uint32_t unit = memory::buffer_of(n)->unit();
    uint8_t* p = series::alloc_tail_bytes(n, uint64_t(text.size()) * unit);
    if (unit == 1) {
        for (char ch : text) *p++ = static_cast<uint8_t>(ch);
        return;
    }
    for (char ch : text) {
        unicode::text::put(p, unit, static_cast<uint8_t>(ch));
        p += unit;
    }
}

std::string to_std(const cell* s) {
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t unit = b->unit();
    std::string out;
    for (uint8_t* p = b->head + uint64_t(s->w1) * unit; p < b->tail; p += unit) {
        uint8_t utf8[4];
        int len = unicode::encode_utf8(unicode::text::get(p, unit), utf8);
        out.append(reinterpret_cast<char*>(utf8), len);
    }
    return out;
}

} // namespace zyl::string
