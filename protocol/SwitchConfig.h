// The switch configuration: the four PIDs of the box's two switches and the output mode,
// always in this order, and its one-line text form "A:B:C:D:M".
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr int kPidCount = 4;                // PidA, PidB, PidC, PidD
inline constexpr int kConfigFieldCount = 5;        // the PIDs and the mode
inline constexpr char kConfigFieldSeparator = ':'; // between the fields of "A:B:C:D:M"

struct SwitchConfig {
    uint16_t PidA = 0; // Switch A, first PID
    uint16_t PidB = 0; // Switch A, second PID
    uint16_t PidC = 0; // Switch B, first PID
    uint16_t PidD = 0; // Switch B, second PID
    int16_t Mode = 0;  // 0 "Double", 1 "Single"

    friend bool operator==(const SwitchConfig&, const SwitchConfig&) = default;
};

// The names of the five fields, in their order: "PidA", "PidB", "PidC", "PidD", "Mode".
inline constexpr const char* kConfigFieldNames[kConfigFieldCount] = {"PidA", "PidB", "PidC", "PidD", "Mode"};

// "A:B:C:D:M": the PIDs unsigned, the mode signed.
std::string FormatConfigText(const SwitchConfig& config);

// The five fields of "A:B:C:D:M" as written, for the caller to read as numbers by its own rules.
// False unless the text holds exactly five fields.
bool SplitConfigText(std::string_view text, std::array<std::string_view, kConfigFieldCount>* fields);
