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
#include "library/json_text.h"
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

// data, compact?: the value's Zylbin stream as a binary!, in the compact or the fixed layout.
void zylbin_encode() {
    bool compact = stack::arg(1)->type() == T_logic && stack::arg(1)->w1 != 0;
    cell* out = zylbin::encode_push(stack::arg(0), compact ? zylbin::LAYOUT_COMPACT : zylbin::LAYOUT_FIXED);
    *stack::arg(0) = *out;
    stack::pop(1);
}

// str: resolves JSON escapes in place from the string's index (the JSON decoder's own
// unescaping); invalid-data when an escape is malformed.
void unescape() {
    cell s = *stack::arg(0);
    if (!json_text::unescape(&s)) invalid_data(&s);
}

} // namespace zyl::routines
