// bench/source_generator.h: 10 MB of generated source (numbers, words, set-words, strings,
// nested blocks) and the same data as JSON, shared by the lexer and load/save benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t SOURCE_BYTES = 10 << 20;

// The same data as source text and as JSON: blocks are arrays, words and set-words strings.
struct texts {
    std::string source;
    std::string json;
};

struct generator {
    std::mt19937 rng{2026};
    texts out;
    std::vector<std::string> words;

    generator() {
        const char* stems[] = {"alpha", "beta", "gamma", "delta", "value", "count", "name", "item", "print",
                               "append", "length", "index", "data", "file", "block", "string"};
        for (const char* s : stems)
            for (int i = 0; i < 64; i++) words.push_back(std::string(s) + (i ? "-" + std::to_string(i) : ""));
    }
    void both(const std::string& src, const std::string& json) {
        out.source += src;
        out.json += json;
    }
    void value(int depth, bool first) {
        if (!first) {
            bool line = rng() % 8 == 0;
            out.source += line ? '\n' : ' ';
            out.json += line ? ",\n" : ", ";
        }
        uint32_t r = rng() % 100;
        if (r < 30) {
            std::string n = std::to_string(rng() % 1000000);
            both(n, n);
        } else if (r < 40) {
            std::string f = std::to_string(rng() % 10000) + "." + std::to_string(rng() % 1000);
            both(f, f);
        } else if (r < 75) {
            const std::string& w = words[rng() % words.size()];
            bool set = rng() % 5 == 0;
            both(set ? w + ":" : w, "\"" + w + (set ? ":" : "") + "\"");
        } else if (r < 93 || depth >= 4) {
            std::string s;
            for (uint32_t i = 0, n = 4 + rng() % 24; i < n; i++) s += char(rng() % 6 == 0 ? ' ' : 'a' + rng() % 26);
            both("\"" + s + "\"", "\"" + s + "\"");
        } else {
            both("[", "[");
            for (uint32_t i = 0, n = 2 + rng() % 12; i < n; i++) value(depth + 1, i == 0);
            both("]", "]");
        }
    }
    texts make(size_t bytes) {
        out.json = "[";
        for (bool first = true; out.source.size() < bytes; first = false) value(0, first);
        out.json += "]";
        return out;
    }
};

const texts& data() {
    static texts t = generator().make(SOURCE_BYTES);
    return t;
}

// Times python3 on the JSON form of the data, as the manual time of [state]: the best of five
// runs of json.loads of the text, or with [dumps] of json.dumps of the loaded value. MB/s
// counts the source text, so the rates compare the same data.
inline void time_python_json(benchmark::State& state, bool dumps) {
    const texts& t = data();
    char path[] = "/tmp/zyl-json-bench-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0 || write(fd, t.json.data(), t.json.size()) != ssize_t(t.json.size())) {
        state.SkipWithError("cannot write the JSON file");
        return;
    }
    close(fd);
    std::string cmd = std::string("python3 -c \"import json,time\nd=open('") + path + "').read()\n" +
                      (dumps ? "d=json.loads(d)\n" : "") + "b=9e9\nfor i in range(5):\n t=time.perf_counter();json." +
                      (dumps ? "dumps" : "loads") + "(d);b=min(b,time.perf_counter()-t)\nprint(b)\" 2>/dev/null";
    double seconds = 0.0;
    for (auto _ : state) {
        FILE* p = popen(cmd.c_str(), "r");
        if (!p || std::fscanf(p, "%lf", &seconds) != 1) seconds = 0.0;
        if (p) pclose(p);
        state.SetIterationTime(seconds);
    }
    unlink(path);
    if (seconds <= 0.0) {
        state.SkipWithError("python3 is not available");
        return;
    }
    state.counters["json_bytes"] = double(t.json.size());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.source.size()));
    state.counters["MB/s"] = double(t.source.size()) / 1e6 / seconds;
}

} // namespace
