// services/image_buffer.h: a growing byte buffer on the C heap for the encoders, written from
// inside the codec libraries' callbacks, where no C++ exception may pass.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zyl::imaging {

struct out_buffer {
    uint8_t* data;
    size_t size;
    size_t capacity;
    bool failed;
};

// Appends [n] bytes; on a failed allocation sets [failed] and keeps what it has.
inline bool put(out_buffer* o, const void* p, size_t n) {
    if (o->failed) return false;
    if (o->size + n > o->capacity) {
        size_t cap = o->capacity ? o->capacity * 2 : 4096;
        while (cap < o->size + n) cap *= 2;
        auto* d = static_cast<uint8_t*>(std::realloc(o->data, cap));
        if (!d) {
            o->failed = true;
            return false;
        }
        o->data = d;
        o->capacity = cap;
    }
    std::memcpy(o->data + o->size, p, n);
    o->size += n;
    return true;
}

// Moves the buffer's bytes into [out] and frees it; false when it failed.
inline bool finish(out_buffer* o, bool ok, std::vector<uint8_t>& out) {
    ok = ok && !o->failed;
    if (ok) out.assign(o->data, o->data + o->size);
    std::free(o->data);
    *o = out_buffer{nullptr, 0, 0, false};
    return ok;
}

} // namespace zyl::imaging
