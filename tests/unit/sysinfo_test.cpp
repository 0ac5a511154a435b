// tests/unit/sysinfo_test.cpp: the command line text, the environment's pairs, the pieces
// of os-info and the type guard.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "datatypes/integer.h"
#include "runtime_fixture.h"
#include "services/sysinfo.h"

using namespace zyl;

namespace {

TEST(SysInfo, CommandLineQuotesEmptyArgumentsAndArgumentsWithBlanks) {
    const char* argv[] = {"zyl", "a.zyl", "", "two words", "tab\there", "say \"hi\"", "x"};
    EXPECT_EQ(sysinfo::command_line(7, argv), R"(zyl a.zyl "" "two words" "tab	here" "say "hi"" x)");
    EXPECT_EQ(sysinfo::command_line(1, argv), "zyl");
}

TEST(SysInfo, EnvironmentSplitsAtTheFirstEqualsNotFirstAndSkipsEntriesWithout) {
    const char* env[] = {"A=1", "B=x=y", "=C:=c:\\", "NOEQUALS", "=", "E=", "", nullptr};
    using pair = std::pair<std::string, std::string>;
    std::vector<pair> want = {{"A", "1"}, {"B", "x=y"}, {"=C:", "c:\\"}, {"E", ""}};
    EXPECT_EQ(sysinfo::environment(env), want);
    EXPECT_TRUE(sysinfo::environment(nullptr).empty());
}

TEST(SysInfo, ArchitectureWords) {
    const std::pair<const char*, const char*> rows[] = {
        {"x86_64", "x86-64"}, {"i686", "x86-32"}, {"i386", "x86-32"}, {"aarch64", "ARM64"},
        {"armv7l", "ARM"},    {"ia64", "IA-64"},  {"riscv64", "Unknown"}, {"", "Unknown"},
    };
    for (auto [machine, word] : rows) EXPECT_STREQ(sysinfo::arch_word(machine), word) << machine;
}

TEST(SysInfo, PrettyNameIsUnquoted) {
    const std::pair<const char*, const char*> rows[] = {
        {"NAME=x\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n", "Debian GNU/Linux 12 (bookworm)"},
        {"PRETTY_NAME='Single'", "Single"},
        {"PRETTY_NAME=Bare", "Bare"},
        {"PRETTY_NAME=\"say \\\"hi\\\"\"", "say \"hi\""},
        {"X_PRETTY_NAME=no\nNAME=y", ""},
        {"", ""},
    };
    for (auto [text, name] : rows) EXPECT_EQ(sysinfo::pretty_name(text), name) << text;
}

struct ExpectTypeTest : zyl::testing::RuntimeTest {};

TEST_F(ExpectTypeTest, RaisesInvalidArgForAnotherType) {
    cell one = integer::make_value(1);
    EXPECT_FALSE(zyl::testing::raises(error::cat_script, error::script_invalid_arg,
                                      [&] { sysinfo::expect_type(&one, T_integer); }));
    EXPECT_TRUE(zyl::testing::raises(error::cat_script, error::script_invalid_arg,
                                     [&] { sysinfo::expect_type(&one, T_string); }));
}

} // namespace
