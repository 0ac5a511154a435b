// datatypes/object.h: object!, a context of named fields that can watch its own assignments
// (on-change*) and the in-place changes of the series it owns (on-deep-change*).
//
// object-cell (error! and port! reuse it):
//   word 0  header: type id 32 in bits 0-7
//   word 1  node of the object's context: kind object, CTX_OBJECT set, its owner cell (cell 1)
//           holding a copy of this cell, which is what `self` reads
//   word 2  class id: objects made from one prototype without new words share it
//   word 3  node of the on-set record, 0 when the object has neither hook
//
// on-set record: a series of two pair! cells, cell 0 for on-change*, cell 1 for
// on-deep-change*; word 2 of each is (index of the hook's word) << 16 | (local slots of the
// hook function), word 3 the node of the hook's spec when the count was taken. A missing
// hook has index 0xFFFF, so word 2 reads HOOK_MISSING or more.
//
// Invariant: the owner cell of an object's context equals the object cell that was stored
// last by a maker or by attach_hooks; code that changes word 2 or 3 stores the cell again.
// The changed-mark (WORD_CHANGED) of a word-list entry is set by every assignment of its
// field and cleared by make and by `modify obj 'changed none`.
//
// Any function that may allocate may move the context's buffers: callers pass cells that do
// not lie in a series buffer (stack cells), and re-derive slot addresses afterwards.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "datatypes/cell.h"
#include "datatypes/context.h"
#include "runtime/memory.h"

namespace zyl::object {

constexpr uint32_t NO_HOOK = 0xFFFF;          // hook index of a missing hook
constexpr uint32_t HOOK_MISSING = 0xFFFF0000; // word 2 of a record cell at or above it: no hook
constexpr uint32_t ON_CHANGE = 0;             // record cell of on-change*
constexpr uint32_t ON_DEEP_CHANGE = 1;        // record cell of on-deep-change*
constexpr uint32_t DEFAULT_SLOTS = 4;         // room of a new empty object

// {== Cells and class ids

inline node_id context_of(const cell* obj) { return obj->w1; }
inline uint32_t class_of(const cell* obj) { return obj->w2; }
inline node_id on_set_of(const cell* obj) { return obj->w3; }
// Whether [t] keeps an object cell: object!, error!, port!.
inline bool is_object_type(uint8_t t) { return t == T_object || t == T_error || t == T_port; }

// The class counter: every new class takes the next value.
extern uint32_t class_counter;
// Increments the class counter and answers it.
inline uint32_t next_class_id() { return ++class_counter; }

// }==
// {== Making object cells (each stores the new cell into its context's owner cell)

// Makes [target] an object! over a new empty context of room for [slots] words: class 0,
// no on-set record. [target] must not lie in a movable buffer. May allocate.
cell* make_at(cell* target, uint32_t slots);
// Pushes an object! of context [ctx], class [class_id] and on-set record [on_set] (or 0).
cell* push(node_id ctx, uint32_t class_id, node_id on_set);
// push without on-set record; a context whose value series is empty first gets one unset
// value per word. May allocate.
cell* push_from_context(node_id ctx, uint32_t class_id);
// Stores [obj] into its context's owner cell.
inline void store_owner(const cell* obj) { *context::owner_of(obj->w1) = *obj; }

// }==
// {== Hooks and their record

// An on-set record: on-change* from [index1] (NO_HOOK: none) with [count1] local slots and
// spec node [spec1], on-deep-change* likewise. May allocate.
node_id make_hook_pair(node_id spec1, node_id spec2, uint32_t index1, uint32_t count1,
                       uint32_t index2, uint32_t count2);
// The on-set record of the context [ctx] from its on-change* and on-deep-change* fields, or 0
// when it has neither. A hook field whose value is no function! or routine! raises script
// bad-field-set (word, datatype). May allocate.
node_id make_hooks(node_id ctx);
// Gives the object on the stack top the on-set record of the hooks at [index1] / [index2]
// (NO_HOOK: none) with [count1] / [count2] local slots; with on-deep-change* it becomes the
// owner of its series. For objects built by the start-up. May allocate.
void init_hooks(uint32_t index1, uint32_t count1, uint32_t index2, uint32_t count2);
// Sets word 3 of [obj] from make_hooks, makes the object the owner of its series when it has
// on-deep-change*, and stores the cell into the owner cell. May allocate.
void attach_hooks(cell* obj);
// Whether [obj] has an on-deep-change* hook.
bool has_on_deep_change_q(const cell* obj);

// Calls the on-change* hook of [owner] (an object with an on-set record) with [word] (bound to
// the owner on the way), the old value [old] and the new value [new_value]. Nothing happens
// without the hook; a hook that is no function! raises script invalid-obj-evt. May run
// language code; a non-local exit from the hook is left pending in es.throw_code.
void fire_on_change(const cell* owner, const cell* word, const cell* old, const cell* new_value);
// fire_on_change of [obj] for [word] with old = the stack top and new = the cell under it (the
// order context::set_value_keep_old leaves). Nothing when [obj] has no on-set record.
void fire_on_change_top(const cell* obj, const cell* word);
// fire_on_change_top for the object held by word [holder].
void fire_on_change_word(const cell* holder, const cell* word);
// fire_on_change_top for the object in the owner cell of context [ctx].
void fire_on_change_owner(node_id ctx, const cell* word);
// Calls the on-deep-change* hook of [owner] with the owner, [word], [target], [action], the
// new value [new_value] (none when null), [index] and [part]. Nothing without the hook or
// when its value is no function!; an owner without on-set record raises script
// invalid-obj-evt.
void fire_on_deep_change(const cell* owner, const cell* word, const cell* target,
                         const cell* action, const cell* new_value, int32_t index, int32_t part);

// }==
// {== Field access

// The index of [word]'s symbol in [obj] (any case), or -1.
int32_t find_word(const cell* obj, const cell* word);
// The value of [word] in [obj], or the shared none cell when absent; valid until the next
// allocation.
const cell* get_word_value(const cell* obj, const cell* word);
// The word-list entry (not the value) at [index] of context [ctx].
inline cell* value_at(node_id ctx, uint32_t index) { return context::word_at(ctx, index); }
// The word-list entry of the value slot at [address] of [obj], or null when [address] lies
// outside its value series.
cell* value_at_offset(const cell* obj, const cell* address);
// The first word-list entry of [obj].
inline cell* first_value(const cell* obj) { return context::word_at(obj->w1, 0); }
// The address of the first value of [obj].
inline cell* values_head(const cell* obj) { return context::value_at(obj->w1, 0); }
// The number of fields of [obj].
inline uint32_t field_count(const cell* obj) { return context::word_count(obj->w1); }
// Whether the value of [word] is an object! of class [class_id].
bool field_is_object_q(const cell* word, uint32_t class_id);
// Whether value [index] of context [ctx] is an object! of class [class_id].
bool same_class_object_q(node_id ctx, uint32_t index, uint32_t class_id);
// Clears the changed-mark of every word-list entry of context [ctx].
void clear_values_flag(node_id ctx);
// Clears the new-line bit (bit 30) of every cell of cell series [values].
void clear_owned_flags(node_id values);

// }==
// {== Construction (each may allocate; results are pushed or written into stack cells)

// `construct`: pushes a copy of [proto] (an object, else a new empty object of a fresh class)
// whose set-words of [spec] take the value after their run, unevaluated but for the logic
// words and none (not even those with [only]).
cell* push_new(const cell* spec, const cell* proto, bool only);
// Makes stack cell [target] a copy of object [source]: a new context with the same words and
// values, the source's type, class and on-set record (none with [rehook]). With [deep] and no
// [types] the series values are copied; with [types] the values of those types are copied
// deeply (a context met again raises internal no-cycle); functions are always re-made for
// the copy. With [rehook], attach_hooks.
void copy_into(const cell* source, cell* target, bool deep, const cell* types, bool rehook);
// Sets every field of object [spec] in object [obj] (adding absent words), then copies obj's
// series values and re-makes its functions; answers whether words were added.
bool extend_from_object(cell* obj, const cell* spec);
// Replaces the series values of [obj] (block, string and path families, vector!, binary!,
// image!) by shallow copies; block-like copies are bound to the object (self included).
void copy_proto_series(const cell* obj);
// Re-makes the function! at value [index] of object context [ctx]: spec shared, a copy of its
// context, a deep copy of its body bound to the object and then to the new function context.
// A function without body raises script bad-func-def.
void rebind_function(node_id ctx, uint32_t index);
// Copies each value of context [source] into the slot of the same word (any case) of context
// [target], which holds every word of the source; series values are copied.
void copy_matching_values(node_id target, node_id source);
// Adds the set-words of block [spec] to [ctx] with the value after each run of set-words
// (none at the end), unevaluated; without [only] the words true yes on / false no off / none
// give their logic or none value. Answers whether words were added.
bool assign_set_words(node_id ctx, const cell* spec, bool only);
// `set` on object [target] from [source]: a block's values in field order, an object's fields
// by name (unless [only]), else [source] itself into every field. Unless [any] or [some], an
// unset source value raises script need-value; with [some] a none leaves the field alone.
void set_from(const cell* target, const cell* source, bool any, bool only, bool some);

// }==
// {== Paths, form and mold

// One path step on object [value] by [element]; [set] the value to store or null. For an
// absent field (or an unset one when reading), [unset_ok] and [path_error] both set give an
// unset result, only [path_error] raises script invalid-path, otherwise script unset-path.
// The action entry passes neither.
cell* eval_path_flags(cell* value, const cell* element, const cell* set,
                      const actions::path_step& step, bool unset_ok, bool path_error);
// Writes the fields of [value] into string [buffer] ([mold]: the mold layout, else the form
// one); returns [part] less what it wrote. The hook fields are left out unless [all].
int32_t mold_fields(const cell* value, cell* buffer, bool mold, bool only, bool all, bool flat,
                    const cell* arg, int32_t part, int32_t indent);

// }==
// {== Action entries (registered by init; error! and port! inherit them)

cell* make(cell* proto, cell* spec, uint8_t type);
cell* reflect(cell* value, const cell* field);
int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent);
cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step);
// -2 when [b] is no object of [a]'s type; 0 for equal; else the first difference's order.
int32_t compare(const cell* a, const cell* b, int32_t op);
cell* copy(cell* series, const cell* part, bool deep, const cell* types);
cell* select(cell* series, cell* value, const cell* part, bool only, bool case_, bool same,
             bool any, const cell* with, const cell* skip, bool last, bool reverse);
cell* put(cell* series, cell* key, cell* value, bool case_);
cell* modify(cell* target, const cell* field, cell* value, bool case_);

// Registers object! and sets the context's on-change* call point.
void init();

// }==
// {== Shared by the object! units

namespace detail {

// Makes fire_on_change the call point of assignments to object fields (context.h).
void install_change_hook();
// Whether [symbol] (a predefined word's) names an entry of the current symbol table: the
// predefined words may not be built, or be left from an earlier table.
bool known_q(uint32_t symbol);
// Whether word cell [w] names on-change* or on-deep-change*, the fields form and mold hide.
bool is_hook_word(const cell* w);

} // namespace detail

// }==

} // namespace zyl::object
