// Test scaffolding: a temporary root directory and the tool's link connected to a simulated box.
#pragma once

#include "link/Ser921.h"
#include "platform/MessageSink.h"
#include "platform/RootDir.h"
#include "platform/Timing.h"
#include "sim/BoxSim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

// The tool's fixed files go to a fresh directory: XDG_DATA_HOME points there while it lives.
class TempRoot {
public:
    TempRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kv6251-transfer-XXXXXX").string();
        if (const char* made = ::mkdtemp(pattern.data()))
            base_ = made;
        ::setenv("XDG_DATA_HOME", base_.c_str(), 1);
    }
    ~TempRoot() {
        std::error_code ignored;
        std::filesystem::remove_all(base_, ignored);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    std::string Path(const char* fixedName) const { return RootPath(fixedName); }

private:
    std::string base_;
};

// Operator messages of the link, kept instead of printed.
class MessageCapture {
public:
    MessageCapture() {
        SetMessageSink([this](const OperatorMessage& m) {
            std::lock_guard<std::mutex> lock(mutex_);
            texts_.push_back(m.text);
        });
    }
    ~MessageCapture() { SetMessageSink({}); }
    std::vector<std::string> Texts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

inline void DrainRing() {
    uint8_t scratch[kPacketSize];
    while (TakePacket(scratch)) {
    }
}

// A simulated box at <root>/com1, opened by the tool as port 1. The link is one process-wide
// object, so it is closed again (and the ring emptied) when this goes.
class LinkedBox {
public:
    static constexpr int kPort = 1;

    explicit LinkedBox(BoxSimOptions options) : box_(WithLink(std::move(options))) {}
    ~LinkedBox() {
        CloseLink();
        box_.Stop();
        DrainRing();
    }
    LinkedBox(const LinkedBox&) = delete;
    LinkedBox& operator=(const LinkedBox&) = delete;

    // Starts the box, opens the link and waits out the receiver's start pause.
    ::testing::AssertionResult Connect() {
        std::string error;
        if (!box_.Start(&error))
            return ::testing::AssertionFailure() << "box: " << error;
        DrainRing();
        if (OpenLink(kPort) != 1)
            return ::testing::AssertionFailure() << "OpenLink(" << kPort << ") failed";
        if (!WaitReceiverReady(3 * kReceiverStartPauseMs))
            return ::testing::AssertionFailure() << "the receiver did not start reading";
        return ::testing::AssertionSuccess();
    }

    BoxSim& Box() { return box_; }

    // The box's log once it holds at least count entries (or after timeoutMs).
    std::vector<BoxSimLogEntry> WaitForLog(size_t count, int timeoutMs = 2000) {
        const int64_t end = NowMs() + timeoutMs;
        std::vector<BoxSimLogEntry> log = box_.Log();
        while (log.size() < count && NowMs() < end) {
            SleepMs(5);
            log = box_.Log();
        }
        return log;
    }

    static std::vector<std::string> Kinds(const std::vector<BoxSimLogEntry>& log) {
        std::vector<std::string> kinds;
        for (const auto& entry : log)
            kinds.push_back(entry.kind);
        return kinds;
    }

private:
    static BoxSimOptions WithLink(BoxSimOptions options) {
        options.linkPath = RootPath("com" + std::to_string(kPort));
        return options;
    }

    BoxSim box_;
};

inline long SizeOf(const std::string& path) {
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<long>(size);
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) {
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    ASSERT_EQ(std::fclose(f), 0);
}
