// library/text_out.h: text being written by the codec writers: one byte a character until a
// wider character comes, then code points; appended to a string! in its narrowest unit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/cell.h"

namespace zyl::text_codecs {

struct text_out {
    std::string narrow;
    std::vector<uint32_t> wide;
    bool is_wide = false;

    void put(uint32_t c) {
        if (!is_wide) {
            if (c < 256) {
                narrow += char(c);
                return;
            }
            widen();
        }
        wide.push_back(c);
    }
    void put(std::string_view ascii) {
        if (!is_wide) narrow += ascii;
        else wide.insert(wide.end(), ascii.begin(), ascii.end());
    }
    void widen();
    // Appends the text to string [out]. May allocate.
    void append_to(const cell* out) const;
};

// The characters of char! or text value [v] (from its index).
std::vector<uint32_t> chars_of(const cell* v);

} // namespace zyl::text_codecs
