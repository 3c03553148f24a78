#include "platform/PortInventory.h"

#include "platform/PortLookup.h"
#include "platform/PortMap.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Ports the operator can always pick, whether or not anything is mapped to them.
constexpr int kListedPorts = 9;

// 1..9, then the com<n> names beyond them that exist in the map directory.
std::vector<int> PortNumbers(const std::string& mapDir) {
    std::vector<int> ports;
    for (int n = 1; n <= kListedPorts; ++n)
        ports.push_back(n);
    std::vector<int> extra;
    std::error_code ec;
    for (fs::directory_iterator it(mapDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const int n = SplitTrailingNumber(name).number;
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

// What each link in folder resolves to; the first name in order wins.
std::map<fs::path, std::string> LinksByTarget(const fs::path& folder) {
    std::vector<fs::path> links;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
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

// The same folder whether named through symbolic links or not; lexical when it cannot be resolved.
fs::path SameFolder(const fs::path& folder) {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(folder, ec);
    return ec ? folder.lexically_normal() : resolved;
}

std::string GroupName(gid_t gid, std::map<gid_t, std::string>* known) {
    if (auto it = known->find(gid); it != known->end())
        return it->second;
    const std::optional<GroupEntry> entry = LookUpGroup(gid);
    return known->emplace(gid, entry ? entry->name : std::string()).first->second;
}

} // namespace

StableNames FindStableNames(const std::string& dev) {
    const fs::path serial = fs::path(dev) / "serial";
    return {LinksByTarget(serial / "by-id"), LinksByTarget(serial / "by-path")};
}

// The USB device is the first parent of the tty's sysfs node with idVendor and idProduct (the tty
// hangs below a USB interface, which hangs below the device).
PortAdapter KernelAdapter(const fs::path& node, const fs::path& devDir, const fs::path& sysRoot, fs::path* usbDevice) {
    PortAdapter adapter;
    // sysfs names the ttys that sit directly in /dev; a pty (under /dev/pts) or a file elsewhere has none.
    if (sysRoot.empty() || node.parent_path() != devDir)
        return adapter;
    std::error_code ec;
    fs::path dir = fs::canonical(sysRoot / "class" / "tty" / node.filename() / "device", ec);
    for (; !ec && IsBelow(dir, sysRoot); dir = dir.parent_path()) {
        std::error_code missing;
        if (!fs::exists(dir / "idVendor", missing) || !fs::exists(dir / "idProduct", missing))
            continue;
        adapter.vendorId = ReadFirstLine(dir / "idVendor");
        adapter.productId = ReadFirstLine(dir / "idProduct");
        adapter.serial = ReadFirstLine(dir / "serial");
        adapter.manufacturer = ReadFirstLine(dir / "manufacturer");
        adapter.product = ReadFirstLine(dir / "product");
        if (usbDevice)
            *usbDevice = dir;
        break;
    }
    return adapter;
}

LinkKind ClassifyLinkText(const fs::path& text, const fs::path& linkDir, const DiagnosticRoots& roots) {
    const fs::path named = (text.is_absolute() ? text : linkDir / text).lexically_normal();
    const fs::path folder = SameFolder(named.parent_path()), dev = SameFolder(roots.dev);
    if (folder == SameFolder(dev / "serial" / "by-id"))
        return LinkKind::ById;
    if (folder == SameFolder(dev / "serial" / "by-path"))
        return LinkKind::ByPath;
    if (folder == dev && IsKernelSerialName(named.filename().string()))
        return LinkKind::KernelName;
    return LinkKind::Other;
}

std::vector<PortEntry> InventoryPorts(const DiagnosticRoots& roots) {
    const std::string mapDir = MapDirOrRoot(roots.mapDir);
    std::error_code devError, sysError;
    const fs::path devDir = fs::canonical(roots.dev, devError);
    const fs::path sysRoot = fs::canonical(roots.sys, sysError);
    const StableNames stableNames = FindStableNames(roots.dev);
    std::map<gid_t, std::string> groups;

    std::vector<PortEntry> entries;
    for (int port : PortNumbers(mapDir)) {
        PortEntry e;
        e.port = port;
        e.device = PortDevicePath(port, mapDir, roots.dev);
        e.mapped = !mapDir.empty() && e.device == mapDir + "/" + PortMapName(port);
        struct stat st {};
        e.exists = ::stat(e.device.c_str(), &st) == 0;
        if (e.mapped) {
            std::error_code ec;
            const fs::path text = fs::read_symlink(e.device, ec);
            const LinkKind kind = ec ? LinkKind::Other : ClassifyLinkText(text, mapDir, roots);
            e.identity = kind == LinkKind::ById || kind == LinkKind::ByPath;
            e.unstable = kind == LinkKind::KernelName;
        } else {
            e.unstable = e.exists; // the default is a kernel name, <dev>/ttyUSB<n-1>
        }
        if (e.exists) {
            e.group = GroupName(st.st_gid, &groups);
            std::error_code ec;
            const fs::path target = fs::canonical(e.device, ec);
            if (!ec) {
                e.target = target.string();
                e.adapter = KernelAdapter(target, devDir, sysRoot);
                if (auto it = stableNames.byId.find(target); it != stableNames.byId.end())
                    e.adapter.byIdName = it->second;
                if (auto it = stableNames.byPath.find(target); it != stableNames.byPath.end())
                    e.adapter.byPathName = it->second;
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
