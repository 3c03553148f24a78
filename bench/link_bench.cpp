// Measures the link against a pseudo-terminal peer in a child process:
//  1. how long SendPacket takes while the receiver waits on a silent line;
//  2. whether the receiver keeps up with a peer sending at the line's rate (150,000 bytes/s),
//     with the CPU it uses, alone and with the other core kept busy;
//  3. the CPU the receiver uses on a silent line.
// Usage: link_bench [seconds-at-line-rate] [--trace FILE]   (default 30 s; --trace: with the packet
// trace on, which must not cost the receiver a packet; the trace's lines are counted at the end)
#include "PtyPeer.h"
#include "TempRoot.h"

#include "link/PacketTrace.h"
#include "link/Ser921.h"
#include "platform/Timing.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double CpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Child: writes numbered packets paced at 150,000 bytes/s for `seconds`.
pid_t StartPacedWriter(const PtyPeer& peer, int seconds) {
    pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int64_t start = NowUs();
    const int64_t total = static_cast<int64_t>(seconds) * 150000 / kPacketSize;
    std::vector<uint8_t> packet(kPacketSize);
    for (int64_t n = 0; n < total; ++n) {
        const int64_t due = start + n * kPacketSize * 1000000 / 150000;
        while (NowUs() < due)
            ::usleep(static_cast<useconds_t>(std::max<int64_t>(50, due - NowUs())));
        std::fill(packet.begin(), packet.end(), 0);
        packet[0] = kSyncTs;
        std::memcpy(packet.data() + 4, &n, sizeof n);
        peer.Write(packet);
    }
    ::_exit(0);
}

pid_t StartBusyCore() {
    pid_t pid = ::fork();
    if (pid == 0) {
        volatile uint64_t x = 0;
        for (;;)
            x = x + 1;
    }
    return pid;
}

struct Result {
    int64_t expected = 0, received = 0, misaligned = 0, outOfOrder = 0;
    uint64_t dropped = 0;
    double cpuPercent = 0;
};

Result LineRate(const PtyPeer& peer, int seconds, bool busy) {
    Result res;
    res.expected = static_cast<int64_t>(seconds) * 150000 / kPacketSize;
    const uint64_t droppedBefore = DroppedPackets();
    pid_t hog = busy ? StartBusyCore() : -1;
    const double cpu0 = CpuSeconds();
    const int64_t t0 = NowUs();
    pid_t writer = StartPacedWriter(peer, seconds);
    int64_t next = 0;
    uint8_t buf[kPacketSize];
    const int64_t end = NowMs() + seconds * 1000 + 3000;
    while (NowMs() < end && res.received < res.expected) {
        if (!TakePacket(buf)) {
            SleepMs(5); // the transfer's own polling step
            continue;
        }
        ++res.received;
        int64_t n = 0;
        std::memcpy(&n, buf + 4, sizeof n);
        if (buf[0] != kSyncTs)
            ++res.misaligned;
        if (n != next)
            ++res.outOfOrder;
        next = n + 1;
    }
    const double wall = static_cast<double>(NowUs() - t0) / 1e6;
    res.cpuPercent = 100.0 * (CpuSeconds() - cpu0) / wall;
    ::waitpid(writer, nullptr, 0);
    if (hog > 0) {
        ::kill(hog, SIGKILL);
        ::waitpid(hog, nullptr, 0);
    }
    res.dropped = DroppedPackets() - droppedBefore;
    return res;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 30;
    const char* tracePath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--trace") == 0 && i + 1 < argc)
            tracePath = argv[++i];
        else
            seconds = std::max(1, std::atoi(argv[i]));
    }
    std::string traceError;
    if (tracePath && !StartPacketTrace(tracePath, &traceError)) {
        std::fprintf(stderr, "trace: %s\n", traceError.c_str());
        return 1;
    }
    const TempRoot root;
    const PtyPeer peer;
    peer.LinkAs(TempRoot::Fixed("com1"));
    if (OpenLink(1) != 1 || !WaitReceiverReady(3000))
        return 1;

    // 1. SendPacket while the receiver waits on the silent line.
    std::vector<int64_t> us;
    uint8_t packet[kPacketSize] = {kSyncBox};
    for (int i = 0; i < 200; ++i) {
        int64_t t0 = NowUs();
        SendPacket(packet);
        us.push_back(NowUs() - t0);
        peer.ReadFor(0, 0); // what was sent, without waiting
        SleepMs(3);
    }
    std::sort(us.begin(), us.end());
    std::printf("SendPacket on a waiting line: median %.2f ms, p99 %.2f ms, max %.2f ms (200 sends)\n",
                static_cast<double>(us[100]) / 1000, static_cast<double>(us[197]) / 1000,
                static_cast<double>(us.back()) / 1000);

    // 2. Silent line CPU.
    const double cpu0 = CpuSeconds();
    const int64_t t0 = NowUs();
    SleepMs(5000);
    std::printf("Silent line: %.2f %% of one core\n",
                100.0 * (CpuSeconds() - cpu0) / (static_cast<double>(NowUs() - t0) / 1e6));

    // 3. Line rate, alone and with the other core busy.
    for (bool busy : {false, true}) {
        Result r = LineRate(peer, seconds, busy);
        std::printf("Line rate %ds%s: sent %lld, received %lld, dropped %llu, misaligned %lld, out of order %lld, "
                    "CPU %.2f %% of one core\n",
                    seconds, busy ? " (other core busy)" : "", static_cast<long long>(r.expected),
                    static_cast<long long>(r.received), static_cast<unsigned long long>(r.dropped),
                    static_cast<long long>(r.misaligned), static_cast<long long>(r.outOfOrder), r.cpuPercent);
    }
    CloseLink();
    if (tracePath) {
        StopPacketTrace();
        std::ifstream trace(tracePath);
        long received = 0, refused = 0;
        for (std::string line; std::getline(trace, line);) {
            received += line.find(" received ") != std::string::npos;
            refused += line.find(" refused ") != std::string::npos;
        }
        std::printf("Trace %s: %ld packets received, %ld refused\n", tracePath, received, refused);
    }
    return 0;
}
