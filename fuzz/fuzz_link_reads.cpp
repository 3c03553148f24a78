// Fuzz target for the receiver's reads: link/PacketReader, the step the receiver thread takes
// after each read from the port, driven as that thread drives it, with the reads cut at arbitrary
// points and the port lost or reopened between them.
//
// Input: one byte L, then L op bytes, then the bytes on the line. The ops run in turn, pass after
// pass, while line bytes are left; the pass that uses them up is finished, and a pass that reads
// none ends the run.
//   0x00-0xBF  a read that brings up to this many line bytes, never more than the reader asks
//              for (0: the read timed out)
//   0xC0-0xDF  the other thread reopened the port: the next bytes come from the open 1 to 32
//              generations later (opens whose bytes the receiver never saw count too)
//   0xE0-0xFF  the read found the link lost
// The first open is generation 1. Bytes a read does not take stay on the line for the next read,
// whatever open it reads from.
//
// A model built from the rules alone, not from the assembler, says what every read must yield:
// the bytes read from one open since the last loss are cut into 188-byte windows; a window that
// starts with a sync byte is a packet, one with a sync byte further in moves up to it, one without
// any is dropped. The run aborts unless every packet is the model's next one, from the same open
// and at the same read, and unless the reader asks for exactly the bytes the model still misses.
#include "fuzz/FuzzTranscript.h"
#include "link/PacketReader.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kOpReopen = 0xC0; // ops from here to kOpLost - 1 reopen the port
constexpr uint8_t kOpLost = 0xE0;   // ops from here to 0xFF lose the link

using Bytes = std::array<uint8_t, kPacketSize>;

struct Packet {
    uint64_t generation;
    Bytes bytes;
};

[[noreturn]] void Fail(const char* what, size_t read) {
    std::fprintf(stderr, "fuzz_link_reads: read %zu: %s\n", read, what);
    std::abort();
}

// What the bytes of each open must yield, written from the rules alone.
class Model {
public:
    int Missing() const { return kPacketSize - static_cast<int>(line_.size() - start_); }
    void Lost() { StartOver(); }
    // The packet this read completes, if any. The receiver learns of a reopen only from the
    // generation of the bytes it reads.
    std::optional<Bytes> Read(const uint8_t* bytes, int n, uint64_t generation) {
        if (n == 0)
            return std::nullopt;
        if (generation != generation_)
            StartOver();
        generation_ = generation;
        line_.insert(line_.end(), bytes, bytes + n);
        if (line_.size() - start_ < kPacketSize)
            return std::nullopt;
        const uint8_t* window = line_.data() + start_;
        size_t sync = 0;
        while (sync < kPacketSize && window[sync] != kSyncTs && window[sync] != kSyncBox)
            ++sync;
        if (sync == 0) {
            Bytes packet;
            std::memcpy(packet.data(), window, kPacketSize);
            start_ += kPacketSize;
            return packet;
        }
        start_ += sync; // to the sync byte, or past a window without one
        return std::nullopt;
    }

private:
    void StartOver() {
        line_.clear();
        start_ = 0;
    }

    std::vector<uint8_t> line_; // the bytes read from this open since the last loss
    size_t start_ = 0;          // where the window being filled begins
    uint64_t generation_ = 0;
};

// Runs the input through a PacketReader and the model side by side; gives the reader's packets.
std::vector<Packet> Run(const uint8_t* data, size_t size) {
    std::vector<Packet> packets;
    if (size < 1)
        return packets;
    const size_t opCount = std::min<size_t>(data[0], size - 1);
    const uint8_t* ops = data + 1;
    const uint8_t* line = ops + opCount;
    const size_t lineSize = size - 1 - opCount;
    if (opCount == 0)
        return packets;

    PacketReader reader;
    Model model;
    uint64_t generation = 1;
    size_t at = 0;    // line bytes read so far
    size_t reads = 0; // for the failure message
    while (at < lineSize) {
        const size_t passFrom = at;
        for (size_t i = 0; i < opCount; ++i) {
            const uint8_t op = ops[i];
            if (op >= kOpLost) {
                reader.Lost();
                model.Lost();
                continue;
            }
            if (op >= kOpReopen) {
                generation += 1 + (op - kOpReopen);
                continue;
            }
            ++reads;
            const int missing = model.Missing();
            if (reader.Missing() != missing)
                Fail("the reader asks for other bytes than are missing", reads);
            const int n = static_cast<int>(std::min<size_t>({op, static_cast<size_t>(missing), lineSize - at}));
            std::memcpy(reader.FillPointer(), line + at, static_cast<size_t>(n));
            const bool done = reader.Read(n, generation);
            const std::optional<Bytes> expected = model.Read(line + at, n, generation);
            at += static_cast<size_t>(n);
            if (done != expected.has_value())
                Fail(done ? "a packet the bytes of this open do not make" : "a packet of this open is lost", reads);
            if (!done)
                continue;
            Packet packet{generation, {}};
            std::memcpy(packet.bytes.data(), reader.Packet(), kPacketSize);
            if (!IsSyncByte(packet.bytes[0]))
                Fail("a packet does not start with a sync byte", reads);
            if (reader.Generation() != generation)
                Fail("a packet is told to come from another open", reads);
            if (packet.bytes != *expected)
                Fail("a packet holds other bytes than this open's next one", reads);
            packets.push_back(packet);
        }
        if (at == passFrom)
            break;
    }
    return packets;
}

uint64_t Fnv1a(const uint8_t* bytes, size_t n) {
    uint64_t hash = 0xcbf29ce484222325u;
    for (size_t i = 0; i < n; ++i)
        hash = (hash ^ bytes[i]) * 0x100000001b3u;
    return hash;
}

} // namespace

// One line per packet: the open it came from, its first eight bytes and a digest of all 188.
std::string FuzzTranscript(const uint8_t* data, size_t size) {
    std::string text;
    for (const Packet& packet : Run(data, size)) {
        char line[96];
        const uint8_t* b = packet.bytes.data();
        std::snprintf(line, sizeof line,
                      "open %" PRIu64 ": %02x %02x %02x %02x %02x %02x %02x %02x ... fnv1a %016" PRIx64 "\n",
                      packet.generation, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], Fnv1a(b, kPacketSize));
        text += line;
    }
    return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Run(data, size);
    return 0;
}
