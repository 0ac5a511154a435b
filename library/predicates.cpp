// library/predicates.cpp: the typeset words that the typeset predicates read.
#include "library/predicates.h"

#include "datatypes/word.h"

namespace zyl::predicates {

cell typeset_words[TS_COUNT];

void init() {
    static constexpr const char* names[TS_COUNT] = {
        "any-list!", "any-path!", "any-block!", "any-function!", "any-object!",
        "any-string!", "any-word!", "all-word!", "series!", "number!",
        "immediate!", "scalar!", "any-point!", "planar!"};
    for (uint32_t i = 0; i < TS_COUNT; i++) typeset_words[i] = word::load(names[i]);
}

} // namespace zyl::predicates
