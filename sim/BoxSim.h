// A simulated KV6251 box on a pseudo-terminal, for tests and for trying the tool without one.
//
// It holds the master side of a pty; the tool opens the slave (directly, or through a symlink
// such as <root>/com1 made with linkPath). It reads the line as aligned 188-byte packets and
// answers as the box does: a flush command silences it, a read command makes it send its
// configuration packet back to back until the next flush, an upload command arms an upload that
// the next configuration packet completes. Fault modes make it misbehave on purpose.
#pragma once

#include "transfer/SwitchConfig.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct BoxSimOptions {
    SwitchConfig config{256, 257, 258, 259, 0}; // configuration at start
    bool paced = true;          // send at the line's rate, 150,000 bytes/s
    bool silent = false;        // never answers
    bool answerOnce = false;    // one configuration packet per read request, then silence
    int tsPerCycle = 0;         // packets starting with 0x47 after each configuration packet
    bool corruptReserved = false; // answers with one reserved byte changed
    bool ignoreUpload = false;  // keeps its configuration whatever is uploaded
    int noise = 0;              // random non-sync bytes before each answer
    bool babble = false;        // sends 0x47 packets without end, ignoring flush commands
    int gapMs = 0;              // pause between answer packets
    int hangUpAfterMs = -1;     // closes its pty that long after the first read command
    bool comeBack = false;      // with hangUpAfterMs: makes a new pty at the same link path
    bool streamTs = false;      // 0x47 packets at line rate from the start
    std::string linkPath;       // symlink to the slave, removed at Stop()
    std::string logPath;        // a line per packet received
};

struct BoxSimLogEntry {
    int64_t ms = 0;     // since start
    std::string kind;   // "flush", "read", "upload", "configuration", "other"
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
    const std::string& SlavePath() const;

    std::array<uint8_t, 188> Configuration() const;
    std::vector<BoxSimLogEntry> Log() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
