// The box transfer over the real link, with the simulated box at the other end of a pty.
#include "BoxFixture.h"

#include "transfer/Utiltrp.h"

#include <gtest/gtest.h>

namespace {

using Kinds = std::vector<std::string>;

std::vector<uint8_t> ConfigBytes(const SwitchConfig& config) {
    std::vector<uint8_t> bytes(kPacketSize);
    BuildConfigPacket(bytes.data(), config);
    return bytes;
}

Kinds Repeat(int times, const char* kind) {
    return Kinds(static_cast<size_t>(times), kind);
}

Kinds Concat(std::initializer_list<Kinds> parts) {
    Kinds all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// ---- FlushLink --------------------------------------------------------------------------------

TEST(FlushLink, TakesOnePacketPerSleepUntilTheRingIsEmpty) {
    TempRoot root;
    BoxSimOptions options;
    options.answerOnce = true;
    options.tsPerCycle = 2; // one read request: a configuration packet and two 0x47 packets
    LinkedBox link(options);
    ASSERT_TRUE(link.Connect());
    EXPECT_EQ(FlushLinkCounting(), 1); // nothing waits: one sleep
    EXPECT_EQ(LinkedBox::Kinds(link.WaitForLog(1)), Kinds{"flush"});

    uint8_t read[kPacketSize];
    BuildCommandPacket(read, CommandKind::Read);
    SendPacket(read);
    const int64_t end = NowMs() + 2000;
    while (WaitingPackets() < 3 && NowMs() < end)
        SleepMs(5);
    SleepMs(50); // nothing more is coming
    ASSERT_EQ(WaitingPackets(), 3);
    EXPECT_EQ(FlushLinkCounting(), 4);
    EXPECT_EQ(WaitingPackets(), 0);
}

TEST(FlushLink, GivesUpAfterTwoSecondsOnABoxThatNeverFallsSilent) {
    TempRoot root;
    BoxSimOptions options;
    options.babble = true;
    LinkedBox link(options);
    ASSERT_TRUE(link.Connect());
    const int64_t start = NowMs();
    const int sleeps = FlushLinkCounting();
    const int64_t elapsed = NowMs() - start;
    EXPECT_GE(elapsed, kFlushLimitMs);
    EXPECT_LT(elapsed, kFlushLimitMs + 1500); // bounded, with room for a loaded machine
    EXPECT_LE(sleeps, kFlushLimitMs / kFlushSleepMs + 1);
    EXPECT_GT(WaitingPackets(), 0); // it really was still talking
}

// ---- SendPacketFile ---------------------------------------------------------------------------

TEST(SendPacketFile, UploadsWholePacketsOnly) {
    TempRoot root;
    LinkedBox link(BoxSimOptions{});
    ASSERT_TRUE(link.Connect());
    // A missing file: nothing goes out but the closing flush, and a Send stops there with code 1.
    const std::string missing = root.Path("no-such-file");
    EXPECT_EQ(SendPacketFile(missing.c_str()), kSendFileUnopened);
    EXPECT_EQ(UploadAndVerify(missing.c_str()), kTransferSendFile);
    EXPECT_EQ(SizeOf(root.Path(kReadBackFileName)), -1);
    SleepMs(100);
    EXPECT_EQ(LinkedBox::Kinds(link.Box().Log()), (Kinds{"flush", "flush"}));

    // 200 bytes: one packet, then 12 bytes that would pass for the start of a packet. Had they
    // been sent, the closing flush command would reach the box misaligned and be logged as "other".
    const SwitchConfig uploaded{100, 200, 300, 400, 1};
    std::vector<uint8_t> file = ConfigBytes(uploaded);
    file.push_back(0xB8);
    file.resize(200, 0x00);
    const std::string path = root.Path("upload.bin");
    WriteAll(path, file);
    EXPECT_EQ(SendPacketFile(path.c_str()), kSendFileDone);
    const Kinds expected = Concat({{"flush", "flush"},
                                   Repeat(5, "flush"),
                                   {"flush"},
                                   Repeat(3, "upload"),
                                   {"configuration"},
                                   {"flush"}});
    link.WaitForLog(expected.size());
    SleepMs(100);
    const auto log = link.Box().Log();
    EXPECT_EQ(LinkedBox::Kinds(log), expected);
    ASSERT_EQ(log.size(), expected.size());
    EXPECT_EQ(log[11].config, uploaded);
    const auto config = link.Box().Configuration();
    EXPECT_TRUE(std::equal(config.begin(), config.end(), file.begin()));
}

// ---- ReadConfigurationToFile ------------------------------------------------------------------

struct ReadCase {
    const char* legend;
    void (*configure)(BoxSimOptions&);
    int expected;
    int packetsInFile;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.legend;
}

class ReadBack : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadBack, RecordsOneCycleOrTimesOut) {
    const ReadCase& c = GetParam();
    SCOPED_TRACE(c.legend);
    TempRoot root;
    BoxSimOptions options;
    c.configure(options);
    LinkedBox link(options);
    ASSERT_TRUE(link.Connect());
    const std::string path = root.Path(kReadBackFileName);

    EXPECT_EQ(ReadConfigurationToFile(path.c_str()), c.expected);
    const std::vector<uint8_t> file = ReadAll(path);
    ASSERT_EQ(SizeOf(path), static_cast<long>(c.packetsInFile) * kPacketSize);
    if (c.packetsInFile > 0) {
        // The file starts with the box's configuration packet, unchanged.
        const auto config = link.Box().Configuration();
        EXPECT_TRUE(std::equal(config.begin(), config.end(), file.begin()));
        for (int k = 1; k < c.packetsInFile; ++k) {
            SCOPED_TRACE("packet " + std::to_string(k));
            ASSERT_EQ(file[static_cast<size_t>(k) * kPacketSize], kSyncTs);
        }
    }
    if (!options.babble) {
        EXPECT_EQ(WaitingPackets(), 0); // the closing flush silenced the box and emptied the ring
    }
}

INSTANTIATE_TEST_SUITE_P(
    Box, ReadBack,
    ::testing::Values(ReadCase{"two configuration packets in a row: the file holds the first", [](BoxSimOptions&) {},
                               kReadDone, 1},
                      ReadCase{"two 0x47 packets, then C1 X Y C2: the file holds C1 X Y",
                               [](BoxSimOptions& o) {
                                   o.leadTs = 2;
                                   o.tsPerCycle = 2;
                               },
                               kReadDone, 3},
                      ReadCase{"one configuration packet, then silence: time-out with that packet kept",
                               [](BoxSimOptions& o) { o.answerOnce = true; }, kReadTimeOut, 1},
                      ReadCase{"a silent box: time-out, the file exists and is empty",
                               [](BoxSimOptions& o) { o.silent = true; }, kReadTimeOut, 0},
                      ReadCase{"noise ahead of every answer is dropped by the alignment",
                               [](BoxSimOptions& o) { o.noise = 100; }, kReadDone, 1},
                      ReadCase{"gaps of 20 ms between answer packets are waited out",
                               [](BoxSimOptions& o) { o.gapMs = 20; }, kReadDone, 1},
                      ReadCase{"gaps longer than a packet wait end the reception",
                               [](BoxSimOptions& o) { o.gapMs = 400; }, kReadTimeOut, 1},
                      ReadCase{"0x47 packets without end and never a configuration: bounded, file empty",
                               [](BoxSimOptions& o) { o.babble = true; }, kReadTimeOut, 0},
                      ReadCase{"a configuration, then 0x47 packets without end: bounded at 2000 packets",
                               [](BoxSimOptions& o) { o.tsPerCycle = 5000; }, kReadTimeOut, kReadBackPacketLimit}));

TEST(ReadBackFile, ThatCannotBeCreatedOrWrittenWholeIsReadResultOne) {
    TempRoot root;
    LinkedBox link(BoxSimOptions{});
    ASSERT_TRUE(link.Connect());
    const std::string uncreatable = root.Path("missing-dir/readback");
    EXPECT_EQ(ReadConfigurationToFile(uncreatable.c_str()), kReadCannotCreate);
    SleepMs(100);
    // No read command goes out when there is nowhere to record the answer.
    EXPECT_EQ(LinkedBox::Kinds(link.Box().Log()), (Kinds{"flush", "flush"}));
    // The whole cycle arrives, but the disk takes none of it.
    EXPECT_EQ(ReadConfigurationToFile("/dev/full"), kReadCannotCreate);
}

// ---- UploadAndVerify --------------------------------------------------------------------------

TEST(Send, AnEchoingBoxSeesTheExactSequenceAndTakesTheConfiguration) {
    TempRoot root;
    LinkedBox link(BoxSimOptions{});
    ASSERT_TRUE(link.Connect());
    const std::string sendPath = root.Path(kSendFileName);
    const SwitchConfig sent{9999, 17, 4000, 8191, 1};
    ASSERT_TRUE(WriteSendFile(sendPath.c_str(), sent));

    TransferDetail detail;
    EXPECT_EQ(UploadAndVerify(sendPath.c_str(), &detail), kTransferOk);

    // Files: the send file holds the packet, with 9999 sent as 1807; the read-back is gone.
    const std::vector<uint8_t> sendFile = ReadAll(sendPath);
    ASSERT_EQ(sendFile.size(), 188u);
    EXPECT_EQ(sendFile[22], 0x0F);
    EXPECT_EQ(sendFile[23], 0x07);
    EXPECT_EQ(SizeOf(root.Path(kReadBackFileName)), -1);
    EXPECT_EQ(detail.sentSize, 188);
    EXPECT_EQ(detail.readSize, 188);
    EXPECT_EQ(detail.firstDiff, -1);

    // The box took all 188 bytes.
    const auto config = link.Box().Configuration();
    EXPECT_TRUE(std::equal(config.begin(), config.end(), sendFile.begin()));
    EXPECT_EQ(UnpackConfigPacket(config.data()), (SwitchConfig{1807, 17, 4000, 8191, 1}));

    // What the box saw: the upload, then the read-back.
    const Kinds expected = Concat({Repeat(5, "flush"),
                                   {"flush"},
                                   Repeat(3, "upload"),
                                   {"configuration"},
                                   {"flush"},
                                   {"flush"},
                                   Repeat(5, "read"),
                                   {"flush"}});
    const auto log = link.WaitForLog(expected.size());
    SleepMs(100);
    EXPECT_EQ(LinkedBox::Kinds(link.Box().Log()), expected);
    ASSERT_EQ(log.size(), expected.size());
    const size_t lastUpload = 8;
    const size_t configuration = 9;
    // At least the 1000 ms pause; the log's milliseconds are truncated and taken as the box reads.
    EXPECT_GE(log[configuration].ms - log[lastUpload].ms, kUploadPauseMs - 10);
    EXPECT_EQ(log[configuration].config, (SwitchConfig{1807, 17, 4000, 8191, 1}));
}

struct SendCase {
    const char* legend;
    void (*configure)(BoxSimOptions&);
    int expectedCode;
    long readBackSize; // -1: the read-back file was deleted
    long detailReadSize;
    long detailFirstDiff;
};

void PrintTo(const SendCase& c, std::ostream* os) {
    *os << c.legend;
}

class SendAgainstFault : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendAgainstFault, EndsWithItsCodeAndFileTraces) {
    const SendCase& c = GetParam();
    SCOPED_TRACE(c.legend);
    TempRoot root;
    MessageCapture messages;
    BoxSimOptions options;
    c.configure(options);
    LinkedBox link(options);
    ASSERT_TRUE(link.Connect());
    const std::string sendPath = root.Path(kSendFileName);
    // Not the box's configuration at start, so an ignored upload shows.
    ASSERT_TRUE(WriteSendFile(sendPath.c_str(), {1000, 1001, 1002, 1003, 0}));

    TransferDetail detail;
    EXPECT_EQ(UploadAndVerify(sendPath.c_str(), &detail), c.expectedCode);
    EXPECT_EQ(SizeOf(sendPath), 188);
    EXPECT_EQ(SizeOf(root.Path(kReadBackFileName)), c.readBackSize);
    EXPECT_EQ(detail.readSize, c.detailReadSize);
    EXPECT_EQ(detail.firstDiff, c.detailFirstDiff);
    if (c.expectedCode == kTransferContentsDiffer) {
        EXPECT_GE(detail.diffCount, 1);
    }
    if (c.expectedCode == kTransferNotConnected) {
        // The link tried to reopen the vanished port and said so.
        const auto texts = messages.Texts();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.front(), " COM1 no accessible!");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Box, SendAgainstFault,
    ::testing::Values(SendCase{"a silent box: time-out, read-back kept and empty",
                               [](BoxSimOptions& o) { o.silent = true; }, kTransferTimeOut, 0, -1, -1},
                      SendCase{"one configuration packet per request: time-out, read-back kept with it",
                               [](BoxSimOptions& o) { o.answerOnce = true; }, kTransferTimeOut, 188, -1, -1},
                      SendCase{"a 0x47 packet inside each cycle: sizes differ",
                               [](BoxSimOptions& o) { o.tsPerCycle = 1; }, kTransferSizesDiffer, -1, 376, -1},
                      SendCase{"a changed reserved byte: contents differ there",
                               [](BoxSimOptions& o) { o.corruptReserved = true; }, kTransferContentsDiffer, -1, 188,
                               kCorruptReservedOffset},
                      SendCase{"a box that ignores the upload: contents differ at the first PID",
                               [](BoxSimOptions& o) { o.ignoreUpload = true; }, kTransferContentsDiffer, -1, 188, 22},
                      SendCase{"noise ahead of every answer: still verified", [](BoxSimOptions& o) { o.noise = 60; },
                               kTransferOk, -1, 188, -1},
                      SendCase{"gaps longer than a packet wait: time-out", [](BoxSimOptions& o) { o.gapMs = 400; },
                               kTransferTimeOut, 188, -1, -1},
                      SendCase{"a 0x47 stream until the first command: still verified",
                               [](BoxSimOptions& o) { o.streamTs = true; }, kTransferOk, -1, 188, -1},
                      SendCase{"a box stuck streaming 0x47 packets: bounded flushes and read-back, time-out",
                               [](BoxSimOptions& o) { o.babble = true; }, kTransferTimeOut, 0, -1, -1},
                      SendCase{"the box hangs up at the read command: link lost, read-back kept",
                               [](BoxSimOptions& o) { o.hangUpAfterMs = 0; }, kTransferNotConnected, 0, -1, -1},
                      SendCase{"the box hangs up at the read command and comes back at once: the link reopens itself",
                               [](BoxSimOptions& o) {
                                   o.hangUpAfterMs = 0;
                                   o.comeBack = true;
                               },
                               kTransferOk, -1, 188, -1}));

TEST(Send, WithoutALinkIsCodeElevenAndLeavesNoReadBack) {
    TempRoot root;
    CloseLink();
    DrainRing();
    const std::string sendPath = root.Path(kSendFileName);
    ASSERT_TRUE(WriteSendFile(sendPath.c_str(), {1, 2, 3, 4, 0}));
    EXPECT_EQ(UploadAndVerify(sendPath.c_str()), kTransferNotConnected);
    EXPECT_EQ(SizeOf(root.Path(kReadBackFileName)), -1);
}

} // namespace

TEST(Send, AndGetAgainstABabblingBoxEndWithinTheOperationLimit) {
    TempRoot root;
    BoxSimOptions options;
    options.babble = true;
    LinkedBox link(options);
    ASSERT_TRUE(link.Connect());
    const std::string sendPath = root.Path(kSendFileName);
    ASSERT_TRUE(WriteSendFile(sendPath.c_str(), SwitchConfig{1, 2, 3, 4, 0}));

    // Each flush alone may take 2 s and the reception 2000 packets; the sum is what the
    // operator waits for, and it must stay within the limit (plus the last short steps).
    int64_t t0 = NowMs();
    EXPECT_EQ(UploadAndVerify(sendPath.c_str()), kTransferTimeOut);
    EXPECT_LT(NowMs() - t0, 5000);

    const std::string readBack = root.Path(kReadBackFileName);
    t0 = NowMs();
    EXPECT_EQ(ReadConfigurationToFile(readBack.c_str()), kReadTimeOut);
    EXPECT_LT(NowMs() - t0, 5000);
}
