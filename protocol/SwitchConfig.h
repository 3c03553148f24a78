// The switch configuration: the four PIDs of the box's two switches and the output mode,
// always in this order.
#pragma once

#include <cstdint>

inline constexpr int kPidCount = 4; // PidA, PidB, PidC, PidD

struct SwitchConfig {
    uint16_t PidA = 0; // Switch A, first PID
    uint16_t PidB = 0; // Switch A, second PID
    uint16_t PidC = 0; // Switch B, first PID
    uint16_t PidD = 0; // Switch B, second PID
    int16_t Mode = 0;  // 0 "Double", 1 "Single"

    friend bool operator==(const SwitchConfig&, const SwitchConfig&) = default;
};
