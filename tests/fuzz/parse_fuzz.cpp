// tests/fuzz/parse_fuzz.cpp: the parse engine's fuzz target: random rules (every keyword,
// literals, charsets, datatypes, counts, nested blocks, recursion through a word, actions)
// over random string!, block! and binary! input, under ASan and UBSan. An input only picks
// choices; the run must end with a result or a catalogued error, never a crash or a hang (a
// trace callback bounds runs whose rules could grow the input forever). Built for libFuzzer
// with clang, or with its own driver: zyl-parse-fuzz [SECONDS [SEED]].
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "boot/startup.h"
#include "eval/interp.h"
#include "eval/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/platform/native_stack.h"

using namespace zyl;

namespace {

// The choices of one run, read from the fuzzer's bytes (zero once they are used up).
struct choices {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint32_t next(uint32_t n) { return at < size ? data[at++] % n : 0; }
    bool done() const { return at >= size; }
};

// No `while`: over a rule that matches without progress it loops for ever, as it should.
const char* const rule_words[] = {
    "any",
    "some",
    "opt",
    "skip",
    "end",
    "none",
    "fail",
    "break",
    "reject",
    "to",
    "thru",
    "ahead",
    "not",
    "quote",
    "if",
    "case yes",
    "case no",
    "into",
    "copy x",
    "set x",
    "remove",
    "insert",
    "insert only",
    "change",
    "change only",
    "collect",
    "collect set x",
    "collect into b",
    "collect after s",
    "keep",
    "keep pick",
    "|",
    "|",
    "\"a\"",
    "\"ab\"",
    "\"\"",
    "#\"a\"",
    "#\"b\"",
    "<a>",
    "alpha",
    "digit",
    "not-a",
    "0",
    "1",
    "2",
    "3",
    "-1",
    "1 2",
    "integer!",
    "word!",
    "string!",
    "any-string!",
    "block!",
    "'a",
    "'b",
    "(n2: n2 + 1)",
    "(true)",
    "(false)",
    "([a b])",
    "mark:",
    ":mark",
    "r",
    "x",
    "b",
    "#{61}",
    "1.5",
    "a/b",
    "end",
    "skip",
    "\"a\"",
    "only",
    "pick",
    "after",
    "\"b\"",
    "#\"1\"",
    "\"b1\"",
    "skip",
    "some skip",
    "any alpha",
    "\"a\" | \"b\"",
    "word!",
    "'a",
    "to \"b\"",
    "thru #\"1\"",
    "copy x skip",
    "keep skip",
};
const char* const block_values[] = {"a",         "b",   "1",      "\"a\"", "\"ab\"", "[a]",
                                    "[\"a\" b]", "(x)", "#\"a\"", "a/b",   "#{61}"};
const char* const text_chars[] = {"a", "a", "b", "1", " ", "<", ">", "\xC3\xA9", "\xE2\x82\xAC"};

void rule(choices& c, std::string& out, int depth) {
    uint32_t n = 1 + c.next(6);
    for (uint32_t i = 0; i < n && !c.done(); i++) {
        if (depth < 3 && c.next(5) == 0) {
            out += '[';
            rule(c, out, depth + 1);
            out += "] ";
            continue;
        }
        out += rule_words[c.next(sizeof rule_words / sizeof *rule_words)];
        out += ' ';
    }
}

void input(choices& c, std::string& out) {
    uint32_t kind = c.next(3), n = c.next(24);
    if (kind == 0) {
        out += '"';
        for (uint32_t i = 0; i < n; i++)
            out += text_chars[c.next(sizeof text_chars / sizeof *text_chars)];
        out += '"';
    } else if (kind == 1) {
        out += '[';
        for (uint32_t i = 0; i < n; i++)
            out +=
                std::string(block_values[c.next(sizeof block_values / sizeof *block_values)]) + " ";
        out += ']';
    } else {
        static const char hex[] = "61623120C3";
        out += "#{";
        for (uint32_t i = 0; i < n; i++) {
            uint32_t h = c.next(5) * 2;
            out += hex[h];
            out += hex[h + 1];
        }
        out += '}';
    }
}

bool started = false;
uint64_t outcomes[3]; // finished, raised an error, left before parse (growth without a bound)

// Evaluates [text] under a try frame; any raised error is fine.
void run(const std::string& text) {
    cell* saved_top = es.top;
    call_frame* saved_frames = es.ftop;
    cell w{T_word, 0, 99, 0};
    stack::mark_try(&w);
    try {
        cell* blk = runtime::load_text(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        interp::eval_block(blk, false);
        stack::unwind();
        outcomes[0]++;
    } catch (const error::raised&) {
        outcomes[1]++;
        if (std::getenv("ZYL_PARSE_FUZZ_SHOW")) std::printf("%s\n", text.c_str());
    }
    es.throw_code = THROW_NONE;
    es.ftop = saved_frames;
    es.top = saved_top;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!started) {
        runtime::start();
        run("alpha: charset \"ab\" digit: charset \"0123456789\" not-a: complement charset \"a\" "
            "yes: true no: false cb: func [e m r i s] [n: n + 1 n < 3000]");
        started = true;
    }
    choices c{data, size};
    std::string text = "n: 0 n2: 0 x: none mark: none b: copy [] s: copy \"\" r: [";
    rule(c, text, 1);
    text += "] in: ";
    input(c, text);
    text += c.next(4) == 0 ? " parse/case in [" : " parse/trace in [";
    bool traced = text.back() == '[' && text.find("/trace") != std::string::npos;
    rule(c, text, 0);
    text += ']';
    if (traced) text += " :cb";
    // Without a callback nothing bounds a rule that grows the input in a loop: leave those out.
    if (!traced &&
        (text.find("insert") != std::string::npos || text.find("change") != std::string::npos)) {
        outcomes[2]++;
        return 0;
    }
    run(text);
    return 0;
}

#ifndef ZYL_LIBFUZZER
namespace {

struct budget {
    double seconds;
    uint64_t seed;
};

// The driver's loop, on the evaluator's own machine stack as the program runs it.
int drive(void* arg) {
    auto* b = static_cast<budget*>(arg);
    std::mt19937_64 rng(b->seed);
    auto start = std::chrono::steady_clock::now();
    uint64_t runs = 0;
    std::vector<uint8_t> bytes;
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() <
           b->seconds) {
        bytes.resize(8 + rng() % 120);
        for (auto& x : bytes) x = static_cast<uint8_t>(rng());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        runs++;
    }
    if (started) runtime::stop();
    std::printf("%llu runs: %llu finished, %llu raised errors, %llu skipped\n",
                static_cast<unsigned long long>(runs), static_cast<unsigned long long>(outcomes[0]),
                static_cast<unsigned long long>(outcomes[1]),
                static_cast<unsigned long long>(outcomes[2]));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    budget b{argc > 1 ? std::atof(argv[1]) : 30,
             argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1};
    return native_stack::run(&drive, &b);
}
#endif
