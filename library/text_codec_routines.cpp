// library/text_codec_routines.cpp: the routines of the JSON and CSV codecs, through which
// load-json, to-json, load-csv and to-csv (library/text_codecs.zyl) reach the C++ scanners
// and writers: scan-json, emit-json, scan-csv, emit-csv.
#include <vector>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/core.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "eval/stack.h"
#include "library/routines.h"
#include "library/text_codecs.h"
#include "library/text_out.h"
#include "runtime/error.h"
#include "runtime/values.h"

namespace zyl::text_codecs {

namespace {

// A delimiter must be some characters other than line ends, and the quote character none of
// them: otherwise the text written could not be read back as the same fields.
void check_delimiter(const cell* delimiter, uint32_t quote) {
    std::vector<uint32_t> cs = chars_of(delimiter);
    bool bad = cs.empty();
    for (uint32_t c : cs) bad |= c == '\n' || c == '\r' || c == quote;
    if (!bad) return;
    cell d = *delimiter;
    error::raise(error::cat_script, error::script_invalid_arg, &d);
}

} // namespace

} // namespace zyl::text_codecs

namespace zyl::routines {

using namespace zyl::text_codecs;

// scan-json input out: true with the value appended to [out]; else false with the line
// count, the input at the mark and the mark's column appended.
void json_scan() {
    cell* value = stack::push_slot();
    json_failure f{};
    bool ok = scan_json(stack::arg(0), value, f);
    const cell* out = stack::arg(1);
    if (ok) {
        block::append_value(out, value);
    } else {
        cell line = integer::make_value(int32_t(f.line)), at = *stack::arg(0), column = integer::make_value(int32_t(f.mark - f.last_lf));
        at.w1 = f.mark;
        block::append_value(out, &line);
        block::append_value(out, &at);
        block::append_value(out, &column);
    }
    stack::pop(1);
    cell r = logic::make_value(ok);
    stack::set_last(&r);
}

// emit-json data indent ascii: a new string holding the JSON text of [data].
void json_emit() {
    cell* out = string::push_new(4000);
    const cell* indent = stack::arg(1);
    write_json(stack::arg(0), out, indent->type() == T_none ? nullptr : indent, logic::get(stack::arg(2)) != 0);
    stack::set_last(out);
    stack::pop(1);
}

// scan-csv data delimiter quote header trim out: appends the header names (a block) and the
// lines to [out]; answers 0, or -1 for lines of different lengths, -2 for a header line that
// cannot be read, or the number of the line the grammar cannot read.
void csv_scan() {
    uint32_t quote = stack::arg(2)->w2;
    check_delimiter(stack::arg(1), quote);
    cell* names = block::push_new(8);
    cell* lines = block::push_new(int32_t(string::length_of(stack::arg(0)) / 80));
    csv_options o{stack::arg(1), quote, logic::get(stack::arg(3)) != 0, logic::get(stack::arg(4)) != 0};
    uint32_t line = 0;
    csv_status s = scan_csv(stack::arg(0), o, lines, names, line);
    block::append_value(stack::arg(5), names);
    block::append_value(stack::arg(5), lines);
    stack::pop(2);
    int32_t code = s == csv_status::ok ? 0 : s == csv_status::not_aligned ? -1 : s == csv_status::no_header ? -2 : int32_t(line);
    cell r = integer::make_value(code);
    stack::set_last(&r);
}

// emit-csv data delimiter quote size: the CSV text of [data], or none when its lines would
// differ in length.
void csv_emit() {
    uint32_t quote = stack::arg(2)->w2;
    check_delimiter(stack::arg(1), quote);
    int32_t size = integer::get(stack::arg(3));
    if (size < 0) {
        cell s = *stack::arg(3);
        error::raise(error::cat_script, error::script_out_of_range, &s);
    }
    cell* out = string::push_new(1000);
    bool ok = write_csv(stack::arg(0), out, stack::arg(1), quote, uint32_t(size));
    stack::set_last(ok ? out : &none_value);
    stack::pop(1);
}

} // namespace zyl::routines
