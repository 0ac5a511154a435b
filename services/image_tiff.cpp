// services/image_tiff.cpp: TIFF through libtiff, read from and written to memory through
// TIFFClientOpen: the first directory, 8-bit RGBA with unassociated alpha read as it stands,
// any other layout through the RGBA reader with its premultiplied alpha divided back.
#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "services/image.h"
#include "services/image_libs.h"

namespace zyl::imaging {

namespace {

#define ZYL_TIFF_FUNCTIONS(X)                                                                           \
    X(TIFFClientOpen) X(TIFFClose) X(TIFFDefaultStripSize) X(TIFFGetField) X(TIFFGetFieldDefaulted)   \
    X(TIFFIsTiled) X(TIFFRGBAImageOK) X(TIFFReadRGBAImageOriented) X(TIFFReadScanline)                \
    X(TIFFScanlineSize64) X(TIFFSetErrorHandler) X(TIFFSetField) X(TIFFSetWarningHandler)             \
    X(TIFFWriteDirectory) X(TIFFWriteScanline)

ZYL_TIFF_FUNCTIONS(ZYL_IMAGE_LIB_POINTER)
const library_symbol tiff_symbols[] = {ZYL_TIFF_FUNCTIONS(ZYL_IMAGE_LIB_SLOT)};
codec_library tiff_lib{tiff_soname, tiff_symbols, std::size(tiff_symbols), 0};

// A seekable memory file; a write past the end grows it.
struct memfile {
    uint8_t* data;
    size_t size;
    size_t capacity;
    size_t pos;
    bool writable;
    bool failed;
};

tmsize_t read_proc(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<memfile*>(h);
    if (n < 0 || m->pos >= m->size) return 0;
    size_t take = std::min(size_t(n), m->size - m->pos);
    std::memcpy(buf, m->data + m->pos, take);
    m->pos += take;
    return tmsize_t(take);
}

tmsize_t write_proc(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<memfile*>(h);
    if (!m->writable || n < 0) return 0;
    size_t end = m->pos + size_t(n);
    if (end > m->capacity) {
        size_t cap = m->capacity ? m->capacity * 2 : 65536;
        while (cap < end) cap *= 2;
        auto* d = static_cast<uint8_t*>(std::realloc(m->data, cap));
        if (!d) {
            m->failed = true;
            return 0;
        }
        std::memset(d + m->capacity, 0, cap - m->capacity);
        m->data = d;
        m->capacity = cap;
    }
    std::memcpy(m->data + m->pos, buf, size_t(n));
    m->pos = end;
    m->size = std::max(m->size, end);
    return n;
}

toff_t seek_proc(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<memfile*>(h);
    uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->size;
    uint64_t to = base + off;
    if (to > (uint64_t(1) << 40)) return toff_t(-1);
    m->pos = size_t(to);
    return to;
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t h) { return static_cast<memfile*>(h)->size; }
int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

// libtiff's default handlers print; the codec stays silent.
void silence() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

::TIFF* open(memfile* m, const char* mode) {
    return TIFFClientOpen("memory", mode, m, read_proc, write_proc, seek_proc, close_proc, size_proc, map_proc,
                          unmap_proc);
}

inline uint8_t unpremultiply(uint32_t c, uint32_t a) { return uint8_t(std::min<uint32_t>(255, (c * 255 + a / 2) / a)); }

// The straight 8-bit RGBA layout, read strip by strip as it stands; false when the file has
// another layout (or is tiled) and the RGBA reader must do it.
bool read_plain(::TIFF* tif, bitmap* bm, bool* failed) {
    uint16_t bits = 0, spp = 0, photo = 0, planar = PLANARCONFIG_CONTIG, nextra = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photo)) return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &nextra, &extra);
    if (bits != 8 || spp != 4 || photo != PHOTOMETRIC_RGB || planar != PLANARCONFIG_CONTIG || nextra != 1 ||
        !extra || extra[0] != EXTRASAMPLE_UNASSALPHA || TIFFIsTiled(tif) ||
        TIFFScanlineSize64(tif) != uint64_t(bm->width) * 4)
        return false;
    for (uint32_t y = 0; y < bm->height; y++) {
        uint8_t* row = reinterpret_cast<uint8_t*>(bm->pixels + size_t(y) * bm->width);
        if (TIFFReadScanline(tif, row, y, 0) < 0) {
            *failed = true;
            return true;
        }
        for (uint32_t x = 0; x < bm->width; x++) std::swap(row[x * 4], row[x * 4 + 2]); // RGBA to BGRA
    }
    return true;
}

} // namespace

status decode_tiff(const uint8_t* data, size_t length, bitmap** out) {
    if (!library_ready(tiff_lib)) return status::unavailable;
    silence();
    memfile m{const_cast<uint8_t*>(data), length, length, 0, false, false};
    ::TIFF* tif = open(&m, "rm");
    if (!tif) return status::bad;
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    status st = status::bad;
    bitmap* bm = nullptr;
    char message[1024];
    if (size_ok(w, h) && (bm = create(w, h)) == nullptr) st = status::no_memory;
    if (bm) {
        bool failed = false;
        if (read_plain(tif, bm, &failed)) {
            if (!failed) st = status::ok;
        } else if (TIFFRGBAImageOK(tif, message) &&
                   TIFFReadRGBAImageOriented(tif, w, h, bm->pixels, ORIENTATION_TOPLEFT, 1)) {
            for (uint64_t i = 0; i < uint64_t(w) * h; i++) {
                uint32_t p = bm->pixels[i];
                uint32_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p), a = TIFFGetA(p);
                if (a == 0) r = g = b = 0;
                else if (a < 255) { r = unpremultiply(r, a); g = unpremultiply(g, a); b = unpremultiply(b, a); }
                bm->pixels[i] = a << 24 | r << 16 | g << 8 | b;
            }
            st = status::ok;
        }
    }
    TIFFClose(tif);
    if (st != status::ok) {
        destroy(bm);
        return st;
    }
    *out = bm;
    return st;
}

bool tiff_ready() { return library_ready(tiff_lib); }

bool encode_tiff(const bitmap* b, std::vector<uint8_t>& out) {
    if (!library_ready(tiff_lib)) return false;
    silence();
    memfile m{nullptr, 0, 0, 0, true, false};
    ::TIFF* tif = open(&m, "w");
    bool ok = tif != nullptr;
    auto* row = static_cast<uint8_t*>(std::malloc(size_t(b->width) * 4));
    if (ok && row) {
        uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, b->width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, b->height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
        for (uint32_t y = 0; ok && y < b->height; y++) {
            std::memcpy(row, b->pixels + size_t(y) * b->width, size_t(b->width) * 4);
            for (uint32_t x = 0; x < b->width; x++) std::swap(row[x * 4], row[x * 4 + 2]);
            ok = TIFFWriteScanline(tif, row, y, 0) >= 0;
        }
    } else {
        ok = false;
    }
    if (tif) {
        if (ok && !TIFFWriteDirectory(tif)) ok = false;
        TIFFClose(tif);
    }
    std::free(row);
    ok = ok && !m.failed;
    if (ok) out.assign(m.data, m.data + m.size);
    std::free(m.data);
    return ok;
}

} // namespace zyl::imaging
