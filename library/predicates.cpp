// library/predicates.cpp: the type predicates, 48 for datatypes and 14 for typesets.
#include "library/predicates.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/stack.h"
#include "runtime/error.h"

namespace zyl::predicates {

namespace {

// {== Internal functions

template <uint8_t T> void is_type() {
    cell r = logic::make_value(stack::arg(0)->type() == T);
    *stack::arg(0) = r;
}

// The typeset predicates read their typeset word at each call, so a program that redefines
// the word changes the predicate too.
cell typeset_words[14]; // the global typeset words, made by init

template <size_t I> void is_in_typeset() {
    const cell* ts = context::get_value(&typeset_words[I]);
    bool r = ts->type() == T_typeset && typeset::has(ts, stack::arg(0)->type());
    cell v = logic::make_value(r);
    *stack::arg(0) = v;
}

struct datatype_predicate {
    const char* name;
    routine::code_fn code;
};

const datatype_predicate datatype_predicates[] = {
    {"bitset?", is_type<T_bitset>},       {"binary?", is_type<T_binary>},
    {"block?", is_type<T_block>},         {"char?", is_type<T_char_>},
    {"email?", is_type<T_email>},         {"file?", is_type<T_file>},
    {"float?", is_type<T_float_>},        {"get-path?", is_type<T_get_path>},
    {"get-word?", is_type<T_get_word>},   {"hash?", is_type<T_hash>},
    {"integer?", is_type<T_integer>},     {"issue?", is_type<T_issue>},
    {"lit-path?", is_type<T_lit_path>},   {"lit-word?", is_type<T_lit_word>},
    {"logic?", is_type<T_logic>},         {"map?", is_type<T_map>},
    {"none?", is_type<T_none>},           {"pair?", is_type<T_pair>},
    {"paren?", is_type<T_paren>},         {"path?", is_type<T_path>},
    {"percent?", is_type<T_percent>},     {"refinement?", is_type<T_refinement>},
    {"set-path?", is_type<T_set_path>},   {"set-word?", is_type<T_set_word>},
    {"string?", is_type<T_string>},       {"tag?", is_type<T_tag>},
    {"time?", is_type<T_time>},           {"typeset?", is_type<T_typeset>},
    {"tuple?", is_type<T_tuple>},         {"unset?", is_type<T_unset>},
    {"url?", is_type<T_url>},             {"word?", is_type<T_word>},
    {"image?", is_type<T_image>},         {"date?", is_type<T_date>},
    {"money?", is_type<T_money>},         {"ref?", is_type<T_ref>},
    {"point2D?", is_type<T_point2d>},     {"point3D?", is_type<T_point3d>},
    {"handle?", is_type<T_handle>},       {"error?", is_type<T_error>},
    {"action?", is_type<T_action>},       {"native?", is_type<T_native>},
    {"datatype?", is_type<T_datatype>},   {"function?", is_type<T_function>},
    {"object?", is_type<T_object>},       {"op?", is_type<T_op>},
    {"routine?", is_type<T_routine>},     {"vector?", is_type<T_vector>},
};

struct typeset_predicate {
    const char* name;
    const char* typeset_word;
    routine::code_fn code;
};

const typeset_predicate typeset_predicates[] = {
    {"any-list?", "any-list!", is_in_typeset<0>},
    {"any-path?", "any-path!", is_in_typeset<1>},
    {"any-block?", "any-block!", is_in_typeset<2>},
    {"any-function?", "any-function!", is_in_typeset<3>},
    {"any-object?", "any-object!", is_in_typeset<4>},
    {"any-string?", "any-string!", is_in_typeset<5>},
    {"any-word?", "any-word!", is_in_typeset<6>},
    {"all-word?", "all-word!", is_in_typeset<7>},
    {"series?", "series!", is_in_typeset<8>},
    {"number?", "number!", is_in_typeset<9>},
    {"immediate?", "immediate!", is_in_typeset<10>},
    {"scalar?", "scalar!", is_in_typeset<11>},
    {"any-point?", "any-point!", is_in_typeset<12>},
    {"planar?", "planar!", is_in_typeset<13>},
};
static_assert(std::size(typeset_predicates) == std::size(typeset_words));

// }==

} // namespace

void init() {
    for (const auto& p : datatype_predicates)
        runtime::define_routine(p.name, R"(["Returns true if the value is this type" value [any-type!] return: [logic!]])", p.code);
    char spec[160];
    for (size_t i = 0; i < std::size(typeset_predicates); i++) {
        const auto& p = typeset_predicates[i];
        typeset_words[i] = word::load(p.typeset_word);
        std::snprintf(spec, sizeof spec,
                      R"(["Returns true if the value is any type of %s" value [any-type!] return: [logic!]])",
                      p.typeset_word);
        runtime::define_routine(p.name, spec, p.code);
    }
}

} // namespace zyl::predicates
