// eval/interp_path.cpp: path evaluation: a/b/c selects step by step through each value's
// eval-path action, a set-path stores through the last step, and a function met on the way
// is called with the elements after it as its refinements.
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/interp_internal.h"
#include "eval/stack.h"
#include "runtime/error.h"

namespace zyl::interp {

using namespace detail;

namespace {

// The cells a path walk keeps on the stack, from [base] up: the path (whose cell finally
// takes the result), the current value, its parent, the key and the previous element.
struct path_cells {
    cell* path;
    cell* value;
    cell* parent;
    cell* key;
    cell* prev;
};

// Whether the last step of a set-path tells the parent's owner of the change: a path of at
// least three elements whose parent is a block-like value or an object with an on-change
// record.
bool notifies(const cell* parent, uint32_t elements) {
    if (elements < 3 || !parent) return false;
    uint8_t t = parent->type();
    return is_block_like(t) || (t == T_object && parent->w3 != 0);
}

// Whether values of type [t] are held by value: a path step that changes one changes the
// copy it was given, which must then be stored back where the value came from.
bool by_value(uint8_t t) {
    switch (t) {
    case T_pair: case T_point2d: case T_point3d: case T_tuple: case T_triple: case T_time: case T_date:
    case T_money: case T_event: return true;
    default: return false;
    }
}

// After a set-path changed [modified] (a value held by value) at step [k], stores it back
// into the container of step k - 1, and so on up while those are held by value too; the
// head word takes the first. [chain] holds each step's container and key.
void write_back(const path_cells& pc, cell* chain, int32_t k, cell modified, cell* head_word) {
    for (int32_t i = k - 1;; i--) {
        if (i < 0) {
            context::set_value(head_word, &modified);
            return;
        }
        cell* container = &chain[2 * i];
        cell key = chain[2 * i + 1];
        bool held_by_value = by_value(container->type());
        actions::path_step step{pc.path, nullptr, nullptr, i + 1, false, true, false};
        actions::eval_path_typed(container, &key, &modified, step);
        if (!held_by_value) return; // a series or object took the change itself
        modified = *container;
    }
}

// The key element [el] stands for: a get-word's value, a paren's value, else itself.
void make_key(const path_cells& pc, const cell& el) {
    if (el.type() == T_get_word) {
        *pc.key = *context::get_value(&el);
    } else if (el.type() == T_paren) {
        eval_paren(&el);
        if (es.throw_code) return;
        *pc.key = es.top[-1];
        stack::pop(1);
    } else {
        *pc.key = el;
    }
}

// The result [r] (the last pushed cell) takes the place of the path's cells.
uint32_t finish(const path_cells& pc, const cell* r, uint32_t next) {
    if (is.events) {
        // The exit names the path its enter named: tracers pair the two by it.
        cell path = *pc.path;
        *pc.path = *r;
        es.top = pc.path + 1;
        cell* kept = stack::push(&path);
        trace_at(EV_EXIT, kept, -1, nullptr, pc.path);
        if (!es.throw_code) es.top = pc.path + 1;
        return next;
    }
    *pc.path = *r;
    es.top = pc.path + 1;
    return next;
}

// Calls [fn], met at element [at] of the path, with the elements after it as refinements.
uint32_t call_in_path(const path_cells& pc, const code& c, uint32_t next, const cell& el,
                      uint32_t at, node_id owner) {
    cell fn = *pc.value;
    cell rest = *pc.path;
    rest.w1 = at + 1;
    cell name = el.type() == T_word ? el : frame_word(es.anon_symbol);
    // With no refinement after it, the call is a plain one (o/m args).
    const cell* refinements = rest.w1 < tail_of(&rest) ? &rest : nullptr;
    call_site site{name, el, refinements, owner, 0, false};
    uint32_t j = call(&fn, c, next, site);
    if (es.throw_code) return j;
    return finish(pc, es.top - 1, j);
}

// Object field look-ups of word paths, by context and symbol: a slot is trusted only while
// it still names that symbol, and the whole cache is dropped at every collection (a
// context's node may then be reused).
struct field_hit {
    node_id ctx;
    uint32_t symbol;
    uint32_t index;
};
constexpr uint32_t FIELD_CACHE = 256;
field_hit field_cache[FIELD_CACHE];

// The cells of [ctx]'s value series (a plain or object context).
ZYL_INLINE cell* values_of(node_id ctx) {
    return reinterpret_cast<cell*>(memory::buffer_of(context::cell_of(ctx)->w2)->head);
}

// The index of field [symbol] of object context [ctx], or -1.
ZYL_INLINE int32_t field_index(node_id ctx, uint32_t symbol) {
    field_hit& hit = field_cache[(ctx * 0x9E3779B1u ^ symbol) & (FIELD_CACHE - 1)];
    if (hit.ctx == ctx && hit.symbol == symbol) {
        const series_buffer* w = memory::buffer_of(context::words_of(ctx));
        const cell* entry = reinterpret_cast<const cell*>(w->head) + hit.index;
        if (entry < reinterpret_cast<const cell*>(w->tail) && entry->w2 == symbol)
            return static_cast<int32_t>(hit.index);
    }
    int32_t found = context::find_word(ctx, symbol, true);
    if (found >= 0) hit = field_hit{ctx, symbol, static_cast<uint32_t>(found)};
    return found;
}

// The longest word path the quick walk takes (a/b/c/d).
constexpr uint32_t QUICK_PATH_WORDS = 4;

// Where the path [path] (from its index) leads when it is word/word/..., the first word's
// value an object and each further word a field of the object before it, the fields before
// the last objects too: answers the last object's cell and sets [index] to the last field;
// [parent], when given, receives the object before it (null for two words). Null for
// anything else, which the general walk then takes from the start.
const cell* quick_field(const cell* path, uint32_t* index, const cell** parent = nullptr) {
    series_buffer* b = memory::buffer_of(path->w2);
    uint32_t head = path->w1;
    uint64_t n = b->used_bytes() / sizeof(cell);
    if (uint64_t(head) + 2 > n || n - head > QUICK_PATH_WORDS) return nullptr;
    uint32_t count = static_cast<uint32_t>(n - head);
    const cell* e = reinterpret_cast<const cell*>(b->head) + head;
    for (uint32_t k = 0; k < count; k++)
        if (e[k].type() != T_word) return nullptr;
    node_id wctx = e[0].w1;
    auto windex = static_cast<int32_t>(e[0].w3);
    if (wctx == 0 || windex < 0 || context::on_stack(wctx)) return nullptr;
    // value i is word i's: the value series' length bounds the index
    const series_buffer* vb = memory::buffer_of(context::cell_of(wctx)->w2);
    const cell* obj = reinterpret_cast<const cell*>(vb->head) + windex;
    if (obj >= reinterpret_cast<const cell*>(vb->tail)) return nullptr;
    const cell* before = nullptr;
    for (uint32_t k = 1;; k++) {
        if (obj->type() != T_object) return nullptr;
        node_id ctx = obj->w1;
        if (e[k].w1 == ctx) return nullptr; // a field word bound to the object: the general walk
        int32_t found = field_index(ctx, e[k].w2);
        if (found < 0) return nullptr;
        if (k + 1 == count) {
            *index = static_cast<uint32_t>(found);
            if (parent) *parent = before;
            return obj;
        }
        before = obj;
        obj = values_of(ctx) + found;
    }
}

// path: value for word paths into an object without a change hook (nor one on the object
// before it, which a longer path's store would tell): stores [set] into the field as the
// object's path step would and pushes it. False when the general walk must do it.
bool quick_store(const cell* path, const cell* set) {
    uint32_t index;
    const cell* parent;
    const cell* obj = quick_field(path, &index, &parent);
    if (!obj || obj->w3 != 0 || (parent && parent->w3 != 0)) return false;
    node_id ctx = obj->w1;
    const cell* e = block::cells_of(path->w2) + tail_of(path) - 1;
    cell v = *set;
    cell field = *e;
    field.w1 = ctx;
    field.w3 = index;
    context::set_word_value(&field, &v, ctx, false);
    stack::push(&v);
    return true;
}

} // namespace

namespace detail {

void forget_fields() { std::memset(field_cache, 0, sizeof field_cache); }

uint32_t path_expr(const cell* path, const code& c, uint32_t next, bool get, const cell* set) {
    if (!get && !is.events) {
        uint32_t index;
        if (set) {
            if (quick_store(path, set)) return next;
        } else if (const cell* obj = quick_field(path, &index)) {
            const cell* v = values_of(obj->w1) + index;
            uint8_t t = v->type();
            if (t != T_unset && !is_callable(t) && t != T_op) {
                stack::push(v);
                return next;
            }
            if (is_callable(t)) { // a method without refinements (o/m args): a plain call
                cell fn = *v;
                cell name = block::cells_of(path->w2)[tail_of(path) - 1];
                call_site site{name, name, nullptr, obj->w1, 0, false};
                return call(&fn, c, next, site);
            }
        }
    }
    path_cells pc{};
    pc.path = stack::push(path); // keeps the path alive and gives the steps a stable cell
    uint32_t head = pc.path->w1;
    uint32_t n = tail_of(pc.path);
    if (head >= n) error::raise(error::cat_script, error::script_empty_path);
    if (is.events) {
        trace_at(EV_ENTER, pc.path, head, nullptr, nullptr);
        if (es.throw_code) return next;
    }
    cell first = block::cells_of(pc.path->w2)[head];
    if (first.type() != T_word) error::raise(error::cat_script, error::script_word_first, pc.path);
    if (is.events) {
        trace_at(EV_FETCH, pc.path, head, nullptr, &first);
        if (es.throw_code) return next;
    }
    const cell* slot = context::get_value(&first);
    if (slot->type() == T_unset)
        error::raise(error::cat_script, error::script_unset_path, pc.path, &first);
    pc.value = stack::push(slot);
    if (is_callable(pc.value->type())) {
        if (set) error::raise(error::cat_script, error::script_invalid_path_set);
        if (get) error::raise(error::cat_script, error::script_invalid_path_get);
        return call_in_path(pc, c, next, first, head, 0);
    }
    pc.parent = stack::push(&none_value);
    pc.key = stack::push_slot();
    pc.prev = stack::push(&first);
    cell* old = stack::push_slot();
    uint32_t elements = n - head;
    // A set-path keeps each step's container and key for write_back.
    cell* chain = nullptr;
    if (set) {
        chain = es.top;
        for (uint32_t i = 0; i < 2 * elements; i++) stack::push_slot();
    }
    for (uint32_t e = head + 1; e < n; e++) {
        cell el = block::cells_of(pc.path->w2)[e];
        if (is.events) {
            trace_at(EV_FETCH, pc.path, e, nullptr, &el);
            if (es.throw_code) return next;
        }
        make_key(pc, el);
        if (es.throw_code) return next;
        if (pc.key->type() == T_unset)
            error::raise(error::cat_script, error::script_invalid_path, pc.path, &el);
        bool last = e + 1 == n;
        const cell* parent = e == head + 1 ? nullptr : pc.parent;
        actions::path_step step{pc.path,
                                parent,
                                pc.prev,
                                static_cast<int32_t>(e - head),
                                false,
                                last,
                                set && last && notifies(parent, elements)};
        *old = *pc.value;
        int32_t k = static_cast<int32_t>(e - head - 1);
        if (chain) {
            chain[2 * k] = *pc.value;
            chain[2 * k + 1] = *pc.key;
        }
        cell* r = actions::eval_path_typed(pc.value, pc.key, set && last ? set : nullptr, step);
        if (es.throw_code) return next; // a change hook threw: the stack is cut back already
        if (set && last && by_value(chain[2 * k].type())) {
            cell result = *r;
            write_back(pc, chain, k, *pc.value, &first);
            *pc.value = result;
            break;
        }
        *pc.value = *r;
        *pc.parent = *old;
        *pc.prev = el;
        if (!get && !set && is_callable(pc.value->type())) {
            node_id owner = pc.parent->type() == T_object ? pc.parent->w1 : 0;
            return call_in_path(pc, c, next, el, e, owner);
        }
    }
    return finish(pc, pc.value, next);
}

} // namespace detail

uint32_t eval_path_at(const cell* path, const cell* block, uint32_t next, uint32_t tail, bool push,
                      bool get, const cell* set) {
    code c = make_code(block, tail);
    root_guard keep_block(&c.block);
    cell p = *path;
    uint32_t j = path_expr(&p, c, next, get, set);
    if (es.throw_code) return j;
    if (!push) stack::set_last_keep(es.top - 1);
    return j;
}

const cell* eval_path(const cell* pos, const cell* tail, const cell* block, bool push, bool get,
                      const cell* set) {
    cell b = *block;
    const cell* head = block::cells_of(b.w2);
    cell p = *pos;
    uint32_t j = eval_path_at(&p, &b, static_cast<uint32_t>(pos - head) + 1,
                              static_cast<uint32_t>(tail - head), push, get, set);
    return block::cells_of(b.w2) + j;
}

} // namespace zyl::interp
