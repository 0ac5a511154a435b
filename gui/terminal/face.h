// gui/terminal/face.h: a face's fields as the terminal backend reads them: by position, in the
// order of the face prototype. A value given as a face that is not an object with at least
// FACE_FIELDS fields is no face.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/object.h"

namespace zyl::tui {

enum face_field : uint32_t {
    F_TYPE = 0, F_OFFSET = 1, F_SIZE = 2, F_TEXT = 3, F_IMAGE = 4, F_COLOR = 5, F_MENU = 6,
    F_DATA = 7, F_ENABLED = 8, F_VISIBLE = 9, F_SELECTED = 10, F_FLAGS = 11, F_OPTIONS = 12,
    F_PARENT = 13, F_PANE = 14, F_STATE = 15, F_RATE = 16, F_EDGE = 17, F_PARA = 18,
    F_FONT = 19, F_ACTORS = 20, F_EXTRA = 21, F_DRAW = 22,
};
constexpr uint32_t FACE_FIELDS = 23;

inline bool is_face(const cell* v) { return v->type() == T_object && object::field_count(v) >= FACE_FIELDS; }

// Field [i] of [face]; the face must satisfy is_face. The address lives until the next
// allocation.
inline cell* field(const cell* face, uint32_t i) { return object::values_head(face) + i; }

// Field [i] of any object [obj], or null when it has fewer fields or is no object.
inline cell* field_or_null(const cell* obj, uint32_t i) {
    if (obj->type() != T_object || object::field_count(obj) <= i) return nullptr;
    return object::values_head(obj) + i;
}

// Raises script face-type with [v] unless it is a face.
void check_face(const cell* v);

} // namespace zyl::tui
