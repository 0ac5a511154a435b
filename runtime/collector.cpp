// runtime/collector.cpp: the mark-and-compact collector. Phases, in the order a collection
// runs them: roots, mark, compact (with pointer fixes), sweep. Roots and guarantees are in
// runtime/collector.h.
#include "runtime/collector.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/header_flags.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/extres.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "runtime/platform/vmem.h"

namespace zyl::collector {

void (*image_visit)(node_id handle) = nullptr;

state gc{};

namespace {

constexpr uint8_t POISON = 0xDB; // fills freed frame room under stress

// Series whose cells wait to be marked: an explicit stack, so nesting depth costs no
// machine stack.
std::vector<node_id> pending;

enum keep_kind : uint8_t { KEEP_CELL, KEEP_NODE };
struct keep_entry {
    const void* where;
    keep_kind kind;
};
keep_entry keeps[KEEP_CAPACITY];
uint32_t keep_count;

uint8_t** pins[PIN_CAPACITY];
uint32_t pin_count;

// A registered raw pointer, by the address it holds, for the compaction's fixes.
struct pin_entry {
    uint8_t* value;
    uint8_t** slot;
};
std::vector<pin_entry> pin_table;

// {== Mark

void mark_cell(const cell* c) {
    switch (c->type()) {
    case T_block: case T_paren: case T_path: case T_lit_path: case T_set_path: case T_get_path:
        mark_series_cells(c->w2);
        break;
    case T_string: case T_file: case T_url: case T_tag: case T_email: case T_ref:
        mark_series(c->w2);
        mark_series(c->w3); // the cached conversion, when there is one
        break;
    case T_bitset: case T_vector: case T_binary: mark_series(c->w2); break;
    case T_symbol:
        mark_series(c->w3);
        mark_series(c->w2);
        break;
    case T_context:
        if (c->header & CTX_SMALL) {
            mark_series_cells(c->w1); // the word list, without a table
        } else if (c->w1) {
            hashtable::mark(c->w1);
        }
        if (!(c->header & CTX_STACK_VALUES)) mark_series_cells(c->w2);
        break;
    case T_word: case T_set_word: case T_lit_word: case T_get_word: case T_refinement:
    case T_issue:
        mark_block(c->w1);
        break;
    case T_native: case T_action: case T_op: {
        mark_series_cells(c->w2);
        mark_series_cells(c->w3);
        uint32_t source = (c->header & OP_SOURCE_MASK) >> OP_SOURCE_SHIFT;
        if (c->type() == T_op && (source == T_function || source == T_routine)) mark_block(c->w1);
        break;
    }
    case T_function: case T_routine:
        mark_block(c->w1);
        mark_series_cells(c->w2);
        mark_series_cells(c->w3);
        break;
    case T_object: case T_port:
        mark_block(c->w1);
        mark_series(c->w3); // the on-set record, when there is one
        break;
    case T_error:
        // A full error's word 1 is its context and word 3 is 0; a bare error's word 1 is its
        // three argument cells and word 3 its message id, which is no node.
        mark_block(c->w1);
        break;
    case T_hash: case T_map:
        mark_series_cells(c->w2);
        if (c->w3) hashtable::mark(c->w3);
        break;
    case T_handle:
        if (static_cast<int32_t>(c->w3) >= 0) extres::mark(static_cast<int32_t>(c->w3));
        break;
    case T_image:
        if (c->w2) {
            mark_series(c->w2);
            if (image_visit) image_visit(c->w2);
        }
        break;
    case T_event:
        // Owned or a backend record, word 2 is a block node (0: no data).
        if (c->w2) mark_series_cells(c->w2);
        break;
    default: break;
    }
}

void drain() {
    while (!pending.empty()) {
        node_id n = pending.back();
        pending.pop_back();
        series_buffer* b = memory::buffer_of(n);
        mark_values(reinterpret_cast<cell*>(b->head), reinterpret_cast<cell*>(b->tail));
    }
}

// }==
// {== Roots

void mark_stack() {
    if (!stack::ready()) return;
    mark_series(es.arg_series);
    mark_series(es.frame_series);
    mark_values(es.bottom, es.top);
    for (call_frame* f = es.fbottom; f < es.ftop; f++) {
        mark_block(f->context);
        if (!f->func_context) continue;
        mark_block(f->func_context);
        const cell* ctx = reinterpret_cast<cell*>(memory::buffer_of(f->func_context)->head);
        if (f->saved_values && !(ctx->header & CTX_STACK_VALUES)) mark_series_cells(f->saved_values);
    }
}

void mark_keeps() {
    for (uint32_t i = 0; i < keep_count; i++) {
        if (keeps[i].kind == KEEP_CELL) {
            auto* c = static_cast<const cell*>(keeps[i].where);
            mark_values(c, c + 1);
        } else {
            mark_series_cells(*static_cast<const node_id*>(keeps[i].where));
        }
    }
}

// The owner table holds its entries weakly: an entry's owner and word are marked only once
// its series is reached another way, until no pass marks more; dead entries are dropped.
void mark_owner_entries() {
    node_id t = owner::table();
    if (!t) return;
    while (hashtable::mark_live_entries(t)) drain();
}

void sweep_owner_entries() {
    if (node_id t = owner::table()) hashtable::sweep(t);
}

void mark_roots() {
    mark_series_cells(gc.root_block);
    mark_stack();
    mark_keeps();
    for (uint32_t i = 0; i < gc.hook_count; i++)
        if (gc.hooks[i]) gc.hooks[i]();
    drain();
}

// }==
// {== Compact

void build_pin_table() {
    pin_table.clear();
    for (uint32_t i = 0; i < pin_count; i++) pin_table.push_back({*pins[i], pins[i]});
    std::sort(pin_table.begin(), pin_table.end(),
              [](const pin_entry& a, const pin_entry& b) { return a.value < b.value; });
}

uint32_t footprint(const series_buffer* b) { return BUFFER_OVERHEAD + b->size; }

// Frees the node of dead buffer [b] when the node still leads to it.
void free_node_of(const series_buffer* b) {
    if (!b->node) return; // abandoned by an expansion
    ZYL_ASSERT(*memory::slot_of(b->node) == reinterpret_cast<uint64_t>(b));
    queue_free_node(b->node);
}

// Moves the run of live buffers [from, from + len) to [to] and fixes what points into it.
void move_run(uint8_t* from, uint64_t len, uint8_t* to) {
    if (from == to) return;
    std::memmove(to, from, len);
    ptrdiff_t d = to - from;
    for (uint8_t* p = to; p < to + len;) {
        auto* b = reinterpret_cast<series_buffer*>(p);
        b->head += d;
        b->tail += d;
        *memory::slot_of(b->node) = reinterpret_cast<uint64_t>(b);
        p += footprint(b);
    }
    // A pointer into the run lies after its first header and may stop at the end of its
    // last data area (a tail, an end of input), which is where the next buffer starts: it
    // belongs to this run, never to the next one.
    auto it = std::upper_bound(pin_table.begin(), pin_table.end(), from,
                               [](uint8_t* v, const pin_entry& e) { return v < e.value; });
    for (; it != pin_table.end() && it->value <= from + len; ++it) *it->slot += d;
}

// Compacts frame [f]: dead buffers go, live runs slide down in place, or into [prev] while it
// has more than FRAME_MIN_FREE bytes free. Answers whether [f] is empty afterwards.
bool compact_frame(series_frame* prev, series_frame* f) {
    uint64_t room = prev ? uint64_t(prev->end - prev->heap) : 0;
    bool moving = room > FRAME_MIN_FREE;
    uint8_t* free_start = nullptr; // first byte of room in this frame, once there is some
    uint8_t* p = f->data();
    while (p < f->heap) {
        auto* b = reinterpret_cast<series_buffer*>(p);
        if (!(b->flags & SERIES_MARK)) {
            free_node_of(b);
            if (!free_start) free_start = p;
            p += footprint(b);
            continue;
        }
        uint8_t* run = p;
        uint64_t last = 0;
        while (p < f->heap && (reinterpret_cast<series_buffer*>(p)->flags & SERIES_MARK) &&
               !(moving && uint64_t(p - run) >= room)) {
            auto* live = reinterpret_cast<series_buffer*>(p);
            live->flags &= ~SERIES_MARK;
            last = footprint(live);
            p += last;
        }
        uint64_t len = p - run;
        if (moving && len > room && len - last > 0 && len - last <= room) {
            p -= last; // the last buffer starts the next run
            reinterpret_cast<series_buffer*>(p)->flags |= SERIES_MARK;
            len -= last;
        }
        if (moving && len <= room) {
            move_run(run, len, prev->heap);
            prev->heap += len;
            room -= len;
            if (room <= FRAME_MIN_FREE) moving = false;
            if (!free_start) free_start = run;
        } else if (free_start) {
            move_run(run, len, free_start);
            free_start += len;
        } else {
            moving = false; // nothing moves: the rest of this frame stays in place
        }
    }
    if (free_start) {
        // Under stress the room given back is scribbled over, so that a raw pointer kept
        // across a collection reads garbage at once instead of a plausible old value.
        if (mm.stress_every) std::memset(free_start, POISON, f->heap - free_start);
        f->heap = free_start;
    }
    return f->heap == f->data();
}

void compact_series_frames() {
    build_pin_table();
    series_frame* prev = nullptr;
    series_frame* f = mm.first_series_frame;
    while (f) {
        series_frame* next = f->next;
        bool empty = compact_frame(prev, f);
        if (empty && next) {
            memory::free_series_frame(f); // the last frame of the list stays
        } else {
            prev = f;
        }
        f = next;
    }
}

// }==
// {== Move stress
//
// With ZYL_GC_MOVE set beside ZYL_GC_STRESS, a collection copies every live buffer into fresh
// frames and makes the old frames inaccessible for the next QUARANTINE retirements, so a raw
// buffer pointer kept across an allocation faults at its first use instead of reading a
// plausible old value.

constexpr uint32_t QUARANTINE = 32;

struct retired_block {
    uint8_t* start; // the virtual block that held the frame
    uint64_t bytes;
};
retired_block quarantine[QUARANTINE];
uint32_t quarantine_next;

bool moving_everything() {
    static const bool on = std::getenv("ZYL_GC_MOVE") != nullptr;
    return on && mm.stress_every;
}

// Poisons old frame [f], takes its pages away but for the first (which holds the block's
// size), and releases the frame retired QUARANTINE retirements ago.
void retire_frame(series_frame* f) {
    auto* start = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(f) & ~uintptr_t(vmem::PAGE - 1));
    uint64_t bytes = *reinterpret_cast<uint64_t*>(start);
    uint8_t* pages = start + vmem::PAGE;
    std::memset(f->data(), POISON, std::min<uint64_t>(pages - f->data(), f->end - f->data()));
    if (start + bytes > pages) vmem::decommit(pages, start + bytes - pages);
    mm.total -= bytes; // no longer the manager's
    retired_block& old = quarantine[quarantine_next];
    if (old.start) vmem::unmap(old.start, old.bytes);
    old = retired_block{start, bytes};
    quarantine_next = (quarantine_next + 1) % QUARANTINE;
}

// A frame of the new list with room for [bytes].
series_frame* fresh_frame(uint64_t bytes) {
    series_frame* f;
    do {
        f = memory::new_series_frame();
    } while (f->heap + bytes > f->end); // a first frame may be too small for a big buffer
    return f;
}

// Copies every live buffer of the frames into new frames and retires the old ones.
void evacuate_series_frames() {
    build_pin_table();
    series_frame* old = mm.first_series_frame;
    mm.first_series_frame = mm.last_series_frame = mm.current_series_frame = nullptr;
    series_frame* dest = nullptr;
    for (series_frame* f = old; f; f = f->next) {
        for (uint8_t* p = f->data(); p < f->heap;) {
            auto* b = reinterpret_cast<series_buffer*>(p);
            uint64_t len = footprint(b);
            if (b->flags & SERIES_MARK) {
                b->flags &= ~SERIES_MARK;
                if (!dest || dest->heap + len > dest->end) dest = fresh_frame(len);
                move_run(p, len, dest->heap);
                dest->heap += len;
            } else {
                free_node_of(b);
            }
            p += len;
        }
    }
    if (!dest) dest = memory::new_series_frame();
    mm.current_series_frame = dest;
    while (old) {
        series_frame* next = old->next;
        retire_frame(old);
        old = next;
    }
}

// }==
// {== Sweep

void clear_fixed_marks() {
    memory::for_each_unmanaged([](series_buffer* b) { b->flags &= ~SERIES_MARK; });
}

} // namespace

// {== Entry points

bool mark_series(node_id n) {
    if (!n) return false;
    series_buffer* b = memory::buffer_of(n);
    if (b->flags & SERIES_MARK) return false;
    b->flags |= SERIES_MARK;
    return true;
}

bool mark_series_cells(node_id n) {
    if (!mark_series(n)) return false;
    if (memory::buffer_of(n)->unit() == sizeof(cell)) pending.push_back(n);
    return true;
}

void mark_block(node_id ctx) { mark_series_cells(ctx); }

void mark_values(const cell* first, const cell* end) {
    for (const cell* c = first; c < end; c++) mark_cell(c);
}

void collect() {
    auto start = std::chrono::steady_clock::now();
    gc.collecting = true;
    mark_roots();
    mark_owner_entries();
    extres::sweep();
    sweep_owner_entries();
    if (moving_everything()) {
        evacuate_series_frames();
    } else {
        compact_series_frames();
    }
    memory::sweep_big_frames();
    memory::sweep_node_frames();
    memory::free_retired();
    clear_fixed_marks();
    memory::pace_after_collection();
    gc.cycles++;
    gc.collecting = false;
    gc.nanos += static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
}

void run_from_allocator() {
    if (gc.active && !gc.collecting) collect();
}

void queue_free_node(node_id n) {
    if (n) memory::free_node(memory::frame_of(n), n);
}

void add_mark_hook(mark_hook hook) {
    for (uint32_t i = 0; i < gc.hook_count; i++) {
        if (!gc.hooks[i]) {
            gc.hooks[i] = hook;
            return;
        }
    }
    if (gc.hook_count == MAX_MARK_HOOKS) error::raise(error::cat_internal, error::internal_limit_hit);
    gc.hooks[gc.hook_count++] = hook;
}

void remove_mark_hook(mark_hook hook) {
    for (uint32_t i = 0; i < gc.hook_count; i++) {
        if (gc.hooks[i] == hook) {
            gc.hooks[i] = nullptr;
            return;
        }
    }
}

// }==
// {== Guards

namespace {

// Guards past this many raise stack-overflow; the rest of the stack is room for the guards
// that making and throwing that error take.
constexpr uint32_t KEEP_SOFT_LIMIT = KEEP_CAPACITY - 64;
bool keep_overflowing; // the stack-overflow error of a full keep-stack is being raised

void push_keep(const void* where, keep_kind kind) {
    if (keep_count >= KEEP_SOFT_LIMIT && !keep_overflowing) [[unlikely]] {
        struct overflow_scope {
            overflow_scope() { keep_overflowing = true; }
            ~overflow_scope() { keep_overflowing = false; }
        } raising;
        error::raise(error::cat_internal, error::internal_stack_overflow);
    }
    if (keep_count == KEEP_CAPACITY) runtime_error(RT_ASSERTION);
    keeps[keep_count++] = keep_entry{where, kind};
}

} // namespace

keep::keep(const cell* c) { push_keep(c, KEEP_CELL); }
keep::~keep() { keep_count--; }
keep_node::keep_node(const node_id* n) { push_keep(n, KEEP_NODE); }
keep_node::~keep_node() { keep_count--; }

pin::pin(uint8_t** p) {
    if (pin_count == PIN_CAPACITY) runtime_error(RT_ASSERTION);
    pins[pin_count++] = p;
}
pin::~pin() { pin_count--; }

// }==

} // namespace zyl::collector
