// library/predicates.h: the type predicates (integer?, any-word? ...), routines that answer
// whether a value is of a datatype or of the types of a global typeset word.
#pragma once

namespace zyl::predicates {

// Adds the predicates to the routine table and binds each to its global word. After the
// datatype and typeset words exist.
void init();

} // namespace zyl::predicates
