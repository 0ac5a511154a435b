// datatypes/error.h: error!, the value that every failure of the language becomes.
//
// An error is an object of ten fixed fields. Its cell is the object cell with type 34:
//   word 1  the context node (kind object, object flag; the owner cell holds a copy of the cell)
//   word 2  the class id, always 1
//   word 3  the on-set record, always 0: errors have no change hooks
// Fields, in this order: code (category * 100 + message index), type (the category word,
// bound to the catalogue), id (the message word, bound to its category), arg1 arg2 arg3,
// near (the evaluation position when made), where (the word of the call that raised it),
// stack (the call-stack depth when thrown, later a block of function names), files.
//
// The catalogue (system/catalog/errors) is an object with one object per category: field 0
// `code`, field 1 `type` (the title), fields 2 and up the messages, each a string or a block
// of strings and :arg1 :arg2 :arg3. A message's id is its field index, so an error's code is
// category * 100 + id - 2. Every new error starts as a copy of the prototype
// (system/standard/error). The start-up links both before the first error is made; until
// then errors are bare (runtime/error.h).
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::error {

// Field indexes of an error object.
enum field_index : uint32_t {
    F_CODE = 0,
    F_TYPE = 1,
    F_ID = 2,
    F_ARG1 = 3,
    F_ARG2 = 4,
    F_ARG3 = 5,
    F_NEAR = 6,
    F_WHERE = 7,
    F_STACK = 8,
    F_FILES = 9,
};
constexpr uint32_t FIELD_COUNT = 10;
constexpr uint32_t CLASS_ID = 1;
// Fields of system/state that errors read.
constexpr uint32_t STATE_STACK_TRACE = 2;
constexpr uint32_t STATE_SOURCE_FILES = 3;

// {== The system objects that error! reads

// Invariant (while ready()): [errors] and [prototype] are object! cells that the error
// system's collector hook keeps.
struct system_links {
    cell errors;    // system/catalog/errors
    cell prototype; // system/standard/error
    node_id state;  // the context of system/state (fields: interpreted? last-error
                    // stack-trace source-files ...), or 0 while there is none
};
extern system_links sys;

// Builds the catalogue object from the error table and the prototype with its ten fields,
// and the collector hook that keeps them. Needs the symbol table and the evaluation stack.
// May allocate.
void init_system();
// Points error! at [errors] and [prototype] (object! cells; a null one keeps the current)
// and at system/state's context [state] (0 for none); the system must be ready.
void link_system(const cell* errors, const cell* prototype, node_id state);
// Drops the links and the hook: for tests that free all memory afterwards.
void forget_system();
// Whether the links are made (and still belong to this run's collector).
bool ready();

// }==
// {== Fields (an error must be a full error!: word 1 a context)

// The value slot of field [f] of [err]; valid until the next allocation.
cell* field(const cell* err, uint32_t f);
// Symbol of the `type` word of [err]; 0 when the field holds no word.
uint32_t type_of(const cell* err);
// Symbol of the `id` word of [err]; 0 when the field holds no word.
uint32_t id_of(const cell* err);
constexpr uint32_t stack_field_index() { return F_STACK; }
// Copies [value] into [err]'s `where` when that is still none.
void set_where(const cell* err, const cell* value);
// The category and message numbers of [err] by its type and id words, or internal
// invalid-error when they name no catalogue entry.
int32_t category_number(const cell* err);
int32_t message_number(const cell* err);
// The spec word naming argument [n] (from 0) of the innermost call's function; none when
// the call is no function or has fewer arguments. May allocate.
cell arg_word_at(int32_t n);
// When [value] is an error! whose `stack` is an integer: the frames' names as a block (with
// system/state/stack-trace as the level), and a copy of system/state/source-files in
// `files` when that is a block not at its tail. Anything else is left alone. May allocate.
void fill_stack(const cell* value);

// }==
// {== Making (each may allocate)

// Pushes a new error of category [cat] and message [id] (catalogue numbers) with the
// arguments [a1] .. [a3] (null: none); numbers that name no message give internal
// invalid-error with the code as arg1.
cell* create_by_index(int32_t cat, int32_t id, const cell* a1, const cell* a2, const cell* a3);
// Pushes a new error made from the block [category id] of the words [cat] and [id], with
// the arguments as in create_by_index.
cell* create(const cell* cat, const cell* id, const cell* a1, const cell* a2, const cell* a3);

// }==
// {== Action entries

// make error! from an integer code, a [category id] block, a block of set-words or a string.
cell* make(cell* proto, cell* spec, uint8_t type);
// The report that the console prints.
int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg,
             int32_t part, int32_t indent);
// Field access by word, as objects do.
cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step);
// As objects against another error!, -2 against any other type.
int32_t compare(const cell* a, const cell* b, int32_t op);
// Registers error! (parent object!).
void init();

// }==

} // namespace zyl::error
