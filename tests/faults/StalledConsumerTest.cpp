// A consumer that takes nothing while the box streams thousands of packets through the real
// link: the ring fills, refuses the rest and counts it; the packets it holds are whole, in order,
// and the link goes on working once the consumer drains it.
#include "tests/app/AppTestEnv.h"
#include "transfer/BoxPacket.h"

#include "platform/Timing.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kStreamedPackets = 3000; // more than the ring holds
constexpr int kStreamLimitMs = 60000;       // the box sends 800 packets/s; generous for sanitizers
constexpr int kSettleLimitMs = 10000;

// The simulated box streams transport-stream null packets: sync byte, PID 0x1FFF, payload only
// with a continuity counter, stuffing bytes.
constexpr int kTsOffsetFlags = 3;
constexpr uint8_t kTsNullPidHigh = 0x1F;
constexpr uint8_t kTsNullPidLow = 0xFF;
constexpr uint8_t kTsPayloadOnly = 0x10;
constexpr uint8_t kTsContinuityMask = 0x0F;
constexpr uint8_t kTsStuffing = 0xFF;

template <class Condition> bool WaitFor(Condition condition, int limitMs) {
    const int64_t end = NowMs() + limitMs;
    while (!condition()) {
        if (NowMs() >= end)
            return false;
        SleepMs(10);
    }
    return true;
}

void SendCommand(CommandKind kind) {
    uint8_t packet[kPacketSize];
    BuildCommandPacket(packet, kind);
    SendPacket(packet);
}

// What the n-th packet of the stream (from 0) holds, byte for byte.
std::array<uint8_t, kPacketSize> StreamPacket(uint64_t n) {
    std::array<uint8_t, kPacketSize> packet;
    packet.fill(kTsStuffing);
    packet[0] = kSyncTs;
    packet[1] = kTsNullPidHigh;
    packet[2] = kTsNullPidLow;
    packet[kTsOffsetFlags] = static_cast<uint8_t>(kTsPayloadOnly | (n & kTsContinuityMask));
    return packet;
}

TEST(StalledConsumer, ThreeThousandStreamedPacketsFillTheRingAndTheRestIsCountedNotTorn) {
    TempRoot root;
    BoxSimOptions options;
    options.streamTs = true;
    options.linkPath = RootPath("com1");
    BoxSim box(options);
    std::string error;
    ASSERT_TRUE(box.Start(&error)) << error;
    ASSERT_EQ(OpenLink(1), 1);

    // Nobody takes a packet while the box streams.
    ASSERT_TRUE(WaitFor([&] { return box.PacketsSent() >= kStreamedPackets; }, kStreamLimitMs))
        << "the box sent only " << box.PacketsSent();
    SendCommand(CommandKind::Flush); // the stream stops at a command
    // Every packet the box sent is either waiting or counted as refused.
    ASSERT_TRUE(WaitFor([&] { return static_cast<uint64_t>(WaitingPackets()) + DroppedPackets() == box.PacketsSent(); },
                        kSettleLimitMs))
        << "sent " << box.PacketsSent() << ", waiting " << WaitingPackets() << ", dropped " << DroppedPackets();
    const uint64_t sent = box.PacketsSent();
    EXPECT_GE(sent, kStreamedPackets);
    EXPECT_EQ(WaitingPackets(), kRingSlots - 1);
    EXPECT_EQ(DroppedPackets(), sent - (kRingSlots - 1));

    // The ring holds the first packets of the stream, whole and in order: the newest were
    // refused, none waiting was overwritten.
    uint8_t packet[kPacketSize];
    int mismatches = 0;
    for (int n = 0; n < kRingSlots - 1; ++n) {
        ASSERT_EQ(TakePacket(packet), 1) << "packet " << n;
        const std::array<uint8_t, kPacketSize> expected = StreamPacket(static_cast<uint64_t>(n));
        if (std::memcmp(packet, expected.data(), kPacketSize) != 0 && ++mismatches <= 3)
            ADD_FAILURE() << "packet " << n << " is not the stream's packet " << n << " (first bytes " << int{packet[0]}
                          << " " << int{packet[1]} << " " << int{packet[2]} << " " << int{packet[kTsOffsetFlags]}
                          << ")";
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(TakePacket(packet), 0);

    // Drained, the ring takes packets again: the box answers a read command with its configuration.
    SendCommand(CommandKind::Read);
    bool answered = false;
    ASSERT_TRUE(WaitFor(
        [&] {
            while (!answered && TakePacket(packet))
                answered = IsConfigPacket(packet);
            return answered;
        },
        kSettleLimitMs));
    const std::array<uint8_t, kPacketSize> held = box.Configuration();
    EXPECT_EQ(std::memcmp(packet, held.data(), kPacketSize), 0);
    EXPECT_EQ(DroppedPackets(), sent - (kRingSlots - 1)) << "nothing refused once there was room";

    CloseLink();
    box.Stop();
}

} // namespace
