#include "FilesTestEnv.h"
#include "files/SwiFile.h"

#include <csignal>
#include <cstring>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

using namespace std::string_literals;

// ---- parsing -------------------------------------------------------------------------------

struct ParseCase {
    const char* legend;
    std::string text;
    int fields;
    SwitchConfig config; // compared when fields == 5
};

const ParseCase kParseCases[] = {
    {"the 14-byte example", "256:257:0:0\n1\n", 5, {256, 257, 0, 0, 1}},
    {"largest values Save can write", "65535:65535:65535:65535\n-32768\n", 5, {65535, 65535, 65535, 65535, -32768}},
    {"CR LF line ends: the CR is not part of the number", "1:2:3:4\r\n0\r\n", 5, {1, 2, 3, 4, 0}},
    {"fifth field 7 is taken as it is", "1:2:3:4\n7\n", 5, {1, 2, 3, 4, 7}},
    {"no line feed at the end", "1:2:3:4\n5", 5, {1, 2, 3, 4, 5}},
    {"runs of separators count as one", "::1:::2::3:4\n\n\n5\n", 5, {1, 2, 3, 4, 5}},
    {"leading blanks and signs", " 1: +2:-3:\t4\n +1\n", 5, {1, 2, 65533, 4, 1}},
    {"the fourth field runs to the line feed, colons and all", "1:2:3:4:9\n1\n", 5, {1, 2, 3, 4, 1}},
    {"a line feed inside the PID line belongs to a field", "1:2\n3:4:5\n6\n", 5, {1, 2, 4, 5, 6}},
    {"text in a field converts to 0", "x:2:3:4\nSingle\n", 5, {0, 2, 3, 4, 0}},
    {"values wrap to 16 bits", "65536:70000:1:2\n65535\n", 5, {0, 4464, 1, 2, -1}},
    {"only 1:2", "1:2", 2, {}},
    {"empty text", "", 0, {}},
    {"line feeds are no separators for the PIDs", ":::\n\n", 1, {}},
    {"only separators of the PID line", ":::::", 0, {}},
    {"four fields", "1:2:3:4\n", 4, {}},
    {"a zero byte ends the text", "1:2\0:3:4\n5\n"s, 2, {}},
    {"only the first 50 bytes count: mode 1, not 123",
     "1:2:3:4\n" + std::string(41, '0') + "123\n",
     5,
     {1, 2, 3, 4, 1}},
    {"a fifth field after byte 50 is not seen", "1:2:3:4\n" + std::string(42, '\n') + "1\n", 4, {}},
};

TEST(SwiParse, SplitsAndConvertsTheFiveFields) {
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(c.legend);
        SwiParseResult r = ParseSwi(c.text.data(), c.text.size());
        EXPECT_EQ(r.fields, c.fields);
        EXPECT_EQ(r.Complete(), c.fields == 5);
        if (c.fields == 5) {
            EXPECT_EQ(r.config.PidA, c.config.PidA);
            EXPECT_EQ(r.config.PidB, c.config.PidB);
            EXPECT_EQ(r.config.PidC, c.config.PidC);
            EXPECT_EQ(r.config.PidD, c.config.PidD);
            EXPECT_EQ(r.config.Mode, c.config.Mode);
        }
    }
}

// The splitting must agree with the C library's token splitting on a zero-terminated copy of
// the first 50 bytes: ":" three times, then "\n" twice.
SwiParseResult ReferenceParse(const std::string& bytes, bool* usable) {
    std::string text = bytes.substr(0, kSwiReadLimit);
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    const char* separators[] = {":", ":", ":", "\n", "\n"};
    long long values[5] = {};
    SwiParseResult r;
    char* save = nullptr;
    for (int i = 0; i < 5; ++i) {
        char* token = ::strtok_r(i == 0 ? buffer.data() : nullptr, separators[i], &save);
        if (!token)
            break;
        errno = 0;
        values[i] = std::strtoll(token, nullptr, 10);
        if (errno == ERANGE)
            *usable = false; // the library clamps where the tool keeps the low 16 bits
        ++r.fields;
    }
    r.config = {static_cast<uint16_t>(values[0]), static_cast<uint16_t>(values[1]), static_cast<uint16_t>(values[2]),
                static_cast<uint16_t>(values[3]), static_cast<int16_t>(static_cast<uint16_t>(values[4]))};
    return r;
}

TEST(SwiParse, AgreesWithTheLibraryTokenSplitterOnRandomTexts) {
    const char alphabet[] = "0123456789::::\n\n\n\r  \t-+x";
    std::mt19937 random(6251);
    int compared = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text(random() % 64, ' ');
        for (char& ch : text)
            ch = alphabet[random() % (sizeof alphabet - 1)];
        bool usable = true;
        SwiParseResult expected = ReferenceParse(text, &usable);
        if (!usable)
            continue;
        ++compared;
        SwiParseResult got = ParseSwi(text.data(), text.size());
        ASSERT_EQ(got.fields, expected.fields) << '"' << text << '"';
        if (got.Complete()) {
            ASSERT_EQ(got.config, expected.config) << '"' << text << '"';
        }
    }
    EXPECT_GT(compared, 15000);
}

// ---- files -----------------------------------------------------------------------------------

class SwiFileTest : public TempFolderTest {};

TEST_F(SwiFileTest, SaveWritesTheExampleAsExactly14Bytes) {
    std::string path = Path("example.swi");
    ASSERT_TRUE(SaveSwiFile(path, {256, 257, 0, 0, 1}));
    EXPECT_EQ(ReadBytes(path), "256:257:0:0\x0a"
                               "1\x0a");
    EXPECT_EQ(FolderEntries(dir_), std::vector<std::string>{"example.swi"}) << "no temporary file is left";
}

TEST_F(SwiFileTest, SaveThenOpenGivesBackEveryValueRange) {
    const struct {
        const char* legend;
        SwitchConfig config;
    } cases[] = {
        {"all zero, Double", {0, 0, 0, 0, 0}},
        {"largest PIDs, Single", {65535, 65535, 65535, 65535, 1}},
        {"13-bit PIDs", {8191, 0, 256, 1, 1}},
        {"mode above 1 is kept for the window to clamp", {1, 2, 3, 4, 32767}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        std::string path = Path("round.swi");
        ASSERT_TRUE(SaveSwiFile(path, c.config));
        SwitchConfig loaded{9, 9, 9, 9, 9};
        ASSERT_EQ(LoadSwiFile(path, &loaded), SwiLoadResult::Ok);
        EXPECT_EQ(loaded, c.config);
    }
}

TEST_F(SwiFileTest, ANegativeModeIsWrittenFaithfullyButOpensAsCorrupted) {
    std::string path = Path("negative.swi");
    ASSERT_TRUE(SaveSwiFile(path, {65535, 65535, 65535, 65535, -32768}));
    std::string bytes = ReadBytes(path);
    EXPECT_EQ(bytes, "65535:65535:65535:65535\n-32768\n");
    EXPECT_EQ(ParseSwi(bytes.data(), bytes.size()).config.Mode, -32768);

    SwitchConfig loaded{1, 2, 3, 4, 0};
    EXPECT_EQ(LoadSwiFile(path, &loaded), SwiLoadResult::Corrupted);
    EXPECT_EQ(loaded, (SwitchConfig{1, 2, 3, 4, 0})) << "a rejected file changes nothing";
}

TEST_F(SwiFileTest, OpenResults) {
    const struct {
        const char* legend;
        std::string bytes;
        SwiLoadResult result;
        SwitchConfig config; // when Ok
    } cases[] = {
        {"1:2:3:4 LF 0 LF", "1:2:3:4\n0\n", SwiLoadResult::Ok, {1, 2, 3, 4, 0}},
        {"written on another system with CR LF", "1:2:3:4\r\n1\r\n", SwiLoadResult::Ok, {1, 2, 3, 4, 1}},
        {"fifth field 7", "1:2:3:4\n7\n", SwiLoadResult::Ok, {1, 2, 3, 4, 7}},
        {"longer than 50 bytes",
         "10:20:30:40\n1\n" + std::string(100, 'z') + "\n9:9:9:9\n0\n",
         SwiLoadResult::Ok,
         {10, 20, 30, 40, 1}},
        {"only 1:2", "1:2", SwiLoadResult::Corrupted, {}},
        {"empty file", "", SwiLoadResult::Corrupted, {}},
        {"mode -1", "1:2:3:4\n-1\n", SwiLoadResult::Corrupted, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        std::string path = Path("open.swi");
        WriteBytes(path, c.bytes);
        const SwitchConfig before{7, 7, 7, 7, 0};
        SwitchConfig loaded = before;
        ASSERT_EQ(LoadSwiFile(path, &loaded), c.result);
        EXPECT_EQ(loaded, c.result == SwiLoadResult::Ok ? c.config : before);
    }
}

TEST_F(SwiFileTest, AReadOnlyFileOpens) {
    std::string path = Path("readonly.swi");
    WriteBytes(path, "11:22:33:44\n1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    if (::geteuid() == 0)
        SetImmutable(path, true); // root ignores permission bits; where refused the bits alone must do
    SwitchConfig loaded;
    EXPECT_EQ(LoadSwiFile(path, &loaded), SwiLoadResult::Ok);
    EXPECT_EQ(loaded, (SwitchConfig{11, 22, 33, 44, 1}));
}

TEST_F(SwiFileTest, WhatIsNoReadableFileCannotBeOpened) {
    ASSERT_EQ(::mkfifo(Path("pipe.swi").c_str(), 0644), 0);
    fs::create_directory(Path("folder.swi"));
    for (const char* name : {"missing.swi", "folder.swi", "pipe.swi"}) {
        SCOPED_TRACE(name);
        SwitchConfig loaded{1, 1, 1, 1, 1};
        // A FIFO without a writer would block a plain open for ever; this must return at once.
        EXPECT_EQ(LoadSwiFile(Path(name), &loaded), SwiLoadResult::CannotOpen);
        EXPECT_EQ(loaded, (SwitchConfig{1, 1, 1, 1, 1}));
    }
}

TEST_F(SwiFileTest, SaveReplacesAnOldFileAndKeepsItsPermissions) {
    std::string path = Path("keep.swi");
    WriteBytes(path, "1:1:1:1\n0\n" + std::string(40, '#'));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(SaveSwiFile(path, {2, 3, 4, 5, 1}));
    EXPECT_EQ(ReadBytes(path), "2:3:4:5\n1\n") << "the old, longer content is gone";
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(FolderEntries(dir_), std::vector<std::string>{"keep.swi"});
}

TEST_F(SwiFileTest, SaveThroughASymbolicLinkReplacesTheFileBehindIt) {
    fs::create_directory(Path("real"));
    WriteBytes(Path("real/target.swi"), "old");
    fs::create_symlink(Path("real/target.swi"), Path("link.swi"));
    ASSERT_TRUE(SaveSwiFile(Path("link.swi"), {1, 2, 3, 4, 0}));
    EXPECT_TRUE(fs::is_symlink(Path("link.swi")));
    EXPECT_EQ(ReadBytes(Path("real/target.swi")), "1:2:3:4\n0\n");
}

TEST_F(SwiFileTest, SaveIntoAMissingFolderFailsWithAReason) {
    std::string reason;
    EXPECT_FALSE(SaveSwiFile(Path("no/such/folder/x.swi"), {1, 2, 3, 4, 0}, &reason));
    EXPECT_NE(reason.find("No such file or directory"), std::string::npos) << reason;
    EXPECT_FALSE(SaveSwiFile("", {1, 2, 3, 4, 0}));
}

TEST_F(SwiFileTest, SaveIntoAReadOnlyFolderFailsAndLeavesTheOldFile) {
    fs::create_directory(Path("locked"));
    std::string path = Path("locked/old.swi");
    WriteBytes(path, "9:8:7:6\n0\n");
    if (!MakeUnwritable(Path("locked")))
        GTEST_SKIP() << "running as root where the immutable attribute is refused: no way to lock a folder";
    std::string reason;
    EXPECT_FALSE(SaveSwiFile(path, {1, 2, 3, 4, 1}, &reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(ReadBytes(path), "9:8:7:6\n0\n");
    EXPECT_EQ(FolderEntries(Path("locked")), std::vector<std::string>{"old.swi"});
}

TEST_F(SwiFileTest, SaveRefusesToReplaceAProtectedFile) {
    std::string path = Path("protected.swi");
    WriteBytes(path, "9:8:7:6\n0\n");
    if (!MakeUnwritable(path))
        GTEST_SKIP() << "running as root where the immutable attribute is refused: no way to protect a file";
    EXPECT_FALSE(SaveSwiFile(path, {1, 2, 3, 4, 1}));
    SetImmutable(path, false);
    EXPECT_EQ(ReadBytes(path), "9:8:7:6\n0\n");
    EXPECT_EQ(FolderEntries(dir_), std::vector<std::string>{"protected.swi"});
}

// A write that fails halfway (here: the file size limit, which binds root too) must neither
// report success nor damage the old file nor leave the half-written one behind.
TEST_F(SwiFileTest, AWriteFailingHalfwayLeavesTheOldFileIntact) {
    std::string path = Path("half.swi");
    WriteBytes(path, "9:8:7:6\n0\n");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN); // get EFBIG from write() instead of being killed
        rlimit limit{5, 5};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        bool saved = SaveSwiFile(path, {65535, 65535, 65535, 65535, 1});
        ::_exit(saved ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "the failed save was reported as success";
    EXPECT_EQ(ReadBytes(path), "9:8:7:6\n0\n");
    EXPECT_EQ(FolderEntries(dir_), std::vector<std::string>{"half.swi"});
}

} // namespace
