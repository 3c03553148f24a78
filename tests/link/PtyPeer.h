// The far end of a pseudo-terminal, for driving the link with exact bytes.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

class PtyPeer {
public:
    PtyPeer() {
        int slave = -1;
        if (::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0)
            std::abort();
        termios tio{};
        ::tcgetattr(master_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
        char name[128];
        ::ptsname_r(master_, name, sizeof name);
        slavePath_ = name;
        // Holding a slave descriptor keeps the pty from reading as hung up between the tool's opens.
        slaveHold_ = slave;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPeer() { HangUp(); }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    // A descriptor of the slave opened before the tool took it exclusively (TIOCEXCL refuses
    // later opens by anyone but root).
    int HeldSlaveFd() const { return slaveHold_; }

    // Makes linkPath point at this pty, replacing any earlier link atomically.
    void LinkAs(const std::string& linkPath) const {
        std::string tmp = linkPath + ".new";
        ::unlink(tmp.c_str());
        if (::symlink(slavePath_.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), linkPath.c_str()) != 0)
            std::abort();
    }

    // Writes everything, waiting for room as the pty drains.
    bool Write(const std::vector<uint8_t>& bytes) const { return Write(bytes.data(), bytes.size()); }
    bool Write(const uint8_t* data, size_t n) const {
        size_t done = 0;
        while (done < n) {
            ssize_t r = ::write(master_, data + done, n - done);
            if (r > 0) {
                done += static_cast<size_t>(r);
            } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                return false;
            }
        }
        return true;
    }

    // Reads whatever the tool wrote within timeoutMs.
    std::vector<uint8_t> ReadFor(int timeoutMs) const {
        std::vector<uint8_t> out;
        pollfd p{master_, POLLIN, 0};
        while (::poll(&p, 1, timeoutMs) > 0) {
            uint8_t buf[4096];
            ssize_t r = ::read(master_, buf, sizeof buf);
            if (r <= 0)
                break;
            out.insert(out.end(), buf, buf + r);
            timeoutMs = 50;
        }
        return out;
    }

    // Closes both ends: the tool's side sees a hang-up.
    void HangUp() {
        if (slaveHold_ >= 0)
            ::close(slaveHold_);
        if (master_ >= 0)
            ::close(master_);
        slaveHold_ = master_ = -1;
    }

private:
    int master_ = -1;
    int slaveHold_ = -1;
    std::string slavePath_;
};
