// datatypes/series.cpp: series! helpers, navigation, pick and poke, clear, remove, reverse,
// random, reflect and modify, and the registration. take, copy and move are in
// datatypes/series_edit.cpp.
#include "datatypes/series.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "datatypes/binary.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/murmur.h"
#include "runtime/ownership.h"
#include "runtime/sort.h"
#include "runtime/words.h"
#include "services/random.h"

namespace zyl::series {

vector_get_fn vector_get = nullptr;
vector_set_fn vector_set = nullptr;

// {== Internal functions

bool is_series_type(uint8_t t) {
    return is_any_block(t) || string::is_text_type(t) || t == T_binary || t == T_vector || t == T_image ||
           t == T_map;
}

int32_t rs_length_q(cell* s, bool whole) {
    uint32_t total = rs_abs_length_q(s);
    if (whole) return static_cast<int32_t>(total);
    int32_t idx = std::max(static_cast<int32_t>(s->w1), 0);
    if (static_cast<uint32_t>(idx) > total) {
        s->w1 = total;
        return 0;
    }
    return static_cast<int32_t>(total - static_cast<uint32_t>(idx));
}

uint32_t rs_abs_length_q(const cell* s) {
    // An image's series is its handle, not its pixels: it counts width times height.
    if (s->type() == T_image) return (s->w3 & 0xFFFF) * (s->w3 >> 16);
    return units_of(memory::buffer_of(s->w2));
}

bool rs_tail_q(const cell* s) { return s->w1 >= rs_abs_length_q(s); }

bool rs_skip(cell* s, int32_t n) {
    uint32_t total = rs_abs_length_q(s);
    int64_t to = int64_t(s->w1) + n;
    if (to >= 0 && to <= total) s->w1 = static_cast<uint32_t>(to);
    return s->w1 >= total;
}

namespace {

[[noreturn]] void not_done() { error::raise(error::cat_internal, error::internal_not_done); }

inline uint8_t* unit_address(node_id n, uint32_t pos) {
    series_buffer* b = memory::buffer_of(n);
    return b->head + (uint64_t(pos) << shift_of(b));
}

} // namespace

cell* element_at(const cell* s, uint32_t pos, cell* out) {
    uint8_t t = s->type();
    node_id n = s->w2;
    if (memory::buffer_of(n)->unit() == sizeof(cell) && t != T_image) {
        *out = *reinterpret_cast<const cell*>(unit_address(n, pos));
    } else if (t == T_binary) {
        *out = integer::make_value(*unit_address(n, pos));
    } else if (string::is_text_type(t)) {
        cell c{T_char_, 0, string::rs_abs_char_at(s, pos), 0};
        *out = c;
    } else if (t == T_vector && vector_get) {
        cell v = *s;
        vector_get(&v, pos, out);
    } else {
        not_done();
    }
    return out;
}

void store_element(const cell* s, uint32_t pos, const cell* data) {
    uint8_t t = s->type();
    if (memory::buffer_of(s->w2)->unit() == sizeof(cell) && t != T_image) {
        *reinterpret_cast<cell*>(unit_address(s->w2, pos)) = *data;
        detail::hash_rewritten(s, pos, 1);
    } else if (t == T_binary) {
        binary::poke_value(unit_address(s->w2, pos), data);
    } else if (string::is_text_type(t)) {
        if (data->type() != T_char_) error::raise(error::cat_script, error::script_invalid_arg, data);
        string::store_char(s->w2, pos, data->w2);
    } else if (t == T_vector && vector_set) {
        vector_set(s, pos, data);
    } else {
        not_done();
    }
}

namespace detail {

void hash_removed(const cell* s, uint32_t pos, uint32_t count) {
    node_id t = table_of(s);
    if (!t || count == 0) return;
    uint32_t after = rs_abs_length_q(s) - pos;
    if (hashtable::reindex_range(t, -static_cast<int32_t>(count), pos + count, after, true))
        hashtable::clear_and_size(t, 0);
}

void hash_inserted(const cell* s, uint32_t pos, uint32_t count) {
    node_id t = table_of(s);
    if (!t || count == 0) return;
    node_id n = s->w2;
    uint32_t after = rs_abs_length_q(s) - pos - count;
    if (hashtable::reindex_range(t, static_cast<int32_t>(count), pos, after, true)) {
        hashtable::clear_and_size(t, 0); // indexes the new cells too
        return;
    }
    for (uint32_t i = 0; i < count; i++) {
        int32_t status;
        // Re-derived each time: indexing may allocate.
        hashtable::put(t, reinterpret_cast<cell*>(unit_address(n, pos + i)), &status);
        if (status == hashtable::PUT_REBUILT) return;
    }
}

void hash_rewritten(const cell* s, uint32_t pos, uint32_t count) {
    node_id t = table_of(s);
    if (!t || count == 0) return;
    node_id n = s->w2;
    hashtable::remove_range(t, pos, count);
    for (uint32_t i = 0; i < count; i++) {
        int32_t status;
        hashtable::put(t, reinterpret_cast<cell*>(unit_address(n, pos + i)), &status);
        if (status == hashtable::PUT_REBUILT) return;
    }
}

void hash_swapped(const cell* s, uint32_t p, uint32_t q) {
    node_id t = table_of(s);
    if (!t || p == q) return;
    hashtable::remove_range(t, p, 1);
    hashtable::remove_range(t, q, 1);
    for (uint32_t pos : {p, q}) {
        int32_t status;
        hashtable::put(t, reinterpret_cast<cell*>(unit_address(s->w2, pos)), &status);
        if (status == hashtable::PUT_REBUILT) return;
    }
}

int64_t part_count(const cell* s, const cell* part) {
    uint8_t pt = part->type();
    if (pt == T_integer || pt == T_float_) return string::detail::int_of(part);
    if (pt != s->type() || part->w2 != s->w2)
        string::detail::invalid_refine(words::refs.part, part);
    uint32_t total = rs_abs_length_q(s);
    return int64_t(std::min(part->w1, total)) - int64_t(std::min(s->w1, total));
}

void remove_units(const cell* s, uint32_t pos, uint32_t count) {
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t total = units_of(b);
    if (pos >= total || count == 0) return;
    count = std::min(count, total - pos);
    uint32_t shift = shift_of(b);
    uint8_t* at = b->head + (uint64_t(pos) << shift);
    uint64_t bytes = uint64_t(count) << shift;
    std::memmove(at, at + bytes, static_cast<size_t>(b->tail - (at + bytes)));
    b->tail -= bytes;
    hash_removed(s, pos, count);
}

} // namespace detail

namespace {

// The offset argument of at and skip (cell 1 of the frame): an integer!, else invalid-arg.
int64_t offset_argument() {
    const cell* n = stack::arg(1);
    if (n->type() != T_integer) error::raise(error::cat_script, error::script_invalid_arg, n);
    return integer::get(n);
}

// Sets the index of [s] to [to], clamped to 0 .. the buffer's units.
void set_index(cell* s, int64_t to) {
    s->w1 = static_cast<uint32_t>(std::clamp<int64_t>(to, 0, rs_abs_length_q(s)));
}

// The absolute position that pick and poke address with [n] from the index of [s], which
// reads as the tail when it lies past it; -1 when there is none.
int64_t pick_position(const cell* s, int32_t n, uint32_t total) {
    int64_t idx = std::min(s->w1, total);
    int64_t p = n >= 1 ? idx + n - 1 : idx + n;
    return n == 0 || p < 0 || p >= total ? -1 : p;
}

// Whether [field] is the word `owned`.
bool is_owned_field(const cell* field) {
    if (field->type() != T_word || symbol::table.entries == 0) return false;
    const char* name = symbol::c_name(symbol::resolve(field->w2));
    return strcasecmp(name, "owned") == 0;
}

// Exchanges [units] units of [b] at positions [i] and [j].
inline void swap_units(series_buffer* b, uint32_t i, uint32_t j, uint32_t units) {
    if (i == j) return;
    uint32_t shift = shift_of(b);
    sort::swap(b->head + (uint64_t(i) << shift), b->head + (uint64_t(j) << shift), size_t(units) << shift);
}

// The record size of reverse/skip [skip] over [count] units; 0 means there is nothing to do.
uint32_t reverse_record(const cell* skip, int64_t count) {
    if (!skip) return 1;
    int32_t n = string::detail::int_of(skip);
    if (n < 1) error::raise(error::cat_script, error::script_out_of_range, skip);
    if (n == count) return 0;
    if (count < n || count % n != 0) string::detail::invalid_refine(words::refs.skip, skip);
    return static_cast<uint32_t>(n);
}

} // namespace

// }==
// {== Action entries

void head() { stack::arg(0)->w1 = 0; }
void tail() { stack::arg(0)->w1 = rs_abs_length_q(stack::arg(0)); }
void head_q() { logic::box(stack::arg(0)->w1 == 0); }
void tail_q() { logic::box(rs_tail_q(stack::arg(0))); }
void index_q() { integer::box(static_cast<int32_t>(stack::arg(0)->w1 + 1)); }

void at() {
    cell* s = stack::arg(0);
    int64_t n = offset_argument();
    set_index(s, n >= 1 ? int64_t(s->w1) + n - 1 : int64_t(s->w1) + n);
}

void skip() {
    cell* s = stack::arg(0);
    set_index(s, int64_t(s->w1) + offset_argument());
}

void next() {
    cell* s = stack::arg(0);
    if (s->w1 + 1 <= rs_abs_length_q(s)) s->w1++;
}

void back() {
    cell* s = stack::arg(0);
    if (s->w1 > 0) s->w1--;
}

int32_t length_q(const cell* value) {
    uint32_t total = rs_abs_length_q(value);
    return value->w1 < total ? static_cast<int32_t>(total - value->w1) : 0;
}

cell* pick(cell* value, int32_t index, const cell*) {
    int64_t p = pick_position(value, index, rs_abs_length_q(value));
    if (p < 0) return &(*value = none_value);
    return element_at(value, static_cast<uint32_t>(p), value);
}

cell* poke(cell* value, int32_t index, const cell* at, cell* data) {
    int64_t p = pick_position(value, index, rs_abs_length_q(value));
    if (p < 0) error::raise(error::cat_script, error::script_out_of_range, at);
    owner::tell_before(value, words::loaded.poke, data, int32_t(p), 1);
    store_element(value, static_cast<uint32_t>(p), data);
    owner::tell(value, words::loaded.poked, data, int32_t(p), 1);
    return data;
}

cell* clear(cell* series) {
    series_buffer* b = memory::buffer_of(series->w2);
    uint32_t total = units_of(b);
    if (series->w1 >= total) return series;
    owner::tell_before(series, words::loaded.clear,
        nullptr, int32_t(series->w1), int32_t(total - series->w1));
    if (node_id t = detail::table_of(series)) hashtable::remove_range(t, series->w1, total - series->w1);
    b = memory::buffer_of(series->w2);
    b->tail = b->head + (uint64_t(series->w1) << shift_of(b));
    owner::tell(series, words::loaded.cleared,
        nullptr, int32_t(series->w1), int32_t(total - series->w1));
    return series;
}

cell* remove(cell* series, const cell* part, const cell* key) {
    int64_t count = part ? detail::part_count(series, part) : 1;
    if (count < 1) return series;
    uint32_t pos = series->w1;
    if (key) {
        // The key is found by the type's own find; it goes with the value after it.
        cell from = *series, k = *key;
        cell* found = actions::find_typed(&from, &k, nullptr, false, false, false, false, nullptr, nullptr, false,
                                          false, false, false);
        if (found->type() == T_none) return &(*series = none_value);
        pos = found->w1;
        count++;
    }
    if (pos >= rs_abs_length_q(series)) return series;
    auto removed = int32_t(std::min<int64_t>(count, rs_abs_length_q(series) - pos));
    owner::tell_before(series, words::global.remove, nullptr, int32_t(pos), removed);
    detail::remove_units(series, pos, static_cast<uint32_t>(std::min<int64_t>(count, UINT32_MAX)));
    owner::tell(series, words::loaded.removed, nullptr, int32_t(pos), removed);
    return series;
}

cell* reverse(cell* series, const cell* part, const cell* skip) {
    uint32_t total = rs_abs_length_q(series);
    uint32_t idx = std::min(series->w1, total);
    int64_t count = total - idx;
    if (part) {
        int64_t n = detail::part_count(series, part);
        if (n < 1) return series;
        count = std::min(n, count);
    }
    uint32_t size = reverse_record(skip, count);
    if (size == 0 || count < 2 * int64_t(size)) return series;
    owner::tell_before(series, words::loaded.reverse, nullptr, int32_t(idx), int32_t(count));
    series_buffer* b = memory::buffer_of(series->w2);
    for (uint32_t i = 0, j = static_cast<uint32_t>(count) / size - 1; i < j; i++, j--)
        swap_units(b, idx + i * size, idx + j * size, size);
    detail::hash_rewritten(series, idx, static_cast<uint32_t>(count));
    owner::tell(series, words::loaded.reversed, nullptr, int32_t(idx), int32_t(count));
    return series;
}

cell* random(cell* value, bool seed, bool secure, bool only) {
    uint32_t total = rs_abs_length_q(value);
    uint32_t idx = std::min(value->w1, total);
    if (seed) {
        series_buffer* b = memory::buffer_of(value->w2);
        uint32_t shift = shift_of(b);
        uint32_t h = hash::murmur3(b->head + (uint64_t(idx) << shift), size_t(total - idx) << shift);
        zyl::random::seed(static_cast<int32_t>(h));
        return &(*value = unset_value);
    }
    if (only) {
        if (idx == total) return &(*value = none_value);
        int32_t r = zyl::random::in_range(secure, static_cast<int32_t>(total - idx));
        return element_at(value, idx + static_cast<uint32_t>(r) - 1, value);
    }
    owner::tell_before(value, words::loaded.random, nullptr, int32_t(idx), int32_t(total - idx));
    for (uint32_t i = idx; i < total; i++) {
        int32_t r = zyl::random::in_range(secure, static_cast<int32_t>(total - i));
        swap_units(memory::buffer_of(value->w2), i, i + static_cast<uint32_t>(r) - 1, 1);
    }
    detail::hash_rewritten(value, idx, total - idx);
    owner::tell(value, words::loaded.randomized, nullptr, int32_t(idx), int32_t(total - idx));
    return value;
}

cell* reflect(cell* value, const cell* field) {
    if (is_owned_field(field)) {
        const cell* o = owner::find(value->w2);
        return &(*value = o ? *o : none_value);
    }
    error::raise(error::cat_internal, error::internal_not_done, field);
}

cell* modify(cell* target, const cell* field, cell* value, bool) {
    // `owned` with none releases the series, with [owner word] gives it an owner. Other
    // fields change nothing.
    if (is_owned_field(field)) owner::modify_owned(target, value);
    return value;
}

// }==
// {== Registration

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_random - 1] = entry(&random);
    e[A_reflect - 1] = entry(&reflect);
    e[A_at - 1] = entry(&at);
    e[A_back - 1] = entry(&back);
    e[A_clear - 1] = entry(&clear);
    e[A_copy - 1] = entry(&copy);
    e[A_head - 1] = entry(&head);
    e[A_head_q - 1] = entry(&head_q);
    e[A_index_q - 1] = entry(&index_q);
    e[A_length_q - 1] = entry(&length_q);
    e[A_move - 1] = entry(&move);
    e[A_next - 1] = entry(&next);
    e[A_pick - 1] = entry(&pick);
    e[A_poke - 1] = entry(&poke);
    e[A_remove - 1] = entry(&remove);
    e[A_reverse - 1] = entry(&reverse);
    e[A_skip - 1] = entry(&skip);
    e[A_tail - 1] = entry(&tail);
    e[A_tail_q - 1] = entry(&tail_q);
    e[A_take - 1] = entry(&take);
    e[A_modify - 1] = entry(&modify);
    datatype::register_type(ACTION_SLOTS + 3, T_series, 0, "series!", e);
}

// }==

} // namespace zyl::series
