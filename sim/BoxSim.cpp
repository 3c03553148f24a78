#include "sim/BoxSim.h"

#include "platform/Timing.h"
#include "platform/WakeEvent.h"
#include "protocol/BoxPacket.h"
#include "protocol/PacketAlign.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
// Wire time of n bytes at the line's rate.
constexpr int64_t WireNs(int64_t bytes) {
    return bytes * kNsPerSecond / kLineBytesPerSecond;
}
// Where ptys live: a link to one of them is a box's (perhaps left by a box that was killed).
constexpr const char* kPtyDirectory = "/dev/pts/";
// While nobody has the slave open the master reports a hang-up without end; look again this often.
constexpr int64_t kSlaveProbeNs = 5 * 1000000LL;
// Unpaced, at most this many packets go out before incoming commands are looked at again.
constexpr int kUnpacedBurst = 16;
constexpr int kMasterReadBytes = 4096;

// A transport-stream null packet: sync byte, PID 0x1FFF, payload only, stuffing bytes. None of its
// bytes after the first is a sync byte, so it never misleads the receiver's alignment.
constexpr uint8_t kTsNullPidHigh = 0x1F;
constexpr uint8_t kTsNullPidLow = 0xFF;
constexpr uint8_t kTsPayloadOnly = 0x10;
constexpr uint8_t kTsContinuityMask = 0x0F;
constexpr uint8_t kTsStuffing = 0xFF;
constexpr int kTsOffsetPidHigh = 1;
constexpr int kTsOffsetPidLow = 2;
constexpr int kTsOffsetFlags = 3;

using Packet = std::array<uint8_t, kPacketSize>;

bool SetRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    // Raw at once: a cooked line would echo the tool's packets back and take 0x11/0x13 for
    // XON/XOFF.
    ::cfmakeraw(&tio);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Opens a new pty master; gives its fd and the slave's path, or -1 with a reason.
int OpenPty(std::string* slavePath, std::string* error) {
    int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = std::string("posix_openpt: ") + std::strerror(errno);
        return -1;
    }
    char name[128];
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0 || !SetRaw(fd)) {
        *error = std::string("pty setup: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    *slavePath = name;
    return fd;
}

// Points linkPath at target, replacing whatever is there in one step (the tool never sees the
// name missing while the box comes back).
bool PointLink(const std::string& linkPath, const std::string& target, std::string* error) {
    const std::string temporary = linkPath + ".boxsim-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        *error = "symlink " + temporary + ": " + std::strerror(errno);
        return false;
    }
    if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        *error = "rename to " + linkPath + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// The link path may be taken when nothing is there, or a link to a pty. Anything else (say the
// user's own link to a real adapter) is left alone: the box would replace it and remove it at exit.
bool MayTakeLink(const std::string& linkPath, std::string* error) {
    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        *error = linkPath + ": " + std::strerror(errno);
        return false;
    }
    char buffer[PATH_MAX];
    ssize_t n = S_ISLNK(st.st_mode) ? ::readlink(linkPath.c_str(), buffer, sizeof buffer - 1) : -1;
    if (n > 0) {
        buffer[n] = '\0';
        if (std::strncmp(buffer, kPtyDirectory, std::strlen(kPtyDirectory)) == 0)
            return true;
    }
    *error = linkPath + " exists and is not a link to a pseudo-terminal; remove it first";
    return false;
}

// Removes linkPath only while it still points at target: another box may have taken the name.
void RemoveLinkIfOurs(const std::string& linkPath, const std::string& target) {
    if (linkPath.empty())
        return;
    char buffer[PATH_MAX];
    ssize_t n = ::readlink(linkPath.c_str(), buffer, sizeof buffer - 1);
    if (n < 0)
        return;
    buffer[n] = '\0';
    if (target == buffer)
        ::unlink(linkPath.c_str());
}

int64_t NowNs() {
    return NowUs() * 1000;
}

} // namespace

struct BoxSim::Impl {
    explicit Impl(BoxSimOptions o) : options(std::move(o)), rng(std::random_device{}()) {
        BuildConfigPacket(config.data(), options.config);
    }

    BoxSimOptions options;

    // Shared with the observers; guarded by mutex.
    mutable std::mutex mutex;
    Packet config{};
    std::vector<BoxSimLogEntry> log;
    std::string slavePath;
    bool hungUp = false;
    std::atomic<uint64_t> packetsSent{0};

    // Owned by the serving thread once it runs.
    int master = -1;
    WakeEvent wake; // Stop() ends the serving thread's wait with it
    FILE* logFile = nullptr;
    std::thread thread;
    bool running = false;
    int64_t startNs = 0;

    enum class Output { Silent, Answering, Streaming };
    Output output = Output::Silent;
    bool uploadArmed = false;
    bool requestOpen = false;  // a read request is being answered (ends at any other packet)
    bool onceAnswered = false; // --answer-once: this request has had its cycle
    int cyclePosition = 0;     // 0: the configuration packet is next, k: the k-th 0x47 packet after it
    uint8_t continuity = 0;
    PacketAssembler assembler;
    std::vector<uint8_t> pending; // bytes produced but not yet taken by the pty
    size_t pendingSent = 0;
    bool pendingIsPacket = false;
    int64_t nextSendNs = 0;
    int64_t hangUpAtNs = -1;
    bool hangUpDone = false;
    bool slaveClosed = false;
    std::mt19937 rng;

    bool Start(std::string* error);
    void Stop();
    void Serve();

    void OnReadable();
    void OnPacket(const uint8_t* packet);
    void Record(PacketKind kind, const uint8_t* packet);
    bool WantsToSend() const;
    void Produce(int64_t now);
    bool WritePending();
    void HangUp();
    void ResetLine();
};

bool BoxSim::Impl::Start(std::string* error) {
    std::string reason;
    std::string slave;
    master = OpenPty(&slave, &reason);
    if (master < 0) {
        if (error)
            *error = reason;
        return false;
    }
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        ::close(master);
        master = -1;
        wake.Close();
        if (logFile)
            std::fclose(logFile);
        logFile = nullptr;
        return false;
    };
    if (!wake.Open())
        return fail(std::string("eventfd: ") + std::strerror(errno));
    if (!options.logPath.empty()) {
        logFile = std::fopen(options.logPath.c_str(), "w");
        if (!logFile)
            return fail("log " + options.logPath + ": " + std::strerror(errno));
    }
    if (!options.linkPath.empty() &&
        (!MayTakeLink(options.linkPath, &reason) || !PointLink(options.linkPath, slave, &reason)))
        return fail(reason);
    {
        std::lock_guard<std::mutex> lock(mutex);
        slavePath = slave;
    }
    startNs = NowNs();
    nextSendNs = startNs;
    if (options.streamTs)
        output = Output::Streaming;
    thread = std::thread([this] { Serve(); });
    running = true;
    return true;
}

void BoxSim::Impl::Stop() {
    if (!running)
        return;
    wake.Signal();
    thread.join();
    running = false;
    if (master >= 0)
        ::close(master);
    master = -1;
    wake.Close();
    std::string slave;
    {
        std::lock_guard<std::mutex> lock(mutex);
        slave = slavePath;
    }
    RemoveLinkIfOurs(options.linkPath, slave);
    if (logFile)
        std::fclose(logFile);
    logFile = nullptr;
}

void BoxSim::Impl::Record(PacketKind kind, const uint8_t* packet) {
    BoxSimLogEntry entry;
    entry.ms = (NowNs() - startNs) / 1000000;
    entry.kind = PacketKindName(kind);
    if (kind == PacketKind::Configuration)
        entry.config = UnpackConfigPacket(packet);
    if (logFile) {
        std::fprintf(logFile, "%s\n", FormatLogEntry(entry).c_str());
        std::fflush(logFile); // readable while the box runs
    }
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(std::move(entry));
}

void BoxSim::Impl::OnPacket(const uint8_t* packet) {
    const PacketKind kind = ClassifyPacket(packet);
    Record(kind, packet);
    const bool isRead = kind == PacketKind::Read;
    if (!isRead)
        requestOpen = false;

    if (kind == PacketKind::Flush) {
        uploadArmed = false;
        if (!options.babble)
            output = Output::Silent;
    } else if (isRead) {
        if (options.hangUpAfterMs >= 0 && hangUpAtNs < 0)
            hangUpAtNs = NowNs() + static_cast<int64_t>(options.hangUpAfterMs) * 1000000;
        // The tool repeats the read command; the repeats continue the request under way.
        if (!requestOpen && !options.babble && !options.silent) {
            requestOpen = true;
            onceAnswered = false;
            if (output != Output::Answering) {
                output = Output::Answering;
                cyclePosition = -options.leadTs;
            }
        }
    } else if (kind == PacketKind::Upload) {
        uploadArmed = true;
    } else if (kind == PacketKind::Configuration) {
        if (uploadArmed && !options.ignoreUpload) {
            std::lock_guard<std::mutex> lock(mutex);
            std::memcpy(config.data(), packet, kPacketSize);
        }
        uploadArmed = false;
    }
}

void BoxSim::Impl::OnReadable() {
    uint8_t buffer[kMasterReadBytes];
    for (;;) {
        ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0) {
            assembler.Feed(buffer, static_cast<int>(n), [this](const uint8_t* packet) { OnPacket(packet); });
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EIO) {
            // Nobody holds the slave: the tool closed the port. A packet cut by that is void.
            slaveClosed = true;
            assembler.Reset();
        }
        return;
    }
}

bool BoxSim::Impl::WantsToSend() const {
    if (master < 0 || slaveClosed)
        return false;
    if (options.babble)
        return true;
    switch (output) {
    case Output::Silent:
        return false;
    case Output::Streaming:
        return true;
    case Output::Answering:
        return !(options.answerOnce && onceAnswered);
    }
    return false;
}

void BoxSim::Impl::Produce(int64_t now) {
    Packet packet{};
    pending.clear();
    pendingSent = 0;
    const bool answer = output == Output::Answering && !options.babble;
    const bool sendConfig = answer && cyclePosition == 0;
    if (sendConfig) {
        for (int i = 0; i < options.noise; ++i) {
            uint8_t b;
            do {
                b = static_cast<uint8_t>(rng());
            } while (IsSyncByte(b));
            pending.push_back(b);
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            packet = config;
        }
        if (options.corruptReserved)
            packet[kCorruptReservedOffset] ^= 0x01;
    } else {
        packet.fill(kTsStuffing);
        packet[0] = kSyncTs;
        packet[kTsOffsetPidHigh] = kTsNullPidHigh;
        packet[kTsOffsetPidLow] = kTsNullPidLow;
        packet[kTsOffsetFlags] = static_cast<uint8_t>(kTsPayloadOnly | (continuity++ & kTsContinuityMask));
    }
    if (answer) {
        // Once the last packet of the cycle is out, a box that answers once falls silent.
        if (options.answerOnce && cyclePosition == options.tsPerCycle)
            onceAnswered = true;
        // Positions below 0 are the 0x47 packets ahead of the first configuration packet.
        cyclePosition = cyclePosition >= options.tsPerCycle ? 0 : cyclePosition + 1;
    }
    pending.insert(pending.end(), packet.begin(), packet.end());
    pendingIsPacket = true;

    // Never faster than the line: the next packet may start when this one has left the wire.
    // A late wake-up may catch up by one packet, no more.
    const int64_t wire = WireNs(static_cast<int64_t>(pending.size()));
    int64_t base = std::max(nextSendNs, now - WireNs(kPacketSize));
    nextSendNs = (options.paced ? base + wire : now) + (answer ? static_cast<int64_t>(options.gapMs) * 1000000 : 0);
}

// Writes what the pty takes; true when everything pending is out.
bool BoxSim::Impl::WritePending() {
    while (pendingSent < pending.size()) {
        ssize_t n = ::write(master, pending.data() + pendingSent, pending.size() - pendingSent);
        if (n > 0) {
            pendingSent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return false; // full (EAGAIN) or gone; poll says when to go on
    }
    if (pendingIsPacket)
        packetsSent.fetch_add(1, std::memory_order_relaxed);
    pendingIsPacket = false;
    pending.clear();
    pendingSent = 0;
    return true;
}

void BoxSim::Impl::ResetLine() {
    assembler.Reset();
    pending.clear();
    pendingSent = 0;
    pendingIsPacket = false;
    slaveClosed = false;
}

void BoxSim::Impl::HangUp() {
    hangUpDone = true;
    std::string oldSlave;
    {
        std::lock_guard<std::mutex> lock(mutex);
        oldSlave = slavePath;
    }
    if (options.comeBack) {
        // The new pty is in place before the old one goes, so a reopen finds it at once.
        std::string newSlave;
        std::string reason;
        int fresh = OpenPty(&newSlave, &reason);
        if (fresh >= 0 && (options.linkPath.empty() || PointLink(options.linkPath, newSlave, &reason))) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                slavePath = newSlave;
            }
            ::close(master);
            master = fresh;
            ResetLine();
            return;
        }
        if (fresh >= 0)
            ::close(fresh);
        std::fprintf(stderr, "kv6251-boxsim: cannot come back: %s\n", reason.c_str());
    }
    // Gone, like an unplugged adapter: its name disappears with it. Name and state go first, so
    // whoever sees the line drop also sees them.
    RemoveLinkIfOurs(options.linkPath, oldSlave);
    {
        std::lock_guard<std::mutex> lock(mutex);
        hungUp = true;
    }
    ::close(master);
    master = -1;
    ResetLine();
}

void BoxSim::Impl::Serve() {
    for (;;) {
        int64_t now = NowNs();
        if (hangUpAtNs >= 0 && !hangUpDone && now >= hangUpAtNs && master >= 0)
            HangUp();

        // Output: finish what is pending, then produce while the pacing allows.
        if (master >= 0 && !slaveClosed) {
            for (int burst = 0; burst < kUnpacedBurst; ++burst) {
                if (!pending.empty() && !WritePending())
                    break;
                now = NowNs();
                if (!WantsToSend() || now < nextSendNs)
                    break;
                Produce(now);
            }
        }

        int64_t timeoutNs = -1;
        auto atMost = [&timeoutNs](int64_t ns) {
            ns = std::max<int64_t>(ns, 0);
            if (timeoutNs < 0 || ns < timeoutNs)
                timeoutNs = ns;
        };
        now = NowNs();
        if (hangUpAtNs >= 0 && !hangUpDone && master >= 0)
            atMost(hangUpAtNs - now);
        if (pending.empty() && WantsToSend())
            atMost(nextSendNs - now);
        if (slaveClosed)
            atMost(kSlaveProbeNs);

        pollfd fds[2] = {{wake.Fd(), POLLIN, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        if (master >= 0 && !slaveClosed) {
            fds[1] = {master, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0};
            count = 2;
        }
        timespec ts = TimespecFromUs((timeoutNs + 999) / 1000); // never wake before the time
        int r = ::ppoll(fds, count, timeoutNs < 0 ? nullptr : &ts, nullptr);
        if (r < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return; // Stop()

        if (slaveClosed && master >= 0) {
            // Has the tool opened the port again?
            pollfd probe{master, POLLIN, 0};
            if (::poll(&probe, 1, 0) >= 0 && !(probe.revents & POLLHUP)) {
                slaveClosed = false;
                nextSendNs = NowNs();
            }
            continue;
        }
        if (count == 2 && fds[1].revents != 0) {
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
                OnReadable();
            if (fds[1].revents & POLLHUP)
                slaveClosed = true;
        }
    }
}

BoxSim::BoxSim(BoxSimOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

BoxSim::~BoxSim() {
    Stop();
}

bool BoxSim::Start(std::string* error) {
    if (impl_->running) {
        if (error)
            *error = "already started";
        return false;
    }
    return impl_->Start(error);
}

void BoxSim::Stop() {
    impl_->Stop();
}

std::string BoxSim::SlavePath() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->slavePath;
}

std::array<uint8_t, kPacketSize> BoxSim::Configuration() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->config;
}

std::vector<BoxSimLogEntry> BoxSim::Log() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->log;
}

uint64_t BoxSim::PacketsSent() const {
    return impl_->packetsSent.load(std::memory_order_relaxed);
}

bool BoxSim::HungUp() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->hungUp;
}

std::string FormatLogEntry(const BoxSimLogEntry& entry) {
    char line[96];
    if (entry.kind == PacketKindName(PacketKind::Configuration))
        std::snprintf(line, sizeof line, "%lld %s %u:%u:%u:%u:%d", static_cast<long long>(entry.ms), entry.kind.c_str(),
                      entry.config.PidA, entry.config.PidB, entry.config.PidC, entry.config.PidD, entry.config.Mode);
    else
        std::snprintf(line, sizeof line, "%lld %s", static_cast<long long>(entry.ms), entry.kind.c_str());
    return line;
}
