// lexer/lexer.cpp: the lexer's entry points: the output stack, the chain of active states, the
// work buffer for string! input, the collector hook, and handing the values back.
#include "lexer/lexer.h"

#include <cstdlib>
#include <cstring>

#include "datatypes/core.h"
#include "eval/stack.h"
#include "lexer/internal.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "runtime/values.h"

namespace zyl::lexer {

output_stack out{};
state* chain_tail = nullptr;

// Runs the tokens of one scan; defined in loop.cpp.
void scan_tokens(state& st, bool one_value, bool scan_only);

namespace {

constexpr uint32_t OUTPUT_INITIAL = 1000;
constexpr size_t WORK_SIZE = 100000;

// The UTF-8 of string! input. Nested scans take successive parts; a part that does not fit
// comes from the heap.
struct work_buffer {
    uint8_t* bytes;
    size_t used;
};
work_buffer work{};

// {== The chain

// Links [st] at the tail of the chain for the life of one scan, and unlinks it (also when an
// error unwinds through the scan), dropping the scan's output cells.
struct chain_link {
    state& st;
    explicit chain_link(state& s) : st(s) {
        st.parent = chain_tail;
        st.next = nullptr;
        if (chain_tail) chain_tail->next = &st;
        chain_tail = &st;
    }
    ~chain_link() {
        chain_tail = st.parent;
        if (chain_tail) chain_tail->next = nullptr;
        out.top = st.stack_base;
    }
    chain_link(const chain_link&) = delete;
    chain_link& operator=(const chain_link&) = delete;
};

// }==
// {== Handing values back

// A new block of the cells [first, first + n) of the output stack.
cell make_block(uint32_t first, uint32_t n) {
    node_id node = series::alloc_cells(n ? n : 1); // may collect: the cells are still rooted
    series_buffer* b = memory::buffer_of(node);
    if (n) std::memcpy(b->head, &out.cells[first], size_t(n) * sizeof(cell));
    b->tail = b->head + size_t(n) * sizeof(cell);
    return cell{T_block, 0, node, 0};
}

// Appends the cells [first, first + n) of the output stack to block [into].
void append_cells(const cell* into, uint32_t first, uint32_t n) {
    uint8_t* at = series::alloc_tail_bytes(into->w2, uint64_t(n) * sizeof(cell));
    if (n) std::memcpy(at, &out.cells[first], size_t(n) * sizeof(cell));
}

void hand_back(const state& st, cell* result, const options& o) {
    uint32_t first = st.stack_base;
    uint32_t n = out.top - first;
    if (o.one_value && !o.keep_block) {
        *result = n ? out.cells[first] : none_value;
        if (n && o.into) append_cells(o.into, first, 1);
        return;
    }
    if (o.into) {
        append_cells(o.into, first, n);
        *result = *o.into;
        return;
    }
    *result = make_block(first, n);
}

// After the loop: an open brace string or container is an error (or, in a quiet run, a none
// result).
bool check_open(state& st, cell* result) {
    // A brace string still open at the end is an error whatever token came last (a nested
    // `}` right before the end would otherwise drop the string silently).
    if (st.brace_depth > 0) throw_error(st, st.brace_start, T_string);
    if (st.head == st.stack_base) return true;
    if (!st.loading) {
        *result = none_value;
        return false;
    }
    const cell* m = &out.cells[st.head - 1];
    // The error event names the innermost open container: the console reads that as input
    // still to come.
    st.error_type = marker_type(m);
    throw_error(st, m->w3, -4);
}

// }==

void init_state(state& st, const uint8_t* text, size_t length, const options& o) {
    st = state{};
    st.stack_base = st.head = out.top;
    st.base = text;
    st.length = length;
    st.line = 1;
    st.loaded_type = -1;
    st.events = o.events;
    st.input_value = none_value;
    st.loading = o.load;
}

// Keeps the collector from running inside a scan without callbacks. Everything such a scan
// allocates stays alive until it ends, so a collection there could only reclaim older garbage,
// while marking all the values loaded so far each time: the next collection after the scan
// does the same work once. Stress runs keep collecting, to test the scan's rooting.
struct collector_pause {
    bool saved = collector::gc.active;
    explicit collector_pause(bool pause) {
        if (pause && mm.stress_every == 0) collector::gc.active = false;
    }
    ~collector_pause() { collector::gc.active = saved; }
    collector_pause(const collector_pause&) = delete;
    collector_pause& operator=(const collector_pause&) = delete;
};

// Runs one scan over the prepared [st]: the loop, the checks after it, the hand-back.
int32_t run(state& st, cell* result, const options& o, int64_t* consumed) {
    chain_link link(st);
    collector_pause pause(o.events == nullptr);
    bool scan_only = !o.load && !o.events;
    int32_t type;
    try {
        scan_tokens(st, o.one_value, scan_only);
        type = st.stopped ? st.token_type : st.last_type;
        if (check_open(st, result) && o.output) hand_back(st, result, o);
    } catch (const quiet_stop&) {
        type = T_error;
        if (o.output) *result = none_value;
    } catch (const exit_pending&) {
        return 0; // es.throw_code tells the caller
    }
    if (consumed) *consumed = st.input_value.type() == T_string ? index_of(st, st.pos) : int64_t(st.pos);
    return type;
}

} // namespace

// {== Output stack and state

void grow_output() {
    uint64_t capacity = uint64_t(out.capacity) * 2;
    void* cells = capacity <= UINT32_MAX / sizeof(cell) ? std::realloc(out.cells, capacity * sizeof(cell)) : nullptr;
    if (!cells) error::raise(error::cat_internal, error::internal_no_memory);
    out.cells = static_cast<cell*>(cells);
    out.capacity = static_cast<uint32_t>(capacity);
}

void refresh(state& st) {
    if (!st.input_node) return;
    series_buffer* b = memory::buffer_of(st.input_node);
    // A callback may have shortened the binary: the scan never reads past its tail.
    size_t used = b->used_bytes();
    size_t avail = used > st.input_index ? used - st.input_index : 0;
    if (avail < st.length) {
        st.length = avail;
        if (st.pos > avail) st.pos = avail;
    }
    st.base = b->head + (used > st.input_index ? st.input_index : used);
}

// }==
// {== Entry points

void init() {
    if (!out.cells) {
        out.cells = static_cast<cell*>(std::malloc(OUTPUT_INITIAL * sizeof(cell)));
        work.bytes = static_cast<uint8_t*>(std::malloc(WORK_SIZE));
        if (!out.cells || !work.bytes) runtime_error(RT_OUT_OF_MEMORY);
        out.capacity = OUTPUT_INITIAL;
    }
    collector::remove_mark_hook(mark_states);
    collector::add_mark_hook(mark_states);
    install_word_seams();
}

void mark_states() {
    if (!out.cells) return;
    collector::mark_values(out.cells, out.cells + out.top);
    for (state* st = chain_tail; st; st = st->parent) {
        collector::mark_values(&st->input_value, &st->input_value + 1);
        if (st->events) collector::mark_values(&st->events->value, &st->events->value + 1);
    }
}

int32_t scan(cell* result, const uint8_t* text, int64_t length, const options& o, int64_t* consumed) {
    if (ZYL_UNLIKELY(!out.cells)) init();
    state st;
    init_state(st, text, length > 0 ? size_t(length) : 0, o);
    return run(st, result, o, consumed);
}

int32_t scan_binary(cell* result, const cell* bin, int64_t length, const options& o, int64_t* consumed) {
    if (ZYL_UNLIKELY(!out.cells)) init();
    series_buffer* b = memory::buffer_of(bin->w2);
    size_t used = b->used_bytes();
    size_t index = bin->w1 < used ? bin->w1 : used;
    size_t avail = used - index;
    size_t n = length >= 0 && size_t(length) < avail ? size_t(length) : avail;
    state st;
    init_state(st, b->head + index, n, o);
    st.input_node = bin->w2;
    st.input_index = static_cast<uint32_t>(index);
    st.input_value = *bin;
    return run(st, result, o, consumed);
}

int32_t scan_string(cell* result, const cell* str, int64_t length, const options& o, int64_t* consumed) {
    if (ZYL_UNLIKELY(!out.cells)) init();
    series_buffer* b = memory::buffer_of(str->w2);
    uint32_t unit = b->unit();
    uint64_t chars = b->used_bytes() / unit;
    uint64_t index = str->w1 < chars ? str->w1 : chars;
    uint64_t count = chars - index;
    if (length >= 0 && uint64_t(length) < count) count = uint64_t(length);
    // Room for the widest UTF-8 of each unit: 2 bytes for Latin-1, 3 for UCS-2, 4 for UCS-4.
    size_t need = size_t(count) * (unit == 1 ? 2 : unit == 2 ? 3 : 4) + 1;
    size_t saved = work.used;
    uint8_t* heap = nullptr;
    uint8_t* text;
    if (need <= WORK_SIZE - work.used) {
        text = work.bytes + work.used;
        work.used += need;
    } else {
        heap = static_cast<uint8_t*>(std::malloc(need));
        if (!heap) error::raise(error::cat_internal, error::internal_no_memory);
        text = heap;
    }
    struct give_back {
        size_t saved;
        uint8_t* heap;
        ~give_back() {
            work.used = saved;
            std::free(heap);
        }
    } guard{saved, heap};
    int64_t bytes = unicode::write_utf8(str, text, int64_t(count), false);
    state st;
    init_state(st, text, size_t(bytes), o);
    st.input_value = *str;
    return run(st, result, o, consumed);
}

// }==

} // namespace zyl::lexer
