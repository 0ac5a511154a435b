// tests/unit/function_test.cpp: function! and routine!: the spec rules and their errors,
// building values, the automatic locals of `function`, the function makers func, function,
// does and has, and the action entries, under collection stress too.
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/natives.h"
#include "runtime/extres.h"
#include "runtime/words.h"
#include "lexer_fixture.h"

using namespace zyl;
namespace ids = zyl::error::ids;

namespace {

struct FunctionTest : zyl::testing::LexerTest {
    void SetUp() override {
        LexerTest::SetUp();
        extres::init();
        words::build();
        words::build_refinements();
        actions::init();
        natives::init();
        for (uint32_t t = 1; t <= datatype::reg.highest; t++) {
            if (!datatype::reg.names[t].name) continue;
            cell v = datatype::make_value(static_cast<uint8_t>(t));
            set_global(datatype::reg.names[t].name, &v);
        }
        for (const auto& e : typeset::standard::table) set_global(e.name, &e.value);
        collector::gc.root_block = series::alloc_unmanaged(16, sizeof(cell), 0);
        collector::gc.active = true; // ZYL_GC_STRESS collects at every allocation from here
    }
    void TearDown() override {
        collector::gc.active = false;
        words::sym = {};
        words::global = {};
        words::loaded = {};
        words::refs = {};
        extres::shutdown();
        LexerTest::TearDown();
    }

    // The first value that [text] loads to, kept on the stack.
    static cell* L(std::string_view text) {
        cell* b = load(text);
        *b = *block::cells_of(b->w2);
        return b;
    }

    static void set_global(const char* name, const cell* v) {
        cell w = word::load(name);
        word::set_value(&w, v);
    }

    // What [body] raised: its category and id and its first argument molded.
    struct raised_error {
        int32_t category = -1;
        int32_t id = -1;
        std::string arg1;
    };
    template <typename F> static raised_error error_of(F body) {
        raised_error r;
        cell* saved = es.top;
        cell w{T_word, 0, 99, 0};
        stack::mark_try(&w);
        try {
            body();
            stack::pop_frame();
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            r.category = e.category;
            r.id = e.id;
            const cell* err = es.top - 1;
            if (error::is_bare(err)) r.arg1 = mold(block::cells_of(err->w1));
        }
        es.top = saved;
        return r;
    }
    // The id of the script error [body] raised, -1 for none or another category.
    template <typename F> static int32_t script_error(F body) {
        raised_error r = error_of(body);
        return r.category == ids::cat_script ? r.id : -1;
    }

    // make function! from the value [text] loads to; the result stays on the stack.
    static cell* func(std::string_view text) {
        cell* proto = stack::push(&none_value);
        *proto = datatype::make_value(T_function);
        cell* spec = L(text);
        actions::make_typed(proto, spec);
        stack::pop(1);
        return proto;
    }

    // Calls native [n] with [args] and the refinement positions [refs]; the result stays on
    // the stack as its top cell.
    static cell* call(uint32_t n, std::initializer_list<cell> args, int32_t check, std::vector<int32_t> refs = {}) {
        cell w{T_word, 0, 99, 0};
        stack::mark_native(&w);
        for (const cell& a : args) stack::push(&a);
        natives::call(natives::entry(n), true, check, uint32_t(refs.size()), refs.data());
        stack::unwind();
        return stack::top();
    }

    static std::string spec_of(const cell* fn) {
        cell spec{T_block, 0, fn->w2, 0};
        return mold(&spec);
    }

    static cell* reflect(const cell* fn, const char* field) {
        cell* v = stack::push(fn);
        cell f = word::load(field);
        return actions::reflect_typed(v, &f);
    }

    static int32_t compare(const cell* a, const cell* b, int32_t op = 0) {
        return datatype::action_as<actions::compare_fn>(a->type(), A_compare)(a, b, op);
    }
};

// {== Spec rules

TEST_F(FunctionTest, ValidSpecsAndTheirTraceFlags) {
    struct { const char* spec; uint32_t flags; } cases[] = {
        {"[a [integer!] \"doc\" /ref b \"doc b\" return: [integer!] /local c]", 0},
        {"[]", 0},
        {"[\"doc\"]", 0},
        {"['a :b c [number! string!]]", 0},
        {"[/local]", 0},
        {"[/local x y]", 0},
        {"[return: [integer!] /local a]", 0},
        {"[return: [integer!] \"doc\"]", 0},
        {"[a /ref \"doc\" b [integer!] /local x]", 0},
        {"[/ref /local x]", 0},
        {"[[trace] a]", FUNC_TRACE},
        {"[[no-trace catch] a]", FUNC_NO_TRACE},
        {"[[trace no-trace]]", FUNC_TRACE | FUNC_NO_TRACE},
        {"[[]]", 0},
    };
    for (auto& c : cases) {
        uint32_t flags = 99;
        EXPECT_EQ(script_error([&] { flags = function::validate_spec(L(c.spec)); }), -1) << c.spec;
        EXPECT_EQ(flags, c.flags) << c.spec;
    }
}

TEST_F(FunctionTest, MalformedSpecsAreBadFunctionDefinitions) {
    const char* cases[] = {
        "[a \"doc\" [integer!]]",          // the type block comes first
        "[return: [integer!] a]",          // arguments after return: only as locals
        "[/local x return: [integer!]]",   // return: after /local
        "[/local :x]",
        "[/local 'x]",
        "[/local x /ref]",
        "[return: [integer!] /ref]",
        "[[trace 1] a]",                   // attributes are words
        "[[trace] [trace]]",               // an attribute block only first
        "[a 5]",
        "[a #issue]",
        "[foo: [integer!]]",               // return: is the only set-word
        "[return: [integer!] return: [integer!]]",
        "[return: integer!]",
        "[return:]",
        "[return: [integer!] x: 1]",
        "[/ref [integer!]]",               // a refinement takes no type block
        "[/ref 5]",
        "[a [integer!] [string!]]",
    };
    for (const char* c : cases) EXPECT_EQ(script_error([&] { function::validate_spec(L(c)); }), ids::script_bad_func_def) << c;
    raised_error e = error_of([] { function::validate_spec(L("[a 5]")); });
    EXPECT_EQ(e.arg1, "[a 5]"); // the whole spec
}

TEST_F(FunctionTest, DuplicateWordsNameTheLaterOne) {
    struct { const char* spec; const char* later; } cases[] = {
        {"[a a]", "a"}, {"[a /A]", "/A"}, {"[a 'a]", "'a"}, {"[/ref b /REF]", "/REF"},
        {"[x /local y X]", "X"}, {"[/local /local]", "/local"},
    };
    for (auto& c : cases) {
        raised_error e = error_of([&] { function::validate_spec(L(c.spec)); });
        EXPECT_EQ(e.category, ids::cat_script) << c.spec;
        EXPECT_EQ(e.id, ids::script_dup_vars) << c.spec;
        EXPECT_EQ(e.arg1, c.later) << c.spec;
    }
}

TEST_F(FunctionTest, TypeBlocksHoldTypesTypesetsOrWords) {
    cell five = integer::make_value(5);
    set_global("five", &five);
    cell alias = word::load("integer!");
    set_global("alias", &alias);
    EXPECT_EQ(script_error([&] { function::validate_spec(L("[a [alias number! any-type!]]")); }), -1);
    struct { const char* spec; const char* offending; } cases[] = {
        {"[a [1]]", "1"}, {"[a [integer! \"x\"]]", "\"x\""}, {"[a [five]]", "five"}, {"[a [[integer!]]]", "[integer!]"},
    };
    for (auto& c : cases) {
        raised_error e = error_of([&] { function::validate_spec(L(c.spec)); });
        EXPECT_EQ(e.id, ids::script_invalid_type_spec) << c.spec;
        EXPECT_EQ(e.arg1, c.offending) << c.spec;
    }
    EXPECT_EQ(script_error([&] { function::validate_spec(L("[a [no-such-type!]]")); }), ids::script_no_value);
}

// }==
// {== Building function values

TEST_F(FunctionTest, MakeValueCopiesAndBindsTheBody) {
    cell* spec = L("[a b /local c]");
    cell* body = L("[c: a + b [a] \"s\"]");
    node_id ctx = function::make_value(spec, body, 0, -1, -1, FUNC_LIBRARY);
    cell* fn = stack::top();
    EXPECT_EQ(fn->type(), T_function);
    EXPECT_TRUE(fn->header & FUNC_LIBRARY);
    EXPECT_EQ(fn->w1, ctx);
    EXPECT_EQ(fn->w2, spec->w2); // a spec at its head is shared
    EXPECT_EQ(context::word_count(ctx), 4u);
    EXPECT_EQ(context::owner_of(ctx)->w3, fn->w3);
    collector::collect();
    const cell* s = block::cells_of(fn->w3);
    ASSERT_EQ(series::length(fn->w3), function::FN_CELLS);
    EXPECT_EQ(s[function::FN_ARGS].type(), T_unset);
    EXPECT_EQ(s[function::FN_CODE].type(), T_unset);
    EXPECT_EQ(s[function::FN_OP].type(), T_unset);
    EXPECT_EQ(s[function::FN_EXTRA].type(), T_unset);
    const cell* copy = &s[function::FN_BODY];
    EXPECT_NE(copy->w2, body->w2);
    const cell* words = block::cells_of(copy->w2);
    EXPECT_EQ(words[0].w1, ctx); // c:
    EXPECT_EQ(words[0].w3, 3u);
    EXPECT_EQ(words[1].w1, ctx); // a
    EXPECT_EQ(words[2].w1, context::global()); // +
    EXPECT_NE(words[4].w2, block::cells_of(body->w2)[4].w2); // the nested block is copied
    EXPECT_EQ(block::cells_of(words[4].w2)[0].w1, ctx);
    EXPECT_NE(words[5].w2, block::cells_of(body->w2)[5].w2); // the string too
    EXPECT_EQ(mold(fn), "func [a b /local c][c: a + b [a] \"s\"]");
}

TEST_F(FunctionTest, MakeValueWithAContextAndCompiledCode) {
    cell* spec = L("[x]");
    node_id given = context::make_from_spec(spec, true, false, context::KIND_FUNCTION);
    collector::keep_node k_given{&given};
    cell* body = L("[x]");
    function::make_value(spec, body, given, 7, 9, 0);
    cell* fn = stack::top();
    EXPECT_EQ(fn->w1, given);
    EXPECT_EQ(context::owner_of(given)->type(), T_function);
    const cell* s = block::cells_of(fn->w3);
    EXPECT_EQ(integer::get(&s[function::FN_CODE]), 7);
    EXPECT_EQ(integer::get(&s[function::FN_EXTRA]), 9);
    // Bound by its maker, not here: the copy keeps the words' own binding.
    EXPECT_EQ(block::cells_of(s[function::FN_BODY].w2)[0].w1, context::global());
}

TEST_F(FunctionTest, ASpecAfterItsHeadIsCopiedFromThere) {
    cell* spec = L("[skipped a]");
    spec->w1 = 1;
    function::make_value(spec, nullptr, 0, -1, -1, 0);
    cell* fn = stack::top();
    EXPECT_NE(fn->w2, spec->w2);
    EXPECT_EQ(spec_of(fn), "[a]");
    EXPECT_EQ(mold(fn), "func [a] none");
    cell* past = L("[a]");
    past->w1 = 5; // past the tail: clamped
    function::make_value(past, past, 0, -1, -1, 0);
    EXPECT_EQ(mold(stack::top()), "func [][]");
}

TEST_F(FunctionTest, MakeFunctionWantsASpecAndABody) {
    EXPECT_EQ(mold(func("[[a] [a]]")), "func [a][a]");
    EXPECT_EQ(mold(func("[[a] [a] extra]")), "func [a][a]");
    const char* bad[] = {"[[a]]", "5", "[[a] 5]", "[5 [a]]", "[]", "[[a 5] [a]]"};
    for (const char* b : bad) EXPECT_EQ(script_error([&] { func(b); }), ids::script_bad_func_def) << b;
    EXPECT_EQ(script_error([] { func("[[a a] []]"); }), ids::script_dup_vars);
}

// }==
// {== Reflect, form, mold, compare

TEST_F(FunctionTest, ReflectSpecBodyAndWords) {
    cell* fn = func("[[a /b c] [a]]");
    EXPECT_EQ(reflect(fn, "spec")->w2, fn->w2);
    cell* body = reflect(fn, "body");
    EXPECT_EQ(body->w2, function::series_cell(fn, function::FN_BODY)->w2);
    cell* w = reflect(fn, "words");
    EXPECT_EQ(mold(w), "[a b c]");
    for (uint32_t i = 0; i < 3; i++) {
        const cell* c = block::cells_of(w->w2) + i;
        EXPECT_EQ(c->type(), T_word);
        EXPECT_EQ(c->w1, fn->w1);
        EXPECT_EQ(c->w3, i);
    }
    EXPECT_EQ(error_of([&] { reflect(fn, "types"); }).id, ids::internal_not_done);
}

TEST_F(FunctionTest, FormMoldAndIdentity) {
    cell* f = func("[[a b] [a + b]]");
    cell* g = func("[[a b] [a + b]]");
    cell* buffer = string::push_new(16);
    actions::form_typed(f, buffer, nullptr, INT32_MAX);
    EXPECT_EQ(string::to_std(buffer), "?function?");
    EXPECT_EQ(mold(f), "func [a b][a + b]");
    EXPECT_EQ(compare(f, f), 0);
    EXPECT_NE(compare(f, g), 0); // equal spec and body, another function
    cell n = integer::make_value(1);
    EXPECT_EQ(compare(f, &n), -2);
    EXPECT_EQ(compare(f, f, 3), -2);
}

// }==
// {== The automatic locals of `function`

TEST_F(FunctionTest, FunctionMakesSetWordsAndLoopWordsLocal) {
    struct { const char* spec; const char* body; const char* result; } cases[] = {
        {"[data]",
         "[x: 1 foreach [k v] data [y: k] repeat i 3 [x: x + i] remove-each r data [z: r] (w: 2) [[q: 3]] data: 0 "
         "local: 5]",
         "[data /local x k v y i r z w q]"},
        {"[a /local b]", "[b: 1 c: 2 c: 3]", "[a /local b c]"},
        {"[a /extern x]", "[x: 1 y: 2]", "[a /local y]"},
        {"[a /extern x /local z]", "[z: 1 w: 2 x: 3]", "[a /local z w]"},
        {"[a [integer!] /ref b]", "[foreach k s [] repeat n: 2 []]", "[a [integer!] /ref b /local k n]"},
        {"[a]", "[a: 1]", "[a]"},
        {"[]", "[]", "[]"},
    };
    for (auto& c : cases) {
        cell* spec = L(c.spec);
        cell* body = L(c.body);
        cell* fn = call(15, {*spec, *body}, 1, {-1});
        ASSERT_EQ(fn->type(), T_function) << c.body;
        EXPECT_EQ(spec_of(fn), c.result) << c.body;
    }
}

TEST_F(FunctionTest, CollectWordsRefusesOddValuesAmongExterns) {
    cell* spec = L("[a /extern x 5]");
    cell* body = L("[x: 1]");
    raised_error e = error_of([&] { call(15, {*spec, *body}, 1, {-1}); });
    EXPECT_EQ(e.id, ids::script_bad_func_extern);
    EXPECT_EQ(e.arg1, "5");
}

TEST_F(FunctionTest, CollectWordsWalksABodyThatHoldsItselfOnce) {
    cell* spec = L("[]");
    cell* copy = block::clone(spec, UINT32_MAX, false, false);
    cell* body = L("[x: 1 [] y: 2]");
    block::cells_of(body->w2)[2] = *body; // the inner block is the body itself
    cell* collected = function::collect_words(copy, body);
    EXPECT_EQ(mold(collected), "[x y]");
    EXPECT_EQ(mold(copy), "[/local x y]");
}

TEST_F(FunctionTest, CountArgsAndUnusedRefinements) {
    struct { const char* spec; uint32_t start; bool required; int32_t count; } cases[] = {
        {"[a /local b c]", 0, false, 3}, {"[a /local b [integer!] c]", 0, false, 3}, {"[/local]", 0, false, 1},
        {"[a b]", 0, false, 0},          {"[a b]", 0, true, -1},                     {"[/local a]", 1, true, -1},
    };
    for (auto& c : cases) EXPECT_EQ(function::count_args(L(c.spec)->w2, c.start, c.required), c.count) << c.spec;
    cell* before = es.top;
    function::push_unused_refinement(3);
    ASSERT_EQ(es.top - before, 3);
    EXPECT_EQ(before[0].type(), T_logic);
    EXPECT_EQ(before[0].w1, 0u);
    EXPECT_EQ(before[1].type(), T_none);
    EXPECT_EQ(before[2].type(), T_none);
    function::push_unused_refinement(0);
    EXPECT_EQ(es.top - before, 3);
}

// }==
// {== func, does, has

TEST_F(FunctionTest, TheFunctionMakers) {
    cell* spec = L("[a]");
    cell* body = L("[a]");
    EXPECT_EQ(mold(call(14, {*spec, *body}, 1)), "func [a][a]");
    EXPECT_EQ(mold(call(16, {*body}, 1)), "func [][a]");
    cell* vars = L("[x y]");
    cell* fn = call(17, {*vars, *body}, 1);
    EXPECT_EQ(spec_of(fn), "[/local x y]");
    EXPECT_EQ(mold(vars), "[x y]"); // has works on a copy
    cell n = integer::make_value(1);
    for (uint32_t native : {14u, 15u, 17u}) {
        std::vector<int32_t> refs(native == 15 ? 1 : 0, -1);
        EXPECT_EQ(script_error([&] { call(native, {*spec, n}, 1, refs); }), ids::script_expect_arg) << native;
        EXPECT_EQ(script_error([&] { call(native, {n, *body}, 1, refs); }), ids::script_expect_arg) << native;
    }
    EXPECT_EQ(script_error([&] { call(16, {n}, 1); }), ids::script_expect_arg);
    cell* bad = L("[a a]");
    EXPECT_EQ(script_error([&] { call(14, {*bad, *body}, 0); }), ids::script_dup_vars);
}

TEST_F(FunctionTest, FunctionsSurviveCollections) {
    cell* spec = L("[a [integer!] /ref b /local c]");
    cell* body = L("[c: [a b] foreach x c [print x]]");
    for (int i = 0; i < 20; i++) {
        cell* fn = call(15, {*spec, *body}, 1, {-1});
        collector::collect();
        EXPECT_EQ(mold(fn), "func [a [integer!] /ref b /local c x][c: [a b] foreach x c [print x]]");
        EXPECT_EQ(mold(reflect(fn, "words")), "[a ref b local c x]");
        stack::pop(2);
    }
}

// }==
// {== routine!

int32_t probe_calls;
void probe() { probe_calls++; }

TEST_F(FunctionTest, TheRoutineTableByName) {
    int32_t i = routine::add("probe-routine", &probe);
    EXPECT_EQ(routine::find("probe-routine"), i);
    EXPECT_EQ(routine::find("no-such-routine"), -1);
    EXPECT_EQ(routine::code_at(i), &probe);
    EXPECT_EQ(routine::code_at(-1), nullptr);
    EXPECT_EQ(routine::code_at(i + 1000), nullptr);
}

TEST_F(FunctionTest, RoutinesCountTheirWordsAndReflectAsFunctions) {
    struct { const char* spec; uint32_t count; } counts[] = {
        {"[value [any-type!]]", 1}, {"[a b /local c]", 3}, {"[/ref 'a :b]", 0}, {"[]", 0},
    };
    for (auto& c : counts) {
        routine::make_value(L(c.spec), nullptr, 0, -1, ROUTINE_BY_ADDRESS);
        cell* r = stack::top();
        EXPECT_EQ(r->type(), T_routine) << c.spec;
        EXPECT_EQ(routine::header_count(r), c.count) << c.spec;
        EXPECT_TRUE(r->header & ROUTINE_BY_ADDRESS);
        EXPECT_EQ(integer::get(function::series_cell(r, function::FN_CODE)), 0);
        EXPECT_EQ(context::owner_of(r->w1)->type(), T_routine);
    }
    cell* r = stack::top();
    EXPECT_EQ(reflect(r, "body")->type(), T_none);
    EXPECT_EQ(reflect(r, "spec")->w2, r->w2);
    EXPECT_EQ(mold(r), "routine [] none");
    cell* body = L("[code]");
    routine::make_value(L("[a]"), body, 1, -1, 0);
    cell* r2 = stack::top();
    EXPECT_EQ(function::series_cell(r2, function::FN_BODY)->w2, body->w2); // kept, not copied
    EXPECT_EQ(mold(r2), "routine [a][code]");
    cell* buffer = string::push_new(16);
    actions::form_typed(r2, buffer, nullptr, INT32_MAX);
    EXPECT_EQ(string::to_std(buffer), "?routine?");
    EXPECT_EQ(compare(r2, r2), 0);
    EXPECT_NE(compare(r2, r), 0);
    EXPECT_EQ(compare(r2, func("[[a] [code]]")), -2);
    cell* proto = stack::push(&none_value);
    *proto = datatype::make_value(T_routine);
    EXPECT_EQ(script_error([&] { actions::make_typed(proto, body); }), ids::script_expect_arg);
}

// }==

} // namespace
