// library/codec_routines.cpp: the routines behind the codec objects of system/codecs that are
// not image codecs (the Zylbin codec's decode and encode*) and the JSON decoder's unescape.
#include <vector>

#include "boot/zylbin.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "library/routines.h"
#include "runtime/error.h"
#include "services/files.h"

namespace zyl::routines {

namespace {

[[noreturn]] void invalid_data(const cell* value) {
    error::raise(error::cat_script, error::script_invalid_data, value);
}

// Reads url [source] as binary through the global read action (/binary is its sixth slot).
cell* read_url_binary(const cell* source) {
    const cell* read = context::global_value(symbol::make("read"));
    if (!read) invalid_data(source);
    cell fn = *read;
    cell args[6] = {*source, logic::make_value(false), none_value, logic::make_value(false), none_value,
                    logic::make_value(true)};
    return interp::call_with(&fn, args, 6);
}

int32_t hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int32_t(c - '0');
    if (c >= 'a' && c <= 'f') return int32_t(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return int32_t(c - 'A' + 10);
    return -1;
}

} // namespace

// data: the payload (binary!, or a file! or url! read as binary); one value unwrapped.
void zylbin_decode() {
    cell payload = *stack::arg(0);
    cell* data = nullptr;
    if (payload.type() == T_binary) {
        data = stack::arg(0);
    } else if (payload.type() == T_file) {
        cell* out = stack::push_slot();
        *out = none_value;
        data = files::read(&payload, -1, -1, true, false, out);
    } else if (payload.type() == T_url) {
        data = read_url_binary(&payload);
        if (!data) return; // a non-local exit is pending
        if (data->type() != T_binary) invalid_data(&payload);
    } else {
        invalid_data(&payload);
    }
    uint32_t length = binary::rs_length_q(data);
    if (length <= 10) invalid_data(&payload);
    // The decoder allocates as it goes, so it reads a copy of the bytes, not the buffer.
    std::vector<uint8_t> bytes(binary::head_pointer(data), binary::head_pointer(data) + length);
    cell* blk = block::push_new(10);
    zylbin::decode(bytes.data(), bytes.size(), blk->w2, zylbin::MODE_USER, &payload);
    cell result = *blk;
    if (block::rs_length_q(&result) == 1) result = *block::rs_head(&result);
    *stack::arg(0) = result;
}

// data, compact?: the encoders are not part of this build yet.
void zylbin_encode() {
    natives::not_yet_available("zylbin encode");
}

// str: decodes JSON escapes in place from the string's index; the string, cut after the last
// character written. Positions are absolute, so a buffer that widens under a write is read on
// at the same place.
void unescape() {
    cell s = *stack::arg(0);
    node_id n = s.w2;
    uint32_t tail = s.w1 + string::rs_length_q(&s);
    uint32_t r = s.w1, w = s.w1;
    auto unit4 = [&](uint32_t at) -> int32_t {
        if (at + 4 > tail) invalid_data(&s);
        int32_t v = 0;
        for (uint32_t i = 0; i < 4; i++) {
            int32_t d = hex_digit(string::rs_abs_char_at(&s, at + i));
            if (d < 0) invalid_data(&s);
            v = (v << 4) + d;
        }
        return v;
    };
    while (r < tail) {
        uint32_t c = string::rs_abs_char_at(&s, r++);
        if (c == '\\') {
            if (r >= tail) invalid_data(&s); // a final backslash escapes nothing
            uint32_t e = string::rs_abs_char_at(&s, r++);
            switch (e) {
            case '"': case '\\': case '/': c = e; break;
            case 'b': c = 8; break;
            case 'f': c = 12; break;
            case 'n': c = 10; break;
            case 'r': c = 13; break;
            case 't': c = 9; break;
            case 'u': {
                c = uint32_t(unit4(r));
                r += 4;
                if (c >= 0xD800 && c <= 0xDBFF) {
                    if (r + 6 > tail || string::rs_abs_char_at(&s, r) != '\\' ||
                        string::rs_abs_char_at(&s, r + 1) != 'u')
                        invalid_data(&s);
                    uint32_t low = uint32_t(unit4(r + 2));
                    if (low < 0xDC00 || low > 0xDFFF) invalid_data(&s);
                    r += 6;
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                }
                break;
            }
            default: invalid_data(&s); // an escape letter JSON does not know
            }
        }
        string::poke_char(n, w++, c);
    }
    string::truncate(n, w);
}

} // namespace zyl::routines
