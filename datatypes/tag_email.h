// datatypes/tag_email.h: tag! and email!, text series with a source form of their own.
//
// Both keep their text exactly as string! does (datatypes/string.h) and are string!'s
// children. A tag's text excludes its angle brackets, which form and mold add; an e-mail
// address keeps its whole text, "@" included, molds as plain text and has two path fields:
// `user` (the text before the first "@") and `host` (the text after it).
#pragma once

#include "datatypes/cell.h"

namespace zyl::tag {

// Pushes a copy of [value] on the evaluation stack.
cell* push(const cell* value);
// Registers tag!; string! must be registered.
void init();

} // namespace zyl::tag

namespace zyl::email {

// Registers email!; string! must be registered.
void init();

} // namespace zyl::email
