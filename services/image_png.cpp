// services/image_png.cpp: PNG through libpng. libpng reports errors by longjmp, so each
// library call sits in a function whose frames own nothing with a destructor; buffers live
// in plain structs that the caller frees after the function returns.
#include <png.h>

#include <csetjmp>
#include <cstdlib>

#include "services/image.h"
#include "services/image_buffer.h"
#include "services/image_libs.h"

namespace zyl::imaging {

namespace {

#define ZYL_PNG_FUNCTIONS(X)                                                                            \
    X(png_create_read_struct) X(png_create_write_struct) X(png_create_info_struct)                    \
    X(png_destroy_read_struct) X(png_destroy_write_struct) X(png_error) X(png_set_longjmp_fn)         \
    X(png_longjmp) X(png_get_IHDR) X(png_get_io_ptr) X(png_get_rowbytes) X(png_read_image)            \
    X(png_read_info) X(png_read_update_info) X(png_set_IHDR) X(png_set_bgr) X(png_set_expand)         \
    X(png_set_filler) X(png_set_gray_to_rgb) X(png_set_interlace_handling) X(png_set_read_fn)         \
    X(png_set_scale_16) X(png_set_user_limits) X(png_set_write_fn) X(png_write_end)                   \
    X(png_write_image) X(png_write_info)

ZYL_PNG_FUNCTIONS(ZYL_IMAGE_LIB_POINTER)
const library_symbol png_symbols[] = {ZYL_PNG_FUNCTIONS(ZYL_IMAGE_LIB_SLOT)};
codec_library png_lib{png_soname, png_symbols, std::size(png_symbols), 0};

struct reader {
    const uint8_t* data;
    size_t length;
    size_t pos;
};

void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

void read_fn(png_structp png, png_bytep out, size_t n) {
    auto* r = static_cast<reader*>(png_get_io_ptr(png));
    if (n > r->length - r->pos) png_error(png, "short");
    std::memcpy(out, r->data + r->pos, n);
    r->pos += n;
}

struct decode_state {
    bitmap* result;
    png_bytep* rows;
    status st;
};

// Runs the whole decode; everything it allocates is in [s], freed by the caller on failure.
void decode_png_raw(png_structp png, png_infop info, decode_state* s) {
    if (setjmp(png_jmpbuf(png))) return;
    png_read_info(png, info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
    if (!size_ok(w, h)) return;
    png_set_expand(png);
    if (depth == 16) png_set_scale_16(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(w) * 4) return;
    s->result = create(w, h);
    s->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * h));
    if (!s->result || !s->rows) {
        s->st = status::no_memory;
        return;
    }
    for (png_uint_32 y = 0; y < h; y++) s->rows[y] = reinterpret_cast<png_bytep>(s->result->pixels + size_t(y) * w);
    png_read_image(png, s->rows);
    s->st = status::ok;
}

struct encode_state {
    out_buffer out;
    png_bytep* rows;
    bool ok;
};

void write_fn(png_structp png, png_bytep p, size_t n) {
    if (!put(static_cast<out_buffer*>(png_get_io_ptr(png)), p, n)) png_error(png, "memory");
}
void flush_fn(png_structp) {}

void encode_png_raw(png_structp png, png_infop info, const bitmap* b, encode_state* s) {
    if (setjmp(png_jmpbuf(png))) return;
    png_set_write_fn(png, &s->out, write_fn, flush_fn);
    png_set_IHDR(png, info, b->width, b->height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    png_write_image(png, s->rows);
    png_write_end(png, nullptr);
    s->ok = true;
}

} // namespace

status decode_png(const uint8_t* data, size_t length, bitmap** out) {
    if (!library_ready(png_lib)) return status::unavailable;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    if (!png) return status::no_memory;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return status::no_memory;
    }
    reader r{data, length, 0};
    png_set_read_fn(png, &r, read_fn);
    png_set_user_limits(png, MAX_SIDE, MAX_SIDE);
    decode_state s{nullptr, nullptr, status::bad};
    decode_png_raw(png, info, &s);
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(s.rows);
    if (s.st != status::ok) {
        destroy(s.result);
        return s.st;
    }
    *out = s.result;
    return status::ok;
}

bool png_ready() { return library_ready(png_lib); }

bool encode_png(const bitmap* b, std::vector<uint8_t>& out) {
    if (!library_ready(png_lib)) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    encode_state s{{nullptr, 0, 0, false}, nullptr, false};
    if (info) s.rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * b->height));
    if (s.rows) {
        for (uint32_t y = 0; y < b->height; y++)
            s.rows[y] = reinterpret_cast<png_bytep>(b->pixels + size_t(y) * b->width);
        encode_png_raw(png, info, b, &s);
    }
    png_destroy_write_struct(&png, info ? &info : nullptr);
    std::free(s.rows);
    return finish(&s.out, s.ok, out);
}

} // namespace zyl::imaging
