// lexer/tables.cpp: the lexer's constant tables, built at compile time from readable rules and
// checked there (lexer/tables.h holds the layout and the invariants).
#include "lexer/tables.h"

#include <initializer_list>

#include "datatypes/cell.h"

namespace zyl::lexer {

namespace {

using namespace cls;

// {== Character classes

constexpr void set_range(std::array<uint32_t, 256>& t, int lo, int hi, uint32_t entry) {
    for (int b = lo; b <= hi; b++) t[b] = entry;
}

constexpr std::array<uint32_t, 256> build_classes() {
    std::array<uint32_t, 256> t{};
    set_range(t, 0x01, 0x1F, control);
    set_range(t, 0x7F, 0xBF, cont);
    set_range(t, 0xC2, 0xEF, wordch | FLAG_UTF8_23);
    set_range(t, 0xF0, 0xF7, wordch | FLAG_UTF8_4);
    set_range(t, 0xC0, 0xC1, bad);
    set_range(t, 0xF8, 0xFF, bad);
    set_range(t, 'a', 'z', wordch);
    set_range(t, 'A', 'Z', wordch);
    set_range(t, '1', '9', digit);
    t[0] = nul | FLAG_NUL;
    t['\t'] = t['\r'] = t[' '] = blank;
    t['\n'] = lf;
    t['0'] = zero;
    t['['] = lbracket;
    t[']'] = rbracket;
    t['('] = lparen;
    t[')'] = rparen;
    t['{'] = lbrace;
    t['}'] = rbrace;
    t['"'] = dquote;
    t['#'] = hash | FLAG_HASH;
    t['\''] = quote | FLAG_QUOTE;
    t[':'] = colon | FLAG_COLON;
    t['x'] = t['X'] = x;
    t['T'] = cls::t;
    t['h'] = h;
    t['e'] = e_low | FLAG_EXPONENT;
    t['E'] = e_up | FLAG_EXPONENT;
    for (char c : {'a', 'b', 'c', 'd', 'f'}) t[static_cast<uint8_t>(c)] = hexlow;
    for (char c : {'A', 'B', 'C', 'D', 'F'}) t[static_cast<uint8_t>(c)] = hexup;
    t['/'] = slash;
    t['\\'] = backslash;
    t['<'] = less | FLAG_LESS;
    t['>'] = greater | FLAG_GREATER;
    t['='] = equal;
    t['%'] = percent | FLAG_PERCENT;
    t[','] = comma | FLAG_COMMA;
    t[';'] = semicolon;
    t['@'] = at;
    t['.'] = dot | FLAG_DOT;
    t['$'] = dollar;
    t['+'] = plus | FLAG_SIGN;
    t['-'] = minus | FLAG_SIGN;
    t['^'] = caret | FLAG_CARET;
    for (char c : {'!', '&', '*', '?', '_', '`', '|', '~'}) t[static_cast<uint8_t>(c)] = wordch;
    return t;
}

// }==
// {== Transitions

struct rule {
    std::initializer_list<uint8_t> on; // classes
    uint8_t next;
};
using row_t = std::array<uint8_t, CLASS_COUNT>;

// A row: [other] for every class that no rule names. A class named twice is a transcription
// fault and stops the compilation.
constexpr row_t row(uint8_t other, std::initializer_list<rule> rules) {
    row_t r{};
    bool named[CLASS_COUNT] = {};
    for (const rule& x : rules) {
        for (uint8_t c : x.on) {
            if (named[c]) throw "class named twice in one row";
            named[c] = true;
            r[c] = x.next;
        }
    }
    for (uint32_t c = 0; c < CLASS_COUNT; c++)
        if (!named[c]) r[c] = other;
    return r;
}

// Delimiter runs that many rows share in this exact form.
#define D_COMMON blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote

constexpr std::array<row_t, WORKING_STATES> build_transitions() {
    return {{
        /* 0 start */ row(52, {{{blank, lf, control}, 0}, {{semicolon}, 1}, {{dquote}, 2}, {{percent}, 6},
                               {{slash}, 13}, {{hash}, 16}, {{digit, zero}, 23}, {{dollar}, 36},
                               {{e_up, hexup}, 40}, {{less}, 43}, {{plus, minus}, 47}, {{dot}, 49},
                               {{quote, colon}, 51}, {{at}, 57}, {{equal}, 58}, {{nul}, 66},
                               {{rbrace, backslash, cont, bad}, 67}, {{lbracket}, 68}, {{rbracket}, 69},
                               {{lparen}, 70}, {{rparen}, 71}, {{lbrace}, 72}, {{comma}, 78}}),
        /* 1 comment */ row(1, {{{bad}, 67}, {{lf, nul}, 77}}),
        /* 2 "..." */ row(2, {{{caret}, 3}, {{lf, bad, nul}, 67}, {{dquote}, 79}}),
        /* 3 "^ */ row(2, {{{bad, nul}, 67}}),
        /* 4 {...} */ row(4, {{{caret}, 5}, {{bad, nul}, 67}, {{lbrace}, 72}, {{rbrace}, 73}}),
        /* 5 {^ */ row(4, {{{bad, nul}, 67}}),
        /* 6 % */ row(7, {{{dquote}, 8}, {{percent}, 9}, {{lbrace}, 10}, {{colon}, 54}, {{bad}, 67},
                          {{blank, lf, lbracket, rbracket, lparen, rparen, rbrace, semicolon, at, control, nul}, 80}}),
        /* 7 file */ row(7, {{{dquote, bad}, 67},
                             {{blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, colon, semicolon, at, nul}, 85}}),
        /* 8 %"..." */ row(8, {{{lf, bad, nul}, 67}, {{dquote}, 85}}),
        /* 9 %% */ row(7, {{{percent}, 9}, {{lbrace}, 10}, {{bad}, 67},
                           {{blank, lf, lbracket, rbracket, lparen, rparen, rbrace, dquote, backslash, semicolon, control, nul}, 80}}),
        /* 10 %{ */ row(10, {{{rbrace}, 11}, {{bad, nul}, 67}}),
        /* 11 %{..} */ row(10, {{{rbrace}, 11}, {{percent}, 12}, {{bad, nul}, 67}}),
        /* 12 }% */ row(67, {{{percent}, 12},
                             {{blank, lf, lbracket, rbracket, lparen, rparen, lbrace, dquote, less, semicolon, control, nul}, 100}}),
        /* 13 / */ row(14, {{{slash}, 15}, {{colon}, 53}, {{comma, bad}, 67},
                            {{D_COMMON, hash, semicolon, at, control, nul}, 80}}),
        /* 14 refinement */ row(14, {{{colon, comma, bad}, 67}, {{D_COMMON, slash, semicolon, at, control, nul}, 83}}),
        /* 15 // */ row(52, {{{slash}, 15}, {{percent, comma, dollar, bad}, 67},
                             {{D_COMMON, hash, semicolon, at, control, nul}, 80}}),
        /* 16 # */ row(22, {{{lbrace}, 17}, {{dquote}, 19}, {{lparen}, 21},
                            {{blank, lf, rbracket, rparen, rbrace, colon, less, greater, comma, bad}, 67},
                            {{lbracket}, 74}, {{semicolon, at, control, nul}, 81}}),
        /* 17 #{ */ row(67, {{{blank, lf, digit, zero, x, t, h, e_low, e_up, hexlow, hexup, slash, equal, plus, wordch}, 17},
                             {{semicolon}, 18}, {{rbrace}, 86}}),
        /* 18 #{; */ row(18, {{{lf}, 17}, {{bad, nul}, 67}}),
        /* 19 #" */ row(19, {{{caret}, 20}, {{bad, nul}, 67}, {{dquote}, 84}}),
        /* 20 #"^ */ row(19, {{{bad, nul}, 67}}),
        /* 21 #( */ row(21, {{{bad, nul}, 67}, {{rparen}, 76}}),
        /* 22 issue */ row(22, {{{colon, slash, bad}, 67}, {{D_COMMON, semicolon, at, control, nul}, 81}}),
        /* 23 digits */ row(82, {{{hash}, 16}, {{digit, zero, quote}, 23}, {{dot}, 24}, {{e_low}, 26}, {{e_up}, 27},
                                 {{t, slash, minus}, 30}, {{colon}, 31}, {{x}, 33}, {{hexup}, 39}, {{h}, 42},
                                 {{at}, 56},
                                 {{hexlow, backslash, greater, equal, dollar, plus, caret, cont, wordch, bad}, 67},
                                 {{percent}, 87}}),
        /* 24 digits. */ row(67, {{{digit, zero, quote}, 25}, {{e_low, e_up}, 26}, {{hash}, 28}, {{x}, 33},
                                  {{percent}, 87},
                                  {{D_COMMON, slash, less, comma, semicolon, control, nul}, 88}}),
        /* 25 fraction */ row(88, {{{digit, zero, quote}, 25}, {{e_low, e_up}, 26}, {{dot}, 29}, {{x}, 33}, {{at}, 56},
                                   {{hash, t, h, hexlow, hexup, backslash, greater, equal, dollar, plus, minus, caret,
                                     cont, wordch, bad}, 67},
                                   {{percent}, 87}}),
        /* 26 exponent */ row(67, {{{digit, zero, plus, minus}, 26}, {{at}, 56},
                                   {{D_COMMON, colon, slash, less, comma, semicolon, control, nul}, 88}}),
        /* 27 digitsE */ row(88, {{{plus, minus}, 26}, {{digit, zero}, 27}, {{dot}, 29}, {{e_up, hexup}, 40}, {{h}, 42},
                                  {{at}, 56},
                                  {{hash, quote, x, t, e_low, hexlow, backslash, greater, equal, semicolon, dollar, caret,
                                    cont, wordch, bad}, 67},
                                  {{percent}, 87}}),
        /* 28 1.# */ row(89, {{{x, t, h, e_low, e_up, hexlow, hexup, greater, equal, dot, plus, minus, cont, wordch}, 28},
                              {{hash, quote, colon, percent, at, dollar, caret, bad}, 67}, {{digit}, 88}}),
        /* 29 tuple */ row(67, {{{digit, zero, dot}, 29}, {{D_COMMON, colon, slash, less, semicolon, control, nul}, 90}}),
        /* 30 date */ row(30, {{{percent, comma, at, caret, cont, bad}, 67},
                               {{D_COMMON, less, semicolon, dollar, control, nul}, 91}}),
        /* 31 digits: */ row(67, {{{digit, zero}, 32}}),
        /* 32 time */ row(67, {{{digit, zero, colon, dot}, 32}, {{D_COMMON, slash, less, semicolon, control, nul}, 94}}),
        /* 33 pair x */ row(67, {{{digit, zero, plus, minus}, 34}, {{at}, 56}}),
        /* 34 pair y */ row(67, {{{digit, zero, e_low, e_up, dot}, 34}, {{at}, 56},
                                 {{D_COMMON, colon, slash, less, semicolon, control, nul}, 92}}),
        /* 35 point */ row(67, {{{blank, digit, zero, rbracket, hash, e_low, e_up, hexlow, hexup, comma, dot, plus, minus,
                                  wordch}, 35},
                                {{rparen}, 93}}),
        /* 36 $ */ row(67, {{{digit, zero}, 37}}),
        /* 37 money */ row(67, {{{digit, zero, quote}, 37}, {{dot}, 38},
                                {{D_COMMON, hash, colon, slash, less, semicolon, control, nul}, 95}}),
        /* 38 money. */ row(67, {{{digit, zero, quote}, 38}, {{D_COMMON, hash, colon, slash, less, semicolon, control, nul}, 95}}),
        /* 39 digitsHEX */ row(67, {{{digit, zero, e_up, hexup}, 39}, {{h}, 41}, {{at}, 56}}),
        /* 40 HEX */ row(80, {{{dollar}, 37}, {{digit, zero, e_up, hexup}, 40}, {{h}, 41},
                              {{quote, x, t, e_low, hexlow, less, greater, equal, dot, plus, minus, caret, cont, wordch}, 52},
                              {{colon}, 53}, {{at}, 56}, {{percent, comma, bad}, 67}, {{slash}, 75}}),
        /* 41 HEXh */ row(52, {{{dollar}, 37}, {{colon}, 53}, {{at}, 56}, {{hash, percent, comma, bad}, 67}, {{slash}, 75},
                               {{D_COMMON, backslash, semicolon, control, nul}, 99}}),
        /* 42 digitsh */ row(67, {{{dollar}, 37}, {{at}, 56}, {{slash}, 75},
                                  {{D_COMMON, backslash, less, semicolon, control, nul}, 99}}),
        /* 43 < */ row(44, {{{less}, 43}, {{quote}, 46}, {{greater, equal, minus}, 52}, {{colon}, 53}, {{bad}, 67},
                            {{D_COMMON, semicolon, control, nul}, 80}}),
        /* 44 tag */ row(44, {{{dquote}, 45}, {{quote}, 46}, {{bad, nul}, 67}, {{greater}, 96}}),
        /* 45 tag " */ row(45, {{{dquote}, 44}, {{bad, nul}, 67}}),
        /* 46 tag ' */ row(46, {{{quote}, 44}, {{bad, nul}, 67}}),
        /* 47 sign */ row(52, {{{digit, zero}, 23}, {{dollar}, 37}, {{dot}, 49}, {{quote, percent, caret, bad}, 67},
                               {{slash}, 75}, {{D_COMMON, hash, backslash, semicolon, control, nul}, 80}}),
        /* 48 'sign */ row(52, {{{quote, percent, dollar, caret, bad}, 67}, {{slash}, 75},
                                {{D_COMMON, hash, backslash, semicolon, control, nul}, 80}}),
        /* 49 . */ row(52, {{{digit, zero, plus, minus}, 50}, {{colon}, 53}, {{at}, 56}, {{percent, comma, dollar, bad}, 67},
                            {{slash}, 75}, {{D_COMMON, hash, backslash, semicolon, control, nul}, 80}}),
        /* 50 .digits */ row(67, {{{x}, 33}, {{digit, zero, e_low, e_up, plus, minus}, 50}, {{at}, 56}, {{percent}, 87},
                                  {{D_COMMON, colon, slash, less, control, nul}, 88}}),
        /* 51 ' or : */ row(67, {{{slash}, 13}, {{less}, 43}, {{plus, minus}, 48},
                                 {{x, t, h, e_low, e_up, hexlow, hexup, greater, dot, caret, cont, wordch}, 52},
                                 {{percent}, 54}, {{equal}, 58}}),
        /* 52 word */ row(52, {{{dollar}, 36}, {{colon}, 53}, {{at}, 56}, {{percent, comma, bad}, 67}, {{slash}, 75},
                               {{D_COMMON, hash, backslash, less, semicolon, control, nul}, 80}}),
        /* 53 word: */ row(55, {{{less, bad}, 67}, {{D_COMMON, backslash, semicolon, control, nul}, 80}}),
        /* 54 '% */ row(67, {{{percent}, 54},
                             {{blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, backslash, semicolon, control, nul}, 80}}),
        /* 55 url */ row(55, {{{greater, caret, bad}, 67}, {{D_COMMON, backslash, less, semicolon, control, nul}, 97}}),
        /* 56 email */ row(98, {{{digit, zero, x, t, h, e_low, e_up, hexlow, hexup, percent, dot, plus, minus, cont, wordch}, 56},
                                {{hash, quote, colon, greater, equal, comma, at, dollar, caret, bad}, 67}}),
        /* 57 ref */ row(57, {{{hash, quote, backslash, greater, equal, comma, at, dollar, caret, bad}, 67},
                              {{D_COMMON, less, semicolon, control, nul}, 101}}),
        /* 58 = */ row(52, {{{hash, percent, comma, at, dollar, bad}, 67}, {{slash}, 75},
                            {{D_COMMON, colon, backslash, semicolon, control, nul}, 80}}),
        /* 59 path / */ row(67, {{{dquote}, 2}, {{dollar}, 36}, {{less}, 43}, {{at}, 57}, {{digit, zero}, 60},
                                 {{quote, colon}, 61},
                                 {{x, t, h, e_low, e_up, hexlow, hexup, greater, equal, dot, cont, wordch}, 62},
                                 {{hash}, 63}, {{plus, minus}, 64}, {{lparen}, 70}, {{rparen}, 71}}),
        /* 60 path number */ row(67, {{{dot}, 24}, {{e_low, e_up}, 26}, {{x}, 33}, {{at}, 56}, {{digit, zero, quote}, 60},
                                      {{D_COMMON, colon, slash, less, semicolon, control, nul}, 82}, {{percent}, 87}}),
        /* 61 path ' : */ row(67, {{{x, t, h, e_low, e_up, hexlow, hexup, less, greater, equal, dot, plus, minus, cont,
                                    wordch}, 62}}),
        /* 62 path word */ row(62, {{{dollar}, 36}, {{at}, 56}, {{hash, percent, comma, bad}, 67},
                                    {{D_COMMON, colon, slash, backslash, semicolon, control, nul}, 80}}),
        /* 63 path # */ row(22, {{{dquote}, 19}, {{lbracket}, 21},
                                 {{blank, lf, rbracket, lparen, rparen, lbrace, rbrace, colon, slash, less, greater, equal,
                                   comma, semicolon, at, control, bad, nul}, 67}}),
        /* 64 path sign */ row(80, {{{dollar}, 36}, {{at}, 56}, {{digit, zero}, 60},
                                    {{x, t, h, e_low, e_up, hexlow, hexup, greater, equal, dot, cont, wordch}, 62},
                                    {{plus, minus}, 64}, {{hash, quote, less, percent, comma, caret, bad}, 67}}),
    }};
}

#undef D_COMMON

// }==
// {== Side tables

constexpr std::array<uint8_t, STATE_COUNT> build_types() {
    std::array<uint8_t, STATE_COUNT> t{};
    auto set = [&t](std::initializer_list<uint8_t> states, uint8_t type) {
        for (uint8_t s : states) t[s] = type;
    };
    set({2, 3, 4, 5, 10, 11, 12}, T_string);
    set({6, 7, 8, 9}, T_file);
    set({13, 15, 41, 47, 48, 49, 51, 52, 54, 58, 61, 62, 64}, T_word);
    set({14}, T_refinement);
    set({16, 22, 63}, T_issue);
    set({17}, T_binary);
    set({19, 20}, T_char_);
    set({23, 40, 42, 60}, T_integer);
    set({24, 25, 26, 27, 28, 50}, T_float_);
    set({29}, T_tuple);
    set({30}, T_date);
    set({31, 32}, T_time);
    set({33, 34}, T_pair);
    set({35}, T_point2d);
    set({36, 37, 38}, T_money);
    set({43, 44, 45, 46}, T_tag);
    set({53}, T_set_word);
    set({55}, T_url);
    set({56}, T_email);
    set({57}, T_ref);
    set({59}, T_path);
    // Final states: the token's datatype.
    set({F_ERROR}, T_error);
    set({F_BRACE_CLOSE, F_STRING, F_RAW_STRING}, T_string);
    set({F_WORD}, T_word);
    set({F_ISSUE}, T_issue);
    set({F_INTEGER, F_HEX}, T_integer);
    set({F_REFINEMENT}, T_refinement);
    set({F_CHAR}, T_char_);
    set({F_FILE}, T_file);
    set({F_BINARY}, T_binary);
    set({F_PERCENT}, T_percent);
    set({F_FLOAT, F_SPECIAL_FLOAT}, T_float_);
    set({F_TUPLE}, T_tuple);
    set({F_DATE}, T_date);
    set({F_PAIR}, T_pair);
    set({F_POINT}, T_point2d);
    set({F_TIME}, T_time);
    set({F_MONEY}, T_money);
    set({F_TAG}, T_tag);
    set({F_URL}, T_url);
    set({F_EMAIL}, T_email);
    set({F_REF}, T_ref);
    return t;
}

constexpr std::array<uint8_t, STATE_COUNT> build_includes_last() {
    std::array<uint8_t, STATE_COUNT> t{};
    for (uint8_t s : {F_BLOCK_OPEN, F_BLOCK_CLOSE, F_PAREN_OPEN, F_PAREN_CLOSE, F_BRACE_OPEN, F_BRACE_CLOSE,
                      F_MAP_OPEN, F_CONSTRUCT, F_COMMA, F_STRING, F_CHAR, F_BINARY, F_PERCENT, F_POINT, F_TAG})
        t[s] = 1;
    return t;
}

constexpr std::array<uint8_t, CLASS_COUNT> build_path_ends() {
    std::array<uint8_t, CLASS_COUNT> t{};
    for (uint8_t c : {blank, lf, lbracket, rbracket, lparen, rparen, lbrace, dquote, colon, less, semicolon, wordch, bad, nul})
        t[c] = 1;
    return t;
}

constexpr std::array<uint8_t, 256> build_point_chars() {
    std::array<uint8_t, 256> t{};
    for (char c : {'\t', ' ', '#', '+', '-', '.', 'A', 'E', 'F', 'I', 'N', 'a', 'e', 'f', 'i', 'n'})
        t[static_cast<uint8_t>(c)] = 1;
    for (int c = '0'; c <= '9'; c++) t[c] = 1;
    return t;
}

constexpr std::array<uint8_t, 256> build_hex_digits() {
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = 255;
    for (int c = 0; c < 10; c++) t['0' + c] = static_cast<uint8_t>(c);
    for (int c = 0; c < 6; c++) t['a' + c] = t['A' + c] = static_cast<uint8_t>(10 + c);
    return t;
}

// }==
// {== Compile-time checks

constexpr bool nul_always_ends(const std::array<row_t, WORKING_STATES>& tr) {
    for (const row_t& r : tr)
        if (r[nul] < FIRST_FINAL) return false;
    return true;
}

constexpr bool only_start_skips(const std::array<row_t, WORKING_STATES>& tr) {
    for (uint32_t s = 1; s < WORKING_STATES; s++)
        for (uint8_t n : tr[s])
            if (n == 0) return false;
    return true;
}

constexpr bool no_state_65(const std::array<row_t, WORKING_STATES>& tr) {
    for (const row_t& r : tr)
        for (uint8_t n : r)
            if (n == 65 || n > F_REF) return false;
    return true;
}

} // namespace

constinit const std::array<uint32_t, 256> classes = build_classes();
constinit const std::array<std::array<uint8_t, CLASS_COUNT>, WORKING_STATES> transitions = build_transitions();
constinit const std::array<uint8_t, STATE_COUNT> skip = [] {
    std::array<uint8_t, STATE_COUNT> t{};
    t[0] = 1;
    return t;
}();
constinit const std::array<uint8_t, CLASS_COUNT> lines = [] {
    std::array<uint8_t, CLASS_COUNT> t{};
    t[lf] = 1;
    return t;
}();
constinit const std::array<uint8_t, STATE_COUNT> types = build_types();
constinit const std::array<uint8_t, STATE_COUNT> includes_last = build_includes_last();
constinit const std::array<uint8_t, CLASS_COUNT> path_ends = build_path_ends();
constinit const std::array<uint8_t, 256> point_chars = build_point_chars();
constinit const std::array<uint8_t, 256> hex_digits = build_hex_digits();

static_assert(nul_always_ends(build_transitions()), "the end of input must end every token");
static_assert(only_start_skips(build_transitions()), "only the start state skips bytes");
static_assert(no_state_65(build_transitions()), "states are 0-64 and 66-101");
static_assert(build_classes()['t'] == wordch && build_classes()['T'] == cls::t);

} // namespace zyl::lexer
