// runtime/error_catalogue.h: look-ups in the error catalogue: names, titles, message templates
// and codes by number, and numbers by name.
//
// A category is named by its index (0 to 9), a message by its id: its field index in the
// category object, 2 and up, since fields 0 and 1 are `code` and `type` and are no messages.
// Names are the catalogue's words ("script", "no-value"); a template is Zyl source text, a
// string or a block of strings and :arg1 :arg2 :arg3 (runtime/error_catalogue.inc). Every
// look-up answers null or -1 for a number or name that is not in the catalogue.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/error_ids.h"

namespace zyl::error::catalogue {

// Number of fields of category [cat]: `code`, `type` and its messages; 0 for no category.
int32_t field_count(int32_t cat);

// Name of category [cat] ("script"), or null.
const char* category_name(int32_t cat);

// Title of category [cat] ("Script Error"), the text an error's form starts with; or null.
const char* category_title(int32_t cat);

// Name of message [id] of category [cat] ("no-value"), or null.
const char* id_name(int32_t cat, int32_t id);

// Template of message [id] of category [cat] as Zyl source text, or null.
const char* message_template(int32_t cat, int32_t id);

// Error code of message [id] of category [cat]: cat * 100 + id - 2; -1 when it is no message.
int32_t code_of(int32_t cat, int32_t id);

// Index of the category named [name], or -1. ASCII case is ignored, as words compare.
int32_t find_category(std::string_view name);

// Id of the message named [name] in category [cat], or -1 (also for `code` and `type`). ASCII
// case is ignored, as words compare.
int32_t find_id(int32_t cat, std::string_view name);

} // namespace zyl::error::catalogue
