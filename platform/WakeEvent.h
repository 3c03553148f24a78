// A wake-up for a thread that waits in poll(): an eventfd put into its poll set.
//
// Signal() may come from any thread; it makes the pending poll, and every later one, return at
// once with the event readable (it is never reset: whoever is woken is meant to stop waiting).
// Open() before the waiting thread starts and Close() after it has stopped, so that the
// descriptor never changes under a poll.
#pragma once

class WakeEvent {
public:
    WakeEvent() = default;
    ~WakeEvent() { Close(); }
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // False (errno set) when the event cannot be made.
    bool Open();
    void Close();
    // The descriptor to poll for POLLIN; -1 while closed (poll() then ignores the entry).
    int Fd() const { return fd_; }
    // Harmless when closed or already signalled.
    void Signal();

private:
    int fd_ = -1;
};
