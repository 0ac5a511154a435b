// tests/unit/os_test.cpp: console output to pipes, files and terminals, the hooks, the clocks,
// sleep, the environment and the current folder.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/platform/console_output.h"
#include "runtime/platform/os.h"
#include "runtime/platform/tui_hooks.h"

using namespace zyl;

namespace {

// {== Helpers

std::vector<uint8_t> latin1(const char* s) { return {s, s + std::strlen(s)}; }

// [units] as bytes of [Unit]-wide text, in the machine's order as the run-time stores them.
template <typename Unit>
std::vector<uint8_t> wide(std::initializer_list<Unit> units) {
    std::vector<uint8_t> out(units.size() * sizeof(Unit));
    std::memcpy(out.data(), units.begin(), out.size());
    return out;
}

// Reads whatever [fd] holds now, or waits up to a second for [want] bytes.
std::string drain(int fd, size_t want = 0) {
    std::string got;
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, got.size() < want ? 1000 : 0) <= 0) break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

// Writers aimed at the write end of a pipe; the test reads the other end.
struct ConsoleOutput : ::testing::Test {
    int fds[2] = {-1, -1};
    int old_fd = -1;

    void SetUp() override {
        ASSERT_EQ(pipe(fds), 0);
        old_fd = console::set_output_fd(fds[1]);
    }
    void TearDown() override {
        console::set_output_fd(old_fd);
        if (fds[0] >= 0) close(fds[0]);
        close(fds[1]);
    }
    std::string output() { return drain(fds[0]); }
};

// }==

// {== Writers

TEST_F(ConsoleOutput, PipeReceivesUtf8WithLfForEveryWidth) {
    EXPECT_FALSE(console::is_console());
    std::vector<uint8_t> l1 = latin1("h\xE9llo");
    std::vector<uint8_t> u2 = wide<uint16_t>({'h', 0xE9, 'l', 'l', 'o', ' ', 0x20AC});
    std::vector<uint8_t> u4 = wide<uint32_t>({'h', 0xE9, 'l', 'l', 'o', ' ', 0x20AC, 0x1F600});

    console::write_latin1_line(l1.data(), l1.size());
    EXPECT_EQ(output(), "h\xC3\xA9llo\n");
    console::write_ucs2_line(u2.data(), u2.size());
    EXPECT_EQ(output(), "h\xC3\xA9llo \xE2\x82\xAC\n");
    console::write_ucs4_line(u4.data(), u4.size());
    EXPECT_EQ(output(), "h\xC3\xA9llo \xE2\x82\xAC\xF0\x9F\x98\x80\n");

    console::write_latin1(l1.data(), l1.size());
    console::write_ucs2(u2.data(), 2);
    console::write_ucs4(u4.data() + 28, 4);
    EXPECT_EQ(output(), "h\xC3\xA9lloh\xF0\x9F\x98\x80");
}

TEST_F(ConsoleOutput, SurrogatesAndOutOfRangeUnits) {
    struct {
        std::vector<uint8_t> text;
        bool ucs4;
        const char* utf8;
    } cases[] = {
        {wide<uint16_t>({0xD83D, 0xDE00}), false, "\xF0\x9F\x98\x80"}, // a pair: one character
        {wide<uint16_t>({0xD83D}), false, "\xEF\xBF\xBD"},             // high at the end
        {wide<uint16_t>({0xD83D, 'A'}), false, "\xEF\xBF\xBD" "A"},
        {wide<uint16_t>({0xDE00, 0xD83D}), false, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {wide<uint16_t>({0xD83D, 0xD83D, 0xDE00}), false, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {wide<uint16_t>({0xFFFF, 0x7FF, 0x80}), false, "\xEF\xBF\xBF\xDF\xBF\xC2\x80"},
        {wide<uint32_t>({0xDC00}), true, "\xEF\xBF\xBD"},
        {wide<uint32_t>({0xD83D, 0xDE00}), true, "\xF0\x9F\x98\x80"},
        {wide<uint32_t>({0x10FFFF, 0x110000, 0xFFFFFFFF}), true, "\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        if (c.ucs4) {
            console::write_ucs4(c.text.data(), c.text.size());
        } else {
            console::write_ucs2(c.text.data(), c.text.size());
        }
        EXPECT_EQ(output(), c.utf8);
    }
}

TEST_F(ConsoleOutput, TrailingPartialUnitIsIgnored) {
    std::vector<uint8_t> u2 = wide<uint16_t>({'a', 'b'});
    console::write_ucs2(u2.data(), 3);
    std::vector<uint8_t> u4 = wide<uint32_t>({'c', 'd'});
    console::write_ucs4(u4.data(), 7);
    console::write_ucs2_line(u2.data(), 0);
    EXPECT_EQ(output(), "ac\n");
}

TEST_F(ConsoleOutput, AnsiSequencesPassThroughAPipe) {
    std::vector<uint8_t> t = latin1("\x1B[5;3H\x1B" "x\x1B[31;1mred");
    console::write_latin1(t.data(), t.size());
    EXPECT_EQ(output(), "\x1B[5;3H\x1B" "x\x1B[31;1mred");
}

TEST(ConsoleOutputFile, TextLargerThanTheBufferArrivesWholeAndInOrder) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    int old = console::set_output_fd(fileno(f));
    std::vector<uint16_t> units(100001);
    for (size_t i = 0; i < units.size(); i++) units[i] = i % 3 == 2 ? 0x20AC : 0xE9;
    units[50000] = 0xD83D; // a pair across the middle
    units[50001] = 0xDE00;
    console::write_ucs2_line(reinterpret_cast<const uint8_t*>(units.data()), units.size() * 2);
    console::set_output_fd(old);

    std::string expected;
    for (size_t i = 0; i < units.size(); i++) {
        if (i == 50000) {
            expected += "\xF0\x9F\x98\x80";
            i++;
        } else {
            expected += units[i] == 0xE9 ? "\xC3\xA9" : "\xE2\x82\xAC";
        }
    }
    expected += '\n';
    std::string got(expected.size() + 16, '\0');
    ASSERT_EQ(lseek(fileno(f), 0, SEEK_SET), 0);
    ssize_t n = read(fileno(f), got.data(), got.size());
    ASSERT_GT(n, 0);
    got.resize(static_cast<size_t>(n));
    EXPECT_TRUE(got == expected);
    std::fclose(f);
}

TEST(ConsoleOutputTerminal, PseudoTerminalReceivesAnsiUnchanged) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios raw;
    ASSERT_EQ(tcgetattr(slave, &raw), 0);
    cfmakeraw(&raw); // the line discipline must not rewrite what we check
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
    int old = console::set_output_fd(slave);
    EXPECT_TRUE(console::is_console());

    const char* sgr = "\x1B[31mred\x1B[0m \x1B[2J\x1B[1;1H\xE2\x82\xAC";
    std::vector<uint32_t> u4;
    for (const char* p = "\x1B[31mred\x1B[0m \x1B[2J\x1B[1;1H"; *p; p++) u4.push_back(uint8_t(*p));
    u4.push_back(0x20AC);
    console::write_ucs4_line(reinterpret_cast<const uint8_t*>(u4.data()), u4.size() * 4);
    std::string expected = std::string(sgr) + "\n";
    EXPECT_EQ(drain(master, expected.size()), expected);

    console::set_output_fd(old);
    close(slave);
    close(master);
}

// Output that goes nowhere ends the program as a shell tool ends (no SIGPIPE: status 1), so
// `forever [print "y"]` into `head -1` stops.
TEST_F(ConsoleOutput, ClosedReaderEndsTheProgramWithStatus1) {
    close(fds[0]); // here, before the child is made: no process keeps a reader
    fds[0] = -1;
    EXPECT_EXIT(
        {
            os::init_io();
            console::set_output_fd(fds[1]);
            std::vector<uint8_t> t = latin1("nobody reads this");
            console::write_latin1_line(t.data(), t.size());
            console::write_cstring("nor this");
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "");
}

// }==

// {== Diagnostics and hooks

std::string captured;
int capture_flags;
void capture(const char* text, size_t length, int flag) {
    captured.append(text, length);
    capture_flags |= flag;
}

TEST_F(ConsoleOutput, DiagnosticWritersReachTheCaptureHooks) {
    captured.clear();
    capture_flags = 0;
    console::init_print_hooks();
    console::add_print_hooks(nullptr, capture);
    console::write_cstring("n=");
    console::write_int(-42);
    console::write_hex2(10);
    console::write_hex8(255);
    console::write_float64(1.0 / 3);
    console::write_float32(1.0f / 3);
    const char* expected = "n=-420A000000FF0.33333333333333330.3333333";
    EXPECT_EQ(output(), expected);
    EXPECT_EQ(captured, expected);
    EXPECT_EQ(capture_flags, 0);

    std::vector<uint8_t> t = latin1("plain");
    console::write_latin1(t.data(), t.size()); // text writers are not captured
    console::remove_print_hooks(nullptr, capture);
    console::write_int(7);
    EXPECT_EQ(output(), "plain7");
    EXPECT_EQ(captured, expected);
}

// A string series holding [text] at [unit] bytes a character, its value at [index].
cell make_string(const std::vector<uint8_t>& text, uint32_t unit, uint32_t index) {
    node_id n = series::alloc(text.size() / unit + 1, unit, 0);
    series_buffer* b = memory::buffer_of(n);
    std::memcpy(b->head, text.data(), text.size());
    b->tail = b->head + text.size();
    cell c{};
    c.header = T_string;
    c.w1 = index;
    c.w2 = n;
    return c;
}

struct PrintString : ConsoleOutput {
    void SetUp() override {
        collector::gc = {};
        memory::init();
        memory::new_node_frame(NODE_FRAME_SLOTS);
        memory::new_series_frame();
        ConsoleOutput::SetUp();
    }
    void TearDown() override {
        ConsoleOutput::TearDown();
        tui::restore_terminal = nullptr;
        tui::resume_terminal = nullptr;
        memory::free_all();
        collector::gc = {};
    }
};

TEST_F(PrintString, WritesFromTheIndexAtEachWidth) {
    cell s1 = make_string(latin1("abc\xE9"), 1, 1);
    cell s2 = make_string(wide<uint16_t>({'x', 0x20AC}), 2, 0);
    cell s4 = make_string(wide<uint32_t>({'a', 0x1F600}), 4, 1);
    cell past = make_string(latin1("abc"), 1, 9);
    console::print_string(&s1, false);
    console::print_string(&s2, true);
    console::print_string(&s4, true);
    console::print_string(&past, true);
    EXPECT_EQ(output(), "bc\xC3\xA9x\xE2\x82\xAC\n\xF0\x9F\x98\x80\n\n");
}

TEST_F(PrintString, UnknownUnitIsReported) {
    node_id n = series::alloc_cells(2);
    cell c{};
    c.header = T_string;
    c.w2 = n;
    console::print_string(&c, true);
    EXPECT_EQ(output(), "Error: unknown string encoding: 16\n");
}

std::vector<std::string> events;
int event_fd = -1;
void on_restore() { events.push_back("restore:" + drain(event_fd)); }
void on_resume() { events.push_back("resume:" + drain(event_fd)); }
void hook_a(const cell*, bool newline) { events.push_back(newline ? "a-line" : "a"); }
void hook_b(const cell*, bool) { events.push_back("b"); }

TEST_F(PrintString, TerminalUiGivesBackTheTerminalAroundTheWrite) {
    events.clear();
    event_fd = fds[0];
    tui::restore_terminal = on_restore;
    tui::resume_terminal = on_resume;
    cell s = make_string(latin1("hi"), 1, 0);
    console::print_string(&s, true);
    EXPECT_EQ(events, (std::vector<std::string>{"restore:", "resume:hi\n"}));
}

TEST_F(PrintString, PrintHooksRunInOrderAndRemoveOneEntryEach) {
    events.clear();
    console::init_print_hooks();
    console::add_print_hooks(hook_a, nullptr);
    console::add_print_hooks(hook_b, nullptr);
    console::add_print_hooks(hook_a, nullptr);
    cell s = make_string(latin1("out"), 1, 0);
    console::call_print_hooks(&s, true);
    EXPECT_EQ(output(), "out\n"); // print_string is the first hook
    EXPECT_EQ(events, (std::vector<std::string>{"a-line", "b", "a-line"}));

    events.clear();
    console::remove_print_hooks(hook_a, nullptr);
    console::remove_print_hooks(hook_b, capture); // an absent capture hook is skipped
    console::call_print_hooks(&s, false);
    EXPECT_EQ(output(), "out");
    EXPECT_EQ(events, (std::vector<std::string>{"a"}));
}

// }==

// {== Time

int64_t day_number(uint32_t packed) {
    using namespace std::chrono;
    year_month_day d{year(int(packed >> 17)), month((packed >> 12) & 0xF), day((packed >> 7) & 0x1F)};
    return sys_days(d).time_since_epoch().count();
}

// Runs with TZ set to a zone; restores the caller's TZ afterwards.
struct Zone : ::testing::Test {
    std::string saved;
    bool had = false;
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        had = tz != nullptr;
        if (had) saved = tz;
    }
    void TearDown() override {
        if (had) {
            setenv("TZ", saved.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
};

TEST_F(Zone, ZoneBitsFollowTheOffset) {
    struct {
        const char* tz;
        uint32_t zone;
    } cases[] = {
        {"UTC0", 0},
        {"AAA-5:30", 5 << 2 | 2},         // 5:30 east
        {"BBB+3:30", 0x40 | 3 << 2 | 2},  // 3:30 west
        {"CCC-14", 14 << 2},
        {"DDD+0:45", 0x40 | 3},           // west by less than an hour
        {"EEE-5:50", 5 << 2 | 3},         // minutes beyond a quarter are dropped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tz);
        ASSERT_EQ(setenv("TZ", c.tz, 1), 0);
        EXPECT_EQ(os::time_now(false) & 0x7F, c.zone);
        EXPECT_EQ(os::time_now(true) & 0x7F, 0u);
    }
}

TEST_F(Zone, LocalDateIsTheUtcDateShiftedByTheZone) {
    for (const char* tz : {"FAR-14", "WEST+11:45", "UTC0"}) {
        SCOPED_TRACE(tz);
        ASSERT_EQ(setenv("TZ", tz, 1), 0);
        for (int attempt = 0; attempt < 5; attempt++) {
            double before = os::utc_time_of_day(false);
            uint32_t utc = os::time_now(true);
            uint32_t local = os::time_now(false);
            double after = os::utc_time_of_day(false);
            if (after < before) continue; // midnight passed between the calls
            uint32_t z = local & 0x7F;
            int64_t offset = ((z >> 2) & 0xF) * 3600 + (z & 3) * 900;
            if (z & 0x40) offset = -offset;
            int64_t shift = int64_t(std::floor((before + double(offset)) / 86400));
            if (shift != int64_t(std::floor((after + double(offset)) / 86400))) continue;
            EXPECT_EQ(day_number(local), day_number(utc) + shift);
            break;
        }
    }
}

TEST(Clock, UtcDateAndTimeOfDayMatchTheSystem) {
    time_t now = time(nullptr);
    tm parts;
    gmtime_r(&now, &parts);
    uint32_t d = os::time_now(true);
    EXPECT_EQ(int(d >> 17), parts.tm_year + 1900);
    EXPECT_EQ(int((d >> 12) & 0xF), parts.tm_mon + 1);
    EXPECT_NEAR(double((d >> 7) & 0x1F), parts.tm_mday, 1); // midnight may pass

    double whole = os::utc_time_of_day(false);
    double precise = os::utc_time_of_day(true);
    EXPECT_EQ(whole, std::floor(whole));
    EXPECT_TRUE(whole >= 0 && whole < 86400);
    EXPECT_TRUE(precise >= 0 && precise < 86400);
    double ticks = precise * 1e7; // steps of 100 ns
    EXPECT_NEAR(ticks, std::round(ticks), 1e-2);
}

TEST(Clock, MonotonicCounterNeverDecreases) {
    int64_t last = os::monotonic_ns();
    for (int i = 0; i < 100000; i++) {
        int64_t t = os::monotonic_ns();
        ASSERT_GE(t, last);
        last = t;
    }
}

TEST(Clock, SleepLastsAtLeastOneMillisecond) {
    for (double s : {0.0001, 0.0, -3.0, std::nan("")}) {
        int64_t start = os::monotonic_ns();
        os::sleep(s);
        EXPECT_GE(os::monotonic_ns() - start, 1000000) << s;
    }
    int64_t start = os::monotonic_ns();
    os::sleep(0.02);
    EXPECT_GE(os::monotonic_ns() - start, 20000000);
}

// }==

// {== Environment and folders

TEST(Environment, SetGetAndRemove) {
    const char* name = "ZYL_OS_TEST_VARIABLE";
    ASSERT_TRUE(os::set_env(name, "v\xC3\xA4lue \xE2\x82\xAC"));
    ASSERT_NE(os::get_env(name), nullptr);
    EXPECT_STREQ(os::get_env(name), "v\xC3\xA4lue \xE2\x82\xAC");
    ASSERT_TRUE(os::set_env(name, ""));
    EXPECT_STREQ(os::get_env(name), "");
    ASSERT_TRUE(os::set_env(name, nullptr));
    EXPECT_EQ(os::get_env(name), nullptr);
    EXPECT_EQ(os::get_env("ZYL_OS_TEST_NEVER_SET"), nullptr);
    EXPECT_FALSE(os::set_env("", "x"));
    EXPECT_FALSE(os::set_env("A=B", "x"));
    EXPECT_EQ(os::get_env("A"), nullptr);
}

struct CurrentDir : ::testing::Test {
    std::string start;
    void SetUp() override {
        size_t n = 0;
        const char* d = os::get_current_dir(&n);
        ASSERT_NE(d, nullptr);
        start.assign(d, n);
    }
    void TearDown() override { ASSERT_TRUE(os::set_current_dir(start.c_str())); }
};

TEST_F(CurrentDir, SetAndGetRoundTripAtAnyLength) {
    char base[] = "/tmp/zyl-os-test-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    std::string deep = base;
    std::vector<std::string> made;
    for (int i = 0; deep.size() < 1200; i++) {
        deep += "/" + std::string(60, char('a' + i % 26));
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
        made.push_back(deep);
    }
    ASSERT_TRUE(os::set_current_dir(deep.c_str()));
    size_t n = 0;
    const char* d = os::get_current_dir(&n);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(std::string(d, n), deep);
    EXPECT_EQ(n, std::strlen(d));
    EXPECT_FALSE(os::set_current_dir("/no/such/folder/here"));

    ASSERT_TRUE(os::set_current_dir(start.c_str()));
    for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
    rmdir(base);
}

TEST_F(CurrentDir, RemovedFolderGivesNull) {
    char base[] = "/tmp/zyl-os-test-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    ASSERT_TRUE(os::set_current_dir(base));
    ASSERT_EQ(rmdir(base), 0);
    size_t n = 99;
    EXPECT_EQ(os::get_current_dir(&n), nullptr);
    EXPECT_EQ(n, 0u);
}

// }==

} // namespace
