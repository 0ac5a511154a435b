// lexer/words.cpp: what word! reads through the lexer: the datatype a name scans as, and the
// one value a text loads to (its seams word::scan_type and word::load_value).
#include "datatypes/core.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "lexer/lexer.h"
#include "runtime/memory.h"

namespace zyl::lexer {

namespace {

bool go_on(void*, event&) { return true; }

// The datatype of the one token [name] scans as, 0 when it is not exactly one token. A scan
// that does not load allocates nothing, so [name] may lie in a series buffer.
uint8_t scan_type_of(const uint8_t* name, uint32_t length) {
    options o;
    o.load = false;
    o.output = false;
    o.one_value = true;
    int64_t used = 0;
    cell unused;
    int32_t t = scan(&unused, name, length, o, &used);
    if (t <= 0 || t == T_error || used != int64_t(length)) return 0;
    if (t != T_word) return static_cast<uint8_t>(t);
    // The scan reports the word family as word!; the punctuation tells the kind.
    if (name[0] == ':') return T_get_word;
    if (name[0] == '\'') return T_lit_word;
    if (length > 1 && name[length - 1] == ':') return T_set_word;
    return T_word;
}

// Into [out] the one value that the text of [text] loads to; none when it holds more, none,
// or text that does not load (checked quietly first, so nothing is raised).
cell* load_value_of(const cell* text, cell* out) {
    callback quiet{&go_on, nullptr, 0, none_value};
    options check;
    check.load = false;
    check.events = &quiet;
    cell* r = stack::push(&none_value); // roots the loaded block
    int32_t t = scan_string(r, text, -1, check);
    bool one = false;
    if (t != T_error && r->type() == T_block) {
        scan_string(r, text, -1, {});
        one = series::length(r->w2) - r->w1 == 1;
    }
    *out = one ? *reinterpret_cast<const cell*>(memory::buffer_of(r->w2)->head) : none_value;
    stack::pop(1);
    return out;
}

} // namespace

void install_word_seams() {
    word::scan_type = &scan_type_of;
    word::load_value = &load_value_of;
}

} // namespace zyl::lexer
