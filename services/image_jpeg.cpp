// services/image_jpeg.cpp: JPEG through libjpeg-turbo. Errors arrive by longjmp, so the
// library calls sit in functions whose frames own nothing with a destructor.
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

#include <csetjmp>
#include <cstdlib>

#include "services/image.h"
#include "services/image_buffer.h"
#include "services/image_libs.h"

namespace zyl::imaging {

namespace {

#define ZYL_JPEG_FUNCTIONS(X)                                                                           \
    X(jpeg_CreateCompress) X(jpeg_CreateDecompress) X(jpeg_destroy_compress)                          \
    X(jpeg_destroy_decompress) X(jpeg_finish_compress) X(jpeg_finish_decompress) X(jpeg_mem_dest)     \
    X(jpeg_mem_src) X(jpeg_read_header) X(jpeg_read_scanlines) X(jpeg_set_defaults)                   \
    X(jpeg_set_quality) X(jpeg_start_compress) X(jpeg_start_decompress) X(jpeg_std_error)             \
    X(jpeg_write_scanlines)

ZYL_JPEG_FUNCTIONS(ZYL_IMAGE_LIB_POINTER)
const library_symbol jpeg_symbols[] = {ZYL_JPEG_FUNCTIONS(ZYL_IMAGE_LIB_SLOT)};
codec_library jpeg_lib{jpeg_soname, jpeg_symbols, std::size(jpeg_symbols), 0};

struct error_mgr {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

void on_error(j_common_ptr c) { std::longjmp(reinterpret_cast<error_mgr*>(c->err)->jump, 1); }
void on_message(j_common_ptr) {}
// Data that ends early is an error, as for the other formats: the library would pad the rest
// of the image with grey, at full cost for a huge image of a few bytes.
void on_emit(j_common_ptr c, int level) {
    if (level < 0 && c->err->msg_code == JWRN_JPEG_EOF) on_error(c);
}
// Progressive files may hold any number of scans, each a pass over the whole image.
constexpr int MAX_SCANS = 1000;
void on_progress(j_common_ptr c) {
    if (c->is_decompressor && reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > MAX_SCANS) on_error(c);
}

void quiet(error_mgr* e) {
    jpeg_std_error(&e->pub);
    e->pub.error_exit = on_error;
    e->pub.output_message = on_message;
    e->pub.emit_message = on_emit;
}

struct decode_state {
    bitmap* result;
    uint8_t* row; // CMYK scanline
    status st;
};

void decode_jpeg_raw(jpeg_decompress_struct* cinfo, error_mgr* err, jpeg_progress_mgr* progress,
                     const uint8_t* data, size_t length, decode_state* s) {
    if (setjmp(err->jump)) return;
    jpeg_create_decompress(cinfo);
    cinfo->progress = progress;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(length));
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return;
    if (!size_ok(cinfo->image_width, cinfo->image_height)) return;
    bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(cinfo);
    uint32_t w = cinfo->output_width, h = cinfo->output_height;
    if (!size_ok(w, h) || cinfo->output_components != 4) return;
    s->result = create(w, h);
    if (cmyk) s->row = static_cast<uint8_t*>(std::malloc(size_t(w) * 4));
    if (!s->result || (cmyk && !s->row)) {
        s->st = status::no_memory;
        return;
    }
    // Adobe's writers store CMYK inverted.
    bool inverted = cinfo->saw_Adobe_marker;
    while (cinfo->output_scanline < h) {
        uint32_t y = cinfo->output_scanline;
        uint32_t* dst = s->result->pixels + size_t(y) * w;
        JSAMPROW row = cmyk ? s->row : reinterpret_cast<JSAMPROW>(dst);
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) return;
        if (!cmyk) continue;
        for (uint32_t x = 0; x < w; x++) {
            const uint8_t* p = s->row + x * 4;
            uint32_t c = p[0], m = p[1], yy = p[2], k = p[3];
            if (!inverted) { c = 255 - c; m = 255 - m; yy = 255 - yy; k = 255 - k; }
            dst[x] = 0xFF000000u | ((c * k + 127) / 255) << 16 | ((m * k + 127) / 255) << 8 | (yy * k + 127) / 255;
        }
    }
    jpeg_finish_decompress(cinfo);
    s->st = status::ok;
}

struct encode_state {
    unsigned char* out;
    unsigned long size;
    bool ok;
};

void encode_jpeg_raw(jpeg_compress_struct* cinfo, error_mgr* err, const bitmap* b, encode_state* s) {
    if (setjmp(err->jump)) return;
    jpeg_create_compress(cinfo);
    jpeg_mem_dest(cinfo, &s->out, &s->size);
    cinfo->image_width = b->width;
    cinfo->image_height = b->height;
    cinfo->input_components = 4;
    cinfo->in_color_space = JCS_EXT_BGRA; // the fourth byte is skipped: alpha is dropped
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, 75, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < b->height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(b->pixels + size_t(cinfo->next_scanline) * b->width);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    s->ok = true;
}

} // namespace

status decode_jpeg(const uint8_t* data, size_t length, bitmap** out) {
    if (!library_ready(jpeg_lib)) return status::unavailable;
    jpeg_decompress_struct cinfo{};
    error_mgr err{};
    quiet(&err);
    cinfo.err = &err.pub;
    decode_state s{nullptr, nullptr, status::bad};
    jpeg_progress_mgr progress{};
    progress.progress_monitor = on_progress;
    decode_jpeg_raw(&cinfo, &err, &progress, data, length, &s);
    jpeg_destroy_decompress(&cinfo);
    std::free(s.row);
    if (s.st != status::ok) {
        destroy(s.result);
        return s.st;
    }
    *out = s.result;
    return status::ok;
}

bool jpeg_ready() { return library_ready(jpeg_lib); }

bool encode_jpeg(const bitmap* b, std::vector<uint8_t>& out) {
    if (!library_ready(jpeg_lib)) return false;
    jpeg_compress_struct cinfo{};
    error_mgr err{};
    quiet(&err);
    cinfo.err = &err.pub;
    encode_state s{nullptr, 0, false};
    encode_jpeg_raw(&cinfo, &err, b, &s);
    jpeg_destroy_compress(&cinfo);
    if (s.ok) out.assign(s.out, s.out + s.size);
    std::free(s.out);
    return s.ok;
}

} // namespace zyl::imaging
