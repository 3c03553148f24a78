// A temporary root directory and a recorder for the operator messages of the link.
#pragma once

#include "link/Ser921.h"
#include "platform/MessageSink.h"
#include "platform/RootDir.h"
#include "platform/Timing.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

class MessageRecorder {
public:
    MessageRecorder() {
        SetMessageSink([this](const OperatorMessage& m) {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.push_back(m);
            threads_.push_back(::gettid());
            cv_.notify_all();
        });
    }
    ~MessageRecorder() { SetMessageSink({}); }

    std::vector<OperatorMessage> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    pid_t ThreadOf(size_t i) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_.at(i);
    }
    bool WaitFor(size_t count, int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return messages_.size() >= count; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<OperatorMessage> messages_;
    std::vector<pid_t> threads_;
};

// Each test gets its own root directory ($XDG_DATA_HOME) and leaves the link closed.
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kv6251-link-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        ::setenv("XDG_DATA_HOME", root_.c_str(), 1);
    }
    void TearDown() override {
        if (IsConnected() || LinkStopFlag() == 0)
            CloseLink();
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    std::string ComPath(int n) const { return RootPath("com" + std::to_string(n)); }

    // Polls cond every 2 ms for at most timeoutMs.
    static bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
        const int64_t end = NowMs() + timeoutMs;
        while (NowMs() < end) {
            if (cond())
                return true;
            SleepMs(2);
        }
        return cond();
    }

    std::string root_;
    MessageRecorder recorder_;
};

// A 188-byte packet whose bytes all derive from its number, so a torn packet shows.
inline std::vector<uint8_t> NumberedPacket(uint32_t n, uint8_t sync = kSyncBox) {
    std::vector<uint8_t> p(kPacketSize);
    p[0] = sync;
    for (int i = 1; i < kPacketSize; ++i)
        p[i] = static_cast<uint8_t>((n * 7 + static_cast<uint32_t>(i) * 13 + (n >> 8)) & 0xFF);
    // Keep every byte but the first away from the sync values, so alignment never slips.
    for (int i = 1; i < kPacketSize; ++i)
        if (IsSyncByte(p[i]))
            p[i] = 0x00;
    p[1] = static_cast<uint8_t>(n & 0x3F);
    p[2] = static_cast<uint8_t>((n >> 6) & 0x3F);
    return p;
}

inline uint32_t PacketNumber(const uint8_t* p) {
    return static_cast<uint32_t>(p[1]) | (static_cast<uint32_t>(p[2]) << 6);
}
