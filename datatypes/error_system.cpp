// datatypes/error_system.cpp: the objects error! reads from the system object: the catalogue
// (system/catalog/errors), made here from the error table of runtime/error_catalogue.inc, and
// the prototype error (system/standard/error); and the collector hook that keeps them.
#include <string>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error_catalogue.h"
#include "runtime/values.h"

namespace zyl::error {

system_links sys{};

namespace {

// {== Internal functions

const char* const field_names[FIELD_COUNT] = {"code", "type", "id",   "arg1",  "arg2",
                                              "arg3", "near", "where", "stack", "files"};

void mark_system() {
    collector::mark_values(&sys.errors, &sys.errors + 1);
    collector::mark_values(&sys.prototype, &sys.prototype + 1);
    if (sys.state) collector::mark_block(sys.state);
}

bool hook_registered() {
    for (uint32_t i = 0; i < collector::gc.hook_count; i++)
        if (collector::gc.hooks[i] == &mark_system) return true;
    return false;
}

// A new object context (kind object) with room for [slots] words; its owner cell holds the
// object! cell answered.
cell new_object(uint32_t slots) {
    node_id ctx = context::make(slots, false, true, 0, context::KIND_OBJECT);
    cell obj{T_object, ctx, 0, 0};
    *context::owner_of(ctx) = obj;
    return obj;
}

// Adds the word [name] with a copy of [value] to object context [ctx].
void add_field(node_id ctx, const char* name, const cell* value) {
    cell w = word::make_value(T_word, 0, symbol::make(name), word::NO_INDEX);
    context::add_word_value(ctx, &w, value);
}

// The text of the Zyl string at [p] in [t] (after its opening quote), its ^ escapes
// decoded; [p] moves past the closing quote.
std::string read_string(std::string_view t, size_t& p) {
    std::string out;
    for (p++; p < t.size() && t[p] != '"'; p++) {
        char c = t[p];
        if (c == '^' && p + 1 < t.size()) {
            c = t[++p];
            c = c == '/' ? '\n' : c == '-' ? '\t' : c;
        }
        out += c;
    }
    p++;
    return out;
}

// Pushes the value of message template [t]: a string!, or a block of strings and get-words.
// The table's templates are checked by its tests, so nothing else occurs.
cell* push_template(std::string_view t) {
    size_t p = t.find_first_of("\"[");
    if (t[p] == '"') return string::from_utf8(stack::push_slot(), read_string(t, p));
    cell* blk = block::push_new(4);
    for (p++; p < t.size(); p++) {
        if (t[p] == '"') {
            cell* s = string::from_utf8(stack::push_slot(), read_string(t, p));
            series::append_value(blk->w2, *s);
            stack::pop(1);
            p--;
        } else if (t[p] == ':') {
            size_t end = t.find_first_of(" ]", p);
            std::string name(t.substr(p + 1, end - p - 1));
            cell w = word::make_value(T_get_word, 0, symbol::make(name.c_str()), word::NO_INDEX);
            series::append_value(blk->w2, w);
            p = end - 1;
        }
    }
    return blk;
}

// Pushes the object of category [cat]: code, type (the title) and its messages.
cell* push_category(int32_t cat) {
    cell* obj = stack::push_slot();
    *obj = new_object(static_cast<uint32_t>(catalogue::field_count(cat)));
    cell code = integer::make_value(cat * 100);
    add_field(obj->w1, "code", &code);
    cell* title = string::from_utf8(stack::push_slot(), catalogue::category_title(cat));
    add_field(obj->w1, "type", title);
    stack::pop(1);
    for (int32_t id = ids::first_message; id < catalogue::field_count(cat); id++) {
        cell* tmpl = push_template(catalogue::message_template(cat, id));
        add_field(obj->w1, catalogue::id_name(cat, id), tmpl);
        stack::pop(1);
    }
    return obj;
}

// }==

} // namespace

void init_system() {
    forget_system();
    // Built aside and linked last: an error raised on the way finds the system not ready.
    cell errors = new_object(ids::category_count);
    collector::keep k_errors{&errors};
    for (int32_t cat = 0; cat < ids::category_count; cat++) {
        cell* obj = push_category(cat);
        add_field(errors.w1, catalogue::category_name(cat), obj);
        stack::pop(1);
    }
    cell prototype = new_object(FIELD_COUNT);
    collector::keep k_prototype{&prototype};
    for (const char* name : field_names) add_field(prototype.w1, name, &none_value);
    collector::add_mark_hook(&mark_system);
    sys = {errors, prototype, 0};
}

void link_system(const cell* errors, const cell* prototype, node_id state) {
    ZYL_ASSERT(ready());
    if (errors) sys.errors = *errors;
    if (prototype) sys.prototype = *prototype;
    sys.state = state;
}

void forget_system() {
    collector::remove_mark_hook(&mark_system);
    sys = {none_value, none_value, 0};
}

bool ready() { return sys.errors.type() == T_object && hook_registered(); }

} // namespace zyl::error
