// datatypes/issue.cpp: issue!: making issues from text, molding with the "#", comparison.
#include "datatypes/issue.h"

#include "datatypes/action_types.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "runtime/unicode.h"

namespace zyl::issue {

// {== Internal functions

namespace {

inline cell of_symbol(uint32_t symbol) {
    return word::make_value(T_issue, context::global(), symbol, word::NO_INDEX);
}

// The issue named by the one character [cp].
cell of_char(uint32_t cp) {
    uint8_t utf8[4];
    int n = unicode::encode_utf8(cp, utf8);
    return of_symbol(symbol::make_from_text(utf8, static_cast<uint32_t>(n)));
}

} // namespace

cell* make_at(cell* c, const char* name) { return &(*c = of_symbol(symbol::make(name))); }

cell* load(const char* name) {
    cell i = of_symbol(symbol::make(name));
    return stack::push(&i);
}

cell* push(const cell* w) {
    cell* c = stack::push(w);
    cells::set_type(c, T_issue);
    return c;
}

// }==
// {== Action entries

cell* make(cell* proto, cell* spec, uint8_t type) {
    cell r;
    switch (spec->type()) {
    case T_string: r = of_symbol(symbol::make_from_string(spec)); break;
    case T_char_: r = of_char(spec->w2); break;
    case T_word:
    case T_set_word:
    case T_lit_word:
    case T_get_word:
    case T_refinement:
    case T_issue: r = *spec; break;
    default: r = *word::make(proto, spec, type); break;
    }
    r.header = T_issue;
    return &(*proto = r);
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part,
             int32_t) {
    string::append_char(buffer->w2, '#');
    return word::form(value, buffer, arg, part - 1);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_issue) return -2;
    return word::compare(a, b, op);
}

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_to - 1] = entry(&make);
    e[A_form - 1] = ZYL_INHERIT;
    e[A_mold - 1] = entry(&mold);
    e[A_compare - 1] = entry(&compare);
    datatype::register_type(ACTION_SLOTS + 3, T_issue, T_word, "issue!", e);
}

// }==

} // namespace zyl::issue
