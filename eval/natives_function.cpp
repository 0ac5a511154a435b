// eval/natives_function.cpp: the function makers func, function, does and has.
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/typeset.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/error.h"
#include "runtime/words.h"

namespace zyl::natives {

namespace {

constexpr cell blocks_only = typeset::of({T_block});

// With the check flag, the first [count] arguments must be blocks.
void check_blocks(int32_t check, uint32_t count) {
    if (!check) return;
    for (uint32_t i = 0; i < count; i++) error::check_arg_type(&blocks_only, int32_t(i), stack::arg(i));
}

// func on the frame: cell 0 the spec, cell 1 the body; the new function is the result.
void make_function() {
    // Both indexes are clamped to their tails by the rules and by make_value.
    uint32_t flags = function::validate_spec(stack::arg(0));
    function::make_value(stack::arg(0), stack::arg(1), 0, -1, -1, flags);
    *es.base = *stack::top();
    es.top = es.base + 1;
}

// func spec body
void func(int32_t check) {
    check_blocks(check, 2);
    make_function();
}

// function spec body /extern: the body's set-words become locals, but for the words of the
// spec and those after its /extern.
void function_(int32_t check, int32_t) {
    check_blocks(check, 2);
    cell* spec = block::clone(stack::arg(0), UINT32_MAX, false, false);
    function::collect_words(spec, stack::arg(1));
    *stack::arg(0) = *spec; // the edited copy
    es.top = es.base + 2;
    make_function();
}

// does body: a function of no arguments.
void does(int32_t check) {
    check_blocks(check, 1);
    es.top = es.base + 1;
    stack::push(stack::arg(0));
    block::make_at(stack::arg(0), 1);
    make_function();
}

// has vars body: a function whose locals are the words of vars.
void has(int32_t check) {
    check_blocks(check, 2);
    cell* spec = block::clone(stack::arg(0), UINT32_MAX, false, false);
    block::insert_value(spec, &words::refs.local, false, false);
    *stack::arg(0) = *spec;
    es.top = es.base + 2;
    make_function();
}

} // namespace

void init_function() {
    set_entry(14, reinterpret_cast<entry_fn>(&func));
    set_entry(15, reinterpret_cast<entry_fn>(&function_));
    set_entry(16, reinterpret_cast<entry_fn>(&does));
    set_entry(17, reinterpret_cast<entry_fn>(&has));
}

} // namespace zyl::natives
