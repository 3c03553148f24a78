#include "platform/Timing.h"

#include <cerrno>
#include <ctime>
#include <limits.h>
#include <new>

void SleepMs(int ms) {
    if (ms <= 0)
        return;
    timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

int64_t NowUs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int64_t NowMs() {
    return NowUs() / 1000;
}

timespec TimespecFromUs(int64_t us) {
    if (us < 0)
        us = 0;
    return timespec{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000L};
}

namespace {

struct ThreadStart {
    void (*entry)(void*);
    void* arg;
};

void* Trampoline(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.entry(start.arg);
    return nullptr;
}

} // namespace

bool StartThread(ThreadHandle* handle, size_t stackBytes, void (*entry)(void*), void* arg) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
    size_t stack = stackBytes < minimum ? minimum : stackBytes;
    // The sanitizers' runtimes need far more stack than the receiver itself does.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (stack < 1024 * 1024)
        stack = 1024 * 1024;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    if (stack < 1024 * 1024)
        stack = 1024 * 1024;
#endif
#endif
    const size_t page = 4096;
    stack = (stack + page - 1) / page * page;
    pthread_attr_setstacksize(&attr, stack);
    auto* start = new (std::nothrow) ThreadStart{entry, arg};
    bool ok = start && pthread_create(handle, &attr, Trampoline, start) == 0;
    if (!ok)
        delete start;
    pthread_attr_destroy(&attr);
    return ok;
}

void JoinThread(ThreadHandle handle) {
    pthread_join(handle, nullptr);
}

bool IsCurrentThread(ThreadHandle handle) {
    return pthread_equal(handle, pthread_self()) != 0;
}
