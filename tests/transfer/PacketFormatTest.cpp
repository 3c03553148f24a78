// The wire format of the packets the PC sends, and how configuration packets are read.
#include "transfer/Utiltrp.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <utility>
#include <vector>

namespace {

using Packet = std::array<uint8_t, kPacketSize>;
using Bytes = std::vector<std::pair<int, uint8_t>>; // offset, value; every other byte is 0

Packet Expected(const Bytes& bytes) {
    Packet packet{};
    for (auto [offset, value] : bytes)
        packet[offset] = value;
    return packet;
}

struct BuildCase {
    const char* legend;
    std::function<void(uint8_t*)> build;
    Bytes expected;
};

TEST(PacketFormat, EveryKindHasExactlyItsBytes) {
    const BuildCase cases[] = {
        {"configuration 8191/0/256/1, mode 1",
         [](uint8_t* p) {
             BuildConfigPacket(p, {8191, 0, 256, 1, 1});
         },
         {{0, 0xB8},
          {1, 0x02},
          {7, 0xBC},
          {8, 0x80},
          {9, 0x01},
          {22, 0xFF},
          {23, 0x1F},
          {24, 0x00},
          {25, 0x00},
          {26, 0x00},
          {27, 0x01},
          {28, 0x01},
          {29, 0x00},
          {30, 0x01}}},
        {"configuration with all values 0 keeps only marker, type and control bytes",
         [](uint8_t* p) {
             BuildConfigPacket(p, {0, 0, 0, 0, 0});
         },
         {{0, 0xB8}, {1, 0x02}, {7, 0xBC}, {8, 0x80}, {9, 0x01}}},
        {"PID 9999 loses bits 13..15 and goes out as 0F 07 (1807)",
         [](uint8_t* p) {
             BuildConfigPacket(p, {9999, 0, 0, 0, 0});
         },
         {{0, 0xB8}, {1, 0x02}, {7, 0xBC}, {8, 0x80}, {9, 0x01}, {22, 0x0F}, {23, 0x07}}},
        {"PID 65535 in the last entry goes out as FF 1F",
         [](uint8_t* p) {
             BuildConfigPacket(p, {0, 0, 0, 65535, 0});
         },
         {{0, 0xB8}, {1, 0x02}, {7, 0xBC}, {8, 0x80}, {9, 0x01}, {28, 0xFF}, {29, 0x1F}}},
        {"mode -1 keeps its low 8 bits",
         [](uint8_t* p) {
             BuildConfigPacket(p, {0, 0, 0, 0, -1});
         },
         {{0, 0xB8}, {1, 0x02}, {7, 0xBC}, {8, 0x80}, {9, 0x01}, {30, 0xFF}}},
        {"flush command",
         [](uint8_t* p) { BuildCommandPacket(p, CommandKind::Flush); },
         {{0, 0xB8}, {1, 0x00}, {7, 0xFF}, {8, 0x1F}, {9, 0x00}}},
        {"read command",
         [](uint8_t* p) { BuildCommandPacket(p, CommandKind::Read); },
         {{0, 0xB8}, {1, 0x00}, {7, 0xFF}, {8, 0x1F}, {9, 0x20}}},
        {"upload command", [](uint8_t* p) { BuildCommandPacket(p, CommandKind::Upload); }, {{0, 0xB8}, {1, 0x03}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Packet packet;
        packet.fill(0xAA); // whatever the buffer held before must not survive
        c.build(packet.data());
        const Packet expected = Expected(c.expected);
        for (int i = 0; i < kPacketSize; ++i)
            EXPECT_EQ(packet[i], expected[i]) << "byte " << i;
    }
}

struct UnpackCase {
    const char* legend;
    Bytes bytes; // on top of a configuration packet's marker and type
    SwitchConfig expected;
};

TEST(PacketFormat, UnpacksThirteenBitPidsAndTheModeByte) {
    const UnpackCase cases[] = {
        {"8191/0/256/1, mode 1",
         {{22, 0xFF}, {23, 0x1F}, {26, 0x00}, {27, 0x01}, {28, 0x01}, {30, 0x01}},
         {8191, 0, 256, 1, 1}},
        {"0x34 0xE1: only the low five bits of the high byte count (308)", {{22, 0x34}, {23, 0xE1}}, {308, 0, 0, 0, 0}},
        {"0xFF 0xFF in every entry gives 8191",
         {{22, 0xFF}, {23, 0xFF}, {24, 0xFF}, {25, 0xFF}, {26, 0xFF}, {27, 0xFF}, {28, 0xFF}, {29, 0xFF}},
         {8191, 8191, 8191, 8191, 0}},
        {"9999 as sent comes back as 1807", {{22, 0x0F}, {23, 0x07}}, {1807, 0, 0, 0, 0}},
        {"mode byte 5 gives Mode 5", {{30, 0x05}}, {0, 0, 0, 0, 5}},
        {"mode byte 0xFF gives 255, not -1", {{30, 0xFF}}, {0, 0, 0, 0, 255}},
        {"reserved and control bytes do not matter",
         {{7, 0x00}, {12, 0x47}, {31, 0xB8}, {187, 0xFF}, {24, 0x02}},
         {0, 2, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Bytes bytes = c.bytes;
        bytes.push_back({0, 0xB8});
        bytes.push_back({1, 0x02});
        const Packet packet = Expected(bytes);
        EXPECT_EQ(UnpackConfigPacket(packet.data()), c.expected);
    }
}

TEST(PacketFormat, OnlyMarkerAndTypeTwoMakeAConfigurationPacket) {
    const struct {
        const char* legend;
        uint8_t byte0;
        uint8_t byte1;
        bool expected;
    } cases[] = {
        {"box marker, type 2", 0xB8, 0x02, true},
        {"transport-stream sync byte, type 2", 0x47, 0x02, false},
        {"box marker, type 0 (flush or read command)", 0xB8, 0x00, false},
        {"box marker, type 3 (upload command)", 0xB8, 0x03, false},
        {"no sync byte at all, type 2", 0x00, 0x02, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Packet packet{};
        packet[0] = c.byte0;
        packet[1] = c.byte1;
        EXPECT_EQ(IsConfigPacket(packet.data()), c.expected);
    }
    Packet built;
    BuildConfigPacket(built.data(), {1, 2, 3, 4, 0});
    EXPECT_TRUE(IsConfigPacket(built.data()));
}

} // namespace
