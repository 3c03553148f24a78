// The tool's end of the simulated box's pty, for tests that talk to the box directly.
#pragma once

#include "protocol/PacketAlign.h"
#include "platform/Timing.h"
#include "protocol/BoxPacket.h"

#include <gtest/gtest.h>

#include <array>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

using Packet = std::array<uint8_t, kPacketSize>;

inline Packet Command(CommandKind kind) {
    Packet packet{};
    BuildCommandPacket(packet.data(), kind);
    return packet;
}

inline Packet Config(const SwitchConfig& config) {
    Packet packet{};
    BuildConfigPacket(packet.data(), config);
    return packet;
}

class SimLine {
public:
    explicit SimLine(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~SimLine() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    void Send(const Packet& packet) { ASSERT_EQ(::write(fd_, packet.data(), packet.size()), kPacketSize); }
    void Send(CommandKind kind, int times = 1) {
        for (int i = 0; i < times; ++i)
            Send(Command(kind));
    }

    // Raw bytes until n have come, timeoutMs has passed or the box hung up.
    std::vector<uint8_t> ReceiveBytes(size_t n, int timeoutMs) {
        std::vector<uint8_t> bytes;
        const int64_t end = NowMs() + timeoutMs;
        pollfd p{fd_, POLLIN, 0};
        while (bytes.size() < n && NowMs() < end && ::poll(&p, 1, static_cast<int>(end - NowMs())) > 0) {
            uint8_t buffer[4096];
            ssize_t r = ::read(fd_, buffer, std::min(sizeof buffer, n - bytes.size()));
            if (r <= 0)
                break; // the box hung up
            bytes.insert(bytes.end(), buffer, buffer + r);
        }
        return bytes;
    }

    // Aligned packets until count have come or timeoutMs has passed (arrival times in *times).
    std::vector<Packet> Receive(size_t count, int timeoutMs, std::vector<int64_t>* times = nullptr) {
        std::vector<Packet> packets;
        const int64_t end = NowMs() + timeoutMs;
        while (packets.size() < count && NowMs() < end) {
            auto bytes = ReceiveBytes(static_cast<size_t>(assembler_.Missing()), static_cast<int>(end - NowMs()));
            assembler_.Feed(bytes.data(), static_cast<int>(bytes.size()), [&](const uint8_t* p) {
                packets.push_back({});
                std::copy(p, p + kPacketSize, packets.back().begin());
                if (times)
                    times->push_back(NowUs());
            });
        }
        return packets;
    }

    // Drops what is on its way, then tells whether anything more comes within ms.
    bool FallsSilent(int ms) {
        for (int round = 0; round < 20 && !ReceiveBytes(1 << 16, 100).empty(); ++round) {
        }
        assembler_.Reset();
        return ReceiveBytes(1, ms).empty();
    }

private:
    int fd_;
    PacketAssembler assembler_;
};

// A fresh directory for links and logs.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kv6251-sim-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
