// datatypes/port.cpp: port! make, form and mold, the forwarding of actions to the port's actor,
// read and write composed from the actor's open, copy, insert and close, the prototypes and
// the scheme list, and the registration. Layout: datatypes/port.h.
#include "datatypes/port.h"

#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/values.h"

namespace zyl::port {

system_links sys{};

// {== Internal functions

namespace {

enum field : uint32_t { F_SPEC = 0, F_SCHEME = 1, F_ACTOR = 2 };

const char* const action_words[] = {
#define ZYL_ACTION(slot, ident, word) word,
#include "datatypes/actions.inc"
#undef ZYL_ACTION
};

void mark_system() { collector::mark_values(&sys.port, &sys.schemes + 1); }

// A new object! with the fields [names], each none.
cell new_object(std::initializer_list<const char*> names) {
    cell obj;
    object::make_at(&obj, static_cast<uint32_t>(names.size()));
    collector::keep k_obj(&obj);
    for (const char* name : names) {
        cell w = word::make_value(T_word, 0, symbol::make(name), word::NO_INDEX);
        context::add_word_value(obj.w1, &w, &none_value);
    }
    return obj;
}

inline cell flag(bool b) { return logic::make_value(b); }
inline cell opt(const cell* c) { return c ? *c : none_value; }

// Calls the function of the actor of [port] named by action [slot] with the port and the
// [n] values [args]; answers its result. The actor's function takes what it declares: the
// values fill its arguments in order and the rest are dropped.
cell forward(const cell* port, uint8_t slot, std::initializer_list<cell> args) {
    cell p = *port;
    collector::keep k_port(&p);
    cell actor = *context::value_at(p.w1, F_ACTOR);
    if (actor.type() != T_object) error::raise(error::cat_access, error::access_invalid_port);
    cell w = word::load(action_words[slot - 1]);
    cell fn = *object::get_word_value(&actor, &w);
    if (fn.type() != T_function) error::raise(error::cat_access, error::access_no_port_action, &w);
    cell values[16];
    uint32_t n = 0;
    values[n++] = p;
    for (const cell& a : args) values[n++] = a;
    for (uint32_t i = 0; i < n; i++) stack::push(&values[i]); // rooted while the call runs
    cell* r = interp::call_with(&fn, es.top - n, n);
    if (!r) return unset_value; // a non-local exit is pending: the caller returns
    cell out = *r;
    stack::pop(n + 1);
    return out;
}

// Runs [body] and, whichever way it ends, calls the port's close; an error in [body] is raised
// again after the close (an error of the close itself then goes unreported).
template <typename F> cell closing(const cell* port, F body) {
    cell p = *port;
    collector::keep k_port(&p);
    cell result = none_value;
    collector::keep k_result(&result);
    cell w = word::load("close");
    cell* top = es.top;
    stack::mark_try(&w);
    try {
        result = body();
        stack::pop_frame();
        es.top = top;
    } catch (const error::raised&) {
        cell err = *(es.top - 1);
        collector::keep k_err(&err);
        es.throw_code = THROW_NONE;
        es.top = top;
        stack::mark_try(&w);
        try {
            forward(&p, A_close, {});
            stack::pop_frame();
        } catch (const error::raised&) {
            es.throw_code = THROW_NONE;
        }
        es.top = top;
        stack::throw_error(&err);
    }
    forward(&p, A_close, {});
    return result;
}

} // namespace

void init_system() {
    forget_system();
    cell p = new_object({"spec", "scheme", "actor", "awake", "state", "data", "extra"});
    collector::keep k_p(&p);
    cell s = new_object({"name", "title", "info", "actor", "awake"});
    collector::keep k_s(&s);
    cell u = new_object({"scheme", "user-info", "host", "port", "path", "target", "query", "fragment", "ref"});
    collector::keep k_u(&u);
    cell list;
    block::make_at(&list, 8);
    sys = {p, s, u, list};
    collector::add_mark_hook(&mark_system);
}

void forget_system() {
    collector::remove_mark_hook(&mark_system);
    sys = {none_value, none_value, none_value, none_value};
}

void add_scheme(const char* name, const cell* actor) {
    cell a = *actor;
    collector::keep k_actor(&a);
    cell scheme;
    collector::keep k_scheme(&scheme);
    scheme = none_value;
    object::copy_into(&sys.scheme, stack::push(&none_value), false, nullptr, false);
    scheme = *(es.top - 1);
    stack::pop(1);
    cell w = word::make_value(T_word, 0, symbol::make(name), word::NO_INDEX);
    *context::value_at(scheme.w1, 0) = w;
    *context::value_at(scheme.w1, 3) = a;
    series::append_value(sys.schemes.w2, w);
    series::append_value(sys.schemes.w2, scheme);
}

void add_native_scheme(const char* name, const action_fn* table) {
    // The dispatcher's table of actor tables only grows: remember what it was given.
    static const action_fn* registered[16];
    static uint32_t ids[16], count;
    uint32_t id = 0;
    for (uint32_t i = 0; i < count && !id; i++)
        if (registered[i] == table) id = ids[i];
    if (!id) {
        id = actions::register_port_actor(table);
        if (count < 16) {
            registered[count] = table;
            ids[count++] = id;
        }
    }
    cell h;
    handle::make_at(&h, id, handle::KIND_NONE);
    add_scheme(name, &h);
}

// }==
// {== Action entries

namespace {

// An object spec is copied; anything else extends a copy of url-parts. The scheme word it
// names finds the scheme, whose actor the port takes.
cell* make(cell* proto, cell* spec, uint8_t) {
    if (sys.port.type() != T_object) error::raise(error::cat_internal, error::internal_feature_na);
    cell* sp = stack::push(&none_value);
    if (spec->type() == T_object) {
        object::copy_into(spec, sp, false, nullptr, false);
    } else {
        *sp = sys.url_parts;
        actions::make_typed(sp, spec);
    }
    cell scheme = *context::value_at(sp->w1, 0);
    if (scheme.type() != T_word) error::raise(error::cat_access, error::access_no_scheme, spec);
    cell* pt = stack::push(&none_value);
    object::copy_into(&sys.port, pt, false, nullptr, false);
    *context::value_at(pt->w1, F_SPEC) = *sp;
    *context::value_at(pt->w1, F_SCHEME) = scheme;
    cell found = *block::select_by_compare(&sys.schemes, &scheme);
    if (found.type() != T_object) error::raise(error::cat_access, error::access_unknown_scheme, &scheme);
    cell w = word::load("actor");
    cell actor = *object::get_word_value(&found, &w);
    if (actor.type() != T_object && actor.type() != T_handle) error::raise(error::cat_access, error::access_invalid_actor, &scheme);
    *context::value_at(pt->w1, F_ACTOR) = actor;
    cells::set_type(pt, T_port);
    object::store_owner(pt);
    *proto = *pt;
    stack::pop(2);
    return proto;
}

int32_t form(const cell* value, cell* buffer, const cell* arg, int32_t part) { return object::form(value, buffer, arg, part); }

// "make port! [", the fields as an object body, "]".
int32_t mold(const cell* value, cell* buffer, bool, bool all, bool flat, const cell* arg, int32_t part, int32_t indent) {
    cell v = *value;
    string::concatenate_literal(buffer, "make port! [");
    part = object::mold_fields(&v, buffer, true, true, all, flat, arg, part - 12, indent);
    string::concatenate_literal(buffer, "]");
    return part - 1;
}

// Forwarding handlers, by the shape of their arguments.
template <uint8_t S> void direct0() { *stack::arg(0) = forward(stack::arg(0), S, {}); }
template <uint8_t S> void direct1() {
    cell v = *stack::arg(1);
    *stack::arg(0) = forward(stack::arg(0), S, {v});
}
template <uint8_t S> cell* unary(cell* p) { return &(*p = forward(p, S, {})); }
template <uint8_t S> cell* binary(cell* a, cell* b) { return &(*a = forward(a, S, {*b})); }

int32_t length_q(const cell* p) {
    cell r = forward(p, A_length_q, {});
    return r.type() == T_integer ? integer::get(&r) : -1;
}
cell* pick(cell* p, int32_t, const cell* at) { return &(*p = forward(p, A_pick, {*at})); }
cell* poke(cell* p, int32_t, const cell* at, cell* data) { return &(*p = forward(p, A_poke, {*at, *data})); }
cell* put(cell* p, cell* key, cell* value, bool case_) { return &(*p = forward(p, A_put, {*key, *value, flag(case_)})); }
cell* modify(cell* p, const cell* field, cell* value, bool case_) {
    return &(*p = forward(p, A_modify, {*field, *value, flag(case_)}));
}
cell* insert(cell* p, cell* value, int32_t part, bool only, int32_t dup, bool append) {
    cell n = part >= 0 ? integer::make_value(part) : none_value, d = dup != 1 ? integer::make_value(dup) : none_value;
    return &(*p = forward(p, append ? A_append : A_insert, {*value, flag(part >= 0), n, flag(only), flag(dup != 1), d}));
}
cell* change(cell* p, cell* value, int32_t part, bool only, int32_t dup) {
    cell n = part >= 0 ? integer::make_value(part) : none_value, d = dup != 1 ? integer::make_value(dup) : none_value;
    return &(*p = forward(p, A_change, {*value, flag(part >= 0), n, flag(only), flag(dup != 1), d}));
}
cell* find(cell* p, cell* value, const cell* part, bool only, bool case_, bool same, bool any, const cell* with,
           const cell* skip, bool last, bool reverse, bool tail, bool match) {
    return &(*p = forward(p, A_find, {*value, flag(part), opt(part), flag(only), flag(case_), flag(same), flag(any),
                                      flag(with), opt(with), flag(skip), opt(skip), flag(last), flag(reverse),
                                      flag(tail), flag(match)}));
}
cell* select(cell* p, cell* value, const cell* part, bool only, bool case_, bool same, bool any, const cell* with,
             const cell* skip, bool last, bool reverse) {
    return &(*p = forward(p, A_select, {*value, flag(part), opt(part), flag(only), flag(case_), flag(same), flag(any),
                                        flag(with), opt(with), flag(skip), opt(skip), flag(last), flag(reverse)}));
}
cell* copy(cell* p, const cell* part, bool deep, const cell* types) {
    return &(*p = forward(p, A_copy, {flag(part), opt(part), flag(deep), flag(types), opt(types)}));
}
cell* remove(cell* p, const cell* part, const cell* key) {
    return &(*p = forward(p, A_remove, {flag(part), opt(part), flag(key), opt(key)}));
}
cell* reverse(cell* p, const cell* part, const cell* skip) {
    return &(*p = forward(p, A_reverse, {flag(part), opt(part), flag(skip), opt(skip)}));
}
cell* take(cell* p, const cell* part, bool deep, bool last) {
    return &(*p = forward(p, A_take, {flag(part), opt(part), flag(deep), flag(last)}));
}
cell* trim(cell* p, bool head, bool tail, bool auto_, bool lines, bool all, const cell* with) {
    return &(*p = forward(p, A_trim, {flag(head), flag(tail), flag(auto_), flag(lines), flag(all), flag(with), opt(with)}));
}
cell* sort(cell* p, bool case_, const cell* skip, const cell* compare, const cell* part, bool all, bool reverse,
           bool stable) {
    return &(*p = forward(p, A_sort, {flag(case_), flag(skip), opt(skip), flag(compare), opt(compare), flag(part),
                                      opt(part), flag(all), flag(reverse), flag(stable)}));
}
cell* move(cell* p, cell* target, const cell* part) { return &(*p = forward(p, A_move, {*target, flag(part), opt(part)})); }
cell* open(cell* p, bool new_, bool read, bool write, bool seek, const cell* allow) {
    return &(*p = forward(p, A_open, {flag(new_), flag(read), flag(write), flag(seek), flag(allow), opt(allow)}));
}

// open, copy, close: the copied value.
cell* read(cell* p, const cell* part, const cell* seek, bool, bool, bool, const cell*) {
    cell n = opt(part);
    forward(p, A_open, {flag(false), flag(true), flag(false), flag(seek), flag(false), none_value});
    return &(*p = closing(p, [&] { return forward(p, A_copy, {flag(part), n, flag(false), flag(false), none_value}); }));
}

// open, insert the data, copy, close: the copied value.
cell* write(cell* p, cell* data, bool, bool, bool, bool, const cell* part, const cell* seek, const cell* allow,
            const cell*) {
    cell d = *data, n = opt(part);
    collector::keep k_data(&d);
    forward(p, A_open, {flag(false), flag(false), flag(true), flag(seek), flag(allow), opt(allow)});
    return &(*p = closing(p, [&] {
        forward(p, A_insert, {d, flag(part), n, flag(false), flag(false), none_value});
        return forward(p, A_copy, {flag(false), none_value, flag(false), flag(false), none_value});
    }));
}

} // namespace

// }==
// {== Registration

void init() {
    using datatype::entry;
    const action_fn entries[] = {
        entry(&make),          // make
        nullptr,               // random
        ZYL_INHERIT,           // reflect
        nullptr,               // to
        entry(&form),          // form
        entry(&mold),          // mold
        ZYL_INHERIT,           // eval-path
        nullptr,               // set-path
        ZYL_INHERIT,           // compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // absolute .. subtract
        nullptr, nullptr,      // even? odd?
        nullptr, nullptr, nullptr, nullptr, // and~ complement or~ xor~
        entry(&insert),        // append
        entry(&direct1<A_at>), // at
        entry(&direct0<A_back>), // back
        entry(&change),        // change
        entry(&unary<A_clear>), // clear
        entry(&copy),          // copy
        entry(&find),          // find
        entry(&direct0<A_head>), // head
        entry(&direct0<A_head_q>), // head?
        entry(&direct0<A_index_q>), // index?
        entry(&insert),        // insert
        entry(&length_q),      // length?
        entry(&move),          // move
        entry(&direct0<A_next>), // next
        entry(&pick),          // pick
        entry(&poke),          // poke
        entry(&put),           // put
        entry(&remove),        // remove
        entry(&reverse),       // reverse
        entry(&select),        // select
        entry(&sort),          // sort
        entry(&direct1<A_skip>), // skip
        entry(&binary<A_swap>), // swap
        entry(&direct0<A_tail>), // tail
        entry(&direct0<A_tail_q>), // tail?
        entry(&take),          // take
        entry(&trim),          // trim
        entry(&unary<A_create>), // create
        entry(&unary<A_close>), // close
        entry(&unary<A_delete_>), // delete
        entry(&modify),        // modify
        entry(&open),          // open
        nullptr,               // open?
        entry(&unary<A_query>), // query
        entry(&read),          // read
        entry(&binary<A_rename>), // rename
        entry(&unary<A_update>), // update
        entry(&write),         // write
    };
    static_assert(sizeof entries / sizeof entries[0] == ACTION_SLOTS);
    datatype::register_type(ACTION_SLOTS + 3, T_port, T_object, "port!", entries);
}

// }==

} // namespace zyl::port
