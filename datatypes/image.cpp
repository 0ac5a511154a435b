// datatypes/image.cpp: image!: handles and their pixels, channels, decoding and encoding, the
// action entries, the foreach step, the codec routines and registration.
#include "datatypes/image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "datatypes/action_types.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/file_url.h"
#include "datatypes/function.h"
#include "datatypes/header_flags.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "eval/natives_control.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/extres.h"
#include "runtime/ownership.h"
#include "runtime/words.h"

namespace zyl::image {

// {== Handles and pixels

namespace {

// The payload of a handle's byte series.
struct handle_record {
    uint32_t flags; // none are used yet; kept 0
    int32_t entry;  // external-resource entry
    uint32_t generation;
    uint32_t size;  // height << 16 | width
};

constexpr uint32_t KIND_TAG = 0x696D6167; // "imag"
constexpr uint64_t COLLECT_AFTER = 64ull << 20; // pixel bytes between collections we start

uint32_t kind = 0;

handle_record* record(node_id handle) { return reinterpret_cast<handle_record*>(memory::buffer_of(handle)->head); }

void release_bitmap(void* resource) { imaging::destroy(static_cast<imaging::bitmap*>(resource)); }

[[noreturn]] void bad_media() { error::raise(error::cat_access, error::access_bad_media); }
[[noreturn]] void no_memory() { error::raise(error::cat_internal, error::internal_no_memory); }
// A format whose codec library is missing on this system is named, not taken for bad data.
void need_codec(imaging::format fmt) {
    if (imaging::codec_ready(fmt)) return;
    cell name = word::load(imaging::format_name(fmt));
    error::raise(error::cat_internal, error::internal_not_here, &name);
}
[[noreturn]] void invalid_arg(const cell* v) {
    cell c = *v;
    error::raise(error::cat_script, error::script_invalid_arg, &c);
}

// Pixel memory is outside the series frames, so it counts toward the allocator's collection
// pacing here: a loop that drops large images must not grow without bound. Pixels are not in
// the live heap the budget is taken from, so they collect at COLLECT_AFTER at the least.
void account(uint64_t bytes) {
    mm.since_collect += bytes;
    if (mm.since_collect >= std::max(mm.collect_budget, COLLECT_AFTER) && collector::gc.active &&
        !collector::running())
        collector::run_from_allocator();
}

// A bitmap of [w] x [h] (both >= 1); internal no-memory when it cannot be had. May collect.
imaging::bitmap* new_bitmap(uint32_t w, uint32_t h) {
    account(uint64_t(w) * h * 4);
    imaging::bitmap* b = imaging::create(w, h);
    if (!b) no_memory();
    return b;
}

void visit(node_id handle) {
    handle_record* r = record(handle);
    if (extres::resource_of(r->entry, r->generation)) extres::mark(r->entry);
}

inline uint32_t pixel_of_tuple(const cell* t) {
    const uint8_t* b = tuple::bytes_of(t);
    uint32_t alpha = tuple::count_of(t) >= 4 ? 255u - b[3] : 255u;
    return alpha << 24 | uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
}

inline cell tuple_of_pixel(uint32_t p) {
    uint8_t e[4] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(255 - (p >> 24))};
    return tuple::make_value(4, e);
}

// An image cell of size [w] x [h] owning [b] (null for a zero side). May allocate.
cell* make_image(cell* out, imaging::bitmap* b, uint32_t w, uint32_t h) {
    if (!b) {
        *out = cell{T_image, 0, 0, h << 16 | w};
        return out;
    }
    return make_at(out, handle_new(b));
}

} // namespace

node_id handle_new(imaging::bitmap* b) {
    node_id n;
    try {
        n = series::alloc_bytes(sizeof(handle_record));
    } catch (...) {
        imaging::destroy(b);
        throw;
    }
    int32_t entry = extres::register_resource(b, kind);
    *record(n) = handle_record{0, entry, extres::at(entry)->generation, b->height << 16 | b->width};
    return n;
}

cell* make_at(cell* c, node_id handle) {
    *c = cell{T_image, 0, handle, handle ? record(handle)->size : 0};
    return c;
}

imaging::bitmap* bitmap_of(const cell* c) {
    if (!c->w2) return nullptr;
    handle_record* r = record(c->w2);
    auto* b = static_cast<imaging::bitmap*>(extres::resource_of(r->entry, r->generation));
    if (!b) bad_media();
    return b;
}

void free_pixels(const cell* c) {
    if (!c->w2) return;
    handle_record* r = record(c->w2);
    if (extres::resource_of(r->entry, r->generation)) extres::release(r->entry, true);
}

int32_t entry_of(node_id handle) { return record(handle)->entry; }


// }==
// {== Channels

cell* extract_channels(const cell* c, int32_t ch) {
    cell img = *c;
    uint32_t per = ch == ALPHA ? 1 : ch == RGB ? 3 : 4;
    uint64_t n = uint64_t(pixel_count(&img)) * per;
    if (n > 0x7FFFFFFF) no_memory();
    cell* out = binary::make_at(stack::push_slot(), uint32_t(n));
    const imaging::bitmap* b = bitmap_of(&img);
    series_buffer* buf = memory::buffer_of(out->w2);
    uint8_t* dst = buf->head;
    if (b) {
        const uint32_t* px = b->pixels;
        uint32_t count = pixel_count(&img);
        for (uint32_t i = 0; i < count; i++) {
            uint32_t p = px[i];
            switch (ch) {
            case ALPHA: *dst++ = uint8_t(255 - (p >> 24)); break;
            case RGB:
                *dst++ = uint8_t(p >> 16);
                *dst++ = uint8_t(p >> 8);
                *dst++ = uint8_t(p);
                break;
            default: std::memcpy(dst, &p, 4); dst += 4;
            }
        }
    }
    buf->tail = dst;
    return out;
}

void set_channels(const cell* c, const cell* value, int32_t ch) {
    cell img = *c;
    uint8_t t = value->type();
    if (t != T_binary && t != T_tuple && t != T_integer) invalid_arg(value);
    imaging::bitmap* b = bitmap_of(&img);
    if (!b) return;
    uint32_t count = pixel_count(&img);
    uint32_t* px = b->pixels;
    if (t == T_binary) {
        cell v = *value;
        const uint8_t* src = binary::head_pointer(&v);
        uint64_t len = binary::rs_length_q(&v);
        switch (ch) {
        case ARGB: std::memcpy(px, src, std::min<uint64_t>(len, uint64_t(count) * 4)); break;
        case RGB:
            for (uint64_t i = 0; i < std::min<uint64_t>(len / 3, count); i++)
                px[i] = (px[i] & 0xFF000000u) | uint32_t(src[i * 3]) << 16 | uint32_t(src[i * 3 + 1]) << 8 | src[i * 3 + 2];
            break;
        default:
            for (uint64_t i = 0; i < std::min<uint64_t>(len, count); i++)
                px[i] = (px[i] & 0xFFFFFFu) | uint32_t(255 - src[i]) << 24;
        }
        return;
    }
    // A tuple R.G.B[.T], or an integer read as its four bytes, R lowest.
    uint8_t e[4] = {0, 0, 0, 0};
    if (t == T_tuple) {
        std::memcpy(e, tuple::bytes_of(value), 4);
    } else {
        uint32_t n = value->w2;
        for (int i = 0; i < 4; i++) e[i] = uint8_t(n >> (8 * i));
    }
    uint32_t colour = uint32_t(e[0]) << 16 | uint32_t(e[1]) << 8 | e[2];
    for (uint32_t i = 0; i < count; i++) {
        switch (ch) {
        case ARGB: px[i] = uint32_t(255 - e[3]) << 24 | colour; break;
        case RGB: px[i] = (px[i] & 0xFF000000u) | colour; break;
        default: px[i] = (px[i] & 0xFFFFFFu) | uint32_t(255 - e[0]) << 24;
        }
    }
}

// }==
// {== Decoding and encoding

cell* decode_binary(const cell* data) {
    cell v = *data;
    const uint8_t* p = binary::head_pointer(&v);
    uint32_t n = binary::rs_length_q(&v);
    imaging::format fmt = imaging::sniff(p, n);
    if (fmt == imaging::UNKNOWN) return &(*stack::push_slot() = none_value);
    need_codec(fmt);
    account(0);
    p = binary::head_pointer(&v); // a collection may have moved the bytes
    imaging::bitmap* b = nullptr;
    imaging::status st = imaging::decode(p, n, &b);
    if (st == imaging::status::no_memory) no_memory();
    if (st != imaging::status::ok) bad_media();
    cell* out = stack::push_slot();
    *out = none_value;
    account(imaging::byte_size(b));
    return make_image(out, b, b->width, b->height);
}

cell* load_value(const cell* value) {
    cell v = *value;
    if (v.type() == T_binary) return decode_binary(&v);
    if (v.type() != T_file) invalid_arg(&v);
    node_id conv = 0;
    const char* path = file::to_local_path(&v, conv);
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path, "rb")) {
        uint8_t chunk[65536];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
        std::fclose(f);
    } else {
        error::raise(error::cat_access, error::access_cannot_open, &v);
    }
    imaging::format fmt = imaging::sniff(bytes.data(), bytes.size());
    if (fmt != imaging::UNKNOWN) need_codec(fmt);
    imaging::bitmap* b = nullptr;
    if (imaging::decode(bytes.data(), bytes.size(), &b) != imaging::status::ok)
        error::raise(error::cat_access, error::access_cannot_open, &v);
    cell* out = stack::push_slot();
    *out = none_value;
    account(imaging::byte_size(b));
    return make_image(out, b, b->width, b->height);
}

cell* encode(const cell* c, cell* result, int32_t fmt) {
    cell img = *c;
    if (fmt < imaging::BMP || fmt > imaging::TIFF) {
        cell f = integer::make_value(fmt);
        error::raise(error::cat_script, error::script_invalid_arg, &f);
    }
    if (width_of(&img) == 0 || height_of(&img) == 0) bad_media();
    need_codec(imaging::format(fmt));
    std::vector<uint8_t> bytes;
    if (!imaging::encode(bitmap_of(&img), imaging::format(fmt), bytes)) bad_media();
    if (bytes.size() > 0x7FFFFFFF) no_memory();
    cell* out = binary::push_from_buffer(bytes.data(), uint32_t(bytes.size()));
    if (result) {
        *result = *out;
        stack::pop(1);
        return result;
    }
    return out;
}

cell* push_scaled(const cell* c, uint32_t width, uint32_t height) {
    cell img = *c;
    cell* out = stack::push_slot();
    *out = none_value;
    if (width == 0 || height == 0 || !img.w2) return make_image(out, nullptr, width, height);
    if (width > imaging::MAX_SIDE || height > imaging::MAX_SIDE) no_memory();
    account(uint64_t(width) * height * 4);
    imaging::bitmap* b = imaging::scale(bitmap_of(&img), width, height);
    if (!b) no_memory();
    return make_image(out, b, width, height);
}

// }==
// {== Internal functions of the actions

namespace {

[[noreturn]] void bad_make(uint8_t type, const cell* spec) {
    cell d = datatype::make_value(type);
    error::raise_bad_make_arg(&d, spec);
}

// A copy of the [w] x [h] rectangle at [x], [y] of [img] (cut to the image) into [out].
cell* copy_rect(const cell* img, int64_t x, int64_t y, int64_t w, int64_t h, cell* out) {
    int64_t iw = width_of(img), ih = height_of(img);
    int64_t x0 = std::clamp<int64_t>(std::min(x, x + w), 0, iw), x1 = std::clamp<int64_t>(std::max(x, x + w), 0, iw);
    int64_t y0 = std::clamp<int64_t>(std::min(y, y + h), 0, ih), y1 = std::clamp<int64_t>(std::max(y, y + h), 0, ih);
    uint32_t cw = uint32_t(x1 - x0), ch = uint32_t(y1 - y0);
    if (cw == 0 || ch == 0) return make_image(out, nullptr, cw, ch);
    cell src = *img;
    account(uint64_t(cw) * ch * 4);
    imaging::bitmap* b = imaging::clip(bitmap_of(&src), uint32_t(x0), uint32_t(y0), cw, ch);
    if (!b) no_memory();
    return make_image(out, b, cw, ch);
}

// The 0-based pixel that [at] addresses from the head of [img], or -1 out of range.
int64_t position(const cell* img, const cell* at) {
    int64_t w = width_of(img), total = pixel_count(img);
    int64_t e;
    if (at->type() == T_pair) {
        int64_t x = pair::get_x(at), y = pair::get_y(at);
        if (x < 1 || x > w || y < 1 || y > height_of(img)) return -1;
        e = x + w * (y - 1);
    } else if (at->type() == T_integer) {
        e = integer::get(at);
    } else {
        invalid_arg(at);
    }
    if (e == 0) return -1;
    int64_t i = e > 0 ? int64_t(img->w1) + e - 1 : int64_t(img->w1) + e;
    return i >= 0 && i < total ? i : -1;
}

void tell(const cell* img, const cell& action, const cell* v, int64_t index, int32_t part) {
    if (img->header & IMAGE_OWNED) owner::check(img, &action, v, int32_t(index), part);
}

// Whether word [w] is spelled [name] (case aside).
bool word_is(const cell* w, const char* name) {
    if (w->type() != T_word) return false;
    const series_buffer* s = memory::buffer_of(symbol::entry_cell(symbol::resolve(w->w2))->w3);
    size_t n = std::strlen(name);
    if (s->used_bytes() != n) return false;
    for (size_t i = 0; i < n; i++)
        if ((s->head[i] | 0x20) != name[i]) return false;
    return true;
}

int32_t channel_of_word(const cell* w) {
    if (word_is(w, "argb")) return ARGB;
    if (word_is(w, "rgb")) return RGB;
    if (word_is(w, "alpha")) return ALPHA;
    return -1;
}

void new_line(cell* out, int32_t level, int32_t& part) {
    string::concatenate_literal(out, "\n");
    part -= 1;
    for (int32_t i = 0; i < level; i++) string::concatenate_literal(out, "    ");
    part -= 4 * std::max(level, 0);
}

// The hex digits of [count] pixels, [per] bytes each from [bytes_of]; breaks every 10 pixels
// unless [lines] is off. Answers false when the budget ran out.
template <typename F>
bool hex_pixels(cell* out, const cell* img, uint32_t count, bool lines, int32_t indent, const cell* arg,
                int32_t& part, F bytes_of) {
    char digits[8];
    for (uint32_t i = 0; i < count; i++) {
        if (lines && i > 0 && i % 10 == 0) new_line(out, indent + 1, part);
        uint8_t b[3];
        uint32_t n = bytes_of(bitmap_of(img)->pixels[i], b);
        for (uint32_t k = 0; k < n; k++) std::memcpy(digits + 2 * k, string::byte_to_hex(b[k]).data(), 2);
        string::concatenate_part(out, digits, 2 * n);
        part -= int32_t(2 * n);
        if (arg && part <= 0) return false;
    }
    return true;
}

} // namespace

// }==
// {== Action entries

namespace {

cell* to(cell* proto, cell* spec, uint8_t type) {
    cell s = *spec;
    if (s.type() == T_image) {
        const imaging::bitmap* b = bitmap_of(&s);
        if (!b) return make_image(proto, nullptr, width_of(&s), height_of(&s));
        return copy_rect(&s, 0, 0, width_of(&s), height_of(&s), proto);
    }
    const cell* size = nullptr;
    const cell* colour = nullptr;
    const cell* rgb = nullptr;
    const cell* alpha = nullptr;
    if (s.type() == T_pair) {
        size = &s;
    } else if (s.type() == T_block) {
        const cell* c = block::cells_of(s.w2) + s.w1;
        uint32_t n = block::rs_length_q(&s);
        if (n == 0 || c[0].type() != T_pair) bad_make(type, &s);
        size = &c[0];
        uint32_t i = 1;
        if (i < n && c[i].type() == T_tuple) colour = &c[i++];
        else if (i < n && c[i].type() == T_binary) {
            rgb = &c[i++];
            if (i < n && c[i].type() == T_binary) alpha = &c[i++];
        }
        if (i < n) invalid_arg(&c[i]);
    } else {
        bad_make(type, &s);
    }
    int32_t w = pair::get_x(size), h = pair::get_y(size);
    if (w < 0 || h < 0 || w > int32_t(imaging::MAX_SIDE) || h > int32_t(imaging::MAX_SIDE)) bad_make(type, &s);
    if (w == 0 || h == 0) return make_image(proto, nullptr, uint32_t(w), uint32_t(h));
    cell col = colour ? *colour : none_value, r = rgb ? *rgb : none_value, a = alpha ? *alpha : none_value;
    imaging::bitmap* b = new_bitmap(uint32_t(w), uint32_t(h)); // may collect: only copies are used now
    uint64_t count = uint64_t(w) * uint64_t(h);
    if (col.type() == T_tuple) {
        std::fill(b->pixels, b->pixels + count, pixel_of_tuple(&col));
    } else {
        const uint8_t* rp = r.type() == T_binary ? binary::head_pointer(&r) : nullptr;
        uint64_t rn = rp ? binary::rs_length_q(&r) / 3 : 0;
        const uint8_t* ap = a.type() == T_binary ? binary::head_pointer(&a) : nullptr;
        uint64_t an = ap ? binary::rs_length_q(&a) : 0;
        for (uint64_t i = 0; i < count; i++) {
            uint32_t alpha_v = i < an ? 255u - ap[i] : 255u;
            uint32_t colour_v = i < rn ? uint32_t(rp[i * 3]) << 16 | uint32_t(rp[i * 3 + 1]) << 8 | rp[i * 3 + 2] : 0xFFFFFFu;
            b->pixels[i] = alpha_v << 24 | colour_v;
        }
    }
    return make_image(proto, b, uint32_t(w), uint32_t(h));
}

cell* make(cell* proto, cell* spec, uint8_t type) { return to(proto, spec, type); }

int32_t mold(const cell* value, cell* buffer, bool, bool, bool flat, const cell* arg, int32_t part, int32_t indent) {
    cell img = *value;
    uint32_t w = width_of(&img), h = height_of(&img);
    char head[64];
    int n = std::snprintf(head, sizeof head, "make image! [%ux%u", w, h);
    string::concatenate_part(buffer, head, uint32_t(n));
    part -= n;
    const imaging::bitmap* b = bitmap_of(&img);
    if (!b) {
        string::concatenate_literal(buffer, " #{}]");
        return part - 5;
    }
    uint32_t count = w * h;
    bool lines = !flat && count > 30;
    string::concatenate_literal(buffer, " #{");
    part -= 3;
    if (lines) new_line(buffer, indent + 1, part);
    if (!hex_pixels(buffer, &img, count, lines, indent, arg, part, [](uint32_t p, uint8_t* o) {
            o[0] = uint8_t(p >> 16);
            o[1] = uint8_t(p >> 8);
            o[2] = uint8_t(p);
            return 3u;
        }))
        return part;
    if (lines) new_line(buffer, indent, part);
    string::concatenate_literal(buffer, "}");
    part -= 1;
    b = bitmap_of(&img);
    bool clear = false;
    for (uint32_t i = 0; i < count && !clear; i++) clear = (b->pixels[i] >> 24) != 255;
    if (clear) {
        string::concatenate_literal(buffer, " #{");
        part -= 3;
        new_line(buffer, indent + 1, part);
        if (!hex_pixels(buffer, &img, count, lines, indent, arg, part, [](uint32_t p, uint8_t* o) {
                o[0] = uint8_t(255 - (p >> 24));
                return 1u;
            }))
            return part;
        if (lines) new_line(buffer, indent, part);
        string::concatenate_literal(buffer, "}");
        part -= 1;
    }
    string::concatenate_literal(buffer, "]");
    return part - 1;
}

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    return mold(value, buffer, false, false, false, arg, part, 0);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    if (b->type() != T_image) return -2;
    bool same = a->w2 == b->w2 && a->w1 == b->w1 && a->w3 == b->w3;
    if (op == 9) return same ? 0 : 1;
    if (same) return 0;
    if (width_of(a) != width_of(b)) return width_of(a) < width_of(b) ? -1 : 1;
    if (height_of(a) != height_of(b)) return height_of(a) < height_of(b) ? -1 : 1;
    const imaging::bitmap* x = bitmap_of(a);
    const imaging::bitmap* y = bitmap_of(b);
    if (!x || !y) return 0;
    int r = std::memcmp(x->pixels, y->pixels, imaging::byte_size(x));
    return (r > 0) - (r < 0);
}

cell* pick(cell* value, int32_t, const cell* at) {
    int64_t i = position(value, at);
    if (i < 0) return &(*value = none_value);
    *value = tuple_of_pixel(bitmap_of(value)->pixels[i]);
    return value;
}

cell* poke(cell* value, int32_t, const cell* at, cell* data) {
    int64_t i = position(value, at);
    if (i < 0) {
        cell a = *at;
        error::raise(error::cat_script, error::script_out_of_range, &a);
    }
    if (data->type() != T_tuple) invalid_arg(data);
    tell(value, words::loaded.poke, data, i, 1);
    bitmap_of(value)->pixels[i] = pixel_of_tuple(data);
    tell(value, words::loaded.poked, data, i, 1);
    return data;
}

cell* eval_path(cell* value, const cell* element, const cell* set, const actions::path_step& step) {
    uint8_t t = element->type();
    if (t == T_integer || t == T_pair) {
        if (!set) return pick(value, 0, element);
        cell d = *set;
        poke(value, 0, element, &d);
        return const_cast<cell*>(set);
    }
    int32_t ch = channel_of_word(element);
    if (ch < 0 && !(word_is(element, "size") && !set))
        error::raise(error::cat_script, error::script_invalid_path, step.path ? step.path : &none_value, element);
    if (ch < 0) return &(*value = pair::make_value(int32_t(width_of(value)), int32_t(height_of(value))));
    if (set) {
        tell(value, words::loaded.change, set, 0, int32_t(pixel_count(value)));
        set_channels(value, set, ch);
        tell(value, words::loaded.changed, set, 0, int32_t(pixel_count(value)));
        return const_cast<cell*>(set);
    }
    *value = *extract_channels(value, ch);
    stack::pop(1);
    return value;
}

cell* copy(cell* series, const cell* part, bool, const cell*) {
    cell img = *series;
    int64_t w = width_of(&img), total = pixel_count(&img);
    if (total == 0) return make_image(series, nullptr, width_of(&img), height_of(&img));
    int64_t head = std::min<int64_t>(img.w1, total);
    int64_t x = head % w, y = head / w;
    if (!part) {
        if (head == 0) return copy_rect(&img, 0, 0, w, height_of(&img), series);
        return copy_rect(&img, x, y, w - x, int64_t(height_of(&img)) - y, series);
    }
    if (part->type() == T_pair) return copy_rect(&img, x, y, pair::get_x(part), pair::get_y(part), series);
    if (part->type() == T_image) {
        if (part->w2 != img.w2) {
            cell p = *part, name = word::load("part");
            error::raise(error::cat_script, error::script_invalid_refine_arg, &name, &p);
        }
        int64_t other = std::min<int64_t>(part->w1, total);
        int64_t lo = std::min(head, other), hi = std::max(head, other);
        int64_t lx = lo % w, ly = lo / w, hx = hi % w, hy = hi / w;
        return copy_rect(&img, lx, ly, hx - lx, hy - ly, series);
    }
    if (part->type() == T_integer) error::raise(error::cat_internal, error::internal_not_done);
    cell p = *part, name = word::load("part");
    error::raise(error::cat_script, error::script_invalid_refine_arg, &name, &p);
}

cell* change(cell* series, cell* value, int32_t part, bool, int32_t dup) {
    if (part >= 0 || dup != 1) error::raise(error::cat_internal, error::internal_not_done);
    cell img = *series;
    uint32_t total = pixel_count(&img);
    uint32_t head = std::min(img.w1, total);
    if (value->type() == T_tuple) {
        if (head >= total) return series; // nothing to change at the tail
        tell(&img, words::loaded.change, value, head, 1);
        bitmap_of(&img)->pixels[head] = pixel_of_tuple(value);
        tell(&img, words::loaded.changed, value, head, 1);
        series->w1 = head + 1;
        return series;
    }
    if (value->type() != T_image) {
        cell type = datatype::make_value(value->type());
        error::raise(error::cat_script, error::script_invalid_type, &type);
    }
    cell src = *value;
    uint32_t n = std::min(pixel_count(&src) - std::min(src.w1, pixel_count(&src)), total - head);
    tell(&img, words::loaded.change, &src, head, int32_t(n));
    if (n) std::memmove(bitmap_of(&img)->pixels + head, bitmap_of(&src)->pixels + src.w1, size_t(n) * 4);
    tell(&img, words::loaded.changed, &src, head, int32_t(n));
    series->w1 = head + n;
    return series;
}

int32_t length_q(const cell* value) { return int32_t(pixel_count(value)); }

// The foreach step: each loop word in turn gets the pixel at the head, none past the end.
bool foreach_next(cell* s, const cell* words, uint32_t n) {
    uint32_t total = pixel_count(s);
    if (s->w1 >= total) return false;
    bool one = words->type() != T_block;
    uint32_t count = one ? 1 : std::min(n, block::rs_length_q(const_cast<cell*>(words)));
    for (uint32_t i = 0; i < count; i++) {
        uint32_t at = s->w1 + i;
        cell v = at < total ? tuple_of_pixel(bitmap_of(s)->pixels[at]) : none_value;
        cell w = one ? *words : block::cells_of(words->w2)[words->w1 + i];
        word::set_value(&w, &v);
    }
    s->w1 += n;
    return true;
}

uint32_t pixels_of(const cell* image) { return pixel_count(image); }

// }==
// {== Codec routines: the frame's cell 0 is the image or data, cell 1 (encode) where

template <int32_t Format> void encode_routine() {
    cell img = *stack::arg(0);
    if (img.type() != T_image) invalid_arg(&img);
    encode(&img, stack::arg(0), Format);
}

void decode_routine() {
    cell data = *stack::arg(0);
    cell* r = load_value(&data);
    *stack::arg(0) = *r;
    stack::pop(1);
}

} // namespace

// }==
// {== Registration

void init() {
    kind = extres::kind_of(KIND_TAG);
    if (!kind) kind = extres::push(KIND_TAG, release_bitmap);
    collector::image_visit = visit;
    natives::image_foreach_next = foreach_next;
    natives::image_pixels = pixels_of;
    if (routine::find("png-encode") < 0) {
        routine::add("png-encode", encode_routine<imaging::PNG>);
        routine::add("jpeg-encode", encode_routine<imaging::JPEG>);
        routine::add("bmp-encode", encode_routine<imaging::BMP>);
        routine::add("gif-encode", encode_routine<imaging::GIF>);
        routine::add("tiff-encode", encode_routine<imaging::TIFF>);
        routine::add("image-decode", decode_routine);
    }
    using datatype::entry;
    const action_fn entries[] = {
        entry(&make),       // make
        nullptr,            // random
        nullptr,            // reflect
        entry(&to),         // to
        entry(&form),       // form
        entry(&mold),       // mold
        entry(&eval_path),  // eval-path
        nullptr,            // set-path
        entry(&compare),    // compare
        nullptr,            // absolute
        nullptr, nullptr, nullptr, nullptr, // add divide multiply negate
        nullptr, nullptr, nullptr, nullptr, // power remainder round subtract
        nullptr, nullptr,   // even? odd?
        nullptr, nullptr, nullptr, nullptr, // and~ complement or~ xor~
        nullptr,            // append
        ZYL_INHERIT,        // at
        ZYL_INHERIT,        // back
        entry(&change),     // change
        nullptr,            // clear
        entry(&copy),       // copy
        nullptr,            // find
        ZYL_INHERIT, ZYL_INHERIT, ZYL_INHERIT, // head head? index?
        nullptr,            // insert
        entry(&length_q),   // length?
        nullptr,            // move
        ZYL_INHERIT,        // next
        entry(&pick),       // pick
        entry(&poke),       // poke
        nullptr, nullptr, nullptr, nullptr, nullptr, // put remove reverse select sort
        ZYL_INHERIT,        // skip
        nullptr,            // swap
        ZYL_INHERIT, ZYL_INHERIT, // tail tail?
        nullptr, nullptr,   // take trim
        nullptr, nullptr, nullptr, // create close delete
        ZYL_INHERIT,        // modify
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // open .. write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_image, T_series, "image!", entries);
}

// }==

} // namespace zyl::image
