// Switcher configuration files (*.swi): "PidA:PidB:PidC:PidD\nMode\n".
#pragma once

#include "protocol/SwitchConfig.h"

#include <cstddef>
#include <string>

inline constexpr size_t kSwiReadLimit = 50;

// The file's text: the PIDs unsigned, the mode signed, LF line ends.
std::string FormatSwi(const SwitchConfig& config);

struct SwiParseResult {
    int fields = 0;      // how many of the five fields were found
    SwitchConfig config; // meaningful when fields == 5
    bool Complete() const { return fields == 5; }
};
// Parses at most kSwiReadLimit bytes of data.
SwiParseResult ParseSwi(const char* data, size_t size);

enum class SwiLoadResult { Ok, CannotOpen, Corrupted };
// Opens the file read-only and parses its first 50 bytes. *config is written only on Ok.
SwiLoadResult LoadSwiFile(const std::string& path, SwitchConfig* config);

// Writes the file through a temporary file in the same folder, renamed over the target only
// when everything was written and closed. False (with a reason) leaves any old file untouched.
bool SaveSwiFile(const std::string& path, const SwitchConfig& config, std::string* reason = nullptr);
