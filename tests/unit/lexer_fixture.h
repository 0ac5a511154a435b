// tests/unit/lexer_fixture.h: a fixture for the lexer's tests: the run-time with the symbol
// table and the lexer, loading text, molding what it loaded, and reading raised syntax errors.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "datatypes/action_types.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/stack.h"
#include "lexer/lexer.h"
#include "runtime/case.h"
#include "runtime/error.h"
#include "runtime_fixture.h"

namespace zyl::testing {

struct LexerTest : RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        unicode::init_case_tables();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
        context::make_global();
        lexer::init();
    }
    void TearDown() override {
        context::forget_global();
        symbol::table = {};
        RuntimeTest::TearDown();
    }

    // Loads [text] into a block (or what [o] asks), on the evaluation stack so it stays rooted.
    static cell* load(std::string_view text, const lexer::options& o = {}, int64_t* consumed = nullptr,
                      int32_t* type = nullptr) {
        cell* result = stack::push(&none_value);
        cell* base = es.base;
        cell w{T_word, 0, 99, 0};
        stack::mark_try(&w);
        try {
            int32_t t = lexer::scan(result, reinterpret_cast<const uint8_t*>(text.data()), int64_t(text.size()), o,
                                    consumed);
            if (type) *type = t;
            stack::pop_frame();
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            ADD_FAILURE() << "loading raised " << e.category << "/" << e.id << ": " << text;
        }
        es.base = base; // the result stays on the stack, rooted
        es.top = result + 1;
        return result;
    }

    // The datatype a scan-only run answers for [text].
    static int32_t scan_type(std::string_view text, bool one_value = true) {
        lexer::options o;
        o.load = false;
        o.output = false;
        o.one_value = one_value;
        int32_t t = 0;
        load(text, o, nullptr, &t);
        return t;
    }

    // {== Molding
    //
    // The registered mold of a type when there is one; blocks, parens and words are molded
    // here otherwise, as their datatypes will, so the tests read the same either way.

    static std::string name_of(const cell* w) { return symbol::c_name(w->w2); }

    static std::string mold_cells(const cell* v, bool only, int indent) {
        const series_buffer* b = memory::buffer_of(v->w2);
        const cell* first = reinterpret_cast<const cell*>(b->head) + v->w1;
        const cell* end = reinterpret_cast<const cell*>(b->tail);
        std::string out = only ? "" : v->type() == T_paren ? "(" : "[";
        bool indented = false;
        for (const cell* c = first; c < end; c++) {
            if (c->header & CELL_NEW_LINE) {
                if (c == first && !only) {
                    indent++;
                    indented = true;
                }
                if (!(c == first && only)) out += '\n';
                out += std::string(size_t(indent) * 4, ' ');
            } else if (c != first) {
                out += ' ';
            }
            out += mold(c, indent);
        }
        if (indented) out += '\n' + std::string(size_t(indent - 1) * 4, ' ');
        if (!only) out += v->type() == T_paren ? ")" : "]";
        return out;
    }

    static std::string mold(const cell* v, int indent = 0) {
        auto entry = datatype::action_as<actions::mold_fn>(v->type(), A_mold);
        if (entry) {
            cell value = *v; // [v] may lie in a buffer that the next allocation moves
            cell* buffer = string::push_new(16);
            entry(&value, buffer, false, false, false, nullptr, 1 << 30, indent);
            std::string s = string::to_std(buffer);
            stack::pop(1);
            return s;
        }
        switch (v->type()) {
        case T_block: case T_paren: return mold_cells(v, false, indent);
        case T_word: return name_of(v);
        case T_set_word: return name_of(v) + ":";
        case T_get_word: return ":" + name_of(v);
        case T_lit_word: return "'" + name_of(v);
        case T_refinement: return "/" + name_of(v);
        case T_issue: return "#" + name_of(v);
        case T_datatype: return datatype::name_of(static_cast<uint8_t>(v->w1));
        default: return std::string("?") + datatype::name_of(v->type());
        }
    }

    // The molded contents of the block [text] loads to, without its brackets.
    static std::string loaded(std::string_view text) {
        cell* b = load(text);
        std::string s = mold_cells(b, true, 0);
        stack::pop(1);
        return s;
    }

    // }==
    // {== Errors

    struct syntax_error {
        bool raised = false;
        int32_t id = -1;
        std::string line; // arg1
        std::string what; // arg2 molded (datatype, char or near text)
        std::string near; // the near text
    };

    // Loads [text] under a try frame and reads the syntax error it raised.
    static syntax_error error_of(std::string_view text) {
        syntax_error e;
        cell w{T_word, 0, 99, 0};
        cell* saved = es.top;
        stack::mark_try(&w);
        try {
            cell* result = stack::push(&none_value);
            lexer::scan(result, reinterpret_cast<const uint8_t*>(text.data()), int64_t(text.size()), {});
            stack::pop_frame();
        } catch (const error::raised& r) {
            es.throw_code = THROW_NONE;
            const cell* err = es.top - 1;
            e.raised = r.category == error::cat_syntax;
            e.id = r.id;
            const cell* args = reinterpret_cast<const cell*>(memory::buffer_of(err->w1)->head);
            e.line = string::to_std(&args[0]);
            bool two = r.id == error::syntax_bad_char || r.id == error::syntax_malconstruct;
            e.what = two ? "" : mold(&args[1]);
            e.near = string::to_std(&args[two ? 1 : 2]);
        }
        es.top = saved;
        return e;
    }

    // }==
};

} // namespace zyl::testing
