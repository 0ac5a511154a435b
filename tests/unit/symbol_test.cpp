// tests/unit/symbol_test.cpp: interning names, case aliases, name strings and bytes, symbol!
// comparison, and the symbol table's growth up to a million names.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/hashtable.h"
#include "runtime/unicode_text.h"
#include "runtime/values.h"
#include "runtime_fixture.h"
#include "services/random.h"

using namespace zyl;

namespace {

struct SymbolTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        random::init();
        unicode::init_case_tables();
        symbol::init_table(series::alloc_cells(symbol::TABLE_SIZE));
    }
    void TearDown() override {
        symbol::table = {};
        RuntimeTest::TearDown();
    }
    static std::string text_of(node_id n) {
        cell s = {T_string, 0, n, 0};
        return string::to_std(&s);
    }
};

// A text value holding [chars] at [unit] bytes a character.
cell text(std::u32string_view chars, uint32_t unit) {
    node_id n = series::alloc_by_encoding(chars.size() + 1, unit);
    series_buffer* b = memory::buffer_of(n);
    for (char32_t c : chars) {
        unicode::text::put(b->tail, unit, c);
        b->tail += unit;
    }
    return cell{T_string, 0, n, 0};
}

TEST_F(SymbolTest, CaseVariantsBecomeAliasesOfTheFirstSpelling) {
    uint32_t print = symbol::make("print"), upper = symbol::make("PRINT"), title = symbol::make("Print");
    EXPECT_EQ(print, 1u); // ids are 1-based and appended
    EXPECT_EQ(upper, 2u);
    EXPECT_EQ(title, 3u);
    EXPECT_EQ(symbol::alias(print), -1);
    EXPECT_EQ(symbol::alias(upper), static_cast<int32_t>(print));
    EXPECT_EQ(symbol::alias(title), static_cast<int32_t>(print));
    EXPECT_EQ(symbol::resolve(print), print);
    EXPECT_EQ(symbol::resolve(upper), print);
    EXPECT_EQ(symbol::make("PRINT"), upper); // the exact spelling, not a new alias
    EXPECT_EQ(symbol::make("print"), print);
    EXPECT_EQ(symbol::count(), 3u);
    uint32_t foo = symbol::make("foo"), capital = symbol::make("Foo");
    EXPECT_NE(capital, foo);
    EXPECT_EQ(symbol::resolve(capital), foo);
    EXPECT_EQ(symbol::entry_cell(capital)->header, uint32_t(T_symbol));
}

TEST_F(SymbolTest, CaseSensitiveInterningMakesNoAlias) {
    uint32_t foo = symbol::make("foo");
    auto exact = [](const char* name) {
        return hashtable::intern_symbol(symbol::table.index, reinterpret_cast<const uint8_t*>(name),
                                        static_cast<uint32_t>(std::strlen(name)), hashtable::INTERN_EXACT);
    };
    uint32_t upper = exact("FOO");
    EXPECT_NE(upper, foo);
    EXPECT_EQ(symbol::alias(upper), -1);
    EXPECT_EQ(symbol::resolve(upper), upper);
    EXPECT_EQ(exact("foo"), foo);
    EXPECT_EQ(exact("FOO"), upper);
}

TEST_F(SymbolTest, AnyCaseTakesAnySpelling) {
    uint32_t print = symbol::make("print");
    EXPECT_EQ(symbol::make_any_case("Print"), print);
    EXPECT_EQ(symbol::make_any_case("PRINT"), print);
    EXPECT_EQ(symbol::count(), 1u);
    uint32_t fresh = symbol::make_any_case("Quit");
    EXPECT_EQ(fresh, 2u);
    EXPECT_EQ(symbol::alias(fresh), -1);
    EXPECT_EQ(symbol::resolve(symbol::make("quit")), fresh);
}

TEST_F(SymbolTest, OnlyAsciiLettersFold) {
    uint32_t small = symbol::make("caf\xC3\xA9"), capital = symbol::make("caf\xC3\x89"); // é and É
    EXPECT_NE(small, capital);
    EXPECT_EQ(symbol::alias(capital), -1);
    EXPECT_EQ(symbol::resolve(capital), capital);
    EXPECT_EQ(symbol::resolve(symbol::make("CAF\xC3\xA9")), small);
}

TEST_F(SymbolTest, NameStringsAreMadeOnce) {
    uint32_t id = symbol::make("abc");
    EXPECT_EQ(symbol::entry_cell(id)->w2, 0u); // lazy until asked for
    node_id s = symbol::entry(id)->w2;
    ASSERT_NE(s, 0u);
    EXPECT_EQ(symbol::entry(id)->w2, s);
    EXPECT_EQ(symbol::name_string(id)->w2, s);
    EXPECT_EQ(text_of(s), "abc");
    EXPECT_EQ(memory::buffer_of(s)->unit(), 1u);
    uint32_t wide = symbol::make("\xE6\x97\xA5\xE6\x9C\xAC"); // two CJK characters
    node_id w = symbol::entry(wide)->w2;
    EXPECT_EQ(memory::buffer_of(w)->unit(), 2u);
    EXPECT_EQ(text_of(w), "\xE6\x97\xA5\xE6\x9C\xAC");
}

TEST_F(SymbolTest, NameBytesEndWithANul) {
    uint32_t id = symbol::make("abc");
    series_buffer* b = memory::buffer_of(symbol::entry_cell(id)->w3);
    EXPECT_EQ(b->used_bytes(), 3u);
    EXPECT_EQ(b->unit(), 1u);
    EXPECT_EQ(b->tail[0], 0);
    for (size_t n = 0; n <= 40; n++) {
        std::string name(n, 'x');
        name += std::to_string(n);
        uint32_t s = symbol::make(name.c_str());
        EXPECT_STREQ(symbol::c_name(s), name.c_str());
    }
    uint32_t empty = symbol::make("");
    EXPECT_STREQ(symbol::c_name(empty), "");
    EXPECT_EQ(symbol::make(""), empty);
}

TEST_F(SymbolTest, StringsInternAtEveryWidth) {
    uint32_t id = symbol::make("gr\xC3\xB6\xC3\x9F" "e"); // größe
    for (uint32_t unit : {1u, 2u, 4u}) {
        cell s = text(U"gr\u00F6\u00DFe", unit);
        EXPECT_EQ(symbol::make_from_string(&s), id) << unit;
    }
    cell part = text(U"xxsnow\u2603", 2);
    part.w1 = 2;
    EXPECT_EQ(symbol::make_from_string(&part), symbol::make("snow\xE2\x98\x83"));
    std::u32string long_name(300, U'\u00E9');
    cell big = text(long_name, 1);
    std::string utf8;
    for (int i = 0; i < 300; i++) utf8 += "\xC3\xA9";
    EXPECT_EQ(symbol::make_from_string(&big), symbol::make(utf8.c_str()));
}

TEST_F(SymbolTest, SymbolsCompareAsText) {
    cell print = *symbol::entry_cell(symbol::make("print"));
    cell upper = *symbol::entry_cell(symbol::make("PRINT"));
    cell abc = *symbol::entry_cell(symbol::make("abc"));
    cell abd = *symbol::entry_cell(symbol::make("abd"));
    cell ab = *symbol::entry_cell(symbol::make("ab"));
    EXPECT_EQ(symbol::compare(&print, &upper, 0), 0);
    EXPECT_NE(symbol::compare(&print, &upper, 2), 0);
    EXPECT_EQ(symbol::compare(&print, &print, 2), 0);
    EXPECT_EQ(symbol::compare(&print, &upper, 9), -1); // same? only the very same symbol
    EXPECT_EQ(symbol::compare(&print, &print, 9), 0);
    EXPECT_EQ(symbol::compare(&abc, &abd, 3), -1);
    EXPECT_EQ(symbol::compare(&abd, &abc, 3), 1);
    EXPECT_EQ(symbol::compare(&abc, &ab, 0), 1); // lengths differ: never equal
    EXPECT_EQ(symbol::compare(&abc, &ab, 3), 1); // a longer name after an equal start
    EXPECT_EQ(symbol::compare(&ab, &abc, 5), -1);
    cell n = none_value;
    EXPECT_EQ(symbol::compare(&abc, &n, 0), -2);
    EXPECT_TRUE(actions::compare(&print, &upper, 0));
    EXPECT_FALSE(actions::compare(&print, &upper, 2));
    EXPECT_TRUE(actions::compare(&abc, &abd, 3));
}

TEST_F(SymbolTest, RegistersOnlyCompare) {
    EXPECT_STREQ(datatype::name_of(T_symbol), "symbol!");
    for (uint8_t slot = 1; slot <= ACTION_SLOTS; slot++)
        EXPECT_EQ(datatype::action(T_symbol, slot) != nullptr, slot == A_compare) << int(slot);
}

TEST_F(SymbolTest, AnyTypeIsFoundThroughTheCanonicalSymbol) {
    symbol::make("any-type!");
    cell w = {T_word, 0, symbol::make("ANY-TYPE!"), 0};
    EXPECT_TRUE(symbol::is_any_type(&w));
    cell other = {T_word, 0, symbol::make("any-type"), 0};
    EXPECT_FALSE(symbol::is_any_type(&other));
}

TEST_F(SymbolTest, TheTableGrowsThirtyTwoFoldAtItsLimit) {
    hashtable::record* r = hashtable::rec(symbol::table.index);
    EXPECT_EQ(r->buckets, 16384u);
    EXPECT_EQ(r->limit, 12615u);
    char name[32];
    for (uint32_t i = 0; i < 12615; i++) {
        std::snprintf(name, sizeof name, "s%u", i);
        ASSERT_EQ(symbol::make(name), i + 1);
    }
    EXPECT_EQ(hashtable::rec(symbol::table.index)->buckets, 16384u);
    EXPECT_EQ(hashtable::rec(symbol::table.index)->occupied, 12615u);
    EXPECT_EQ(symbol::make("one-more"), 12616u);
    EXPECT_EQ(hashtable::rec(symbol::table.index)->buckets, 524288u);
    EXPECT_EQ(hashtable::rec(symbol::table.index)->limit, 403702u); // trunc(524288 x 0.77 + 0.5)
    for (uint32_t i = 0; i < 12615; i++) {
        std::snprintf(name, sizeof name, "S%u", i);
        ASSERT_EQ(symbol::resolve(symbol::make(name)), i + 1);
    }
}

// The table compares a name's length and first bytes before it reaches the name itself:
// names that agree there, and differ only further on or in a length past 255, stay apart.
TEST_F(SymbolTest, LongNamesThatShareTheirStartStayApart) {
    const std::string head(15, 'q');
    struct { std::string name; } cases[] = {
        {head},           {head + "a"},           {head + "b"},           {head + "ab"},
        {std::string(255, 'x')}, {std::string(256, 'x')}, {std::string(300, 'x')},
        {std::string(299, 'x') + "y"}, {std::string(14, 'q')}, {head + "\xC3\xA9"},
    };
    std::vector<uint32_t> ids;
    for (auto& c : cases) {
        ids.push_back(symbol::make(c.name.c_str()));
        EXPECT_EQ(symbol::alias(ids.back()), -1) << c.name.size();
    }
    for (size_t i = 0; i < ids.size(); i++) {
        EXPECT_EQ(ids[i], i + 1);
        EXPECT_EQ(symbol::make(cases[i].name.c_str()), ids[i]) << cases[i].name.size();
        EXPECT_STREQ(symbol::c_name(ids[i]), cases[i].name.c_str());
    }
    // Case variants that differ only past the first bytes are aliases all the same.
    std::string upper = head + "AB", long_upper = std::string(299, 'X') + "Y";
    EXPECT_EQ(symbol::alias(symbol::make(upper.c_str())), static_cast<int32_t>(ids[3]));
    EXPECT_EQ(symbol::alias(symbol::make(long_upper.c_str())), static_cast<int32_t>(ids[7]));
    EXPECT_EQ(symbol::make_any_case((std::string(256, 'X')).c_str()), ids[5]);
    EXPECT_EQ(symbol::count(), ids.size() + 2);
}

// A table made over entries that already exist indexes them as interning would have: the
// same ids, found by every spelling, aliases made against the right entry.
TEST_F(SymbolTest, ATableOverExistingEntriesFindsThem) {
    std::vector<std::string> names = {"print", "PRINT", "append", std::string(40, 'z') + "end", "\xC3\xA9t\xC3\xA9", ""};
    for (int i = 0; i < 3000; i++) names.push_back("w-" + std::to_string(i * 7919));
    std::vector<uint32_t> ids;
    for (auto& n : names) ids.push_back(symbol::make_from_text(reinterpret_cast<const uint8_t*>(n.data()), static_cast<uint32_t>(n.size())));
    node_id entries = symbol::table.entries;
    symbol::init_table(entries); // a new hash table over the same entries
    for (size_t i = 0; i < names.size(); i++) {
        const auto* p = reinterpret_cast<const uint8_t*>(names[i].data());
        EXPECT_EQ(symbol::make_from_text(p, static_cast<uint32_t>(names[i].size())), ids[i]) << names[i];
    }
    EXPECT_EQ(symbol::alias(symbol::make("Append")), static_cast<int32_t>(ids[2]));
    std::string long_upper = std::string(40, 'Z') + "END";
    EXPECT_EQ(symbol::resolve(symbol::make(long_upper.c_str())), ids[3]);
    EXPECT_EQ(symbol::make("w-7919"), ids[7]);
    EXPECT_EQ(symbol::count(), names.size() + 2);
}

// Emptying the table empties what it keeps beside the entries too.
TEST_F(SymbolTest, AClearedTableInternsAfresh) {
    for (int i = 0; i < 100; i++) symbol::make(("n" + std::to_string(i)).c_str());
    hashtable::clear(symbol::table.index);
    EXPECT_EQ(symbol::count(), 0u);
    EXPECT_EQ(symbol::make("n5"), 1u);
    EXPECT_EQ(symbol::make("N5"), 2u);
    EXPECT_EQ(symbol::alias(2), 1);
    EXPECT_EQ(symbol::make("n5"), 1u);
}

TEST_F(SymbolTest, AMillionNamesInternOnce) {
    constexpr uint32_t N = 1000000;
    char name[32];
    for (uint32_t i = 0; i < N; i++) {
        int n = std::snprintf(name, sizeof name, "name-%u", i * 7919u);
        ASSERT_EQ(symbol::make_from_text(reinterpret_cast<uint8_t*>(name), static_cast<uint32_t>(n)), i + 1);
    }
    EXPECT_EQ(symbol::count(), N);
    for (uint32_t i = 0; i < N; i++) {
        int n = std::snprintf(name, sizeof name, "name-%u", i * 7919u);
        ASSERT_EQ(symbol::make_from_text(reinterpret_cast<uint8_t*>(name), static_cast<uint32_t>(n)), i + 1);
    }
    EXPECT_EQ(symbol::count(), N);
    EXPECT_STREQ(symbol::c_name(N), ("name-" + std::to_string((N - 1) * 7919u)).c_str());
}

} // namespace
