// runtime/words.cpp: building the predefined words, in list order. The lists are in
// runtime/words.h.
#include "runtime/words.h"

#include "datatypes/issue.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"

namespace zyl::words {

symbol_slots sym{};
global_slots global{};
word_slots loaded{};
refinement_slots refs{};
cell ooo{};

void build() {
#define ZYL_INTERN(slot, name) sym.slot = symbol::make(name);
    ZYL_SYMBOL_SLOTS(ZYL_INTERN)
#undef ZYL_INTERN
#define ZYL_MAKE_GLOBAL(slot, from) global.slot = word::make_global(sym.from);
    ZYL_GLOBAL_WORD_SLOTS(ZYL_MAKE_GLOBAL)
#undef ZYL_MAKE_GLOBAL
#define ZYL_LOAD(slot, name) loaded.slot = word::load(name);
    ZYL_WORD_SLOTS(ZYL_LOAD)
#undef ZYL_LOAD
}

void build_refinements() {
    refs.local = refinement::load("local");
    refs.extern_ = refinement::load("extern");
    refs.compare = refinement::load("compare");
    refs.part = refinement::load("part");
    refs.skip = refinement::load("skip");
    refs.with = refinement::load("with");
}

void build_issue() { issue::make_at(&ooo, "ooo"); }

} // namespace zyl::words
