#include "platform/PortMap.h"

#include "platform/RootDir.h"

#include <sys/stat.h>

std::string PortDevicePath(int port) {
    if (port < 1)
        return {};
    std::string mapped = RootPath("com" + std::to_string(port));
    struct stat st {};
    // lstat: a mapping that points nowhere is still the user's choice, and opening it
    // then fails with a reason that names the broken link.
    if (::lstat(mapped.c_str(), &st) == 0)
        return mapped;
    return "/dev/ttyUSB" + std::to_string(port - 1);
}
