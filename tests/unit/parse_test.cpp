// tests/unit/parse_test.cpp: the parse engine where a transcript cannot look: collections at
// every allocation while parse copies, keeps and changes the input, the stacks and the frame
// count after errors and exits, nested parse from actions, and the native's argument checks.
#include <string>
#include <string_view>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "eval/natives.h"
#include "parse/engine.h"
#include "runtime_fixture.h"

using namespace zyl;

namespace {

// {== Fixture

struct ParseTest : ::testing::Test {
    void SetUp() override {
        collector::gc = {};
        datatype::reg.words_made = false;
        zyl::testing::start_runtime();
    }
    void TearDown() override { runtime::stop(); }

    static cell* load(std::string_view text) {
        return runtime::load_text(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }

    static std::string mold_value(const cell* v) {
        cell value = *v; // [v] may lie in a buffer that push_new moves
        cell* buffer = string::push_new(16);
        actions::mold_typed(&value, buffer, false, false, true, nullptr, 1 << 30, 0);
        std::string s = string::to_std(buffer);
        stack::pop(1);
        return s;
    }

    // Evaluates [text]; the molded result, or "error <id>". Both stacks and the engine's
    // frame count must come back to where they were.
    static std::string run(std::string_view text) {
        cell* blk = load(text);
        cell* saved_top = es.top;
        call_frame* saved_frames = es.ftop;
        cell w{T_word, 0, 99, 0};
        stack::mark_try(&w);
        std::string out;
        try {
            interp::eval_block(blk, false);
            out = mold_value(es.top - 1);
            stack::unwind();
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            out = "error " + std::to_string(e.id);
        }
        EXPECT_EQ(es.ftop, saved_frames) << text;
        EXPECT_EQ(parse::frames, 0u) << text;
        es.top = saved_top;
        stack::pop(1);
        return out;
    }
};

// Collects at every allocation while it lives.
struct full_stress {
    uint64_t saved = mm.stress_every;
    full_stress() { mm.stress_every = 1; }
    ~full_stress() { mm.stress_every = saved; }
};

std::string err(int32_t id) { return "error " + std::to_string(id); }

// }==
// {== Values made while parsing survive collections

TEST_F(ParseTest, CollectedCopiedAndChangedValuesSurviveCollectionsAtEveryAllocation) {
    full_stress stress;
    struct {
        const char* code;
        const char* expected;
    } cases[] = {
        {R"(d: charset "0123456789" parse "a12b345c6" [collect [any [keep some d | skip]]])",
         R"(["12" "345" #"6"])"},
        {R"(parse [a b c d] [collect [keep 2 skip collect [keep pick 2 skip]]])", "[[a b] [c d]]"},
        {R"(parse "abcd" [copy x 2 skip copy y to end] reduce [x y])", R"(["ab" "cd"])"},
        {R"(s: copy "abcabc" parse s [any [change "b" "XYZ" | skip]] s)", R"("aXYZcaXYZc")"},
        {R"(b: copy [1 2 3] parse b [any [remove integer! insert (copy "n")]] b)",
         R"(["n" "n" "n"])"},
        {R"(s: copy "" parse [a "b" #"c"] [collect into s [some [keep skip]]] s)", R"("abc")"},
        {R"(parse [x "a" [1 2]] [collect [keep (copy "t") skip into ["a"] into [keep pick 2 skip]]])",
         R"(["t" 1 2])"},
    };
    for (auto& c : cases) EXPECT_EQ(run(c.code), c.expected) << c.code;
}

TEST_F(ParseTest, NestedParseFromAnActionUsesItsOwnState) {
    EXPECT_EQ(
        run(R"(parse [["ab"] x] [into [set s string! (ok: parse s [collect [keep "a" keep "b"]])] 'x] ok)"),
        "[#\"a\" #\"b\"]");
    EXPECT_EQ(
        run(R"(parse "ab" [collect [keep "a" (inner: parse [1] [collect [keep skip]]) keep "b"]])"),
        "[#\"a\" #\"b\"]");
    EXPECT_EQ(run("inner"), "[1]");
}

// }==
// {== Errors and exits leave the stacks as they were

TEST_F(ParseTest, ErrorsRestoreTheStacksAndTheFrameCount) {
    namespace ids = zyl::error;
    EXPECT_EQ(run(R"(r: [opt ["a" r]] parse append/dup copy "" "a" 5000 r)"),
              err(ids::script_parse_stack));
    EXPECT_EQ(run(R"(parse "a" [some ["a" (1 / 0)]])"), err(ids::math_zero_divide));
    EXPECT_EQ(run(R"(parse [a] [collect [some [keep skip keep]]])"), err(ids::script_parse_end));
    EXPECT_EQ(run(R"(parse "x" [into ["x"]])"), err(ids::script_parse_block));
    // The engine works as before after each of them.
    EXPECT_EQ(run(R"(r: [opt ["a" r]] parse "aaaa" r)"), "true");
}

TEST_F(ParseTest, ExitsFromActionsAndTheCallbackLeaveParse) {
    EXPECT_EQ(run("f: func [] [parse [1 2] [some [integer! (return 9)]] 0] f"), "9");
    EXPECT_EQ(run("catch [parse [1 2] [integer! (throw 5)]]"), "5");
    EXPECT_EQ(run("n: 0 foreach x [1 2 3] [parse [a] [skip (n: n + x) (if x = 2 [break])]] n"),
              "3");
    EXPECT_EQ(run("g: func [] [parse/trace [a] [skip] func [e m r i s] [return 1]] g"), "true");
    EXPECT_EQ(run("h: func [] [parse/trace [a] [skip] func [e m r i s] [throw 4] 0] catch [h]"),
              "4");
}

// }==
// {== The native's argument checks

TEST_F(ParseTest, TheNativeChecksItsArgumentsWhenAsked) {
    cell* blk = load(R"(1 ["a"])");
    cell* saved_top = es.top;
    call_frame* saved_frames = es.ftop;
    cell t{T_word, 0, 99, 0};
    stack::mark_try(&t);
    bool raised = false;
    try {
        cell w = word::load("parse");
        stack::mark_native(&w);
        for (uint32_t i = 0; i < 2; i++) stack::push(block::cells_of(blk->w2) + i);
        int32_t refs[3] = {-1, -1, -1};
        natives::call(natives::entry(40), true, 1, 3, refs);
    } catch (const error::raised& e) {
        es.throw_code = THROW_NONE;
        raised = e.id == error::script_expect_arg;
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(es.ftop, saved_frames);
    es.top = saved_top;
    stack::pop(1);
}

// }==

} // namespace
