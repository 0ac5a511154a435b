// tests/unit/gc_language_test.cpp: the collector under language code, with the whole run-time
// started: what scripts build survives `recycle` intact, dropped memory is given back, and a
// loop that makes and drops values runs in flat resident memory.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "boot/startup.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "runtime/collector.h"
#include "runtime_fixture.h"
#include "started_fixture.h"

using namespace zyl;

namespace {

struct GcLanguageTest : zyl::testing::StartedTest {
    // The molded result of [src]; "error" when it raised.
    static std::string eval(const std::string& src) {
        std::string r = StartedTest::eval(src);
        return r.rfind("error ", 0) == 0 ? "error" : r;
    }

    // [full] normally; fewer under collection stress, where every allocation collects.
    static std::string count(int full, int stressed) {
        return std::to_string(mm.stress_every ? stressed : full);
    }
};

TEST_F(GcLanguageTest, StringsSurviveRecycleWithTheirContents) {
    std::string n = count(20000, 1000);
    eval("b: copy [] repeat i " + n + " [append b append copy {string number } form i]");
    EXPECT_EQ(eval("recycle recycle length? b"), n);
    // Every string still holds its own text after the collections moved them.
    EXPECT_EQ(eval("bad: 0 repeat i " + n +
                   " [if (pick b i) <> append copy {string number } form i [bad: bad + 1]] bad"),
              "0");
    EXPECT_EQ(eval("last-of: pick b " + n), "\"string number " + n + "\"");
}

TEST_F(GcLanguageTest, AppendedCopiesKeepTheirCount) {
    std::string n = count(100000, 3000);
    EXPECT_EQ(eval("x: [1 2] c: copy [] repeat i " + n + " [append/only c copy x] recycle length? c"), n);
    EXPECT_EQ(eval("pick c " + n), "[1 2]");
    EXPECT_EQ(eval("pick c 1"), "[1 2]");
}

TEST_F(GcLanguageTest, SelfContainingBlockSurvives) {
    EXPECT_EQ(eval("s: copy [1] append/only s s recycle recycle same? s pick s 2"), "true");
    EXPECT_EQ(eval("s"), "[1 [...]]");
}

TEST_F(GcLanguageTest, BigStringLivesUntilDroppedThenItsMemoryGoesBack) {
    const uint32_t three_mb = 3u << 20;
    std::string before = eval("recycle");
    EXPECT_EQ(eval("big: make string! 10 insert/dup big {x} " + std::to_string(three_mb) +
                   " recycle length? big"),
              std::to_string(three_mb));
    EXPECT_NE(mm.first_big_frame, nullptr); // 3 MB lies in a big frame of its own
    EXPECT_EQ(eval("pick big " + std::to_string(three_mb)), "#\"x\"");
    uint64_t held = std::stoull(eval("recycle"));
    uint64_t after = std::stoull(eval("big: none recycle"));
    EXPECT_GE(held - after, three_mb);
    EXPECT_EQ(mm.first_big_frame, nullptr);
    EXPECT_LE(after, std::stoull(before) + (1u << 20));
}

// {== Resident memory

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), 0 when absent.
uint64_t status_kb(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    uint64_t kb = 0;
    size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') kb = std::strtoull(line + n + 1, nullptr, 10);
    }
    std::fclose(f);
    return kb;
}

// Starts the peak (VmHWM) anew from the current resident size; false when the system refuses.
bool reset_peak() {
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

uint64_t sampled_peak_kb;
uint64_t peak_total; // the most memory the manager held at a collection
void sample() {
    sampled_peak_kb = std::max(sampled_peak_kb, status_kb("VmRSS"));
    peak_total = std::max(peak_total, mm.total);
}

// The address sanitizer keeps shadow pages for every frame ever mapped and freed heap blocks
// in quarantine: resident memory then says nothing of the collector.
#ifdef __SANITIZE_ADDRESS__
constexpr bool resident_memory_meaningful = false;
#else
constexpr bool resident_memory_meaningful = true;
#endif

TEST_F(GcLanguageTest, MillionBlocksAndStringsRunInFlatMemory) {
    std::string n = count(1000000, 3000);
    std::string churn = "loop " + n + " [b: copy [1 2 3] s: copy {abc} append s {def} append/only b s] 1";
    // Resident memory before the loop; the peak is read after it, or, where the system keeps
    // no resettable peak, sampled at every collection (where memory is at its fullest).
    bool exact = reset_peak();
    uint64_t start = status_kb("VmRSS");
    uint64_t start_total = mm.total;
    sampled_peak_kb = start;
    peak_total = start_total;
    collector::add_mark_hook(&sample);
    uint32_t cycles = collector::gc.cycles;
    EXPECT_EQ(eval(churn), "1");
    collector::remove_mark_hook(&sample);
    sample();
    EXPECT_GT(collector::gc.cycles, cycles + 10); // the loop's garbage was collected as it went
    // The pacing lets up to PACE_FLOOR of garbage gather before a collection is due.
    EXPECT_LT(peak_total, start_total + PACE_FLOOR + (4u << 20));
    if (!resident_memory_meaningful) return;
    uint64_t peak = exact ? status_kb("VmHWM") : sampled_peak_kb;
    ASSERT_GT(start, 0u);
    EXPECT_LT(peak, start + PACE_FLOOR / 1024 + 6 * 1024) << "start " << start << " kB, peak " << peak << " kB";
}

// }==

} // namespace
