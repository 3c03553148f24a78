// The box transfer: the packets' bytes, the packet files, and the exchange over the real link with
// a pty or the simulated box behind <root>/com1. (The packet sequence of a whole Send is pinned by
// tests/data/send.transcript, which the window's and the command line's tests check.)
#include "PtyPeer.h"
#include "TempRoot.h"
#include "Transcript.h"
#include "Wait.h"

#include "link/Ser921.h"
#include "transfer/Utiltrp.h"

#include <gtest/gtest.h>

using Packet = std::array<uint8_t, kPacketSize>;
using namespace std::string_literals;

// The runs of bytes given, each from its offset; every other byte 0.
Packet With(const std::vector<std::pair<int, std::vector<uint8_t>>>& runs) {
    Packet p{};
    for (const auto& [at, bytes] : runs)
        std::copy(bytes.begin(), bytes.end(), p.begin() + at);
    return p;
}

TEST(Packets, EachKindHasExactlyItsBytesAndOnlyConfigurationPacketsUnpack) {
    const std::vector<uint8_t> head = {0xB8, 0x02, 0, 0, 0, 0, 0, 0xBC, 0x80, 0x01};
    const auto config = [](SwitchConfig c) { return [c](uint8_t* p) { BuildConfigPacket(p, c); }; };
    const auto command = [](CommandKind k) { return [k](uint8_t* p) { BuildCommandPacket(p, k); }; };
    using Unpacks = std::optional<SwitchConfig>;
    // clang-format off
    struct Case { const char* legend; std::function<void(uint8_t*)> build; Packet bytes; Unpacks unpacks; };
    const Case cases[] = {
        {"configuration 8191:0:256:1, mode 1", config({8191, 0, 256, 1, 1}),
         With({{0, head}, {22, {0xFF, 0x1F, 0, 0, 0, 0x01, 0x01, 0, 0x01}}}), Unpacks({8191, 0, 256, 1, 1})},
        {"PID 9999 goes out as 0F 07, comes back as 1807", config({9999, 0, 0, 0, 0}),
         With({{0, head}, {22, {0x0F, 0x07}}}), Unpacks({1807, 0, 0, 0, 0})},
        {"flush command", command(CommandKind::Flush), With({{0, {0xB8, 0x00, 0, 0, 0, 0, 0, 0xFF, 0x1F, 0x00}}}), {}},
        {"read command", command(CommandKind::Read), With({{0, {0xB8, 0x00, 0, 0, 0, 0, 0, 0xFF, 0x1F, 0x20}}}), {}},
        {"upload command", command(CommandKind::Upload), With({{0, {0xB8, 0x03}}}), {}},
        {"34 E1 is 308: 13 bits", nullptr, With({{0, {0xB8, 0x02}}, {28, {0x34, 0xE1}}}), Unpacks({0, 0, 0, 308, 0})},
        {"a 0x47 packet is none", nullptr, With({{0, {0x47, 0x02}}}), {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Packet p;
        p.fill(0xAA); // nothing the buffer held may survive
        if (c.build) {
            c.build(p.data());
            EXPECT_EQ(p, c.bytes);
        }
        const bool config = IsConfigPacket(c.bytes.data()); // and then what it unpacks to
        EXPECT_EQ(config ? std::optional(UnpackConfigPacket(c.bytes.data())) : std::nullopt, c.unpacks);
    }
}

TEST(CompareFiles, GivesEachResult) {
    TempRoot root;
    const std::string p(kPacketSize, 'p');
    // clang-format off
    struct Case { const char* legend; std::optional<std::string> first, second; /* nullopt: no file */ int result; };
    const Case cases[] = {
        {"equal files", p, p, kCompareEqual},
        {"sizes differ", p, p + p, kCompareSizesDiffer},
        {"equal sizes, the last byte differs", p, p.substr(1) + 'q', kCompareContentsDiffer},
        {"32000 equal bytes", std::string(32000, 'x'), std::string(32000, 'x'), kCompareEqual},
        {"32001 bytes are refused unread", std::string(32001, 'x'), std::string(32001, 'y'), kCompareTooLarge},
        {"the first file missing", std::nullopt, p, kCompareFirstUnopened},
        {"the second file missing", p, std::nullopt, kCompareSecondUnopened},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string first = root.File(c.legend + "1"s), second = root.File(c.legend + "2"s);
        ASSERT_TRUE((!c.first || WriteFileBytes(first, *c.first)) && (!c.second || WriteFileBytes(second, *c.second)));
        EXPECT_EQ(CompareFiles(first.c_str(), second.c_str()), c.result);
    }
}

TEST(Send, WithoutALinkIsCodeElevenAndLeavesNoReadBackFile) {
    TempRoot root;
    EXPECT_EQ(SendSwitchConfig({1, 2, 3, 4, 0}), kTransferNotConnected);
    EXPECT_FALSE(std::filesystem::exists(TempRoot::Fixed(kReadBackFileName)));
}

// The link on <root>/com1 with its receiver reading; closed at the end.
class Linked : public ::testing::Test {
protected:
    ~Linked() override { CloseLink(); }
    static bool Open() { return OpenLink(1) == 1 && WaitReceiverReady(5000); }
    void Connect(void (*set)(BoxSimOptions&)) { // to the simulated box
        BoxSimOptions options;
        set(options);
        options.linkPath = TempRoot::Fixed("com1");
        box_ = std::make_unique<BoxSim>(options);
        ASSERT_TRUE(box_->Start() && Open());
    }

    TempRoot root_;
    std::unique_ptr<BoxSim> box_;
};

TEST_F(Linked, FlushLinkTakesOnePacketPerSleepUntilTheRingIsEmpty) {
    PtyPeer peer;
    peer.LinkAs(TempRoot::Fixed("com1"));
    ASSERT_TRUE(Open());
    for (const int waiting : {0, 3}) {
        SCOPED_TRACE(std::to_string(waiting) + " packets waiting: " + std::to_string(waiting + 1) + " sleeps");
        ASSERT_TRUE(peer.Write(std::vector<uint8_t>(static_cast<size_t>(waiting) * kPacketSize, kSyncTs)));
        pollfd unread{peer.HeldSlaveFd(), POLLIN, 0}; // until the receiver has stored them all
        ASSERT_TRUE(WaitUntil([&] { return ::poll(&unread, 1, 0) == 0; }, 5000));
        const int64_t t0 = NowMs();
        FlushLink();
        EXPECT_GE(NowMs() - t0, (waiting + 1) * kFlushSleepMs);
        EXPECT_LT(NowMs() - t0, kFlushLimitMs); // it stopped at the empty ring, not at its limit
        EXPECT_EQ(TakePacket(Packet().data()), 0);
    }
}

// Without the bound on the whole operation a Send here takes over 8 s (three flushes of 2 s and the
// upload pause).
TEST_F(Linked, ABoxThatNeverFallsSilentHoldsFlushSendAndGetOnlyToTheirLimits) {
    ASSERT_NO_FATAL_FAILURE(Connect([](auto& o) { o.babble = true; }));
    SwitchConfig got;
    const int64_t t0 = NowMs();
    FlushLink();
    const int64_t t1 = NowMs();
    EXPECT_EQ(SendSwitchConfig({1, 2, 3, 4, 0}), kTransferTimeOut);
    const int64_t t2 = NowMs();
    EXPECT_EQ(GetSwitchConfig(&got), kTransferTimeOut);
    EXPECT_GE(t1 - t0, kFlushLimitMs);
    EXPECT_LT(t1 - t0, kFlushLimitMs + kLoadedMachineMs);
    EXPECT_LT(t2 - t1, kOperationLimitMs + kLoadedMachineMs);
    EXPECT_LT(NowMs() - t2, kOperationLimitMs + kLoadedMachineMs);
}

// Slow enough for every packet to come within its own wait, and never a configuration: only the
// operation's budget ends the Get (2000 packets at this pace would take 40 s).
TEST_F(Linked, ABoxThatTricklesButNeverAnswersIsGivenUpAtTheBudget) {
    ASSERT_NO_FATAL_FAILURE(Connect([](auto& o) { o.leadTs = 1000000, o.gapMs = 20; }));
    SwitchConfig got;
    const int64_t t0 = NowMs();
    EXPECT_EQ(GetSwitchConfig(&got), kTransferTimeOut);
    EXPECT_LT(NowMs() - t0, kOperationLimitMs + kLoadedMachineMs);
}

TEST_F(Linked, SendPacketFileUploadsWholePacketsOnly) {
    ASSERT_NO_FATAL_FAILURE(Connect([](auto& o) { o.config = {1, 2, 3, 4, 1}; }));
    // Every call ends with a flush command. Once the box has logged as many packets as expected,
    // it has read everything written before that flush; a stray byte would have cut the flush
    // into "other" or left it incomplete.
    const auto logOnceItHas = [this](size_t packets) {
        EXPECT_TRUE(WaitUntil([&] { return box_->Log().size() >= packets; }, 5000));
        return LogWithoutTimes(*box_);
    };
    EXPECT_EQ(SendPacketFile(root_.File("missing").c_str()), kSendFileUnopened);
    EXPECT_EQ(logOnceItHas(1), std::vector<std::string>{"flush"});
    // A packet and 12 bytes which, had they gone out, would misalign the closing flush command.
    Packet config;
    BuildConfigPacket(config.data(), {256, 257, 258, 259, 0});
    ASSERT_TRUE(
        WriteFileBytes(root_.File("up"), std::string(config.begin(), config.end()) + "\xB8" + std::string(11, 0)));
    EXPECT_EQ(SendPacketFile(root_.File("up").c_str()), kSendFileDone);
    // The upload's part of a Send: its transcript up to the flush after the configuration packet.
    std::vector<std::string> expected = SendTranscript();
    expected.erase(std::find(expected.begin(), expected.end(), "configuration 256:257:258:259:0") + 2, expected.end());
    expected.insert(expected.begin(), "flush");
    EXPECT_EQ(logOnceItHas(expected.size()), expected);
    EXPECT_EQ(box_->Configuration(), config);
}

// clang-format off
// shape: the file's packets, C the box's configuration packet, X a 0x47 packet; file: in the root directory
struct ReadCase { const char* name; const char* legend; void (*box)(BoxSimOptions&); int result; std::string shape;
                  const char* file = kReadBackFileName; };
const ReadCase kReadCases[] = {
    {"BackToBack", "configuration packets back to back: the first is the cycle", [](auto&) {}, kReadDone, "C"},
    {"CycleOfThree", "C1 X Y C2: the file holds C1 X Y", [](auto& o) { o.tsPerCycle = 2; }, kReadDone, "CXX"},
    {"LeadTs", "0x47 packets before the first configuration: dropped", [](auto& o) { o.leadTs = 2; }, kReadDone, "C"},
    {"OneThenSilence", "one packet, then silence: time-out, the packet kept", [](auto& o) { o.answerOnce = true; },
     kReadTimeOut, "C"},
    {"Silent", "a silent box: time-out and an empty file", [](auto& o) { o.silent = true; }, kReadTimeOut, ""},
    {"PacketLimit", "0x47 packets without end after the configuration: time-out after 2000 packets",
     [](auto& o) { o.tsPerCycle = 5000; }, kReadTimeOut, "C" + std::string(kReadBackPacketLimit - 1, 'X')},
    {"NoFolder", "the file cannot be created", [](auto&) {}, kReadCannotCreate, "", "missing/readback"},
};
// clang-format on

class ReadBack : public Linked, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadBack, RecordsOneCycleOrEndsWithItsResult) {
    const ReadCase& c = GetParam();
    SCOPED_TRACE(c.legend);
    ASSERT_NO_FATAL_FAILURE(Connect(c.box));
    const std::string path = TempRoot::Fixed(c.file);
    EXPECT_EQ(ReadConfigurationToFile(path.c_str()), c.result);
    EXPECT_EQ(std::filesystem::exists(path), c.result != kReadCannotCreate);
    const Packet packet = box_->Configuration();
    const std::string bytes = ReadFileBytes(path), config(packet.begin(), packet.end());
    std::string shape;
    for (size_t at = 0; at < bytes.size(); at += kPacketSize)
        shape += bytes.compare(at, kPacketSize, config) == 0 ? 'C' : bytes[at] == '\x47' ? 'X' : '?';
    EXPECT_EQ(shape, c.shape);
}

INSTANTIATE_TEST_SUITE_P(Box, ReadBack, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.name); });
