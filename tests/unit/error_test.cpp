// tests/unit/error_test.cpp: error! values: the catalogue object, make from codes, names,
// set-words and strings, the report (form) with its cuts and its rewrite into invalid-error,
// mold, path access and comparison; raising full errors with their where, stack and near;
// the call traces; the argument type checks; the uncaught report. Under collection stress too.
#include <unistd.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "eval/stack_trace.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/platform/console_output.h"
#include "runtime/values.h"
#include "runtime/words.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;
using zyl::testing::raises;

namespace {

struct ErrorTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
        context::make_global();
        words::build();
        interp::is.position = nullptr; // no interpreter here: errors are near none
        collector::gc.active = true; // ZYL_GC_STRESS collects at every allocation from here
        error::init_system();
    }
    void TearDown() override {
        collector::gc.active = false;
        mm.stress_every = 0;
        error::forget_system();
        context::forget_global();
        words::sym = {};
        symbol::table = {};
        RuntimeTest::TearDown();
    }
};

// {== Helpers (every value a test holds lives on the evaluation stack)

cell* push_word(const char* name) {
    cell w = word::load(name);
    return stack::push(&w);
}

cell* push_int(int32_t n) {
    cell v = integer::make_value(n);
    return stack::push(&v);
}

cell* push_text(const char* s) { return string::from_utf8(stack::push_slot(), s); }

// A block of the values pushed by [fill], pushed in their place.
template <typename F> cell* push_block(F fill) {
    cell* blk = block::push_new(4);
    fill();
    for (cell* c = blk + 1; c < es.top; c++) series::append_value(blk->w2, *c);
    es.top = blk + 1;
    return blk;
}

// make error! [spec]: the new error replaces the spec on the stack.
cell* make_error(cell* spec) {
    cell dt = datatype::make_value(T_error);
    cell* proto = stack::push(&dt);
    error::make(proto, spec, T_error);
    *spec = *proto;
    es.top = spec + 1;
    return spec;
}

cell* make_code(int32_t n) { return make_error(push_int(n)); }

std::string name_of(const cell* w) { return symbol::c_name(w->w2); }

std::string field_name(const cell* err, uint32_t f) { return name_of(error::field(err, f)); }

int32_t field_int(const cell* err, uint32_t f) { return integer::get(error::field(err, f)); }

std::string form_of(const cell* err) {
    cell* out = string::push_new(64);
    error::form(err, out, nullptr, INT32_MAX);
    std::string s = string::to_std(out);
    stack::pop(1);
    return s;
}

std::string mold_of(const cell* err, bool only = false, bool flat = false) {
    cell* out = string::push_new(64);
    error::mold(err, out, only, false, flat, nullptr, INT32_MAX, 0);
    std::string s = string::to_std(out);
    stack::pop(1);
    return s;
}

struct caught {
    error::raised ids;
    cell* err; // on the stack, where the try frame began
};

// Runs [body] under a try frame; the caught error is left at the frame's former top.
template <typename F> caught catch_error(F body) {
    cell* saved = es.top;
    cell* base = es.base;
    cell w = word::load("try");
    stack::mark_try(&w);
    try {
        body();
    } catch (const error::raised& e) {
        es.throw_code = THROW_NONE;
        *saved = es.top[-1];
        es.top = saved + 1;
        es.base = base;
        return {e, saved};
    }
    ADD_FAILURE() << "no error raised";
    stack::pop_frame();
    return {{-1, -1}, stack::push(&none_value)};
}

// The context of system/state with [trace] as stack-trace and [files] (or none) as
// source-files, linked for errors to read.
void link_state(int32_t trace, const cell* files) {
    node_id st = context::make(4, false, true, 0, context::KIND_OBJECT);
    collector::keep_node k_st{&st};
    cell t = integer::make_value(trace);
    const char* names[] = {"interpreted?", "last-error", "stack-trace", "source-files"};
    for (int i = 0; i < 4; i++) {
        cell w = word::make_value(T_word, 0, symbol::make(names[i]), word::NO_INDEX);
        const cell* v = i == 2 ? &t : i == 3 && files ? files : &none_value;
        context::add_word_value(st, &w, v);
    }
    error::link_system(nullptr, nullptr, st);
}

void mark_call(const char* name) {
    cell w = word::load(name);
    stack::mark_native(&w);
}

// Gives global [name] a function! value (enough for the traces, which only read the type).
void make_function_word(const char* name) {
    cell w = word::load(name);
    cell fn{T_function, 0, 0, 0};
    word::set_value(&w, &fn);
}

// Everything written to the console while [body] runs.
template <typename F> std::string console_output(F body) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    int saved = console::set_output_fd(fds[1]);
    body();
    console::set_output_fd(saved);
    close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    close(fds[0]);
    return out;
}

// }==
// {== The catalogue object

TEST_F(ErrorTest, CatalogueObjectHasTheCategoriesInOrder) {
    node_id cats = error::sys.errors.w1;
    const char* names[] = {"throw",     "note",      "syntax", "script", "math",
                           "access",    "reserved1", "reserved2", "user", "internal"};
    ASSERT_EQ(context::word_count(cats), 10u);
    for (uint32_t i = 0; i < 10; i++) {
        EXPECT_EQ(symbol::c_name(context::word_at(cats, i)->w2), std::string(names[i]));
        const cell* cat = context::value_at(cats, i);
        ASSERT_EQ(cat->type(), T_object);
        EXPECT_EQ(integer::get(context::value_at(cat->w1, 0)), int32_t(i * 100));
    }
    node_id script = context::value_at(cats, 3)->w1;
    EXPECT_EQ(context::word_count(script), 96u);
    EXPECT_EQ(string::to_std(context::value_at(script, 1)), "Script Error");
    // no-value is the block [:arg1 "has no value"]; no-op-arg a string.
    const cell* no_value = context::value_at(script, 2);
    ASSERT_EQ(no_value->type(), T_block);
    ASSERT_EQ(block::rs_length_q(no_value), 2u);
    cell first = block::cells_of(no_value->w2)[0];
    EXPECT_EQ(first.type(), T_get_word);
    EXPECT_EQ(name_of(&first), "arg1");
    EXPECT_EQ(string::to_std(&block::cells_of(no_value->w2)[1]), "has no value");
    EXPECT_EQ(context::value_at(script, 16)->type(), T_string);
    EXPECT_EQ(context::word_count(context::value_at(cats, 6)->w1), 2u); // reserved1: no messages
}

// }==
// {== make error!

TEST_F(ErrorTest, MakeFromCode) {
    struct row {
        int32_t code;
        const char* type;
        const char* id;
    } rows[] = {{302, "script", "not-defined"}, {300, "script", "no-value"},
                {400, "math", "zero-divide"},   {800, "user", "message"},
                {0, "throw", "break"},          {913, "internal", "deprecated"},
                {393, "script", "zb-invalid-record"}};
    for (const row& r : rows) {
        cell* err = make_code(r.code);
        ASSERT_EQ(err->type(), T_error);
        EXPECT_EQ(err->w2, error::CLASS_ID);
        EXPECT_EQ(err->w3, 0u);
        EXPECT_EQ(field_int(err, error::F_CODE), r.code);
        EXPECT_EQ(field_name(err, error::F_TYPE), r.type) << r.code;
        EXPECT_EQ(field_name(err, error::F_ID), r.id) << r.code;
        // The names are bound to the catalogue: the type word to the errors object.
        EXPECT_EQ(error::field(err, error::F_TYPE)->w1, error::sys.errors.w1);
        EXPECT_EQ(error::field(err, error::F_ARG1)->type(), T_none);
        EXPECT_EQ(error::field(err, error::F_WHERE)->type(), T_none);
        // The owner cell holds the error itself.
        EXPECT_EQ(context::owner_of(err->w1)->type(), T_error);
        stack::pop(1);
    }
}

TEST_F(ErrorTest, MakeFromCodeOutOfRange) {
    // Past the last script message, negative, no category 10, a category without messages,
    // and one message past note's only one.
    for (int32_t n : {399, 394, -1, 1000, 600, 101}) {
        cell* spec = push_int(n);
        EXPECT_TRUE(raises(error::cat_script, error::script_out_of_range, [&] { make_error(spec); })) << n;
        es.top = spec;
    }
}

TEST_F(ErrorTest, MakeFromCategoryAndIdWords) {
    cell* spec = push_block([] {
        push_word("script");
        push_word("no-value");
    });
    cell* err = make_error(spec);
    EXPECT_EQ(field_int(err, error::F_CODE), 300);
    stack::pop(1);
    spec = push_block([] {
        push_word("MATH"); // words compare without case
        push_word("Overflow");
    });
    err = make_error(spec);
    EXPECT_EQ(field_int(err, error::F_CODE), 401);
    stack::pop(1);
}

TEST_F(ErrorTest, MakeFromBadBlocksRaises) {
    struct row {
        std::vector<const char*> words; // "#n" an integer
        int32_t cat, id;
        const char* arg1; // the word named, when any
    } rows[] = {
        {{"nowhere", "no-value"}, error::cat_script, error::script_invalid_spec_field, "type"},
        {{"script"}, error::cat_script, error::script_invalid_spec_field, "id"},
        {{"script", "nothing-like-it"}, error::cat_script, error::script_invalid_spec_field, "id"},
        {{"script", "type"}, error::cat_script, error::script_invalid_spec_field, "id"}, // no message
        {{"script", "#5"}, error::cat_script, error::script_invalid_arg, nullptr},
        {{"#1", "#2"}, error::cat_internal, error::internal_invalid_error, nullptr},
        {{}, error::cat_internal, error::internal_invalid_error, nullptr},
    };
    for (const row& r : rows) {
        cell* spec = push_block([&] {
            for (const char* w : r.words) w[0] == '#' ? push_int(std::atoi(w + 1)) : push_word(w);
        });
        caught c = catch_error([&] { make_error(spec); });
        EXPECT_EQ(c.ids.category, r.cat);
        EXPECT_EQ(c.ids.id, r.id);
        if (r.arg1) {
            EXPECT_EQ(field_name(c.err, error::F_ARG1), r.arg1);
        }
        es.top = spec;
    }
}

TEST_F(ErrorTest, MakeFromSetWords) {
    interp::init();
    auto lit = [](const char* name) {
        cell w = word::load(name);
        w.header = T_lit_word;
        return stack::push(&w);
    };
    auto set = [](const char* name) {
        cell w = word::load(name);
        w.header = T_set_word;
        return stack::push(&w);
    };
    cell* spec = push_block([&] {
        set("type");
        lit("math");
        set("id");
        lit("zero-divide");
        set("arg1");
        push_int(7);
    });
    cell* err = make_error(spec);
    EXPECT_EQ(field_int(err, error::F_CODE), 400);
    EXPECT_EQ(field_int(err, error::F_ARG1), 7);
    stack::pop(1);
    for (const char* bad : {"type", "id"}) { // a field that names nothing in the catalogue
        spec = push_block([&] {
            set("type");
            lit(bad[0] == 't' ? "no-category" : "math");
            set("id");
            lit("no-message");
        });
        caught c = catch_error([&] { make_error(spec); });
        EXPECT_EQ(c.ids.id, error::script_invalid_spec_field);
        EXPECT_EQ(field_name(c.err, error::F_ARG1), bad);
        es.top = spec;
    }
    interp::is.position = nullptr;
}

TEST_F(ErrorTest, MakeFromStringIsAUserMessage) {
    cell* err = make_error(push_text("it broke"));
    EXPECT_EQ(field_name(err, error::F_TYPE), "user");
    EXPECT_EQ(field_name(err, error::F_ID), "message");
    EXPECT_EQ(field_int(err, error::F_CODE), 800);
    EXPECT_EQ(string::to_std(error::field(err, error::F_ARG1)), "it broke");
    // The message is [:arg1], and arguments of errors other than syntax ones are molded.
    EXPECT_EQ(form_of(err), "*** User Error: \"it broke\"\n*** Where: ???\n*** Near : none");
}

TEST_F(ErrorTest, MakeFromOtherTypesRaisesBadMakeArg) {
    cell* spec = stack::push(&true_value);
    caught c = catch_error([&] { make_error(spec); });
    EXPECT_EQ(c.ids.category, error::cat_script);
    EXPECT_EQ(c.ids.id, error::script_bad_make_arg);
    const cell* dt = error::field(c.err, error::F_ARG1);
    EXPECT_EQ(dt->type(), T_datatype);
    EXPECT_EQ(dt->w1, uint32_t(T_error));
    EXPECT_EQ(error::field(c.err, error::F_ARG2)->type(), T_logic);
}

TEST_F(ErrorTest, NearIsTheInterpretersPosition) {
    cell* pos = push_block([] { push_word("oops"); });
    interp::is.position = pos;
    cell* err = make_code(400);
    interp::is.position = nullptr;
    EXPECT_EQ(error::field(err, error::F_NEAR)->w2, pos->w2);
    EXPECT_EQ(form_of(err), "*** Math Error: division by zero\n*** Where: ???\n*** Near : oops");
}

// }==
// {== The report

// An error of [cat]/[id] made by create_by_index with the arguments pushed by [args].
template <typename F> cell* create(int32_t cat, int32_t id, F args) {
    cell* first = es.top;
    args();
    const cell* a[3] = {nullptr, nullptr, nullptr};
    for (int i = 0; first + i < es.top && i < 3; i++) a[i] = first + i;
    cell* err = error::create_by_index(cat, id, a[0], a[1], a[2]);
    *first = *err;
    es.top = first + 1;
    return first;
}

TEST_F(ErrorTest, FormFillsTheArguments) {
    struct row {
        int32_t cat, id;
        std::vector<const char*> args; // "'w" a word, else a string
        const char* first_line;
    } rows[] = {
        {error::cat_script, error::script_no_value, {"'foo"}, "*** Script Error: foo has no value"},
        {error::cat_script, error::script_no_arg, {"'append", "'value"},
         "*** Script Error: append is missing its value argument"},
        {error::cat_script, error::script_invalid_arg, {"text"}, "*** Script Error: invalid argument: \"text\""},
        // Syntax errors form their arguments: no quotes.
        {error::cat_syntax, error::syntax_missing, {"]", "end", "(line 2)"},
         "*** Syntax Error: ] missing end at (line 2)"},
        {error::cat_math, error::math_zero_divide, {}, "*** Math Error: division by zero"},
        // Arguments not given are none.
        {error::cat_script, error::script_no_value, {}, "*** Script Error: none has no value"},
    };
    for (const row& r : rows) {
        cell* err = create(r.cat, r.id, [&] {
            for (const char* a : r.args) a[0] == '\'' ? push_word(a + 1) : push_text(a);
        });
        EXPECT_EQ(form_of(err), std::string(r.first_line) + "\n*** Where: ???\n*** Near : none");
        stack::pop(1);
    }
}

TEST_F(ErrorTest, FormCutsArgumentsAtEightyAndNearAtForty) {
    std::string long_text(200, 'x');
    cell* err = create(error::cat_script, error::script_invalid_arg, [&] { push_text(long_text.c_str()); });
    cell* pos = push_block([&] {
        for (int i = 0; i < 30; i++) push_int(i);
    });
    *error::field(err, error::F_NEAR) = *pos;
    std::string report = form_of(err);
    // A long string molds in braces.
    EXPECT_EQ(report, "*** Script Error: invalid argument: {" + std::string(79, 'x') +
                          "\n*** Where: ???\n*** Near : 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16");
}

// Makes the mold and form entries of [type] raise while it lives: a value that cannot be
// formed, whatever datatype it has.
struct unformable {
    uint8_t type;
    action_fn mold, form;
    static int32_t raise_mold(const cell*, cell*, bool, bool, bool, const cell*, int32_t, int32_t) {
        error::raise(error::cat_internal, error::internal_not_done);
    }
    static int32_t raise_form(const cell*, cell*, const cell*, int32_t) {
        error::raise(error::cat_internal, error::internal_not_done);
    }
    explicit unformable(uint8_t t)
        : type(t), mold(datatype::action(t, A_mold)), form(datatype::action(t, A_form)) {
        datatype::reg.actions[t * ACTION_ROW + A_mold - 1] = datatype::entry(&raise_mold);
        datatype::reg.actions[t * ACTION_ROW + A_form - 1] = datatype::entry(&raise_form);
    }
    ~unformable() {
        datatype::reg.actions[type * ACTION_ROW + A_mold - 1] = mold;
        datatype::reg.actions[type * ACTION_ROW + A_form - 1] = form;
    }
};

TEST_F(ErrorTest, FormShowsAFieldThatCannotBeFormedAsQuestionMarksAndGoesOn) {
    unformable guard(T_pair);
    cell p = cell{T_pair, 0, 1, 2};
    cell* err = create(error::cat_script, error::script_not_related, [&] {
        stack::push(&p);
        push_word("time!");
    });
    cell* near = push_block([&] {
        push_int(1);
        stack::push(&p);
    });
    *error::field(err, error::F_NEAR) = *near;
    *error::field(err, error::F_WHERE) = word::load("mold");
    cell* top = es.top;
    call_frame* ftop = es.ftop;
    cell* base = es.base;
    EXPECT_EQ(form_of(err), "*** Script Error: ??? is not related to time!\n*** Where: mold\n*** Near : ???");
    EXPECT_EQ(es.top, top);
    EXPECT_EQ(es.ftop, ftop);
    EXPECT_EQ(es.base, base);
    EXPECT_EQ(es.throw_code, THROW_NONE);
    // The report printed through the console is the same, and printing it raises nothing.
    std::string printed = console_output([&] { error::print_report(err); });
    EXPECT_EQ(printed, "*** Script Error: ??? is not related to time!\n*** Where: mold\n*** Near : ???\n");
}

TEST_F(ErrorTest, FormRewritesUnknownNamesIntoInvalidError) {
    cell* err = make_code(302);
    cell bad = word::load("no-such-category");
    *error::field(err, error::F_TYPE) = bad;
    EXPECT_EQ(form_of(err), "*** Internal Error: invalid error category or id: no-such-category\n"
                            "*** Where: ???\n*** Near : none");
    EXPECT_EQ(field_name(err, error::F_TYPE), "internal");
    EXPECT_EQ(field_name(err, error::F_ID), "invalid-error");
    stack::pop(1);

    err = make_code(302);
    bad = word::load("no-such-id");
    *error::field(err, error::F_ID) = bad;
    EXPECT_EQ(form_of(err), "*** Internal Error: invalid error category or id: no-such-id\n"
                            "*** Where: ???\n*** Near : none");
    stack::pop(1);

    err = make_code(302); // a type that is no word at all
    *error::field(err, error::F_TYPE) = integer::make_value(7);
    EXPECT_EQ(form_of(err), "*** Internal Error: invalid error category or id: 7\n"
                            "*** Where: ???\n*** Near : none");
    // The raised numbers follow the rewritten names.
    EXPECT_EQ(error::category_index(err), error::cat_internal);
    EXPECT_EQ(error::message_index(err), error::internal_invalid_error);
}

TEST_F(ErrorTest, FormWhereLine) {
    cell* err = make_code(400);
    cell w = word::load("divide");
    error::set_where(err, &w);
    cell other = word::load("ignored");
    error::set_where(err, &other); // the first one stays
    EXPECT_EQ(form_of(err), "*** Math Error: division by zero\n*** Where: divide\n*** Near : none");
    *error::field(err, error::F_WHERE) = *push_text("a place");
    EXPECT_EQ(form_of(err), "*** Math Error: division by zero\n*** Where: a place\n*** Near : none");
    *error::field(err, error::F_WHERE) = integer::make_value(3);
    EXPECT_EQ(form_of(err), "*** Math Error: division by zero\n*** Where: ???\n*** Near : none");
}

TEST_F(ErrorTest, FormStackAndFilesLines) {
    cell* files = push_block([] {
        push_text("a.zyl");
        push_text("b.zyl");
    });
    link_state(2, files);
    mark_call("outer");
    mark_call("inner");
    cell* err = make_code(400);
    stack::error_record_stack(err);
    *error::field(err, error::F_FILES) = *files;
    EXPECT_EQ(form_of(err), "*** Math Error: division by zero\n*** Where: ???\n*** Near : none\n"
                            "*** Stack: outer inner \n*** Files: \"a.zyl\" \"b.zyl\"");
    // A level of 0 asks for no stack line.
    link_state(0, files);
    EXPECT_EQ(form_of(err), "*** Math Error: division by zero\n*** Where: ???\n*** Near : none\n"
                            "*** Files: \"a.zyl\" \"b.zyl\"");
}

TEST_F(ErrorTest, MoldShowsTheFields) {
    cell* err = create(error::cat_script, error::script_no_value, [] { push_word("x"); });
    std::string fields = "code: 300\n    type: 'script\n    id: 'no-value\n    arg1: 'x\n    arg2: none\n"
                         "    arg3: none\n    near: none\n    where: none\n    stack: none\n    files: none\n";
    EXPECT_EQ(mold_of(err), "make error! [\n    " + fields + "]");
    std::string only = mold_of(err, true);
    EXPECT_EQ(only.rfind("code: 300\ntype: 'script\n", 0), 0u) << only;
    EXPECT_EQ(only.back(), 'e'); // ends with "files: none": no bracket
    EXPECT_EQ(mold_of(err, false, true).substr(0, 32), "make error! [code: 300 type: 'sc");
}

TEST_F(ErrorTest, MoldOfAnErrorInsideItselfEnds) {
    cell* err = make_code(300);
    *error::field(err, error::F_ARG1) = *err;
    std::string s = mold_of(err);
    EXPECT_NE(s.find("arg1: ...\n"), std::string::npos) << s;
}

// }==
// {== Path access and comparison

TEST_F(ErrorTest, PathAccessToFields) {
    cell* err = make_code(302);
    actions::path_step step{nullptr, nullptr, nullptr, 0, false, true, false};
    // A path step replaces the value it steps from by what it selects.
    cell* value = stack::push(err);
    cell* code = push_word("code");
    EXPECT_EQ(integer::get(error::eval_path(value, code, nullptr, step)), 302);
    *value = *err;
    cell* arg = push_word("arg2");
    cell* v = push_int(42);
    error::eval_path(value, arg, v, step);
    EXPECT_EQ(field_int(err, error::F_ARG2), 42);
    *value = *err;
    cell* absent = push_word("nothing");
    EXPECT_TRUE(raises(error::cat_script, error::script_unset_path,
                       [&] { error::eval_path(value, absent, nullptr, step); }));
    *value = *err;
    EXPECT_TRUE(raises(error::cat_script, error::script_invalid_path,
                       [&] { error::eval_path(value, v, nullptr, step); }));
}

TEST_F(ErrorTest, Compare) {
    cell* a = make_code(302);
    cell* b = make_code(302);
    cell* c = make_code(303);
    EXPECT_EQ(error::compare(a, a, 0), 0);
    EXPECT_EQ(error::compare(a, b, 0), 0);
    EXPECT_NE(error::compare(a, c, 0), 0);
    EXPECT_EQ(error::compare(a, b, 9), -1); // not the same error
    cell obj{T_object, a->w1, 0, 0};
    EXPECT_EQ(error::compare(a, &obj, 0), -2);
    cell n = integer::make_value(302);
    EXPECT_EQ(error::compare(a, &n, 0), -2);
}

// }==
// {== Raising

TEST_F(ErrorTest, RaiseBuildsAFullErrorNamingTheCall) {
    mark_call("caller");
    uint32_t depth = 0;
    caught c = catch_error([&] {
        mark_call("div-it");
        depth = uint32_t(es.ftop - es.fbottom);
        cell a = integer::make_value(1);
        error::raise(error::cat_math, error::math_zero_divide, &a);
    });
    EXPECT_EQ(c.ids.category, error::cat_math);
    EXPECT_EQ(c.ids.id, error::math_zero_divide);
    ASSERT_EQ(c.err->type(), T_error);
    EXPECT_EQ(field_name(c.err, error::F_WHERE), "div-it");
    EXPECT_EQ(field_int(c.err, error::F_STACK), int32_t(depth));
    EXPECT_EQ(field_int(c.err, error::F_ARG1), 1);
    EXPECT_EQ(error::field(c.err, error::F_ARG2)->type(), T_none);
    EXPECT_EQ(uint32_t(es.ftop - es.fbottom), 1u); // the caller's frame stays
    EXPECT_EQ(form_of(c.err), "*** Math Error: division by zero\n*** Where: div-it\n*** Near : none");
}

TEST_F(ErrorTest, ArgumentsAreKeptAcrossTheAllocations) {
    caught c = catch_error([] {
        cell* s = push_text("kept text");
        cell w = word::load("kept-word");
        error::raise(error::cat_script, error::script_expect_val, s, &w);
    });
    EXPECT_EQ(string::to_std(error::field(c.err, error::F_ARG1)), "kept text");
    EXPECT_EQ(field_name(c.err, error::F_ARG2), "kept-word");
}

TEST_F(ErrorTest, IdsOutsideTheCatalogueRaiseInvalidError) {
    caught c = catch_error([] { error::raise(error::cat_script, 150); });
    EXPECT_EQ(c.ids.category, error::cat_internal);
    EXPECT_EQ(c.ids.id, error::internal_invalid_error);
    EXPECT_EQ(field_int(c.err, error::F_ARG1), 448);
}

TEST_F(ErrorTest, CreateFromWords) {
    cell* cat = push_word("access");
    cell* id = push_word("cannot-open");
    cell* arg = push_text("file.txt");
    cell* err = error::create(cat, id, arg, nullptr, nullptr);
    EXPECT_EQ(field_int(err, error::F_CODE), 500);
    EXPECT_EQ(string::to_std(error::field(err, error::F_ARG1)), "file.txt");
    EXPECT_EQ(form_of(err), "*** Access Error: cannot open: \"file.txt\"\n*** Where: ???\n*** Near : none");
}

TEST_F(ErrorTest, UncaughtErrorPrintsTheReportAndEnds) {
    EXPECT_EXIT(
        {
            dup2(2, 1);
            mark_call("lonely");
            error::raise(error::cat_math, error::math_zero_divide);
        },
        ::testing::ExitedWithCode(error::UNCAUGHT_STATUS),
        "^\\*\\*\\* Math Error: division by zero\n\\*\\*\\* Where: lonely\n\\*\\*\\* Near : none\n$");
}

TEST_F(ErrorTest, PrintNewPrintsWithoutRaising) {
    cell* top = es.top;
    std::string out = console_output([] {
        cell* w = push_word("thing");
        error::print_new(error::cat_script, error::script_no_value, w, nullptr, nullptr);
    });
    EXPECT_EQ(out, "*** Script Error: thing has no value\n*** Where: ???\n*** Near : none\n");
    EXPECT_EQ(es.throw_code, uint32_t(THROW_NONE));
    EXPECT_EQ(es.ftop, es.fbottom);
    EXPECT_LE(es.top, top + 2); // the word, and the closed frame's unset result
}

// }==
// {== The call word and the traces

TEST_F(ErrorTest, GetCallLooksTheWordUpInTheFramesContext) {
    node_id obj = context::make(2, false, true, 0, context::KIND_OBJECT);
    collector::keep_node k_obj{&obj};
    cell act = word::make_value(T_word, 0, symbol::make("act"), word::NO_INDEX);
    context::add_word_value(obj, &act, &none_value);
    cell bound = *context::word_at(obj, 0);
    stack::mark_native(&bound);
    cell w = stack::get_call();
    EXPECT_EQ(name_of(&w), "act");
    EXPECT_EQ(w.w1, obj);
    mark_call("plain"); // bound to no context: the global word
    cell body{T_word, 0, es.body_symbol, 0};
    stack::mark_native(&body); // internal frames are passed over
    w = stack::get_call();
    EXPECT_EQ(name_of(&w), "plain");
    EXPECT_EQ(w.w1, context::global());
    es.throw_start = es.fbottom; // a throw names its own frame, once
    EXPECT_EQ(name_of(&(w = stack::get_call())), "act");
    EXPECT_EQ(es.throw_start, nullptr);
}

TEST_F(ErrorTest, GetCallWithOnlyInternalFramesIsNotFound) {
    cell body{T_word, 0, es.body_symbol, 0};
    stack::mark_native(&body);
    cell w = stack::get_call();
    EXPECT_EQ(name_of(&w), "<not-found>");
}

TEST_F(ErrorTest, TraceListsCallsFromTheTopWithTheirBases) {
    mark_call("bottom");
    mark_call("first");
    cell body{T_word, 0, es.anon_symbol, 0};
    push_int(1);
    stack::mark_native(&body);
    mark_call("second");
    cell* blk = block::push_new(8);
    stack::trace(blk);
    ASSERT_EQ(block::rs_length_q(blk), 4u);
    const cell* c = block::cells_of(blk->w2);
    EXPECT_EQ(name_of(&c[0]), "second");
    EXPECT_EQ(integer::get(&c[1]), 1); // its caller's (the <anon> frame's) base
    EXPECT_EQ(name_of(&c[2]), "first");
    EXPECT_EQ(integer::get(&c[3]), 0);
}

TEST_F(ErrorTest, TraceWordsByLevelAndAfterUnwinding) {
    make_function_word("fn-a");
    make_function_word("fn-b");
    mark_call("fn-a");
    mark_call("native-x");
    cell anon{T_word, 0, es.anon_symbol, 0};
    stack::mark_native(&anon);
    mark_call("fn-b");
    int32_t depth = int32_t(es.ftop - es.fbottom);
    auto words_of = [&](int32_t level, int32_t end) {
        cell* blk = block::push_new(4);
        stack::trace_words(level, blk, end);
        std::string s;
        for (uint32_t i = 0; i < block::rs_length_q(blk); i++) s += name_of(&block::cells_of(blk->w2)[i]) + " ";
        stack::pop(1);
        return s;
    };
    EXPECT_EQ(words_of(1, depth), "fn-a fn-b ");
    EXPECT_EQ(words_of(2, depth), "fn-a native-x fn-b ");
    EXPECT_EQ(words_of(2, 2), "fn-a native-x ");
    EXPECT_EQ(words_of(2, 99999), "fn-a native-x fn-b "); // clamped to the call stack's room
    cell marker = integer::make_value(depth);
    cell* out = string::push_new(16);
    EXPECT_EQ(stack::trace_form(2, &marker, out, 100), 100 - 19);
    EXPECT_EQ(string::to_std(out), "fn-a native-x fn-b ");
    stack::pop(1);
    // Frames unwound since are still read, by their names.
    while (es.ftop > es.fbottom) stack::pop_frame();
    EXPECT_EQ(words_of(1, depth), "fn-a fn-b ");
}

// A conditional the interpreter runs inside a frame (no frame of its own) is named by the
// error's "where" and listed just above that frame, as its own frame would have been.
TEST_F(ErrorTest, AConditionalRunInAFrameIsListedJustAboveIt) {
    make_function_word("fn-a");
    make_function_word("fn-b");
    mark_call("fn-a");
    push_int(1);
    stack::top_frame()->form_symbol = word::load("either").w2;
    stack::top_frame()->form_context = 0;
    cell w = stack::get_call();
    EXPECT_EQ(name_of(&w), "either");
    mark_call("fn-b");
    int32_t depth = int32_t(es.ftop - es.fbottom);
    auto words_of = [&](int32_t level) {
        cell* blk = block::push_new(4);
        stack::trace_words(level, blk, depth);
        std::string s;
        for (uint32_t i = 0; i < block::rs_length_q(blk); i++) s += name_of(&block::cells_of(blk->w2)[i]) + " ";
        stack::pop(1);
        return s;
    };
    EXPECT_EQ(words_of(1), "fn-a fn-b "); // a native is listed only when every call is
    EXPECT_EQ(words_of(2), "fn-a either fn-b ");
    cell marker = integer::make_value(depth);
    cell* out = string::push_new(16);
    stack::trace_form(2, &marker, out, 100);
    EXPECT_EQ(string::to_std(out), "fn-a either fn-b ");
    stack::pop(1);
    cell* blk = block::push_new(8);
    stack::trace(blk);
    ASSERT_EQ(block::rs_length_q(blk), 4u); // the bottom frame (fn-a) is never listed
    const cell* c = block::cells_of(blk->w2);
    EXPECT_EQ(name_of(&c[0]), "fn-b");
    EXPECT_EQ(name_of(&c[2]), "either");
    EXPECT_EQ(integer::get(&c[3]), integer::get(&c[1])); // its base: fn-b's caller's
}

TEST_F(ErrorTest, FillStackMakesTheTraceBlockAndCopiesTheFiles) {
    cell* files = push_block([] { push_text("main.zyl"); });
    link_state(2, files);
    mark_call("one");
    mark_call("two");
    cell* err = make_code(400);
    stack::error_record_stack(err);
    error::fill_stack(err);
    const cell* stack_field = error::field(err, error::F_STACK);
    ASSERT_EQ(stack_field->type(), T_block);
    ASSERT_EQ(block::rs_length_q(stack_field), 2u);
    EXPECT_EQ(name_of(block::cells_of(stack_field->w2)), "one");
    const cell* copy = error::field(err, error::F_FILES);
    ASSERT_EQ(copy->type(), T_block);
    EXPECT_NE(copy->w2, files->w2);
    // A stack that is a block already is kept; so is it once filled.
    error::fill_stack(err);
    stack::error_record_stack(err);
    EXPECT_EQ(error::field(err, error::F_STACK)->w2, stack_field->w2);
    EXPECT_EQ(form_of(err), "*** Math Error: division by zero\n*** Where: ???\n*** Near : none\n"
                            "*** Stack: one two\n*** Files: \"main.zyl\"");
}

// }==
// {== Argument type checks

TEST_F(ErrorTest, ExpectArgNamesTheCallTheTypeAndTheArgument) {
    cell* spec = push_block([] {
        push_word("a");
        push_text("doc");
        push_word("b");
        cell ref = word::make_value(T_refinement, 0, symbol::make("opt"), word::NO_INDEX);
        stack::push(&ref);
        push_word("c");
    });
    cell f = word::load("checked-fn");
    cell native{T_native, 0, spec->w2, 0};
    word::set_value(&f, &native);
    cell ts = typeset::of({T_integer});
    cell* arg = push_text("not a number");
    int32_t before = int32_t(es.top - es.bottom);
    EXPECT_EQ(error::check_arg_type(&ts, 0, push_int(3))->type(), T_integer);
    error::check_arg_type_at(-1, &ts, 0); // an absent optional argument: nothing
    cell unused_ref = integer::make_value(0);
    unused_ref.w1 = 0;
    EXPECT_EQ(error::check_optional_arg_type(&unused_ref, &ts, 3, arg), arg);
    es.top = es.bottom + before;
    caught c = catch_error([&] {
        stack::mark_native(&f); // the call whose argument is checked
        error::check_arg_type(&ts, 3, arg);
    });
    EXPECT_EQ(c.ids.id, error::script_expect_arg);
    EXPECT_EQ(field_name(c.err, error::F_ARG1), "checked-fn");
    EXPECT_EQ(error::field(c.err, error::F_ARG2)->w1, uint32_t(T_string));
    EXPECT_EQ(field_name(c.err, error::F_ARG3), "c");
    std::string report = form_of(c.err);
    EXPECT_EQ(report.substr(0, report.find('\n')),
              "*** Script Error: checked-fn does not allow string! for its c argument");
    // Past the spec's last argument the word is none.
    c = catch_error([&] {
        stack::mark_native(&f);
        error::check_arg_type(&ts, 9, arg);
    });
    EXPECT_EQ(error::field(c.err, error::F_ARG3)->type(), T_none);
}

// }==

} // namespace

// {== The fault reporter's signal table

#include <csignal>
#include <new>

#include "boot/fault.h"

TEST(FaultReporter, SignalsMapToRuntimeErrorCodes) {
    struct { int sig, si_code; bool guard; int code; const char* name; } cases[] = {
        {SIGSEGV, 0, false, 1, "access violation"},
        {SIGSEGV, 0, true, 19, "stack error or overflow"},
        {SIGBUS, 0, false, 34, "Bus error"},
        {SIGFPE, FPE_INTDIV, false, 13, "integer divide by zero"},
        {SIGFPE, FPE_INTOVF, false, 14, "integer overflow"},
        {SIGFPE, FPE_FLTDIV, false, 7, "float divide by zero"},
        {SIGFPE, FPE_FLTINV, false, 9, "float invalid operation"},
        {SIGFPE, FPE_FLTOVF, false, 10, "float overflow"},
        {SIGFPE, FPE_FLTUND, false, 12, "float underflow"},
        {SIGFPE, FPE_FLTRES, false, 8, "float inexact result"},
        {SIGILL, 0, false, 17, "illegal instruction"},
        {SIGTRAP, 0, false, 3, "breakpoint"},
        {SIGUSR1, 0, false, 99, "unknown error"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zyl::fault::code_of(c.sig, c.si_code, c.guard), c.code) << c.name;
        EXPECT_STREQ(zyl::runtime_error_name(c.code), c.name);
    }
    EXPECT_EQ(zyl::fault::code_of(SIGINT, 0, false), 0);
}

// }==

// {== What escapes the run-time

TEST(FaultReporterDeathTest, EscapedExceptionsEndWithTheirRuntimeError) {
    using zyl::fault::systems_throw;
    auto escape = [](auto thrown) {
        try {
            throw thrown;
        } catch (...) {
            (void)dup2(2, 1);
            zyl::fault::end_escaped();
        }
    };
    EXPECT_EXIT(escape(systems_throw{zyl::fault::QUIET_THROW}), ::testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(escape(systems_throw{7}), ::testing::ExitedWithCode(95),
                "^\n\\*\\*\\* Runtime Error 95: no CATCH for THROW\n\\*\\*\\* at: [0-9A-F]+h\n$");
    EXPECT_EXIT(escape(std::bad_alloc{}), ::testing::ExitedWithCode(94), "Runtime Error 94: out of memory");
    EXPECT_EXIT(escape(42), ::testing::ExitedWithCode(99), "Runtime Error 99: unknown error");
}

// }==
