#include "link/PacketTrace.h"

#include "platform/Timing.h"
#include "protocol/BoxPacket.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// Beyond this much text waiting for the disk, new lines are counted instead of kept.
constexpr size_t kPendingLimitBytes = 4 * 1024 * 1024;
// The writer wakes at least this often, so a trace on disk lags the line by little.
constexpr int kWriterPeriodMs = 200;

struct Trace {
    std::mutex mutex;
    std::condition_variable wake;
    std::string pending;   // lines not yet written (guarded by mutex)
    uint64_t lost = 0;     // lines dropped since the last write (guarded by mutex)
    bool stopping = false; // guarded by mutex
    int64_t originUs = 0;  // the clock's zero (guarded by mutex)
    std::FILE* file = nullptr;
    std::thread writer;
};

// Raised while a trace runs: the link's hot paths look at this alone when there is none.
std::atomic<bool> g_active{false};
// Start and stop are serialised; the trace itself lives for the whole process (the receiver may
// still be tracing when static destructors would run).
std::mutex g_startStop;
Trace& TheTrace() {
    static auto* trace = new Trace;
    return *trace;
}

void WriteOut(Trace& trace, std::string& text, uint64_t lost) {
    if (lost != 0) {
        char note[80];
        std::snprintf(note, sizeof note, "... %llu lines lost: the disk did not keep up\n",
                      static_cast<unsigned long long>(lost));
        std::fputs(note, trace.file);
    }
    std::fwrite(text.data(), 1, text.size(), trace.file);
    std::fflush(trace.file);
    text.clear();
}

void WriterLoop(Trace& trace) {
    std::string batch;
    std::unique_lock<std::mutex> lock(trace.mutex);
    for (;;) {
        if (!trace.stopping)
            trace.wake.wait_for(lock, std::chrono::milliseconds(kWriterPeriodMs));
        const bool last = trace.stopping;
        batch.swap(trace.pending);
        const uint64_t lost = trace.lost;
        trace.lost = 0;
        // The disk is written without the lock: the receiver never waits for it.
        lock.unlock();
        if (!batch.empty() || lost != 0)
            WriteOut(trace, batch, lost);
        lock.lock();
        if (last && trace.pending.empty())
            return;
    }
}

void Append(const char* text, bool restartClock) {
    Trace& trace = TheTrace();
    const int64_t now = NowUs();
    std::lock_guard<std::mutex> lock(trace.mutex);
    if (restartClock)
        trace.originUs = now;
    if (trace.pending.size() >= kPendingLimitBytes) {
        ++trace.lost;
        return;
    }
    char stamp[24];
    std::snprintf(stamp, sizeof stamp, "%lld ", static_cast<long long>((now - trace.originUs) / 1000));
    trace.pending.append(stamp).append(text).push_back('\n');
}

const char* DirectionName(TraceDirection direction) {
    switch (direction) {
    case TraceDirection::Sent:
        return "sent";
    case TraceDirection::Unsent:
        return "unsent";
    case TraceDirection::Received:
        return "received";
    case TraceDirection::Refused:
        break;
    }
    return "refused";
}

} // namespace

bool StartPacketTrace(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> serial(g_startStop);
    if (g_active.load())
        return true;
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        if (error)
            *error = path + ": " + std::strerror(errno);
        return false;
    }
    Trace& trace = TheTrace();
    {
        std::lock_guard<std::mutex> lock(trace.mutex);
        trace.file = file;
        trace.pending.clear();
        trace.lost = 0;
        trace.stopping = false;
        trace.originUs = NowUs();
    }
    trace.writer = std::thread(WriterLoop, std::ref(trace));
    g_active.store(true);
    return true;
}

void StopPacketTrace() {
    std::lock_guard<std::mutex> serial(g_startStop);
    if (!g_active.exchange(false))
        return;
    Trace& trace = TheTrace();
    {
        std::lock_guard<std::mutex> lock(trace.mutex);
        trace.stopping = true;
    }
    trace.wake.notify_all();
    trace.writer.join();
    std::fclose(trace.file);
    trace.file = nullptr;
}

void TracePacket(TraceDirection direction, const uint8_t* packet) {
    if (!g_active.load(std::memory_order_relaxed))
        return;
    const std::string line = std::string(DirectionName(direction)) + ' ' + DescribePacket(packet);
    Append(line.c_str(), false);
}

void TraceEvent(const std::string& text, bool restartClock) {
    if (!g_active.load(std::memory_order_relaxed))
        return;
    Append(text.c_str(), restartClock);
}
