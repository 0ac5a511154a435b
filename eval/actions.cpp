// eval/actions.cpp: the action dispatcher, the typed twins, the stack entries and the generic
// comparison.
#include "eval/actions.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::actions {

// {== Dispatch

namespace {

constexpr uint32_t PORT_ACTOR_SLOTS = ACTION_SLOTS - A_append + 1; // slots 25 to 62
constexpr uint32_t MAX_PORT_ACTORS = 64;

const action_fn* port_actors[MAX_PORT_ACTORS]; // by handle id - 1
uint32_t port_actor_count;

// The cells of the series of [n], or null when [n] holds fewer than [count] cells.
const cell* cells_of(node_id n, uint32_t count) {
    if (n == 0) return nullptr;
    series_buffer* b = memory::buffer_of(n);
    if (b->unit() != sizeof(cell) || b->used_bytes() < count * sizeof(cell)) return nullptr;
    return reinterpret_cast<const cell*>(b->head);
}

} // namespace

void missing_action(uint8_t type) {
    // The action dispatches on its first argument: the report names it.
    cell datatype = datatype::make_value(type);
    cell call = stack::ready() ? stack::get_call() : none_value;
    cell word = error::ready() ? error::arg_word_at(0) : none_value;
    error::raise(error::cat_script, error::script_expect_arg, &call, &datatype, &word);
}

action_fn port_handler(const cell* value, uint8_t slot) {
    // A port is an object: its context's value series holds the actor in its third field.
    const cell* ctx = cells_of(value->w1, 1);
    const cell* fields = ctx ? cells_of(ctx->w2, 3) : nullptr;
    if (!fields || fields[2].type() != T_handle) return nullptr;
    uint32_t id = fields[2].w2;
    const action_fn* table = id >= 1 && id <= port_actor_count ? port_actors[id - 1] : nullptr;
    action_fn f = table ? table[slot - A_append] : nullptr;
    if (!f) error::raise(error::cat_access, error::access_invalid_actor);
    return f;
}

uint32_t register_port_actor(const action_fn* table) {
    ZYL_ASSERT(port_actor_count < MAX_PORT_ACTORS);
    (void)PORT_ACTOR_SLOTS;
    port_actors[port_actor_count++] = table;
    return port_actor_count;
}

action_fn get_action_handler_arg1(uint8_t slot) {
    const cell* v = stack::arg(0);
    return get_action_handler(v->type(), v, slot);
}

eval_path_fn get_eval_path_handler(const cell* value, const cell* element, const cell* path, int32_t position) {
    auto f = reinterpret_cast<eval_path_fn>(datatype::action(value->type(), A_eval_path));
    if (f) return f;
    cell type = datatype::make_value(value->type());
    const cell* p = path ? path : &none_value;
    if (!element) error::raise(error::cat_script, error::script_bad_path_type2, p, &type);
    cell* part = stack::push(&none_value); // roots the copy while the error is made
    if (path && cells_of(path->w2, 1)) {
        // The path up to and including the failing element.
        uint64_t len = series::length(path->w2);
        uint64_t from = std::min<uint64_t>(path->w1, len);
        node_id n = series::copy_part(path->w2, from, std::min<uint64_t>(len - from, uint64_t(position) + 1));
        *part = cell{path->type(), 0, n, 0};
    }
    error::raise(error::cat_script, error::script_bad_path_type, element, &type, part);
}

// }==
// {== Argument helpers

namespace {

inline bool on(int32_t ref) { return ref >= 0; }
inline cell* opt(int32_t ref) { return ref < 0 ? nullptr : stack::arg(static_cast<uint32_t>(ref)); }
inline cell* arg(uint32_t i) { return stack::arg(i); }

// The 32-bit integer of a number argument; a float! out of range raises out-of-range.
int32_t to_int_checked(const cell* v) {
    if (v->type() != T_float_) return static_cast<int32_t>(v->w2);
    double d;
    uint64_t bits = uint64_t(v->w3) << 32 | v->w2;
    std::memcpy(&d, &bits, 8);
    if (!(d <= 2147483647.0 && d >= -2147483648.0)) error::raise(error::cat_script, error::script_out_of_range, v);
    return static_cast<int32_t>(d);
}

bool is_series_type(uint8_t t) {
    switch (t) {
    case T_block: case T_paren: case T_hash: case T_path: case T_lit_path: case T_set_path: case T_get_path:
    case T_string: case T_file: case T_url: case T_tag: case T_email: case T_ref: case T_binary:
    case T_vector: case T_image: case T_map:
        return true;
    default: return false;
    }
}

// Units of the buffer of series [v], its index ignored.
uint32_t units_of(const cell* v) {
    series_buffer* b = memory::buffer_of(v->w2);
    return b->used_bytes() >> std::countr_zero(b->unit());
}

// The count that a /part argument [part] gives for [limited], whose index may move back for
// a negative count (never before its head). Returns -1 without /part. A position in another
// series raises invalid-refine-arg.
int64_t part_count(cell* limited, const cell* part) {
    if (!part) return -1;
    int64_t n;
    if (part->type() == T_integer || part->type() == T_float_) {
        n = to_int_checked(part);
    } else if (part->type() == limited->type() && part->w2 == limited->w2) {
        uint32_t len = units_of(limited);
        n = int64_t(std::min(part->w1, len)) - int64_t(std::min(limited->w1, len));
    } else {
        string::detail::invalid_refine(words::refs.part, part);
    }
    if (n < 0) {
        uint32_t at = std::min(limited->w1, units_of(limited));
        uint32_t back = static_cast<uint32_t>(std::min<int64_t>(-n, at));
        limited->w1 = at - back;
        n = back;
    }
    return n;
}

// The /dup count: 1 without /dup.
int32_t dup_count(const cell* dup) { return dup ? to_int_checked(dup) : 1; }

cell integer_value(int32_t n) { return cell{T_integer, 0, static_cast<uint32_t>(n), 0}; }

// Calls the direct entry of [slot] for cell 0.
void direct(uint8_t slot) { reinterpret_cast<direct_fn>(get_action_handler_arg1(slot))(); }

// Leaves [v] in cell 0 when it is not already there.
void set_result(const cell* v) {
    if (v && v != es.base) *es.base = *v;
}

// Runs append or insert with the generic /part and /dup rules.
cell* insert_generic(cell* series, cell* value, const cell* part, bool only, const cell* dup, bool is_append) {
    auto f = handler<insert_fn>(series, is_append ? A_append : A_insert);
    if (part && !is_series_type(value->type()))
        error::raise(error::cat_script, error::script_invalid_part, part);
    cell limited = *value; // the same node: the caller's cell keeps it alive
    int64_t n = part_count(&limited, part);
    int32_t d = dup_count(dup);
    if (n == 0 || d < 1) return series;
    return f(series, &limited, static_cast<int32_t>(n), only, d, is_append);
}

} // namespace

// }==
// {== Typed twins

namespace {

// The type that make and to produce: the one a datatype! names, else [proto]'s own.
uint8_t target_type(const cell* proto) {
    return proto->type() == T_datatype ? static_cast<uint8_t>(proto->w1) : proto->type();
}

} // namespace

cell* make_typed(cell* proto, cell* spec) {
    uint8_t t = target_type(proto);
    return reinterpret_cast<make_fn>(get_action_handler(t, proto, A_make))(proto, spec, t);
}

cell* to_typed(cell* proto, cell* spec) {
    uint8_t t = target_type(proto);
    return reinterpret_cast<make_fn>(get_action_handler(t, proto, A_to))(proto, spec, t);
}

cell* random_typed(cell* value, bool seed, bool secure, bool only) {
    return handler<random_fn>(value, A_random)(value, seed, secure, only);
}

cell* reflect_typed(cell* value, const cell* field) { return handler<reflect_fn>(value, A_reflect)(value, field); }

int32_t form_typed(const cell* value, cell* buffer, const cell* part, int32_t limit) {
    return handler<form_fn>(value, A_form)(value, buffer, part, limit);
}

int32_t mold_typed(const cell* value, cell* buffer, bool only, bool all, bool flat, const cell* part,
                   int32_t limit, int32_t indent) {
    return handler<mold_fn>(value, A_mold)(value, buffer, only, all, flat, part, limit, indent);
}

cell* eval_path_typed(cell* value, const cell* element, const cell* set, const path_step& step) {
    return get_eval_path_handler(value, element, step.path, step.index)(value, element, set, step);
}

cell* negate_typed(cell* value) { return handler<unary_fn>(value, A_negate)(value); }

cell* round_typed(cell* value, const cell* scale, bool even, bool down, bool half_down, bool floor,
                  bool ceiling, bool half_ceiling) {
    return handler<round_fn>(value, A_round)(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
}

bool even_q_typed(const cell* value) { return handler<truth_fn>(value, A_even_q)(value); }
bool odd_q_typed(const cell* value) { return handler<truth_fn>(value, A_odd_q)(value); }
cell* complement_typed(cell* value) { return handler<unary_fn>(value, A_complement)(value); }

cell* append_typed(cell* series, cell* value, const cell* part, bool only, const cell* dup) {
    return insert_generic(series, value, part, only, dup, true);
}

cell* insert_typed(cell* series, cell* value, const cell* part, bool only, const cell* dup) {
    return insert_generic(series, value, part, only, dup, false);
}

cell* change_typed(cell* series, cell* value, const cell* part, bool only, const cell* dup) {
    auto f = handler<change_fn>(series, A_change);
    int64_t n = part_count(series, part);
    int32_t d = dup_count(dup);
    if (d < 1) return series;
    return f(series, value, static_cast<int32_t>(n), only, d);
}

cell* clear_typed(cell* series) { return handler<unary_fn>(series, A_clear)(series); }

cell* copy_typed(cell* series, const cell* part, bool deep, const cell* types) {
    auto f = handler<copy_fn>(series, A_copy);
    if (types && types->type() != T_datatype && types->type() != T_typeset) {
        cell type = datatype::make_value(types->type());
        error::raise(error::cat_script, error::script_expect_arg, &none_value, &type, &none_value);
    }
    return f(series, part, deep, types);
}

cell* find_typed(cell* series, cell* value, const cell* part, bool only, bool case_, bool same, bool any,
                 const cell* with, const cell* skip, bool last, bool reverse, bool tail, bool match) {
    return handler<find_fn>(series, A_find)(series, value, part, only, case_, same, any, with, skip, last,
                                            reverse, tail, match);
}

int32_t length_q_typed(const cell* value) { return handler<length_fn>(value, A_length_q)(value); }

cell* move_typed(cell* source, cell* target, const cell* part) {
    return handler<move_fn>(source, A_move)(source, target, part);
}

cell* pick_typed(cell* value, const cell* index) {
    return handler<pick_fn>(value, A_pick)(value, index_argument(index), index);
}

cell* poke_typed(cell* value, const cell* index, cell* data) {
    return handler<poke_fn>(value, A_poke)(value, index_argument(index), index, data);
}

cell* put_typed(cell* series, cell* key, cell* value, bool case_) {
    return handler<put_fn>(series, A_put)(series, key, value, case_);
}

cell* remove_typed(cell* series, const cell* part, const cell* key) {
    return handler<remove_fn>(series, A_remove)(series, part, key);
}

cell* reverse_typed(cell* series, const cell* part, const cell* skip) {
    return handler<reverse_fn>(series, A_reverse)(series, part, skip);
}

cell* select_typed(cell* series, cell* value, const cell* part, bool only, bool case_, bool same, bool any,
                   const cell* with, const cell* skip, bool last, bool reverse) {
    return handler<select_fn>(series, A_select)(series, value, part, only, case_, same, any, with, skip, last,
                                                reverse);
}

cell* sort_typed(cell* series, bool case_, const cell* skip, const cell* compare, const cell* part, bool all,
                 bool reverse, bool stable) {
    return handler<sort_fn>(series, A_sort)(series, case_, skip, compare, part, all, reverse, stable);
}

cell* swap_typed(cell* a, cell* b) { return handler<binary_fn>(a, A_swap)(a, b); }

cell* take_typed(cell* series, const cell* part, bool deep, bool last) {
    return handler<take_fn>(series, A_take)(series, part, deep, last);
}

cell* trim_typed(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const cell* with) {
    return handler<trim_fn>(series, A_trim)(series, head, tail, auto_, lines, all, with);
}

cell* create_typed(cell* port) { return handler<unary_fn>(port, A_create)(port); }
cell* close_typed(cell* port) { return handler<unary_fn>(port, A_close)(port); }
cell* delete_typed(cell* port) { return handler<unary_fn>(port, A_delete_)(port); }

cell* modify_typed(cell* target, const cell* field, cell* value, bool case_) {
    return handler<modify_fn>(target, A_modify)(target, field, value, case_);
}

cell* open_typed(cell* spec, bool new_, bool read, bool write, bool seek, const cell* allow) {
    return handler<open_fn>(spec, A_open)(spec, new_, read, write, seek, allow);
}

cell* open_q_typed(cell* port) { return handler<unary_fn>(port, A_open_q)(port); }
cell* query_typed(cell* target) { return handler<unary_fn>(target, A_query)(target); }

cell* read_typed(cell* source, const cell* part, const cell* seek, bool binary, bool lines, bool info,
                 const cell* as) {
    return handler<read_fn>(source, A_read)(source, part, seek, binary, lines, info, as);
}

cell* rename_typed(cell* from, cell* to) { return handler<binary_fn>(from, A_rename)(from, to); }
cell* update_typed(cell* port) { return handler<unary_fn>(port, A_update)(port); }

cell* write_typed(cell* target, cell* data, bool binary, bool lines, bool info, bool append, const cell* part,
                  const cell* seek, const cell* allow, const cell* as) {
    return handler<write_fn>(target, A_write)(target, data, binary, lines, info, append, part, seek, allow, as);
}

// }==
// {== Comparison

namespace {

inline int32_t order_unsigned(uint32_t a, uint32_t b) { return a < b ? -1 : a > b ? 1 : 0; }

} // namespace

int32_t compare_typed(const cell* a, const cell* b, int32_t op) {
    auto f = handler<compare_fn>(a, A_compare);
    switch (a->type()) {
    case T_logic: return static_cast<int32_t>(a->w1) - static_cast<int32_t>(b->w1);
    case T_native: case T_action: case T_op: return order_unsigned(a->w1, b->w1);
    case T_function: case T_routine: return order_unsigned(a->w3, b->w3);
    default: return f(a, b, op);
    }
}

bool compare(const cell* a, const cell* b, int32_t op) {
    if (op < 0 || op == 7 || op == 8 || op > 12) runtime_error(RT_NO_SWITCH);
    int32_t r = handler<compare_fn>(a, A_compare)(a, b, op);
    if (r == -2 && op >= 3 && op <= 6) error::raise(error::cat_script, error::script_invalid_compare, a, b);
    switch (op) {
    case 1: return r != 0;
    case 3: return r < 0;
    case 4: return r < 1;
    case 5: return r >= 1;
    case 6: return r >= 0;
    default: return r == 0;
    }
}

void compare_on_stack(int32_t op) { logic::box(compare(arg(0), arg(1), op)); }

int32_t index_argument(const cell* index) {
    switch (index->type()) {
    case T_integer: case T_char_: return static_cast<int32_t>(index->w2);
    case T_logic: return index->w1 ? 1 : 2;
    default: return 0;
    }
}

// }==
// {== Stack entries

void make() { make_typed(arg(0), arg(1)); }
void random(int32_t seed, int32_t secure, int32_t only) { random_typed(arg(0), on(seed), on(secure), on(only)); }
void reflect() { reflect_typed(arg(0), arg(1)); }
void to() { to_typed(arg(0), arg(1)); }

namespace {

// form and mold: a /part below 1 gives an empty string; otherwise the value goes into a new
// string, cut to the limit when /part was given. [run] forms or molds into the buffer.
template <typename Run> void form_or_mold(int32_t part, Run run) {
    int32_t limit = INT32_MAX;
    if (on(part)) {
        limit = to_int_checked(opt(part));
        if (limit < 1) {
            string::make_at(es.base, 1);
            return;
        }
    }
    cell* buffer = string::push_new(16); // on the stack: the value's own allocations may collect
    run(buffer, opt(part), limit);
    if (on(part)) string::truncate(buffer->w2, static_cast<uint32_t>(limit));
    *es.base = *buffer;
    stack::pop(1);
}

} // namespace

void form(int32_t part) {
    form_or_mold(part, [](cell* buffer, const cell* p, int32_t limit) { form_typed(arg(0), buffer, p, limit); });
}

void mold(int32_t only, int32_t all, int32_t flat, int32_t part) {
    form_or_mold(part, [=](cell* buffer, const cell* p, int32_t limit) {
        mold_typed(arg(0), buffer, on(only), on(all), on(flat), p, limit, 0);
    });
}

void eval_path(int32_t set) {
    path_step step{nullptr, nullptr, nullptr, 0, false, true, false};
    set_result(eval_path_typed(arg(0), arg(1), opt(set), step));
}

void absolute() { direct(A_absolute); }
void add() { direct(A_add); }
void divide() { direct(A_divide); }
void multiply() { direct(A_multiply); }
void negate() { negate_typed(arg(0)); }
void power() { direct(A_power); }
void remainder() { direct(A_remainder); }

void round(int32_t to, int32_t even, int32_t down, int32_t half_down, int32_t floor, int32_t ceiling,
           int32_t half_ceiling) {
    round_typed(arg(0), opt(to), on(even), on(down), on(half_down), on(floor), on(ceiling), on(half_ceiling));
}

void subtract() { direct(A_subtract); }
void even_q() { logic::box(even_q_typed(arg(0))); }
void odd_q() { logic::box(odd_q_typed(arg(0))); }
void and_t() { direct(A_and_t); }
void complement() { complement_typed(arg(0)); }
void or_t() { direct(A_or_t); }
void xor_t() { direct(A_xor_t); }

void append(int32_t part, int32_t only, int32_t dup) {
    set_result(append_typed(arg(0), arg(1), opt(part), on(only), opt(dup)));
}

void at() { direct(A_at); }
void back() { direct(A_back); }

void change(int32_t part, int32_t only, int32_t dup) {
    set_result(change_typed(arg(0), arg(1), opt(part), on(only), opt(dup)));
}

void clear() { set_result(clear_typed(arg(0))); }
void copy(int32_t part, int32_t deep, int32_t types) { set_result(copy_typed(arg(0), opt(part), on(deep), opt(types))); }

void find(int32_t part, int32_t only, int32_t case_, int32_t same, int32_t any, int32_t with, int32_t skip,
          int32_t last, int32_t reverse, int32_t tail, int32_t match) {
    set_result(find_typed(arg(0), arg(1), opt(part), on(only), on(case_), on(same), on(any), opt(with), opt(skip),
                          on(last), on(reverse), on(tail), on(match)));
}

void head() { direct(A_head); }
void head_q() { direct(A_head_q); }
void index_q() { direct(A_index_q); }

void insert(int32_t part, int32_t only, int32_t dup) {
    set_result(insert_typed(arg(0), arg(1), opt(part), on(only), opt(dup)));
}

void length_q() {
    int32_t n = length_q_typed(arg(0));
    cell v = n < 0 ? none_value : integer_value(n);
    stack::set_last(&v);
}

void move(int32_t part) {
    cell target = *arg(1); // the result is the target as it was passed
    move_typed(arg(0), arg(1), opt(part));
    stack::set_last(&target);
}

void next() { direct(A_next); }
void pick() { set_result(pick_typed(arg(0), arg(1))); }
void poke() { set_result(poke_typed(arg(0), arg(1), arg(2))); }
void put(int32_t case_) { set_result(put_typed(arg(0), arg(1), arg(2), on(case_))); }
void remove(int32_t part, int32_t key) { set_result(remove_typed(arg(0), opt(part), opt(key))); }
void reverse(int32_t part, int32_t skip) { set_result(reverse_typed(arg(0), opt(part), opt(skip))); }

void select(int32_t part, int32_t only, int32_t case_, int32_t same, int32_t any, int32_t with, int32_t skip,
            int32_t last, int32_t reverse) {
    set_result(select_typed(arg(0), arg(1), opt(part), on(only), on(case_), on(same), on(any), opt(with),
                            opt(skip), on(last), on(reverse)));
}

void sort(int32_t case_, int32_t skip, int32_t compare, int32_t part, int32_t all, int32_t reverse,
          int32_t stable) {
    cell* r = sort_typed(arg(0), on(case_), opt(skip), opt(compare), opt(part), on(all), on(reverse), on(stable));
    if (!es.throw_code) set_result(r); // an exit out of a comparator carries its own value
}

void skip() { direct(A_skip); }
void swap() { set_result(swap_typed(arg(0), arg(1))); }
void tail() { direct(A_tail); }
void tail_q() { direct(A_tail_q); }

void take(int32_t part, int32_t deep, int32_t last) { set_result(take_typed(arg(0), opt(part), on(deep), on(last))); }

void trim(int32_t head, int32_t tail, int32_t auto_, int32_t lines, int32_t all, int32_t with) {
    set_result(trim_typed(arg(0), on(head), on(tail), on(auto_), on(lines), on(all), opt(with)));
}

void create() { set_result(create_typed(arg(0))); }
void close() { set_result(close_typed(arg(0))); }
void delete_() { set_result(delete_typed(arg(0))); }
void modify(int32_t case_) { set_result(modify_typed(arg(0), arg(1), arg(2), on(case_))); }

void open(int32_t new_, int32_t read, int32_t write, int32_t seek, int32_t allow) {
    set_result(open_typed(arg(0), on(new_), on(read), on(write), on(seek), opt(allow)));
}

void open_q() { set_result(open_q_typed(arg(0))); }
void query() { set_result(query_typed(arg(0))); }

void read(int32_t part, int32_t seek, int32_t binary, int32_t lines, int32_t info, int32_t as) {
    set_result(read_typed(arg(0), opt(part), opt(seek), on(binary), on(lines), on(info), opt(as)));
}

void rename() { set_result(rename_typed(arg(0), arg(1))); }
void update() { set_result(update_typed(arg(0))); }

void write(int32_t binary, int32_t lines, int32_t info, int32_t append, int32_t part, int32_t seek,
           int32_t allow, int32_t as) {
    set_result(write_typed(arg(0), arg(1), on(binary), on(lines), on(info), on(append), opt(part), opt(seek),
                           opt(allow), opt(as)));
}

// }==
// {== The generic action table

action_fn generic[ACTION_SLOTS];

namespace {

// Stores [count] entries at slots 1 .. count.
void register_action_table(uint32_t count, const action_fn* entries) {
    for (uint32_t i = 0; i < count && i < ACTION_SLOTS; i++) generic[i] = entries[i];
}

} // namespace

void init() {
    using datatype::entry;
    // compare (slot 9) is reached through the comparison routines, set-path (8) has no entry.
    const action_fn entries[ACTION_SLOTS] = {
        entry(&make), entry(&random), entry(&reflect), entry(&to), entry(&form), entry(&mold),
        entry(&eval_path), nullptr, entry(&compare_on_stack), entry(&absolute), entry(&add), entry(&divide),
        entry(&multiply), entry(&negate), entry(&power), entry(&remainder), entry(&round), entry(&subtract),
        entry(&even_q), entry(&odd_q), entry(&and_t), entry(&complement), entry(&or_t), entry(&xor_t),
        entry(&append), entry(&at), entry(&back), entry(&change), entry(&clear), entry(&copy),
        entry(&find), entry(&head), entry(&head_q), entry(&index_q), entry(&insert), entry(&length_q),
        entry(&move), entry(&next), entry(&pick), entry(&poke), entry(&put), entry(&remove),
        entry(&reverse), entry(&select), entry(&sort), entry(&skip), entry(&swap), entry(&tail),
        entry(&tail_q), entry(&take), entry(&trim), entry(&create), entry(&close), entry(&delete_),
        entry(&modify), entry(&open), entry(&open_q), entry(&query), entry(&read), entry(&rename),
        entry(&update), entry(&write),
    };
    register_action_table(ACTION_SLOTS, entries);
}

// }==

} // namespace zyl::actions
