// lexer/events.cpp: handing events to the callback, and converting byte positions to the
// character indexes it sees (cached, so the cost is the distance from the last conversion).
#include "eval/stack.h"
#include "lexer/internal.h"
#include "runtime/unicode.h"

namespace zyl::lexer {

int64_t index_of(state& st, size_t pos) {
    if (st.input_value.type() != T_string) return int64_t(pos);
    if (pos > st.length) pos = st.length;
    const uint8_t* b = st.base;
    int64_t index = pos >= st.cached_pos ? st.cached_index + unicode::count_utf8_chars(b + st.cached_pos, b + pos)
                                         : st.cached_index - unicode::count_utf8_chars(b + pos, b + st.cached_pos);
    st.cached_pos = pos;
    st.cached_index = index;
    return index;
}

size_t offset_of_index(state& st, int64_t index) {
    if (index <= 0) return 0;
    if (st.input_value.type() != T_string) return size_t(index) < st.length ? size_t(index) : st.length;
    const uint8_t* end = unicode::skip_utf8_chars(st.base, st.base + st.length, index);
    return size_t(end - st.base);
}

bool emit(state& st, event_kind kind, int32_t type, const cell* value, size_t start, size_t end) {
    callback* cb = st.events;
    if (!cb) return true;
    if (kind == EV_SCAN && type == CODE_CONSTRUCT_BAD) {
        kind = EV_ERROR;
        type = T_error;
    }
    if (!(cb->mask & kind)) return true;
    if (kind == EV_PRESCAN && st.final_state == F_PAREN_OPEN && is_point_start(st, start)) return true;
    if (kind == EV_PRESCAN && type == T_error && st.brace_depth > 0) start = st.brace_start;
    if (type == T_point2d || type == T_point3d) {
        // The range of a point includes its parentheses.
        if (start > 0) start--;
        if (end < st.length) end++;
    }
    int64_t first = index_of(st, start);
    event e{kind, type, st.line, first + 1, index_of(st, end) + 1, value, nullptr};
    cell input = st.input_value;
    uint32_t at = input.w1 + static_cast<uint32_t>(first);
    if (input.type() != T_none) {
        input.w1 = at;
        e.input = &input;
    }
    bool answer = cb->fn(cb->user, e);
    if (es.throw_code != THROW_NONE) throw exit_pending{};
    refresh(st);
    // A callback that cut the input inside the token leaves no whole token to go on with.
    if (kind != EV_ERROR && st.token_end > st.length)
        throw_error(st, st.length, st.token_type > 0 ? st.token_type : -1);
    if (e.input && input.w1 != at) {
        int64_t moved = int64_t(input.w1) - int64_t(st.input_value.w1);
        st.pos = offset_of_index(st, moved);
        st.moved = true;
    }
    return answer;
}

} // namespace zyl::lexer
