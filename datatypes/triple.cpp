// datatypes/triple.cpp: triple!: its text, the only thing a triple does.
#include "datatypes/triple.h"

#include <cstring>
#include <string_view>

#include "datatypes/action_types.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"

namespace zyl::triple {

// {== Internal functions
// None: a triple is only read, by its form.
// }==
// {== Action entries

namespace {

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    static constexpr std::string_view open = "make triple! [";
    char text[open.size() + 3 * 12 + 1];
    std::memcpy(text, open.data(), open.size());
    size_t n = open.size();
    const uint32_t words[3] = {value->w1, value->w2, value->w3};
    for (int i = 0; i < 3; i++) {
        char digits[12];
        std::string_view d = integer::form_text(static_cast<int32_t>(words[i]), digits);
        std::memcpy(text + n, d.data(), d.size());
        n += d.size();
        text[n++] = i < 2 ? ' ' : ']';
    }
    string::concatenate_literal(buffer, {text, n});
    return part - static_cast<int32_t>(n);
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell*, int32_t part, int32_t) {
    return form(value, buffer, nullptr, part);
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    datatype::register_type(ACTION_SLOTS + 3, T_triple, 0, "triple!", e);
}

// }==

} // namespace zyl::triple
