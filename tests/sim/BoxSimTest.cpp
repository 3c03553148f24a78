// What no transfer or command-line test of the tool reaches in the simulated box: the
// kv6251-boxsim executable's command line and lifetime, and the link it puts in place.
#include "ChildProcess.h"
#include "Files.h"
#include "TempRoot.h"
#include "Wait.h"

#include "sim/BoxSim.h"

#include <fcntl.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

TEST(BoxSimCommandLine, IsRefusedNamingTheOptionOrTakenWhole) {
    // clang-format off
    struct Case { const char* legend; std::vector<std::string> args; int status; const char* says; };
    const Case cases[] = {
        {"--help", {"--help"}, 0, "Usage: kv6251-boxsim"},
        {"every option taken; only the log's folder is missing", {"--link", "/none/com1", "--log", "/none/log",
         "--config", "8191:0:65535:1:-1", "--unpaced", "--silent", "--answer-once", "--ts-per-cycle", "3", "--noise",
         "17", "--lead-ts", "2", "--corrupt-reserved", "--ignore-upload", "--babble", "--gap", "40", "--come-back",
         "--hang-up-after", "500", "--stream-ts"}, 1, "/none/log"},
        {"an unknown option", {"--loud"}, 2, "--loud: unknown option"},
        {"a value missing at the end", {"--gap"}, 2, "--gap: needs a value"},
        {"a negative count", {"--noise", "-3"}, 2, "--noise"},
        {"trailing garbage in a number", {"--ts-per-cycle", "4x"}, 2, "--ts-per-cycle"},
        {"a number out of range", {"--gap", "99999999999"}, 2, "--gap"},
        {"--config with four values", {"--config", "1:2:3:4"}, 2, "--config"},
        {"--config with six values", {"--config", "1:2:3:4:0:9"}, 2, "--config"},
        {"--config with a PID above 16 bits", {"--config", "65536:2:3:4:0"}, 2, "--config"},
        {"--config with an empty field", {"--config", "1::3:4:0"}, 2, "--config"},
        {"--come-back alone", {"--come-back"}, 2, "--come-back needs --hang-up-after"},
        {"an argument that is no option", {"now"}, 2, "unexpected argument: now"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        std::vector<std::string> argv{KV_BOXSIM_EXE};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ChildResult r = RunChild(argv, 10000);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
    }
}

TEST(BoxSimCommandLine, ServesUntilASignalThenRemovesItsLink) {
    TempRoot root;
    const std::string link = root.File("com1"), log = root.File("log");
    const int pid = StartChild({KV_BOXSIM_EXE, "--link", link, "--log", log});
    ASSERT_TRUE(WaitUntil([&] { return fs::is_symlink(link); }, 5000));
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_EQ(::write(fd, std::string(kPacketSize, '\xB8').data(), kPacketSize), kPacketSize); // logged as "other"
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(log).find(" other\n") != std::string::npos; }, 5000));
    // A flush between the upload command and a configuration packet disarms the upload: the box
    // answers the read with the configuration it started with.
    std::vector<uint8_t> line(4 * kPacketSize);
    BuildCommandPacket(&line[0], CommandKind::Upload);
    BuildCommandPacket(&line[kPacketSize], CommandKind::Flush);
    BuildConfigPacket(&line[2 * kPacketSize], {1, 2, 3, 4, 1});
    BuildCommandPacket(&line[3 * kPacketSize], CommandKind::Read);
    ASSERT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    uint8_t answer[kPacketSize] = {};
    size_t got = 0;
    WaitUntil([&] { return (got += std::max<ssize_t>(0, ::read(fd, answer + got, kPacketSize - got))) == kPacketSize; },
              5000);
    EXPECT_EQ(UnpackConfigPacket(answer), (SwitchConfig{256, 257, 258, 259, 0}));
    ::close(fd);
    StopChild(pid); // SIGTERM
    EXPECT_FALSE(fs::is_symlink(link));
}

// Replacing the link would leave the user without it at exit; only a pty's link is the box's to take.
TEST(BoxSim, TakesAndRemovesOnlyItsOwnLink) {
    TempRoot root;
    const std::string link = root.File("com1");
    const auto now = [&] {
        return fs::is_symlink(link) ? "-> " + fs::read_symlink(link).string() : ReadFileBytes(link);
    };
    using Step = std::function<void()>;
    // clang-format off
    struct Case { const char* legend; Step before, meanwhile; bool starts; std::string after; /* Stop */ };
    const Case cases[] = {
        {"a pty's link, left by a killed box", [&] { fs::create_symlink("/dev/pts/999", link); }, [] {}, true, ""},
        {"taken over meanwhile: left", [] {}, [&] { fs::remove(link); fs::create_symlink("/dev/null", link); }, true,
         "-> /dev/null"},
        {"an adapter's link: refused", [&] { fs::create_symlink("/dev/ttyS0", link); }, [] {}, false, "-> /dev/ttyS0"},
        {"a plain file: refused", [&] { WriteFileBytes(link, "keep me"); }, [] {}, false, "keep me"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        fs::remove(link);
        c.before();
        BoxSimOptions options;
        options.linkPath = link;
        BoxSim box(options);
        EXPECT_EQ(box.Start(), c.starts);
        EXPECT_EQ(now(), c.starts ? "-> " + box.SlavePath() : c.after);
        c.meanwhile();
        box.Stop();
        EXPECT_EQ(now(), c.after);
    }
}
