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
    if (!message.device.empty())
        std::fprintf(stderr, "  device: %s\n", message.device.c_str());
    if (!message.reason.empty())
        std::fprintf(stderr, "  %s\n", message.reason.c_str());
}
