#include "platform/RootDir.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace {

bool MakeDirs(const std::string& path) {
    if (path.empty())
        return false;
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty())
            continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string RootDir() {
    std::string base;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    // The XDG rules say a relative value is invalid and must be ignored.
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/')
            return {};
        base = std::string(home) + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    std::string dir = base + "/kv6251";
    if (!MakeDirs(dir))
        return {};
    return dir;
}

std::string RootPath(std::string_view fixedName) {
    std::string root = RootDir();
    if (root.empty())
        return {}; // never fall back to the file system's root
    while (!fixedName.empty() && (fixedName.front() == '\\' || fixedName.front() == '/'))
        fixedName.remove_prefix(1);
    return root + "/" + std::string(fixedName);
}
