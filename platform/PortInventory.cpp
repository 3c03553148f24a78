#include "platform/PortInventory.h"

#include "platform/PortMap.h"
#include "platform/RootDir.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Ports the operator can always pick, whether or not anything is mapped to them.
constexpr int kListedPorts = 9;
// Buffer for the reentrant group database look-up; entries are small.
constexpr size_t kDatabaseBuffer = 16384;

// The first line of a sysfs attribute, without its line end; empty when unreadable.
std::string ReadAttribute(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// 1..9, then the com<n> names beyond them that exist in the map directory.
std::vector<int> PortNumbers(const std::string& mapDir) {
    std::vector<int> ports;
    for (int n = 1; n <= kListedPorts; ++n)
        ports.push_back(n);
    std::vector<int> extra;
    std::error_code ec;
    for (fs::directory_iterator it(mapDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        size_t digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
            --digits;
        if (digits == name.size() || name.size() - digits > 9)
            continue;
        const int n = std::stoi(name.substr(digits));
        // Compared with the name the port opens, so "com0", "com01" or "COM12" are not taken for a port.
        if (n > kListedPorts && PortMapName(n) == name)
            extra.push_back(n);
    }
    std::sort(extra.begin(), extra.end());
    ports.insert(ports.end(), extra.begin(), extra.end());
    return ports;
}

// True when path lies below root (root itself excluded); both canonical.
bool IsBelow(const fs::path& path, const fs::path& root) {
    const fs::path relative = path.lexically_relative(root);
    return !relative.empty() && relative != "." && *relative.begin() != "..";
}

// The USB device above the tty in sysfs: the first parent of its device node with idVendor and
// idProduct (the tty hangs below a USB interface, which hangs below the device).
PortAdapter KernelAdapter(const fs::path& target, const fs::path& devDir, const fs::path& sysRoot) {
    PortAdapter adapter;
    // sysfs names the ttys that sit directly in /dev; a pty (under /dev/pts) or a file elsewhere has none.
    if (sysRoot.empty() || target.parent_path() != devDir)
        return adapter;
    std::error_code ec;
    fs::path dir = fs::canonical(sysRoot / "class" / "tty" / target.filename() / "device", ec);
    for (; !ec && IsBelow(dir, sysRoot); dir = dir.parent_path()) {
        std::error_code missing;
        if (!fs::exists(dir / "idVendor", missing) || !fs::exists(dir / "idProduct", missing))
            continue;
        adapter.vendorId = ReadAttribute(dir / "idVendor");
        adapter.productId = ReadAttribute(dir / "idProduct");
        adapter.serial = ReadAttribute(dir / "serial");
        adapter.manufacturer = ReadAttribute(dir / "manufacturer");
        adapter.product = ReadAttribute(dir / "product");
        break;
    }
    return adapter;
}

// What each stable name under <dev>/serial/by-id/ resolves to; the first name in order wins.
std::map<fs::path, std::string> StableNames(const std::string& dev) {
    std::vector<fs::path> links;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(dev) / "serial" / "by-id", ec), end; !ec && it != end; it.increment(ec))
        links.push_back(it->path());
    std::sort(links.begin(), links.end());
    std::map<fs::path, std::string> names;
    for (const fs::path& link : links) {
        fs::path target = fs::canonical(link, ec);
        if (!ec)
            names.emplace(target, link.filename().string());
    }
    return names;
}

std::string GroupName(gid_t gid, std::map<gid_t, std::string>* known) {
    if (auto it = known->find(gid); it != known->end())
        return it->second;
    std::vector<char> buffer(kDatabaseBuffer);
    group gr{};
    group* found = nullptr;
    std::string name;
    if (::getgrgid_r(gid, &gr, buffer.data(), buffer.size(), &found) == 0 && found)
        name = found->gr_name;
    known->emplace(gid, name);
    return name;
}

} // namespace

std::vector<PortEntry> InventoryPorts(const DiagnosticRoots& roots) {
    const std::string mapDir = roots.mapDir.empty() ? RootDir() : roots.mapDir;
    std::error_code devError, sysError;
    const fs::path devDir = fs::canonical(roots.dev, devError);
    const fs::path sysRoot = fs::canonical(roots.sys, sysError);
    const std::map<fs::path, std::string> stableNames = StableNames(roots.dev);
    std::map<gid_t, std::string> groups;

    std::vector<PortEntry> entries;
    for (int port : PortNumbers(mapDir)) {
        PortEntry e;
        e.port = port;
        e.device = PortDevicePath(port, mapDir, roots.dev);
        e.mapped = !mapDir.empty() && e.device == mapDir + "/" + PortMapName(port);
        struct stat st {};
        e.exists = ::stat(e.device.c_str(), &st) == 0;
        if (e.exists) {
            e.group = GroupName(st.st_gid, &groups);
            std::error_code ec;
            const fs::path target = fs::canonical(e.device, ec);
            if (!ec) {
                e.target = target.string();
                e.adapter = KernelAdapter(target, devDir, sysRoot);
                if (auto it = stableNames.find(target); it != stableNames.end())
                    e.adapter.byIdName = it->second;
            }
        }
        entries.push_back(std::move(e));
    }

    // One pass over /proc for all ports: it is by far the slowest part.
    std::vector<std::string> devices;
    for (const PortEntry& e : entries)
        devices.push_back(e.exists ? e.device : std::string());
    std::vector<std::vector<ProcessInfo>> holders = FindProcessesUsingEach(devices, roots);
    const int self = static_cast<int>(::getpid());
    for (size_t i = 0; i < entries.size(); ++i) {
        PortEntry& e = entries[i];
        for (ProcessInfo& p : holders[i])
            if (p.pid != self)
                e.holders.push_back(std::move(p));
        if (!e.exists)
            e.access = PortAccess::Missing;
        // EPERM: an immutable device refuses writing to root as well.
        else if (::access(e.device.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM))
            e.access = PortAccess::PermissionDenied;
        else if (!e.holders.empty())
            e.access = PortAccess::InUse;
        else
            e.access = PortAccess::Ok;
    }
    return entries;
}

const char* PortAccessName(PortAccess access) {
    switch (access) {
    case PortAccess::Ok:
        return "ok";
    case PortAccess::PermissionDenied:
        return "permission denied";
    case PortAccess::InUse:
        return "in use";
    case PortAccess::Missing:
        return "missing";
    }
    return "missing";
}
