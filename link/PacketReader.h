// The receiver's step after each read from the port: the bytes of each open of the port become
// aligned 188-byte packets (protocol/PacketAlign.h), and no packet holds bytes of two opens.
//
// The receiver reads at most Missing() bytes into FillPointer(), then tells the outcome of that
// read: Read(n, generation) for the n bytes (none after a time-out) that came from the open
// counted by generation, or Lost() when the read found the link down or saw it go down. The
// reader learns of a reopen only from the generation of the bytes it is given, since the other
// thread may reopen the port between two reads.
//
// Promises:
// - a half-assembled packet is dropped at Lost() and when bytes of another open arrive;
// - within one open, every aligned packet comes out, at the read that completes it;
// - only the missing bytes are asked for, so the bytes of the next packet stay in the driver.
//
// No port, no threads, no clock: the link's receiver thread and the fuzz target of the reads
// drive this same code.
#pragma once

#include "protocol/PacketAlign.h"

#include <cstdint>

class PacketReader {
public:
    // Where the next read puts its bytes, and how many it may bring at most (1 to 188).
    uint8_t* FillPointer() { return assembly_.FillPointer(); }
    int Missing() const { return assembly_.Missing(); }

    // n bytes (0 <= n <= Missing()) were read into FillPointer() from the open counted by
    // generation. True when they complete an aligned packet: Packet() holds it until the next
    // read writes into FillPointer(), and the reader starts on the next one.
    bool Read(int n, uint64_t generation);
    // The read found the link down, or it went down during the read.
    void Lost() { assembly_.Reset(); }

    const uint8_t* Packet() const { return assembly_.buffer; }
    // The open the bytes in hand (or the packet just completed) came from.
    uint64_t Generation() const { return assembly_.source; }

private:
    PacketAssembler assembly_;
};
