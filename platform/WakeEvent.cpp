#include "platform/WakeEvent.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

bool WakeEvent::Open() {
    Close();
    fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd_ >= 0;
}

void WakeEvent::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void WakeEvent::Signal() {
    if (fd_ < 0)
        return;
    const uint64_t one = 1;
    const ssize_t written = ::write(fd_, &one, sizeof one);
    (void)written; // a counter that is already signalled stays signalled
}
