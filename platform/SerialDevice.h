// A serial device over termios, as the box's line needs it.
//
// Open():      read/write, no controlling terminal, non-blocking, close-on-exec; refuses anything
//              that is not a terminal; takes exclusive use with flock(LOCK_EX|LOCK_NB) and
//              TIOCEXCL (TIOCEXCL alone does not stop root). Every failure releases what the
//              earlier steps took.
// Configure(): raw 8N1 at 1,500,000 baud with RTS/CTS, CLOCAL, CREAD, no XON/XOFF; DTR and RTS
//              raised. The speed is read back: a speed that did not take counts as refused.
// Reads:       WaitReadable() blocks in poll() until bytes are there, the time is up, the line
//              hung up (POLLHUP/POLLERR) or Wake() was called; ReadSome() never blocks.
// Writes:      Write() writes n bytes or gives up when the time is up.
// A hang-up (POLLHUP/POLLERR, EIO, or a read of 0 after poll said readable) is a failure.
#pragma once

#include "platform/WakeEvent.h"

#include <cstdint>
#include <string>

struct DeviceError {
    int err = 0;                  // errno of the failing step
    std::string path;             // the device path
    std::string step;             // which step failed: "open", "isatty", "flock", "TIOCEXCL", "tcgetattr", ...
    std::string Describe() const; // "open /dev/ttyUSB0: Permission denied"
};

class SerialDevice {
public:
    enum class ConfigureResult { Ok, CannotRead, Refused };
    enum class WaitResult { Readable, TimedOut, HangUp, Woken, Failed };

    SerialDevice() = default;
    virtual ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    bool Open(const std::string& path, DeviceError* error);
    // Virtual for the one thing a pseudo-terminal cannot act: a driver that refuses the settings.
    virtual ConfigureResult Configure(DeviceError* error);

    // Waits at most timeoutMs for input.
    WaitResult WaitReadable(int timeoutMs);
    // Takes up to n bytes that are already there: the count (0 when none), or -1 on failure.
    int ReadSome(uint8_t* buffer, int n);
    // Writes n bytes within timeoutMs: the count written, or -1 on failure.
    int Write(const uint8_t* buffer, int n, int timeoutMs);
    // Makes a pending and every later WaitReadable() return Woken at once (used before closing).
    void Wake();
    void Close();

    bool IsOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    WakeEvent wake_;
    bool exclusive_ = false; // TIOCEXCL set by us (never clear another holder's)
};
