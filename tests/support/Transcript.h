// The packet transcript of a Send, checked in once (tests/data/send.transcript) and compared with
// what the simulated box logged, whoever ran the Send: the window or the command line.
#pragma once

#include "Files.h"
#include "sim/BoxSim.h"

#include <string>
#include <vector>

// The box's log as its --log lines, without the times.
inline std::vector<std::string> LogWithoutTimes(const BoxSim& box) {
    std::vector<std::string> lines;
    for (const BoxSimLogEntry& entry : box.Log()) {
        const std::string line = FormatLogEntry(entry);
        lines.push_back(line.substr(line.find(' ') + 1));
    }
    return lines;
}

// The transcript of a Send of 256:257:258:259:0 that the box answers at once.
inline std::vector<std::string> SendTranscript() {
    return ReadFileLines(std::string(KV_TEST_DATA_DIR) + "/send.transcript");
}
