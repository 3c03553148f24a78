// Keeps the link's operator messages (and the thread each came from) instead of showing them.
#pragma once

#include "platform/MessageSink.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unistd.h>
#include <vector>

class MessageRecorder {
public:
    struct Seen {
        OperatorMessage message;
        pid_t thread;
    };

    MessageRecorder() {
        SetMessageSink([this](const OperatorMessage& m) {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back({m, ::gettid()});
            changed_.notify_all();
        });
    }
    ~MessageRecorder() { SetMessageSink({}); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<Seen> All() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }
    // True once count messages arrived; false after timeoutMs.
    bool WaitFor(size_t count, int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return seen_.size() >= count; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Seen> seen_;
};
