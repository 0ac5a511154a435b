// datatypes/ref.h: ref!, the reference literal written with a leading "@".
//
// A ref! keeps its text exactly as string! does (datatypes/string.h), without the "@", and
// takes every entry from string! except mold, which puts the "@" back.
#pragma once

namespace zyl::ref {

// Registers ref!; string! must be registered.
void init();

} // namespace zyl::ref
