#include "platform/PortMap.h"

#include "platform/RootDir.h"

#include <sys/stat.h>

std::string PortMapName(int port) {
    return "com" + std::to_string(port);
}

std::string PortDevicePath(int port) {
    if (port < 1)
        return {}; // before RootDir(), which creates the directory
    return PortDevicePath(port, RootDir(), "/dev");
}

std::string PortDevicePath(int port, const std::string& mapDir, const std::string& devDir) {
    if (port < 1)
        return {};
    if (!mapDir.empty()) {
        std::string mapped = mapDir + "/" + PortMapName(port);
        struct stat st {};
        // lstat: a mapping that points nowhere is still the user's choice, and opening it
        // then fails with a reason that names the broken link.
        if (::lstat(mapped.c_str(), &st) == 0)
            return mapped;
    }
    return devDir + "/ttyUSB" + std::to_string(port - 1);
}
