// datatypes/action_types.h: the signatures of the action entries, by slot.
//
// Entries of one slot share a signature; the action table stores them as action_fn and the
// caller of a slot casts back with datatype::action_as<...>. The arguments are those of the
// action's spec: its argument cells first, then one item per refinement in spec order: a
// flag for a refinement without an argument, the argument's cell for one that has an
// argument (null when the refinement is not used). Results that are values are left in the
// first argument cell (the frame's result slot) and returned.
//
// New signatures go at the end of this file.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::actions {

// make / to: [proto] is the first argument (a datatype! or an example value), [spec] the
// second, [type] the type to make.
using make_fn = cell* (*)(cell* proto, cell* spec, uint8_t type);
// form: appends the text of [value] to string [buffer]; [arg] is the /part cell (null without
// it) and [part] the budget; returns [part] less what it wrote.
using form_fn = int32_t (*)(const cell* value, cell* buffer, const cell* arg, int32_t part);
// mold: as form, with the mold refinements and the indent level.
using mold_fn = int32_t (*)(const cell* value, cell* buffer, bool only, bool all, bool flat,
                            const cell* arg, int32_t part, int32_t indent);
// compare: 0 equal, negative/positive for order, -2 not comparable under [op].
using compare_fn = int32_t (*)(const cell* a, const cell* b, int32_t op);
// random: /seed, /secure, /only.
using random_fn = cell* (*)(cell* value, bool seed, bool secure, bool only);
// complement, negate, clear and other one-value twins; the port slots create, close, delete,
// open?, query and update.
using unary_fn = cell* (*)(cell* value);
// even? / odd?: the truth, which the stack entry boxes as logic!.
using truth_fn = bool (*)(const cell* value);
// round: [scale] is the /to argument or null; then /even /down /half-down /floor /ceiling
// /half-ceiling.
using round_fn = cell* (*)(cell* value, const cell* scale, bool even, bool down, bool half_down,
                           bool floor, bool ceiling, bool half_ceiling);
// Direct entries (absolute, add, divide, multiply, power, remainder, subtract, and~, or~, xor~,
// at, back, head, head?, index?, next, skip, tail, tail?) read the current frame themselves:
// cell 0 and cell 1 are the arguments, and the result replaces cell 0.
using direct_fn = void (*)();
// length?: -1 means no length (the action then gives none).
using length_fn = int32_t (*)(const cell* value);

// reflect: [field] is the word naming what to reflect.
using reflect_fn = cell* (*)(cell* value, const cell* field);

// Where a path step happens, for its errors and change notifications.
struct path_step {
    const cell* path;   // the whole path, or null for a step outside a path
    const cell* parent; // the value the current value was selected from, or null
    const cell* prev;   // the element before this one, or null
    int32_t index;      // the element's position in the path, from 0
    bool case_sensitive; // select words case-sensitively
    bool last;          // the path's last element
    bool notify;        // tell the parent's owner of a change made by this step
};
// eval-path (and set-path, which no datatype fills): one path step on [value] by [element];
// [set] is the value to store, null when reading.
using eval_path_fn = cell* (*)(cell* value, const cell* element, const cell* set, const path_step& step);

// append / insert: [part] is the count of [value]'s units or values to use (-1: all), worked
// out from the /part argument by the generic entry; [dup] the /dup count (1 without /dup);
// [append] tells which action was called, for datatypes that fill both slots with one entry.
using insert_fn = cell* (*)(cell* series, cell* value, int32_t part, bool only, int32_t dup, bool append);
// change: [part] the count of units of [series] to replace (-1: as many as are inserted).
using change_fn = cell* (*)(cell* series, cell* value, int32_t part, bool only, int32_t dup);
// copy: /part length, /deep, /types kind.
using copy_fn = cell* (*)(cell* series, const cell* part, bool deep, const cell* types);
// find: /part length, /only, /case, /same, /any, /with wild, /skip size, /last, /reverse,
// /tail, /match.
using find_fn = cell* (*)(cell* series, cell* value, const cell* part, bool only, bool case_,
                          bool same, bool any, const cell* with, const cell* skip, bool last,
                          bool reverse, bool tail, bool match);
// select: find's refinements less /tail and /match.
using select_fn = cell* (*)(cell* series, cell* value, const cell* part, bool only, bool case_,
                            bool same, bool any, const cell* with, const cell* skip, bool last,
                            bool reverse);
// move: /part length. The result is [target].
using move_fn = cell* (*)(cell* source, cell* target, const cell* part);
// pick: [index] as the generic entry reads it (integer, char, logic), [at] the index cell as
// given, for datatypes that pick by other keys.
using pick_fn = cell* (*)(cell* value, int32_t index, const cell* at);
// poke: as pick, with the value [data] to store; the result is [data].
using poke_fn = cell* (*)(cell* value, int32_t index, const cell* at, cell* data);
// put: /case.
using put_fn = cell* (*)(cell* series, cell* key, cell* value, bool case_);
// remove: /part length, /key key.
using remove_fn = cell* (*)(cell* series, const cell* part, const cell* key);
// reverse: /part length, /skip size.
using reverse_fn = cell* (*)(cell* series, const cell* part, const cell* skip);
// sort: /case, /skip size, /compare comparator, /part length, /all, /reverse, /stable.
using sort_fn = cell* (*)(cell* series, bool case_, const cell* skip, const cell* compare,
                          const cell* part, bool all, bool reverse, bool stable);
// swap and rename: two values; the result is the first.
using binary_fn = cell* (*)(cell* a, cell* b);
// take: /part length, /deep, /last.
using take_fn = cell* (*)(cell* series, const cell* part, bool deep, bool last);
// trim: /head, /tail, /auto, /lines, /all, /with str.
using trim_fn = cell* (*)(cell* series, bool head, bool tail, bool auto_, bool lines, bool all,
                          const cell* with);
// modify: [field] and [value], /case.
using modify_fn = cell* (*)(cell* target, const cell* field, cell* value, bool case_);
// open: /new, /read, /write, /seek, /allow access.
using open_fn = cell* (*)(cell* spec, bool new_, bool read, bool write, bool seek, const cell* allow);
// read: /part length, /seek index, /binary, /lines, /info, /as encoding.
using read_fn = cell* (*)(cell* source, const cell* part, const cell* seek, bool binary, bool lines,
                          bool info, const cell* as);
// write: /binary, /lines, /info, /append, /part length, /seek index, /allow access, /as
// encoding.
using write_fn = cell* (*)(cell* target, cell* data, bool binary, bool lines, bool info, bool append,
                           const cell* part, const cell* seek, const cell* allow, const cell* as);

} // namespace zyl::actions
