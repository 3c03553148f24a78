// Sleeps, a monotonic clock and threads with a chosen stack size.
//
// SleepMs pauses the calling thread for at least ms milliseconds (signals do not cut it short).
// StartThread starts a joinable thread with the stack size asked for (rounded up to what the
// system accepts); the caller joins it with JoinThread exactly once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <pthread.h>

void SleepMs(int ms);

// Milliseconds on the monotonic clock; only differences mean anything.
int64_t NowMs();
// Microseconds on the monotonic clock.
int64_t NowUs();

// A span of microseconds as a timespec, for ppoll; a negative span counts as none.
timespec TimespecFromUs(int64_t us);

using ThreadHandle = pthread_t;

bool StartThread(ThreadHandle* handle, size_t stackBytes, void (*entry)(void*), void* arg);
void JoinThread(ThreadHandle handle);
bool IsCurrentThread(ThreadHandle handle);
