// tests/unit/error_catalogue_test.cpp: the error catalogue's ids, codes, names and templates.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "runtime/error_catalogue.h"
#include "runtime/error_ids.h"

using namespace zyl::error;

namespace {

// {== Template checker

// Position after the Zyl string that starts at [p] ("..." on one line; ^ escapes one character
// or a ^(...) group), or npos when it is not closed.
size_t skip_string(std::string_view s, size_t p) {
    for (p++; p < s.size(); p++) {
        char c = s[p];
        if (c == '"') return p + 1;
        if (c == '\n') return std::string_view::npos;
        if (c != '^') continue;
        if (++p >= s.size()) return std::string_view::npos;
        if (s[p] == '(') {
            p = s.find(')', p);
            if (p == std::string_view::npos) return p;
        }
    }
    return std::string_view::npos;
}

size_t skip_blanks(std::string_view s, size_t p) {
    while (p < s.size() && (s[p] == ' ' || s[p] == '\t' || s[p] == '\n')) p++;
    return p;
}

// Position after the get-word :arg1, :arg2 or :arg3 at [p], or npos.
size_t skip_arg(std::string_view s, size_t p) {
    std::string_view w = s.substr(p, 5);
    if (w != ":arg1" && w != ":arg2" && w != ":arg3") return std::string_view::npos;
    p += 5;
    bool delimited = p == s.size() || s[p] == ' ' || s[p] == '\t' || s[p] == '\n' || s[p] == ']';
    return delimited ? p : std::string_view::npos;
}

// Whether [t] is a message template: one string, or a non-empty block of strings and :argN.
bool is_template(std::string_view t) {
    size_t p = skip_blanks(t, 0);
    if (p < t.size() && t[p] == '"') {
        p = skip_string(t, p);
        return p != std::string_view::npos && skip_blanks(t, p) == t.size();
    }
    if (p >= t.size() || t[p] != '[') return false;
    int elements = 0;
    for (p = skip_blanks(t, p + 1); p < t.size() && t[p] != ']'; p = skip_blanks(t, p)) {
        p = t[p] == '"' ? skip_string(t, p) : skip_arg(t, p);
        if (p == std::string_view::npos) return false;
        elements++;
    }
    return p < t.size() && elements > 0 && skip_blanks(t, p + 1) == t.size();
}

// }==

TEST(ErrorCatalogueTest, TemplateCheckerRefusesMalformedText) {
    for (const char* bad :
         {"", "\"open", "\"a\" \"b\"", "[]", "[\"a\"", "\"a\"]", "[:arg4]", "[:arg1x]", "[word]",
          "[\"a\" [\"b\"]]", "\"a\nb\"", "\"a^\"", "[\"a\"] x", "[:arg1 \"a\"] ]"}) {
        EXPECT_FALSE(is_template(bad)) << bad;
    }
    for (const char* good : {"\"a\"", "[:arg1]", "[\"a ^\"b^\" ^(tab)\" :arg2]", " [ :arg3 ] "})
        EXPECT_TRUE(is_template(good)) << good;
}

TEST(ErrorCatalogueTest, EveryTemplateIsAStringOrABlockOfStringsAndArgs) {
    for (int32_t cat = 0; cat < ids::category_count; cat++) {
        for (int32_t id = ids::first_message; id < catalogue::field_count(cat); id++) {
            const char* t = catalogue::message_template(cat, id);
            ASSERT_NE(t, nullptr);
            EXPECT_TRUE(is_template(t)) << catalogue::id_name(cat, id) << ": " << t;
        }
    }
}

TEST(ErrorCatalogueTest, CategoriesInOrderWithTitlesAndFieldCounts) {
    struct row {
        const char* name;
        const char* title;
        int32_t fields;
    };
    const row rows[] = {
        {"throw", "Throw Error", 7},         {"note", "note", 3},
        {"syntax", "Syntax Error", 9},       {"script", "Script Error", 96},
        {"math", "Math Error", 5},           {"access", "Access Error", 17},
        {"reserved1", "Reserved1 Error", 2}, {"reserved2", "Reserved2 Error", 2},
        {"user", "User Error", 3},           {"internal", "Internal Error", 16},
    };
    ASSERT_EQ(ids::category_count, 10);
    for (int32_t cat = 0; cat < 10; cat++) {
        EXPECT_STREQ(catalogue::category_name(cat), rows[cat].name);
        EXPECT_STREQ(catalogue::category_title(cat), rows[cat].title);
        EXPECT_EQ(catalogue::field_count(cat), rows[cat].fields) << rows[cat].name;
        EXPECT_EQ(catalogue::find_category(rows[cat].name), cat);
    }
    EXPECT_EQ(ids::cat_throw, 0);
    EXPECT_EQ(ids::cat_script, 3);
    EXPECT_EQ(ids::cat_internal, 9);
}

// The ids that the run-time's raise sites are written against.
TEST(ErrorCatalogueTest, IdsOfTheRaiseSites) {
    struct row {
        int32_t cat;
        const char* name;
        int32_t id;
        int32_t constant;
    };
    const row rows[] = {
        {ids::cat_script, "no-value", 2, ids::script_no_value},
        {ids::cat_script, "need-value", 3, ids::script_need_value},
        {ids::cat_script, "not-defined", 4, ids::script_not_defined},
        {ids::cat_script, "expect-arg", 7, ids::script_expect_arg},
        {ids::cat_script, "invalid-arg", 11, ids::script_invalid_arg},
        {ids::cat_script, "out-of-range", 43, ids::script_out_of_range},
        {ids::cat_script, "invalid-refine-arg", 47, ids::script_invalid_refine_arg},
        {ids::cat_script, "bad-make-arg", 55, ids::script_bad_make_arg},
        {ids::cat_script, "too-long", 61, ids::script_too_long},
        {ids::cat_script, "invalid-char", 62, ids::script_invalid_char},
        {ids::cat_script, "zb-invalid-record", 95, ids::script_zb_invalid_record},
        {ids::cat_internal, "no-memory", 4, ids::internal_no_memory},
        {ids::cat_internal, "stack-overflow", 6, ids::internal_stack_overflow},
        {ids::cat_internal, "too-deep", 8, ids::internal_too_deep},
        {ids::cat_access, "cannot-open", 2, ids::access_cannot_open},
        {ids::cat_access, "invalid-utf8", 4, ids::access_invalid_utf8},
        {ids::cat_throw, "break", 2, ids::throw_break},
        {ids::cat_throw, "return", 3, ids::throw_return},
        {ids::cat_throw, "throw", 4, ids::throw_throw},
        {ids::cat_throw, "continue", 5, ids::throw_continue},
        {ids::cat_user, "message", 2, ids::user_message},
    };
    for (const row& r : rows) {
        EXPECT_EQ(r.constant, r.id) << r.name;
        EXPECT_EQ(catalogue::find_id(r.cat, r.name), r.id) << r.name;
        EXPECT_STREQ(catalogue::id_name(r.cat, r.id), r.name);
    }
}

TEST(ErrorCatalogueTest, EveryIdThatTheFoundationRaisesExists) {
    const char* const raised[][2] = {
        {"throw", "break continue return throw while-cond"},
        {"syntax", "invalid missing malconstruct bad-char"},
        {"script", "no-value need-value not-defined not-in-context no-arg expect-arg expect-val "
                   "cannot-use invalid-arg invalid-type invalid-type-spec invalid-key-type "
                   "no-op-arg bad-op-spec invalid-data invalid-part not-same-type not-same-class "
                   "not-related bad-func-def bad-func-extern no-refine bad-refines bad-refine "
                   "dup-refine word-first empty-path unset-path invalid-path invalid-path-set "
                   "invalid-path-get bad-path-type bad-path-type2 bad-path-set bad-field-set "
                   "dup-vars out-of-range invalid-chars invalid-compare invalid-refine-arg "
                   "type-limit no-return bad-make-arg bad-to-arg move-bad too-long invalid-char "
                   "bad-loop-series bad-denom invalid-obj-evt parse-rule parse-end "
                   "parse-invalid-ref parse-block parse-unsupported parse-stack parse-keep "
                   "parse-into-bad parse-into-type"},
        {"math", "zero-divide overflow"},
        {"access", "invalid-utf8 no-connect invalid-actor"},
        {"internal", "no-memory stack-overflow too-deep no-cycle not-done"},
    };
    int found = 0;
    for (const auto& r : raised) {
        int32_t cat = catalogue::find_category(r[0]);
        ASSERT_GE(cat, 0) << r[0];
        std::string_view names = r[1];
        while (!names.empty()) {
            std::string_view name = names.substr(0, names.find(' '));
            names.remove_prefix(std::min(names.size(), name.size() + 1));
            EXPECT_GE(catalogue::find_id(cat, name), ids::first_message) << r[0] << "/" << name;
            found++;
        }
    }
    EXPECT_EQ(found, 78);
}

// Every category's messages, in field order: codes are made from these positions, and scripts
// and saved errors rely on them.
TEST(ErrorCatalogueTest, EveryIdInItsPlace) {
    const char* const order[] = {
        "break return throw continue while-cond",
        "no-load",
        "invalid missing no-header no-rs-header bad-header malconstruct bad-char",
        "no-value need-value not-defined not-in-context no-arg expect-arg expect-val expect-type "
        "cannot-use invalid-arg invalid-type invalid-type-spec invalid-key-type invalid-op no-op-arg "
        "bad-op-spec invalid-data invalid-part not-same-type not-same-class not-related bad-func-def "
        "bad-func-arg bad-func-extern no-refine bad-refines bad-refine dup-refine word-first "
        "empty-path unset-path invalid-path invalid-path-set invalid-path-get bad-path-type "
        "bad-path-type2 bad-path-set bad-field-set dup-vars past-end missing-arg out-of-range "
        "invalid-chars invalid-compare wrong-type invalid-refine-arg type-limit size-limit no-return "
        "throw-usage locked-word protected bad-bad bad-make-arg bad-to-arg invalid-months "
        "invalid-spec-field missing-spec-field move-bad too-long invalid-char bad-loop-series "
        "wrong-denom bad-denom invalid-obj-evt parse-rule parse-end parse-invalid-ref parse-block "
        "parse-unsupported parse-infinite parse-stack parse-keep parse-into-bad parse-into-type "
        "draw-invalid draw-infinite invalid-data-facet face-type not-window bad-window not-linked "
        "not-event-type invalid-facet-type vid-invalid-syntax rtd-invalid-syntax rtd-no-match "
        "react-bad-func react-not-enough react-no-match react-bad-obj react-gctx lib-invalid-arg "
        "zb-invalid-record",
        "zero-divide overflow positive",
        "cannot-open cannot-close invalid-utf8 not-open no-connect no-scheme unknown-scheme "
        "invalid-spec invalid-port invalid-actor no-port-action no-create no-codec bad-media "
        "invalid-cmd",
        "",
        "",
        "message",
        "bad-path not-here no-memory wrong-mem stack-overflow limit-hit too-deep no-cycle feature-na "
        "not-done invalid-error routines zyl-system deprecated",
    };
    for (int32_t cat = 0; cat < ids::category_count; cat++) {
        std::string_view names = order[cat];
        int32_t id = ids::first_message;
        while (!names.empty()) {
            std::string_view name = names.substr(0, names.find(' '));
            names.remove_prefix(std::min(names.size(), name.size() + 1));
            const char* have = catalogue::id_name(cat, id);
            EXPECT_EQ(std::string_view(have ? have : "<none>"), name) << catalogue::category_name(cat) << " " << id;
            id++;
        }
        EXPECT_EQ(catalogue::field_count(cat), id) << catalogue::category_name(cat);
    }
}

TEST(ErrorCatalogueTest, CodesAreCategoryTimesHundredPlusMessageIndex) {
    EXPECT_EQ(catalogue::code_of(ids::cat_script, ids::script_no_value), 300);
    EXPECT_EQ(catalogue::code_of(ids::cat_script, ids::script_need_value), 301);
    EXPECT_EQ(catalogue::code_of(ids::cat_script, ids::script_not_defined), 302);
    EXPECT_EQ(catalogue::code_of(ids::cat_script, ids::script_zb_invalid_record), 393);
    EXPECT_EQ(catalogue::code_of(ids::cat_math, ids::math_zero_divide), 400);
    EXPECT_EQ(catalogue::code_of(ids::cat_user, ids::user_message), 800);
    EXPECT_EQ(catalogue::code_of(ids::cat_throw, ids::throw_break), 0);
    EXPECT_EQ(catalogue::code_of(ids::cat_internal, ids::internal_deprecated), 913);
    // A code past a category's last message (399) or of no category names nothing.
    EXPECT_EQ(catalogue::code_of(ids::cat_script, 101), -1);
    EXPECT_EQ(catalogue::code_of(10, 2), -1);
}

// Numbers and names that are not messages: `code` and `type`, ids past the last message, the
// empty reserved categories and indexes outside the catalogue.
TEST(ErrorCatalogueTest, LookupsRefuseWhatIsNoMessage) {
    for (int32_t cat : {-1, 10, 1000}) {
        EXPECT_EQ(catalogue::field_count(cat), 0);
        EXPECT_EQ(catalogue::category_name(cat), nullptr);
        EXPECT_EQ(catalogue::category_title(cat), nullptr);
        EXPECT_EQ(catalogue::id_name(cat, 2), nullptr);
        EXPECT_EQ(catalogue::find_id(cat, "no-value"), -1);
    }
    for (int32_t id : {-1, ids::field_code, ids::field_type, 96}) {
        EXPECT_EQ(catalogue::id_name(ids::cat_script, id), nullptr) << id;
        EXPECT_EQ(catalogue::message_template(ids::cat_script, id), nullptr) << id;
        EXPECT_EQ(catalogue::code_of(ids::cat_script, id), -1) << id;
    }
    EXPECT_EQ(catalogue::id_name(ids::cat_reserved1, 2), nullptr);
    EXPECT_EQ(catalogue::find_id(ids::cat_script, "code"), -1);
    EXPECT_EQ(catalogue::find_id(ids::cat_script, "type"), -1);
    EXPECT_EQ(catalogue::find_id(ids::cat_script, "no-valu"), -1);
    EXPECT_EQ(catalogue::find_id(ids::cat_script, "no-values"), -1);
    EXPECT_EQ(catalogue::find_id(ids::cat_script, ""), -1);
    EXPECT_EQ(catalogue::find_id(ids::cat_math, "no-value"), -1);
    EXPECT_EQ(catalogue::find_category(""), -1);
    EXPECT_EQ(catalogue::find_category("scripts"), -1);
}

TEST(ErrorCatalogueTest, NamesIgnoreAsciiCaseAsWordsDo) {
    EXPECT_EQ(catalogue::find_category("Script"), ids::cat_script);
    EXPECT_EQ(catalogue::find_category("INTERNAL"), ids::cat_internal);
    EXPECT_EQ(catalogue::find_id(ids::cat_script, "No-Value"), ids::script_no_value);
    EXPECT_EQ(catalogue::find_id(ids::cat_access, "INVALID-UTF8"), ids::access_invalid_utf8);
}

// Each name finds its own id back, so names are unique within their category; and each C++
// identifier is its name with hyphens as underscores.
TEST(ErrorCatalogueTest, NamesAndIdentifiersAgree) {
    for (int32_t cat = 0; cat < ids::category_count; cat++)
        for (int32_t id = ids::first_message; id < catalogue::field_count(cat); id++)
            EXPECT_EQ(catalogue::find_id(cat, catalogue::id_name(cat, id)), id)
                << catalogue::id_name(cat, id);
    auto ident_of = [](std::string name) {
        for (char& c : name)
            if (c == '-') c = '_';
        return name;
    };
#define ZYL_ERROR_CATEGORY(index, ident, name, title) EXPECT_EQ(#ident, ident_of(name));
#define ZYL_ERROR(category, ident, name, field, tmpl) EXPECT_EQ(#ident, ident_of(name));
#include "runtime/error_catalogue.inc"
#undef ZYL_ERROR_CATEGORY
#undef ZYL_ERROR
}

// The messages whose text the language fixes, word for word.
TEST(ErrorCatalogueTest, FixedMessageTexts) {
    struct row {
        const char* cat;
        const char* id;
        const char* tmpl;
    };
    const row rows[] = {
        {"throw", "break", R"z("no loop to break")z"},
        {"throw", "return", R"z("return or exit not in function")z"},
        {"throw", "throw", R"z(["no catch for throw:" :arg1])z"},
        {"throw", "continue", R"z("no loop to continue")z"},
        {"throw", "while-cond", R"z("BREAK/CONTINUE cannot be used in WHILE condition block")z"},
        {"syntax", "invalid", R"z([:arg1 "invalid" :arg2 "at" :arg3])z"},
        {"syntax", "missing", R"z([:arg1 "missing" :arg2 "at" :arg3])z"},
        {"syntax", "no-header", R"z(["script is missing a Zyl header:" :arg1])z"},
        {"syntax", "malconstruct", R"z([:arg1 "invalid construction spec at" :arg2])z"},
        {"syntax", "bad-char", R"z([:arg1 "invalid character at" :arg2])z"},
        {"script", "no-value", R"z([:arg1 "has no value"])z"},
        {"script", "need-value", R"z([:arg1 "needs a value"])z"},
        {"script", "no-arg", R"z([:arg1 "is missing its" :arg2 "argument"])z"},
        {"script", "expect-arg", R"z([:arg1 "does not allow" :arg2 "for its" :arg3 "argument"])z"},
        {"script", "invalid-type", R"z([:arg1 "type is not allowed here"])z"},
        {"script", "invalid-refine-arg", R"z(["invalid" :arg1 "argument:" :arg2])z"},
        {"script", "bad-to-arg", R"z(["cannot MAKE/TO" :arg1 "from:" :arg2])z"},
        {"script", "parse-stack", R"z("PARSE - stack limit reached")z"},
        {"script", "draw-invalid", R"z(["DRAW - invalid input at:" :arg1])z"},
        {"script", "zb-invalid-record", R"z(["ZYLBIN - invalid record at index" :arg1])z"},
        {"access", "invalid-actor", R"z("invalid port actor (must be handle or object)")z"},
        {"access", "cannot-open", R"z(["cannot open:" :arg1])z"},
        {"internal", "stack-overflow", R"z("stack overflow")z"},
        {"internal", "not-done", R"z("reserved for future use (or not yet implemented)")z"},
        {"internal", "deprecated", R"z([:arg1 "is DEPRECATED, please use" :arg2 "instead"])z"},
    };
    for (const row& r : rows) {
        int32_t cat = catalogue::find_category(r.cat);
        EXPECT_STREQ(catalogue::message_template(cat, catalogue::find_id(cat, r.id)), r.tmpl)
            << r.cat << "/" << r.id;
    }
}

} // namespace
