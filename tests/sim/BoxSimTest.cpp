// The simulated box, seen from the tool's end of its pty. (Its use against the real link, with
// every fault mode, is in the transfer tests.)
#include "SimLine.h"

#include "sim/BoxSim.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace {

const SwitchConfig kStartConfig{256, 257, 258, 259, 0};

std::vector<BoxSimLogEntry> WaitForLog(const BoxSim& box, size_t count) {
    const int64_t end = NowMs() + 2000;
    while (box.Log().size() < count && NowMs() < end)
        SleepMs(5);
    return box.Log();
}

// 'C' a configuration packet equal to the box's, 'X' a packet starting with 0x47, '?' anything else.
std::string Shape(const std::vector<Packet>& packets, const Packet& config) {
    std::string shape;
    for (const auto& p : packets)
        shape += p == config ? 'C' : p[0] == kSyncTs ? 'X' : '?';
    return shape;
}

TEST(BoxSim, TakesAnUploadOnlyRightAfterTheUploadCommand) {
    // Bytes the tool never sets: the box keeps all 188 as they came.
    Packet odd = Config({1, 2, 3, 4, 1});
    odd[kCorruptReservedOffset] = 0x33;
    odd[187] = 0x47;
    const Packet start = Config(kStartConfig);
    const Packet upload = Command(CommandKind::Upload);
    const Packet flush = Command(CommandKind::Flush);
    const struct {
        const char* legend;
        bool ignoreUpload;
        std::vector<Packet> sequence;
        Packet expected;
    } cases[] = {
        {"upload, then a configuration packet: taken whole", false, {upload, odd}, odd},
        {"without an upload command it is ignored", false, {odd}, start},
        {"a flush command disarms the upload", false, {upload, flush, odd}, start},
        {"only the first configuration packet counts", false, {upload, odd, Config({5, 6, 7, 8, 0})}, odd},
        {"--ignore-upload keeps the configuration", true, {upload, odd}, start},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        BoxSimOptions options;
        options.ignoreUpload = c.ignoreUpload;
        BoxSim box(options);
        ASSERT_TRUE(box.Start());
        SimLine line(box.SlavePath());
        for (const auto& packet : c.sequence)
            line.Send(packet);
        ASSERT_EQ(WaitForLog(box, c.sequence.size()).size(), c.sequence.size());
        EXPECT_EQ(box.Configuration(), c.expected);
    }
}

TEST(BoxSim, AnswersShapedByItsFaultModes) {
    const struct {
        const char* legend;
        std::function<void(BoxSimOptions&)> configure;
        int readCommands; // 0 for a box that talks unasked
        std::string shape;
        bool wholeAnswer; // nothing follows the shape
        bool silentAfterFlush;
    } cases[] = {
        {"five read commands are one request, answered back to back", [](BoxSimOptions&) {}, 5, "CCCCCC", false, true},
        {"--answer-once: one packet per request", [](BoxSimOptions& o) { o.answerOnce = true; }, 5, "C", true, true},
        {"--answer-once --ts-per-cycle 2: one cycle per request",
         [](BoxSimOptions& o) {
             o.answerOnce = true;
             o.tsPerCycle = 2;
         },
         5, "CXX", true, true},
        {"--ts-per-cycle 2", [](BoxSimOptions& o) { o.tsPerCycle = 2; }, 1, "CXXCXXC", false, true},
        {"--lead-ts 2 --ts-per-cycle 1",
         [](BoxSimOptions& o) {
             o.leadTs = 2;
             o.tsPerCycle = 1;
         },
         1, "XXCXCXC", false, true},
        {"--silent", [](BoxSimOptions& o) { o.silent = true; }, 5, "", true, true},
        {"--babble talks unasked and goes on after a flush", [](BoxSimOptions& o) { o.babble = true; }, 0, "XXXXX",
         false, false},
        {"--stream-ts talks unasked until a flush", [](BoxSimOptions& o) { o.streamTs = true; }, 0, "XXXXX", false,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        BoxSimOptions options;
        c.configure(options);
        BoxSim box(options);
        ASSERT_TRUE(box.Start());
        SimLine line(box.SlavePath());
        line.Send(CommandKind::Read, c.readCommands);
        // For a whole answer, wait for one packet more than expected: it must not come.
        const auto packets = line.Receive(c.shape.size() + (c.wholeAnswer ? 1 : 0), c.wholeAnswer ? 500 : 2000);
        EXPECT_EQ(Shape(packets, box.Configuration()), c.shape);
        line.Send(CommandKind::Flush);
        EXPECT_EQ(line.FallsSilent(300), c.silentAfterFlush);
    }
}

TEST(BoxSim, NoiseComesAheadOfEachConfigurationPacket) {
    BoxSimOptions options;
    options.noise = 50;
    BoxSim box(options);
    ASSERT_TRUE(box.Start());
    SimLine line(box.SlavePath());
    line.Send(CommandKind::Read);
    const Packet config = Config(kStartConfig);
    const size_t unit = 50 + kPacketSize;
    const auto bytes = line.ReceiveBytes(2 * unit, 2000);
    ASSERT_EQ(bytes.size(), 2 * unit);
    for (size_t start : {size_t{0}, unit}) {
        EXPECT_EQ(FindSync(bytes.data() + start, 50), 50) << "noise holds a sync byte";
        EXPECT_TRUE(std::equal(config.begin(), config.end(), bytes.begin() + static_cast<long>(start + 50)));
    }
}

TEST(BoxSim, PacesItsOutput) {
    const struct {
        const char* legend;
        int gapMs;
        size_t packets;
        int64_t minimumUs; // from the first packet to the last
    } cases[] = {
        {"line rate: 299 packet times at 150,000 bytes/s, less 5 %", 0, 300, 299LL * 188 * 1000000 / 150000 * 95 / 100},
        {"--gap 60 between answer packets", 60, 5, 4 * 60 * 1000 * 95 / 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        BoxSimOptions options;
        options.gapMs = c.gapMs;
        BoxSim box(options);
        ASSERT_TRUE(box.Start());
        SimLine line(box.SlavePath());
        line.Send(CommandKind::Read);
        std::vector<int64_t> times;
        ASSERT_EQ(line.Receive(c.packets, 5000, &times).size(), c.packets);
        EXPECT_GE(times.back() - times.front(), c.minimumUs);
    }
}

TEST(BoxSim, LogsEveryPacketWithItsKind) {
    TempDir dir;
    BoxSimOptions options;
    options.logPath = dir.Path("box.log");
    BoxSim box(options);
    ASSERT_TRUE(box.Start());
    SimLine line(box.SlavePath());
    Packet strayFlush = Command(CommandKind::Flush);
    strayFlush[kCorruptReservedOffset] = 0x01;
    Packet ts{};
    ts[0] = kSyncTs;
    for (const auto& p : {Command(CommandKind::Flush), Command(CommandKind::Read), Command(CommandKind::Upload),
                          Config({1, 2, 3, 4, 1}), ts, strayFlush})
        line.Send(p);
    const auto log = WaitForLog(box, 6);
    box.Stop();

    std::ifstream file(options.logPath);
    std::vector<std::string> lines;
    for (std::string text; std::getline(file, text);)
        lines.push_back(text);
    const std::vector<std::string> kinds = {"flush", "read", "upload", "configuration", "ts", "other"};
    ASSERT_EQ(log.size(), kinds.size());
    ASSERT_EQ(lines.size(), kinds.size());
    for (size_t i = 0; i < kinds.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_EQ(log[i].kind, kinds[i]);
        EXPECT_EQ(lines[i], std::to_string(log[i].ms) + " " + kinds[i] + (i == 3 ? " 1:2:3:4:1" : ""));
        EXPECT_GE(log[i].ms, i ? log[i - 1].ms : 0);
    }
}

TEST(BoxSim, TakesAndRemovesOnlyItsOwnLink) {
    TempDir dir;
    const struct {
        const char* legend;
        std::string path;
        std::function<void(const std::string&)> before;
        std::function<void(const std::string&)> meanwhile; // while the box runs
        bool starts;
        bool removedAtStop;
    } cases[] = {
        {"nothing there", dir.Path("com1"), nullptr, nullptr, true, true},
        {"a link to a pty left by a box that was killed", dir.Path("com2"),
         [](const std::string& p) { std::filesystem::create_symlink("/dev/pts/999", p); }, nullptr, true, true},
        {"taken over by somebody else while the box runs: left alone", dir.Path("com3"), nullptr,
         [](const std::string& p) {
             std::filesystem::remove(p);
             std::filesystem::create_symlink("/dev/null", p);
         },
         true, false},
        {"the user's link to a real adapter", dir.Path("com4"),
         [](const std::string& p) { std::filesystem::create_symlink("/dev/ttyUSB0", p); }, nullptr, false, false},
        {"a plain file", dir.Path("com5"), [](const std::string& p) { std::ofstream(p) << "keep me"; }, nullptr, false,
         false},
        {"a directory that does not exist", dir.Path("missing-dir/com1"), nullptr, nullptr, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        if (c.before)
            c.before(c.path);
        const auto type = std::filesystem::symlink_status(c.path).type();
        BoxSimOptions options;
        options.linkPath = c.path;
        BoxSim box(options);
        std::string error;
        ASSERT_EQ(box.Start(&error), c.starts) << error;
        if (!c.starts) {
            EXPECT_NE(error.find(c.path), std::string::npos) << error;
            EXPECT_EQ(std::filesystem::symlink_status(c.path).type(), type); // untouched
            continue;
        }
        EXPECT_EQ(std::filesystem::read_symlink(c.path).string(), box.SlavePath());
        if (c.meanwhile)
            c.meanwhile(c.path);
        box.Stop();
        EXPECT_EQ(std::filesystem::is_symlink(c.path), !c.removedAtStop);
    }
}

} // namespace
