// datatypes/series_edit.cpp: the series! entries that make or move series: take, copy and
// move, and the copy of a range of units that they share.
#include <algorithm>
#include <cstring>
#include <memory>

#include "datatypes/core.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "runtime/values.h"
#include "runtime/words.h"

namespace zyl::series {

// {== Internal functions

namespace detail {

cell copy_units(const cell* s, uint32_t pos, uint32_t count) {
    node_id n = copy_part(s->w2, pos, count);
    cell c{s->header, 0, n, s->type() == T_vector ? s->w3 : 0};
    if (s->type() == T_hash) {
        collector::keep k_copy(&c); // the new series is held by nothing else yet
        c.w3 = hashtable::init(count, &c, hashtable::KIND_HASH, 1);
    }
    return c;
}

} // namespace detail

namespace {

[[noreturn]] void move_bad(const cell* a, const cell* b) {
    cell ta = datatype::make_value(a->type()), tb = datatype::make_value(b->type());
    error::raise(error::cat_script, error::script_move_bad, &ta, &tb);
}

// The units that take addresses: [start] and [count] from the /part argument [part] of
// [series] at index [idx], [len] being the buffer's units. A count below 0 takes the units
// before the index (none with /last); a count of 0 takes nothing.
void take_range(const cell* series, const cell* part, bool last, uint32_t idx, uint32_t len, uint32_t& start,
                uint32_t& count) {
    int64_t n;
    if (part->type() == series->type() && part->w2 == series->w2 && last)
        n = part->w1 < idx ? 0 : int64_t(len) - int64_t(std::min(part->w1, len));
    else
        n = detail::part_count(series, part);
    if (n < 0 && !last) {
        uint32_t back = static_cast<uint32_t>(std::min<int64_t>(-n, idx));
        idx -= back;
        n = back;
    }
    count = static_cast<uint32_t>(std::clamp<int64_t>(n, 0, len - idx));
    start = last ? len - count : idx;
}

// Moves [count] units from [sidx] of [source] to [tidx] of [target], another buffer of the
// same unit: a gap is opened in the target, the units copied in, the source closed up.
void move_across(const cell* source, uint32_t sidx, uint32_t count, const cell* target, uint32_t tidx) {
    series_buffer* tb = memory::buffer_of(target->w2);
    uint32_t shift = shift_of(tb);
    uint64_t bytes = uint64_t(count) << shift;
    if (tb->tail + bytes > tb->end()) tb = expand(target->w2, std::max<uint64_t>(tb->used_bytes() + bytes, uint64_t(tb->size) * 2));
    uint8_t* at = tb->head + (uint64_t(tidx) << shift);
    std::memmove(at + bytes, at, static_cast<size_t>(tb->tail - at));
    // Read after the growth: it may have moved the source's buffer too.
    std::memcpy(at, memory::buffer_of(source->w2)->head + (uint64_t(sidx) << shift), bytes);
    tb->tail += bytes;
    detail::hash_inserted(target, tidx, count);
    detail::remove_units(source, sidx, count);
}

// Moves [count] units from [sidx] to before what is now [tidx], inside one buffer.
void move_within(const cell* s, uint32_t sidx, uint32_t count, uint32_t tidx) {
    if (tidx >= sidx && tidx <= sidx + count) return; // onto itself
    series_buffer* b = memory::buffer_of(s->w2);
    uint32_t shift = shift_of(b);
    uint64_t bytes = uint64_t(count) << shift;
    std::unique_ptr<uint8_t[]> saved(new uint8_t[bytes]);
    uint8_t* from = b->head + (uint64_t(sidx) << shift);
    std::memcpy(saved.get(), from, bytes);
    uint32_t lo = std::min(sidx, tidx), span;
    if (tidx > sidx) {
        std::memmove(from, from + bytes, (uint64_t(tidx - sidx) << shift) - bytes);
        std::memcpy(b->head + (uint64_t(tidx - count) << shift), saved.get(), bytes);
        span = tidx - sidx;
    } else {
        uint8_t* to = b->head + (uint64_t(tidx) << shift);
        std::memmove(to + bytes, to, uint64_t(sidx - tidx) << shift);
        std::memcpy(to, saved.get(), bytes);
        span = sidx + count - tidx;
    }
    detail::hash_rewritten(s, lo, span);
}

} // namespace

// }==
// {== Action entries

cell* take(cell* series, const cell* part, bool, bool last) {
    uint32_t avail = static_cast<uint32_t>(rs_length_q(series, false));
    if (avail < 1) return &(*series = none_value);
    uint32_t idx = series->w1, len = idx + avail;
    uint32_t start = last ? len - 1 : idx, count = 1;
    if (part) take_range(series, part, last, idx, len, start, count);
    owner::tell_before(series, words::loaded.take, nullptr, int32_t(start), int32_t(count));
    cell result;
    if (part) result = detail::copy_units(series, start, count);
    else element_at(series, start, &result);
    collector::keep k_result(&result); // taken out: nothing else holds it
    detail::remove_units(series, start, count);
    owner::tell(series, words::loaded.taken, nullptr, int32_t(start), int32_t(count));
    return &(*series = result);
}

cell* copy(cell* series, const cell* part, bool, const cell*) {
    uint32_t total = rs_abs_length_q(series);
    uint32_t idx = std::min(series->w1, total), start = idx;
    int64_t count = total - idx;
    if (part && part->type() == T_pair) {
        // x×y: from where `at` x leads, y - x units.
        int64_t x = static_cast<int32_t>(part->w2), y = static_cast<int32_t>(part->w3);
        start = static_cast<uint32_t>(std::clamp<int64_t>(x >= 1 ? idx + x - 1 : idx + x, 0, total));
        count = std::max<int64_t>(y - x, 0);
    } else if (part) {
        count = detail::part_count(series, part);
        if (count < 0) {
            uint32_t back = static_cast<uint32_t>(std::min<int64_t>(-count, idx));
            start = idx - back;
            count = back;
        }
    }
    count = std::min<int64_t>(count, total - start);
    *series = detail::copy_units(series, start, static_cast<uint32_t>(count));
    return series;
}

cell* move(cell* source, cell* target, const cell* part) {
    if (!is_series_type(target->type())) error::raise(error::cat_script, error::script_invalid_arg, target);
    uint32_t stotal = rs_abs_length_q(source);
    uint32_t sidx = source->w1;
    if (sidx >= stotal) return target;
    uint32_t count = 1;
    if (part) {
        int64_t n = detail::part_count(source, part);
        if (n < 1) return target;
        count = static_cast<uint32_t>(std::min<int64_t>(n, stotal - sidx));
    }
    uint32_t tidx = std::min(target->w1, rs_abs_length_q(target));
    uint32_t su = memory::buffer_of(source->w2)->unit(), tu = memory::buffer_of(target->w2)->unit();
    if (source->w2 != target->w2 && su != tu) {
        bool text = string::is_text_type(source->type()) && string::is_text_type(target->type());
        if (!text) move_bad(source, target);
    }
    owner::tell_before(source, words::loaded.move, nullptr, int32_t(sidx), int32_t(count));
    owner::tell_before(target, words::loaded.move, source, int32_t(tidx), int32_t(count));
    if (source->w2 == target->w2) {
        move_within(source, sidx, count, tidx);
    } else if (su != tu) {
        cell from = *source;
        from.w1 = sidx;
        string::move_part(&from, count, target, tidx); // widens the target as needed
    } else {
        move_across(source, sidx, count, target, tidx);
    }
    owner::tell(source, words::loaded.moved, nullptr, int32_t(sidx), int32_t(count));
    owner::tell(target, words::loaded.moved, source, int32_t(tidx), int32_t(count));
    return target;
}

// }==

} // namespace zyl::series
