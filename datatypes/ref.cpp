// datatypes/ref.cpp: ref!, string!'s child with its own mold. Layout: datatypes/ref.h.
#include "datatypes/ref.h"

#include <algorithm>
#include <climits>

#include "datatypes/core.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"

namespace zyl::ref {

// {== Action entries

namespace {

// "@" and the formed text, the budget less one for the "@".
int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part, int32_t) {
    cell v = *value; // [buffer] may grow over the cell [value] lies in
    string::append_char(buffer->w2, '@');
    return string::form(&v, buffer, arg, static_cast<int32_t>(std::max<int64_t>(int64_t(part) - 1, INT32_MIN)));
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        ZYL_INHERIT,           // make
        nullptr,               // random
        ZYL_INHERIT,           // reflect
        ZYL_INHERIT,           // to
        ZYL_INHERIT,           // form
        entry(&mold),          // mold
        nullptr,               // eval-path
        nullptr,               // set-path
        ZYL_INHERIT,           // compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // absolute .. subtract
        nullptr, nullptr,      // even? odd?
        nullptr, nullptr, nullptr, nullptr, // and~ complement or~ xor~
        ZYL_INHERIT,           // append (insert is inherited: append goes with it)
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
        nullptr, nullptr, nullptr, // create close delete
        ZYL_INHERIT,           // modify
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // open .. write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_ref, T_string, "ref!", entries);
}

// }==

} // namespace zyl::ref
