#include "platform/SerialDevice.h"

#include "platform/Timing.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr speed_t kLineSpeed = B1500000;

} // namespace

std::string DeviceError::Describe() const {
    std::string text = step.empty() ? std::string("open") : step;
    if (!path.empty())
        text += " " + path;
    if (err != 0)
        text += std::string(": ") + std::strerror(err);
    return text;
}

SerialDevice::~SerialDevice() {
    Close();
}

bool SerialDevice::Open(const std::string& path, DeviceError* error) {
    Close();
    auto fail = [&](const char* step, int err) {
        if (error)
            *error = DeviceError{err, path, step};
        Close();
        return false;
    };

    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return fail("open", errno);
    if (!::isatty(fd_))
        return fail("isatty", errno ? errno : ENOTTY);
    // flock stops every other opener, root included; TIOCEXCL alone does not stop root.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
        return fail("flock", errno);
    if (::ioctl(fd_, TIOCEXCL) != 0)
        return fail("TIOCEXCL", errno);
    exclusive_ = true;
    if (!wake_.Open())
        return fail("eventfd", errno);
    return true;
}

SerialDevice::ConfigureResult SerialDevice::Configure(DeviceError* error) {
    auto fail = [&](ConfigureResult result, const char* step, int err) {
        if (error) {
            error->err = err;
            error->step = step;
        }
        return result;
    };

    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0)
        return fail(ConfigureResult::CannotRead, "tcgetattr", errno);

    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
    // Linux has no CTS-only mode: CRTSCTS also drops RTS while our input buffer is full.
    // The box only watches RTS as a ready line, so that is harmless.
    tio.c_cflag |= CS8 | CLOCAL | CREAD | CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | PARMRK | IGNPAR);
    // VMIN=1 keeps an empty non-blocking read an EAGAIN rather than a 0 that looks like a hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, kLineSpeed);
    ::cfsetospeed(&tio, kLineSpeed);

    if (::tcsetattr(fd_, TCSANOW, &tio) != 0)
        return fail(ConfigureResult::Refused, "tcsetattr", errno);

    // tcsetattr succeeds when any one change took; read back what matters.
    termios back{};
    if (::tcgetattr(fd_, &back) != 0)
        return fail(ConfigureResult::Refused, "tcgetattr", errno);
    if (::cfgetospeed(&back) != kLineSpeed || ::cfgetispeed(&back) != kLineSpeed)
        return fail(ConfigureResult::Refused, "speed", EINVAL);
    if ((back.c_cflag & CSIZE) != CS8 || (back.c_cflag & (PARENB | CSTOPB)) != 0 || !(back.c_cflag & CRTSCTS))
        return fail(ConfigureResult::Refused, "tcsetattr", EINVAL);

    // DTR and RTS on. A device without modem lines (a pseudo-terminal) answers ENOTTY.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd_, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
        return fail(ConfigureResult::Refused, "modem-lines", errno);
    return ConfigureResult::Ok;
}

SerialDevice::WaitResult SerialDevice::WaitReadable(int timeoutMs) {
    const int64_t deadline = NowUs() + static_cast<int64_t>(timeoutMs) * 1000;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_.Fd(), POLLIN, 0}};
    for (;;) {
        timespec left = TimespecFromUs(deadline - NowUs());
        int r = ::ppoll(fds, 2, &left, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return WaitResult::Failed;
        }
        if (r == 0)
            return WaitResult::TimedOut;
        if (fds[1].revents != 0)
            return WaitResult::Woken;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            return WaitResult::HangUp;
        if (fds[0].revents & POLLIN)
            return WaitResult::Readable;
    }
}

int SerialDevice::ReadSome(uint8_t* buffer, int n) {
    if (n <= 0)
        return 0;
    for (;;) {
        ssize_t r = ::read(fd_, buffer, static_cast<size_t>(n));
        if (r > 0)
            return static_cast<int>(r);
        if (r == 0)
            return -1; // with VMIN=1 only a hang-up reads 0
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

int SerialDevice::Write(const uint8_t* buffer, int n, int timeoutMs) {
    const int64_t deadline = NowUs() + static_cast<int64_t>(timeoutMs) * 1000;
    int done = 0;
    while (done < n) {
        ssize_t r = ::write(fd_, buffer + done, static_cast<size_t>(n - done));
        if (r > 0) {
            done += static_cast<int>(r);
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        // Output is held (flow control or a full queue): wait for room until the time is up.
        int64_t left = deadline - NowUs();
        if (left <= 0)
            break;
        pollfd pfd{fd_, POLLOUT, 0};
        timespec ts = TimespecFromUs(left);
        int p = ::ppoll(&pfd, 1, &ts, nullptr);
        if (p < 0 && errno != EINTR)
            return -1;
        if (p > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return -1;
    }
    return done;
}

void SerialDevice::Wake() {
    wake_.Signal();
}

void SerialDevice::Close() {
    wake_.Close();
    if (fd_ >= 0) {
        if (exclusive_)
            ::ioctl(fd_, TIOCNXCL);
        exclusive_ = false;
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }
}
