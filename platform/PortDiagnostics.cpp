#include "platform/PortDiagnostics.h"

#include "platform/PortLookup.h"
#include "platform/SerialDevice.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <filesystem>
#include <initializer_list>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The texts of the details, "{}" standing for the values filled in. Each ends a line.
constexpr const char* kTextNoPortChosen = "No port is chosen: pick the box's port in Config > Port.";
constexpr const char* kTextNotSerial = "{} is not a serial port.";
constexpr const char* kTextNoDevice = "There is no device {}.";
constexpr const char* kTextBrokenLink =
    "{} points to {}, which is not there (unplugged, or plugged in under another name).";
constexpr const char* kTextNonePresent = "No serial device is present. Check that the box's USB cable is plugged in; "
                                         "a recognised adapter appears under {}/serial/by-id/.";
constexpr const char* kTextPresent = "Serial devices present:";
constexpr const char* kTextHowToMap =
    "To use one as COM{}, map it to the port number by its serial number or "
    "stable name:\n  kv6251-cli map {} {}\nor link it yourself:\n  ln -sf {} {}/com{}";
constexpr const char* kTextGroupUnknown = "This user may not use the device. Serial devices usually belong to the "
                                          "group \"dialout\": add the user to it (sudo usermod -aG dialout {}), "
                                          "then log out and log in again.";
constexpr const char* kTextGroupHeld = "The device belongs to the group \"{}\", which this program already has, but "
                                       "the device's permissions do not let the group read and write it. Check the "
                                       "udev rule that sets them.";
constexpr const char* kTextGroupListed = "The device belongs to the group \"{}\". The user {} is already a member, "
                                         "but this session started before joining it: log out and log in again (or "
                                         "restart the computer).";
constexpr const char* kTextGroupJoin = "The device belongs to the group \"{}\" and the user {} is not a member. "
                                       "Join it with: sudo usermod -aG {} {}\nthen log out and log in again, as a "
                                       "new group applies only to new logins.";
constexpr const char* kTextInUse = "The device is in use by another program.";
constexpr const char* kTextHeldBy = "It is held by process {} ({}).";
constexpr const char* kTextThisProgram = ", this program";
constexpr const char* kTextUnknownProgram = "unknown program";
constexpr const char* kTextHolderUnknown = "Which program holds it could not be found (it may run as another user).";
constexpr const char* kTextCloseIt = "Close that program, or choose another port, and connect again.";
constexpr const char* kTextUnplugged = "The device stopped answering while it was being set up (unplugged?).";
constexpr const char* kTextSpeed =
    "The adapter's driver does not accept 1,500,000 baud; the box needs an adapter that supports that speed.";
constexpr const char* kTextModemLines = "The adapter's driver does not let the program raise DTR and RTS.";
constexpr const char* kTextSettings = "The adapter's driver refused the line settings the box needs (1,500,000 "
                                      "baud, 8 data bits, no parity, 1 stop bit, RTS/CTS flow control).";
constexpr const char* kTextGrabber = "{} is running (process {}): {}. If the adapter keeps failing, {}.";

// Services that take USB serial adapters away from the programs that want them.
struct KnownGrabber {
    const char* name;
    const char* why;
    const char* remedy;
};
const KnownGrabber kKnownGrabbers[] = {
    {"ModemManager", "it probes every new USB serial adapter for a modem and can hold it for seconds",
     "stop it (sudo systemctl stop ModemManager) or keep it away from this adapter with a udev rule "
     "(ENV{ID_MM_DEVICE_IGNORE}=\"1\")"},
    {"brltty", "it claims some USB serial adapters for braille displays, so their ttyUSB device disappears",
     "remove it (sudo apt remove brltty) if no braille display is used"},
};

// Appends text with each "{}" replaced by the next value, and a line end.
void Say(std::string* out, std::string_view text, std::initializer_list<std::string_view> values = {}) {
    *out += FillIn(text, values) + '\n';
}

std::vector<int> ProcessIds(const DiagnosticRoots& roots) {
    std::vector<int> pids;
    std::error_code ec;
    for (fs::directory_iterator it(roots.proc, ec), end; !ec && it != end; it.increment(ec)) {
        const NumberedName name = SplitTrailingNumber(it->path().filename().string());
        if (name.stem.empty() && name.number >= 0)
            pids.push_back(name.number);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

// True when lexically_normal() would leave the path as it is: no empty, "." or ".." parts.
bool IsNormalPath(std::string_view p) {
    const bool absolute = !p.empty() && p.front() == '/';
    size_t start = absolute ? 1 : 0;
    if (p.size() == start)
        return true;
    while (true) {
        const size_t end = std::min(p.find('/', start), p.size());
        const std::string_view part = p.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (end == p.size())
            return true;
        start = end + 1;
    }
}

std::string ProcessName(const DiagnosticRoots& roots, int pid) {
    return ReadFirstLine(fs::path(roots.proc) / std::to_string(pid) / "comm");
}

std::string UserName() {
    std::vector<char> buffer(kDatabaseBuffer);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return "$USER";
}

// Serial devices that exist: the stable names under <dev>/serial/by-id/ first (each followed by
// " -> " and the device it points to), then <dev>/ttyUSB* and <dev>/ttyACM*, in numeric order.
std::vector<std::string> ListSerialDevices(const DiagnosticRoots& roots) {
    std::vector<std::string> result;
    std::error_code ec;

    const fs::path byId = fs::path(roots.dev) / "serial" / "by-id";
    std::vector<std::string> stable;
    for (fs::directory_iterator it(byId, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        fs::path target = fs::read_symlink(it->path(), linkError);
        std::string entry = it->path().string();
        if (!linkError) {
            if (target.is_relative())
                target = (byId / target).lexically_normal();
            entry += " -> " + target.string();
        }
        stable.push_back(entry);
    }
    std::sort(stable.begin(), stable.end());
    result.insert(result.end(), stable.begin(), stable.end());

    std::vector<std::string> plain;
    for (fs::directory_iterator it(roots.dev, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (IsKernelSerialName(name))
            plain.push_back(name);
    }
    std::sort(plain.begin(), plain.end(), NaturalLess);
    for (const std::string& name : plain)
        result.push_back((fs::path(roots.dev) / name).string());
    return result;
}

// Processes with an open descriptor on the device (the path or what it resolves to).
std::vector<ProcessInfo> FindProcessesUsing(const std::string& devicePath, const DiagnosticRoots& roots) {
    return FindProcessesUsingEach({devicePath}, roots).front();
}

// Processes whose command name is exactly `name`.
std::vector<ProcessInfo> FindProcessesNamed(const std::string& name, const DiagnosticRoots& roots) {
    std::vector<ProcessInfo> result;
    for (int pid : ProcessIds(roots)) {
        std::string comm = ProcessName(roots, pid);
        if (comm == name)
            result.push_back({pid, comm});
    }
    return result;
}

struct GroupFacts {
    std::string name;        // the device's group, empty when unknown
    bool processHas = false; // this process runs with it
    bool userListed = false; // the user database already lists the user in it
};

GroupFacts DeviceGroup(const struct stat& st, const std::string& user) {
    GroupFacts facts;
    const std::optional<GroupEntry> entry = LookUpGroup(st.st_gid);
    if (!entry)
        return facts;
    facts.name = entry->name;
    facts.userListed = std::find(entry->members.begin(), entry->members.end(), user) != entry->members.end();

    facts.processHas = ::getegid() == st.st_gid;
    int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> groups(static_cast<size_t>(count));
        count = ::getgroups(count, groups.data());
        for (int i = 0; i < count; ++i)
            if (groups[static_cast<size_t>(i)] == st.st_gid)
                facts.processHas = true;
    }
    return facts;
}

void ExplainPermission(const std::string& devicePath, std::string* out) {
    struct stat st {};
    const std::string user = UserName();
    GroupFacts group;
    if (::stat(devicePath.c_str(), &st) == 0)
        group = DeviceGroup(st, user);
    if (group.name.empty())
        Say(out, kTextGroupUnknown, {user});
    else if (group.processHas)
        Say(out, kTextGroupHeld, {group.name});
    else if (group.userListed)
        Say(out, kTextGroupListed, {group.name, user});
    else
        Say(out, kTextGroupJoin, {group.name, user, group.name, user});
}

void ExplainBusy(const std::string& devicePath, const DiagnosticRoots& roots, std::string* out) {
    Say(out, kTextInUse);
    std::vector<ProcessInfo> users = FindProcessesUsing(devicePath, roots);
    const int self = static_cast<int>(::getpid());
    for (const ProcessInfo& p : users) {
        std::string who = p.name.empty() ? kTextUnknownProgram : p.name;
        if (p.pid == self)
            who += kTextThisProgram;
        Say(out, kTextHeldBy, {std::to_string(p.pid), who});
    }
    if (users.empty())
        Say(out, kTextHolderUnknown);
    Say(out, kTextCloseIt);
}

void ExplainMapping(int port, const DiagnosticRoots& roots, std::string* out) {
    std::vector<std::string> devices = ListSerialDevices(roots);
    if (devices.empty()) {
        Say(out, kTextNonePresent, {roots.dev});
        return;
    }
    Say(out, kTextPresent);
    for (const std::string& d : devices)
        *out += "  " + d + "\n";
    // The stable name survives re-plugging and other adapters; offer it when there is one.
    std::string example = devices.front();
    size_t arrow = example.find(" -> ");
    if (arrow != std::string::npos)
        example.resize(arrow);
    const std::string portText = port >= 1 ? std::to_string(port) : "<n>";
    Say(out, kTextHowToMap, {portText, portText, example, example, MapDirOrRoot(roots.mapDir), portText});
}

void ExplainMissing(int port, const std::string& devicePath, const DiagnosticRoots& roots, std::string* out) {
    struct stat st {};
    if (::lstat(devicePath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::error_code ec;
        fs::path target = fs::read_symlink(devicePath, ec);
        Say(out, kTextBrokenLink, {devicePath, ec ? std::string("?") : target.string()});
    } else {
        Say(out, kTextNoDevice, {devicePath});
    }
    ExplainMapping(port, roots, out);
}

void ExplainSettings(int err, const std::string& step, std::string* out) {
    if (err == EIO || err == ENODEV || err == ENXIO)
        Say(out, kTextUnplugged);
    else if (step == "speed")
        Say(out, kTextSpeed);
    else if (step == "modem-lines")
        Say(out, kTextModemLines);
    else
        Say(out, kTextSettings);
}

void ExplainGrabbers(const DiagnosticRoots& roots, std::string* out) {
    for (const KnownGrabber& g : kKnownGrabbers) {
        std::vector<ProcessInfo> running = FindProcessesNamed(g.name, roots);
        if (!running.empty())
            Say(out, kTextGrabber, {g.name, std::to_string(running.front().pid), g.why, g.remedy});
    }
}

bool IsBusy(int err) {
    return err == EBUSY || err == EAGAIN || err == EWOULDBLOCK;
}
bool IsMissing(int err) {
    return err == ENOENT || err == ENXIO || err == ENODEV;
}

} // namespace

std::vector<std::vector<ProcessInfo>> FindProcessesUsingEach(const std::vector<std::string>& devicePaths,
                                                             const DiagnosticRoots& roots) {
    std::vector<std::vector<ProcessInfo>> result(devicePaths.size());
    struct Wanted {
        std::string asGiven, resolved; // both normal; empty: matches nothing
    };
    std::vector<Wanted> wanted;
    for (const std::string& devicePath : devicePaths) {
        if (devicePath.empty()) {
            wanted.push_back({});
            continue;
        }
        std::error_code ec;
        std::string asGiven = fs::path(devicePath).lexically_normal().string();
        fs::path resolved = fs::canonical(devicePath, ec);
        wanted.push_back({asGiven, ec ? asGiven : resolved.string()});
    }
    if (std::all_of(wanted.begin(), wanted.end(), [](const Wanted& w) { return w.asGiven.empty(); }))
        return result;

    // Every descriptor of every readable process is looked at, for a whole port list at once:
    // plain readdir/readlinkat, and no normalising of the kernel's link texts, which are normal.
    std::vector<bool> holds(wanted.size());
    std::array<char, PATH_MAX> link{};
    std::string normal;
    for (int pid : ProcessIds(roots)) {
        const std::string fdDir = roots.proc + "/" + std::to_string(pid) + "/fd";
        DIR* dir = ::opendir(fdDir.c_str());
        if (!dir)
            continue; // gone, or another user's
        std::fill(holds.begin(), holds.end(), false);
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const ssize_t n = ::readlinkat(::dirfd(dir), entry->d_name, link.data(), link.size());
            if (n <= 0 || static_cast<size_t>(n) >= link.size())
                continue;
            std::string_view target(link.data(), static_cast<size_t>(n));
            if (!IsNormalPath(target)) {
                normal = fs::path(target).lexically_normal().string();
                target = normal;
            }
            for (size_t i = 0; i < wanted.size(); ++i)
                if (!wanted[i].asGiven.empty() && (target == wanted[i].resolved || target == wanted[i].asGiven))
                    holds[i] = true;
        }
        ::closedir(dir);
        if (std::find(holds.begin(), holds.end(), true) == holds.end())
            continue;
        const ProcessInfo info{pid, ProcessName(roots, pid)};
        for (size_t i = 0; i < wanted.size(); ++i)
            if (holds[i])
                result[i].push_back(info);
    }
    return result;
}

std::string DiagnosePortFailure(int port, const std::string& devicePath, int err, const std::string& step) {
    return DiagnosePortFailure(port, devicePath, err, step, DiagnosticRoots{});
}

std::string DiagnosePortFailure(int port, const std::string& devicePath, int err, const std::string& step,
                                const DiagnosticRoots& roots) {
    std::string out;
    if (devicePath.empty()) {
        Say(&out, kTextNoPortChosen);
        ExplainMapping(port, roots, &out);
        return out;
    }
    // The same first line the device gives for the failure, then what it means.
    const std::string stepName = step.empty() ? std::string("open") : step;
    out += DeviceError{err, devicePath, stepName}.Describe() + "\n";

    if (err == EACCES || err == EPERM) {
        ExplainPermission(devicePath, &out);
        return out;
    }
    if (stepName == "isatty" || err == ENOTTY) {
        Say(&out, kTextNotSerial, {devicePath});
        ExplainMapping(port, roots, &out);
        return out;
    }
    if (IsBusy(err))
        ExplainBusy(devicePath, roots, &out);
    else if (IsMissing(err) && stepName == "open")
        ExplainMissing(port, devicePath, roots, &out);
    else if (stepName != "open" && stepName != "flock" && stepName != "TIOCEXCL")
        ExplainSettings(err, stepName, &out);
    ExplainGrabbers(roots, &out);
    return out;
}
