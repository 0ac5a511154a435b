// parse/parse.h: the parse dialect's engine: matches a block of rules against a series.
#pragma once

#include <cstdint>

#include "datatypes/cell.h"

namespace zyl::parse {

// Makes the keyword words; once the symbol table and the global context exist.
void init();

// Runs [rules] (a block!) over [input] (any-block!, any-string! or binary!) from its index.
// [part_limit]: the absolute index past which the input counts as ended, or UINT32_MAX.
// [callback]: the trace function!, or null. Writes into [result] true or false, or the block
// of a top-level collect without a target. A non-local exit from a paren action or the
// callback is left pending (es.throw_code) and [result] is then unset.
void process(const cell* input, const cell* rules, bool case_, uint32_t part_limit,
             const cell* callback, cell* result);

} // namespace zyl::parse
