// datatypes/tag_email.cpp: tag! (form and mold with angle brackets) and email! (plain mold,
// the user and host path fields). Invariants: datatypes/tag_email.h.
#include <algorithm>
#include <climits>
#include <string_view>

#include "datatypes/core.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tag_email.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/values.h"

namespace zyl {

// {== Internal functions

namespace tag {

cell* push(const cell* value) { return stack::push(value); }

} // namespace tag

namespace email {
namespace {

enum field : int32_t { FIELD_NONE = 0, FIELD_USER = 1, FIELD_HOST = 2 };

// Whether the UTF-8 name of symbol [id] is [name], ASCII case folded as case aliases are.
bool name_is(uint32_t id, std::string_view name) {
    series_buffer* b = memory::buffer_of(symbol::entry_cell(id)->w3);
    if (b->used_bytes() != name.size()) return false;
    for (size_t i = 0; i < name.size(); i++) {
        uint8_t c = b->head[i];
        if ((c >= 'A' && c <= 'Z' ? c + 32 : c) != uint8_t(name[i])) return false;
    }
    return true;
}

// The field that word [w] names. This is the one place words map to fields; it compares
// names until the predefined words `user` and `host` exist to compare canonical ids.
field field_of(const cell* w) {
    return name_is(w->w2, "user") ? FIELD_USER : name_is(w->w2, "host") ? FIELD_HOST : FIELD_NONE;
}

} // namespace
} // namespace email

// }==
// {== Action entries

namespace tag {
namespace {

// "<", the text (the budget less one for the "<"), ">"; mold is the same.
int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    cell v = *value;
    uint32_t len = string::length_of(&v); // measured first: [buffer] may be the tag's own
    auto count = arg ? int32_t(std::clamp<int64_t>(int64_t(part) - 1, 0, len)) : int32_t(len);
    string::append_char(buffer->w2, '<');
    string::insert_core(buffer, &v, count, 0, string::COPY_APPEND);
    string::append_char(buffer->w2, '>');
    return static_cast<int32_t>(std::max<int64_t>(int64_t(part) - 2 - len, INT32_MIN));
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

} // namespace
} // namespace tag

namespace email {
namespace {

// The address as plain text.
int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part, int32_t) {
    return string::form(value, buffer, arg, part);
}

// An integer! picks or pokes a character; the words `user` and `host` read a new string! of
// their part of the address, or replace that part of the address itself. Setting the host of
// an address without "@" adds one first, so that the host reads back as set.
cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    if (element->type() == T_integer) return string::eval_path(value, element, set, step);
    field f = element->type() == T_word ? field_of(element) : FIELD_NONE;
    if (f == FIELD_NONE) {
        cell key = *element;
        error::raise(error::cat_script, error::script_invalid_path, step.path ? step.path : &none_value, &key);
    }
    cell range = *value;
    uint32_t len = string::rs_length_q(&range); // clamps the index to the tail
    int32_t at = string::find_char(&range, '@');
    uint32_t p = at < 0 ? len : uint32_t(at);
    uint32_t count = f == FIELD_USER ? p : at < 0 ? 0 : len - p - 1;
    if (f == FIELD_HOST) range.w1 += at < 0 ? len : p + 1;
    if (!set) {
        node_id n = series::copy_part(range.w2, range.w1, count);
        return &(*value = cell{T_string, 0, n, 0});
    }
    cell data = *set;
    if (f == FIELD_HOST && at < 0) {
        string::append_char(range.w2, '@');
        range.w1++;
    }
    string::change(&range, &data, int32_t(count), false, 1);
    return &(*value = data);
}

} // namespace
} // namespace email

// }==
// {== Registration

namespace tag {

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        ZYL_INHERIT,           // make
        nullptr,               // random
        ZYL_INHERIT,           // reflect
        ZYL_INHERIT,           // to
        entry(&form),          // form
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
        ZYL_INHERIT,           // put (string!'s, which is empty)
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
    datatype::register_type(ACTION_SLOTS + 3, T_tag, T_string, "tag!", entries);
}

} // namespace tag

namespace email {

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        ZYL_INHERIT,           // make
        nullptr,               // random
        ZYL_INHERIT,           // reflect
        ZYL_INHERIT,           // to
        ZYL_INHERIT,           // form
        entry(&mold),          // mold
        entry(&eval_path),     // eval-path
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
        ZYL_INHERIT,           // put (string!'s, which is empty)
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
    datatype::register_type(ACTION_SLOTS + 3, T_email, T_string, "email!", entries);
}

} // namespace email

// }==

} // namespace zyl
