// Waiting for something another thread or process does, with a bound.
#pragma once

#include "platform/Timing.h"

#include <functional>

// What a bound on an operation's length allows beyond the operation's own limit: a loaded machine
// (sanitizers, ctest -j) stalls a test process for a second or more now and then.
inline constexpr int kLoadedMachineMs = 3000;

// Polls done every 2 ms; false when it is still not true after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    for (const int64_t end = NowMs() + timeoutMs; !done(); SleepMs(2))
        if (NowMs() >= end)
            return false;
    return true;
}
