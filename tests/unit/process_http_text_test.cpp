// tests/unit/process_http_text_test.cpp: the texts the process, HTTP and clipboard services
// take apart or build: command lines, response header text, URLs sent, text/uri-list, and
// the repair of captured bytes that are not UTF-8.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/unicode.h"
#include "services/clipboard.h"
#include "services/http.h"
#include "services/process.h"

using namespace zyl;

namespace {

using strings = std::vector<std::string>;

TEST(CommandSplitting, SplitsAsAShellWouldWithoutExpanding) {
    struct split_case {
        const char* text;
        strings argv;
    } cases[] = {
        {"ls -l  /tmp", {"ls", "-l", "/tmp"}},
        {"  \tpadded\t ", {"padded"}},
        {"", {}},
        {"a 'b c' d", {"a", "b c", "d"}},
        {R"('a\b "c"')", {R"(a\b "c")"}},          // single quotes keep everything
        {R"("a \"b\" \\ \n")", {R"(a "b" \ \n)"}}, // only \" and \\ escape in double quotes
        {R"(a\ b \'c)", {"a b", "'c"}},
        {R"(x"y"'z' '')", {"xyz", ""}},              // quotes join a word; '' is an empty word
        {"$HOME *.txt `id` ~", {"$HOME", "*.txt", "`id`", "~"}},
        {"trailing\\", {"trailing\\"}},
    };
    for (const auto& c : cases) {
        strings argv;
        EXPECT_TRUE(process::split_command(c.text, argv)) << c.text;
        EXPECT_EQ(argv, c.argv) << c.text;
    }
}

TEST(CommandSplitting, RefusesUnclosedQuotesAndNul) {
    for (std::string bad : {std::string("a 'b"), std::string("a \"b"), std::string("a \"b\\\""),
                            std::string("a\0b", 3), std::string("'\0'", 3)}) {
        strings argv;
        EXPECT_FALSE(process::split_command(bad, argv)) << bad;
    }
}

TEST(HttpHeaders, ParsesTrimmedPairsOfTheLastResponse) {
    using list = http::header_list;
    // A redirect hop's headers are dropped; CR LF and LF both end lines; the last line need
    // not end; blanks around names and values go; lines without a colon are skipped.
    EXPECT_EQ(http::parse_headers("HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n"
                                  "HTTP/1.1 200 OK\r\nA:b\r\nC :  d e \nno colon\nF: g"),
              (list{{"A", "b"}, {"C", "d e"}, {"F", "g"}}));
    EXPECT_EQ(http::parse_headers("X: 1\r\nX: 2\r\n"), (list{{"X", "1"}, {"X", "2"}}));
    EXPECT_EQ(http::parse_headers("V:\r\n: no name\r\nW: a:b"), (list{{"V", ""}, {"W", "a:b"}}));
    EXPECT_EQ(http::parse_headers(""), list{});
}

TEST(HttpUrls, EscapesWhatMayNotStandInAUrl) {
    EXPECT_EQ(http::escape_url("http://h/a b/\xC3\xA9?q=1&r=%41#f"), "http://h/a%20b/%C3%A9?q=1&r=%41#f");
    EXPECT_EQ(http::escape_url("http://h/\r\n\"<>\\^`{|}"), "http://h/%0D%0A%22%3C%3E%5C%5E%60%7B%7C%7D");
}

TEST(UriList, RoundTripsLocalPaths) {
    strings paths = {"/tmp/a b", "/x/%y/\xC3\xA9"};
    std::string list = clipboard::to_uri_list(paths);
    EXPECT_EQ(list, "file:///tmp/a%20b\r\nfile:///x/%25y/%C3%A9\r\n");
    EXPECT_EQ(clipboard::from_uri_list(list), paths);
    // Comments, other schemes, other hosts and paths holding a NUL are left out.
    EXPECT_EQ(clipboard::from_uri_list("# c\nhttp://h/x\nfile://elsewhere/y\nfile://localhost/z\n"
                                       "file:///a%00b\nfile:///last"),
              (strings{"/z", "/last"}));
}

TEST(Osc52, EncodesTextAndRefusesTooMuch) {
    EXPECT_EQ(clipboard::osc52("hi!"), "\x1b]52;c;aGkh\x07");
    EXPECT_EQ(clipboard::osc52("ab"), "\x1b]52;c;YWI=\x07");
    EXPECT_EQ(clipboard::osc52(std::string(76800, 'x')).size(), 102400u + 8);
    EXPECT_EQ(clipboard::osc52(std::string(76801, 'x')), "");
}

TEST(Utf8Repair, ReplacesEachBadSequenceOnce) {
    auto repair = [](std::string s) {
        return unicode::repair_utf8(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(repair("plain \xC3\xA9"), "plain \xC3\xA9");
    EXPECT_EQ(repair("a\xFF"
                     "b"),
              "a" + fffd + "b");
    EXPECT_EQ(repair("\xC3"
                     "a"),
              fffd + "a"); // the byte that cut the sequence is kept
    EXPECT_EQ(repair("x\xE2\x82"), "x" + fffd);
    EXPECT_EQ(repair(std::string("\0", 1)), std::string("\0", 1));
}

} // namespace
