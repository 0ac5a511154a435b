// tests/unit/lexer_events_test.cpp: the event mode: the events a callback sees and their
// arguments, its answers (skip, drop, quiet stop), its mask, moving the scan, nested scans and
// exits out of a callback.
#include <cstring>
#include <functional>
#include <vector>

#include "lexer_fixture.h"
#include "runtime/extres.h"

using namespace zyl;

namespace {

using LexerEvents = zyl::testing::LexerTest;

struct seen {
    lexer::event_kind kind;
    int32_t type;
    int32_t line;
    int64_t start;
    int64_t end;
};

// A callback that records every event and answers through [answer].
struct recorder {
    std::vector<seen> events;
    std::function<bool(lexer::event&)> answer = [](lexer::event&) { return true; };
    lexer::callback cb{&call, this, lexer::EV_ALL, {T_none, 0, 0, 0}};

    static bool call(void* self, lexer::event& e) {
        auto* r = static_cast<recorder*>(self);
        r->events.push_back({e.kind, e.type, e.line, e.start, e.end});
        return r->answer(e);
    }
    std::string kinds() const {
        static const char* names[] = {"", "prescan", "scan", "", "load", "", "", "", "open"};
        std::string s;
        for (const seen& e : events) {
            const char* n = e.kind == lexer::EV_CLOSE ? "close" : e.kind == lexer::EV_ERROR ? "error" : names[e.kind];
            s += std::string(s.empty() ? "" : " ") + n + ":" + std::to_string(e.type);
        }
        return s;
    }
};

lexer::options with(recorder& r, bool load = true) {
    lexer::options o;
    o.events = &r.cb;
    o.load = load;
    return o;
}

TEST_F(LexerEvents, EventsOfABlock) {
    recorder r;
    cell* b = load("[a 1]", with(r));
    EXPECT_EQ(mold(b), "[[a 1]]");
    EXPECT_EQ(r.kinds(), "prescan:-3 open:5 prescan:15 scan:15 load:15 prescan:11 scan:11 load:11 prescan:-4 "
                         "close:5");
    // Positions are 1-based; an open reports its start twice; a value reports one past its end.
    EXPECT_EQ(r.events[1].start, 1);
    EXPECT_EQ(r.events[1].end, 1);
    EXPECT_EQ(r.events[4].start, 2);
    EXPECT_EQ(r.events[4].end, 3);
    EXPECT_EQ(r.events[9].start, 5);
}

TEST_F(LexerEvents, AnswersSkipDropAndStop) {
    recorder skip;
    skip.answer = [](lexer::event& e) { return !(e.kind == lexer::EV_PRESCAN && e.start == 3); };
    EXPECT_EQ(mold(load("a b c", with(skip))), "[a c]");

    recorder drop;
    drop.answer = [](lexer::event& e) { return !(e.kind == lexer::EV_LOAD && e.type == T_integer); };
    EXPECT_EQ(mold(load("a 1 b 2", with(drop))), "[a b]");

    recorder stop;
    stop.answer = [](lexer::event& e) { return e.kind != lexer::EV_ERROR; };
    int32_t type = 0;
    cell* r = load("a 1''0 b", with(stop), nullptr, &type);
    EXPECT_EQ(type, T_error);
    EXPECT_EQ(r->type(), T_none);
    EXPECT_EQ(stop.events.back().kind, lexer::EV_ERROR);
    EXPECT_EQ(stop.events.back().type, T_integer);
}

TEST_F(LexerEvents, QuietRunReportsErrorsWithoutRaising) {
    recorder r;
    int32_t type = 0;
    load("a\n\"open", with(r, false), nullptr, &type);
    EXPECT_EQ(type, T_error);
    EXPECT_EQ(r.events.back().kind, lexer::EV_ERROR);
    EXPECT_EQ(r.events.back().type, T_string);
    EXPECT_EQ(r.events.back().line, 2);
    // Bracket counting: an open block at the end is no error in a run that does not load.
    recorder count;
    load("[a [b]", with(count, false));
    int depth = 0;
    for (const seen& e : count.events) depth += e.kind == lexer::EV_OPEN ? 1 : e.kind == lexer::EV_CLOSE ? -1 : 0;
    EXPECT_EQ(depth, 1);
}

TEST_F(LexerEvents, MaskAndBraceStrings) {
    recorder r;
    r.cb.mask = lexer::EV_OPEN | lexer::EV_CLOSE | lexer::EV_LOAD;
    EXPECT_EQ(mold(load("{a {b}\nc} x", with(r))), "[\"a {b}^/c\" x]");
    EXPECT_EQ(r.kinds(), "open:7 close:7 load:7 load:15");
    EXPECT_EQ(r.events[2].start, 1);
    EXPECT_EQ(r.events[2].end, 10);
}

TEST_F(LexerEvents, MovingTheInputIndexMovesTheScan) {
    cell* s = stack::push(&none_value);
    string::from_utf8(s, "\xE2\x82\xAC skip-me keep");
    recorder r;
    r.answer = [](lexer::event& e) {
        if (e.kind == lexer::EV_PRESCAN && e.start == 3) e.input->w1 = 10; // past "skip-me "
        return true;
    };
    cell* out = stack::push(&none_value);
    lexer::scan_string(out, s, -1, with(r));
    EXPECT_EQ(mold(out), "[\xE2\x82\xAC keep]");
}

TEST_F(LexerEvents, CuttingTheInputInsideATokenEndsTheScan) {
    // A callback that cuts a binary! input short inside the token at hand: the token is no
    // longer whole, which is a syntax error there, never a read past the new tail.
    for (const char* text : {"abc defgh", "a/bcdefg", "%abcdef", "\"abcdef\""}) {
        node_id n = series::alloc_bytes(std::strlen(text));
        series_buffer* b = memory::buffer_of(n);
        std::memcpy(b->head, text, std::strlen(text));
        b->tail = b->head + std::strlen(text);
        cell* bin = stack::push(&none_value);
        *bin = cell{T_binary, 0, n, 0};
        recorder r;
        // At the prescan of the last token (the first, when there is one).
        int64_t last = std::strchr(text, ' ') ? 5 : 1;
        r.answer = [last](lexer::event& e) {
            if (e.kind == lexer::EV_PRESCAN && e.start == last) {
                series_buffer* cut = memory::buffer_of(e.input->w2);
                cut->tail = cut->head + e.start; // one byte into the token
            }
            return true;
        };
        EXPECT_TRUE(zyl::testing::raises(error::cat_syntax, error::syntax_invalid, [&] {
            cell* out = stack::push(&none_value);
            lexer::scan_binary(out, bin, -1, with(r));
        })) << text;
    }
}

TEST_F(LexerEvents, ABinaryInputThatMovesWhileAPathClosesIsReadAfresh) {
    // A small buffer below the input dies when the path's last element has loaded, so that
    // the collection of the allocation that closes the path moves the input a little (its
    // old place then holds its text shifted).
    std::string text = "a/b";
    for (int i = 0; i < 20; i++) text += " c d e";
    EXPECT_EQ(loaded(text.substr(4)), text.substr(4));
    EXPECT_EQ(loaded("a b"), "a b");
    cell* dead = stack::push(&none_value);
    *dead = cell{T_binary, 0, series::alloc_bytes(16), 0};
    node_id n = series::alloc_bytes(text.size());
    series_buffer* b = memory::buffer_of(n);
    std::memcpy(b->head, text.data(), text.size());
    b->tail = b->head + text.size();
    cell* bin = stack::push(&none_value);
    *bin = cell{T_binary, 0, n, 0};
    recorder r;
    r.answer = [dead](lexer::event& e) {
        if (e.kind == lexer::EV_LOAD) *dead = none_value;
        return true;
    };
    cell* out = stack::push(&none_value);
    extres::init();
    collector::gc.active = true;
    mm.stress_every = 1;
    lexer::scan_binary(out, bin, -1, with(r));
    mm.stress_every = 0;
    collector::gc.active = false;
    extres::shutdown();
    EXPECT_EQ(mold(out), "[" + text + "]");
}

TEST_F(LexerEvents, NestedScanFromACallback) {
    recorder r;
    r.answer = [](lexer::event& e) {
        if (e.kind == lexer::EV_LOAD && e.type == T_integer) {
            // Loading again inside the callback takes the output cells above this scan's own.
            cell* inner = load("x [y z] \"w\"");
            EXPECT_EQ(mold(inner), "[x [y z] \"w\"]");
            stack::pop(1);
        }
        return true;
    };
    EXPECT_EQ(mold(load("[a 1 [b 2] c]", with(r))), "[[a 1 [b 2] c]]");
}

TEST_F(LexerEvents, ExitsAndErrorsLeaveTheLexerClean) {
    recorder brk;
    brk.answer = [](lexer::event& e) {
        if (e.kind == lexer::EV_LOAD && e.type == T_integer) es.throw_code = THROW_BREAK;
        return true;
    };
    load("[a 1 b]", with(brk));
    EXPECT_EQ(es.throw_code, uint32_t(THROW_BREAK));
    es.throw_code = THROW_NONE;
    recorder raiser;
    raiser.answer = [](lexer::event& e) {
        if (e.kind == lexer::EV_LOAD && e.type == T_integer) error::raise(error::cat_user, 2);
        return true;
    };
    EXPECT_TRUE(zyl::testing::raises(error::cat_user, 2, [&] {
        cell* out = stack::push(&none_value);
        std::string_view text = "[a [1] b]";
        lexer::scan(out, reinterpret_cast<const uint8_t*>(text.data()), int64_t(text.size()), with(raiser));
    }));
    // Nothing of the unwound scans is left: a new scan starts from an empty output stack.
    EXPECT_EQ(loaded("ok"), "ok");
}

} // namespace
