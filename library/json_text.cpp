// library/json_text.cpp: the in-place resolution of JSON string escapes.
#include "library/json_text.h"

#include <algorithm>
#include <vector>

#include "datatypes/string.h"
#include "runtime/memory.h"

namespace zyl::json_text {

namespace {

template <typename C> bool decode(const C* s, uint32_t n, std::vector<uint32_t>& out) {
    for (uint32_t i = 0; i < n;) {
        uint32_t cp = s[i];
        if (cp == '\\') {
            int64_t next = read_escape(s, i, n, cp);
            if (next < 0) return false;
            i = uint32_t(next);
        } else {
            i++;
        }
        out.push_back(cp);
    }
    return true;
}

} // namespace

bool unescape(const cell* str) {
    cell s = *str;
    series_buffer* b = memory::buffer_of(s.w2);
    uint32_t unit = string::unit_of(b);
    uint32_t total = uint32_t(b->used_bytes() / unit), from = std::min(s.w1, total);
    const uint8_t* p = b->head + size_t(from) * unit;
    std::vector<uint32_t> out;
    bool ok = unit == 1   ? decode(p, total - from, out)
              : unit == 2 ? decode(reinterpret_cast<const uint16_t*>(p), total - from, out)
                          : decode(reinterpret_cast<const uint32_t*>(p), total - from, out);
    if (!ok) return false;
    // Every decoded character comes from at least one source character, so writing from the
    // index never overtakes the reading; widening first keeps the units uniform.
    string::truncate(s.w2, from);
    for (uint32_t cp : out) string::append_char(s.w2, cp);
    return true;
}

} // namespace zyl::json_text
