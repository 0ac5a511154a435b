// library/text_out.cpp: widening and handing over the codec writers' text.
#include "library/text_out.h"

#include <algorithm>

#include "datatypes/string.h"

namespace zyl::text_codecs {

void text_out::widen() {
    wide.assign(narrow.begin(), narrow.end());
    for (uint32_t& w : wide) w &= 0xFF; // the bytes were chars: no sign
    narrow.clear();
    is_wide = true;
}

void text_out::append_to(const cell* out) const {
    if (!is_wide) {
        string::append_units(out->w2, reinterpret_cast<const uint8_t*>(narrow.data()), uint32_t(narrow.size()), 1);
        return;
    }
    uint32_t widest = wide.empty() ? 0 : *std::max_element(wide.begin(), wide.end());
    if (widest > 0xFFFF) {
        string::append_units(out->w2, reinterpret_cast<const uint8_t*>(wide.data()), uint32_t(wide.size()), 4);
        return;
    }
    std::vector<uint16_t> units(wide.begin(), wide.end());
    string::append_units(out->w2, reinterpret_cast<const uint8_t*>(units.data()), uint32_t(units.size()), 2);
}

std::vector<uint32_t> chars_of(const cell* v) {
    if (v->type() == T_char_) return {v->w2};
    series_buffer* b = memory::buffer_of(v->w2);
    uint32_t unit = string::unit_of(b), total = uint32_t(b->used_bytes() / unit);
    std::vector<uint32_t> cs;
    for (uint32_t i = std::min(v->w1, total); i < total; i++) cs.push_back(string::get_char(b->head + size_t(i) * unit, unit));
    return cs;
}

} // namespace zyl::text_codecs
