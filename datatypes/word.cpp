// datatypes/word.cpp: word!, set-word!, lit-word!, get-word! and refinement!: making,
// reading and assigning words, their sigils, comparison and registration.
#include "datatypes/word.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "datatypes/action_types.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "runtime/unicode_text.h"
#include "runtime/words.h"

namespace zyl::word {

// {== Internal functions

namespace {

[[noreturn]] void raise_bad_to_arg(uint8_t type, const cell* spec) {
    cell target = datatype::make_value(type);
    cell s = *spec;
    error::raise(error::cat_script, error::script_bad_to_arg, &target, &s);
}

// The UTF-8 text of a string value from its index, copied out of the collected memory.
struct utf8_copy {
    uint8_t small[256];
    std::vector<uint8_t> large;
    uint8_t* data = small;
    uint32_t length = 0;

    explicit utf8_copy(const cell* s) {
        unicode::text::range r = unicode::text::range_of(s, -1);
        uint64_t size = unicode::utf8_size_of_range(r.start, r.end, r.unit);
        if (size > sizeof small) {
            large.resize(size);
            data = large.data();
        }
        length = static_cast<uint32_t>(unicode::write_utf8(s, data, -1, false));
    }
};

// {== The stand-in scanner of the word forms (until the lexer sets the seams)

inline bool is_digit(uint8_t b) { return b >= '0' && b <= '9'; }

// Whether [b] may stand in a word: not a blank, a control, a bracket, nor a character that
// starts or separates other tokens.
inline bool is_word_byte(uint8_t b) {
    if (b >= 0x80) return true; // UTF-8 sequences
    if (b <= ' ' || b == 0x7F) return false;
    return std::strchr("[](){}\";:/@#$%,\\^'", b) == nullptr;
}

// Whether [p, p + n) is a word's name: word bytes only, not starting like a number.
bool is_word_name(const uint8_t* p, uint32_t n, bool digits_first) {
    if (n == 0) return false;
    if (!digits_first) {
        if (is_digit(p[0])) return false;
        if ((p[0] == '+' || p[0] == '-' || p[0] == '.') && n > 1 && is_digit(p[1])) return false;
    }
    for (uint32_t i = 0; i < n; i++)
        if (!is_word_byte(p[i])) return false;
    return true;
}

struct word_token {
    uint8_t type;   // 0 when the text is not one token of the word family
    uint32_t start; // the name, within the text
    uint32_t length;
};

word_token scan_word_token(const uint8_t* p, uint32_t n) {
    if (n == 0) return {0, 0, 0};
    uint32_t slashes = 0;
    while (slashes < n && p[slashes] == '/') slashes++;
    if (slashes == n) return {T_word, 0, n}; // / and // are words
    uint8_t type = T_word;
    uint32_t start = 0, length = n;
    switch (p[0]) {
    case '\'': type = T_lit_word; break;
    case ':': type = T_get_word; break;
    case '/': type = T_refinement; break;
    case '#': type = T_issue; break;
    default:
        if (n > 1 && p[n - 1] == ':') {
            type = T_set_word;
            length = n - 1;
        }
    }
    if (type != T_word && type != T_set_word) {
        start = 1;
        length = n - 1;
    }
    bool digits_first = type == T_refinement || type == T_issue;
    if (!is_word_name(p + start, length, digits_first)) return {0, 0, 0};
    return {type, start, length};
}

uint8_t scan_type_stand_in(const uint8_t* name, uint32_t length) {
    return scan_word_token(name, length).type;
}

cell* load_value_stand_in(const cell* text, cell* out) {
    utf8_copy u(text);
    word_token t = scan_word_token(u.data, u.length);
    if (t.type == 0) return &(*out = none_value);
    uint32_t symbol = symbol::make_from_text(u.data + t.start, t.length);
    cell w = t.type == T_issue ? make_value(T_issue, context::global(), symbol, NO_INDEX)
                               : context::add_global_word(symbol, true, true);
    w.header = t.type;
    return &(*out = w);
}

// }==

// A word loaded from the text of string [text]: any any-word value; else invalid-chars.
cell from_text(const cell* text) {
    cell v = none_value;
    load_value(text, &v);
    if (!any_word_type_q(v.type())) error::raise(error::cat_script, error::script_invalid_chars);
    return v;
}

cell from_char(uint32_t cp) {
    cell* saved_top = es.top;
    cell* s = string::push_new(1); // on the stack: kept while the lexer reads it
    string::append_char(s->w2, cp);
    cell text = *s;
    cell w = from_text(&text);
    es.top = saved_top;
    return w;
}

// A refinement! or issue! [spec] as a word: its name must scan as a word; it is bound to the
// global context when that has its symbol.
cell from_name(const cell* spec, uint8_t type) {
    uint8_t t = lex_type(spec);
    if (t != T_word && t != T_set_word && t != T_get_word && t != T_lit_word)
        raise_bad_to_arg(type, spec);
    cell w = *spec;
    context::bind_word(context::global(), &w);
    return w;
}

// The word named by datatype [t]: the registry's name word once made, else the name loaded.
cell datatype_word(uint8_t t) {
    const datatype::name_entry& e = datatype::entry_of(t);
    return e.word.type() == T_unset ? load(e.name) : e.word;
}

inline bool is_word_lit_pair(uint8_t a, uint8_t b) {
    return (a == T_word && b == T_lit_word) || (a == T_lit_word && b == T_word);
}

inline bool same_canonical(const cell* a, const cell* b) {
    return symbol::resolve(a->w2) == symbol::resolve(b->w2);
}

// The orderings: the two names compared as text.
int32_t compare_names(uint32_t a, uint32_t b, int32_t op) {
    cell na{T_string, 0, symbol::name_string(a)->w2, 0};
    cell nb{T_string, 0, symbol::name_string(b)->w2, 0}; // node ids stay put when buffers move
    return string::compare_values(&na, &nb, op, false);
}

} // namespace

load_value_fn load_value = &load_value_stand_in;
scan_type_fn scan_type = &scan_type_stand_in;

// }==
// {== Making words

cell load(const char* name) { return context::add_global_word(symbol::make(name), true, true); }

cell make_global(uint32_t symbol) { return context::add_global_word(symbol, false, false); }

cell* make_at_global(uint32_t symbol, cell* target) {
    cell w = make_global(symbol);
    target->header = (target->header & ~CELL_TYPE_MASK) | T_word;
    target->w1 = w.w1;
    target->w2 = w.w2;
    target->w3 = w.w3;
    return target;
}

cell* push_global(uint32_t symbol) {
    cell w = make_global(symbol);
    return stack::push(&w);
}

cell* set_result_global(uint32_t symbol) {
    cell w = make_global(symbol);
    return &(*es.base = w);
}

// }==
// {== Pushing, reading and assigning

cell* push_from_context(node_id ctx, uint32_t index) {
    cell w = *context::word_at(ctx, index);
    return stack::push(&w);
}

cell* push_value(const cell* w) {
    cell v = *get_value(w);
    if (ZYL_UNLIKELY(v.type() == T_unset)) {
        cell name = *w;
        error::raise(error::cat_script, error::script_no_value, &name);
    }
    return stack::push(&v);
}

cell* push_value_unchecked(const cell* w) {
    cell v = *get_value(w);
    return stack::push(&v);
}

void raise_need_value(const cell* w) {
    cell name = *w;
    error::raise(error::cat_script, error::script_need_value, &name);
}

cell* copy_arg_checked(cell* target) {
    if (es.base->type() == T_unset) {
        cell t = *target;
        error::raise(error::cat_script, error::script_need_value, &t);
    }
    return &(*target = *es.base);
}

cell* push_name(const cell* w) {
    cell s{T_string, 0, symbol::name_string(w->w2)->w2, 0};
    return stack::push(&s);
}

cell* symbol_entry(const cell* w) { return symbol::entry(w->w2); }

uint8_t lex_type(const cell* w) {
    series_buffer* b = memory::buffer_of(symbol::entry_cell(w->w2)->w3);
    std::vector<uint8_t> name(b->head, b->tail); // the scan may allocate: the bytes may move
    return scan_type(name.data(), static_cast<uint32_t>(name.size()));
}

// }==
// {== Action entries

cell* make(cell* proto, cell* spec, uint8_t type) {
    cell r;
    switch (spec->type()) {
    case T_word:
    case T_set_word:
    case T_lit_word:
    case T_get_word: r = *spec; break;
    case T_refinement:
    case T_issue: r = from_name(spec, type); break;
    case T_string: r = from_text(spec); break;
    case T_char_: r = from_char(spec->w2); break;
    case T_datatype: r = datatype_word(static_cast<uint8_t>(spec->w1)); break;
    case T_logic: r = make_global(spec->w1 ? words::sym.true_ : words::sym.false_); break;
    default: raise_bad_to_arg(type, spec);
    }
    r.header = type; // the whole header: flags cleared
    return &(*proto = r);
}

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) {
    cell name{T_string, 0, symbol::name_string(value->w2)->w2, 0};
    return string::form(&name, buffer, arg, part);
}

int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part,
             int32_t) {
    return form(value, buffer, arg, part);
}

int32_t compare(const cell* a, const cell* b, int32_t op) {
    uint8_t ta = a->type(), tb = b->type();
    if ((tb == T_issue && ta != T_issue) || !any_word_type_q(tb)) return -2;
    switch (op) {
    case 0:
    case 1:
    case 12: return same_canonical(a, b) ? 0 : 1;
    case 2: return ta == tb && a->w2 == b->w2 ? 0 : 1;
    case 9: return ta == tb && a->w2 == b->w2 && a->w1 == b->w1 ? 0 : 1;
    case 10:
        if (is_word_lit_pair(ta, tb)) return a->w2 == b->w2 ? 0 : 1;
        return ta == tb && a->w2 == b->w2 ? 0 : 1;
    case 11:
        if (is_word_lit_pair(ta, tb)) return same_canonical(a, b) ? 0 : 1;
        return ta == tb && same_canonical(a, b) ? 0 : 1;
    default: return compare_names(a->w2, b->w2, op);
    }
}

void index_q() {
    cell* w = es.base;
    if (static_cast<int32_t>(w->w3) < 0) {
        *w = none_value;
    } else {
        *w = integer::make_value(static_cast<int32_t>(w->w3) + 1);
    }
}

// }==
// {== Registration

namespace detail {

// Appends the sigil [s] to [buffer]; answers [part] less one.
int32_t sigil(cell* buffer, char s, int32_t part) {
    string::append_char(buffer->w2, static_cast<uint8_t>(s));
    return part - 1;
}

// The row of a variant: its own mold; make, to, form, compare and (unless refinement!)
// index? inherited from word!.
void register_variant(uint8_t type, const char* name, actions::mold_fn own_mold, bool has_index) {
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = ZYL_INHERIT;
    e[A_to - 1] = ZYL_INHERIT;
    e[A_form - 1] = ZYL_INHERIT;
    e[A_mold - 1] = datatype::entry(own_mold);
    e[A_compare - 1] = ZYL_INHERIT;
    if (has_index) e[A_index_q - 1] = ZYL_INHERIT;
    datatype::register_type(ACTION_SLOTS + 3, type, T_word, name, e);
}

} // namespace detail

void init() {
    using datatype::entry;
    action_fn e[ACTION_SLOTS] = {};
    e[A_make - 1] = entry(&make);
    e[A_to - 1] = entry(&make);
    e[A_form - 1] = entry(&form);
    e[A_mold - 1] = entry(&mold);
    e[A_compare - 1] = entry(&compare);
    e[A_index_q - 1] = entry(&index_q);
    datatype::register_type(ACTION_SLOTS + 3, T_word, T_symbol, "word!", e);
}

// }==

} // namespace zyl::word

// {== The variants

namespace zyl {

namespace {

template <uint8_t T> cell retyped(cell w) {
    cells::set_type(&w, T);
    return w;
}

template <uint8_t T> cell* push_as(const cell* w) {
    cell* c = word::push(w);
    cells::set_type(c, T);
    return c;
}

template <uint8_t T> cell* push_from_context_as(node_id ctx, uint32_t index) {
    cell* c = word::push_from_context(ctx, index);
    cells::set_type(c, T);
    return c;
}

// Frame cell 0 the word, cell 1 the value: set without the unset test; the value is the result.
cell* set_arg() {
    word::set_value(stack::arg(0), stack::arg(1));
    return &(*es.base = *stack::arg(1));
}

cell* get_to_result(const cell* w) {
    cell v = *word::get_value(w);
    return &(*es.base = v);
}

} // namespace

namespace lit_word {
cell load_global(const char* name) { return retyped<T_lit_word>(word::load(name)); }
cell* push(const cell* w) { return push_as<T_lit_word>(w); }
cell* push_from_context(node_id ctx, uint32_t index) {
    return push_from_context_as<T_lit_word>(ctx, index);
}
cell* set() { return set_arg(); }
cell* get(const cell* w) { return get_to_result(w); }
int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part,
             int32_t) {
    return word::form(value, buffer, arg, word::detail::sigil(buffer, '\'', part));
}
void init() { word::detail::register_variant(T_lit_word, "lit-word!", &mold, true); }
} // namespace lit_word

namespace set_word {
cell load_global(const char* name) { return retyped<T_set_word>(word::load(name)); }
cell* push(const cell* w) { return push_as<T_set_word>(w); }
cell* push_from_context(node_id ctx, uint32_t index) {
    return push_from_context_as<T_set_word>(ctx, index);
}
cell* set() { return set_arg(); }
cell* get(const cell* w) { return get_to_result(w); }
int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part,
             int32_t) {
    return word::detail::sigil(buffer, ':', word::form(value, buffer, arg, part));
}
void init() { word::detail::register_variant(T_set_word, "set-word!", &mold, true); }
} // namespace set_word

namespace get_word {
cell load_global(const char* name) { return retyped<T_get_word>(word::load(name)); }
cell* push(const cell* w) { return push_as<T_get_word>(w); }
cell* push_from_context(node_id ctx, uint32_t index) {
    return push_from_context_as<T_get_word>(ctx, index);
}
cell* set() { return set_arg(); }
cell* push_value(const cell* w) { return word::push_value_unchecked(w); }
int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part,
             int32_t) {
    return word::form(value, buffer, arg, word::detail::sigil(buffer, ':', part));
}
void init() { word::detail::register_variant(T_get_word, "get-word!", &mold, true); }
} // namespace get_word

namespace refinement {
cell load(const char* name) {
    return word::make_value(T_refinement, 0, symbol::make(name), word::NO_INDEX);
}
cell* push(const cell* w) { return push_as<T_refinement>(w); }
cell* push_from_context(node_id ctx, uint32_t index) {
    return push_from_context_as<T_refinement>(ctx, index);
}
cell* set() { return set_arg(); }
cell* get(const cell* w) { return get_to_result(w); }
int32_t mold(const cell* value, cell* buffer, bool, bool, bool, const cell* arg, int32_t part,
             int32_t) {
    return word::form(value, buffer, arg, word::detail::sigil(buffer, '/', part));
}
void init() { word::detail::register_variant(T_refinement, "refinement!", &mold, false); }
} // namespace refinement

} // namespace zyl

// }==
