// datatypes/context.h: contexts, which map words to values, and binding words to them.
//
// A context is a node whose buffer holds exactly two cells:
//   cell 0  context! (14): header kind in bits 11-12 (0 plain, 1 function, 2 object) and the
//           CTX_* flags; word 1 the node of its word table (a context word table: its data
//           series is the word list, one word! per word in the order added), or with CTX_SMALL
//           (a context of at most SMALL_WORDS words) the word list itself, searched in
//           order: most objects have a few fields, and a table would triple their size; word 2 the node
//           of the value series, or for a function context (CTX_STACK_VALUES) the index + 1
//           of the evaluation-stack cell holding the value of word 0 while the function runs,
//           0 when it does not run (eval/stack.cpp keeps it so).
//   cell 1  the owner: the object!, function!, ... that owns the context, or unset.
// A word-list entry is a word! whose word 1 is the context, word 2 its symbol, word 3 its
// index. In an object context an entry's header carries WORD_CHANGED once the slot is set.
//
// Invariant: value i belongs to word i (a plain or object context's value series is exactly
// as long as its word list). In the global context a case variant of an earlier word gets a
// word-list entry and a value slot of its own, but its entry's index is the earliest
// variant's: every spelling reads and writes that one slot.
//
// Word cells carry their context and index, so reading a bound word is one indexed access;
// the word table is used only to find an index. Adding words may move the word list and the
// value series, and the collector may run: re-read slot addresses after any such call, and
// pass word and value cells that do not lie in a buffer that the call may move.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/header_flags.h"
#include "eval/stack.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace zyl::context {

enum kind : uint32_t { KIND_PLAIN = 0, KIND_FUNCTION = 1, KIND_OBJECT = 2 };

constexpr uint32_t GLOBAL_SLOTS = 4000; // words the global context has room for at first
constexpr uint32_t SMALL_WORDS = 8;     // a context with more words gets a word table

// {== Accessors (unchecked: [ctx] must be a context node)

// The context cell (cell 0) of [ctx].
inline cell* cell_of(node_id ctx) { return reinterpret_cast<cell*>(memory::buffer_of(ctx)->head); }
// The owner cell (cell 1) of [ctx].
inline cell* owner_of(node_id ctx) { return cell_of(ctx) + 1; }
// The word table of a context without CTX_SMALL.
inline node_id table_of(node_id ctx) { return cell_of(ctx)->w1; }
// The word list: the data series of the word table, or word 1 of a small context.
inline node_id words_of(node_id ctx) {
    const cell* c = cell_of(ctx);
    return (c->header & CTX_SMALL) ? c->w1 : hashtable::rec(c->w1)->data;
}
inline bool on_stack(node_id ctx) { return (cell_of(ctx)->header & CTX_STACK_VALUES) != 0; }
inline uint32_t kind_of(node_id ctx) {
    return (cell_of(ctx)->header & CTX_KIND_MASK) >> CTX_KIND_SHIFT;
}
// Words in [ctx].
inline uint32_t word_count(node_id ctx) {
    return memory::buffer_of(words_of(ctx))->used_bytes() / sizeof(cell);
}
// The word-list entry at [index] (not its value); valid until the next allocation.
inline cell* word_at(node_id ctx, uint32_t index) {
    return reinterpret_cast<cell*>(memory::buffer_of(words_of(ctx))->head) + index;
}

// }==
// {== Making contexts (each may allocate)

// A new context with room for [slots] words (0 counts as 1), both cells unset: with
// [function], values on the evaluation stack (not running); else an empty value series.
// [kind] goes into the header, [object] sets CTX_OBJECT. With [source] (a context node, or
// 0), the word list starts as a copy of the source's, and a value series holds one unset
// value per copied word.
node_id make(uint32_t slots, bool function, bool object, node_id source, uint32_t kind);
// A context holding, in order, a word for each word!, get-word!, lit-word! and refinement!
// of block [spec] (case variants of a word already added are that word); other values of
// the spec are skipped.
node_id make_from_spec(const cell* spec, bool function, bool object, uint32_t kind);
// A copy of the words of object-like [value]'s context (word 1) with unset values and the
// same function and object flags, made with [kind]; [value]'s word 1 becomes the new node,
// which is answered. [value] must not lie in a movable buffer.
node_id clone(cell* value, uint32_t kind);
// Adds every set-word! of [block] from its index to [ctx]; answers whether words were added.
bool collect_set_words(node_id ctx, const cell* block);

// }==
// {== Finding and adding words

// The index of [symbol] in [ctx] (by canonical symbol with [any_case]), or -1.
int32_t find_word(node_id ctx, uint32_t symbol, bool any_case);
// find_word that appends [symbol] to the word list when absent (no value is added: the
// callers do): answers the index found, or -1 when added, with [out_index] the new index.
int32_t search_symbol(node_id ctx, uint32_t symbol, bool any_case, int32_t* out_index);
// The index of [word]'s symbol in [ctx] (any case), adding it with an unset value when absent.
int32_t add_word(node_id ctx, const cell* word);
// Adds [word] to [ctx] with a copy of [value] when its symbol is absent; else nothing.
void add_word_value(node_id ctx, const cell* word, const cell* value);
// Sets [word]'s slot in [ctx] (any case) to [value], adding the word when absent.
void set_or_add(node_id ctx, const cell* word, const cell* value);
// The global word of [symbol], added (with an unset value) when absent. With [any_case] a
// case variant counts as found, and with [alias_copy] too the word answered then carries
// [symbol] itself, sharing the variant's slot.
cell add_global_word(uint32_t symbol, bool any_case, bool alias_copy);
// [ctx]'s own word of [symbol] (exact), else the global word (exact, added when absent).
cell find_or_global(node_id ctx, uint32_t symbol);

// }==
// {== Reading and writing slots

// get_word_slot for the cases off the fast path: the errors and self.
cell* finish_get_word_slot(const cell* word, node_id ctx);
// The value slot of [word] in [ctx]. Raises script not-defined for a word bound to no
// context, no-value for an index of -1 (but for self, which reads the owner cell),
// not-in-context when [ctx] is a function context whose function is not running.
inline cell* get_word_slot(const cell* word, node_id ctx) {
    auto index = static_cast<int32_t>(word->w3);
    if (ZYL_LIKELY(ctx != 0 && index >= 0)) {
        const cell* c = cell_of(ctx);
        if (ZYL_LIKELY(!(c->header & CTX_STACK_VALUES)))
            return reinterpret_cast<cell*>(memory::buffer_of(c->w2)->head) + index;
        if (ZYL_LIKELY(c->w2 != 0)) return es.bottom + (c->w2 - 1) + index; // a running function
    }
    return finish_get_word_slot(word, ctx);
}
// get_word_slot in the word's own context.
inline cell* get_value(const cell* word) { return get_word_slot(word, word->w1); }
// Stores [value] into [word]'s slot in [ctx], looking the word up (and adding it) when its
// index is -1; marks the slot changed in an object context, and with [fire] lets the owner
// object's on-change* hook see the assignment. Raises not-defined when [ctx] is a function
// context that is not running, or when the word is bound to no context. Answers the slot.
cell* set_word_value(cell* word, const cell* value, node_id ctx, bool fire);
// The slot an assignment to [word] in [ctx] can store into at once: a word with its index, in
// a running function or in a plain context whose owner has no hooks; else null.
inline cell* plain_set_slot(const cell* word, node_id ctx) {
    if (ZYL_UNLIKELY(ctx == 0 || static_cast<int32_t>(word->w3) < 0)) return nullptr;
    cell* c = cell_of(ctx);
    if (c->header & CTX_STACK_VALUES) return c->w2 ? es.bottom + (c->w2 - 1) + word->w3 : nullptr;
    if ((c->header & CTX_KIND_MASK) != 0 || (c[1].type() == T_object && c[1].w3 != 0))
        return nullptr;
    return reinterpret_cast<cell*>(memory::buffer_of(c->w2)->head) + word->w3;
}
// set_word_value in the word's own context, firing; the common case inline.
inline cell* set_value(cell* word, const cell* value) {
    if (cell* slot = plain_set_slot(word, word->w1)) return &(*slot = *value);
    return set_word_value(word, value, word->w1, true);
}

// The value slot [index] of a plain or object context.
cell* value_at(node_id ctx, uint32_t index);
// Pushes a copy of value [index] of [ctx]; not-defined (naming the word) when it is a
// function context that is not running.
cell* push_value_at(node_id ctx, uint32_t index);
// Copies the stack top into value [index] (marked changed in an object context).
void set_value_from_top(node_id ctx, uint32_t index);
// set_value_from_top that first pushes a copy of the old value (for on-change* callers).
void set_value_keep_old(node_id ctx, uint32_t index);
// Copies the frame's result cell into value [index], marked as above.
void set_value_from_result(node_id ctx, uint32_t index);
// Stores the integer [n] into [word]'s slot in [ctx], looking the word up (exact) when its
// index is -1; raises not-defined when it is not there.
void set_integer(node_id ctx, cell* word, int32_t n);
// The slot of [word]'s symbol in [ctx] (any case; the global context for a function
// context), or null when absent.
cell* find_value(node_id ctx, const cell* word);
// The slot of global [symbol] (any case), or null when absent.
cell* global_value(uint32_t symbol);
// Copies the global value of [symbol] (exact) into [target], adding the word when absent.
void copy_global_value(uint32_t symbol, cell* target);

// The hook through which an object's on-change* sees an assignment: [owner] the object,
// [word] the word set, [old] the previous value (on the stack), [slot] the new value in its
// slot. Null until object! sets it.
using change_hook = void (*)(const cell* owner, const cell* word, const cell* old, cell* slot);
extern change_hook fire_on_change;

// }==
// {== Binding

// Binds [word] to [ctx] when [ctx] has its symbol (any case): answers the index, else -1 and
// the word keeps its binding.
int32_t bind_word(node_id ctx, cell* word);
// Binds every word of [block] from its index, and of the blocks, parens, paths and hash!
// values inside it, to [ctx]; with [self], a word! spelled exactly self reads the owner
// cell instead. Words [ctx] lacks keep their binding. A block being bound further up is
// skipped, so self-containing blocks end. Nothing allocates. Answers [block].
const cell* bind(const cell* block, node_id ctx, bool self);
// Replaces the block in stack cell [block] by its deep copy (the one copy/deep makes) whose
// words are bound as binding it to [outer] with self and then to [inner] binds them, in one
// walk. A block met inside itself raises internal no-cycle. May allocate.
void copy_bound(cell* block, node_id outer, node_id inner);

// }==
// {== The global context and context!

// The global context; 0 until make_global.
node_id global();
// Makes the global context (kind plain, room for GLOBAL_SLOTS words) and the collector hook
// that keeps it. May allocate.
void make_global();
// Drops the global context and its hook: for tests that free all memory afterwards.
void forget_global();
// Registers context! (no parent, no entries).
void init();

// }==

} // namespace zyl::context
