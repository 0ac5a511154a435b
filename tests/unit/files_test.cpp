// tests/unit/files_test.cpp: the file service where a transcript cannot look: what a
// replacing write does to permission bits, links and temporary files, writes refused by the
// file-size limit, unreadable files as an unprivileged user, streamed pipes, files too big
// for a series.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "boot/startup.h"
#include "datatypes/string.h"
#include "eval/actions.h"
#include "eval/interp.h"
#include "runtime_fixture.h"

using namespace zyl;
namespace ids = zyl::error::ids;

namespace {

// {== Fixture

// The run-time as the program starts it, in a new empty folder of its own.
struct FilesTest : ::testing::Test {
    std::string folder;
    std::string previous;

    void SetUp() override {
        char buf[4096];
        previous = getcwd(buf, sizeof buf) ? buf : "/";
        char tmpl[] = "/tmp/zyl-files-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        folder = tmpl;
        ASSERT_EQ(chdir(folder.c_str()), 0);
        collector::gc = {};
        datatype::reg.words_made = false;
        zyl::testing::start_runtime();
    }
    void TearDown() override {
        runtime::stop();
        ASSERT_EQ(chdir(previous.c_str()), 0);
        std::string rm = "rm -rf '" + folder + "'";
        ASSERT_EQ(std::system(rm.c_str()), 0);
    }

    // Evaluates [text]; the molded result, or "error <category> <id>".
    static std::string run(std::string_view text) {
        cell* blk = runtime::load_text(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        cell* saved_top = es.top;
        cell w{T_word, 0, 99, 0};
        stack::mark_try(&w);
        std::string out;
        try {
            interp::eval_block(blk, false);
            cell* buffer = string::push_new(16);
            actions::mold_typed(es.top - 2, buffer, false, false, true, nullptr, 1 << 30, 0);
            out = string::to_std(buffer);
            stack::pop(1);
            stack::unwind();
        } catch (const error::raised& e) {
            es.throw_code = THROW_NONE;
            out = "error " + std::to_string(e.category) + " " + std::to_string(e.id);
        }
        es.top = saved_top;
        stack::pop(1);
        return out;
    }

    static std::string cannot_open() {
        return "error " + std::to_string(error::cat_access) + " " + std::to_string(ids::access_cannot_open);
    }

    static void put(const char* name, const std::string& bytes) {
        std::ofstream(name, std::ios::binary) << bytes;
    }
    static std::string get(const char* name) {
        std::ifstream in(name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The names in the current folder, "." and ".." left out.
    static std::vector<std::string> names() {
        std::vector<std::string> out;
        DIR* d = opendir(".");
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) out.push_back(e->d_name);
        closedir(d);
        std::sort(out.begin(), out.end());
        return out;
    }
    // Runs [body] in a child process; its exit status.
    template <typename F> static int in_child(F body) {
        pid_t pid = fork();
        if (pid == 0) _exit(body());
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }
};

// }==
// {== Replacing writes

TEST_F(FilesTest, ReplacingKeepsPermissionBitsAndLeavesNoTemporary) {
    put("f", "old");
    ASSERT_EQ(chmod("f", 0640), 0);
    struct stat before;
    stat("f", &before);
    EXPECT_EQ(run("write %f \"new text\""), "unset");
    struct stat after;
    stat("f", &after);
    EXPECT_EQ(get("f"), "new text");
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_NE(after.st_ino, before.st_ino); // replaced, not rewritten
    EXPECT_EQ(names(), std::vector<std::string>{"f"});
}

TEST_F(FilesTest, ANewFileTakesTheUmaskAndWritingThroughALinkKeepsTheLink) {
    mode_t old = umask(022);
    EXPECT_EQ(run("write %n \"x\""), "unset");
    umask(old);
    struct stat st;
    stat("n", &st);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    ASSERT_EQ(mkdir("d", 0755), 0);
    put("d/target", "old");
    ASSERT_EQ(symlink("d/target", "link"), 0);
    EXPECT_EQ(run("write %link \"through\""), "unset");
    struct stat l;
    ASSERT_EQ(lstat("link", &l), 0);
    EXPECT_TRUE(S_ISLNK(l.st_mode));
    EXPECT_EQ(get("d/target"), "through");
    EXPECT_EQ(names(), (std::vector<std::string>{"d", "link", "n"}));
}

TEST_F(FilesTest, AFileWithTwoLinksIsWrittenInPlace) {
    put("a", "old old");
    ASSERT_EQ(link("a", "b"), 0);
    EXPECT_EQ(run("write %a \"new\""), "unset");
    EXPECT_EQ(get("b"), "new"); // both names still share the one file
    EXPECT_EQ(run("write/seek %b \"N\" 0 read %a"), "\"New\"");
}

// Under a file-size limit a bigger replacement fails; the old file and folder stay as they
// were.
TEST_F(FilesTest, AWriteRefusedByTheSizeLimitRaisesAndKeepsTheOldFile) {
    put("f", std::string(100, 'o'));
    int status = in_child([] {
        rlimit lim{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &lim);
        std::string r = run("write %f append/dup copy \"\" \"n\" 5000");
        return r == cannot_open() ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(get("f"), std::string(100, 'o'));
    EXPECT_EQ(names(), std::vector<std::string>{"f"});
}

// }==
// {== Reading

TEST_F(FilesTest, AnUnreadableFileRaisesCannotOpenAsAnUnprivilegedUser) {
    put("secret", "s");
    ASSERT_EQ(chmod("secret", 0), 0);
    ASSERT_EQ(chmod(".", 0755), 0);
    int status = in_child([] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;
        return run("read %secret") == cannot_open() && run("write %secret \"x\"") == cannot_open() ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(get("secret"), "s");
}

// A big file's text is read in pieces and measured piece by piece: a mark, a wide character
// or a bad byte after many ASCII pieces, a sequence split between two pieces, a byte-order
// mark before ASCII. Each text writes back as the bytes it came from (less the mark).
TEST_F(FilesTest, ABigTextIsDecodedWhateverPieceItsOtherCharactersLieIn) {
    const size_t piece = 256 * 1024;
    std::string ascii(3 * piece + 100, 'a');
    for (size_t i = 63; i < ascii.size(); i += 64) ascii[i] = '\n';
    struct row {
        size_t at;         // where [insert] replaces ASCII bytes
        std::string insert;
        bool bom;
        int64_t chars;     // the text's length, or -1 for invalid UTF-8
    };
    const int64_t n = int64_t(ascii.size());
    for (const row& r : {row{0, "", true, n}, row{0, "\xC3\xA9", true, n - 1},
                         row{piece - 1, "\xC3\xA9", false, n - 1}, row{2 * piece - 2, "\xF0\x9D\x84\x9E", false, n - 3},
                         row{3 * piece + 10, "\xE2\x98\x83", false, n - 2}, row{ascii.size() - 2, "\xC4\x80", false, n - 1},
                         row{2 * piece + 5, "\xFF", false, -1}, row{piece - 1, "\xE2\x98", false, -1}}) {
        std::string text = ascii;
        text.replace(r.at, r.insert.size(), r.insert);
        put("t", (r.bom ? "\xEF\xBB\xBF" : "") + text);
        SCOPED_TRACE(r.at);
        if (r.chars < 0) {
            EXPECT_EQ(run("read %t"), "error " + std::to_string(error::cat_access) + " " +
                                          std::to_string(ids::access_invalid_utf8));
            continue;
        }
        EXPECT_EQ(run("write %back read %t length? read %t"), std::to_string(r.chars));
        EXPECT_TRUE(get("back") == text);
    }
}

TEST_F(FilesTest, APipeIsReadToItsEnd) {
    ASSERT_EQ(mkfifo("p", 0600), 0);
    pid_t writer = fork();
    if (writer == 0) {
        int fd = open("p", O_WRONLY);
        std::string chunk(1000, 'x');
        for (int i = 0; i < 200; i++) (void)!write(fd, chunk.data(), chunk.size());
        close(fd);
        _exit(0);
    }
    EXPECT_EQ(run("length? read/seek %p 10"), "199990");
    waitpid(writer, nullptr, 0);
}

TEST_F(FilesTest, AFileTooBigForASeriesRaisesLimitHit) {
    int fd = open("big", O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(ftruncate(fd, off_t(3) << 30), 0); // sparse: no disk used
    close(fd);
    std::string limit = "error " + std::to_string(error::cat_internal) + " " + std::to_string(ids::internal_limit_hit);
    EXPECT_EQ(run("read/binary %big"), limit);
    EXPECT_EQ(run("read %big"), limit);
    EXPECT_EQ(run("length? read/binary/seek/part %big 3000000000 5"), "5");
    EXPECT_EQ(run("size? %big"), "error " + std::to_string(error::cat_math) + " " + std::to_string(ids::math_overflow));
}

// }==
} // namespace
