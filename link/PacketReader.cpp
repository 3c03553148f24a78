#include "link/PacketReader.h"

bool PacketReader::Read(int n, uint64_t generation) {
    // Bytes of a later open push out what an earlier one left half done.
    assembly_.Filled(n, generation);
    if (assembly_.filled < kPacketSize || !assembly_.Align())
        return false;
    // Empty again, but the buffer keeps the packet until the next read overwrites it.
    assembly_.Reset();
    return true;
}
