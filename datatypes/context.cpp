// datatypes/context.cpp: context!: making contexts, finding and adding words, reading and
// writing their slots, and binding. Layout and invariants are in datatypes/context.h.
#include "datatypes/context.h"

#include <algorithm>
#include <vector>

#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::context {

change_hook fire_on_change = nullptr;

// {== Internal functions

namespace {

node_id global_ctx = 0;

void mark_global() {
    if (global_ctx) collector::mark_block(global_ctx);
}

inline node_id values_of(node_id ctx) { return cell_of(ctx)->w2; }

// Whether symbol [s] is a spelling of self (the predefined symbol, once words exist).
inline bool is_self(uint32_t s) {
    return words::sym.self != 0 && symbol::resolve(s) == symbol::resolve(words::sym.self);
}

[[noreturn]] void raise_with(int32_t id, const cell* word) {
    cell w = *word; // the word may lie in a buffer that building the error moves
    error::raise(error::cat_script, id, &w);
}

// The slot index of the word-list entry at [pos]: its own position, but for a case variant
// in the global context the earliest variant's.
inline int32_t slot_index(node_id ctx, int32_t pos) {
    return pos < 0 ? -1 : static_cast<int32_t>(word_at(ctx, static_cast<uint32_t>(pos))->w3);
}

// The value slot [index] of [ctx]: a stack cell for a running function context, else a cell
// of the value series. A function context that is not running raises not-defined naming
// [word] (its word-list entry when null).
cell* slot_at(node_id ctx, uint32_t index, const cell* word) {
    const cell* c = cell_of(ctx);
    if (!(c->header & CTX_STACK_VALUES))
        return reinterpret_cast<cell*>(memory::buffer_of(c->w2)->head) + index;
    if (ZYL_UNLIKELY(c->w2 == 0))
        raise_with(error::script_not_defined, word ? word : word_at(ctx, index));
    return es.bottom + (c->w2 - 1) + index;
}

// An object context's word-list entry at [index] takes the changed-mark.
inline void mark_changed(node_id ctx, uint32_t index) {
    if (kind_of(ctx) == KIND_OBJECT) word_at(ctx, index)->header |= WORD_CHANGED;
}

// Stores [v] into the value-series slot [index] of [ctx]. When the owner is an object with an
// on-set record and [fire] is set, its on-change* hook sees the change with the old value
// pushed on the stack. Answers the slot.
cell* store_in_series(node_id ctx, uint32_t index, const cell& v, const cell* word, bool fire) {
    cell* slot = value_at(ctx, index);
    cell owner = *owner_of(ctx);
    if (!fire || owner.type() != T_object || owner.w3 == 0) return &(*slot = v);
    cell* saved_top = es.top;
    cell* old = stack::push(slot);
    *slot = v;
    cell w = *word;
    // The call point of on-change*: object! sets the hook once objects exist.
    if (fire_on_change) fire_on_change(&owner, &w, old, slot);
    if (es.throw_code == THROW_NONE) es.top = saved_top; // a throw has cut the stack already
    return value_at(ctx, index); // the hook may have moved the value series
}

// Binding may read each word's slot from a map of canonical symbol to slot + 1, filled from
// the context's word list before the walk and emptied after: one load a word instead of a
// search of the list or a probe of the table. The first entry of a name wins, as the search
// finds it. The map is used where filling it costs no more than the walk: a context of a few
// words, or no more words than the block has cells.
constexpr uint32_t BIND_MAP_SMALL = 16;
std::vector<uint32_t> bind_map;

template <bool MAPPED> void bind_walk(const cell* block, node_id ctx, bool self);

// The cells [from, to) of block node [n]: binds words, recurses into nested any-blocks.
// Nothing here allocates, so raw cell pointers hold for the whole walk.
template <bool MAPPED> void bind_cells(cell* from, cell* to, node_id ctx, bool self) {
    for (cell* c = from; c < to; c++) {
        switch (c->type()) {
        case T_word:
            if (self && is_self(c->w2)) { // any case variant: Self, SELF
                c->w1 = ctx;
                c->w3 = static_cast<uint32_t>(-1);
                break;
            }
            [[fallthrough]];
        case T_set_word:
        case T_lit_word:
        case T_get_word:
        case T_refinement:
            if constexpr (MAPPED) {
                if (uint32_t slot = bind_map[symbol::resolve(c->w2)]) {
                    c->w1 = ctx;
                    c->w3 = slot - 1;
                }
            } else {
                bind_word(ctx, c);
            }
            break;
        case T_block:
        case T_paren:
        case T_path:
        case T_lit_path:
        case T_set_path:
        case T_get_path:
        case T_hash: bind_walk<MAPPED>(c, ctx, self); break;
        default: break;
        }
    }
}

template <bool MAPPED> void bind_walk(const cell* block, node_id ctx, bool self) {
    node_id n = block->w2;
    if (cycles::find(n)) return; // being bound further up: it contains itself
    cycles::entry k_walk{n};
    series_buffer* b = memory::buffer_of(n);
    auto* first = reinterpret_cast<cell*>(b->head);
    auto* tail = reinterpret_cast<cell*>(b->tail);
    bind_cells<MAPPED>(first + std::min<uint64_t>(block->w1, tail - first), tail, ctx, self);
}

// Fills the bind map from [ctx]'s words and empties it again on every way out.
struct bind_map_fill {
    node_id ctx;
    uint32_t words;
    bind_map_fill(node_id c, uint32_t n) : ctx(c), words(n) {
        if (bind_map.size() <= symbol::count()) bind_map.resize(symbol::count() + 1024);
        for (uint32_t i = 0; i < words; i++) {
            const cell* w = word_at(ctx, i);
            uint32_t& slot = bind_map[symbol::resolve(w->w2)];
            if (!slot) slot = w->w3 + 1;
        }
    }
    ~bind_map_fill() {
        for (uint32_t i = 0; i < words; i++) bind_map[symbol::resolve(word_at(ctx, i)->w2)] = 0;
    }
};

// The map entry of a word of the inner context of a copy_bound: it outranks the outer one.
constexpr uint32_t BIND_INNER = 0x80000000u;

// Fills the bind map from [outer]'s words and then [inner]'s, whose entries replace the
// outer ones, and empties it again on every way out.
struct bind_pair_fill {
    node_id outer, inner;
    bind_pair_fill(node_id o, node_id i) : outer(o), inner(i) {
        if (bind_map.size() <= symbol::count()) bind_map.resize(symbol::count() + 1024);
        for (uint32_t k = 0, n = word_count(outer); k < n; k++) {
            const cell* w = word_at(outer, k);
            uint32_t& slot = bind_map[symbol::resolve(w->w2)];
            if (!slot) slot = w->w3 + 1;
        }
        for (uint32_t k = 0, n = word_count(inner); k < n; k++) {
            const cell* w = word_at(inner, k);
            uint32_t& slot = bind_map[symbol::resolve(w->w2)];
            if (!(slot & BIND_INNER)) slot = (w->w3 + 1) | BIND_INNER;
        }
    }
    ~bind_pair_fill() {
        for (uint32_t k = 0, n = word_count(outer); k < n; k++)
            bind_map[symbol::resolve(word_at(outer, k)->w2)] = 0;
        for (uint32_t k = 0, n = word_count(inner); k < n; k++)
            bind_map[symbol::resolve(word_at(inner, k)->w2)] = 0;
    }
};

// Binds [c] (a word of any kind) through the pair map: to the inner context when it has the
// word; else a self word! to the outer one's owner; else to the outer context when it has it.
inline void bind_pair_word(cell* c, node_id outer, node_id inner) {
    uint32_t slot = bind_map[symbol::resolve(c->w2)];
    if (slot & BIND_INNER) {
        c->w1 = inner;
        c->w3 = (slot & ~BIND_INNER) - 1;
    } else if (c->type() == T_word && is_self(c->w2)) {
        c->w1 = outer;
        c->w3 = static_cast<uint32_t>(-1);
    } else if (slot) {
        c->w1 = outer;
        c->w3 = slot - 1;
    }
}

// Replaces the series in stack cell [v] by its copy from its index and, for an any-block, goes
// on through the copy's cells as a deep copy does (nested any-blocks, texts, binary! and
// vector! copied; a block met inside itself raises no-cycle), binding each word through the
// pair map on the way. Allocates: cell addresses are re-derived after every copy.
void copy_bind_walk(cell* v, node_id outer, node_id inner) {
    node_id source = v->w2;
    series::copy(v, nullptr, false, nullptr);
    if (!series::is_any_block(v->type())) return;
    cycles::entry walking{source};
    node_id n = v->w2;
    for (uint32_t i = 0, total = static_cast<uint32_t>(series::length(n)); i < total; i++) {
        cell* c = reinterpret_cast<cell*>(memory::buffer_of(n)->head) + i;
        uint8_t t = c->type();
        switch (t) {
        case T_word:
        case T_set_word:
        case T_lit_word:
        case T_get_word:
        case T_refinement: bind_pair_word(c, outer, inner); continue;
        default: break;
        }
        bool block = series::is_any_block(t);
        if (!block && !string::is_text_type(t) && t != T_binary && t != T_vector) continue;
        if (block && cycles::find(c->w2))
            error::raise(error::cat_internal, error::internal_no_cycle);
        cell* s = stack::push(c); // rooted while the copy is made
        uint32_t header = s->header;
        copy_bind_walk(s, outer, inner);
        s->header = (s->header & CELL_TYPE_MASK) | (header & ~CELL_TYPE_MASK); // new-line mark
        reinterpret_cast<cell*>(memory::buffer_of(n)->head)[i] = *s;
        stack::pop(1);
    }
}

// Gives small context [ctx] a word table over its word list (it outgrew SMALL_WORDS).
[[gnu::noinline]] void add_table(node_id ctx) {
    cell words{T_block, 0, cell_of(ctx)->w1, 0};
    node_id t = hashtable::init(2 * SMALL_WORDS, &words, hashtable::KIND_WORD,
                                hashtable::SUB_CONTEXT);
    cell* c = cell_of(ctx);
    c->w1 = t;
    c->header &= ~CTX_SMALL;
}

// hashtable::context_find_word for [ctx] (with [add], add mode). A small context searches its
// word list in order, which finds the entry a table's probe would (equal names hash alike,
// and the earlier entry holds the earlier bucket of their common probe path).
int32_t lookup(node_id ctx, uint32_t symbol, bool any_case, bool add, int32_t* out_index) {
    const cell* c = cell_of(ctx);
    if (!(c->header & CTX_SMALL))
        return hashtable::context_find_word(c->w1, symbol, any_case, add ? ctx : 0, out_index);
    node_id list = c->w1;
    const series_buffer* b = memory::buffer_of(list);
    const cell* w = reinterpret_cast<const cell*>(b->head);
    auto n = static_cast<uint32_t>(b->used_bytes() / sizeof(cell));
    uint32_t want = any_case ? symbol::resolve(symbol) : symbol;
    for (uint32_t i = 0; i < n; i++) {
        if ((any_case ? symbol::resolve(w[i].w2) : w[i].w2) != want) continue;
        if (out_index) *out_index = static_cast<int32_t>(i);
        return static_cast<int32_t>(i);
    }
    if (!add) return -1;
    if (n >= SMALL_WORDS) {
        add_table(ctx);
        return hashtable::context_find_word(table_of(ctx), symbol, any_case, ctx, out_index);
    }
    *series::append_unset_cell(list) = cell{T_word, ctx, symbol, n};
    if (out_index) *out_index = static_cast<int32_t>(n);
    return -1;
}

} // namespace

// }==
// {== Making contexts

node_id make(uint32_t slots, bool function, bool object, node_id source, uint32_t kind) {
    if (slots == 0) slots = 1;
    node_id ctx = series::alloc_cells(2);
    collector::keep_node k_ctx{&ctx}; // nothing else refers to the context while it is built
    series_buffer* b = memory::buffer_of(ctx);
    auto* c = reinterpret_cast<cell*>(b->head);
    c[0] = c[1] = unset_value;
    b->tail = b->head + 2 * sizeof(cell);
    bool small = source ? (cell_of(source)->header & CTX_SMALL) != 0 : slots <= SMALL_WORDS;
    node_id table;
    if (small && source) {
        table = series::copy_buffer(words_of(source));
    } else if (small) {
        table = series::alloc_cells(slots);
    } else {
        table = source ? hashtable::copy_words(table_of(source))
                       : hashtable::init(slots, nullptr, hashtable::KIND_WORD,
                                         hashtable::SUB_CONTEXT);
    }
    uint32_t header = T_context | ((kind << CTX_KIND_SHIFT) & CTX_KIND_MASK) |
                      (object ? CTX_OBJECT : 0) | (small ? CTX_SMALL : 0);
    *cell_of(ctx) = cell{header | (function ? CTX_STACK_VALUES : 0), table, 0, 0};
    if (function) return ctx;
    uint32_t words = word_count(ctx);
    node_id values = series::alloc_cells(std::max(slots, words));
    series_buffer* vb = memory::buffer_of(values);
    auto* v = reinterpret_cast<cell*>(vb->head);
    for (uint32_t i = 0; i < words; i++) v[i] = unset_value;
    vb->tail = vb->head + uint64_t(words) * sizeof(cell);
    cell_of(ctx)->w2 = values;
    return ctx;
}

node_id make_from_spec(const cell* spec, bool function, bool object, uint32_t kind) {
    cell blk = *spec; // node and index are all we need; the buffer may move
    uint32_t length = static_cast<uint32_t>(series::length(blk.w2));
    uint32_t from = std::min(blk.w1, length);
    node_id ctx = make(length - from, function, object, 0, kind);
    collector::keep_node k_ctx{&ctx};
    for (uint32_t i = from; i < series::length(blk.w2); i++) {
        cell v = reinterpret_cast<cell*>(memory::buffer_of(blk.w2)->head)[i];
        uint8_t t = v.type();
        if (t == T_word || t == T_get_word || t == T_lit_word || t == T_refinement)
            add_word(ctx, &v);
    }
    return ctx;
}

node_id clone(cell* value, uint32_t kind) {
    node_id source = value->w1;
    uint32_t flags = cell_of(source)->header;
    node_id ctx =
        make(word_count(source), flags & CTX_STACK_VALUES, flags & CTX_OBJECT, source, kind);
    series_buffer* b = memory::buffer_of(words_of(ctx));
    for (auto* w = reinterpret_cast<cell*>(b->head); w < reinterpret_cast<cell*>(b->tail); w++)
        w->w1 = ctx;
    value->w1 = ctx;
    return ctx;
}

bool collect_set_words(node_id ctx, const cell* block) {
    cell blk = *block;
    uint32_t before = word_count(ctx);
    for (uint32_t i = blk.w1; i < series::length(blk.w2); i++) {
        cell v = reinterpret_cast<cell*>(memory::buffer_of(blk.w2)->head)[i];
        if (v.type() == T_set_word) add_word(ctx, &v);
    }
    return word_count(ctx) > before;
}

// }==
// {== Finding and adding words

int32_t find_word(node_id ctx, uint32_t symbol, bool any_case) {
    int32_t pos = lookup(ctx, symbol, any_case, false, nullptr);
    return slot_index(ctx, pos);
}

int32_t search_symbol(node_id ctx, uint32_t symbol, bool any_case, int32_t* out_index) {
    int32_t added = -1;
    int32_t pos = lookup(ctx, symbol, any_case, true, &added);
    int32_t found = slot_index(ctx, pos);
    if (out_index) *out_index = pos >= 0 ? found : added;
    return found;
}

int32_t add_word(node_id ctx, const cell* word) {
    int32_t index;
    if (search_symbol(ctx, word->w2, true, &index) >= 0) return index;
    if (!on_stack(ctx)) series::append_unset_cell(values_of(ctx));
    return index;
}

void add_word_value(node_id ctx, const cell* word, const cell* value) {
    cell v = *value;
    int32_t index;
    if (search_symbol(ctx, word->w2, true, &index) >= 0) return;
    if (!on_stack(ctx)) series::append_value(values_of(ctx), v);
}

void set_or_add(node_id ctx, const cell* word, const cell* value) {
    cell v = *value;
    cell w = *word;
    int32_t index;
    if (search_symbol(ctx, w.w2, true, &index) >= 0) {
        *slot_at(ctx, static_cast<uint32_t>(index), &w) = v;
    } else if (!on_stack(ctx)) {
        series::append_value(values_of(ctx), v);
    }
}

cell add_global_word(uint32_t symbol, bool any_case, bool alias_copy) {
    node_id g = global_ctx;
    int32_t added = -1;
    int32_t pos = hashtable::context_find_word(table_of(g), symbol, any_case, g, &added);
    if (pos >= 0) {
        cell w = *word_at(g, static_cast<uint32_t>(pos));
        if (any_case && alias_copy) w.w2 = symbol; // the caller's spelling, the variant's slot
        return w;
    }
    if (symbol::alias(symbol) > 0) {
        // A case variant shares the slot of the earliest variant in the context.
        int32_t first = hashtable::context_find_word(table_of(g), symbol, true, 0, nullptr);
        word_at(g, static_cast<uint32_t>(added))->w3 = static_cast<uint32_t>(slot_index(g, first));
    }
    series::append_unset_cell(values_of(g)); // value i stays word i's
    return *word_at(g, static_cast<uint32_t>(added));
}

cell find_or_global(node_id ctx, uint32_t symbol) {
    int32_t pos = lookup(ctx, symbol, false, false, nullptr);
    if (pos >= 0) return *word_at(ctx, static_cast<uint32_t>(pos));
    return add_global_word(symbol, false, false);
}

// }==
// {== Reading and writing slots

cell* finish_get_word_slot(const cell* word, node_id ctx) {
    if (ctx == 0) raise_with(error::script_not_defined, word);
    auto index = static_cast<int32_t>(word->w3);
    if (index < 0) {
        if (is_self(word->w2)) return owner_of(ctx);
        raise_with(error::script_no_value, word);
    }
    const cell* c = cell_of(ctx);
    if (!(c->header & CTX_STACK_VALUES)) return value_at(ctx, static_cast<uint32_t>(index));
    if (c->w2 == 0) raise_with(error::script_not_in_context, word);
    return es.bottom + (c->w2 - 1) + index;
}

cell* set_word_value(cell* word, const cell* value, node_id ctx, bool fire) {
    // The common case first, as every set-word of a loop takes it.
    if (cell* slot = plain_set_slot(word, ctx)) return &(*slot = *value);
    cell v = *value; // [value] may lie in a buffer that adding the word moves
    if (ctx == 0) raise_with(error::script_not_defined, word);
    // A function context that is not running has no slots: checked before the word could be
    // added to it.
    if (on_stack(ctx) && values_of(ctx) == 0) raise_with(error::script_not_defined, word);
    auto index = static_cast<int32_t>(word->w3);
    if (index < 0) {
        index = find_word(ctx, word->w2, false);
        if (index < 0) index = add_word(ctx, word);
        word->w3 = static_cast<uint32_t>(index);
    }
    auto i = static_cast<uint32_t>(index);
    if (on_stack(ctx)) return &(*slot_at(ctx, i, word) = v);
    mark_changed(ctx, i);
    return store_in_series(ctx, i, v, word, fire);
}

cell* value_at(node_id ctx, uint32_t index) {
    return reinterpret_cast<cell*>(memory::buffer_of(values_of(ctx))->head) + index;
}

cell* push_value_at(node_id ctx, uint32_t index) {
    cell v = *slot_at(ctx, index, nullptr);
    return stack::push(&v);
}

void set_value_from_top(node_id ctx, uint32_t index) {
    cell v = *stack::top();
    cell* slot = slot_at(ctx, index, nullptr);
    if (!on_stack(ctx)) mark_changed(ctx, index);
    *slot = v;
}

void set_value_keep_old(node_id ctx, uint32_t index) {
    cell v = *stack::top();
    cell* slot = slot_at(ctx, index, nullptr);
    stack::push(slot);
    if (!on_stack(ctx)) mark_changed(ctx, index);
    *slot = v;
}

void set_value_from_result(node_id ctx, uint32_t index) {
    cell v = *es.base;
    cell* slot = slot_at(ctx, index, nullptr);
    if (!on_stack(ctx)) mark_changed(ctx, index);
    *slot = v;
}

void set_integer(node_id ctx, cell* word, int32_t n) {
    auto index = static_cast<int32_t>(word->w3);
    if (index < 0) {
        index = find_word(ctx, word->w2, false);
        if (index < 0) raise_with(error::script_not_defined, word);
        word->w3 = static_cast<uint32_t>(index);
    }
    *slot_at(ctx, static_cast<uint32_t>(index), word) = integer::make_value(n);
}

cell* find_value(node_id ctx, const cell* word) {
    if (on_stack(ctx)) ctx = global_ctx;
    int32_t index = find_word(ctx, word->w2, true);
    return index < 0 ? nullptr : value_at(ctx, static_cast<uint32_t>(index));
}

cell* global_value(uint32_t symbol) {
    int32_t index = find_word(global_ctx, symbol, true);
    return index < 0 ? nullptr : value_at(global_ctx, static_cast<uint32_t>(index));
}

void copy_global_value(uint32_t symbol, cell* target) {
    int32_t index = find_word(global_ctx, symbol, false);
    if (index < 0) index = static_cast<int32_t>(add_global_word(symbol, false, false).w3);
    *target = *value_at(global_ctx, static_cast<uint32_t>(index));
}

// }==
// {== Binding

int32_t bind_word(node_id ctx, cell* word) {
    int32_t index = find_word(ctx, word->w2, true);
    if (index >= 0) {
        word->w1 = ctx;
        word->w3 = static_cast<uint32_t>(index);
    }
    return index;
}

const cell* bind(const cell* block, node_id ctx, bool self) {
    uint32_t words = word_count(ctx);
    uint64_t cells = series::length(block->w2);
    cells -= std::min<uint64_t>(block->w1, cells);
    if (words > BIND_MAP_SMALL && words > cells) {
        bind_walk<false>(block, ctx, self);
        return block;
    }
    bind_map_fill fill{ctx, words};
    bind_walk<true>(block, ctx, self);
    return block;
}

void copy_bound(cell* block, node_id outer, node_id inner) {
    bind_pair_fill fill{outer, inner};
    copy_bind_walk(block, outer, inner);
}

// }==
// {== The global context and registration

node_id global() { return global_ctx; }

void make_global() {
    global_ctx = 0;
    collector::remove_mark_hook(mark_global);
    collector::add_mark_hook(mark_global);
    global_ctx = make(GLOBAL_SLOTS, false, false, 0, KIND_PLAIN);
}

void forget_global() {
    collector::remove_mark_hook(mark_global);
    global_ctx = 0;
}

void init() {
    action_fn e[ACTION_SLOTS] = {};
    datatype::register_type(ACTION_SLOTS + 3, T_context, 0, "context!", e);
}

// }==

} // namespace zyl::context
