// tests/unit/boot_top_level_test.cpp: the boot sources' top level: the routine registry (every
// row has a distinct name and code, the sources make each row once, the maker refuses names
// that are not rows or were made already) and the library flag and compiled mode it runs in.
#include <set>
#include <string>
#include <strings.h>

#include "boot/top_level.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/header_flags.h"
#include "datatypes/word.h"
#include "eval/interp.h"
#include "library/routine_registry.h"
#include "started_fixture.h"

using namespace zyl;

namespace {

struct BootTopLevelTest : zyl::testing::StartedTest {
    // Whether the function that [src] evaluates to carries the library flag.
    static std::string library_flag(const std::string& src) {
        cell* top = es.top;
        cell* block = runtime::load_text(reinterpret_cast<const uint8_t*>(src.data()), src.size());
        cell w = word::load("test");
        stack::mark_try(&w);
        interp::eval_block(block, true);
        bool on = es.base->type() == T_function && (es.base->header & FUNC_LIBRARY);
        stack::pop_frame();
        es.top = top;
        return on ? "library" : "user";
    }
};

TEST_F(BootTopLevelTest, RowsHaveDistinctNamesAndFindIgnoresLetterCase) {
    std::set<std::string> names;
    for (uint32_t i = 0; i < routine::registry_count; i++) {
        std::string n = routine::registry[i].name;
        for (char& c : n) c = char(std::tolower(c));
        EXPECT_TRUE(names.insert(n).second) << n;
        EXPECT_NE(routine::registry[i].code, nullptr) << n;
        EXPECT_EQ(routine::find(routine::registry[i].name), int32_t(i));
    }
    EXPECT_EQ(routine::find("AS-COLOR"), routine::find("as-color"));
    EXPECT_EQ(routine::find("no-such-routine"), -1);
}

// Every row is bound by the boot sources: a row that no source names would be dead code.
TEST_F(BootTopLevelTest, TheBootSourcesMakeEveryRow) {
    for (uint32_t i = 0; i < routine::registry_count; i++)
        EXPECT_TRUE(routine_registry::was_made(int32_t(i))) << routine::registry[i].name;
}

TEST_F(BootTopLevelTest, TheMakerRefusesUnknownNamesAndKeepsTheDeclaredBlocks) {
    std::string refused = error_of(error::cat_script, error::script_invalid_arg);
    EXPECT_EQ(eval("routine [] [as-color]"), error_of(error::cat_internal, error::internal_routines));
    routine_registry::install_maker();
    EXPECT_EQ(eval("routine [] [no-such-routine]"), refused);
    EXPECT_EQ(eval("routine [] []"), refused);
    EXPECT_EQ(eval("routine [] [\"as-color\"]"), refused);
    EXPECT_EQ(eval("routine [] [routine]"), refused);
    // A fresh run of the maker: the row is made once, with its spec and body as declared.
    routine_registry::install_maker();
    EXPECT_EQ(eval("r: routine [\"doc\" a [integer!] b [integer!] c [integer!]] [as-color extra] "
                   "reduce [r 1 2 3 spec-of :r body-of :r]"),
              "[1.2.3 [\"doc\" a [integer!] b [integer!] c [integer!]] [as-color extra]]");
    EXPECT_EQ(eval("routine [] [AS-COLOR]"), refused);
}

// Functions made while the top level runs are the library's, by any maker, in object bodies
// and through `set` too, and `make` of such an object keeps them so; the top level itself
// runs as compiled code. Afterwards both end.
TEST_F(BootTopLevelTest, FunctionsMadeDuringTheTopLevelAreTheLibrarys) {
    EXPECT_EQ(library_flag(":also"), "library");
    top_level::begin();
    EXPECT_EQ(eval("system/state/interpreted?"), "false");
    eval("f1: func [][1] f2: does [2] o: context [f3: has [x][3]] set 'f4 function [][4]");
    top_level::finish();
    for (const char* src : {":f1", ":f2", ":o/f3", ":f4"}) EXPECT_EQ(library_flag(src), "library") << src;
    EXPECT_EQ(library_flag("get in make o [] 'f3"), "library");
    EXPECT_EQ(library_flag("func [][1]"), "user");
    EXPECT_EQ(eval("system/state/interpreted?"), "true");
}

} // namespace
