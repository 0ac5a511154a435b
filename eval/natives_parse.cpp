// eval/natives_parse.cpp: the parse native, the entry of the parse dialect's engine.
#include "datatypes/series.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/control_internal.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "parse/parse.h"
#include "runtime/error.h"

namespace zyl::natives {

namespace {

// {== Internal functions

constexpr cell ts_input =
    typeset::unite(typeset::of({T_binary}),
                   typeset::unite(typeset::standard::any_block, typeset::standard::any_string));
constexpr cell ts_rules = typeset::of({T_block});
constexpr cell ts_part = typeset::unite(
    typeset::standard::number,
    typeset::unite(typeset::of({T_binary}),
                   typeset::unite(typeset::standard::any_block, typeset::standard::any_string)));
constexpr cell ts_callback = typeset::of({T_function});

inline void check_refinement(int32_t check, const cell& ts, int32_t pos) {
    if (check && pos >= 0) error::check_arg_type(&ts, pos, stack::arg(static_cast<uint32_t>(pos)));
}

void parse(int32_t check, int32_t case_, int32_t part, int32_t trace) {
    control::check_arg(check, ts_input, 0);
    control::check_arg(check, ts_rules, 1);
    check_refinement(check, ts_part, part);
    check_refinement(check, ts_callback, trace);
    const cell* input = stack::arg(0);
    uint32_t limit = UINT32_MAX;
    if (part >= 0) {
        const cell* limit_arg = stack::arg(static_cast<uint32_t>(part));
        if (limit_arg->type() != T_integer && limit_arg->type() != T_float_ &&
            (limit_arg->type() != input->type() || limit_arg->w2 != input->w2)) {
            // A position in another series would cut the input at a meaningless length.
            cell refinement = word::load("part");
            cells::set_type(&refinement, T_refinement);
            cell at = *limit_arg;
            error::raise(error::cat_script, error::script_invalid_refine_arg, &refinement, &at);
        }
        int64_t n = series::detail::part_count(input, stack::arg(static_cast<uint32_t>(part)));
        int64_t at = static_cast<int64_t>(input->w1) + (n < 0 ? 0 : n);
        limit = at > UINT32_MAX - 1 ? UINT32_MAX - 1 : static_cast<uint32_t>(at);
    }
    cell result;
    parse::process(input, stack::arg(1), case_ >= 0, limit,
                   trace >= 0 ? stack::arg(static_cast<uint32_t>(trace)) : nullptr, &result);
    if (control::pending()) return;
    stack::set_last_keep(&result);
}

// }==

} // namespace

// {== Registration

void init_parse() {
    parse::init();
    set_entry(40, reinterpret_cast<entry_fn>(&parse));
}

// }==

} // namespace zyl::natives
