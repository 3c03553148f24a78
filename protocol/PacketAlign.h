// Cutting a byte stream into 188-byte box packets aligned on a sync byte.
//
// A packet is stored only when its first byte is a sync byte: 0x47 (the transport-stream sync
// byte) or 0xB8 (the marker of the box's own packets). Alignment looks at the first byte alone.
// When a full window does not start with one, the bytes from its first sync byte on move to
// the front and only the missing bytes are read; a window without any is dropped whole.
#pragma once

#include <cstdint>
#include <cstring>

inline constexpr int kPacketSize = 188;
inline constexpr uint8_t kSyncTs = 0x47;
inline constexpr uint8_t kSyncBox = 0xB8;

inline bool IsSyncByte(uint8_t b) {
    return b == kSyncTs || b == kSyncBox;
}

// Position of the first sync byte in data[0..n), or n when there is none.
inline int FindSync(const uint8_t* data, int n) {
    for (int i = 0; i < n; ++i)
        if (IsSyncByte(data[i]))
            return i;
    return n;
}

// The assembly buffer of one packet.
struct PacketAssembler {
    uint8_t buffer[kPacketSize] = {};
    int filled = 0;
    uint64_t source = 0; // where the bytes in the buffer came from (see Filled)

    int Missing() const { return kPacketSize - filled; }
    uint8_t* FillPointer() { return buffer + filled; }
    void Filled(int n) { filled += n; }
    // n bytes were written at FillPointer(), read from the given source (an open of the port).
    // Bytes of two sources never make one packet: the earlier ones are dropped.
    void Filled(int n, uint64_t from) {
        if (n <= 0)
            return;
        if (filled > 0 && from != source) {
            std::memmove(buffer, buffer + filled, static_cast<size_t>(n));
            filled = 0;
        }
        source = from;
        filled += n;
    }
    void Reset() { filled = 0; }

    // Call when the buffer is full. True: it holds an aligned packet (and is left full; Reset
    // before the next one). False: it was realigned or emptied, and Missing() bytes are needed.
    bool Align() {
        int p = FindSync(buffer, kPacketSize);
        if (p == 0)
            return true;
        if (p < kPacketSize) {
            std::memmove(buffer, buffer + p, static_cast<size_t>(kPacketSize - p));
            filled = kPacketSize - p;
        } else {
            filled = 0;
        }
        return false;
    }

    // Feeds bytes from a stream; calls onPacket(const uint8_t*) for every aligned packet.
    // Gives the number of bytes dropped as unalignable.
    template <class OnPacket> int Feed(const uint8_t* data, int n, OnPacket&& onPacket) {
        int dropped = 0;
        while (n > 0) {
            int take = Missing() < n ? Missing() : n;
            std::memcpy(FillPointer(), data, static_cast<size_t>(take));
            Filled(take);
            data += take;
            n -= take;
            if (filled == kPacketSize) {
                int before = filled;
                if (Align()) {
                    onPacket(static_cast<const uint8_t*>(buffer));
                    Reset();
                } else {
                    dropped += before - filled;
                }
            }
        }
        return dropped;
    }
};
