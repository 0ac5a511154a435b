// runtime/error_ids.h: the numbers of the error catalogue's categories and messages.
//
// Made from runtime/error_catalogue.inc, so they cannot drift from the catalogue. `cat_<name>`
// is a category's index; `<category>_<id>` (hyphens as underscores) is a message's id, which is
// its field index in the category object: `script_no_value` is 2, `internal_no_memory` 4. A raise
// names both: `error::raise(ids::cat_script, ids::script_no_value, &word)`.
#pragma once

#include <cstdint>

namespace zyl::error::ids {

// Fields 0 and 1 of every category object; its messages start at field 2.
constexpr int32_t field_code = 0;
constexpr int32_t field_type = 1;
constexpr int32_t first_message = 2;

#define ZYL_ERROR_CATEGORY(index, ident, name, title) constexpr int32_t cat_##ident = index;
#define ZYL_ERROR(category, ident, name, field, tmpl) constexpr int32_t category##_##ident = field;
#include "runtime/error_catalogue.inc"
#undef ZYL_ERROR_CATEGORY
#undef ZYL_ERROR

// Number of categories in the catalogue.
constexpr int32_t category_count = 0
#define ZYL_ERROR_CATEGORY(index, ident, name, title) +1
#define ZYL_ERROR(category, ident, name, field, tmpl)
#include "runtime/error_catalogue.inc"
#undef ZYL_ERROR_CATEGORY
#undef ZYL_ERROR
    ;

} // namespace zyl::error::ids
