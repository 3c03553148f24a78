// Alignment of a byte stream into packets, without a port.
#include "protocol/PacketAlign.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

std::vector<uint8_t> Packet(uint8_t sync, uint8_t fill) {
    std::vector<uint8_t> p(kPacketSize, fill);
    p[0] = sync;
    return p;
}

struct AlignCase {
    const char* legend;
    std::vector<std::vector<uint8_t>> chunks;  // how the bytes arrive
    std::vector<std::vector<uint8_t>> packets; // what must come out
    int dropped;
};

std::vector<uint8_t> Join(std::vector<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

TEST(PacketAssembler, CutsStreamsIntoAlignedPackets) {
    const auto a = Packet(kSyncBox, 0x10);
    const auto b = Packet(kSyncTs, 0x20);
    std::vector<uint8_t> noise5(5, 0x00);
    std::vector<uint8_t> noWindow(kPacketSize, 0x33);
    std::vector<uint8_t> oneByOne = Join({a});
    std::vector<std::vector<uint8_t>> bytes;
    for (uint8_t x : oneByOne)
        bytes.push_back({x});

    // A window that starts inside a packet and holds a data byte equal to 0x47.
    std::vector<uint8_t> fake = Packet(kSyncBox, 0x44);
    fake[60] = kSyncTs;
    std::vector<uint8_t> partial(fake.begin() + 10, fake.end()); // 178 bytes, sync-valued byte at 50
    std::vector<uint8_t> expectFake(kPacketSize);
    std::copy(partial.begin() + 50, partial.end(), expectFake.begin());
    std::copy(a.begin(), a.begin() + 60, expectFake.begin() + 128);

    const AlignCase cases[] = {
        {"whole packets of both sync bytes", {Join({a, b})}, {a, b}, 0},
        {"noise before the first packet", {Join({noise5, a, b})}, {a, b}, 5},
        {"a window without a sync byte is dropped whole", {Join({noWindow, b})}, {b}, kPacketSize},
        {"one byte per read", bytes, {a}, 0},
        {"a data byte taken as sync, then realigned",
         {Join({partial, a, b, b})},
         {expectFake, b, b},
         50 + (kPacketSize - 60 + 0)},
    };
    for (const AlignCase& c : cases) {
        SCOPED_TRACE(c.legend);
        PacketAssembler assembler;
        std::vector<std::vector<uint8_t>> out;
        int dropped = 0;
        for (const auto& chunk : c.chunks)
            dropped += assembler.Feed(chunk.data(), static_cast<int>(chunk.size()),
                                      [&](const uint8_t* p) { out.emplace_back(p, p + kPacketSize); });
        EXPECT_EQ(out, c.packets);
        EXPECT_EQ(dropped, c.dropped);
    }
}
