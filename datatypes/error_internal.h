// datatypes/error_internal.h: helpers shared by the error! units (datatypes/error*.cpp) only.
// Every catalogue look-up needs the error system ready (datatypes/error.h).
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/cell.h"
#include "datatypes/context.h"
#include "datatypes/error.h"

namespace zyl::error::detail {

// The word-list entry [index] of [ctx] as a plain word! (no changed-mark).
cell entry_word(node_id ctx, uint32_t index);
// Whether [c] is an object-like value (its word 1 a context).
inline bool is_object_like(const cell* c) { return c->type() == T_object || c->type() == T_error; }
// The index of the category of [symbol] in the catalogue (any case), or -1 (also when that
// field holds no object).
int32_t find_category(uint32_t symbol);
// The context of category [cat] of the catalogue.
inline node_id category_context(int32_t cat) {
    return context::value_at(sys.errors.w1, static_cast<uint32_t>(cat))->w1;
}
// The field index of message [symbol] in category [cat] (any case), or -1: `code` and `type`
// are no messages.
int32_t find_message(int32_t cat, uint32_t symbol);
// Whether the catalogue has message [m] of category [cat].
bool has_message(int32_t cat, int32_t m);
// Names [err] as message [m] of category [cat] (both in the catalogue) and sets its code.
void set_names(const cell* err, int32_t cat, int32_t m);
// Appends [text] to string [out] and charges it to [part].
void write(cell* out, std::string_view text, int32_t& part);
// Appends four spaces per level of [levels] to [out].
void indent_by(cell* out, int32_t levels, int32_t& part);
// Field [f] of system/state, or none.
cell state_field(uint32_t f);

} // namespace zyl::error::detail
