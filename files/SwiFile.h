// Switcher configuration files (*.swi): "PidA:PidB:PidC:PidD\nMode\n".
#pragma once

#include "protocol/SwitchConfig.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

inline constexpr size_t kSwiReadLimit = 50;
inline constexpr int kSwiFieldCount = 5; // PidA, PidB, PidC, PidD, Mode

// The file's text: the PIDs unsigned, the mode signed, LF line ends.
std::string FormatSwi(const SwitchConfig& config);

struct SwiParseResult {
    int fields = 0;      // how many of the five fields were found
    SwitchConfig config; // meaningful when fields == 5
    // Each field found, as written (views into the parsed data), for callers stricter than the
    // window: the values above wrap at 16 bits and stop at the first non-digit.
    std::array<std::string_view, kSwiFieldCount> texts;
    bool Complete() const { return fields == kSwiFieldCount; }
};
// Parses at most kSwiReadLimit bytes of data.
SwiParseResult ParseSwi(const char* data, size_t size);

enum class SwiLoadResult { Ok, CannotOpen, Corrupted };
// Opens the file read-only and parses its first 50 bytes. *config (and *texts, the fields as
// written, when given) are written only on Ok. On CannotOpen, errno says why.
SwiLoadResult LoadSwiFile(const std::string& path, SwitchConfig* config,
                          std::array<std::string, kSwiFieldCount>* texts = nullptr);

// Writes the file through a temporary file in the same folder, renamed over the target only
// when everything was written and closed. False (with a reason) leaves any old file untouched.
bool SaveSwiFile(const std::string& path, const SwitchConfig& config, std::string* reason = nullptr);
