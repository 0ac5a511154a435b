// services/image_gif.cpp: GIF through giflib: the first frame placed on the logical screen,
// and GIF89a written with an exact palette when the colours fit, else a median-cut one.
#include <gif_lib.h>

#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "services/image.h"
#include "services/image_buffer.h"
#include "services/image_libs.h"

namespace zyl::imaging {

namespace {

#define ZYL_GIF_FUNCTIONS(X)                                                                            \
    X(DGifCloseFile) X(DGifExtensionToGCB) X(DGifGetExtension) X(DGifGetExtensionNext)                \
    X(DGifGetImageDesc) X(DGifGetLine) X(DGifGetRecordType) X(DGifOpen) X(EGifCloseFile)              \
    X(EGifGCBToExtension) X(EGifOpen) X(EGifPutExtension) X(EGifPutImageDesc) X(EGifPutLine)          \
    X(EGifPutScreenDesc) X(EGifSetGifVersion) X(GifFreeMapObject) X(GifMakeMapObject)                 \
    X(GifQuantizeBuffer)

ZYL_GIF_FUNCTIONS(ZYL_IMAGE_LIB_POINTER)
const library_symbol gif_symbols[] = {ZYL_GIF_FUNCTIONS(ZYL_IMAGE_LIB_SLOT)};
codec_library gif_lib{gif_soname, gif_symbols, std::size(gif_symbols), 0};

struct reader {
    const uint8_t* data;
    size_t length;
    size_t pos;
};

int read_fn(GifFileType* gif, GifByteType* out, int n) {
    auto* r = static_cast<reader*>(gif->UserData);
    size_t take = std::min(size_t(n < 0 ? 0 : n), r->length - r->pos);
    std::memcpy(out, r->data + r->pos, take);
    r->pos += take;
    return int(take);
}

int write_fn(GifFileType* gif, const GifByteType* p, int n) {
    return put(static_cast<out_buffer*>(gif->UserData), p, size_t(n)) ? n : 0;
}

// Reads the first frame into a new bitmap; frees what it made on failure.
status first_frame(GifFileType* gif, bitmap** out) {
    int transparent = -1;
    uint8_t* line = nullptr;
    bitmap* bm = nullptr;
    status st = status::bad;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) break;
        if (type == TERMINATE_RECORD_TYPE) break;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) break;
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                GraphicsControlBlock gcb;
                if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
            }
            while (ext) {
                if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) goto done;
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif) == GIF_ERROR) break;
        {
            const GifImageDesc& d = gif->Image;
            const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
            if (!map || !map->Colors || d.Width <= 0 || d.Height <= 0) break;
            uint32_t sw = gif->SWidth > 0 ? uint32_t(gif->SWidth) : uint32_t(d.Left + d.Width);
            uint32_t sh = gif->SHeight > 0 ? uint32_t(gif->SHeight) : uint32_t(d.Top + d.Height);
            if (!size_ok(sw, sh) || !size_ok(uint32_t(d.Width), uint32_t(d.Height))) break;
            bm = create(sw, sh);
            line = static_cast<uint8_t*>(std::malloc(size_t(d.Width)));
            if (!bm || !line) {
                st = status::no_memory;
                break;
            }
            std::memset(bm->pixels, 0, byte_size(bm)); // uncovered pixels are transparent
            static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            int passes = d.Interlace ? 4 : 1;
            bool ok = true;
            for (int pass = 0; pass < passes && ok; pass++) {
                for (int row = d.Interlace ? start[pass] : 0; row < d.Height; row += d.Interlace ? step[pass] : 1) {
                    if (DGifGetLine(gif, line, d.Width) == GIF_ERROR) {
                        ok = false;
                        break;
                    }
                    uint64_t y = uint64_t(d.Top) + uint64_t(row);
                    if (y >= sh) continue;
                    uint32_t* dst = bm->pixels + y * sw;
                    for (int x = 0; x < d.Width; x++) {
                        int i = line[x];
                        if (i >= map->ColorCount) {
                            ok = false;
                            break;
                        }
                        uint64_t px = uint64_t(d.Left) + uint64_t(x);
                        if (px >= sw || i == transparent) continue;
                        const GifColorType& c = map->Colors[i];
                        dst[px] = 0xFF000000u | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
                    }
                    if (!ok) break;
                }
            }
            if (ok) st = status::ok;
        }
        break;
    }
done:
    std::free(line);
    if (st != status::ok) {
        destroy(bm);
        return st;
    }
    *out = bm;
    return st;
}

// Palette [map] of [count] colours and an index per pixel in [index]; [transparent] is the
// index of the transparent entry or -1. Exact when the colours fit, else median cut.
bool build_palette(const bitmap* b, uint8_t* index, GifColorType* map, int* count, int* transparent) {
    size_t n = size_t(b->width) * b->height;
    std::unordered_map<uint32_t, int> seen;
    bool any_clear = false;
    bool exact = true;
    for (size_t i = 0; i < n && exact; i++) {
        uint32_t p = b->pixels[i];
        if ((p >> 24) < 128) {
            any_clear = true;
            continue;
        }
        if (seen.emplace(p & 0xFFFFFF, 0).second && seen.size() > 256) exact = false;
    }
    int limit = any_clear ? 255 : 256;
    if (exact && int(seen.size()) <= limit) {
        int k = 0;
        for (auto& e : seen) {
            e.second = k;
            map[k] = GifColorType{uint8_t(e.first >> 16), uint8_t(e.first >> 8), uint8_t(e.first)};
            k++;
        }
        *transparent = any_clear ? k : -1;
        if (any_clear) map[k++] = GifColorType{0, 0, 0};
        for (size_t i = 0; i < n; i++) {
            uint32_t p = b->pixels[i];
            index[i] = (p >> 24) < 128 ? uint8_t(*transparent) : uint8_t(seen[p & 0xFFFFFF]);
        }
        *count = k;
        return true;
    }
    auto* r = static_cast<GifByteType*>(std::malloc(n));
    auto* g = static_cast<GifByteType*>(std::malloc(n));
    auto* bl = static_cast<GifByteType*>(std::malloc(n));
    bool ok = r && g && bl;
    if (ok) {
        for (size_t i = 0; i < n; i++) {
            uint32_t p = b->pixels[i];
            r[i] = uint8_t(p >> 16);
            g[i] = uint8_t(p >> 8);
            bl[i] = uint8_t(p);
        }
        int size = limit;
        ok = GifQuantizeBuffer(b->width, b->height, &size, r, g, bl, index, map) == GIF_OK;
        if (ok) {
            *count = size;
            *transparent = -1;
            if (any_clear) {
                *transparent = size;
                map[size] = GifColorType{0, 0, 0};
                *count = size + 1;
                for (size_t i = 0; i < n; i++)
                    if ((b->pixels[i] >> 24) < 128) index[i] = uint8_t(size);
            }
        }
    }
    std::free(r);
    std::free(g);
    std::free(bl);
    return ok;
}

} // namespace

status decode_gif(const uint8_t* data, size_t length, bitmap** out) {
    if (!library_ready(gif_lib)) return status::unavailable;
    reader r{data, length, 0};
    int err = 0;
    GifFileType* gif = DGifOpen(&r, read_fn, &err);
    if (!gif) return err == D_GIF_ERR_NOT_ENOUGH_MEM ? status::no_memory : status::bad;
    status st = first_frame(gif, out);
    DGifCloseFile(gif, &err);
    return st;
}

bool gif_ready() { return library_ready(gif_lib); }

bool encode_gif(const bitmap* b, std::vector<uint8_t>& out) {
    if (!library_ready(gif_lib)) return false;
    size_t n = size_t(b->width) * b->height;
    auto* index = static_cast<uint8_t*>(std::malloc(n));
    GifColorType colours[256] = {};
    int count = 0, transparent = -1;
    bool ok = index && build_palette(b, index, colours, &count, &transparent);
    out_buffer o{nullptr, 0, 0, false};
    if (ok) {
        int size = 2;
        while (size < count) size *= 2;
        ColorMapObject* map = GifMakeMapObject(size, nullptr);
        int err = 0;
        GifFileType* gif = map ? EGifOpen(&o, write_fn, &err) : nullptr;
        ok = gif != nullptr;
        if (ok) {
            std::memcpy(map->Colors, colours, sizeof(GifColorType) * size_t(size));
            EGifSetGifVersion(gif, true);
            ok = EGifPutScreenDesc(gif, int(b->width), int(b->height), 8, 0, map) == GIF_OK;
            if (ok && transparent >= 0) {
                GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, transparent};
                GifByteType ext[4];
                size_t len = EGifGCBToExtension(&gcb, ext);
                ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(len), ext) == GIF_OK;
            }
            ok = ok && EGifPutImageDesc(gif, 0, 0, int(b->width), int(b->height), false, nullptr) == GIF_OK;
            for (uint32_t y = 0; ok && y < b->height; y++)
                ok = EGifPutLine(gif, index + size_t(y) * b->width, int(b->width)) == GIF_OK;
            if (EGifCloseFile(gif, &err) == GIF_ERROR) ok = false;
        }
        GifFreeMapObject(map);
    }
    std::free(index);
    return finish(&o, ok, out);
}

} // namespace zyl::imaging
