// Fuzz target for the packet alignment of the receiver.
//
// The input is fed to a PacketAssembler in chunks whose sizes come from the input itself, as
// reads from the port would deliver it. Every packet handed out must start with a sync byte,
// and no byte may be lost or invented: bytes in = bytes in packets + bytes dropped + pending.
#include "protocol/PacketAlign.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte picks the chunk size pattern; the rest is the stream.
    const unsigned pattern = data[0];
    data += 1;
    size -= 1;

    PacketAssembler assembler;
    size_t packets = 0;
    size_t dropped = 0;
    size_t offset = 0;
    unsigned step = 0;
    while (offset < size) {
        size_t chunk = 1 + (pattern * 31u + step * 7u) % (2 * kPacketSize + 5);
        ++step;
        if (chunk > size - offset)
            chunk = size - offset;
        // An exactly sized copy: a read past the chunk is caught by AddressSanitizer.
        std::unique_ptr<uint8_t[]> piece(new uint8_t[chunk]);
        std::memcpy(piece.get(), data + offset, chunk);
        int n = assembler.Feed(piece.get(), static_cast<int>(chunk), [&](const uint8_t* packet) {
            if (!IsSyncByte(packet[0]))
                std::abort();
            ++packets;
        });
        if (n < 0 || assembler.filled < 0 || assembler.filled >= kPacketSize)
            std::abort();
        dropped += static_cast<size_t>(n);
        offset += chunk;
        if (offset != packets * kPacketSize + dropped + static_cast<size_t>(assembler.filled))
            std::abort();
    }
    return 0;
}
