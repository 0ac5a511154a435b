// tests/unit/file_url_test.cpp: file! and url!: molding with quotes and percent escapes,
// percent decoding and encoding, URL assembly from blocks, path joining, the local form of
// file names, and the URL entries that wait for their services.
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/file_url.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "eval/actions.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/extres.h"
#include "runtime/values.h"
#include "runtime_fixture.h"

using namespace zyl;
using zyl::testing::raises;
namespace ids = zyl::error::ids;

namespace {

struct FileUrlTest : zyl::testing::RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        unicode::init_case_tables();
        actions::init();
        symbol::init_table(series::alloc_cells(64));
    }
    void TearDown() override {
        symbol::table = {};
        RuntimeTest::TearDown();
    }
};

// A text value of type [t] on the evaluation stack (so that it outlives collections).
cell T(std::string_view text, uint8_t t = T_string) {
    cell* s = string::from_utf8(stack::push_slot(), text);
    cells::set_type(s, t);
    return *s;
}
cell F(std::string_view text) { return T(text, T_file); }
cell U(std::string_view text) { return T(text, T_url); }
cell I(int32_t n) { return integer::make_value(n); }
// A word cell by layout: word 2 is the symbol id, unbound.
cell W(const char* name, uint8_t t = T_word) { return cell{t, 0, symbol::make(name), UINT32_MAX}; }
// A block of [values] (type [t]), kept on the stack.
cell B(const std::vector<cell>& values, uint8_t t = T_block) {
    node_id n = series::alloc_cells(values.size() + 1);
    for (const cell& v : values) series::append_value(n, v);
    cell b{t, 0, n, 0};
    return *stack::push(&b);
}

// Runs [entry] on a new frame holding [args]; the result stays on the stack as its top cell.
template <typename F> cell* call(std::initializer_list<cell> args, F entry) {
    cell w{T_word, 0, 99, 0};
    stack::mark_native(&w);
    for (const cell& a : args) stack::push(&a);
    entry();
    stack::unwind();
    return stack::top();
}

std::string text(const cell* v) { return string::to_std(v); }
std::string mold(cell v) { return text(call({v}, [] { actions::mold(-1, -1, -1, -1); })); }
cell to(uint8_t type, cell spec) { return *call({datatype::make_value(type), spec}, [] { actions::to(); }); }
cell make(uint8_t type, cell spec) { return *call({datatype::make_value(type), spec}, [] { actions::make(); }); }
cell join(cell value, cell element) { return *call({value, element}, [] { actions::eval_path(-1); }); }

std::string dehex(std::string_view in) {
    cell out = T("");
    cell src = T(in);
    url::decode_percent(&src, &out);
    return text(&out);
}

std::string enhex(std::string_view in, int32_t part, uint32_t mode) {
    cell out = T("");
    cell src = T(in);
    url::encode_percent(&src, part, &out, mode);
    return text(&out);
}

// {== Molding

TEST_F(FileUrlTest, FileMoldsPlainOrQuotedWithTheEscapesItLoadsBackFrom) {
    struct { const char* name; const char* molded; } cases[] = {
        {"a/b.txt", "%a/b.txt"},
        {"/", "%/"},
        {"caf\xC3\xA9", "%caf\xC3\xA9"},         // above 127: no quotes
        {"a b", "%\"a b\""},
        {"", "%\"\""},
        {"50%", "%\"50%\""},
        {"a\"b", "%\"a^(22)b\""},                 // a quoted name ends at its first quote
        {"a^b", "%\"a^^b\""},                     // quoted names take escapes
        {"a\nb\tc", "%\"a^/b^-c\""},
        {"a:b", "%\"a:b\""},                      // ":" "(" ")" "@" end an unquoted name
        {":a", "%\":a\""},
        {"f(1).txt", "%\"f(1).txt\""},
        {"me@host", "%\"me@host\""},
        {"a~!$&'*+,-.=?_#", "%a~!$&'*+,-.=?_#"},
    };
    for (auto& c : cases) EXPECT_EQ(mold(F(c.name)), c.molded) << c.name;
    cell tail = F("abc");
    tail.w1 = 3;
    EXPECT_EQ(mold(tail), "%\"\"");
    cell mid = F("ab cd");
    mid.w1 = 3;
    EXPECT_EQ(mold(mid), "%cd");
}

TEST_F(FileUrlTest, FileMoldHonoursItsPartBudget) {
    cell f = F("abc def");
    cell out = T("");
    cell part = I(3);
    // The quote test looks at the limited range only: "abc" needs none.
    int32_t left = actions::mold_typed(&f, &out, false, false, false, &part, 3, 0);
    EXPECT_EQ(text(&out), "%abc");
    EXPECT_EQ(left, -1);
    cell none_left = T("");
    cell zero = I(-5);
    actions::mold_typed(&f, &none_left, false, false, false, &zero, -5, 0);
    EXPECT_EQ(text(&none_left), "%");
}

TEST_F(FileUrlTest, FileMoldsIntoItsOwnBuffer) {
    cell f = F("a b");
    actions::mold_typed(&f, &f, false, false, false, nullptr, INT32_MAX, 0);
    EXPECT_EQ(text(&f), "a b%\"a b\"");
    cell g = F("ab");
    actions::mold_typed(&g, &g, false, false, false, nullptr, INT32_MAX, 0);
    EXPECT_EQ(text(&g), "ab%ab");
}

TEST_F(FileUrlTest, UrlMoldsPercentEncodedAndFormsPlain) {
    struct { const char* text; const char* molded; } cases[] = {
        {"http://a.b/c d", "http://a.b/c%20d"},
        {"http://x/\xC3\xA9", "http://x/%C3%A9"},
        {"http://x/~u/", "http://x/~u/"},
        {"http://x/50%", "http://x/50%25"},
        {"http://x/(a)", "http://x/%28a%29"},    // "(" and ")" end a URL in source text
        {"http://x/\xE2\x82\xAC", "http://x/%E2%82%AC"},
        {"mailto:a@b?q=1&r", "mailto:a@b?q=1&r"},
        // The scheme is a word in source text, where "%" cannot stand: its word characters stay.
        {"caf\xC3\xA9:x/\xC3\xA9", "caf\xC3\xA9:x/%C3%A9"},
        {"<=a^b|c:d^e", "<=a^b|c:d%5Ee"},
        {"a b:c d", "a%20b:c%20d"},
        {"no colon \xC3\xA9", "no%20colon%20%C3%A9"},
    };
    for (auto& c : cases) EXPECT_EQ(mold(U(c.text)), c.molded) << c.text;
    cell u = U("http://a b");
    EXPECT_EQ(text(call({u}, [] { actions::form(-1); })), "http://a b");
    // With a budget the output stops at the limit, inside an escape if need be.
    cell out = T("");
    cell part = I(9);
    int32_t left = actions::mold_typed(&u, &out, false, false, false, &part, 9, 0);
    EXPECT_EQ(text(&out), "http://a%");
    EXPECT_EQ(left, 0);
}

// }==
// {== Percent coding

TEST_F(FileUrlTest, DehexDecodesEscapesAndUtf8Runs) {
    struct { const char* in; const char* out; } cases[] = {
        {"a%20b", "a b"},
        {"%C3%A9", "\xC3\xA9"},
        {"%e2%82%ac!", "\xE2\x82\xAC!"},          // lower-case digits
        {"%F0%9F%98%80", "\xF0\x9F\x98\x80"},
        {"%41%42", "AB"},
        {"%80", "\xC2\x80"},                      // a byte that leads nothing: its code point
        {"%C3", "%C3"},                           // a lead without its escapes stays as it is
        {"%C3x", "%C3x"},
        {"%zz%2", "%zz%2"},
        {"100%", "100%"},
        {"\xC3\xA9%21", "\xC3\xA9!"},
        {"", ""},
    };
    for (auto& c : cases) EXPECT_EQ(dehex(c.in), c.out) << c.in;
    EXPECT_TRUE(raises(error::cat_access, ids::access_invalid_utf8, [] { dehex("%C3%28"); }));
}

TEST_F(FileUrlTest, EnhexEncodesUtf8BytesByMode) {
    EXPECT_EQ(enhex("a b/\xC3\xA9~", -1, 0), "a%20b/%C3%A9~");
    EXPECT_EQ(enhex("a b/:~", -1, url::MODE_STRICT), "a%20b%2F%3A~");
    EXPECT_EQ(enhex("\xC3\xA9\xC3\xA9", 1, 0), "%C3%A9");
    char out[3];
    EXPECT_EQ(url::encode_byte(0, '@', out), 1u);
    EXPECT_EQ(url::encode_byte(url::MODE_STRICT, '@', out), 3u);
    EXPECT_EQ(std::string(out, 3), "%40");
    EXPECT_EQ(url::encode_byte(0, 0xFF, out), 3u);
    EXPECT_EQ(std::string(out, 3), "%FF");
}

// }==
// {== URL assembly and conversions

TEST_F(FileUrlTest, UrlFromBlockJoinsSchemeHostPortAndPath) {
    cell u = to(T_url, B({W("http"), W("host"), I(8080), W("a"), W("b")}));
    EXPECT_EQ(u.type(), T_url);
    EXPECT_EQ(text(&u), "http://host:8080/a/b");
    struct { std::vector<cell> values; const char* url; } cases[] = {
        {{W("http"), W("host")}, "http://host"},
        {{W("http"), W("host"), I(80)}, "http://host:80"},
        {{W("ftp"), T("h.org"), T("x y"), W("z")}, "ftp://h.org/x y/z"},
        {{W("http"), W("host"), W("a"), W("frag", T_issue)}, "http://host/a#frag"},
        {{W("http"), W("host"), W("top", T_issue)}, "http://host/top"}, // the first part takes "/"
        {{W("http"), W("host"), W("a"), I(1)}, "http://host/a/1"},     // a later integer is a part
        {{W("file")}, "file://"},
    };
    for (auto& c : cases) EXPECT_EQ(text(&(u = to(T_url, B(c.values)))), c.url) << c.url;
    EXPECT_EQ(text(&(u = make(T_url, B({W("http"), W("h")}, T_paren)))), "http://h");
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_to_arg, [] { to(T_url, B({})); }));
    cell at_tail = B({W("http"), W("h")});
    at_tail.w1 = 2;
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_to_arg, [&] { to(T_url, at_tail); }));
}

TEST_F(FileUrlTest, ConversionsKeepTheTextAndTakeTheTargetType) {
    cell f = to(T_file, T("a:b"));
    EXPECT_EQ(f.type(), T_file);
    EXPECT_EQ(text(&f), "a:b");
    EXPECT_EQ(text(&(f = make(T_file, T("/c/x")))), "/c/x");
    cell sized = make(T_url, I(10));
    EXPECT_EQ(sized.type(), T_url);
    EXPECT_EQ(string::length_of(&sized), 0u);
    // A block for file! is formed as string! forms it, not assembled.
    EXPECT_EQ(text(&(f = to(T_file, B({T("a"), T("b")})))), "ab");
    cell s = to(T_string, U("http://x"));
    EXPECT_EQ(s.type(), T_string);
    EXPECT_EQ(text(&s), "http://x");
}

// }==
// {== Path joining

TEST_F(FileUrlTest, PathsJoinWithOneSlash) {
    struct { const char* url; cell element; const char* joined; } cases[] = {
        {"http://a/b", W("c"), "http://a/b/c"},
        {"http://a/", T("/c"), "http://a/c"},
        {"http://a/", T("c"), "http://a/c"},
        {"http://a", T("/c"), "http://a/c"},
        {"http://a/b", I(1), "http://a/b/1"},
        {"", T("c"), "/c"},
    };
    for (auto& c : cases) {
        cell u = U(c.url);
        cell j = join(u, c.element);
        EXPECT_EQ(j.type(), T_url);
        EXPECT_EQ(text(&j), c.joined) << c.url;
        EXPECT_EQ(text(&u), c.url); // the URL itself is not changed
    }
    cell f = join(F("dir"), W("name.txt"));
    EXPECT_EQ(f.type(), T_file);
    EXPECT_EQ(text(&f), "dir/name.txt");
    cell wide = join(U("http://\xE2\x82\xAC/"), T("\xC3\xA9"));
    EXPECT_EQ(text(&wide), "http://\xE2\x82\xAC/\xC3\xA9");
    cell part = U("http://a/b/c");
    part.w1 = 7;
    EXPECT_EQ(text(&(f = join(part, W("d")))), "a/b/c/d");
    EXPECT_TRUE(raises(error::cat_script, ids::script_bad_path_set,
                       [] { call({U("http://a"), W("b"), T("x")}, [] { actions::eval_path(2); }); }));
}

// }==
// {== Local form

TEST_F(FileUrlTest, LocalFormIsThePosixPath) {
    cell target = T("");
    cell f = F("/c/dir/f");
    file::to_local_text(&f, &target, true); // absolute: no current directory
    EXPECT_EQ(text(&target), "/c/dir/f");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string dir = cwd;
    if (dir.back() != '/') dir += '/';
    cell rel = T("");
    cell g = F("dir/f");
    file::to_local_text(&g, &rel, true);
    EXPECT_EQ(text(&rel), dir + "dir/f");
    cell plain = T("");
    file::to_local_text(&g, &plain, false);
    EXPECT_EQ(text(&plain), "dir/f");
    cell cd = T("");
    file::current_dir_string(&cd);
    EXPECT_EQ(text(&cd), dir);
}

TEST_F(FileUrlTest, LocalPathIsUtf8AndRefusesANul) {
    node_id conv = 0;
    cell f = F("a b:\xC3\xA9");
    EXPECT_STREQ(file::to_local_path(&f, conv), "a b:\xC3\xA9");
    cell bad = F(std::string_view("a\0b", 3));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { file::to_local_path(&bad, conv); }));
}

// }==
// {== Services not yet available

TEST_F(FileUrlTest, UrlRequestsRefusedBeforeSendingAndFilesRefuseEncodings) {
    const int32_t na_cat = error::cat_internal, na = ids::internal_feature_na, nd = ids::internal_not_done;
    auto read_as = [](cell v) { call({v, W("utf-8")}, [] { actions::read(-1, -1, -1, -1, -1, 1); }); };
    auto read_part = [](cell v) { call({v, I(3)}, [] { actions::read(1, -1, -1, -1, -1, -1); }); };
    auto write = [](cell v, cell data) { call({v, data}, [] { actions::write(-1, -1, -1, -1, -1, -1, -1, -1); }); };
    EXPECT_TRUE(raises(na_cat, nd, [&] { read_as(F("a.txt")); }));
    EXPECT_TRUE(raises(na_cat, nd, [&] {
        call({F("a.txt"), T("x"), B({})}, [] { actions::write(-1, -1, -1, -1, -1, -1, 2, -1); });
    }));
    // URLs: http refuses the refinements it cannot pass on and bad request blocks before
    // anything is sent (tests/http/ sends real requests); other schemes need ports.
    EXPECT_TRUE(raises(na_cat, nd, [&] { read_part(U("http://x")); }));
    EXPECT_TRUE(raises(na_cat, na, [&] { read_part(U("ftp://x")); }));
    EXPECT_TRUE(raises(na_cat, na, [&] { call({U("http://x")}, [] { actions::open(-1, -1, -1, -1, -1); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { write(U("http://x"), I(1)); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { write(U("http://x"), B({I(1), B({})})); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg, [&] { write(U("http://x"), B({W("get")})); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg,
                       [&] { write(U("http://x"), B({W("get"), B({}), I(5)})); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg,
                       [&] { write(U("http://x"), B({W("post"), B({W("X-A")})})); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_invalid_arg,
                       [&] { write(U("http://x"), B({W("post"), B({W("X-A"), T("a\r\nB: c")})})); }));
}

TEST_F(FileUrlTest, EntriesOutsideTheRowsAreAbsent) {
    // file! has no open, sort or trim; url! no delete or query; both form and compare as text.
    EXPECT_TRUE(raises(error::cat_script, ids::script_expect_arg,
                       [] { call({F("a")}, [] { actions::open(-1, -1, -1, -1, -1); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_expect_arg,
                       [] { call({F("ba")}, [] { actions::sort(-1, -1, -1, -1, -1, -1, -1); }); }));
    EXPECT_TRUE(raises(error::cat_script, ids::script_expect_arg,
                       [] { call({U("http://a")}, [] { actions::delete_(); }); }));
    cell a = F("a b"), b = T("A B");
    EXPECT_TRUE(actions::compare(&a, &b, 0));
    cell p = *call({F("abc"), I(2)}, [] { actions::pick(); });
    EXPECT_EQ(p.type(), T_char_);
    EXPECT_EQ(p.w2, uint32_t('b'));
}

// }==
// {== Collections

TEST_F(FileUrlTest, SurviveACollectionAtEveryAllocation) {
    extres::init();
    node_id root = series::alloc_unmanaged(16, sizeof(cell), 0);
    collector::gc.root_block = root;
    collector::gc.active = true;
    mm.stress_every = 1;
    cell u = to(T_url, B({W("http"), W("host"), I(8080), W("a"), W("b")}));
    EXPECT_EQ(text(&u), "http://host:8080/a/b");
    cell j = join(U("http://a/"), T("/c"));
    EXPECT_EQ(text(&j), "http://a/c");
    EXPECT_EQ(dehex("a%20b%C3%A9%E2%82%AC"), "a b\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(mold(U("http://x/\xC3\xA9 (")), "http://x/%C3%A9%20%28");
    EXPECT_EQ(mold(F("a \"b\"")), "%\"a ^(22)b^(22)\"");
    mm.stress_every = 0;
    collector::gc = {};
    extres::shutdown();
}

// }==

} // namespace
