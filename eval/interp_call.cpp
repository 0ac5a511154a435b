// eval/interp_call.cpp: calls: the call spec of a callable, gathering its arguments and
// refinements on the stack, and running natives, actions, routines and function bodies.
//
// A call's frame holds, from its base: for a native or action the fixed arguments, then the
// arguments of the refinements used, in the order the call names them (each refinement gets
// the position of its first argument); for a function or routine one cell per word of its
// context in spec order: the arguments, each refinement (logic!) followed by its arguments
// (none when unused), then /local (false) and the locals (none).
#include <algorithm>
#include <iterator>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/core.h"
#include "datatypes/function.h"
#include "datatypes/header_flags.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/interp_internal.h"
#include "eval/natives.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/platform/native_stack.h"
#include "runtime/values.h"

namespace zyl::interp {

using namespace detail;

namespace {

constexpr uint32_t MAX_NATIVE_REFS = 16; // natives and actions have at most 12
// The refinement parameters of a call that uses none.
constexpr int32_t UNUSED_REFS[MAX_NATIVE_REFS] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                                  -1, -1, -1, -1, -1, -1, -1, -1};

enum arg_kind_t : uint32_t { KIND_NORMAL = 0, KIND_GET = 1, KIND_LIT = 2, KIND_RETURN = 3 };

inline uint32_t arg_kind(const cell& ts) {
    return (ts.header & TYPESET_ARG_KIND_MASK) >> TYPESET_ARG_KIND_SHIFT;
}
inline bool takes_positions(uint8_t t) { return t == T_native || t == T_action; }

// The cell of [fn]'s own series that keeps its call spec.
cell* spec_slot(const cell* fn) { return const_cast<cell*>(spec_cell_of(fn)); }

// The call spec of [fn] (no op!), built when it is not yet.
inline node_id spec_of(const cell* fn) {
    const cell* cached = spec_slot(fn);
    return cached->type() == T_block ? cached->w2 : build_arg_spec(fn);
}

// Cells in cell series [n].
inline uint32_t cell_count(node_id n) { return memory::buffer_of(n)->used_bytes() / sizeof(cell); }

// The word of context slot [slot] of [fn] (its spec's argument and refinement words in
// order), as a word!; none when there is none. For error reports.
cell spec_word(const cell* fn, uint32_t slot) {
    uint32_t n = static_cast<uint32_t>(series::length(fn->w2));
    const cell* s = block::cells_of(fn->w2);
    for (uint32_t i = 0, k = 0; i < n; i++) {
        uint8_t t = s[i].type();
        if (t != T_word && t != T_get_word && t != T_lit_word && t != T_refinement) continue;
        if (k++ != slot) continue;
        cell w = s[i];
        cells::set_type(&w, T_word);
        return w;
    }
    return none_value;
}

[[noreturn]] void no_arg(const call_site& site, const cell* fn, uint32_t slot) {
    cell name = site.name;
    cell arg = spec_word(fn, slot);
    error::raise(error::cat_script, error::script_no_arg, &name, &arg);
}

[[noreturn]] void expect_arg(const call_site& site, const cell* fn, uint32_t slot, uint8_t type) {
    cell name = site.name;
    cell datatype = datatype::make_value(type);
    cell arg = spec_word(fn, slot);
    error::raise(error::cat_script, error::script_expect_arg, &name, &datatype, &arg);
}

// Appends to [out] the typeset of the argument at [i] of spec [spec] (its type block when one
// follows, else every type but unset!) with [kind]; answers the last spec index it used.
uint32_t append_typeset(node_id out, node_id spec, uint32_t i, uint32_t kind) {
    cell* ts;
    if (i + 1 < series::length(spec) && block::cells_of(spec)[i + 1].type() == T_block) {
        cell types = block::cells_of(spec)[i + 1];
        ts = typeset::from_block(out, &types);
        i++;
    } else {
        ts = typeset::append_all_types(out);
    }
    ts->header |= kind << TYPESET_ARG_KIND_SHIFT;
    return i;
}

// One refinement of a call spec as a call uses it.
struct refinement_at {
    uint32_t k;      // its cell in the call spec
    uint32_t number; // from 1
    uint32_t slot;   // its cell in a function's frame
    uint32_t nargs;  // its arguments
};

// The refinements a call named so far, by number.
struct named_set {
    uint64_t small[4] = {0, 0, 0, 0};
    std::vector<bool> more; // numbers from 256 on (no sane spec has them)

    // Whether [number] was named before; marks it named.
    bool seen(uint32_t number) {
        if (number < 256) {
            uint64_t bit = uint64_t(1) << (number & 63);
            bool was = small[number >> 6] & bit;
            small[number >> 6] |= bit;
            return was;
        }
        if (more.size() <= number) more.resize(number + 1);
        bool was = more[number];
        more[number] = true;
        return was;
    }
};

// Gathers the arguments and refinements of one call into the current frame.
struct gather {
    const cell* fn; // the callee (op! already resolved); its series is kept by the caller
    node_id spec;   // its call spec
    uint32_t count; // cells in the call spec
    const code& c;  // where the arguments are read
    call_site& site;
    bool positions;      // native or action: refinements are positions, not frame slots
    uint32_t nrefs = 0;  // refinements of a native or action
    uint32_t locals = 0; // /local and the locals of a function or routine
    bool refs_set = false;
    int32_t refs[MAX_NATIVE_REFS];

    gather(const cell* f, const code& cd, call_site& s)
        : fn(f), spec(spec_of(f)), count(cell_count(spec)), c(cd), site(s),
          positions(takes_positions(f->type())) {}

    // The refinement parameters, all unused until a call names one.
    int32_t* refinement_params() {
        if (!refs_set) {
            std::fill(std::begin(refs), std::end(refs), -1);
            refs_set = true;
        }
        return refs;
    }

    cell spec_at(uint32_t k) const { return block::cells_of(spec)[k]; }

    void check(const cell& ts, uint32_t slot, const cell* v) const {
        if (!error::typeset_has(&ts, v->type())) [[unlikely]]
            expect_arg(site, fn, slot, v->type());
    }

    // A literal argument: a paren is evaluated, a get-word gives its word's value, a get-path
    // is read; anything else as it stands. Pushes it; answers the next position.
    uint32_t fetch_literal(uint32_t pos, const cell* v) {
        switch (v->type()) {
        case T_paren: {
            cell p = *v;
            eval_paren(&p);
            return pos + 1;
        }
        case T_get_word: stack::push(context::get_value(v)); return pos + 1;
        case T_get_path: {
            cell p = *v;
            return path_expr(&p, c, pos + 1, true, nullptr);
        }
        default: stack::push(v); return pos + 1;
        }
    }

    // Pushes the argument of typeset [ts] ([kind], frame slot [slot]) from [pos], checked.
    uint32_t fetch_one(const cell& ts, uint32_t kind, uint32_t slot, uint32_t pos) {
        const cell* v = at(c, pos);
        if (!v) {
            if (kind == KIND_LIT && error::typeset_has(&ts, T_unset)) {
                stack::push_slot(); // a literal argument that takes unset! ends a block quietly
                return pos;
            }
            if (site.mode & PATH_ELEMENT) {
                stack::push(&none_value);
                return pos;
            }
            no_arg(site, fn, slot);
        }
        if (kind == KIND_NORMAL) {
            // An operator's right operand is one expression without infix of its own.
            pos = expr_from(c, pos, v, site.infix, false);
            if (es.throw_code) return pos;
        } else if (kind == KIND_GET) {
            cell val = *v;
            if (is.events) {
                trace_at(EV_FETCH, &c.block, pos, nullptr, &val);
                if (es.throw_code) return pos;
            }
            stack::push(&val);
            if (is.events) trace_at(EV_PUSH, &c.block, pos, nullptr, &val);
            pos++;
        } else {
            pos = fetch_literal(pos, v);
            if (es.throw_code) return pos;
        }
        check(ts, slot, es.top - 1);
        return pos;
    }

    // The fixed arguments; for a function also false and none for every refinement and its
    // arguments. Reads the closing count.
    uint32_t fixed(uint32_t pos) {
        bool in_fixed = true;
        bool left_given = site.infix; // the left operand is already cell 0
        for (uint32_t k = 0, slot = 0; k < count; k++) {
            cell s = spec_at(k);
            if (s.type() == T_typeset) {
                uint32_t kind = arg_kind(s);
                if (kind == KIND_RETURN) continue;
                if (!in_fixed) {
                    if (!positions) stack::push(&none_value);
                } else if (left_given) {
                    left_given = false;
                    check(s, slot, stack::arg(0));
                } else {
                    pos = fetch_one(s, kind, slot, pos);
                    if (es.throw_code) return pos;
                }
                slot++;
            } else if (s.type() == T_refinement) {
                in_fixed = false;
                if (!positions) stack::push(&false_value);
                slot++;
            } else if (s.type() == T_integer) {
                (positions ? nrefs : locals) = s.w2;
            }
        }
        return pos;
    }

    // The fixed arguments of a call from run-time code: the [argc] values at [args], pushed;
    // with [args] null the frame already holds the first [argc] of them.
    void fixed_from(const cell* args, uint32_t argc) {
        bool in_fixed = true;
        for (uint32_t k = 0, slot = 0; k < count; k++) {
            cell s = spec_at(k);
            if (s.type() == T_typeset) {
                if (arg_kind(s) == KIND_RETURN) continue;
                if (in_fixed) {
                    const cell* v = slot >= argc ? stack::push(&none_value)
                                    : args       ? stack::push(&args[slot])
                                                 : stack::arg(slot);
                    check(s, slot, v);
                } else if (!positions) {
                    stack::push(&none_value);
                }
                slot++;
            } else if (s.type() == T_refinement) {
                in_fixed = false;
                if (!positions) stack::push(&false_value);
                slot++;
            } else if (s.type() == T_integer) {
                (positions ? nrefs : locals) = s.w2;
            }
        }
    }

    bool find(uint32_t symbol, refinement_at& r) const {
        uint32_t canon = symbol::resolve(symbol);
        for (uint32_t k = 0, slot = 0; k < count; k++) {
            cell s = spec_at(k);
            if (s.type() == T_typeset) {
                if (arg_kind(s) != KIND_RETURN) slot++;
            } else if (s.type() == T_refinement) {
                if (symbol::resolve(s.w2) == canon) {
                    r = refinement_at{k, s.w3, slot, 0};
                    for (uint32_t a = k + 1; a < count; a++) {
                        cell t = spec_at(a);
                        if (t.type() != T_typeset) break;
                        if (arg_kind(t) != KIND_RETURN) r.nargs++;
                    }
                    return true;
                }
                slot++;
            }
        }
        return false;
    }

    // The refinement [el] names (a word or refinement), or the errors; [named] holds the
    // refinements named so far.
    refinement_at lookup(const cell& el, const cell& dup_in, named_set& named) {
        refinement_at r{};
        if (!find(el.w2, r)) {
            cell name = site.name;
            error::raise(error::cat_script, error::script_no_refine, &name, &el);
        }
        if (named.seen(r.number))
            error::raise(error::cat_script, error::script_dup_refine, &dup_in);
        return r;
    }

    // Switches refinement [r] on or off and takes its arguments from [pos] (with [skip], an
    // argument of a refinement that is off is passed over unevaluated).
    uint32_t use(const refinement_at& r, bool on, uint32_t pos, bool skip) {
        if (positions) {
            if (on && r.number <= MAX_NATIVE_REFS)
                refinement_params()[r.number - 1] =
                    r.nargs ? static_cast<int32_t>(es.top - es.base) : 0;
        } else {
            *stack::arg(r.slot) = logic::make_value(on);
        }
        uint32_t slot = r.slot + 1;
        for (uint32_t k = r.k + 1; k < count; k++) {
            cell s = spec_at(k);
            if (s.type() != T_typeset) break;
            uint32_t kind = arg_kind(s);
            if (kind == KIND_RETURN) continue;
            if (skip) {
                if (at(c, pos)) pos++;
            } else {
                pos = fetch_one(s, kind, slot, pos);
                if (es.throw_code) return pos;
                if (!positions) {
                    if (on) *stack::arg(slot) = es.top[-1];
                    stack::pop(1);
                } else if (!on) {
                    stack::pop(1);
                }
            }
            slot++;
        }
        return pos;
    }

    // The refinements a path names after the function's own element, in the path's order.
    uint32_t path_refinements(uint32_t pos) {
        named_set named;
        cell path = *site.path;
        cell whole = path;
        whole.w1 = 0;
        uint32_t n = tail_of(&path);
        for (uint32_t e = path.w1; e < n; e++) {
            cell el = block::cells_of(path.w2)[e];
            bool on = true;
            if (el.type() == T_get_word) {
                on = logic::is_true(context::get_value(&el), false);
            } else if (el.type() != T_word) {
                error::raise(error::cat_script, error::script_bad_refine, &el);
            }
            refinement_at r = lookup(el, whole, named);
            pos = use(r, on, pos, false);
            if (es.throw_code) return pos;
        }
        return pos;
    }

    // apply: refinement! values in the block, each followed by an expression whose truth
    // switches it, then its arguments.
    uint32_t block_refinements(uint32_t pos) {
        named_set named;
        for (;;) {
            const cell* v = at(c, pos);
            if (!v || v->type() != T_refinement) return pos;
            cell el = *v;
            refinement_at r = lookup(el, c.block, named);
            bool on = false;
            if (at(c, ++pos)) {
                pos = expr(c, pos, false, false);
                if (es.throw_code) return pos;
                on = logic::is_true(es.top - 1, false);
                stack::pop(1);
            }
            pos = use(r, on, pos, !on && (site.mode & PATH_SKIP_OFF));
            if (es.throw_code) return pos;
        }
    }

    void push_locals() {
        if (positions || locals == 0) return;
        stack::push(&false_value);
        for (uint32_t i = 1; i < locals; i++) stack::push(&none_value);
    }
};

// The context a function's compiled code runs in: the object it was selected from, else the
// context its series records, else its name's.
node_id run_context(const cell* f, const call_site& site) {
    if (site.owner && site.owner != context::global()) return site.owner;
    const cell* extra = function::series_cell(f, function::FN_EXTRA);
    if (extra->type() == T_integer) return extra->w2;
    return site.name.w1;
}

// Runs [f] on the gathered frame.
void invoke(const cell* f, gather& g, const call_site& site) {
    switch (f->type()) {
    case T_native: {
        natives::entry_fn e = f->w1 < natives::CAPACITY ? natives::entry(f->w1 + 1) : nullptr;
        if (!e) error::raise(error::cat_internal, error::internal_not_done);
        if (g.nrefs == 0) { // the common case, without the table of arities
            reinterpret_cast<void (*)(int32_t)>(e)(0);
        } else {
            natives::call(e, true, 0, g.nrefs, g.refinement_params()); // checked here already
        }
        break;
    }
    case T_action: {
        action_fn e = f->w1 < ACTION_SLOTS ? actions::generic[f->w1] : nullptr;
        if (!e) error::raise(error::cat_internal, error::internal_not_done);
        if (g.nrefs == 0) {
            e();
        } else {
            natives::call(reinterpret_cast<natives::entry_fn>(e), false, 0, g.nrefs,
                          g.refinement_params());
        }
        break;
    }
    case T_routine: call_routine(f); break;
    default: exec_function(f, run_context(f, site), &site.ref); break;
    }
}

// Gathers the arguments of [f] (in the frame just pushed) and runs it.
uint32_t fetch_args(const cell* f, const code& c, uint32_t pos, call_site& site) {
    gather g(f, c, site);
    pos = g.fixed(pos);
    if (es.throw_code) return pos;
    if (site.path) {
        pos = g.path_refinements(pos);
    } else if (site.mode & PATH_REFINEMENTS) {
        pos = g.block_refinements(pos);
    }
    if (es.throw_code) return pos;
    g.push_locals();
    if (is.events) {
        trace_at(EV_CALL, &c.block, pos, &site.ref, f);
        if (es.throw_code) return pos;
    }
    invoke(f, g, site);
    return pos;
}

// A return or exit ends at [frame]: its value is in the frame's cell 0. A frame above that a
// native made a return target itself is dropped first.
void settle_return_at(call_frame* frame) {
    if (es.ftop > frame && es.ftop - 1 > frame) {
        cell result = *es.base;
        while (es.ftop - 1 > frame) stack::pop_frame();
        *es.base = result;
        es.top = es.base;
    }
    es.throw_code = THROW_NONE;
}

// While a function body runs: its context reads the frame's cells, its frame is a return
// target, and the interpreter's mode is the function's. All put back when the body ends,
// however it ends.
struct body_scope {
    node_id ctx;
    uint32_t saved_values;
    call_frame* frame;
    bool saved_compiled;
    bool saved_tracing;
    bool tracing_changed;

    body_scope(const cell* f, bool compiled)
        : ctx(f->w1), saved_values(0), frame(es.ftop > es.fbottom ? es.ftop - 1 : nullptr),
          saved_compiled(is.compiled), saved_tracing(is.tracing),
          tracing_changed((f->header & (FUNC_TRACE | FUNC_NO_TRACE)) != 0) {
        if (ctx && context::on_stack(ctx)) {
            cell* cc = context::cell_of(ctx);
            saved_values = cc->w2;
            cc->w2 = static_cast<uint32_t>(es.base - es.bottom) + 1;
        } else {
            ctx = 0;
        }
        if (frame) frame->header |= FRAME_RETURN_TARGET;
        if (f->header & FUNC_TRACE) {
            is.tracing = is.default_tracing;
        } else if (f->header & FUNC_NO_TRACE) {
            is.tracing = false;
        }
        is.compiled = compiled;
        is.events = is.tracing && !is.compiled;
    }
    ~body_scope() {
        if (ctx) context::cell_of(ctx)->w2 = saved_values;
        is.compiled = saved_compiled;
        if (tracing_changed) is.tracing = saved_tracing;
        is.events = is.tracing && !is.compiled;
    }
    body_scope(const body_scope&) = delete;
    body_scope& operator=(const body_scope&) = delete;

    bool frame_alive() const { return frame && es.ftop > frame; }
    void clear_return() {
        if (frame_alive()) frame->header &= ~FRAME_RETURN_TARGET;
    }
    void settle_return() {
        if (frame) {
            settle_return_at(frame);
        } else {
            es.throw_code = THROW_NONE;
        }
    }
};

// Points a running function's context at its frame and back, however the body ends.
struct values_scope {
    node_id ctx;
    uint32_t saved;
    explicit values_scope(node_id c) : ctx(c) {
        cell* cc = context::cell_of(c);
        saved = cc->w2;
        cc->w2 = static_cast<uint32_t>(es.base - es.bottom) + 1;
    }
    ~values_scope() { context::cell_of(ctx)->w2 = saved; }
    values_scope(const values_scope&) = delete;
    values_scope& operator=(const values_scope&) = delete;
};

// exec_body in the common case: an interpreted function, not the library's, no tracing
// flags, events off, called from interpreted code. The body walks in the call's own frame,
// above its arguments and locals. [kept]: something else keeps [f]'s body alive (else a
// function off the stack has it rooted here). Answers false when the case does not hold.
ZYL_INLINE bool exec_body_plain(const cell* f, bool kept) {
    if ((f->header & (FUNC_TRACE | FUNC_NO_TRACE | FUNC_LIBRARY)) || is.compiled || is.events)
        return false;
    node_id ctx = f->w1;
    if (!ctx || !context::on_stack(ctx) || es.ftop == es.fbottom) return false;
    cell body = *function::series_cell(f, function::FN_BODY);
    call_frame* frame = es.ftop - 1;
    frame->header |= FRAME_RETURN_TARGET;
    values_scope values(ctx);
    if (body.type() == T_block) {
        // A function in the stack (a call's result cell) keeps its body alive; run-time code
        // may call one it holds elsewhere.
        root_guard keep_body(&body, !kept && off_stack(f));
        walk_here(make_code(&body, tail_of(&body)));
    } else {
        stack::set_last_keep(&unset_value);
    }
    if (es.ftop > frame) frame->header &= ~FRAME_RETURN_TARGET;
    if (es.throw_code == THROW_RETURN || es.throw_code == THROW_EXIT) settle_return_at(frame);
    return true;
}

void exec_body(const cell* f, const cell* ref) {
    if (exec_body_plain(f, false)) return;
    cell body = *function::series_cell(f, function::FN_BODY);
    body_scope scope(f, (f->header & FUNC_LIBRARY) != 0);
    if (is.events) {
        trace_at(EV_PROLOG, &body, -1, ref, f);
        if (es.throw_code) {
            scope.clear_return();
            return;
        }
    }
    if (body.type() == T_block) {
        eval_block(&body, true);
    } else {
        stack::set_last_keep(&unset_value);
    }
    if (is.events) {
        uint32_t pending = es.throw_code; // kept aside while the tracer runs
        es.throw_code = THROW_NONE;
        trace_at(EV_EPILOG, &body, -1, ref, scope.frame_alive() ? es.base : nullptr);
        if (es.throw_code == THROW_NONE) es.throw_code = pending;
    }
    scope.clear_return();
    if (es.throw_code == THROW_RETURN || es.throw_code == THROW_EXIT) scope.settle_return();
}

void exec_code(const cell* f, int32_t index) {
    routine::code_fn code = routine::code_at(index);
    if (!code) error::raise(error::cat_internal, error::internal_routines);
    body_scope scope(f, true);
    code();
    scope.clear_return();
    if (es.throw_code == THROW_RETURN || es.throw_code == THROW_EXIT) scope.settle_return();
}

} // namespace

// {== Call specs

namespace {

// The shape word of call spec [spec] (see SHAPE_SIMPLE).
uint32_t call_shape(node_id spec, bool positions, uint32_t last) {
    uint32_t n = static_cast<uint32_t>(series::length(spec));
    const cell* s = block::cells_of(spec);
    uint32_t fixed = 0;
    uint32_t k = 0;
    constexpr cell any = typeset::all_types();
    uint32_t untyped = SHAPE_UNTYPED;
    for (; k < n && s[k].type() == T_typeset; k++) {
        if (arg_kind(s[k]) != KIND_NORMAL) return 0;
        if (s[k].w1 != any.w1 || s[k].w2 != any.w2 || s[k].w3 != any.w3) untyped = 0;
        fixed++;
    }
    bool refinements = k < n && s[k].type() == T_refinement;
    if (fixed > SHAPE_FIXED_MASK || last > 0xFFFF || (refinements && !positions)) return 0;
    if (positions && last > MAX_NATIVE_REFS) return 0;
    return SHAPE_SIMPLE | untyped | fixed | last << SHAPE_LAST_SHIFT;
}

} // namespace

node_id build_arg_spec(const cell* fn) {
    cell f = callee(fn);
    if (const cell* cached = spec_slot(&f); cached->type() == T_block) return cached->w2;
    collector::keep keep_fn(&f);
    node_id out = series::alloc_cells(8);
    collector::keep_node keep_out(&out);
    uint32_t refs = 0;
    uint32_t locals = 0;
    bool in_locals = false;
    for (uint32_t i = 0; i < series::length(f.w2); i++) {
        cell v = block::cells_of(f.w2)[i];
        switch (v.type()) {
        case T_word:
        case T_get_word:
        case T_lit_word:
            if (in_locals) {
                if (v.type() == T_word) locals++;
                break;
            }
            i = append_typeset(out, f.w2, i,
                               v.type() == T_word       ? KIND_NORMAL
                               : v.type() == T_get_word ? KIND_GET
                                                        : KIND_LIT);
            break;
        case T_refinement:
            if (symbol::resolve(v.w2) == words.local) {
                in_locals = true;
                locals = 1;
            } else if (!in_locals) {
                series::append_value(out, cell{T_refinement, 0, v.w2, ++refs});
            }
            break;
        case T_set_word:
            if (symbol::resolve(v.w2) != words.return_) {
                cell spec{T_block, 0, f.w2, 0};
                error::raise(error::cat_script, error::script_bad_func_def, &spec);
            }
            in_locals = false;
            i = append_typeset(out, f.w2, i, KIND_RETURN);
            break;
        default: break; // the attribute block, doc strings
        }
    }
    if (!takes_positions(f.type()) && f.w1) {
        // A frame needs one cell per context word whatever the spec holds after /local.
        uint32_t slots = 0;
        for (uint32_t k = 0, n = static_cast<uint32_t>(series::length(out)); k < n; k++) {
            const cell* s = block::cells_of(out) + k;
            if (s->type() == T_refinement ||
                (s->type() == T_typeset && arg_kind(*s) != KIND_RETURN))
                slots++;
        }
        uint32_t words = context::word_count(f.w1);
        if (words > slots + locals) locals = words - slots;
    }
    uint32_t last = takes_positions(f.type()) ? refs : locals;
    if (last) series::append_value(out, integer::make_value(static_cast<int32_t>(last)));
    *spec_slot(&f) = cell{T_block, 0, out, call_shape(out, takes_positions(f.type()), last)};
    return out;
}

void push_refinement_defaults(const cell* spec) {
    uint32_t n = static_cast<uint32_t>(series::length(spec->w2));
    const cell* s = block::cells_of(spec->w2);
    bool after = false;
    for (uint32_t i = spec->w1; i < n; i++) {
        uint8_t t = s[i].type();
        if (t == T_refinement) {
            stack::push(&false_value);
            after = true;
        } else if (after && (t == T_word || t == T_get_word || t == T_lit_word)) {
            stack::push(&none_value);
        }
    }
}

// }==
// {== Calls

namespace detail {

cell op_source(const cell* fn) {
    uint8_t source = op::source_type(fn);
    cell f = *fn;
    f.header = (fn->header & ~(CELL_TYPE_MASK | OP_SOURCE_MASK)) | source;
    if ((source == T_function || source == T_routine) && f.w1) {
        const cell* owner = context::owner_of(f.w1); // the function itself, flags and all
        if (owner->type() == source && owner->w3 == f.w3) f = *owner;
    }
    return f;
}

void plain_no_arg(const cell* name, const cell* fn, uint32_t slot) {
    call_site site{*name, *name, nullptr, 0, 0, false};
    no_arg(site, fn, slot);
}

void plain_expect_arg(const cell* name, const cell* fn, uint32_t slot, uint8_t type) {
    call_site site{*name, *name, nullptr, 0, 0, false};
    expect_arg(site, fn, slot, type);
}

// A prefix call with no path, no apply mode and no events, of a callable whose call spec has
// a simple shape ([spec_cell] its cached spec cell): the arguments are fetched by count and
// the callee runs without a walk of its spec.
uint32_t call_plain(const cell* fnp, const cell* spec_cell, const code& c, uint32_t pos,
                    const cell* name_at, const cell* ref_at) {
    uint32_t shape = spec_cell->w3;
    node_id spec = spec_cell->w2;
    cell name_cell = *name_at; // both may lie in the block, which evaluation can move
    cell ref_cell = *ref_at;
    const cell* name = &name_cell;
    const cell* ref = &ref_cell;
    // A native's result cell keeps it alive; a function's result goes to its frame's cell 0
    // (where the caller wants it), so it is kept by a root instead of a cell.
    uint8_t t = fnp->type();
    cell fn_cell = *fnp;
    root_guard keep_fn(&fn_cell, t == T_function);
    cell* fn = t == T_function ? &fn_cell : stack::push(fnp);
    stack::mark(name, frame_bits(t == T_function ? MARK_INTERP_FUNC : MARK_INTERP_NATIVE));
    uint32_t fixed = shape & SHAPE_FIXED_MASK;
    for (uint32_t k = 0; k < fixed; k++) {
        const cell* v = at(c, pos);
        if (!v) plain_no_arg(name, fn, k);
        if (is_inert(v->type()) && !may_continue(c, pos + 1) && !is.events) {
            stack::push(v); // a block or other literal with no operator after it
            pos++;
        } else {
            pos = expr_from(c, pos, v, false, false);
            if (es.throw_code) return pos;
        }
        uint8_t vt = es.top[-1].type();
        bool taken = (shape & SHAPE_UNTYPED) ? vt != T_unset
                                             : error::typeset_has(block::cells_of(spec) + k, vt);
        if (!taken) [[unlikely]]
            plain_expect_arg(name, fn, k, vt);
    }
    uint32_t last = shape >> SHAPE_LAST_SHIFT & 0xFFFF;
    switch (t) {
    case T_native: {
        natives::entry_fn e = fn->w1 < natives::CAPACITY ? natives::entry(fn->w1 + 1) : nullptr;
        if (!e) error::raise(error::cat_internal, error::internal_not_done);
        if (last == 0) {
            reinterpret_cast<void (*)(int32_t)>(e)(0);
        } else {
            natives::call(e, true, 0, last, UNUSED_REFS);
        }
        break;
    }
    case T_action: {
        action_fn e = fn->w1 < ACTION_SLOTS ? actions::generic[fn->w1] : nullptr;
        if (!e) error::raise(error::cat_internal, error::internal_not_done);
        if (last == 0) {
            e();
        } else {
            natives::call(reinterpret_cast<natives::entry_fn>(e), false, 0, last, UNUSED_REFS);
        }
        break;
    }
    default: { // function!
        if (last) {
            stack::push(&false_value); // /local
            for (uint32_t i = 1; i < last; i++) stack::push(&none_value);
        }
        const cell* code_cell = function::series_cell(fn, function::FN_CODE);
        if (code_cell->type() == T_integer) {
            exec_code(fn, static_cast<int32_t>(code_cell->w2));
        } else if (!exec_body_plain(fn, true)) {
            exec_body(fn, ref);
        }
        if (es.throw_code) return pos;
        stack::unwind();
        return pos;
    }
    }
    if (es.throw_code) return pos;
    stack::unwind();
    stack::move_top_down();
    return pos;
}

uint32_t call(const cell* fn, const code& c, uint32_t pos, call_site& site) {
    native_stack::check();
    if (!site.infix && !site.path && !site.mode && !is.events) {
        uint8_t t = fn->type();
        if (t == T_native || t == T_action || t == T_function) {
            const cell* sc = spec_slot(fn);
            if (sc->type() == T_block && (sc->w3 & SHAPE_SIMPLE))
                return call_plain(fn, sc, c, pos, &site.name, &site.ref);
        }
    }
    // A prefix call keeps its function in its result cell, but only from step 3 on: a tracer
    // running before may rebind the word it came from.
    root_guard keep_fn(fn, site.infix || is.events);
    if (is.events) {
        trace_at(EV_OPEN, &c.block, pos, &site.ref, fn);
        if (es.throw_code) return pos;
    }
    if (!site.infix) stack::push(fn);
    cell f = callee(fn);
    uint8_t t = f.type();
    if (!is_callable(t)) runtime_error(RT_NO_SWITCH);
    uint32_t bits = frame_bits(t == T_function ? MARK_INTERP_FUNC : MARK_INTERP_NATIVE);
    if (site.infix) {
        es.top--; // the left operand becomes the frame's cell 0
        stack::mark(&site.name, bits);
        es.top++;
    } else {
        stack::mark(&site.name, bits);
    }
    uint32_t j = fetch_args(&f, c, pos, site);
    if (es.throw_code) return j;
    stack::unwind();
    if (is.events) {
        trace_at(EV_RETURN, &c.block, j, &site.ref, es.top - 1);
        if (es.throw_code) return j;
    }
    if (!site.infix) stack::move_top_down();
    return j;
}

void finish_infix_call(const cell* op, const cell* name) {
    cell f = callee(op);
    call_site site{*name, *name, nullptr, 0, 0, true};
    code none_code = make_code(nullptr, 0);
    gather g(&f, none_code, site);
    g.fixed_from(nullptr, static_cast<uint32_t>(es.top - es.base));
    g.push_locals();
    invoke(&f, g, site);
    if (es.throw_code) return;
    stack::unwind();
}

} // namespace detail

uint32_t call_function(const cell* fn, const cell* block, uint32_t pos, uint32_t tail, bool push,
                       const cell* name, const cell* path, uint32_t mode) {
    code c = make_code(block, tail);
    root_guard keep_block(&c.block);
    cell frame_name = frame_word(es.anon_symbol);
    if (name && name->type() == T_word) frame_name = *name;
    cell p = path ? *path : none_value;
    call_site site{frame_name, name ? *name : none_value, path ? &p : nullptr, 0, mode, false};
    cell f = *fn;
    uint32_t j = call(&f, c, pos, site);
    if (es.throw_code) return j;
    if (!push) stack::set_last_keep(es.top - 1);
    return j;
}

void exec_function(const cell* fn, node_id ctx, const cell* ref) {
    (void)ctx; // compiled code here is C++ reading its frame: it needs no context argument
    cell f = callee(fn);
    if (f.type() == T_routine) {
        call_routine(&f);
        return;
    }
    const cell* code = function::series_cell(&f, function::FN_CODE);
    if (code->type() == T_integer) {
        exec_code(&f, static_cast<int32_t>(code->w2));
    } else {
        exec_body(&f, ref);
    }
}

void call_routine(const cell* fn) {
    const cell* code = function::series_cell(fn, function::FN_CODE);
    routine::code_fn f =
        code->type() == T_integer ? routine::code_at(static_cast<int32_t>(code->w2)) : nullptr;
    if (!f) error::raise(error::cat_internal, error::internal_routines);
    f();
}

cell* call_with(const cell* fn, const cell* args, uint32_t argc) {
    native_stack::check();
    cell* result = stack::push(fn);
    cell f = callee(fn);
    if (!is_callable(f.type())) error::raise(error::cat_script, error::script_invalid_arg, &f);
    call_site site{frame_word(es.anon_symbol), none_value, nullptr, 0, 0, false};
    code none_code = make_code(nullptr, 0);
    build_arg_spec(&f); // before the frame: the arguments are pushed with no allocation between
    stack::mark(&site.name,
                frame_bits(f.type() == T_function ? MARK_INTERP_FUNC : MARK_INTERP_NATIVE));
    gather g(&f, none_code, site);
    g.fixed_from(args, argc);
    g.push_locals();
    invoke(&f, g, site);
    if (es.throw_code) return nullptr;
    stack::unwind();
    stack::move_top_down();
    return result;
}

// }==

} // namespace zyl::interp
