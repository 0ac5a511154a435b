// tests/oracle/zstd_oracle_test.cpp: our zstd frames against the zstd program both ways, on a
// corpus made at test time from a fixed seed: it checks and decodes ours at every level, and
// ours decodes what it writes with its levels and options, frames joined, and refuses its
// dictionary frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "services/compress.h"
#include "tests/oracle/oracle_files.h"

namespace cz = zyl::compress;
namespace fs = std::filesystem;

namespace {

using namespace zyl::oracle;

struct sample {
    std::string name;
    bytes data;
};

// The words the text samples are made of.
const std::vector<const char*> words = {"frames ", "the ", "window ", "holds ", "sequences ", "literals ", "of ",
                                  "history; ", "matches ", "reach ", "back\n", "into ", "it ", "[block] ",
                                  "value: ", "1234 ", "zyl ", "\t"};

bytes text(size_t n, std::mt19937& rng) { return zyl::oracle::text(n, rng, words); }

bytes mixed(size_t n, std::mt19937& rng) { return zyl::oracle::mixed(n, rng, words, 3000000); }

const std::vector<sample>& corpus() {
    static const std::vector<sample> c = [] {
        std::mt19937 rng(39);
        std::vector<sample> s;
        s.push_back({"empty", {}});
        for (size_t n : {1, 5, 6, 63, 64}) s.push_back({"text" + std::to_string(n), text(n, rng)});
        for (size_t n : {16383, 16384, 16385, 131071, 131072, 131073, 262143, 262144, 262145})
            s.push_back({"text" + std::to_string(n), text(n, rng)});
        s.push_back({"ones1M", bytes(1 << 20, 1)});
        s.push_back({"text300K", text(300 * 1024, rng)});
        s.push_back({"noise1M", noise(1 << 20, rng)});
        s.push_back({"mixed8M", mixed(8 << 20, rng)});
        return s;
    }();
    return c;
}

bytes ours(const bytes& in, int level) {
    size_t size = 0;
    EXPECT_EQ(cz::zstd_compress(nullptr, size, in.data(), in.size(), level), cz::TOO_SMALL);
    bytes out(size);
    EXPECT_EQ(cz::zstd_compress(out.data(), size, in.data(), in.size(), level), cz::OK);
    out.resize(size);
    return out;
}

// Decodes [in] the way the natives do: measure, then decode (twice at most).
int decoded(const bytes& in, bytes& out) {
    size_t size = 0;
    int r = cz::zstd_decompress(nullptr, size, in.data(), in.size());
    for (int attempt = 0; attempt < 2 && r == cz::TOO_SMALL; attempt++) {
        out.assign(size, 0);
        r = cz::zstd_decompress(out.data(), size, in.data(), in.size());
    }
    if (r == cz::OK) out.resize(size);
    return r;
}


} // namespace

TEST(ZstdOracle, TheToolChecksAndDecodesOursAtEveryLevel) {
    temp_dir dir;
    for (const sample& s : corpus()) {
        fs::path orig = dir.path / s.name;
        write_file(orig, s.data);
        for (int level = 1; level <= 19; level++) {
            if (s.data.size() > (4u << 20) && level % 3 != 1 && level < 17) continue; // the big one at fewer levels
            bytes z = ours(s.data, level);
            ASSERT_LE(z.size(), cz::zstd_bound(s.data.size())) << s.name << " level " << level;
            fs::path zp = dir.path / (s.name + ".zst");
            write_file(zp, z);
            ASSERT_EQ(run("zstd -q -t " + zp.string()), 0) << s.name << " level " << level;
            ASSERT_EQ(run("zstd -q -d -c " + zp.string() + " | cmp -s - " + orig.string()), 0)
                << s.name << " level " << level;
            bytes back;
            ASSERT_EQ(decoded(z, back), cz::OK) << s.name << " level " << level;
            ASSERT_EQ(back, s.data) << s.name << " level " << level;
        }
    }
}

TEST(ZstdOracle, WeDecodeTheToolAtItsLevelsAndOptions) {
    temp_dir dir;
    for (const sample& s : corpus()) {
        fs::path orig = dir.path / s.name;
        write_file(orig, s.data);
        std::vector<std::string> options = {"-1", "-3", "-9", "-19", "--ultra -22", "--long", "--no-check",
                                            "-C", "-T0 -5", "--no-content-size", "-19 --no-content-size"};
        if (s.data.size() <= (1u << 20))
            for (int level = 2; level <= 18; level++)
                if (level != 3 && level != 9) options.push_back("-" + std::to_string(level));
        for (const std::string& opt : options) {
            fs::path zp = dir.path / (s.name + ".zst");
            std::string cmd = "zstd -q -f " + opt + " -o " + zp.string() + " " + orig.string();
            if (opt.find("content-size") != std::string::npos) // from a pipe, no size is known
                cmd = "cat " + orig.string() + " | zstd -q -f " + opt + " -o " + zp.string();
            ASSERT_EQ(run(cmd), 0) << opt;
            bytes back;
            ASSERT_EQ(decoded(read_file(zp), back), cz::OK) << s.name << " " << opt;
            ASSERT_EQ(back, s.data) << s.name << " " << opt;
        }
    }
}

TEST(ZstdOracle, WeDecodeJoinedFramesAndRefuseDictionaries) {
    temp_dir dir;
    bytes joined, expected;
    for (const sample& s : corpus()) {
        if (s.data.size() > 300000) continue;
        fs::path orig = dir.path / s.name;
        write_file(orig, s.data);
        ASSERT_EQ(run("zstd -q -f -c " + orig.string() + " >> " + (dir.path / "all.zst").string()), 0);
        expected.insert(expected.end(), s.data.begin(), s.data.end());
    }
    bytes back;
    ASSERT_EQ(decoded(read_file(dir.path / "all.zst"), back), cz::OK);
    EXPECT_EQ(back, expected);
    std::string samples;
    for (int i = 0; i < 40; i++) {
        std::mt19937 rng(i);
        fs::path p = dir.path / ("d" + std::to_string(i));
        write_file(p, text(2000, rng));
        samples += " " + p.string();
    }
    fs::path dict = dir.path / "dict";
    ASSERT_EQ(run("zstd -q --train" + samples + " -o " + dict.string() + " > /dev/null 2>&1"), 0);
    fs::path zp = dir.path / "withdict.zst";
    ASSERT_EQ(run("zstd -q -f -D " + dict.string() + " -o " + zp.string() + " " + (dir.path / "d0").string()), 0);
    EXPECT_EQ(decoded(read_file(zp), back), cz::MALFORMED);
}
