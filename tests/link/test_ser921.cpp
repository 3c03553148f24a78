// The serial link against a real pseudo-terminal. Every test runs in its own process
// (gtest_discover_tests), so each starts with the link Idle and the ring empty.
#include "LinkTestEnv.h"
#include "PtyPeer.h"

#include "link/PacketTrace.h"
#include "link/Ser921.h"
#include "platform/SerialDevice.h"

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>

namespace {

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<std::vector<uint8_t>> TakeAll() {
    std::vector<std::vector<uint8_t>> out;
    uint8_t buf[kPacketSize];
    while (TakePacket(buf))
        out.emplace_back(buf, buf + kPacketSize);
    return out;
}

// The receiver reads nothing during its first second; wait until it has stored `count` packets.
bool WaitForPackets(int count, int timeoutMs = 5000) {
    const int64_t end = NowMs() + timeoutMs;
    while (NowMs() < end && WaitingPackets() < count)
        SleepMs(5);
    return WaitingPackets() >= count;
}

} // namespace

// ---- opening and its failures ----------------------------------------------------------

TEST(LinkTexts, ExactOperatorTexts) {
    EXPECT_STREQ(kMsgNoAccess, " %s no accessible!");
    EXPECT_STREQ(kMsgConfigError, "Configuration error. %s");
    EXPECT_EQ(PortName(3), "COM3");
    EXPECT_EQ(PortName(0), "COM0");
    EXPECT_EQ(PortName(-32768), "COM-32768");
}

using LinkOpen = LinkTest;

TEST_F(LinkOpen, PortsWithoutAUsableDeviceAreNotAccessible) {
    // A plain file mapped as a port is not a terminal.
    std::string plain = root_ + "/not-a-tty";
    FILE* f = std::fopen(plain.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ASSERT_EQ(::symlink(plain.c_str(), ComPath(5).c_str()), 0);
    // A mapping that points nowhere.
    ASSERT_EQ(::symlink((root_ + "/gone").c_str(), ComPath(6).c_str()), 0);

    struct Case {
        const char* legend;
        int port;
        const char* text;
    } cases[] = {
        {"port 0 has no device", 0, " COM0 no accessible!"},
        {"a negative number has no device", -32768, " COM-32768 no accessible!"},
        {"a mapped plain file is not a terminal", 5, " COM5 no accessible!"},
        {"a dangling mapping", 6, " COM6 no accessible!"},
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const uint64_t threads = ReceiverThreadsStarted();
        EXPECT_EQ(OpenLink(c.port), 0);
        EXPECT_EQ(IsConnected(), 0);
        EXPECT_EQ(LinkStopFlag(), 1);
        EXPECT_EQ(SavedPortNumber(), c.port);
        EXPECT_EQ(ReceiverThreadsStarted(), threads);
        ASSERT_TRUE(recorder_.WaitFor(++seen, 1000));
        OperatorMessage m = recorder_.Messages().back();
        EXPECT_EQ(m.text, c.text);
        EXPECT_EQ(m.flags, kIconError);
        EXPECT_FALSE(m.reason.empty());
    }
}

TEST_F(LinkOpen, ADeviceHeldByAnotherOpenIsNotAccessibleAndKeepsWorkingForItsHolder) {
    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    SerialDevice holder;
    DeviceError error;
    ASSERT_TRUE(holder.Open(peer.SlavePath(), &error)) << error.Describe();

    EXPECT_EQ(OpenLink(1), 0);
    ASSERT_TRUE(recorder_.WaitFor(1, 1000));
    OperatorMessage m = recorder_.Messages()[0];
    EXPECT_EQ(m.text, " COM1 no accessible!");
    EXPECT_EQ(m.device, ComPath(1));
    // TIOCEXCL refuses the open itself, flock refuses root: either way the device is in use.
    EXPECT_NE(m.reason.find("in use"), std::string::npos) << m.reason;

    // The failed attempt must not have taken the holder's exclusivity away.
    const uint8_t byte = 0x5A;
    EXPECT_EQ(holder.Write(&byte, 1, 100), 1);
    EXPECT_EQ(peer.ReadFor(500), std::vector<uint8_t>{0x5A});
}

TEST_F(LinkOpen, RefusedSettingsReportAConfigurationErrorAndReleaseTheDevice) {
    PtyPeer peer;
    peer.LinkAs(ComPath(2));
    SerialDevice::RefuseSettingsForTesting(true);
    EXPECT_EQ(OpenLink(2), 0);
    SerialDevice::RefuseSettingsForTesting(false);
    ASSERT_TRUE(recorder_.WaitFor(1, 1000));
    EXPECT_EQ(recorder_.Messages()[0].text, "Configuration error. COM2");
    EXPECT_EQ(IsConnected(), 0);
    EXPECT_EQ(LinkStopFlag(), 1);

    // Released at once: anyone can take the device exclusively now.
    int fd = ::open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
    // And the link itself opens it again once the settings take.
    EXPECT_EQ(OpenLink(2), 1);
}

TEST_F(LinkOpen, SuccessfulOpenAndCloseMoveTheFlagsAndTheReceiver) {
    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    EXPECT_EQ(OpenLink(1), 1);
    EXPECT_EQ(IsConnected(), 1);
    EXPECT_EQ(LinkStopFlag(), 0);
    EXPECT_TRUE(ReceiverRunning());
    EXPECT_EQ(ReceiverThreadsStarted(), 1u);
    EXPECT_TRUE(recorder_.Messages().empty());

    // The line is set up as the box needs it.
    termios tio{};
    ASSERT_EQ(::tcgetattr(peer.HeldSlaveFd(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B1500000));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);

    // Closing while connected keeps the pause and ends the receiver.
    int64_t t0 = NowMs();
    CloseLink();
    int64_t took = NowMs() - t0;
    EXPECT_GE(took, 300);
    EXPECT_LT(took, 3000);
    EXPECT_EQ(IsConnected(), 0);
    EXPECT_EQ(LinkStopFlag(), 1);
    EXPECT_FALSE(ReceiverRunning());

    // Closing again returns at once.
    t0 = NowMs();
    CloseLink();
    EXPECT_LT(NowMs() - t0, 200);
    EXPECT_EQ(LinkStopFlag(), 1);
}

TEST_F(LinkOpen, QuickReopensNeverLeaveTwoReceivers) {
    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(OpenLink(1), 1);
        CloseLink();
        EXPECT_FALSE(ReceiverRunning());
    }
    ASSERT_EQ(OpenLink(1), 1);
    EXPECT_EQ(ReceiverThreadsStarted(), 4u);
    // Packets arrive once and in order: a second receiver would split or duplicate them.
    for (uint32_t n = 0; n < 20; ++n)
        ASSERT_TRUE(peer.Write(NumberedPacket(n)));
    ASSERT_TRUE(WaitForPackets(20));
    SleepMs(100);
    auto got = TakeAll();
    ASSERT_EQ(got.size(), 20u);
    for (uint32_t n = 0; n < 20; ++n)
        EXPECT_EQ(got[n], NumberedPacket(n)) << "packet " << n;
}

// ---- reads and writes ---------------------------------------------------------------------

using LinkIo = LinkTest;

TEST_F(LinkIo, ReadBytesWaitsCountPlus50MsAndReturnsWhatArrived) {
    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    ASSERT_EQ(OpenLink(1), 1);
    // The receiver sleeps through its first second, so this thread can read undisturbed.
    uint8_t buf[kPacketSize];
    int64_t t0 = NowMs();
    EXPECT_EQ(ReadBytes(buf, kPacketSize), 0);
    int64_t silent = NowMs() - t0;
    EXPECT_GE(silent, 235);
    EXPECT_LT(silent, 900);

    std::vector<uint8_t> hundred(100, 0x11);
    ASSERT_TRUE(peer.Write(hundred));
    SleepMs(20);
    t0 = NowMs();
    EXPECT_EQ(ReadBytes(buf, 150), 100);
    EXPECT_GE(NowMs() - t0, 150);

    std::vector<uint8_t> full(kPacketSize, 0x22);
    ASSERT_TRUE(peer.Write(full));
    SleepMs(20);
    t0 = NowMs();
    EXPECT_EQ(ReadBytes(buf, kPacketSize), kPacketSize);
    EXPECT_LT(NowMs() - t0, 150);
}

TEST_F(LinkIo, AWriteDoesNotWaitOutAPendingRead) {
    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    ASSERT_EQ(OpenLink(1), 1);
    SleepMs(1200); // the receiver now waits on the silent line
    auto packet = NumberedPacket(1);
    int64_t worst = 0;
    for (int i = 0; i < 10; ++i) {
        int64_t t0 = NowUs();
        SendPacket(packet.data());
        worst = std::max(worst, NowUs() - t0);
        SleepMs(37);
    }
    // A write that waited for the read lock would take up to 238 ms.
    EXPECT_LT(worst, 150000);
    EXPECT_EQ(peer.ReadFor(500).size(), 10u * kPacketSize);
}

TEST_F(LinkIo, SendPacketAfterCloseWritesNothingAndDoesNotReopen) {
    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    ASSERT_EQ(OpenLink(1), 1);
    CloseLink();
    auto packet = NumberedPacket(2);
    SendPacket(packet.data());
    EXPECT_EQ(WriteBytes(packet.data(), kPacketSize), 0);
    EXPECT_TRUE(peer.ReadFor(300).empty());
    EXPECT_EQ(IsConnected(), 0);
    EXPECT_EQ(LinkStopFlag(), 1);
    EXPECT_TRUE(recorder_.Messages().empty());
}

TEST_F(LinkIo, SendPacketWhenNeverConnectedTriesTheSavedPortZero) {
    auto packet = NumberedPacket(3);
    SendPacket(packet.data());
    ASSERT_TRUE(recorder_.WaitFor(1, 1000));
    EXPECT_EQ(recorder_.Messages()[0].text, " COM0 no accessible!");
    EXPECT_EQ(LinkStopFlag(), 1);
}

TEST_F(LinkIo, SendPacketWhileLostReopensAndThenWrites) {
    auto first = std::make_unique<PtyPeer>();
    first->LinkAs(ComPath(1));
    ASSERT_EQ(OpenLink(1), 1);
    // Within the receiver's first second nobody reads, so the loss is found by the write.
    first->HangUp();
    auto packet = NumberedPacket(4);
    SendPacket(packet.data());
    EXPECT_EQ(IsConnected(), 0);
    EXPECT_EQ(LinkStopFlag(), 0); // Lost, not Stopped

    PtyPeer second;
    second.LinkAs(ComPath(1));
    SendPacket(packet.data()); // reopens; this packet is not written
    EXPECT_EQ(IsConnected(), 1);
    EXPECT_TRUE(second.ReadFor(200).empty());
    SendPacket(packet.data());
    EXPECT_EQ(second.ReadFor(500), packet);
    EXPECT_TRUE(recorder_.Messages().empty());
    EXPECT_EQ(ReceiverThreadsStarted(), 1u); // the reopen did not start a second receiver
}

// ---- hang-ups ---------------------------------------------------------------------------

TEST_F(LinkIo, AHangUpWithANewPtyBehindTheMappingReopensByItself) {
    auto first = std::make_unique<PtyPeer>();
    first->LinkAs(ComPath(1));
    ASSERT_EQ(OpenLink(1), 1);
    ASSERT_TRUE(first->Write(NumberedPacket(10)));
    ASSERT_TRUE(WaitForPackets(1));

    PtyPeer second;
    second.LinkAs(ComPath(1)); // re-pointed before the old one goes away
    // Half a packet, then the line drops: those bytes must not join the next packet.
    auto half = NumberedPacket(11);
    ASSERT_TRUE(first->Write(half.data(), 90));
    SleepMs(100);
    first->HangUp();
    ASSERT_TRUE(WaitUntil([] { return IsConnected() == 1; }, 2000));
    SleepMs(50);
    ASSERT_TRUE(second.Write(NumberedPacket(12)));
    ASSERT_TRUE(second.Write(NumberedPacket(13)));
    ASSERT_TRUE(WaitForPackets(3));
    SleepMs(50);
    auto got = TakeAll();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], NumberedPacket(10));
    EXPECT_EQ(got[1], NumberedPacket(12));
    EXPECT_EQ(got[2], NumberedPacket(13));
    EXPECT_EQ(ReceiverThreadsStarted(), 1u);
    EXPECT_TRUE(recorder_.Messages().empty());
}

TEST_F(LinkIo, AHangUpWithNoDeviceLeftStopsTheLinkAndTellsTheOperator) {
    auto peer = std::make_unique<PtyPeer>();
    peer->LinkAs(ComPath(1));
    ASSERT_EQ(OpenLink(1), 1);
    SleepMs(1100);
    peer->HangUp();
    ASSERT_TRUE(recorder_.WaitFor(1, 3000));
    EXPECT_EQ(recorder_.Messages()[0].text, " COM1 no accessible!");
    EXPECT_NE(recorder_.ThreadOf(0), ::gettid()); // shown from the receiver thread
    EXPECT_TRUE(WaitUntil([] { return !ReceiverRunning(); }, 2000));
    EXPECT_EQ(IsConnected(), 0);
    EXPECT_EQ(LinkStopFlag(), 1);
    // The operator can connect again once a device is back.
    PtyPeer again;
    again.LinkAs(ComPath(1));
    EXPECT_EQ(OpenLink(1), 1);
    EXPECT_TRUE(ReceiverRunning());
}

// ---- the receiver and the ring ----------------------------------------------------------

using LinkReceiver = LinkTest;

TEST_F(LinkReceiver, AlignsTheStreamAsTheAssemblerDoes) {
    const auto a = NumberedPacket(20, kSyncBox);
    const auto b = NumberedPacket(21, kSyncTs);
    const auto c = NumberedPacket(22, kSyncBox);
    std::vector<uint8_t> noise(37, 0x01);
    std::vector<uint8_t> noSyncWindow(kPacketSize, 0x02);
    // A partial packet with a data byte equal to 0x47: the window aligns on it.
    std::vector<uint8_t> tail(a.begin() + 100, a.end());
    tail[30] = kSyncTs;

    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    ASSERT_EQ(OpenLink(1), 1);
    std::vector<uint8_t> stream = Concat({noise, a, b, noSyncWindow, c, tail, a, b, c});
    ASSERT_TRUE(peer.Write(stream));

    // Expected: a, b; the no-sync window is dropped; c; then the window starting at the data
    // byte (tail[30..] + the first 130 bytes of the next a); the next window is realigned on b.
    std::vector<uint8_t> taken(tail.begin() + 30, tail.end());
    taken.insert(taken.end(), a.begin(), a.begin() + (kPacketSize - static_cast<long>(taken.size())));
    ASSERT_TRUE(WaitForPackets(6));
    SleepMs(300);
    auto got = TakeAll();
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0], a);
    EXPECT_EQ(got[1], b);
    EXPECT_EQ(got[2], c);
    EXPECT_EQ(got[3], taken);
    EXPECT_EQ(got[4], b);
    EXPECT_EQ(got[5], c);
}

TEST_F(LinkReceiver, APacketArrivingOneByteAtATimeIsAssembledWhole) {
    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    ASSERT_EQ(OpenLink(1), 1);
    SleepMs(1050);
    const auto p = NumberedPacket(30, kSyncTs);
    for (uint8_t byte : p) {
        ASSERT_TRUE(peer.Write(&byte, 1));
        SleepMs(1);
    }
    ASSERT_TRUE(WaitForPackets(1));
    auto got = TakeAll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], p);
}

TEST_F(LinkReceiver, TakePacketOnAnEmptyRingLeavesTheBufferAlone) {
    uint8_t buf[kPacketSize];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(TakePacket(buf), 0);
    for (uint8_t b : buf)
        ASSERT_EQ(b, 0xEE);
}

TEST_F(LinkReceiver, TheRingWrapsAndAStalledConsumerLosesNoWaitingPacket) {
    // With the packet trace on: it must keep up with the receiver, line for line.
    const std::string tracePath = RootPath("trace.log");
    ASSERT_TRUE(StartPacketTrace(tracePath, nullptr));
    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    ASSERT_EQ(OpenLink(1), 1);
    // First lap: 2100 packets taken as they come, so both indices pass slot 1999.
    constexpr uint32_t kFirst = 2100;
    std::thread writer([&] {
        for (uint32_t n = 0; n < kFirst; ++n)
            peer.Write(NumberedPacket(n));
    });
    uint32_t expected = 0;
    uint8_t buf[kPacketSize];
    const int64_t end = NowMs() + 30000;
    while (expected < kFirst && NowMs() < end) {
        if (!TakePacket(buf)) {
            SleepMs(2);
            continue;
        }
        ASSERT_EQ(std::vector<uint8_t>(buf, buf + kPacketSize), NumberedPacket(expected)) << "packet " << expected;
        ++expected;
    }
    writer.join();
    ASSERT_EQ(expected, kFirst);

    // Then a consumer that stalls while 3000 more arrive: the ring keeps the first 1999 and
    // refuses and counts the rest.
    constexpr uint32_t kStalled = 3000;
    for (uint32_t n = 0; n < kStalled; ++n)
        ASSERT_TRUE(peer.Write(NumberedPacket(kFirst + n)));
    ASSERT_TRUE(WaitUntil([] { return DroppedPackets() >= kStalled - (kRingSlots - 1); }, 30000));
    SleepMs(100);
    EXPECT_EQ(WaitingPackets(), kRingSlots - 1);
    EXPECT_EQ(DroppedPackets(), kStalled - (kRingSlots - 1));
    auto got = TakeAll();
    ASSERT_EQ(got.size(), static_cast<size_t>(kRingSlots - 1));
    for (uint32_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], NumberedPacket(kFirst + i)) << "waiting packet " << i;

    StopPacketTrace();
    std::ifstream trace(tracePath);
    long received = 0, refused = 0;
    for (std::string line; std::getline(trace, line);) {
        received += line.find(" received ") != std::string::npos;
        refused += line.find(" refused ") != std::string::npos;
    }
    EXPECT_EQ(received, kFirst + kRingSlots - 1);
    EXPECT_EQ(refused, kStalled - (kRingSlots - 1));
}

TEST_F(LinkReceiver, CloseMidPacketDropsTheHalfAndPacketsSurviveCloseAndOpen) {
    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    ASSERT_EQ(OpenLink(1), 1);
    for (uint32_t n = 40; n < 43; ++n)
        ASSERT_TRUE(peer.Write(NumberedPacket(n)));
    auto half = NumberedPacket(43);
    ASSERT_TRUE(peer.Write(half.data(), 100));
    ASSERT_TRUE(WaitForPackets(3));
    SleepMs(100);
    CloseLink();
    EXPECT_EQ(WaitingPackets(), 3);

    ASSERT_EQ(OpenLink(1), 1);
    ASSERT_TRUE(peer.Write(NumberedPacket(44)));
    ASSERT_TRUE(WaitForPackets(4));
    auto got = TakeAll();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], NumberedPacket(40));
    EXPECT_EQ(got[1], NumberedPacket(41));
    EXPECT_EQ(got[2], NumberedPacket(42));
    EXPECT_EQ(got[3], NumberedPacket(44));
}

TEST_F(LinkReceiver, ClosedDuringItsFirstPauseTheReceiverEndsWithoutReading) {
    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    ASSERT_EQ(OpenLink(1), 1);
    ASSERT_TRUE(peer.Write(NumberedPacket(50)));
    SleepMs(100);
    int64_t t0 = NowMs();
    CloseLink();
    EXPECT_LT(NowMs() - t0, 1000); // does not sit out the rest of the pause
    EXPECT_FALSE(ReceiverRunning());
    EXPECT_EQ(WaitingPackets(), 0);
}

// ---- resources --------------------------------------------------------------------------

namespace {
int CountEntries(const char* dir) {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++n;
    return n;
}
} // namespace

TEST_F(LinkOpen, AThousandConnectDisconnectCyclesLeaveNoDescriptorOrThreadBehind) {
    PtyPeer peer;
    peer.LinkAs(ComPath(1));
    SetCloseLinkPauseForTesting(0); // the pause itself is covered above; this is about leaks
    ASSERT_EQ(OpenLink(1), 1);
    CloseLink();
    const int fds = CountEntries("/proc/self/fd");
    const int threads = CountEntries("/proc/self/task");
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(OpenLink(1), 1) << "cycle " << i;
        if (i % 100 == 0) {
            // Now and then let the receiver really read, so its whole path is exercised.
            SleepMs(1010);
            ASSERT_TRUE(peer.Write(NumberedPacket(static_cast<uint32_t>(i))));
            ASSERT_TRUE(WaitForPackets(1));
            uint8_t buf[kPacketSize];
            ASSERT_EQ(TakePacket(buf), 1);
        }
        CloseLink();
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
    EXPECT_FALSE(ReceiverRunning());
    EXPECT_TRUE(recorder_.Messages().empty());
}
