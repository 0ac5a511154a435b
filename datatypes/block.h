// datatypes/block.h: block!, the list of values and the shape of all code, with the helpers
// the evaluator, the lexer and the decoders use to build and walk blocks.
//
// A block value is a series cell (word 1 the index in cells, word 2 the node of a buffer of
// 16-byte cells, word 3 unused; hash! keeps its hash table there). paren!, the path types and
// hash! reuse these entries through inheritance; where hash! needs its table kept in step
// with the cells, the entry checks the type itself. The any-block types (block!, paren!,
// hash!, the paths) stand for their cells from the index wherever an entry inserts, finds or
// changes "a value", unless /only is given.
//
// Invariant: a block buffer's unit is 16 and every unit between head and tail is a valid
// cell. An index past the tail reads as the tail.
//
// Any function that may allocate may move every buffer: cells passed in must not lie in a
// series buffer unless the comment says otherwise, and returned cell addresses inside a
// buffer hold until the next allocation only.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zyl::block {

// {== Accessors (none checks the type of its value)

// The cells of node [n], from its head.
inline cell* cells_of(node_id n) { return reinterpret_cast<cell*>(memory::buffer_of(n)->head); }
// Cells from the index of [blk] to the tail (0 when the index lies past it; [blk] unchanged).
uint32_t rs_length_q(const cell* blk);
// The cell at the index of [blk]; an index past the tail is first set to the tail.
cell* rs_head(cell* blk);
// One past the last cell of [blk].
cell* rs_tail(const cell* blk);
// Whether the index of [blk] is at (or past) the tail.
bool rs_tail_q(const cell* blk);
// The cell [n] counted from the first cell of the buffer of [blk].
cell* rs_abs_at(const cell* blk, uint32_t n);
// Advances the index of [blk] unless that passes the tail; answers whether it is at the tail.
bool rs_next(cell* blk);
// Cuts the tail of [blk] at its index.
void rs_clear(cell* blk);
// Sets the tail of [blk] to absolute cell [n].
void rs_set_tail(cell* blk, uint32_t n);
// Drops the last cell of [blk] when there is one; an index left past the tail moves to it.
void remove_last(cell* blk);

// }==
// {== Constructors and appenders (each may allocate)

// Where make_fixed_in keeps a block made with no parent before the root block exists: this
// is how the root block itself is made.
extern cell root;

// Makes [c] an empty block! with room for [n] cells (a negative [n] gives 1).
cell* make_at(cell* c, int32_t n);
// Makes [c] a block! of room for at least 1 cell: with [unmanaged] outside the collected
// frames (never moved nor reclaimed), otherwise with every cell of its room unset.
cell* make_at_fixed(cell* c, int32_t n, bool unmanaged);
// Appends an unmanaged block of [n] cells to [parent], or to the root block when [parent]
// is null (to `root` while there is no root block); returns the new cell.
cell* make_fixed_in(const cell* parent, int32_t n);
// Appends a new empty block of room for [n] cells to [parent] (the root block when null);
// returns the new cell.
cell* make_in(const cell* parent, int32_t n);
// Pushes a copy of [blk] on the evaluation stack.
cell* push(const cell* blk);
// Pushes a new empty block of room for [n] cells (0 gives 1).
cell* push_new(int32_t n);
// Appends a copy of [value] (which may lie anywhere) at the tail of [blk]; returns it.
cell* append_value(const cell* blk, const cell* value);
// Appends copies of the cells of [blk] from its index up to absolute cell [end] to [target].
void append_part(const cell* target, const cell* blk, uint32_t end);
// Appends frame cell 1 to the block in frame cell 0 (keeping a hash! table in step); returns
// cell 0.
cell* append_arg();
// Appends the top stack cell to the block value just below it and pops it; answers the
// appended value's type.
uint8_t append_top();
// Inserts a copy of [value] at the index of [blk] (at its tail with [at_tail]); a full buffer
// grows to twice the needed size. With [advance] the index of [blk] moves past the new cell,
// so that successive inserts keep their order. Returns the new cell.
cell* insert_value(cell* blk, const cell* value, bool advance, bool at_tail);
// Inserts each cell of [blk] from its index into [target], in order, advancing [target].
void insert_each(cell* target, const cell* blk);
// Inserts the top stack cell into the block value just below it, advancing it, and pops it.
void insert_top();

// }==
// {== Searching

// Among the any-word cells from the index of [blk], the first whose symbol is [word]'s (by
// canonical symbol unless [case_]); answers the cell after it, or the shared none cell when
// there is none or it is last.
const cell* select_word(const cell* blk, const cell* word, bool case_);
// The cell after the first cell from the index of [blk] equal to [value] under find
// equality, or the shared none cell.
const cell* select_by_compare(const cell* blk, const cell* value);
// Removes the first cell equal to [value] under find equality, searched from the head (with
// [from_head]) or from the index; answers false when nothing matched, else whether the removed
// cell was at or before the index of [blk].
bool remove_by_compare(cell* blk, const cell* value, bool from_head);

// }==
// {== Copying (each may allocate)

// Pushes a new block holding copies of the cells of [blk] from its index up to absolute cell
// [end] (room for 1 when none); with [deep] nested block! values are cloned too, with
// [all_kinds] also paren! and path values. A block that contains itself raises no-cycle.
cell* clone(const cell* blk, uint32_t end, bool deep, bool all_kinds);
// Replaces every nested series, bitset!, object!, error! or map! among the cells [from, to)
// of [blk] whose type is the datatype! or in the typeset! [types] by its deep copy.
void copy_deep_of_types(const cell* blk, uint32_t from, uint32_t to, const cell* types);

// }==
// {== Comparison

// [a] against [b] under operator [op] through [a]'s compare entry: 0 equal, negative or
// positive, -2 when they cannot be compared (or [a]'s type has no entry).
int32_t compare_cells(const cell* a, const cell* b, int32_t op);
// Whether [a] and [b] are equal under the equality operator [op].
inline bool equal_cells(const cell* a, const cell* b, int32_t op) { return compare_cells(a, b, op) == 0; }

// }==
// {== Action entries (registered by init; paren!, the paths and hash! inherit them)

cell* make(cell* proto, cell* spec, uint8_t type);
cell* to(cell* proto, cell* spec, uint8_t type);
int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part);
int32_t mold(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* arg, int32_t part,
             int32_t indent);
cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step);
int32_t compare(const cell* a, const cell* b, int32_t op);
// append and insert: one entry, [append] tells which was called.
cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup, bool append);
cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* copy(cell* series, const cell* part, bool deep, const cell* types);
cell* find(cell* series, cell* value, const cell* part, bool only, bool case_, bool same, bool any,
           const cell* with, const cell* skip, bool last, bool reverse, bool tail, bool match);
cell* put(cell* series, cell* key, cell* value, bool case_);
cell* select(cell* series, cell* value, const cell* part, bool only, bool case_, bool same, bool any,
             const cell* with, const cell* skip, bool last, bool reverse);
cell* sort(cell* series, bool case_, const cell* skip, const cell* compare, const cell* part, bool all,
           bool reverse, bool stable);
cell* swap(cell* a, cell* b);
cell* take(cell* series, const cell* part, bool deep, bool last);
cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const cell* with);

// The set operations on blocks and hash!: [op] 8 unique, 9 union, 10 intersect, 11 exclude,
// 12 difference; [b] is ignored for unique; [skip] is the record size cell or null. The
// result replaces the series of [a] (index 0; [a] keeps its type) and is [a].
cell* do_set_op(int32_t op, cell* a, const cell* b, bool case_, const cell* skip);

// Registers block!.
void init();

// }==
// {== Shared by the block! units

namespace detail {

// Where a search found its match: [pos] the absolute cell, [length] the cells it covers.
struct hit {
    bool found;
    uint32_t pos;
    uint32_t length;
};

// find and select: where [value] is in [series] under the refinements (see find).
hit locate(cell* series, const cell* value, const cell* part, bool only, bool case_, bool same, const cell* skip,
           bool last, bool reverse, bool match);
// Replaces every nested any-series value among the cells [from, to) of block node [n] by its
// deep copy (only those [types] names, when not null). A block being copied further up
// raises no-cycle.
void deep_copy_cells(node_id n, uint32_t from, uint32_t to, const cell* types);
// A new block on the evaluation stack holding the body of object! or map! [v]: its
// set-words and values in turn.
cell* push_body(const cell* v);

} // namespace detail

// }==

} // namespace zyl::block
