// datatypes/word.h: word!, set-word!, lit-word!, get-word! and refinement!: one cell layout
// and one unit of code; making, reading and assigning words.
//
// word-cell (issue! shares it):
//   word 0  header: type id 15-19 (20 for issue!) in bits 0-7, flags above
//   word 1  node of the bound context (the global context for a fresh word; 0: bound to none)
//   word 2  symbol id
//   word 3  index in the bound context, -1 when not looked up yet
// The five types differ only in the type byte: changing a word's type keeps its binding.
// Reading a bound word is one indexed access through the cached index (datatypes/context.h).
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/context.h"
#include "eval/stack.h"
#include "runtime/memory.h"

namespace zyl::word {

constexpr uint32_t NO_INDEX = 0xFFFFFFFF; // word 3 of a word not looked up yet (-1)

// A word cell of [type] for [symbol], bound to [ctx] at [index] (NO_INDEX: not looked up).
inline cell make_value(uint8_t type, node_id ctx, uint32_t symbol, uint32_t index) {
    return cell{type, ctx, symbol, index};
}
// Whether [t] is an any-word type: word!, set-word!, lit-word!, get-word!, refinement!, issue!.
inline bool any_word_type_q(uint8_t t) { return t >= T_word && t <= T_issue; }

// {== Making words (each may allocate)

// The global word of the NUL-terminated UTF-8 [name], interned and added when new. A case
// variant of a global word answers a word carrying [name]'s own spelling that shares the
// variant's slot.
cell load(const char* name);
// The global word of [symbol] (exact spelling), added with an unset value when absent.
cell make_global(uint32_t symbol);
// Makes [target] a word! (flags kept) of global [symbol], added when absent; answers
// [target], which must not lie in a movable buffer.
cell* make_at_global(uint32_t symbol, cell* target);
// Pushes a new word! of global [symbol].
cell* push_global(uint32_t symbol);
// The frame's result cell := the word! of global [symbol].
cell* set_result_global(uint32_t symbol);

// }==
// {== Pushing, reading and assigning

// Pushes a copy of word cell [w] itself.
inline cell* push(const cell* w) { return stack::push(w); }
// The value slot of [w] in its context; raises as context::get_word_slot does.
inline cell* get_value(const cell* w) { return context::get_value(w); }
// Sets [w]'s value to [value] in its context, on-change* included; answers the slot.
inline cell* set_value(cell* w, const cell* value) { return context::set_value(w, value); }
// The word-list entry at [index] of [ctx] (not its value).
inline cell* get_in_context(node_id ctx, uint32_t index) { return context::word_at(ctx, index); }
// Pushes a copy of the word-list entry at [index] of [ctx] (the word, not its value).
cell* push_from_context(node_id ctx, uint32_t index);
// Pushes the value of [w]; an unset value raises script no-value naming [w].
cell* push_value(const cell* w);
// Pushes the value of [w], unset or not (what a get-word evaluates to).
cell* push_value_unchecked(const cell* w);
// The set-word step: frame cell 0 the word, cell 1 the value. An unset value raises script
// need-value naming the word; else the word is set and the value is the frame's result.
[[noreturn]] void raise_need_value(const cell* w);
inline cell* assign() {
    cell* w = stack::arg(0);
    const cell* v = stack::arg(1);
    if (ZYL_UNLIKELY(v->type() == T_unset)) raise_need_value(w);
    context::set_value(w, v);
    if (ZYL_UNLIKELY(es.throw_code)) return es.base; // a hook threw: this frame is gone
    return &(*es.base = es.base[1]);
}
// Copies the frame's first argument into [target]; an unset one raises need-value naming
// [target].
cell* copy_arg_checked(cell* target);
// Pushes a string! that shares [w]'s symbol name (made once): not a copy. May allocate.
cell* push_name(const cell* w);
// The symbol entry of [w] with its name string made. May allocate.
cell* symbol_entry(const cell* w);
// The datatype of the token that [w]'s name scans as, 0 when it is not one token.
uint8_t lex_type(const cell* w);

// }==
// {== Lexer seams
//
// word! reads text through the lexer. Until the lexer sets these, stand-ins read the word
// forms only: word, word:, :word, 'word, /word and #word; any other text answers "not a word".

// Loads the text of [text] from its index as source text, as string load-value does: into
// [out] the one value it holds, none when it holds more or another token. Answers [out].
using load_value_fn = cell* (*)(const cell* text, cell* out);
extern load_value_fn load_value;
// The datatype of the one token that the UTF-8 [name] ([length] bytes) scans as, else 0.
using scan_type_fn = uint8_t (*)(const uint8_t* name, uint32_t length);
extern scan_type_fn scan_type;

// }==
// {== Action entries (registered by init; the variants and issue! inherit them)

// make and to: a word of [type] from [spec] (a word, a refinement or issue whose name is a
// word, a string or char that loads as one any-word, a datatype, a logic).
cell* make(cell* proto, cell* spec, uint8_t type);
int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent);
// 0 equal, non-zero unequal, -2 when [b] is no any-word or an issue! against another type.
int32_t compare(const cell* a, const cell* b, int32_t op);
// Frame cell 0 := none when the word has no index, else its index + 1.
void index_q();
// Registers word! (parent symbol!).
void init();

// }==

} // namespace zyl::word

// The variants: each member is word!'s, with the result retyped.
namespace zyl::lit_word {
cell load_global(const char* name);
cell* push(const cell* w);
cell* push_from_context(node_id ctx, uint32_t index);
// Frame cell 0 the word, cell 1 the value (no unset test): sets it; the value is the result.
cell* set();
// The frame's result := the value of [w] (no unset test).
cell* get(const cell* w);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent);
void init();
} // namespace zyl::lit_word

namespace zyl::set_word {
cell load_global(const char* name);
cell* push(const cell* w);
cell* push_from_context(node_id ctx, uint32_t index);
cell* set();
cell* get(const cell* w);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent);
void init();
} // namespace zyl::set_word

namespace zyl::get_word {
cell load_global(const char* name);
cell* push(const cell* w);
cell* push_from_context(node_id ctx, uint32_t index);
cell* set();
// Pushes the value of [w], unset or not.
cell* push_value(const cell* w);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent);
void init();
} // namespace zyl::get_word

namespace zyl::refinement {
// A refinement! of the interned [name], bound to no context.
cell load(const char* name);
cell* push(const cell* w);
cell* push_from_context(node_id ctx, uint32_t index);
cell* set();
cell* get(const cell* w);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent);
void init();
} // namespace zyl::refinement
