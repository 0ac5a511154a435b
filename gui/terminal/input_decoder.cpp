// gui/terminal/input_decoder.cpp: the byte-at-a-time machine of the terminal UI's input
// decoder (input_decoder.h): plain text and UTF-8, ESC sequences, control sequences with their
// key table, SGR mouse and cursor-position reports, and the DCS and OSC strings it skips.
#include "gui/terminal/input_decoder.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "datatypes/event.h"
#include "runtime/common.h"

namespace zyl::tui {

// {== Internal functions

namespace {

enum state : uint8_t { GROUND, UTF8, ESC, CSI, SS3, STRING, STRING_ESC };

constexpr uint8_t BYTE_ESC = 27;
constexpr uint8_t BYTE_BEL = 7;
constexpr int32_t REPLACEMENT = 0xFFFD;
constexpr uint16_t PARAM_MAX = 65535;

// What one byte did: whether it made an item and whether it was used (an unused byte is read
// again in the new state).
struct step {
    bool item;
    bool used;
};
constexpr step NOTHING{false, true};
constexpr step MADE{true, true};
constexpr step AGAIN{false, false};
constexpr step MADE_AGAIN{true, false};

void key_item(input_item& out, int32_t key, uint32_t flags) {
    out = input_item{key, flags, 0, 0, ITEM_KEY, false};
}

void special_item(input_item& out, int32_t code, uint32_t modifiers) {
    key_item(out, code, event::FLAG_SPECIAL | modifiers);
}

// The event flags of xterm's modifier parameter [m] (1 + shift 1, alt 2, control 4).
uint32_t modifier_flags(uint32_t m) {
    if (m < 2) return 0;
    uint32_t bits = m - 1, flags = 0;
    if (bits & 1) flags |= event::FLAG_SHIFT;
    if (bits & 2) flags |= event::FLAG_ALT;
    if (bits & 4) flags |= event::FLAG_CONTROL;
    return flags;
}

// The special code of a cursor or editing key letter (ESC [ x and ESC O x), 0 for none.
int32_t letter_key(uint8_t b) {
    switch (b) {
    case 'A': return -20;
    case 'B': return -21;
    case 'C': return -22;
    case 'D': return -23;
    case 'F': return -24;
    case 'H': return -25;
    default: return 0;
    }
}

// The special code of ESC [ n ~, 0 for none (2, insert, and the paste markers among them).
int32_t tilde_key(uint32_t n) {
    switch (n) {
    case 1: case 7: return -25;
    case 3: return -27;
    case 4: case 8: return -24;
    case 5: return -28;
    case 6: return -29;
    case 15: return -35;
    case 17: case 18: case 19: case 20: case 21: return -36 - static_cast<int32_t>(n - 17);
    case 23: return -41;
    case 24: return -42;
    default: return 0;
    }
}

void start_sequence(input_decoder& d, uint8_t next) {
    d.state = next;
    d.nparams = 0;
    d.current = 0;
    d.length = 0;
    d.any_param = d.sgr = d.broken = false;
}

// Stores the parameter being read; a seventeenth breaks the sequence.
void end_param(input_decoder& d) {
    if (d.nparams < CSI_MAX_PARAMS) d.params[d.nparams++] = static_cast<uint16_t>(d.current);
    else d.broken = true;
    d.current = 0;
}

// The item of control sequence [p] ([n] parameters, [sgr] when '<' was seen) with final
// byte [f]; false when it gives none.
[[gnu::always_inline]] inline bool csi_item(const uint16_t* p, uint32_t n, bool sgr, uint8_t f, input_item& out) {
    if ((f == 'M' || f == 'm') && n == 3) {
        uint32_t code = p[0];
        uint32_t mods = ((code >> 2) & 1 ? event::FLAG_SHIFT : 0) | ((code >> 3) & 1 ? event::FLAG_ALT : 0) |
                        (code & 0x10 ? event::FLAG_CONTROL : 0);
        out = input_item{static_cast<int32_t>(code), mods, p[1], p[2], ITEM_MOUSE, f == 'm'};
        return true;
    }
    if (sgr) return false;
    if (f == 'R' && n == 2) {
        out = input_item{0, 0, p[1], p[0], ITEM_CURSOR, false};
        return true;
    }
    if (f == 'Z' && n == 0) {
        key_item(out, 9, event::FLAG_SHIFT);
        return true;
    }
    int32_t code = f == '~' ? (n >= 1 && n <= 2 ? tilde_key(p[0]) : 0)
                            : (n == 0 || (n <= 2 && p[0] <= 1) ? letter_key(f) : 0);
    if (code == 0) return false;
    special_item(out, code, n == 2 ? modifier_flags(p[1]) : 0);
    return true;
}

// The item of the control sequence the machine finished with final byte [f].
bool finish_csi(input_decoder& d, uint8_t f, input_item& out) {
    if (d.any_param) end_param(d);
    if (d.broken) return false;
    return csi_item(d.params, d.nparams, d.sgr, f, out);
}

step on_csi(input_decoder& d, uint8_t b, input_item& out) {
    if (b == BYTE_ESC) { // aborts the sequence and starts the next
        start_sequence(d, ESC);
        return NOTHING;
    }
    if (++d.length > CSI_MAX_BYTES) d.broken = true;
    if (b >= '0' && b <= '9') {
        d.current = d.current * 10 + (b - '0');
        if (d.current > PARAM_MAX) d.current = PARAM_MAX;
        d.any_param = true;
    } else if (b == ';') {
        d.any_param = true;
        end_param(d);
    } else if (b == '<') {
        d.sgr = true;
    } else if (b >= 64 && b <= 126 && b != '[') {
        d.state = GROUND;
        return finish_csi(d, b, out) ? MADE : NOTHING;
    } else if (b >= 0x20) {
        d.broken = true; // private markers, intermediates, sub-parameters: no key of ours
    }
    return NOTHING; // control bytes inside a sequence are ignored
}

step on_ss3(input_decoder& d, uint8_t b, input_item& out) {
    d.state = GROUND;
    if (b == BYTE_ESC) {
        start_sequence(d, ESC);
        return NOTHING;
    }
    int32_t code = b >= 'P' && b <= 'S' ? -31 - (b - 'P') : letter_key(b);
    if (code == 0) return NOTHING;
    special_item(out, code, 0);
    return MADE;
}

step on_escape(input_decoder& d, uint8_t b) {
    switch (b) {
    case '[': start_sequence(d, CSI); return NOTHING;
    case 'O': d.state = SS3; return NOTHING;
    case 'P': case ']':
        start_sequence(d, STRING);
        d.osc = b == ']';
        return NOTHING;
    default: break;
    }
    d.state = GROUND;
    // Another ESC, or a byte of text, is read again: the first ESC gives no key (the key
    // table has none for it) but what follows is not lost.
    if (b == BYTE_ESC || b >= 0x80) return AGAIN;
    return NOTHING;
}

step on_string(input_decoder& d, uint8_t b) {
    if (++d.length > STRING_MAX_BYTES) { // unterminated: give the input back to the user
        d.state = GROUND;
        return AGAIN;
    }
    if (d.state == STRING_ESC) {
        d.state = b == '\\' ? GROUND : STRING;
        return NOTHING;
    }
    if (b == BYTE_ESC) d.state = STRING_ESC;
    else if (b == BYTE_BEL && d.osc) d.state = GROUND;
    return NOTHING;
}

// The first byte of a character; control bytes are keys of their own.
step on_ground(input_decoder& d, uint8_t b, input_item& out) {
    if (b == BYTE_ESC) {
        d.state = ESC;
        return NOTHING;
    }
    if (b < 0x20 || b == 0x7F) {
        if (b == 0) return NOTHING; // key 0 is no key
        key_item(out, b == 8 ? 127 : b == 10 ? 13 : b, 0);
        return MADE;
    }
    if (b < 0x80) {
        key_item(out, b, 0);
        return MADE;
    }
    // Lead bytes and the range their first continuation byte must fall in.
    d.lo = 0x80;
    d.hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        d.need = 1;
        d.cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        d.need = 2;
        d.cp = b & 0x0F;
        if (b == 0xE0) d.lo = 0xA0;  // overlong
        if (b == 0xED) d.hi = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        d.need = 3;
        d.cp = b & 0x07;
        if (b == 0xF0) d.lo = 0x90;  // overlong
        if (b == 0xF4) d.hi = 0x8F;  // above U+10FFFF
    } else {
        key_item(out, REPLACEMENT, 0); // stray continuation, C0, C1, F5-FF
        return MADE;
    }
    d.state = UTF8;
    return NOTHING;
}

step on_utf8(input_decoder& d, uint8_t b, input_item& out) {
    if (b < d.lo || b > d.hi) { // the character ends early: this byte starts afresh
        d.state = GROUND;
        key_item(out, REPLACEMENT, 0);
        return MADE_AGAIN;
    }
    d.cp = (d.cp << 6) | (b & 0x3F);
    d.lo = 0x80;
    d.hi = 0xBF;
    if (--d.need > 0) return NOTHING;
    d.state = GROUND;
    key_item(out, static_cast<int32_t>(d.cp), 0);
    return MADE;
}

step feed_byte(input_decoder& d, uint8_t b, input_item& out) {
    switch (d.state) {
    case GROUND: return on_ground(d, b, out);
    case UTF8: return on_utf8(d, b, out);
    case ESC: return on_escape(d, b);
    case CSI: return on_csi(d, b, out);
    case SS3: return on_ss3(d, b, out);
    default: return on_string(d, b);
    }
}

// A control sequence lying whole in [p, end) (p at its ESC) in the form keys and reports
// take: an optional '<', then decimal parameters split by ';', then the final byte. Parsed at
// once into [out] as the machine would, answering the byte after it; null for anything else
// (not whole, over the length limit, too many parameters, odd bytes), which the machine then
// takes byte by byte.
inline const uint8_t* whole_csi(input_decoder& d, const uint8_t* p, const uint8_t* end, input_item& out,
                                bool& made) {
    const uint8_t* q = p + 2;
    const uint8_t* limit = end - q > CSI_MAX_BYTES ? q + CSI_MAX_BYTES : end;
    bool sgr = q < limit && *q == '<';
    q += sgr;
    uint32_t n = 0;
    bool any = false;
    for (;;) {
        if (q >= limit) return nullptr;
        uint32_t b = *q++, v = 0;
        if (b - '0' < 10) {
            any = true;
            do {
                v = v * 10 + (b - '0');
                if (v > PARAM_MAX) v = PARAM_MAX;
                if (q >= limit) return nullptr;
                b = *q++;
            } while (b - '0' < 10);
        }
        if (b == ';') {
            if (n == CSI_MAX_PARAMS) return nullptr;
            d.params[n++] = static_cast<uint16_t>(v);
            any = true;
            continue;
        }
        if (b < 64 || b > 126 || b == '[') return nullptr;
        if (any) {
            if (n == CSI_MAX_PARAMS) return nullptr;
            d.params[n++] = static_cast<uint16_t>(v);
        }
        made = csi_item(d.params, n, sgr, static_cast<uint8_t>(b), out);
        return q;
    }
}

#if defined(__SSE2__)
constexpr ptrdiff_t SHORT_CSI_READ = 19; // bytes short_csi may read from its ESC

// whole_csi for a sequence whose parameters end within sixteen bytes, as keys and reports
// nearly always do (p at its ESC, SHORT_CSI_READ bytes readable). One load shows that a byte
// other than a digit or ';' comes within them, so the parse runs without a bound check a byte
// and its parameters, of at most fifteen digits, cannot overflow before they saturate. Null
// for anything else, which whole_csi then takes.
inline const uint8_t* short_csi(input_decoder& d, const uint8_t* p, input_item& out, bool& made) {
    const uint8_t* q = p + 2;
    bool sgr = *q == '<';
    q += sgr;
    // A byte outside '0' to ';' must come: it lies more than 11 above '0', wrapping round.
    __m128i v = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), _mm_set1_epi8('0'));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(';' - '0')), v)) == 0xFFFF) return nullptr;
    const uint8_t* first = q;
    uint32_t n = 0, b = *q++;
    uint64_t value = 0;
    for (;;) {
        if (b - '0' < 10) {
            value = value * 10 + (b - '0');
        } else if (b == ';') {
            d.params[n++] = static_cast<uint16_t>(value > PARAM_MAX ? PARAM_MAX : value);
            value = 0;
        } else {
            break;
        }
        b = *q++;
    }
    if (b < 64 || b > 126 || b == '[') return nullptr;
    if (q - 1 != first) d.params[n++] = static_cast<uint16_t>(value > PARAM_MAX ? PARAM_MAX : value);
    made = csi_item(d.params, n, sgr, static_cast<uint8_t>(b), out);
    return q;
}
#endif

// The length of the whole, valid UTF-8 character of two to four bytes at [p], 0 for none.
inline size_t whole_char(const uint8_t* p, const uint8_t* end) {
    uint8_t b = p[0];
    size_t left = size_t(end - p);
    if (b >= 0xC2 && b <= 0xDF) return left >= 2 && (p[1] & 0xC0) == 0x80 ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF)
        return left >= 3 && p[1] >= (b == 0xE0 ? 0xA0 : 0x80) && p[1] <= (b == 0xED ? 0x9F : 0xBF) &&
                       (p[2] & 0xC0) == 0x80
                   ? 3
                   : 0;
    if (b >= 0xF0 && b <= 0xF4)
        return left >= 4 && p[1] >= (b == 0xF0 ? 0x90 : 0x80) && p[1] <= (b == 0xF4 ? 0x8F : 0xBF) &&
                       (p[2] & 0xC0) == 0x80 && (p[3] & 0xC0) == 0x80
                   ? 4
                   : 0;
    return 0;
}

inline bool is_ascii_text(uint32_t b) { return b - 0x20u < 0x5Fu; }

// The end of the run of text at [p]: printable ASCII and whole valid UTF-8 characters. Blocks
// of sixteen ASCII bytes are passed in a step where SSE2 is; a block holding other bytes is
// walked a character at a time, so text mixing scripts doesn't restart the wide scan at each
// change.
inline const uint8_t* text_end(const uint8_t* p, const uint8_t* end) {
    for (;;) {
#if defined(__SSE2__)
        const __m128i below = _mm_set1_epi8(0x1F), del = _mm_set1_epi8(0x7F);
        while (end - p >= 16) {
            // Signed compares: bytes of 0x80 up are negative, so "above 0x1F and not 0x7F" is ASCII text.
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i text = _mm_andnot_si128(_mm_cmpeq_epi8(v, del), _mm_cmpgt_epi8(v, below));
            unsigned other = ~unsigned(_mm_movemask_epi8(text)) & 0xFFFFu;
            if (other) {
                p += __builtin_ctz(other);
                break;
            }
            p += 16;
        }
#endif
        const uint8_t* stop = end - p > 16 ? p + 16 : end;
        while (p < stop) {
            uint32_t b = *p;
            if (is_ascii_text(b)) {
                p++;
                continue;
            }
            if (b < 0x80) return p;
            size_t n = whole_char(p, end);
            if (n == 0) return p;
            p += n;
        }
        if (p >= end) return p;
    }
}

// Decodes runs of text, control keys and whole control sequences from the read index into at
// most [room] items, without the byte-at-a-time machine; stops at anything else (left to
// feed_byte).
size_t decode_text(input_decoder& d, input_item* out, size_t room) {
    const uint8_t* p = d.buf + d.head;
    const uint8_t* end = d.buf + d.count;
    size_t k = 0;
    while (k < room && p < end) {
        uint32_t b = *p;
        if (b == BYTE_ESC) {
            bool made = false;
            const uint8_t* next = nullptr;
#if defined(__SSE2__)
            if (end - p >= SHORT_CSI_READ) {
                if (p[1] != '[') break;
                next = short_csi(d, p, out[k], made);
            }
            if (!next)
#endif
            {
                if (end - p < 3 || p[1] != '[') break;
                next = whole_csi(d, p, end, out[k], made);
            }
            if (!next) break;
            p = next;
            k += made;
            continue;
        }
        if (b < 0x20 || b == 0x7F) {
            if (b != 0) key_item(out[k++], b == 8 ? 127 : b == 10 ? 13 : static_cast<int32_t>(b), 0);
            p++;
            continue;
        }
        // A run's length must fit its item; a character cut by the limit starts the next run.
        constexpr size_t RUN_MAX = size_t(1) << 31;
        const uint8_t* run = text_end(p, size_t(end - p) > RUN_MAX ? p + RUN_MAX : end);
        if (run == p) break; // a partial or invalid character: the machine's
        input_item& o = out[k++];
        o = input_item{0, 0, 0, 0, ITEM_TEXT, false};
        o.length = static_cast<uint32_t>(run - p);
        o.text = p;
        p = run;
    }
    d.head = static_cast<size_t>(p - d.buf);
    return k;
}

// Room for [n] more bytes behind those not decoded yet, moving them to the front first.
void make_room(input_decoder& d, size_t n) {
    if (d.head > 0) {
        std::memmove(d.buf, d.buf + d.head, d.count - d.head);
        d.count -= d.head;
        d.head = 0;
    }
    if (d.count + n <= d.capacity) return;
    size_t cap = d.capacity ? d.capacity : 4096;
    while (cap < d.count + n) cap *= 2;
    auto* grown = static_cast<uint8_t*>(std::realloc(d.buf, cap));
    if (!grown) runtime_error(RT_OUT_OF_MEMORY);
    d.buf = grown;
    d.capacity = cap;
}

} // namespace

// }==
// {== Interface

void input_reset(input_decoder& d) {
    std::free(d.buf);
    d = input_decoder{};
}

void input_feed(input_decoder& d, const uint8_t* p, size_t n) {
    if (n == 0) return;
    make_room(d, n);
    std::memcpy(d.buf + d.count, p, n);
    d.count += n;
}

size_t input_decode(input_decoder& d, input_item* out, size_t cap) {
    size_t made = 0;
    while (made < cap && d.head < d.count) {
        if (d.state == GROUND) { // text and whole sequences, the common case
            size_t from = d.head;
            made += decode_text(d, out + made, cap - made);
            if (d.head != from) continue;
        }
        step s = feed_byte(d, d.buf[d.head], out[made]);
        if (s.used) d.head++;
        if (s.item) made++;
    }
    if (d.head == d.count) d.head = d.count = 0;
    return made;
}

bool input_partial(const input_decoder& d) { return d.state != GROUND; }

bool input_expire(input_decoder& d, input_item& out) {
    uint8_t was = d.state;
    d.state = GROUND;
    if (was == ESC) key_item(out, 27, 0);
    else if (was == UTF8) key_item(out, REPLACEMENT, 0);
    else return false;
    return true;
}

// }==

} // namespace zyl::tui
