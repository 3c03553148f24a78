// Reading a small file whole: up to size bytes, through interruptions and short reads.
#pragma once

#include <cerrno>
#include <cstddef>
#include <unistd.h>

// The bytes read (fewer only at the end of the file), or -1 when a read failed.
inline ssize_t ReadUpTo(int fd, void* buffer, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, static_cast<char*>(buffer) + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}
