// The serial link against real pseudo-terminals, and the alignment its receiver uses. Every test
// runs in its own process (gtest_discover_tests): the link, its receiver and its ring are process-wide.
#include "Files.h"
#include "MessageRecorder.h"
#include "PtyPeer.h"
#include "TempRoot.h"
#include "Wait.h"

#include "link/PacketTrace.h"
#include "link/Ser921.h"
#include "platform/SerialDevice.h"

#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;
using Packet = std::vector<uint8_t>;
using Packets = std::vector<Packet>;
using Step = std::function<void()>;

// Every byte derives from n (the first three hold it) and none but the first is a sync byte: a
// torn, doubled or swapped packet shows.
Packet Numbered(uint32_t n, uint8_t sync = kSyncBox) {
    Packet p(kPacketSize, sync);
    for (int i = 1; i < kPacketSize; ++i)
        p[i] = static_cast<uint8_t>((i < 4 ? n >> (6 * (i - 1)) : n * 7 + i * 13) & 0x3F);
    return p;
}

Packets Range(uint32_t from, uint32_t count) {
    Packets packets;
    for (uint32_t n = from; n < from + count; ++n)
        packets.push_back(Numbered(n));
    return packets;
}

Packet Join(const Packets& parts) {
    Packet all;
    for (const Packet& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// What the receiver stored, taken until count packets came (or 20 s passed).
Packets TakeUntil(size_t count) {
    Packets got;
    for (const int64_t end = NowMs() + 20000;; SleepMs(2)) {
        for (Packet p(kPacketSize); TakePacket(p.data());)
            got.push_back(p);
        if (got.size() >= count || NowMs() > end)
            return got;
    }
}

// A driver that refuses the line settings: the one thing a pty cannot act.
struct RefusingDevice : SerialDevice {
    ConfigureResult Configure(DeviceError*) override { return ConfigureResult::Refused; }
};

// A pty behind <root>/com1; the link is closed again at the end.
class Link : public ::testing::Test {
protected:
    Link() { peer_.LinkAs(Com(1)); }
    ~Link() override { CloseLink(); }
    static std::string Com(int n) { return TempRoot::Fixed("com" + std::to_string(n)); }
    static int Threads() { return std::distance(fs::directory_iterator("/proc/self/task"), {}); }

    TempRoot root_;
    MessageRecorder messages_;
    PtyPeer peer_;
};

// Every way an open fails, in one sequence: the refused configuration leaves the device to a holder.
TEST_F(Link, AFailedOpenNamesThePortInTheOperatorsTextAndStartsNoReceiver) {
    ASSERT_TRUE(WriteFileBytes(root_.File("plain"), "x"));
    fs::create_symlink(root_.File("plain"), Com(5));
    fs::create_symlink(root_.File("gone"), Com(6));
    SerialDevice holder;
    DeviceError error;
    const uint8_t byte = 0x5A;
    // clang-format off
    struct Case { const char* legend; Step before; int port; const char *text, *reason; Step after; };
    const Case cases[] = {
        {"port 0 has no device", [] {}, 0, " COM0 no accessible!", "", [] {}},
        {"a plain file mapped as a port is no terminal", [] {}, 5, " COM5 no accessible!", "", [] {}},
        {"a mapping that points nowhere", [] {}, 6, " COM6 no accessible!", "", [] {}},
        // Released at once: another open takes it (flock binds root too).
        {"settings the driver refuses", [] { UseSerialDevice(std::make_unique<RefusingDevice>()); }, 1,
         "Configuration error. COM1", "", [&] { EXPECT_TRUE(holder.Open(peer_.SlavePath(), &error)); }},
        {"a device held by another open: it keeps working for its holder",
         [] { UseSerialDevice(std::make_unique<SerialDevice>()); }, 1, " COM1 no accessible!", "in use",
         [&] { EXPECT_TRUE(holder.Write(&byte, 1, 100) == 1 && peer_.ReadFor(500) == Packet{byte}); }},
    };
    // clang-format on
    const int threads = Threads();
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].legend);
        cases[i].before();
        EXPECT_EQ(OpenLink(cases[i].port), 0);
        EXPECT_EQ(Threads(), threads);
        ASSERT_TRUE(messages_.WaitFor(i + 1, 5000));
        const OperatorMessage m = messages_.All()[i].message;
        EXPECT_EQ(m.text, cases[i].text);
        EXPECT_EQ(m.flags, kIconError);
        EXPECT_TRUE(!m.reason.empty() && m.reason.find(cases[i].reason) != std::string::npos) << m.reason;
        cases[i].after();
    }
}

// The one receiver left reads the line as the assembler cuts it, and never holds a write back.
TEST_F(Link, QuickReopensLeaveOneReceiverThatAlignsTheLineAndLetsWritesThrough) {
    ASSERT_EQ(OpenLink(1), 1);
    CloseLink(); // (a sanitizer may start a thread of its own along with the first one)
    const int threads = Threads();
    for (int i = 0; i < 3; ++i) {
        CloseLink();
        ASSERT_EQ(OpenLink(1) + OpenLink(1), 2); // the second while open
    }
    EXPECT_EQ(Threads(), threads + 1);
    termios line{}; // 1,500,000 baud: a pty takes any speed, and the device reads back its own constant
    EXPECT_TRUE(::tcgetattr(peer_.HeldSlaveFd(), &line) == 0 && ::cfgetospeed(&line) == B1500000);
    ASSERT_TRUE(WaitReceiverReady(5000));
    int64_t writingUs = 0;
    for (int i = 0; i < 10; ++i) {
        SleepMs(37); // the receiver waits on the silent line meanwhile
        const int64_t t0 = NowUs();
        SendPacket(Numbered(1).data());
        writingUs += NowUs() - t0;
    }
    // Waiting for the receiver's reads (up to 238 ms each) would add up to about a second.
    EXPECT_LT(writingUs, 400000);
    EXPECT_EQ(peer_.ReadFor(500).size(), 10u * kPacketSize);
    Packets sent = Range(0, 20); // noise first, and a packet with the other sync byte
    sent[7][0] = kSyncTs;
    ASSERT_TRUE(peer_.Write(Join({Packet(37, 0x01), Join(sent)})));
    EXPECT_EQ(TakeUntil(20), sent); // a second receiver would tear packets apart
}

TEST_F(Link, TheRingWrapsAndAStalledConsumerLosesNoWaitingPacket) {
    const std::string trace = root_.File("trace.log");
    ASSERT_TRUE(StartPacketTrace(trace, nullptr));
    ASSERT_EQ(OpenLink(1), 1);
    // 2100 packets taken as they come: both ring indices pass slot 1999.
    constexpr uint32_t kFirst = 2100, kStalled = 3000, kKept = kRingSlots - 1;
    std::thread writer([&] { peer_.Write(Join(Range(0, kFirst))); });
    EXPECT_EQ(TakeUntil(kFirst), Range(0, kFirst));
    writer.join();
    // Then nobody takes while 3000 arrive: the first 1999 wait untouched, the rest are counted.
    ASSERT_TRUE(peer_.Write(Join(Range(kFirst, kStalled))));
    ASSERT_TRUE(WaitUntil([] { return DroppedPackets() == kStalled - kKept; }, 60000)) << DroppedPackets();
    EXPECT_EQ(TakeUntil(0), Range(kFirst, kKept));
    StopPacketTrace(); // it kept up with the receiver: a line per packet
    uint32_t received = 0, refused = 0;
    for (const std::string& line : ReadFileLines(trace)) {
        received += line.find(" received ") != std::string::npos;
        refused += line.find(" refused ") != std::string::npos;
    }
    EXPECT_EQ(received, kFirst + kKept);
    EXPECT_EQ(refused, kStalled - kKept);
}

// Half a packet, then the line is cut: those bytes join nothing, and the packet before them waits.
TEST_F(Link, EveryWayTheLineIsCutDropsTheHalfPacketAndKeepsTheWaitingOnes) {
    PtyPeer second;
    // clang-format off
    struct Case { const char* legend; Step cut; const PtyPeer* next; /* the line afterwards */ };
    const Case cases[] = {
        {"closed and opened again", [] { CloseLink(); OpenLink(1); }, &peer_},
        {"hung up, a new pty behind the mapping: reopened", [&] { second.LinkAs(Com(1)); peer_.HangUp(); }, &second},
        {"hung up, no device left (not a pty number another test may get next): the link stops",
         [&] { fs::remove(Com(1)); fs::create_symlink(root_.File("gone"), Com(1)); second.HangUp(); }, nullptr},
    };
    // clang-format on
    ASSERT_EQ(OpenLink(1), 1);
    const PtyPeer* line = &peer_;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Packet bytes = Join({Numbered(40), Numbered(41)});
        bytes.resize(kPacketSize + 100);
        ASSERT_TRUE(line->Write(bytes));
        // Until the tool has read them all. (Polling the slave first moves the bytes on their way into its
        // input queue: a plain FIONREAD may miss them.)
        pollfd unread{line->HeldSlaveFd(), POLLIN, 0};
        ASSERT_TRUE(WaitUntil([&] { return ::poll(&unread, 1, 0) == 0; }, 5000));
        c.cut();
        Packets expected{Numbered(40)};
        if ((line = c.next) != nullptr) {
            ASSERT_TRUE(line->Write(expected.emplace_back(Numbered(42))));
        }
        EXPECT_EQ(TakeUntil(expected.size()), expected);
    }
    // Only the last was told to the operator, and from the receiver thread.
    ASSERT_TRUE(messages_.WaitFor(1, 5000));
    const auto seen = messages_.All();
    EXPECT_TRUE(seen.size() == 1 && seen[0].message.text == " COM1 no accessible!" && seen[0].thread != ::gettid())
        << seen.size() << seen[0].message.text;
    EXPECT_TRUE(WaitUntil([] { return !ReceiverRunning(); }, 5000));
    EXPECT_EQ(LinkStopFlag(), 1);
    // A stopped link (as after Disconnect) writes nothing, and does not open a device that is back.
    PtyPeer back;
    back.LinkAs(Com(1));
    SendPacket(Numbered(43).data());
    EXPECT_TRUE(back.ReadFor(200).empty());
    EXPECT_EQ(IsConnected(), 0);
}
