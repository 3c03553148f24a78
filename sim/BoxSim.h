// A simulated KV6251 box on a pseudo-terminal, for tests and for trying the tool without one.
//
// It holds the master side of a pty; the tool opens the slave (directly, or through a symlink
// such as <root>/com1 made with linkPath). It reads the line as aligned 188-byte packets and
// answers as the box does: a flush command silences it, a read command makes it send its
// configuration packet back to back until the next flush, an upload command arms an upload that
// the next configuration packet completes. Fault modes make it misbehave on purpose.
//
// Promises: it never blocks the tool (non-blocking master, raw line, output paced at the line's
// 150,000 bytes/s unless told otherwise); commands are recognised only when they are byte for
// byte what the tool must send, anything else is logged as "other"; Stop() (or the destructor)
// ends serving, closes the pty and removes the symlink if it still points at this box.
#pragma once

#include "protocol/BoxPacket.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr int kLineBytesPerSecond = 150000; // 1,500,000 baud, 10 bits per byte
// The reserved byte that --corrupt-reserved changes in every answer (flips its lowest bit).
inline constexpr int kCorruptReservedOffset = 100;

struct BoxSimOptions {
    SwitchConfig config{256, 257, 258, 259, 0}; // configuration at start
    bool paced = true;                          // send at the line's rate, 150,000 bytes/s
    bool silent = false;                        // never answers
    bool answerOnce = false;                    // one configuration packet per read request, then silence
    int tsPerCycle = 0;                         // packets starting with 0x47 after each configuration packet
    int leadTs = 0;                             // packets starting with 0x47 before the first one of an answer
    bool corruptReserved = false;               // answers with one reserved byte changed
    bool ignoreUpload = false;                  // keeps its configuration whatever is uploaded
    int noise = 0;                              // random non-sync bytes before each configuration packet sent
    bool babble = false;                        // sends 0x47 packets without end, answering and obeying nothing
    int gapMs = 0;                              // pause between answer packets
    int hangUpAfterMs = -1;                     // closes its pty that long after the first read command
    bool comeBack = false;                      // with hangUpAfterMs: makes a new pty at the same link path
    bool streamTs = false;                      // 0x47 packets at line rate from the start, until a command
    std::string linkPath; // symlink to the slave, removed at Stop(); replaces only a link to a pty
    std::string logPath;  // a line per packet received
};

struct BoxSimLogEntry {
    int64_t ms = 0;      // since start
    std::string kind;    // PacketKindName() of the packet: "flush", "read", "upload", "configuration", ...
    SwitchConfig config; // for "configuration"
};

class BoxSim {
public:
    explicit BoxSim(BoxSimOptions options = {});
    ~BoxSim();
    BoxSim(const BoxSim&) = delete;
    BoxSim& operator=(const BoxSim&) = delete;

    bool Start(std::string* error = nullptr); // makes the pty and starts serving
    void Stop();                              // stops serving, removes the link
    std::string SlavePath() const;            // changes when the box comes back after a hang-up

    std::array<uint8_t, kPacketSize> Configuration() const;
    std::vector<BoxSimLogEntry> Log() const;
    uint64_t PacketsSent() const; // every packet written whole, answers and 0x47 packets alike
    bool HungUp() const;          // the pty was closed by --hang-up-after (and not come back)

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One log line: "<ms> <kind>", for a configuration followed by " A:B:C:D:M".
std::string FormatLogEntry(const BoxSimLogEntry& entry);
