// eval/actions.h: the action dispatcher, the 62 generic action entries and the comparison.
//
// An action is dispatched on the datatype of its first argument: the dispatcher finds the
// entry of the action's slot in the action table (datatypes/registry.h) and raises expect-arg
// when the datatype has none. Each action has a stack entry, which the interpreter and the
// natives call: it reads its arguments from the current frame (cell 0 is the first argument
// and receives the result) and takes one parameter per refinement: -1 when the refinement is
// not used, else the position of its first argument cell from the arguments base (0 for a
// refinement without an argument). Most actions also have a typed twin, `<action>_typed`,
// that run-time code calls with explicit arguments: the argument cells, then per refinement a
// flag, or its argument cell (null when unused), as datatypes/action_types.h lists them.
//
// A port! whose actor field holds a handle! dispatches the slots from append on through the
// native actor table that the handle names (register_port_actor).
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "datatypes/cell.h"
#include "datatypes/registry.h"

namespace zyl::actions {

// {== Dispatch

// Raises script expect-arg naming the current call, datatype [type] and the action's first
// argument; never returns.
[[noreturn]] void missing_action(uint8_t type);

// The entry of a port actor for [slot] (append and later) when port [value]'s actor field
// is a handle!, else null; an actor table without the slot raises access invalid-actor.
action_fn port_handler(const cell* value, uint8_t slot);

// The entry of [slot] for a value [value] of type [type]; raises when the type has none.
inline action_fn get_action_handler(uint8_t type, const cell* value, uint8_t slot) {
    if (ZYL_UNLIKELY(type == T_port) && slot >= A_append) {
        if (action_fn f = port_handler(value, slot)) return f;
    }
    action_fn f = datatype::action(type, slot);
    if (ZYL_UNLIKELY(!f)) missing_action(type);
    return f;
}

// get_action_handler for [value]'s own type, cast to the slot's signature [F].
template <typename F> F handler(const cell* value, uint8_t slot) {
    return reinterpret_cast<F>(get_action_handler(value->type(), value, slot));
}

// The entry of [slot] for cell 0 of the current frame.
action_fn get_action_handler_arg1(uint8_t slot);

// The eval-path entry of [value]'s type; a type without one raises bad-path-type2 (no
// [element]) or bad-path-type naming [element] and the path up to [position].
eval_path_fn get_eval_path_handler(const cell* value, const cell* element, const cell* path, int32_t position);

// Registers the native actor table [table] (entries of slots 25 to 62, 38 of them) and
// returns the id that a port's handle! keeps in word 2.
uint32_t register_port_actor(const action_fn* table);

// }==
// {== Typed twins

cell* make_typed(cell* proto, cell* spec);
cell* to_typed(cell* proto, cell* spec);
cell* random_typed(cell* value, bool seed, bool secure, bool only);
cell* reflect_typed(cell* value, const cell* field);
// Forms [value] into string [buffer] with the budget [limit] ([part] the /part cell or null);
// returns the budget left.
int32_t form_typed(const cell* value, cell* buffer, const cell* part, int32_t limit);
int32_t mold_typed(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* part,
                   int32_t limit, int32_t indent);
cell* eval_path_typed(cell* value, const cell* element, const cell* set, const path_step& step);
cell* negate_typed(cell* value);
cell* round_typed(cell* value, const cell* scale, bool even, bool down, bool half_down, bool floor,
                  bool ceiling, bool half_ceiling);
bool even_q_typed(const cell* value);
bool odd_q_typed(const cell* value);
cell* complement_typed(cell* value);
cell* append_typed(cell* series, cell* value, const cell* part, bool only, const cell* dup);
cell* insert_typed(cell* series, cell* value, const cell* part, bool only, const cell* dup);
cell* change_typed(cell* series, cell* value, const cell* part, bool only, const cell* dup);
cell* clear_typed(cell* series);
cell* copy_typed(cell* series, const cell* part, bool deep, const cell* types);
cell* find_typed(cell* series, cell* value, const cell* part, bool only, bool case_, bool same, bool any,
                 const cell* with, const cell* skip, bool last, bool reverse, bool tail, bool match);
// The length of [value], or -1 when it has none.
int32_t length_q_typed(const cell* value);
cell* move_typed(cell* source, cell* target, const cell* part);
cell* pick_typed(cell* value, const cell* index);
cell* poke_typed(cell* value, const cell* index, cell* data);
cell* put_typed(cell* series, cell* key, cell* value, bool case_);
cell* remove_typed(cell* series, const cell* part, const cell* key);
cell* reverse_typed(cell* series, const cell* part, const cell* skip);
cell* select_typed(cell* series, cell* value, const cell* part, bool only, bool case_, bool same, bool any,
                   const cell* with, const cell* skip, bool last, bool reverse);
cell* sort_typed(cell* series, bool case_, const cell* skip, const cell* compare, const cell* part, bool all,
                 bool reverse, bool stable);
cell* swap_typed(cell* a, cell* b);
cell* take_typed(cell* series, const cell* part, bool deep, bool last);
cell* trim_typed(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const cell* with);
cell* create_typed(cell* port);
cell* close_typed(cell* port);
cell* delete_typed(cell* port);
cell* modify_typed(cell* target, const cell* field, cell* value, bool case_);
cell* open_typed(cell* spec, bool new_, bool read, bool write, bool seek, const cell* allow);
cell* open_q_typed(cell* port);
cell* query_typed(cell* target);
cell* read_typed(cell* source, const cell* part, const cell* seek, bool binary, bool lines, bool info,
                 const cell* as);
cell* rename_typed(cell* from, cell* to);
cell* update_typed(cell* port);
cell* write_typed(cell* target, cell* data, bool binary, bool lines, bool info, bool append, const cell* part,
                  const cell* seek, const cell* allow, const cell* as);

// }==
// {== Comparison

// Compares [a] and [b] under operator [op] through [a]'s compare entry: negative, 0 or
// positive, -2 when they cannot be compared.
int32_t compare_typed(const cell* a, const cell* b, int32_t op);
// The truth of comparing [a] with [b] under [op]; values that cannot be ordered raise
// invalid-compare, an unknown [op] ends the process (runtime error 101).
bool compare(const cell* a, const cell* b, int32_t op);
// compare on cells 0 and 1 of the current frame; the logic! result replaces cell 0.
void compare_on_stack(int32_t op);

// The index that pick and poke take from [index]: an integer! or char! its number, a logic!
// 1 for true and 2 for false, anything else 0.
int32_t index_argument(const cell* index);

// }==
// {== Stack entries

void make();
void random(int32_t seed, int32_t secure, int32_t only);
void reflect();
void to();
void form(int32_t part);
void mold(int32_t only, int32_t all, int32_t flat, int32_t part);
// The path step of cell 0 by cell 1; [set] is the position of a value to store.
void eval_path(int32_t set);
void absolute();
void add();
void divide();
void multiply();
void negate();
void power();
void remainder();
void round(int32_t to, int32_t even, int32_t down, int32_t half_down, int32_t floor, int32_t ceiling,
           int32_t half_ceiling);
void subtract();
void even_q();
void odd_q();
void and_t();
void complement();
void or_t();
void xor_t();
void append(int32_t part, int32_t only, int32_t dup);
void at();
void back();
void change(int32_t part, int32_t only, int32_t dup);
void clear();
void copy(int32_t part, int32_t deep, int32_t types);
void find(int32_t part, int32_t only, int32_t case_, int32_t same, int32_t any, int32_t with, int32_t skip,
          int32_t last, int32_t reverse, int32_t tail, int32_t match);
void head();
void head_q();
void index_q();
void insert(int32_t part, int32_t only, int32_t dup);
void length_q();
void move(int32_t part);
void next();
void pick();
void poke();
void put(int32_t case_);
void remove(int32_t part, int32_t key);
void reverse(int32_t part, int32_t skip);
void select(int32_t part, int32_t only, int32_t case_, int32_t same, int32_t any, int32_t with, int32_t skip,
            int32_t last, int32_t reverse);
void sort(int32_t case_, int32_t skip, int32_t compare, int32_t part, int32_t all, int32_t reverse,
          int32_t stable);
void skip();
void swap();
void tail();
void tail_q();
void take(int32_t part, int32_t deep, int32_t last);
void trim(int32_t head, int32_t tail, int32_t auto_, int32_t lines, int32_t all, int32_t with);
void create();
void close();
void delete_();
void modify(int32_t case_);
void open(int32_t new_, int32_t read, int32_t write, int32_t seek, int32_t allow);
void open_q();
void query();
void read(int32_t part, int32_t seek, int32_t binary, int32_t lines, int32_t info, int32_t as);
void rename();
void update();
void write(int32_t binary, int32_t lines, int32_t info, int32_t append, int32_t part, int32_t seek,
           int32_t allow, int32_t as);

// The generic entry of each slot, in slot order (slot 8 has none); action! values refer to
// them by slot. Filled by init.
extern action_fn generic[ACTION_SLOTS];
// Fills the generic action table.
void init();

// }==

} // namespace zyl::actions
