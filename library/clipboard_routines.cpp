// library/clipboard_routines.cpp: read-clipboard and write-clipboard, between language values
// and the clipboard service (services/clipboard.h).
#include "library/routines.h"

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/file_url.h"
#include "datatypes/image.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "services/clipboard.h"
#include "services/image.h"

namespace zyl::routines {

namespace {

// {== Internal functions

inline cell element(const cell* b, uint32_t i) {
    return reinterpret_cast<const cell*>(memory::buffer_of(b->w2)->head)[b->w1 + i];
}

cell* push_text(const std::string& utf8) {
    std::string text = unicode::repair_utf8(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
    return string::from_utf8(stack::push_slot(), text);
}

// Pushes the block of file! values that to-zyl-file makes of local [paths]; null when a
// non-local exit left the call.
cell* push_files(const std::vector<std::string>& paths) {
    cell* blk = block::push_new(int32_t(paths.size()) + 1);
    cell w = word::load("to-zyl-file");
    cell fn = *word::push_value(&w);
    stack::pop(1);
    for (const std::string& p : paths) {
        cell* arg = push_text(p);
        cell* r = interp::call_with(&fn, arg, 1);
        if (!r) return nullptr;
        block::append_value(blk, r);
        stack::pop(2);
    }
    return blk;
}

// }==
// {== Routines

} // namespace

void read_clipboard() {
    cell* top = es.top;
    clipboard::content c;
    if (!clipboard::read(c)) {
        stack::set_last(&false_value);
        return;
    }
    cell* r = nullptr;
    switch (c.what) {
    case clipboard::kind::empty: stack::set_last(&none_value); return;
    case clipboard::kind::text: r = push_text(c.text); break;
    case clipboard::kind::files:
        r = push_files(c.files);
        if (!r) return;
        break;
    case clipboard::kind::image: {
        cell* bytes = binary::push_from_buffer(c.image.data(), uint32_t(c.image.size()));
        r = image::decode_binary(bytes);
        break;
    }
    }
    stack::set_last(r);
    es.top = top;
}

// Raises invalid-arg with [v] unless it is a value the clipboard takes; a block must hold only
// files. Nothing is touched before this check.
static void check_value(const cell* v) {
    uint8_t t = v->type();
    if (t == T_none || t == T_string || t == T_image) return;
    if (t != T_block) error::raise(error::cat_script, error::script_invalid_arg, v);
    uint64_t total = series::length(v->w2);
    for (uint32_t i = v->w1; i < total; i++) {
        cell e = element(v, i - v->w1);
        if (e.type() != T_file) error::raise(error::cat_script, error::script_invalid_arg, &e);
    }
}

void write_clipboard() {
    const cell* v = stack::arg(0);
    check_value(v);
    clipboard::content c;
    switch (v->type()) {
    case T_string:
        c.what = clipboard::kind::text;
        c.text = string::utf8_of(v);
        break;
    case T_block: {
        c.what = clipboard::kind::files;
        uint64_t total = series::length(v->w2);
        for (uint32_t i = v->w1; i < total; i++) {
            cell e = element(v, i - v->w1);
            cell* path = string::push_new(64);
            file::to_local_text(&e, path, true);
            c.files.push_back(string::utf8_of(path));
            stack::pop(1);
            if (c.files.back().find('\0') != std::string::npos)
                error::raise(error::cat_script, error::script_invalid_arg, &e);
        }
        break;
    }
    case T_image:
        if (image::pixel_count(v) == 0) break; // a 0x0 image empties the clipboard
        c.what = clipboard::kind::image;
        if (!imaging::encode(image::bitmap_of(v), imaging::PNG, c.image)) {
            stack::set_last(&false_value);
            return;
        }
        break;
    default: break; // none empties it
    }
    cell r = logic::make_value(clipboard::write(c));
    stack::set_last(&r);
}

// }==

} // namespace zyl::routines
