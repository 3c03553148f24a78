#include "files/PortFile.h"

#include "platform/AtomicWrite.h"
#include "platform/ReadUpTo.h"
#include "platform/RootDir.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// The file holds the port number alone: 2 bytes, low byte first.
constexpr size_t kPortFileSize = 2;

// Empty when there is no root directory: the file must not land in "/" then.
std::string PortFilePath() { return RootPath(kPortFileName); }

} // namespace

bool LoadPortSetting(int16_t* port) {
    std::string path = PortFilePath();
    if (path.empty())
        return false;
    // Reading needs no write access: a setting file someone made read-only still counts.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char bytes[kPortFileSize] = {};
    const ssize_t got = ReadUpTo(fd, bytes, kPortFileSize);
    ::close(fd);
    // A short file is a damaged one; half a number is no port setting.
    if (got < static_cast<ssize_t>(kPortFileSize))
        return false;
    *port = static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)));
    return true;
}

bool SavePortSetting(int16_t port) {
    std::string path = PortFilePath();
    if (path.empty())
        return false;
    const auto raw = static_cast<uint16_t>(port);
    const char bytes[kPortFileSize] = {static_cast<char>(raw & 0xFFu), static_cast<char>(raw >> 8)};
    return WriteFileAtomically(path, std::string_view(bytes, kPortFileSize), nullptr);
}
