// gui/terminal/draw_dialect.cpp: the draw dialect's interpreter in cells: the run of a block,
// the commands' arguments, pen specifications, line styles, shape blocks and the errors.
//
// The run holds its block as a node and a position and reads each value afresh, so nothing
// here keeps a pointer into a series across a set-word (which may run an on-change hook) or an
// error report.
#include "gui/terminal/draw_dialect.h"

#include <cmath>
#include <unordered_map>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/event.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/system_fields.h"
#include "datatypes/word.h"
#include "gui/terminal/face_painter.h"
#include "runtime/cycles.h"
#include "runtime/error.h"

namespace zyl::tui {

namespace {

enum cmd : uint8_t {
    C_NONE, C_PEN, C_FILL_PEN, C_LINE, C_LINE_WIDTH, C_LINE_JOIN, C_LINE_CAP, C_LINE_PATTERN, C_BOX,
    C_TRIANGLE, C_POLYGON, C_CIRCLE, C_ELLIPSE, C_ANTI_ALIAS, C_FONT, C_TEXT, C_ARC, C_CURVE, C_SPLINE,
    C_IMAGE, C_SHADOW, C_CLIP, C_SHAPE, C_ROTATE, C_SCALE, C_TRANSLATE, C_SKEW, C_TRANSFORM, C_MATRIX,
    C_RESET_MATRIX, C_INVERT_MATRIX, C_PUSH,
    // Words read as arguments.
    W_OFF, W_LINEAR, W_RADIAL, W_DIAMOND, W_PATTERN, W_BITMAP, W_PAD, W_REPEAT, W_REFLECT, W_TILE,
    W_FLIP_X, W_FLIP_Y, W_FLIP_XY, W_CLAMP, W_CLOSED, W_BORDER, W_CROP, W_INSET, W_REPLACE, W_INTERSECT,
    W_UNION, W_XOR, W_EXCLUDE,
    // Path commands of shape blocks.
    P_MOVE, P_HLINE, P_VLINE, P_CURV, P_QCURVE, P_QCURV, P_CLOSE, W_SWEEP, W_LARGE,
};

constexpr const char* names[] = {
    "", "pen", "fill-pen", "line", "line-width", "line-join", "line-cap", "line-pattern", "box",
    "triangle", "polygon", "circle", "ellipse", "anti-alias", "font", "text", "arc", "curve", "spline",
    "image", "shadow", "clip", "shape", "rotate", "scale", "translate", "skew", "transform", "matrix",
    "reset-matrix", "invert-matrix", "push",
    "off", "linear", "radial", "diamond", "pattern", "bitmap", "pad", "repeat", "reflect", "tile",
    "flip-x", "flip-y", "flip-xy", "clamp", "closed", "border", "crop", "inset", "replace", "intersect",
    "union", "xor", "exclude",
    "move", "hline", "vline", "curv", "qcurve", "qcurv", "close", "sweep", "large",
};

std::unordered_map<uint32_t, uint8_t>* words = nullptr;
uint32_t words_start = 0; // the run-time start the symbols belong to

void intern_words() {
    if (words && words_start == event::starts) return;
    if (!words) words = new std::unordered_map<uint32_t, uint8_t>();
    words->clear();
    words_start = event::starts;
    for (uint8_t i = 1; i < sizeof(names) / sizeof(names[0]); i++) (*words)[symbol::resolve(symbol::make(names[i]))] = i;
}

// The dialect word [v] names, or C_NONE.
uint8_t word_id(const cell* v) {
    auto it = words->find(symbol::resolve(v->w2));
    return it == words->end() ? uint8_t(C_NONE) : it->second;
}

bool silent() {
    const cell* v = system_fields::get(system_fields::VIEW_SILENT);
    return v && v->type() == T_logic && v->w1;
}

struct run {
    screen* s;
    draw_state* d;
    bool report;
    node_id node = 0; // the block being read
    uint32_t len = 0;
    cell block{};     // the block as given (its header), for error arguments

    const cell* at(uint32_t i) const { return block::cells_of(node) + i; }
    uint8_t type_at(uint32_t i) const { return i < len ? at(i)->type() : uint8_t(T_unset); }

    // Ends the run at the value at [pos]; [infinite]: the block itself is already being drawn.
    [[noreturn]] void fail(uint32_t pos, bool infinite = false) {
        const cell* v = pos < len ? at(pos) : nullptr;
        infinite = infinite || (v && v->type() == T_block && v->w2 == node);
        cell arg = block;
        if (!infinite) arg.w1 = pos;
        int32_t id = infinite ? error::script_draw_infinite : error::script_draw_invalid;
        bool held = cycles::cs.top > 0;
        cycles::reset();
        if (silent() && (report || held)) throw draw_stop{!report};
        if (report) {
            error::print_new(error::cat_script, id, &arg, nullptr, nullptr);
            throw draw_stop{false};
        }
        error::raise(error::cat_script, id, &arg);
    }

    // The value of the word at [pos]; in report mode an unset index or a function's context is
    // invalid input there.
    cell word_value(uint32_t pos) {
        cell w = *at(pos);
        if (report) {
            if (w.w1 == 0 || int32_t(w.w3) < 0 || context::on_stack(w.w1)) fail(pos);
        }
        return *context::get_value(&w);
    }

    static bool is_point(uint8_t t) { return t == T_pair || t == T_point2d; }
    static bool is_number(uint8_t t) { return t == T_integer || t == T_float_; }
    static bool is_scale(uint8_t t) { return is_number(t) || t == T_percent; }
    bool point(uint32_t i) const { return is_point(type_at(i)); }
    bool number(uint32_t i) const { return is_number(type_at(i)); }
    bool word_is(uint32_t i, uint8_t id) const { return type_at(i) == T_word && word_id(at(i)) == id; }

    // A colour at [i]: a tuple, or a word whose value is one; its code goes to [out].
    bool colour(uint32_t i, uint32_t* out = nullptr) {
        if (type_at(i) == T_tuple) {
            if (out) *out = color_of(at(i));
            return true;
        }
        if (type_at(i) != T_word) return false;
        cell v = word_value(i);
        if (v.type() != T_tuple) return false;
        if (out) *out = color_of(&v);
        return true;
    }

    uint32_t need_point(uint32_t i) {
        if (!point(i)) fail(i);
        return i + 1;
    }
    uint32_t need_number(uint32_t i) {
        if (!number(i)) fail(i);
        return i + 1;
    }
    uint32_t points_from(uint32_t i) const {
        uint32_t n = 0;
        while (point(i + n)) n++;
        return n;
    }

    static int64_t coord(const cell* p, int k) {
        if (p->type() == T_pair) return k ? pair::get_y(p) : pair::get_x(p);
        float f = point::get(p, k);
        return f != f ? 0 : f <= -9.2e18f ? INT64_MIN / 4 : f >= 9.2e18f ? INT64_MAX / 4 : int64_t(f);
    }
    int64_t px(uint32_t i) const { return coord(at(i), 0); }
    int64_t py(uint32_t i) const { return coord(at(i), 1); }
    double num(uint32_t i) const {
        const cell* v = at(i);
        return v->type() == T_integer ? double(integer::get(v)) : float_::get(v);
    }
    static int64_t trunc64(double d) { return d != d ? 0 : d <= -4e18 ? int64_t(-4e18) : d >= 4e18 ? int64_t(4e18) : int64_t(d); }

    // An optional lit-word of pen or fill-pen after a transformation.
    uint32_t matrix_target(uint32_t i) const {
        if (type_at(i) == T_lit_word) {
            uint8_t id = word_id(at(i));
            if (id == C_PEN || id == C_FILL_PEN) return i + 1;
        }
        return i;
    }

    void run_block(const cell* blk);
    void run_nested(uint32_t i) {
        cell nested = *at(i);
        run saved = *this;
        run_block(&nested);
        *this = saved;
    }
    void enter(const cell* blk);
    void set_position(uint32_t i);
    uint32_t command(uint32_t i, uint8_t c);
    uint32_t pen_spec(uint32_t i, bool fill);
    uint32_t gradient(uint32_t i, uint8_t kind);
    void shape_spec(const cell* blk);
};

// Makes [blk] the block being read: a block that holds itself fails at its position, and one
// nested deeper than the cycle stack allows is reported like any bad input of the run.
void run::enter(const cell* blk) {
    node = blk->w2;
    block = *blk;
    len = series::rs_abs_length_q(blk);
    if (cycles::find(node)) fail(blk->w1, true);
    if (cycles::cs.top + 1 >= cycles::CAPACITY && report) {
        cycles::reset();
        error::print_new(error::cat_internal, error::internal_too_deep, nullptr, nullptr, nullptr);
        throw draw_stop{false};
    }
}

// A set-word in a draw block takes the block at the position after it. Setting it may run a
// change hook that alters the block, so its length is read again.
void run::set_position(uint32_t i) {
    cell w = *at(i);
    if (report && w.w1 && context::on_stack(w.w1)) fail(i);
    cell target = block;
    target.w1 = i + 1;
    context::set_value(&w, &target);
    len = series::rs_abs_length_q(&block);
}

void run::run_block(const cell* blk) {
    enter(blk);
    cycles::entry guard(node); // raises too-deep in raise mode
    for (uint32_t i = blk->w1; i < len;) {
        uint8_t t = at(i)->type();
        if (t == T_word) {
            uint8_t c = word_id(at(i));
            if (c == C_NONE || c > C_PUSH) fail(i);
            i = command(i, c);
        } else if (t == T_set_word) {
            set_position(i++);
        } else if (t == T_block) {
            if (at(i)->w2 == node) fail(i);
            run_nested(i);
            i++;
        } else {
            fail(i);
        }
    }
}

uint32_t run::command(uint32_t at_cmd, uint8_t c) {
    uint32_t i = at_cmd + 1;
    switch (c) {
    case C_PEN:
    case C_FILL_PEN: return pen_spec(i, c == C_FILL_PEN);
    case C_LINE:
    case C_POLYGON: {
        uint32_t n = points_from(i), need = c == C_LINE ? 2 : 3;
        if (n < need) fail(n ? i + n - 1 : at_cmd);
        if (c == C_LINE)
            for (uint32_t k = 0; k + 1 < n; k++) prim_line(*s, *d, px(i + k), py(i + k), px(i + k + 1), py(i + k + 1));
        return i + n;
    }
    case C_LINE_WIDTH: return need_number(i);
    case C_LINE_JOIN:
    case C_LINE_CAP:
        if (type_at(i) != T_word) fail(i);
        return i + 1;
    case C_LINE_PATTERN:
        while (type_at(i) == T_integer) i++;
        return i;
    case C_BOX: {
        uint32_t a = i;
        i = need_point(need_point(i));
        if (number(i)) i++; // the corner radius has no cells
        prim_box(*s, *d, px(a), py(a), px(a + 1), py(a + 1));
        return i;
    }
    case C_TRIANGLE: {
        uint32_t a = i;
        i = need_point(need_point(need_point(i)));
        int64_t xs[3] = {px(a), px(a + 1), px(a + 2)}, ys[3] = {py(a), py(a + 1), py(a + 2)};
        prim_triangle(*s, *d, xs, ys);
        return i;
    }
    case C_CIRCLE: {
        uint32_t a = i;
        i = need_number(need_point(i));
        uint32_t r = i - 1;
        if (number(i)) r = i++;
        prim_circle(*s, *d, px(a), py(a), trunc64(num(r)));
        return i;
    }
    case C_ELLIPSE: {
        uint32_t a = i;
        i = need_point(need_point(i));
        prim_ellipse_in(*s, *d, px(a), py(a), px(a + 1), py(a + 1));
        return i;
    }
    case C_ANTI_ALIAS:
        if (type_at(i) != T_word) fail(at_cmd);
        return i + 1;
    case C_FONT: {
        cell f;
        if (type_at(i) == T_object) f = *at(i);
        else if (type_at(i) == T_word) f = word_value(i);
        else fail(i);
        if (f.type() != T_object) fail(i);
        uint32_t code;
        d->font_set = font_color(&f, code);
        d->font = d->font_set ? code : 0;
        return i + 1;
    }
    case C_TEXT: {
        uint32_t a = i;
        i = need_point(i);
        uint8_t t = type_at(i);
        if (t != T_string && t != T_object) fail(i);
        if (t == T_string) prim_text(*s, *d, px(a), py(a), span_of(at(i)));
        return i + 1;
    }
    case C_ARC:
        i = need_number(need_number(need_point(need_point(i))));
        return word_is(i, W_CLOSED) ? i + 1 : i;
    case C_CURVE:
        i = need_point(need_point(need_point(i)));
        return point(i) ? i + 1 : i;
    case C_SPLINE: {
        uint32_t n = points_from(i);
        if (n < 2) fail(i + n);
        i += n;
        return word_is(i, W_CLOSED) ? i + 1 : i;
    }
    case C_IMAGE: {
        bool image = type_at(i) == T_image || (type_at(i) == T_word && word_value(i).type() == T_image);
        if (!image) fail(i);
        i++;
        while (point(i)) i++;
        if (colour(i)) i++;
        if (word_is(i, W_BORDER)) return i + 1;
        if (word_is(i, W_CROP)) return need_point(need_point(i + 1));
        return i;
    }
    case C_SHADOW:
        if (type_at(i) == T_word) {
            if (word_id(at(i)) != W_OFF) fail(i);
            return i + 1;
        }
        if (type_at(i) != T_pair) fail(i);
        i++;
        if (type_at(i) == T_integer) i++;
        if (type_at(i) == T_integer) i++;
        if (colour(i)) i++;
        return word_is(i, W_INSET) ? i + 1 : i;
    case C_CLIP: {
        if (type_at(i) == T_block) {
            cell shape = *at(i);
            run saved = *this;
            shape_spec(&shape);
            *this = saved;
            i++;
        } else {
            i = need_point(need_point(i));
        }
        if (type_at(i) == T_word && word_id(at(i)) >= W_REPLACE && word_id(at(i)) <= W_EXCLUDE) i++;
        if (type_at(i) == T_block) run_nested(i++);
        return i;
    }
    case C_SHAPE: {
        if (type_at(i) != T_block) fail(i);
        cell shape = *at(i);
        run saved = *this;
        shape_spec(&shape);
        *this = saved;
        return i + 1;
    }
    case C_ROTATE:
        i = need_number(matrix_target(i));
        if (point(i)) i++;
        break;
    case C_SCALE:
        i = matrix_target(i);
        for (int k = 0; k < 2; k++, i++)
            if (!is_scale(type_at(i))) fail(i);
        if (point(i)) i++;
        break;
    case C_TRANSLATE: i = need_point(matrix_target(i)); break;
    case C_SKEW:
        i = need_number(matrix_target(i));
        if (number(i)) i++;
        if (point(i)) i++;
        break;
    case C_TRANSFORM:
        i = matrix_target(i);
        if (point(i)) i++;
        i = need_number(i);
        for (int k = 0; k < 2; k++, i++)
            if (!is_scale(type_at(i))) fail(i);
        i = need_point(i);
        break;
    case C_MATRIX: {
        i = matrix_target(i);
        if (type_at(i) != T_block) fail(i);
        cell m = *at(i);
        uint32_t mlen = series::rs_abs_length_q(&m), n = mlen > m.w1 ? mlen - m.w1 : 0;
        bool six = n == 6;
        for (uint32_t k = 0; six && k < 6; k++) six = is_number(block::cells_of(m.w2)[m.w1 + k].type());
        if (!six) fail(i - 1);
        return i + 1;
    }
    case C_RESET_MATRIX:
    case C_INVERT_MATRIX: return matrix_target(i);
    case C_PUSH:
        if (type_at(i) != T_block) fail(i);
        run_nested(i);
        return i + 1;
    default: fail(at_cmd);
    }
    // The transformations: an optional block drawn as it is (cells have no transformations).
    if (type_at(i) == T_block) run_nested(i++);
    return i;
}

uint32_t run::pen_spec(uint32_t i, bool fill) {
    if (i >= len) fail(i);
    if (type_at(i) == T_word) {
        uint8_t id = word_id(at(i));
        if (id == W_OFF) {
            (fill ? d->fill_on : d->pen_on) = false;
            return i + 1;
        }
        if (id == W_LINEAR || id == W_RADIAL || id == W_DIAMOND) return gradient(i + 1, id);
        if (id == W_PATTERN) {
            i = need_point(i + 1);
            for (int k = 0; k < 2 && point(i); k++) i++;
            if (type_at(i) == T_word && word_id(at(i)) >= W_TILE && word_id(at(i)) <= W_CLAMP) i++;
            if (type_at(i) != T_block) fail(i);
            return i + 1;
        }
        if (id == W_BITMAP) {
            i++;
            if (type_at(i) != T_word || word_value(i).type() != T_image) fail(i);
            i++;
            for (int k = 0; k < 2 && point(i); k++) i++;
            if (type_at(i) == T_word && word_id(at(i)) >= W_TILE && word_id(at(i)) <= W_CLAMP) i++;
            return i;
        }
    }
    uint32_t code;
    if (!colour(i, &code)) fail(i);
    (fill ? d->fill : d->pen) = code;
    (fill ? d->fill_on : d->pen_on) = true;
    return i + 1;
}

uint32_t run::gradient(uint32_t i, uint8_t kind) {
    if (point(i)) {
        // The point form: a point, two integers, up to three numbers, then colour stops.
        i++;
        for (int k = 0; k < 2; k++, i++)
            if (type_at(i) != T_integer) fail(i);
        uint32_t last_number = i - 1;
        for (int k = 0; k < 3 && number(i); k++) last_number = i++;
        int colours = 0;
        for (;;) {
            if (colour(i)) colours++, i++;
            else if (type_at(i) == T_float_) last_number = i++;
            else break;
        }
        if (colours < 2) fail(last_number);
        return i;
    }
    for (int k = 0; k < 2; k++) {
        if (colour(i)) i++;
        if (type_at(i) == T_float_) i++;
    }
    while (colour(i)) {
        i++;
        if (type_at(i) == T_float_) i++;
    }
    if (point(i)) {
        i++;
        if (kind == W_LINEAR) {
            i = need_point(i);
        } else if (kind == W_RADIAL) {
            i = need_number(i);
            if (point(i)) i++;
        } else {
            i = need_point(i);
            if (point(i)) i++;
        }
    }
    if (type_at(i) == T_word && word_id(at(i)) >= W_PAD && word_id(at(i)) <= W_REFLECT) i++;
    return i;
}

void run::shape_spec(const cell* blk) {
    enter(blk);
    cycles::entry guard(node);
    for (uint32_t i = blk->w1; i < len;) {
        uint8_t t = at(i)->type();
        if (t == T_block) {
            if (at(i)->w2 == node) fail(i);
            cell nested = *at(i);
            run saved = *this;
            shape_spec(&nested);
            *this = saved;
            i++;
            continue;
        }
        if (t == T_set_word) {
            set_position(i++);
            continue;
        }
        if (t != T_word && t != T_lit_word) fail(i);
        uint8_t c = word_id(at(i));
        uint32_t a = i + 1, n;
        switch (c) {
        case P_MOVE: i = need_point(a); break;
        case C_LINE:
        case P_QCURV:
            if (!(n = points_from(a))) fail(a);
            i = a + n;
            break;
        case P_HLINE:
        case P_VLINE: i = need_number(a); break;
        case C_ARC:
            i = need_number(need_number(need_number(need_point(a))));
            for (int k = 0; k < 2 && (word_is(i, W_SWEEP) || word_is(i, W_LARGE)); k++) i++;
            break;
        case C_CURVE:
            if ((n = points_from(a)) < 3) fail(a);
            i = a + n;
            break;
        case P_CURV:
        case P_QCURVE:
            if ((n = points_from(a)) < 2) fail(a + n);
            i = a + n;
            break;
        case P_CLOSE: i = a; break;
        default: fail(i);
        }
    }
}

} // namespace

bool run_draw(screen& s, draw_state& d, const cell* commands, bool report) {
    if (commands->type() != T_block) return true;
    intern_words();
    run r{&s, &d, report};
    try {
        r.run_block(commands);
    } catch (const draw_stop&) {
        return false;
    }
    return true;
}

void draw_on_image(const cell* image, const cell* commands) {
    (void)image;
    if (commands->type() != T_block || series::rs_abs_length_q(commands) <= commands->w1) return;
    intern_words();
    draw_state d; // paints nothing: an image has no cells
    d.paints = false;
    d.clip = {0, 0, 0, 0};
    run r{&scr, &d, false};
    try {
        r.run_block(commands);
    } catch (const draw_stop& stop) {
        if (!stop.quiet) cycles::reset();
        if (!stop.quiet) throw;
    }
}

} // namespace zyl::tui
