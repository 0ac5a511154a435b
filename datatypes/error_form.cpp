// datatypes/error_form.cpp: the report of an error, its form: the category title and the
// message with its arguments filled in, then where it was raised, near what, and the call
// trace and source files when there are any. An error that names no catalogue entry is
// rewritten into internal invalid-error and reported as that, and a value that cannot be
// formed shows as "???": forming a report never raises.
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/error.h"
#include "datatypes/error_internal.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/stack.h"
#include "eval/stack_trace.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/words.h"

namespace zyl::error {

using namespace detail;

// {== Internal functions

namespace {

constexpr int32_t ARG_LIMIT = 80;  // characters of one message argument
constexpr int32_t NEAR_LIMIT = 40; // characters of the near text and of the files

// append_cut without the guard.
void append_cut_raw(cell* out, const cell* v, bool mold, bool only, int32_t limit) {
    uint32_t before = string::rs_abs_length_q(out);
    cell value = *v;
    cell part = integer::make_value(limit);
    uint8_t slot = mold ? A_mold : A_form;
    if (!datatype::action(value.type(), slot)) {
        string::concatenate_literal(out, datatype::name_of(value.type()));
    } else if (mold) {
        actions::mold_typed(&value, out, only, false, true, &part, limit, 0);
    } else {
        actions::form_typed(&value, out, &part, limit);
    }
    if (string::rs_abs_length_q(out) > before + uint32_t(limit)) string::truncate(out->w2, before + uint32_t(limit));
}

// append_formed without the guard.
void append_formed_raw(cell* out, const cell* v) {
    cell value = *v;
    if (datatype::action(value.type(), A_form)) actions::form_typed(&value, out, nullptr, INT32_MAX);
}

// Runs [append], which writes to [out], under a try frame of its own: a value whose form
// raises (a datatype that cannot mold, text that is not UTF-8, ...) must not take the report
// down. On an error the stacks are put back, what [append] wrote is taken back and "???"
// stands in its place.
template <typename F> void guarded(cell* out, F&& append) {
    uint32_t before = string::rs_abs_length_q(out);
    cell* top = es.top;
    cell* base = es.base;
    call_frame* ftop = es.ftop;
    cell name = words::loaded.body;
    stack::mark_try(&name);
    try {
        append();
    } catch (const raised&) {
        es.throw_code = THROW_NONE;
        es.throw_start = nullptr;
        if (string::rs_abs_length_q(out) > before) string::truncate(out->w2, before);
        string::concatenate_literal(out, "???");
    }
    es.top = top;
    es.base = base;
    es.ftop = ftop;
}

// Appends [v] to [out], molded ([only], flat) or formed, cut to [limit] characters. A type
// without the entry writes its name, and one whose entry raises writes "???", so that a
// report can always be made.
void append_cut(cell* out, const cell* v, bool mold, bool only, int32_t limit) {
    guarded(out, [&] { append_cut_raw(out, v, mold, only, limit); });
}

// Appends [v] formed, whole; "???" when that raises.
void append_formed(cell* out, const cell* v) {
    guarded(out, [&] { append_formed_raw(out, v); });
}

// Turns [err] into internal invalid-error with arg1 := [former] (a copy).
void to_invalid(const cell* err, cell former) {
    *field(err, F_ARG1) = former;
    if (has_message(cat_internal, internal_invalid_error)) set_names(err, cat_internal, internal_invalid_error);
}

// The category of [err] by its type word; an unknown one turns [err] into invalid-error.
// Answers -1 when even that is missing from the catalogue.
int32_t resolve_category(const cell* err) {
    uint32_t t = type_of(err);
    int32_t cat = t ? find_category(t) : -1;
    if (cat >= 0) return cat;
    to_invalid(err, *field(err, F_TYPE));
    return has_message(cat_internal, internal_invalid_error) ? cat_internal : -1;
}

// The message index of [err] in [cat]; an unknown id turns [err] into invalid-error (and
// [cat] into internal). Answers -1 when even that is missing.
int32_t resolve_message(const cell* err, int32_t& cat) {
    uint32_t id = id_of(err);
    int32_t m = id ? find_message(cat, id) : -1;
    if (m >= 0) return m;
    to_invalid(err, *field(err, F_ID));
    if (!has_message(cat_internal, internal_invalid_error)) return -1;
    cat = cat_internal;
    return internal_invalid_error;
}

// The value of [err]'s field named by word [w], or null when it has none.
const cell* field_by_word(const cell* err, const cell* w) {
    int32_t i = context::find_word(err->w1, w->w2, true);
    return i < 0 ? nullptr : context::value_at(err->w1, static_cast<uint32_t>(i));
}

// A block message: its strings, and the fields its words name, one space apart.
void append_block_message(cell* out, const cell* err, const cell* msg, bool syntax) {
    cell m = *msg;
    collector::keep k_msg{&m};
    for (uint32_t i = m.w1; i < series::length(m.w2); i++) {
        if (i > m.w1) string::concatenate_literal(out, " ");
        cell e = block::cells_of(m.w2)[i];
        if (e.type() == T_string) {
            append_formed(out, &e);
        } else if (e.type() == T_word || e.type() == T_get_word) {
            if (const cell* v = field_by_word(err, &e)) append_cut(out, v, !syntax, false, ARG_LIMIT);
        }
    }
}

// "*** Title: message" with the arguments filled in.
void append_message(cell* out, const cell* err) {
    string::concatenate_literal(out, "*** ");
    int32_t cat = resolve_category(err);
    int32_t m = cat >= 0 ? resolve_message(err, cat) : -1;
    if (m < 0) { // a catalogue without internal invalid-error: nothing more to say
        string::concatenate_literal(out, "Internal Error: invalid error");
        return;
    }
    node_id cat_ctx = category_context(cat);
    cell msg = *context::value_at(cat_ctx, static_cast<uint32_t>(m));
    if (msg.type() == T_word) {
        const cell* v = field_by_word(err, &msg);
        msg = v ? *v : none_value;
    }
    append_formed(out, context::value_at(cat_ctx, ids::field_type));
    string::concatenate_literal(out, ": ");
    if (msg.type() == T_string) {
        append_formed(out, &msg);
    } else if (msg.type() == T_block) {
        append_block_message(out, err, &msg, cat == cat_syntax);
    } else {
        to_invalid(err, *field(err, F_TYPE));
    }
}

// "*** Where: " and the word or string of `where`, else "???".
void append_where(cell* out, const cell* err) {
    string::concatenate_literal(out, "\n*** Where: ");
    cell where = *field(err, F_WHERE);
    if (where.type() == T_word || where.type() == T_string) {
        append_formed(out, &where);
    } else {
        string::concatenate_literal(out, "???");
    }
}

// The call trace (when system/state/stack-trace asks for one, within [budget] characters)
// and the source files.
void append_stack_and_files(cell* out, const cell* err, int32_t budget) {
    cell level = state_field(STATE_STACK_TRACE);
    cell stack = *field(err, F_STACK);
    if (level.type() == T_integer && integer::get(&level) > 0) {
        if (stack.type() == T_integer) {
            string::concatenate_literal(out, "\n*** Stack: ");
            guarded(out, [&] { stack::trace_form(integer::get(&level), &stack, out, budget - 12); });
        } else if (stack.type() == T_block) {
            string::concatenate_literal(out, "\n*** Stack: ");
            append_formed(out, &stack);
        }
    }
    cell files = *field(err, F_FILES);
    if (files.type() == T_block) {
        string::concatenate_literal(out, "\n*** Files: ");
        append_cut(out, &files, true, true, NEAR_LIMIT);
    }
}

} // namespace

// }==
// {== Action entries

int32_t form(const cell* value, cell* buffer, const cell*, int32_t part) {
    uint32_t start = string::rs_abs_length_q(buffer);
    auto used = [&] { return static_cast<int32_t>(string::rs_abs_length_q(buffer) - start); };
    if (is_bare(value)) { // no catalogue to report from
        string::concatenate_literal(buffer, "*** Internal Error: invalid error");
        return part - used();
    }
    cell err = *value;
    collector::keep k_err{&err};
    append_message(buffer, &err);
    append_where(buffer, &err);
    // An unset near means no code was being evaluated (a script that fails to load): a line
    // reading "unset" would point at code that isn't there.
    if (field(&err, F_NEAR)->type() != T_unset) {
        string::concatenate_literal(buffer, "\n*** Near : ");
        append_cut(buffer, field(&err, F_NEAR), true, true, NEAR_LIMIT);
    }
    append_stack_and_files(buffer, &err, part - used());
    return part - used();
}

// }==

} // namespace zyl::error
