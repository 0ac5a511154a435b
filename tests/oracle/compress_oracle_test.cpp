// tests/oracle/compress_oracle_test.cpp: our deflate, zlib and gzip streams against real peers
// both ways, on a corpus made at test time from a fixed seed: python3's zlib and the gzip
// program decode ours, and ours decodes what zlib (every level and strategy) and gzip write.
#include <gtest/gtest.h>
#include <zlib.h>

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
const std::vector<const char*> words = {"deflate ", "the ", "window ", "holds ", "thirty-two ", "kilobytes ",
                                  "of ",      "history; ", "matches ", "reach ", "back\n", "into ",
                                  "it ",      "[block] ", "value: ", "1234 ", "zyl ", "\t"};

bytes text(size_t n, std::mt19937& rng) { return zyl::oracle::text(n, rng, words); }

bytes mixed(size_t n, std::mt19937& rng) { return zyl::oracle::mixed(n, rng, words, 30000); }

const std::vector<sample>& corpus() {
    static const std::vector<sample> c = [] {
        std::mt19937 rng(38);
        std::vector<sample> s;
        s.push_back({"empty", {}});
        s.push_back({"one", {0x5A}});
        s.push_back({"run258", bytes(258, 'r')});
        s.push_back({"run259", bytes(259, 'r')});
        for (size_t n : {32767, 32768, 32769}) s.push_back({"text" + std::to_string(n), text(n, rng)});
        for (size_t n : {65535, 65536, 65537}) s.push_back({"noise" + std::to_string(n), noise(n, rng)});
        s.push_back({"ones1M", bytes(1 << 20, 1)});
        s.push_back({"text300K", text(300 * 1024, rng)});
        s.push_back({"noise1M", noise(1 << 20, rng)});
        s.push_back({"mixed8M", mixed(8 << 20, rng)});
        return s;
    }();
    return c;
}

bytes ours(int method, const bytes& in, int level) {
    size_t size = cz::compress_capacity(in.size());
    bytes out(size);
    int r = cz::compress_with(method, out.data(), size, in.data(), in.size(), level);
    if (r == cz::TOO_SMALL) {
        out.resize(size);
        r = cz::compress_with(method, out.data(), size, in.data(), in.size(), level);
    }
    EXPECT_EQ(r, cz::OK);
    out.resize(size);
    return out;
}

// Decodes [in] by [method] the way the natives do: measure, then decode (twice at most).
int decoded(int method, const bytes& in, bytes& out) {
    size_t size = 0;
    int r = cz::decompress_with(method, nullptr, size, in.data(), in.size(), SIZE_MAX);
    for (int attempt = 0; attempt < 2 && r == cz::TOO_SMALL; attempt++) {
        out.assign(size, 0);
        r = cz::decompress_with(method, out.data(), size, in.data(), in.size(), SIZE_MAX);
    }
    if (r == cz::OK) out.resize(size);
    return r;
}

bytes zlib_peer(const bytes& in, int level, int strategy, int window_bits) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, strategy), Z_OK);
    bytes out(deflateBound(&z, uLong(in.size())) + 64);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}


// A gzip member written by hand around zlib's raw deflate stream of [body].
bytes gzip_by_hand(const bytes& body, uint8_t flags, const std::string& extra, const std::string& name,
                   const std::string& comment) {
    bytes m = {31, 139, 8, flags, 0, 0, 0, 0, 0, 3};
    if (flags & 4) {
        m.push_back(uint8_t(extra.size()));
        m.push_back(uint8_t(extra.size() >> 8));
        m.insert(m.end(), extra.begin(), extra.end());
    }
    for (const std::string* s : {&name, &comment}) {
        if (!(flags & (s == &name ? 8 : 16))) continue;
        m.insert(m.end(), s->begin(), s->end());
        m.push_back(0);
    }
    if (flags & 2) {
        uLong crc = crc32(0, m.data(), uInt(m.size()));
        m.push_back(uint8_t(crc));
        m.push_back(uint8_t(crc >> 8));
    }
    bytes raw = zlib_peer(body, 6, Z_DEFAULT_STRATEGY, -15);
    m.insert(m.end(), raw.begin(), raw.end());
    uLong crc = crc32(0, body.data(), uInt(body.size()));
    for (uLong v : {crc, uLong(body.size())})
        for (int i = 0; i < 4; i++) m.push_back(uint8_t(v >> (8 * i)));
    return m;
}

} // namespace

TEST(CompressOracle, PeersDecodeOurStreamsAtEveryLevel) {
    temp_dir dir;
    std::ofstream manifest(dir.path / "manifest");
    int files = 0;
    for (const sample& s : corpus()) {
        write_file(dir.path / (s.name + ".orig"), s.data);
        for (int level : {-1, 1, 2, 3, 4, 5, 6, 7, 8, 9}) {
            // The largest sample at the levels whose matcher differs most; the rest at all.
            if (s.data.size() > (4u << 20) && level != -1 && level != 1 && level != 4 && level != 9) continue;
            std::string base = s.name + "." + std::to_string(level);
            write_file(dir.path / (base + ".raw"), ours(cz::M_DEFLATE, s.data, level));
            write_file(dir.path / (base + ".zlib"), ours(cz::M_ZLIB, s.data, level));
            write_file(dir.path / (base + ".gz"), ours(cz::M_GZIP, s.data, level));
            manifest << s.name << " " << base << "\n";
            files++;
        }
    }
    manifest.close();
    std::string script = dir.path / "check.py";
    std::ofstream(script) << "import sys, zlib, os\n"
                             "d = sys.argv[1]\n"
                             "for line in open(os.path.join(d, 'manifest')):\n"
                             "    name, base = line.split()\n"
                             "    orig = open(os.path.join(d, name + '.orig'), 'rb').read()\n"
                             "    for ext, wbits in (('.raw', -15), ('.zlib', 15), ('.gz', 31)):\n"
                             "        data = open(os.path.join(d, base + ext), 'rb').read()\n"
                             "        o = zlib.decompressobj(wbits)\n"
                             "        out = o.decompress(data) + o.flush()\n"
                             "        if out != orig or not o.eof or o.unused_data:\n"
                             "            sys.exit('python zlib disagrees on ' + base + ext)\n";
    EXPECT_EQ(run("python3 " + script + " " + dir.path.string()), 0);
    std::ifstream list(dir.path / "manifest");
    std::string name, base;
    int checked = 0;
    while (list >> name >> base) {
        std::string gz = (dir.path / (base + ".gz")).string(), orig = (dir.path / (name + ".orig")).string();
        EXPECT_EQ(run("gzip -dc " + gz + " | cmp -s - " + orig), 0) << base;
        checked++;
    }
    EXPECT_EQ(checked, files);
}

TEST(CompressOracle, WeDecodeZlibAtEveryLevelAndStrategy) {
    for (const sample& s : corpus()) {
        bytes out;
        for (int level = 0; level <= 9; level++) {
            bytes z = zlib_peer(s.data, level, Z_DEFAULT_STRATEGY, 15);
            ASSERT_EQ(decoded(cz::M_ZLIB, z, out), cz::OK) << s.name << " level " << level;
            ASSERT_EQ(out, s.data) << s.name << " level " << level;
        }
        struct strategy {
            int id, bits, method;
        };
        for (strategy st : {strategy{Z_FILTERED, -15, cz::M_DEFLATE}, strategy{Z_HUFFMAN_ONLY, 15, cz::M_ZLIB},
                            strategy{Z_RLE, 31, cz::M_GZIP}, strategy{Z_FIXED, -15, cz::M_DEFLATE}}) {
            bytes z = zlib_peer(s.data, 6, st.id, st.bits);
            ASSERT_EQ(decoded(st.method, z, out), cz::OK) << s.name << " strategy " << st.id;
            ASSERT_EQ(out, s.data) << s.name << " strategy " << st.id;
        }
    }
}

TEST(CompressOracle, WeDecodeTheGzipProgramAndEveryHeaderFlag) {
    temp_dir dir;
    bytes joined_in, joined_gz;
    for (const sample& s : corpus()) {
        if (s.data.size() > (2u << 20)) continue;
        fs::path p = dir.path / s.name;
        write_file(p, s.data);
        for (const char* level : {"-1", "-9"}) {
            ASSERT_EQ(run(std::string("gzip ") + level + " -c " + p.string() + " > " + p.string() + ".gz"), 0);
            bytes gz = read_file(p.string() + ".gz"), out;
            ASSERT_TRUE(gz.size() > 3 && (gz[3] & 8)) << "the gzip program names the file";
            ASSERT_EQ(decoded(cz::M_GZIP, gz, out), cz::OK) << s.name << " " << level;
            ASSERT_EQ(out, s.data) << s.name << " " << level;
            if (s.data.size() < 70000) {
                joined_in.insert(joined_in.end(), s.data.begin(), s.data.end());
                joined_gz.insert(joined_gz.end(), gz.begin(), gz.end());
            }
        }
    }
    bytes out;
    ASSERT_EQ(decoded(cz::M_GZIP, joined_gz, out), cz::OK) << "members one after another";
    EXPECT_EQ(out, joined_in);

    const bytes& body = corpus()[5].data; // 32 KB of text
    for (uint8_t flags : {1, 2, 4, 8, 16, 31, 30}) {
        bytes gz = gzip_by_hand(body, flags, "AB\x02\x00xy", "name.txt", "a comment");
        ASSERT_EQ(decoded(cz::M_GZIP, gz, out), cz::OK) << int(flags);
        EXPECT_EQ(out, body) << int(flags);
    }
    bytes bad = gzip_by_hand(body, 2, "", "", "");
    bad[10] ^= 1; // the header check value
    EXPECT_EQ(decoded(cz::M_GZIP, bad, out), cz::MALFORMED);
}

TEST(CompressOracle, LevelSixSizesWithinOnePercentOfZlib) {
    for (const sample& s : corpus()) {
        if (s.name != "text300K" && s.name != "mixed8M") continue;
        double mine = double(ours(cz::M_DEFLATE, s.data, 6).size());
        double theirs = double(zlib_peer(s.data, 6, Z_DEFAULT_STRATEGY, -15).size());
        EXPECT_LT(std::abs(mine - theirs) / theirs, 0.01) << s.name << ": " << mine << " against " << theirs;
    }
}
