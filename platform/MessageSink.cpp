#include "platform/MessageSink.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex g_sinkMutex;
MessageSink g_sink;
} // namespace

void SetMessageSink(MessageSink sink) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    g_sink = std::move(sink);
}

std::string MessageDetails(const OperatorMessage& message) {
    std::string details;
    if (!message.device.empty())
        details = "Device: " + message.device;
    if (!message.reason.empty()) {
        if (!details.empty())
            details += '\n';
        details += message.reason;
    }
    return details;
}

void ShowOperatorMessage(const OperatorMessage& message) {
    MessageSink sink;
    {
        std::lock_guard<std::mutex> lock(g_sinkMutex);
        sink = g_sink;
    }
    if (sink) {
        sink(message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.text.c_str());
    const std::string details = MessageDetails(message);
    if (!details.empty())
        std::fprintf(stderr, "%s\n", details.c_str());
}
