// boot/zylbin_pending.cpp: where the Zylbin decoder hands fully read records to the makers of
// datatypes with makers of their own (hash!, map!, vector!, image!, money!, date!, ref!). Each
// builds the value as the datatype's own maker does and refuses (answers a cell of another
// type, or raises) what that maker refuses.
#include <cmath>
#include <cstring>

#include "boot/zylbin_reader.h"
#include "datatypes/core.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/series.h"
#include "datatypes/vector.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zyl::zylbin {

// [v]: a block! over the cells in record order. Becomes a hash! with its index built.
void make_hash(cell* v) { hash::index_in_place(v); }

// [v]: a block! over keys and values in turn. Becomes a map! with its index rebuilt; a key of a
// type no map takes raises as make map! does.
void make_map(cell* v) {
    cell pairs = *v;
    collector::keep k{&pairs};
    map::make_at(v, &pairs, 0);
}

// [v]: a binary! over the element bytes; [element_type] and [width] (log2 of the element size)
// from the record. Becomes a vector! when its maker accepts that element type and width; false
// (and [v] untouched) when it would not.
bool make_vector(cell* v, uint8_t element_type, uint32_t width) {
    uint32_t bytes = 1u << width;
    bool ok = (element_type == T_char_ || element_type == T_integer) ? bytes <= 4
              : element_type == T_float_                             ? bytes == 4 || bytes == 8
              : element_type == T_percent                            ? bytes == 8
                                                                     : false;
    if (!ok) return false;
    uint32_t total = uint32_t(series::length(v->w2));
    uint32_t index = v->w1;
    cell out{T_none, 0, 0, 0};
    collector::keep k{&out};
    vector::make_at(&out, total / bytes, element_type, bytes);
    series_buffer* from = memory::buffer_of(v->w2);
    series_buffer* to = memory::buffer_of(out.w2);
    if (total) std::memcpy(to->head, from->head, total);
    to->tail = to->head + total;
    out.w1 = index;
    *v = out;
    return true;
}

// [v]: a binary! over width x height argb pixels. Becomes an image! of that size, its head at
// the record's index; a zero side gives an image without pixels.
void make_image(cell* v, uint32_t width, uint32_t height) {
    cell pixels = *v;
    collector::keep k{&pixels};
    uint32_t index = v->w1;
    if (width == 0 || height == 0) {
        *v = cell{T_image, 0, 0, height << 16 | width};
        return;
    }
    imaging::bitmap* b = imaging::create(width, height);
    if (!b) error::raise(error::cat_internal, error::internal_no_memory);
    image::make_at(v, image::handle_new(b));
    pixels.w1 = 0;
    image::set_channels(v, &pixels, image::ARGB);
    v->w1 = index;
}

// The money! of currency byte 0 and packed digits 1-11; any other type when refused.
cell make_money(const uint8_t digits[12], bool negative) {
    cell c{T_none, 0, 0, 0};
    if (!money::make_from_bytes(&c, negative, digits[0], digits + 1)) return cell{T_none, 0, 0, 0};
    return c;
}

// The date! of [date_word] and, with [has_time], [time]; any other type when refused: a day the
// calendar lacks, zone bits on a date without time, or a local time outside the day.
cell make_date(uint32_t date_word, bool has_time, double time) {
    cell c{T_date, date_word, 0, 0};
    int32_t month = date::month_of(&c), day = date::day_of(&c);
    if (month < 1 || month > 12 || day < 1 || day > date::month_days(date::year_of(&c), month))
        return cell{T_none, 0, 0, 0};
    if (!has_time) {
        if (date_word & 0x7F) return cell{T_none, 0, 0, 0};
        time = 0;
    } else {
        double local = time + date::zone_seconds(date_word & 0x7F);
        if (!std::isfinite(time) || local < 0 || local >= 86400) return cell{T_none, 0, 0, 0};
    }
    float_::set(&c, time);
    return c;
}

// [v]: a string! over the text. Becomes a ref!.
void make_ref(cell* v) { cells::set_type(v, T_ref); }

} // namespace zyl::zylbin
