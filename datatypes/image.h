// datatypes/image.h: image!, a rectangular bitmap of 32-bit pixels that behaves as a series of
// pixels (read and written as R.G.B.T tuples, T = 255 - alpha).
//
// Cell: header type 53 (IMAGE_OWNED when an object field owns it); word 1 the head index
// (0-based pixel, row-major from the top left); word 2 the node of the image handle, 0 when
// the image has a zero side and so no pixels; word 3 the size, height << 16 | width.
//
// The handle is a small collected byte series (flags, the external-resource entry's index
// and generation, the size); the pixels are a bitmap of services/image.h on the C heap,
// owned by that entry (kind "image"), freed by the first collection that marks no image of
// the handle, or at once by `free_pixels`. A handle whose entry is gone raises access
// bad-media rather than reach freed memory.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"
#include "services/image.h"

namespace zyl::image {

enum channel : int32_t { ALPHA = 0, RGB = 1, ARGB = 2 };

inline uint32_t width_of(const cell* c) { return c->w3 & 0xFFFF; }
inline uint32_t height_of(const cell* c) { return c->w3 >> 16; }
inline uint32_t pixel_count(const cell* c) { return width_of(c) * height_of(c); }

// A new handle owning [b] (which it takes over). May allocate.
node_id handle_new(imaging::bitmap* b);
// Writes an image! cell with head 0 and the size read from [handle] (0: a 0x0 image).
cell* make_at(cell* c, node_id handle);
// The bitmap of [c]: null when it has no pixels; raises access bad-media when freed.
imaging::bitmap* bitmap_of(const cell* c);
// Frees the pixels of [c]'s handle now; later use of any image of it raises bad-media.
void free_pixels(const cell* c);
// The external-resource entry of [handle], for the collector's visit.
int32_t entry_of(node_id handle);

// Pushes a new binary! of [c]'s pixels in [ch] (1, 3 or 4 bytes a pixel).
cell* extract_channels(const cell* c, int32_t ch);
// Writes [value] (binary!, tuple! or integer!) into channel [ch] of [c]; another type raises
// script invalid-arg with it.
void set_channels(const cell* c, const cell* value, int32_t ch);

// Pushes the image decoded from binary [data], or none when its bytes are of no known
// format; recognised bytes that fail raise access bad-media.
cell* decode_binary(const cell* data);
// A binary! goes to decode_binary; a file is read and decoded (access cannot-open when that
// fails).
cell* load_value(const cell* value);
// The encoding of [c] in [fmt] into [result] (pushed when null); bad-media for an image with
// a zero side, invalid-arg for an unknown format.
cell* encode(const cell* c, cell* result, int32_t fmt);

// Pushes a new image of [c] scaled to [width] x [height] (nearest neighbour); a zero side, or
// an image without pixels, gives an image without pixels; a side above 65535 raises
// internal no-memory.
cell* push_scaled(const cell* c, uint32_t width, uint32_t height);


void init(); // image!: the backend's resource kind, the datatype, its loop steps and routines

} // namespace zyl::image
