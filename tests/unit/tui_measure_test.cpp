// tests/unit/tui_measure_test.cpp: text measured in character cells, and the text-box metrics
// answered for a face made in the language.
#include "gui/terminal/text_measure.h"

#include "datatypes/context.h"
#include "datatypes/word.h"
#include "tui_fixture.h"

namespace zyl::testing {
namespace {

tui::text_span span(const std::u32string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), 4, uint32_t(s.size())};
}

TEST(TuiMeasure, Extents) {
    struct {
        std::u32string text;
        int32_t limit, width, lines;
    } cases[] = {
        {U"ab\ncde", 0, 3, 2},
        {U"", 0, 0, 1},
        {U"\x4E2D", 1, 0, 2}, // a wide character under a limit of 1: nothing fits
        {U"abcdef", 4, 4, 2},
        {U"ab\x4E2D" U"c", 3, 3, 2}, // the wide character does not fit after ab
        {U"a\u0301b", 0, 2, 1},      // a combining mark takes no cell
        {U"a\n", 0, 1, 2},
    };
    for (auto& c : cases) {
        tui::extent e = tui::text_extent(span(c.text), c.limit);
        EXPECT_EQ(e.width, c.width) << c.limit;
        EXPECT_EQ(e.lines, c.lines) << c.limit;
    }
}

TEST(TuiMeasure, MeasureLineStopsBeforeTheOverflow) {
    std::u32string s = U"ab\x4E2D" U"cd";
    tui::line_measure m = tui::measure_line(span(s), 3);
    EXPECT_EQ(m.width, 2);
    EXPECT_EQ(m.chars, 2u);
    m = tui::measure_line(span(s), INT32_MAX);
    EXPECT_EQ(m.width, 6);
    EXPECT_EQ(m.chars, 5u);
}

TEST(TuiMeasure, PositionsAndCellsAgree) {
    std::u32string s = U"ab\x4E2D" U"cd\nxy"; // in a box 4 wide: "ab中" / "cd" / "xy"
    struct {
        uint32_t index;
        int32_t col, line;
    } at[] = {{0, 0, 0}, {2, 2, 0}, {3, 0, 1}, {5, 2, 1}, {6, 0, 2}, {8, 2, 2}, {99, 2, 2}};
    for (auto& c : at) {
        int32_t col, line;
        tui::char_position(span(s), 4, c.index, col, line);
        EXPECT_EQ(col, c.col) << c.index;
        EXPECT_EQ(line, c.line) << c.index;
    }
    struct {
        int32_t col, line;
        uint32_t index;
        bool past;
    } cells[] = {{3, 0, 2, false}, {1, 1, 4, false}, {9, 1, 5, false}, {1, 2, 7, false}, {5, 2, 8, true}, {0, 7, 8, true}};
    for (auto& c : cells) {
        bool past;
        EXPECT_EQ(tui::char_at_cell(span(s), 4, c.col, c.line, past), c.index) << c.col << "," << c.line;
        EXPECT_EQ(past, c.past) << c.col << "," << c.line;
    }
}

struct MetricsTest : TuiTest {
    std::string metrics(const char* face_src, const char* arg_src, int32_t type) {
        eval(std::string("f: ") + face_src);
        eval(std::string("a: ") + arg_src);
        cell fw = word::load("f"), aw = word::load("a"), rw = word::load("r");
        cell face = *context::get_value(&fw), arg = *context::get_value(&aw), out;
        if (!guarded([&] { tui::text_box_metrics(&face, &arg, type, &out); })) return last_error;

        context::set_value(&rw, &out);
        return eval("r");
    }
};

// A face as the prototype lays it out: only the positions matter here.
constexpr const char* face_fmt =
    "make object! [type: 'text offset: 0x0 size: 4x3 text: \"ab\u4E2Dcd^/xy\" image: color: menu: data: "
    "enabled?: visible?: selected: flags: options: parent: pane: state: rate: edge: para: font: actors: "
    "extra: draw: none]";

TEST_F(MetricsTest, AnswersEachQuery) {
    struct {
        const char* arg;
        int32_t type;
        const char* result;
    } cases[] = {
        {"1", 0, "(0, 0)"}, {"4", 0, "(0, 1)"}, {"-5", 0, "(0, 0)"}, {"99", 0, "(2, 2)"},
        {"4", 6, "(0, 2)"}, {"3x0", 1, "3"}, {"9x1", 1, "6"}, {"5x2", 1, "9"}, {"5x2", 5, "8"},
        {"1x2", 5, "8"}, {"none", 2, "1.0"}, {"none", 3, "(4, 3)"}, {"none", 4, "3"}, {"1", 7, "none"},
    };
    for (auto& c : cases) EXPECT_EQ(metrics(face_fmt, c.arg, c.type), c.result) << c.arg << " type " << c.type;
}

TEST_F(MetricsTest, AShortObjectIsNoFace) {
    EXPECT_EQ(metrics("make object! [type: 'text offset: 0x0 size: 4x3]", "1", 0),
              error_of(error::cat_script, error::script_face_type));
}

} // namespace
} // namespace zyl::testing
