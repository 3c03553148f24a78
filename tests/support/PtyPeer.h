// The far end of a pseudo-terminal: drives the tool's side of the line with exact bytes.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

class PtyPeer {
public:
    PtyPeer() {
        char name[128];
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            std::abort();
        termios tio{};
        ::tcgetattr(master_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
        slavePath_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPeer() { HangUp(); }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    // A slave descriptor held since before the tool took the port exclusively; it keeps the pty
    // from reading as hung up between the tool's opens.
    int HeldSlaveFd() const { return slave_; }

    // Points linkPath at this pty, replacing any earlier link in one step.
    void LinkAs(const std::string& linkPath) const {
        const std::string tmp = linkPath + ".new";
        ::unlink(tmp.c_str());
        if (::symlink(slavePath_.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), linkPath.c_str()) != 0)
            std::abort();
    }

    // Writes everything, waiting for room as the pty drains.
    bool Write(const std::vector<uint8_t>& bytes) const {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t r = ::write(master_, bytes.data() + done, bytes.size() - done);
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

    // What the tool wrote within timeoutMs (then until quietMs of silence). ReadFor(0, 0) takes
    // what is there without waiting.
    std::vector<uint8_t> ReadFor(int timeoutMs, int quietMs = 50) const {
        std::vector<uint8_t> out;
        pollfd p{master_, POLLIN, 0};
        for (uint8_t buf[4096]; ::poll(&p, 1, timeoutMs) > 0; timeoutMs = quietMs) {
            const ssize_t r = ::read(master_, buf, sizeof buf);
            if (r <= 0)
                break;
            out.insert(out.end(), buf, buf + r);
        }
        return out;
    }

    // Closes both ends: the tool's side sees a hang-up.
    void HangUp() {
        for (int* fd : {&slave_, &master_})
            if (*fd >= 0)
                ::close(std::exchange(*fd, -1));
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
