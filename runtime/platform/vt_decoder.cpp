// runtime/platform/vt_decoder.cpp: the byte-by-byte state machine of the terminal decoder.
#include "runtime/platform/vt_decoder.h"

namespace zyl::vt {
namespace {

constexpr uint8_t ESC = 0x1B;
constexpr int32_t REPLACEMENT = 0xFFFD;

void reset(decoder& d) {
    d.count = 0;
    d.need = 0;
    d.overlong = false;
}

// The first number of a CSI parameter string, or -1 when there is none.
int32_t first_param(const uint8_t* p, uint32_t n) {
    int32_t v = -1;
    for (uint32_t i = 0; i < n && p[i] >= '0' && p[i] <= '9'; i++) {
        v = (v < 0 ? 0 : v) * 10 + (p[i] - '0');
        if (v > 100000) v = 100000; // a huge number names no key either
    }
    return v;
}

int32_t letter_key(uint8_t final) {
    switch (final) {
    case 'A': return KEY_UP;
    case 'B': return KEY_DOWN;
    case 'C': return KEY_RIGHT;
    case 'D': return KEY_LEFT;
    case 'H': return KEY_HOME;
    case 'F': return KEY_END;
    default: return KEY_NONE;
    }
}

// The key of the complete CSI sequence in pending (ESC [ params final).
int32_t csi_key(const decoder& d) {
    const uint8_t* params = d.pending + 2;
    uint32_t n = d.count - 3;
    uint8_t final = d.pending[d.count - 1];
    for (uint32_t i = 0; i < n; i++) // private markers and intermediates: not a key of ours
        if (!((params[i] >= '0' && params[i] <= '9') || params[i] == ';')) return KEY_NONE;
    if (final != '~') return letter_key(final);
    switch (first_param(params, n)) {
    case 1: case 7: return KEY_HOME;
    case 4: case 8: return KEY_END;
    case 2: return KEY_INSERT;
    case 3: return KEY_DELETE;
    case 5: return KEY_PAGE_UP;
    case 6: return KEY_PAGE_DOWN;
    case 200: return KEY_PASTE_BEGIN;
    case 201: return KEY_PASTE_END;
    default: return KEY_NONE;
    }
}

int32_t utf8_value(const decoder& d) {
    uint32_t cp = d.pending[0] & (0x7F >> d.need);
    for (uint32_t i = 1; i < d.count; i++) cp = (cp << 6) | (d.pending[i] & 0x3F);
    return static_cast<int32_t>(cp);
}

// Whether [b] may follow the bytes pending in a UTF-8 sequence (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool continues(const decoder& d, uint8_t b) {
    if ((b & 0xC0) != 0x80) return false;
    if (d.count != 1) return true;
    switch (d.pending[0]) {
    case 0xE0: return b >= 0xA0;
    case 0xED: return b < 0xA0;
    case 0xF0: return b >= 0x90;
    case 0xF4: return b < 0x90;
    default: return true;
    }
}

void plain_byte(decoder& d, uint8_t b, sink out, void* ctx) {
    bool cr = b == '\r';
    if (b == '\n' && d.after_cr) {
        d.after_cr = false;
        return;
    }
    d.after_cr = cr;
    if (b == ESC) {
        d.pending[0] = b;
        d.count = 1;
        return;
    }
    if (b < 0x80) {
        out(ctx, b == '\n' || b == '\r' ? int32_t{KEY_ENTER} : int32_t{b});
        return;
    }
    uint32_t need = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (need == 0) {
        out(ctx, REPLACEMENT);
        return;
    }
    d.pending[0] = b;
    d.count = 1;
    d.need = need;
}

void feed_byte(decoder& d, uint8_t b, sink out, void* ctx) {
    if (d.count == 0) {
        plain_byte(d, b, out, ctx);
        return;
    }
    if (d.need != 0) { // inside a UTF-8 sequence
        if (!continues(d, b)) {
            reset(d);
            out(ctx, REPLACEMENT);
            plain_byte(d, b, out, ctx);
            return;
        }
        d.pending[d.count++] = b;
        if (d.count == d.need) {
            int32_t cp = utf8_value(d);
            reset(d);
            out(ctx, cp);
        }
        return;
    }
    d.after_cr = false;
    if (d.count == 1) { // after ESC
        if (b == '[' || b == 'O') {
            d.pending[d.count++] = b;
        } else if (b == ESC) {
            out(ctx, KEY_ESCAPE); // the first ESC stood alone; the second may start a sequence
        } else {
            reset(d); // an Alt key: nothing of ours
            out(ctx, KEY_NONE);
        }
        return;
    }
    if (d.pending[1] == 'O') { // SS3: one final byte
        reset(d);
        out(ctx, letter_key(b));
        return;
    }
    if (b >= 0x40 && b <= 0x7E) { // CSI final byte
        int32_t k = KEY_NONE;
        if (!d.overlong) {
            d.pending[d.count++] = b;
            k = csi_key(d);
        }
        reset(d);
        out(ctx, k);
        return;
    }
    if (b >= 0x20 && b <= 0x3F) { // parameter or intermediate byte
        if (d.count + 1 < sizeof d.pending) d.pending[d.count++] = b;
        else d.overlong = true;
        return;
    }
    reset(d); // a byte that cannot be in a CSI sequence ends it
    out(ctx, KEY_NONE);
    plain_byte(d, b, out, ctx);
}

} // namespace

void feed(decoder& d, const uint8_t* p, size_t n, sink out, void* ctx) {
    for (size_t i = 0; i < n; i++) feed_byte(d, p[i], out, ctx);
}

bool lone_escape(const decoder& d) { return d.count == 1 && d.need == 0 && d.pending[0] == ESC; }

void flush_escape(decoder& d, sink out, void* ctx) {
    if (!lone_escape(d)) return;
    reset(d);
    out(ctx, KEY_ESCAPE);
}

} // namespace zyl::vt
