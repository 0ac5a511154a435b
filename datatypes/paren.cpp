// datatypes/paren.cpp: paren!: its own mold; every other entry it has is block!'s.
#include "datatypes/paren.h"

#include <string_view>

#include "datatypes/action_types.h"
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/cycles.h"

namespace zyl::paren {

// {== Internal functions

namespace {

inline void write(const cell* out, std::string_view text, int32_t& part) {
    string::concatenate_literal(out, text);
    part -= static_cast<int32_t>(text.size());
}

} // namespace

cell* push(const cell* value) {
    cell* c = stack::push(value);
    cells::set_type(c, T_paren);
    return c;
}

// }==
// {== Action entries

int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent) {
    // block!'s mold walks the cells, checks for cycles and registers the paren while it walks;
    // under /only it writes no brackets, which leaves the parentheses to us.
    cell v = *value; // [value] may lie in a buffer that writing moves
    if (only) return block::mold(&v, buffer, true, all, flat, arg, part, indent);
    // The marker comes before "(": a paren inside itself is written "(...)" and not walked.
    if (cycles::form_marker(&v, buffer, part, true)) return part;
    // A first value on a new line opens an indented layout, as in a block: the line break and
    // one more level, then the closing parenthesis on a line of its own.
    write(buffer, "(", part);
    bool indented = !flat && !(arg && part < 1) && block::rs_length_q(&v) > 0 &&
                    (block::rs_abs_at(&v, v.w1)->header & CELL_NEW_LINE);
    if (indented) write(buffer, "\n", part);
    part = block::mold(&v, buffer, true, all, flat, arg, part, indented ? indent + 1 : indent);
    if (indented) {
        write(buffer, "\n", part);
        for (int32_t i = 0; i < indent; i++) write(buffer, "    ", part);
    }
    write(buffer, ")", part);
    return part;
}

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    for (uint8_t s : {A_make,   A_random, A_reflect, A_to,     A_form,     A_eval_path, A_compare,
                      A_append, A_at,     A_back,    A_change, A_clear,    A_copy,      A_find,
                      A_head,   A_head_q, A_index_q, A_insert, A_length_q, A_move,      A_next,
                      A_pick,   A_poke,   A_put,     A_remove, A_reverse,  A_select,    A_sort,
                      A_skip,   A_swap,   A_tail,    A_tail_q, A_take,     A_modify})
        e[s - 1] = ZYL_INHERIT;
    e[A_mold - 1] = entry(&mold);
    datatype::register_type(ACTION_SLOTS + 3, T_paren, T_block, "paren!", e);
}

// }==

} // namespace zyl::paren
