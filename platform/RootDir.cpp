#include "platform/RootDir.h"

#include <cstdlib>
#include <filesystem>

namespace {

// The folder and its parents, made when missing (as the umask allows); true when it is a folder.
bool MakeDirs(const std::string& path) {
    if (path.empty())
        return false;
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

std::string& RootOverride() {
    static std::string dir;
    return dir;
}

} // namespace

void UseRootDir(const std::string& dir) {
    std::error_code ec;
    RootOverride() = dir.empty() ? std::string() : std::filesystem::absolute(dir, ec).lexically_normal().string();
    while (RootOverride().size() > 1 && RootOverride().back() == '/')
        RootOverride().pop_back();
}

std::string RootDir() {
    if (!RootOverride().empty())
        return MakeDirs(RootOverride()) ? RootOverride() : std::string();
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
