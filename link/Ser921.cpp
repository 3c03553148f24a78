#include "link/Ser921.h"

#include "link/PacketReader.h"
#include "link/PacketTrace.h"
#include "platform/MessageSink.h"
#include "platform/PortDiagnostics.h"
#include "platform/PortMap.h"
#include "platform/SerialDevice.h"
#include "platform/Timing.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

namespace {

// The receiver's start pause is slept in steps of this, so that a close ends it early.
constexpr int kStartPauseStepMs = 5;
// The receiver's pause before each packet, and after a read that brought nothing.
constexpr int kReceiverIdleSleepMs = 1;

// ---- link state -------------------------------------------------------------------------
// The flags are read by both threads without the port lock; each is written whole.
std::atomic<uint8_t> g_linkStop{0};    // 1 while the link is being or has been shut down
std::atomic<int> g_connected{0};       // 1 while the port is open and configured
std::atomic<int> g_savedPort{0};       // the port of the last OpenLink; reopens use it
std::atomic<uint64_t> g_generation{0}; // counts successful opens, so a reader can tell a reopen

// The port lock and the device live for the whole process and are never destroyed: a thread
// may still be inside a read when static destructors would run.
std::recursive_mutex& PortLock() {
    static auto* lock = new std::recursive_mutex;
    return *lock;
}
std::unique_ptr<SerialDevice>& DeviceSlot() {
    static auto* slot = new std::unique_ptr<SerialDevice>(new SerialDevice);
    return *slot;
}
SerialDevice& Device() {
    return *DeviceSlot();
}

// Threads waiting for input on Device() outside the port lock. The device is closed only after
// they have been woken and left (counted down with release, waited for with acquire).
std::atomic<int> g_pollers{0};

thread_local int t_portLockDepth = 0;
// A failure message raised while this thread holds the port lock is shown after it lets go,
// so that no thread waits for an operator while holding the lock the other thread needs.
thread_local std::optional<OperatorMessage> t_pendingMessage;

class PortLockGuard {
public:
    PortLockGuard() {
        PortLock().lock();
        ++t_portLockDepth;
    }
    ~PortLockGuard() {
        --t_portLockDepth;
        PortLock().unlock();
        if (t_portLockDepth == 0 && t_pendingMessage) {
            OperatorMessage message = std::move(*t_pendingMessage);
            t_pendingMessage.reset();
            ShowOperatorMessage(message);
        }
    }
    PortLockGuard(const PortLockGuard&) = delete;
    PortLockGuard& operator=(const PortLockGuard&) = delete;
};

// Marks the link down and releases the device. Caller holds the port lock.
void ReleaseDevice() {
    g_connected.store(0);
    SerialDevice& device = Device();
    if (!device.IsOpen())
        return;
    device.Wake();
    for (int n = g_pollers.load(std::memory_order_acquire); n != 0; n = g_pollers.load(std::memory_order_acquire))
        g_pollers.wait(n, std::memory_order_acquire);
    device.Close();
}

// The port failed under a read or write: the link is lost until a reopen. Caller holds the port lock.
void LoseDevice() {
    TraceEvent("lost");
    ReleaseDevice();
}

void LeavePoll() {
    g_pollers.fetch_sub(1, std::memory_order_release);
    g_pollers.notify_all();
}

// ---- receiver thread bookkeeping ----------------------------------------------------------
std::mutex g_threadMutex;
bool g_receiverAlive = false;   // a receiver thread runs (guarded by g_threadMutex)
bool g_receiverReading = false; // ... and is past its start pause (guarded by g_threadMutex)
std::condition_variable g_receiverReadingChanged;
bool g_receiverJoinable = false; // g_receiver has not been joined yet
ThreadHandle g_receiver{};

void JoinFinishedReceiverLocked(std::unique_lock<std::mutex>& lock) {
    if (!g_receiverJoinable || IsCurrentThread(g_receiver))
        return;
    ThreadHandle handle = g_receiver;
    g_receiverJoinable = false;
    lock.unlock();
    JoinThread(handle);
    lock.lock();
}

// Starts a receiver unless one is still running; that one then goes on, since it decides to
// end only under g_threadMutex and only while the stop flag is raised.
void EnsureReceiver() {
    std::unique_lock<std::mutex> lock(g_threadMutex);
    if (g_receiverAlive)
        return;
    JoinFinishedReceiverLocked(lock);
    if (g_receiverAlive)
        return;
    ThreadHandle handle{};
    if (!StartThread(&handle, kReceiverStackBytes, ReceiveLoop, nullptr))
        return; // the link still works for writing; a later open tries again
    g_receiver = handle;
    g_receiverAlive = true;
    g_receiverJoinable = true;
}

// Called by the receiver when it saw the stop flag: ends it unless the link was opened again.
bool ReceiverShouldEnd() {
    std::lock_guard<std::mutex> lock(g_threadMutex);
    if (g_linkStop.load() == 0)
        return false;
    g_receiverAlive = false;
    g_receiverReading = false;
    g_receiverReadingChanged.notify_all();
    return true;
}

// Called by the receiver when its start pause is over.
void ReceiverStartsReading() {
    std::lock_guard<std::mutex> lock(g_threadMutex);
    g_receiverReading = true;
    g_receiverReadingChanged.notify_all();
}

// Waits for the receiver thread to end. Never from the receiver itself, and never while this
// thread holds the port lock (the receiver may be waiting for it).
void WaitForReceiverEnd() {
    if (t_portLockDepth > 0)
        return;
    std::unique_lock<std::mutex> lock(g_threadMutex);
    JoinFinishedReceiverLocked(lock);
}

// ---- packet ring --------------------------------------------------------------------------
// One producer (the receiver), one consumer (TakePacket on the GUI thread). Each index is
// written by one side only.
uint8_t g_ring[kRingSlots][kPacketSize];
std::atomic<int> g_readIndex{0};
std::atomic<int> g_writeIndex{0};
std::atomic<uint64_t> g_dropped{0};

int NextSlot(int index) {
    return index + 1 == kRingSlots ? 0 : index + 1;
}

void LinkErrorDetailed(const char* text, const std::string& device, const std::string& reason) {
    CloseLink();
    OperatorMessage message{text, kIconError, device, reason};
    if (t_portLockDepth > 0)
        t_pendingMessage = std::move(message);
    else
        ShowOperatorMessage(message);
}

// Reads up to count bytes within count + 50 ms. *lost is set when the link was found down or
// went down (the caller must not join bytes from before and after that); *generation tells which
// open of the port the bytes came from.
int ReadBytesChecked(uint8_t* buffer, int count, bool* lost, uint64_t* generation) {
    *lost = false;
    if (count <= 0)
        return 0;
    const int64_t deadline = NowUs() + (static_cast<int64_t>(count) + kReadExtraMs) * 1000;
    int got = 0;
    {
        PortLockGuard lock;
        if (g_connected.load() == 0) {
            *lost = true;
            // A close in progress must not be undone by a reopen.
            if (g_linkStop.load() == 0)
                OpenLink(g_savedPort.load());
            return 0;
        }
        *generation = g_generation.load();
        int r = Device().ReadSome(buffer, count);
        if (r < 0) {
            LoseDevice();
            *lost = true;
            return 0;
        }
        got = r;
        if (got == count)
            return got;
        g_pollers.fetch_add(1, std::memory_order_relaxed);
    }
    // Wait for input outside the port lock, so a write never waits out a silent line.
    for (;;) {
        int64_t leftUs = deadline - NowUs();
        SerialDevice::WaitResult wait = leftUs > 0 ? Device().WaitReadable(static_cast<int>((leftUs + 999) / 1000))
                                                   : SerialDevice::WaitResult::TimedOut;
        LeavePoll();
        if (wait == SerialDevice::WaitResult::TimedOut)
            return got;
        PortLockGuard lock;
        if (g_connected.load() == 0 || g_generation.load() != *generation) {
            *lost = true;
            return 0;
        }
        if (wait == SerialDevice::WaitResult::Woken)
            return got; // the link is being closed; the caller looks at the stop flag
        if (wait == SerialDevice::WaitResult::HangUp || wait == SerialDevice::WaitResult::Failed) {
            LoseDevice();
            *lost = true;
            return 0;
        }
        int r = Device().ReadSome(buffer + got, count - got);
        if (r < 0) {
            LoseDevice();
            *lost = true;
            return 0;
        }
        got += r;
        if (got == count || NowUs() >= deadline)
            return got;
        g_pollers.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace

std::string PortName(int port) {
    char name[12];
    std::snprintf(name, sizeof name, "COM%d", port);
    return name;
}

int OpenLink(int port) {
    const std::string name = PortName(port);
    const std::string path = PortDevicePath(port);
    // Reads and writes repair a lost link from inside the port lock; an operator's open does not.
    const bool repair = t_portLockDepth > 0;

    const char* failure = nullptr;
    DeviceError error{ENODEV, path, "open"};
    {
        // The stop flag changes only under the port lock, so a close cannot slip between a
        // reader's decision to reopen and the reopen lowering the flag again.
        PortLockGuard lock;
        g_savedPort.store(port);
        g_linkStop.store(0);
        ReleaseDevice(); // never two devices, and never a device left from a failed attempt
        SerialDevice& device = Device();
        if (path.empty() || !device.Open(path, &error)) {
            failure = kMsgNoAccess;
        } else {
            switch (device.Configure(&error)) {
            case SerialDevice::ConfigureResult::Ok:
                break;
            case SerialDevice::ConfigureResult::CannotRead:
                failure = kMsgNoAccess;
                break;
            case SerialDevice::ConfigureResult::Refused:
                failure = kMsgConfigError;
                break;
            }
        }
        if (failure) {
            // Release the device at once: left open it would stay locked against everyone.
            device.Close();
            g_connected.store(0);
        } else {
            g_generation.fetch_add(1);
            g_connected.store(1);
        }
    }

    if (failure) {
        char text[100];
        std::snprintf(text, sizeof text, failure, name.c_str());
        TraceEvent((repair ? "cannot reopen " : "cannot open ") + name + ' ' + path + ": " + error.Describe());
        if (path.empty())
            error.path.clear();
        LinkErrorDetailed(text, path, DiagnosePortFailure(port, path, error.err, error.step));
        return 0;
    }
    TraceEvent((repair ? "reopen " : "open ") + name + ' ' + path, !repair);
    EnsureReceiver();
    return g_connected.load();
}

void CloseLink() {
    bool wasConnected = false;
    {
        PortLockGuard lock;
        wasConnected = g_connected.load() != 0;
        g_linkStop.store(1);
        if (Device().IsOpen())
            Device().Wake(); // the receiver leaves its wait now instead of after a read time-out
    }
    if (wasConnected) {
        TraceEvent("close");
        SleepMs(kCloseLinkPauseMs);
    }
    WaitForReceiverEnd();
    {
        PortLockGuard lock;
        ReleaseDevice();
    }
    g_connected.store(0);
}

int IsConnected() {
    return g_connected.load();
}

void SendPacket(const uint8_t* packet) {
    const bool written = g_linkStop.load() == 0 && WriteBytes(packet, kPacketSize) == kPacketSize;
    TracePacket(written ? TraceDirection::Sent : TraceDirection::Unsent, packet);
}

int ReadBytes(uint8_t* buffer, int count) {
    bool lost = false;
    uint64_t generation = 0;
    return ReadBytesChecked(buffer, count, &lost, &generation);
}

int WriteBytes(const uint8_t* buffer, int count) {
    PortLockGuard lock;
    const bool stopping = g_linkStop.load() != 0;
    if (g_connected.load() != 0 && !stopping) {
        // A write of n bytes is given n ms.
        int written = Device().Write(buffer, count, count);
        if (written < 0) {
            LoseDevice();
            return 0;
        }
        return written;
    }
    if (g_connected.load() == 0 && !stopping)
        OpenLink(g_savedPort.load()); // this call's bytes are not written
    return 0;
}

void LinkError(const char* text) {
    LinkErrorDetailed(text, {}, {});
}

void ReceiveLoop(void*) {
    // Nothing is read during the start pause; bytes wait in the driver. A close ends it early.
    // Against the clock rather than by counting steps: each sleep overshoots a little.
    const int64_t readFrom = NowMs() + kReceiverStartPauseMs;
    for (int64_t now = NowMs(); now < readFrom && g_linkStop.load() == 0; now = NowMs())
        SleepMs(static_cast<int>(std::min<int64_t>(kStartPauseStepMs, readFrom - now)));
    ReceiverStartsReading();
    for (;;) {
        if (g_linkStop.load() != 0 && ReceiverShouldEnd())
            return;
        SleepMs(kReceiverIdleSleepMs);
        const int slot = g_writeIndex.load(std::memory_order_relaxed);
        // The slot at the write index is never one the consumer may copy, full ring or not.
        if (!ReadPacket(g_ring[slot]))
            continue;
        const int next = NextSlot(slot);
        // acquire: the consumer's copy of the slot next to us happened before it moved on.
        if (next == g_readIndex.load(std::memory_order_acquire)) {
            g_dropped.fetch_add(1, std::memory_order_relaxed); // full: refuse the newest
            TracePacket(TraceDirection::Refused, g_ring[slot]);
            continue;
        }
        TracePacket(TraceDirection::Received, g_ring[slot]);
        // release: publishes the slot's 188 bytes before the index that makes them visible.
        g_writeIndex.store(next, std::memory_order_release);
    }
}

int ReadPacket(uint8_t* destination) {
    PacketReader reader;
    for (;;) {
        if (g_linkStop.load() != 0)
            return 0;
        bool lost = false;
        uint64_t generation = 0;
        const int n = ReadBytesChecked(reader.FillPointer(), reader.Missing(), &lost, &generation);
        // Never join bytes from before and after a lost link, nor bytes of two opens of the
        // port (a write on the other thread may have reopened it between two reads).
        if (lost) {
            reader.Lost();
        } else if (reader.Read(n, generation)) {
            std::memcpy(destination, reader.Packet(), kPacketSize);
            return 1;
        }
        if (n == 0)
            SleepMs(kReceiverIdleSleepMs);
    }
}

int TakePacket(uint8_t* buffer) {
    const int read = g_readIndex.load(std::memory_order_relaxed);
    // acquire: pairs with the receiver's release, so the slot holds all its bytes.
    if (read == g_writeIndex.load(std::memory_order_acquire))
        return 0;
    std::memcpy(buffer, g_ring[read], kPacketSize);
    // release: the copy is done before the receiver may see this slot as free.
    g_readIndex.store(NextSlot(read), std::memory_order_release);
    return 1;
}

int LinkStopFlag() {
    return g_linkStop.load();
}

uint64_t DroppedPackets() {
    return g_dropped.load();
}

bool WaitReceiverReady(int timeoutMs) {
    std::unique_lock<std::mutex> lock(g_threadMutex);
    // A link closed or stopped meanwhile will not get ready: no point in waiting it out.
    return g_receiverReadingChanged.wait_for(
               lock, std::chrono::milliseconds(timeoutMs),
               [] { return (g_receiverReading && g_connected.load() == 1) || g_linkStop.load() != 0; }) &&
           g_receiverReading && g_connected.load() == 1;
}

void UseSerialDevice(std::unique_ptr<SerialDevice> device) {
    PortLockGuard lock;
    ReleaseDevice();
    DeviceSlot() = std::move(device);
}

bool ReceiverRunning() {
    std::lock_guard<std::mutex> lock(g_threadMutex);
    return g_receiverAlive;
}
