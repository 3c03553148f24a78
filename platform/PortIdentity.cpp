#include "platform/PortIdentity.h"

#include "platform/PortLookup.h"
#include "platform/PortMap.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The texts of refusals, "{}" standing for the values filled in.
constexpr const char* kTextNothingNamed = "No device was named.";
constexpr const char* kTextNoDevice = "There is no device {}.";
constexpr const char* kTextBrokenLink = "{} points to {}, which is not there (unplugged?).";
constexpr const char* kTextNoSuchName =
    "There is no device, stable name (under {}/serial/) or adapter with the serial number \"{}\".";
constexpr const char* kTextFolder = "{} is a folder, not a device.";
constexpr const char* kTextAmbiguous = "\"{}\" stands for {} devices; map one of them by its own name:";
constexpr const char* kTextNoPort = "there is no port {}: port numbers start at 1";
constexpr const char* kTextNoTarget = "nothing to link to";
constexpr const char* kTextNoMapDir =
    "there is no folder for the mappings (neither $XDG_DATA_HOME nor $HOME gives one)";
constexpr const char* kTextLinkToItself = "{} cannot link to itself";
constexpr const char* kTextNotMapping = "{} is a {}, not a mapping; it was left as it is";
constexpr const char* kTextCannotLook = "cannot look at {}: {}";
constexpr const char* kTextCannotCreate = "cannot create a link in {}: {}";
constexpr const char* kTextCannotReplace = "cannot replace {}: {}";
constexpr const char* kTextCannotRemove = "cannot remove {}: {}";

// How many names a write tries before it gives up on finding a free temporary name.
constexpr int kTempNameTries = 100;

// A tty present in the device tree and what stands behind it.
struct Present {
    fs::path node;       // canonical
    PortAdapter adapter; // with its stable names
    fs::path usbDevice;  // the adapter's sysfs directory; empty when it is no USB adapter
};

struct Tree {
    fs::path devDir, sysRoot; // canonical
    StableNames names;
    std::vector<Present> present; // every tty a stable name points at, and every ttyUSB<k> and ttyACM<k>
};

Present Describe(const fs::path& node, const Tree& tree) {
    Present p{node, {}, {}};
    p.adapter = KernelAdapter(node, tree.devDir, tree.sysRoot, &p.usbDevice);
    if (auto it = tree.names.byId.find(node); it != tree.names.byId.end())
        p.adapter.byIdName = it->second;
    if (auto it = tree.names.byPath.find(node); it != tree.names.byPath.end())
        p.adapter.byPathName = it->second;
    return p;
}

Tree ScanTree(const DiagnosticRoots& roots) {
    Tree tree;
    std::error_code ec;
    tree.devDir = fs::canonical(roots.dev, ec);
    tree.sysRoot = fs::canonical(roots.sys, ec);
    tree.names = FindStableNames(roots.dev);
    std::set<fs::path> nodes;
    for (const auto* names : {&tree.names.byId, &tree.names.byPath})
        for (const auto& [node, name] : *names)
            nodes.insert(node);
    for (fs::directory_iterator it(roots.dev, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code gone;
        if (IsKernelSerialName(it->path().filename().string()))
            if (fs::path node = fs::canonical(it->path(), gone); !gone)
                nodes.insert(node);
    }
    for (const fs::path& node : nodes)
        tree.present.push_back(Describe(node, tree));
    std::sort(tree.present.begin(), tree.present.end(),
              [](const Present& a, const Present& b) { return NaturalLess(a.node.string(), b.node.string()); });
    return tree;
}

// True when another adapter present reports p's serial number: udev then gives the by-id name to
// whichever of them came last, so that name does not tell them apart.
bool SerialShared(const Present& p, const Tree& tree) {
    return std::any_of(tree.present.begin(), tree.present.end(), [&](const Present& q) {
        return q.adapter.serial == p.adapter.serial && q.usbDevice != p.usbDevice;
    });
}

// named: the path the operator gave, absolute; namedKind says whether it is a stable name.
PortMappingPlan ChoosePlan(const Present& p, const fs::path& named, LinkKind namedKind, const DiagnosticRoots& roots,
                           const Tree& tree) {
    PortMappingPlan plan{p.node.string(), named.string(), false, "", p.adapter};
    const fs::path serial = fs::path(roots.dev) / "serial";
    const bool idTellsApart = !p.adapter.serial.empty() && !SerialShared(p, tree);
    const bool hasId = namedKind == LinkKind::ById || !p.adapter.byIdName.empty();
    const bool hasPath = namedKind == LinkKind::ByPath || !p.adapter.byPathName.empty();
    // A by-path name the operator typed means "whatever is plugged into this socket": kept.
    if (idTellsApart && hasId && namedKind != LinkKind::ByPath) {
        plan.kind = "by-id";
        plan.linkTo = namedKind == LinkKind::ById ? named.string() : (serial / "by-id" / p.adapter.byIdName).string();
    } else if (hasPath) {
        plan.kind = "by-path";
        plan.linkTo =
            namedKind == LinkKind::ByPath ? named.string() : (serial / "by-path" / p.adapter.byPathName).string();
    }
    plan.stable = !plan.kind.empty();
    return plan;
}

PlanResult Refuse(PlanError error, std::string message) {
    PlanResult result;
    result.error = error;
    result.message = std::move(message);
    return result;
}

// The path a name without '/' stands for when it is a stable name or a name in <dev>; empty else.
fs::path NamedInDev(const std::string& name, const DiagnosticRoots& roots) {
    const fs::path dev(roots.dev);
    for (const fs::path& candidate : {dev / "serial" / "by-id" / name, dev / "serial" / "by-path" / name, dev / name}) {
        std::error_code ec;
        if (fs::symlink_status(candidate, ec).type() != fs::file_type::not_found && !ec)
            return candidate;
    }
    return {};
}

// The plan for the ttys whose adapter reports the serial number; NotFound when there is none.
PlanResult PlanBySerial(const std::string& serial, const DiagnosticRoots& roots, const Tree& tree) {
    std::vector<const Present*> matches;
    for (const Present& p : tree.present)
        if (!p.adapter.serial.empty() && p.adapter.serial == serial)
            matches.push_back(&p);
    PlanResult result;
    if (matches.empty()) {
        result.error = PlanError::NotFound;
    } else if (matches.size() == 1) {
        result.plan = ChoosePlan(*matches.front(), matches.front()->node, LinkKind::Other, roots, tree);
    } else {
        result = Refuse(PlanError::Ambiguous, FillIn(kTextAmbiguous, {serial, std::to_string(matches.size())}));
        for (const Present* p : matches)
            result.candidates.push_back(ChoosePlan(*p, p->node, LinkKind::Other, roots, tree).linkTo + " -> " +
                                        p->node.string());
    }
    return result;
}

bool Fail(std::string* reason, const std::string& text) {
    if (reason)
        *reason = text;
    return false;
}

std::string ErrorText(int err) {
    return std::strerror(err);
}

// True when nothing or a symbolic link has the mapping's name (*isLink says which); false, with the
// reason, when something else does or it cannot be looked at.
bool OnlyALinkThere(const std::string& mapping, bool* isLink, std::string* reason) {
    struct stat st {};
    *isLink = false;
    if (::lstat(mapping.c_str(), &st) != 0)
        return errno == ENOENT || Fail(reason, FillIn(kTextCannotLook, {mapping, ErrorText(errno)}));
    *isLink = S_ISLNK(st.st_mode);
    if (*isLink)
        return true;
    const char* what = S_ISDIR(st.st_mode) ? "folder" : S_ISREG(st.st_mode) ? "regular file" : "special file";
    return Fail(reason, FillIn(kTextNotMapping, {mapping, what}));
}

// <mapDir>/com<port>; false, with the reason, when there is no such port or no folder for it.
bool MappingPath(int port, const std::string& mapDir, std::string* mapping, std::string* reason) {
    if (port < 1)
        return Fail(reason, FillIn(kTextNoPort, {std::to_string(port)}));
    const std::string dir = MapDirOrRoot(mapDir);
    if (dir.empty())
        return Fail(reason, kTextNoMapDir);
    *mapping = dir + "/" + PortMapName(port);
    return true;
}

} // namespace

PlanResult PlanPortMapping(const std::string& deviceOrSerial, const DiagnosticRoots& roots) {
    const std::string& given = deviceOrSerial;
    if (given.empty())
        return Refuse(PlanError::NotFound, kTextNothingNamed);
    const Tree tree = ScanTree(roots);

    // A name without '/': a stable name, a name in <dev>, a serial number, or a file here.
    fs::path path = given;
    if (given.find('/') == std::string::npos) {
        path = NamedInDev(given, roots);
        if (path.empty()) {
            if (PlanResult bySerial = PlanBySerial(given, roots, tree); bySerial.error != PlanError::NotFound)
                return bySerial;
            path = given;
        }
    }

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(path, ec);
        if (!ec)
            return Refuse(PlanError::NotFound, FillIn(kTextBrokenLink, {path.string(), target.string()}));
        if (path == given && given.find('/') == std::string::npos)
            return Refuse(PlanError::NotFound, FillIn(kTextNoSuchName, {roots.dev, given}));
        return Refuse(PlanError::NotFound, FillIn(kTextNoDevice, {path.string()}));
    }
    if (S_ISDIR(st.st_mode))
        return Refuse(PlanError::NotFound, FillIn(kTextFolder, {path.string()}));

    std::error_code ec;
    const fs::path named = fs::absolute(path, ec).lexically_normal();
    const fs::path node = fs::canonical(path, ec);
    if (ec) // gone in between
        return Refuse(PlanError::NotFound, FillIn(kTextNoDevice, {path.string()}));
    const auto known =
        std::find_if(tree.present.begin(), tree.present.end(), [&](const Present& p) { return p.node == node; });
    PlanResult result;
    result.plan = ChoosePlan(known != tree.present.end() ? *known : Describe(node, tree), named,
                             ClassifyLinkText(named, {}, roots), roots, tree);
    return result;
}

bool WritePortMapping(int port, const std::string& linkTo, const std::string& mapDir, std::string* reason) {
    std::string mapping;
    if (!MappingPath(port, mapDir, &mapping, reason))
        return false;
    if (linkTo.empty())
        return Fail(reason, kTextNoTarget);
    const fs::path dir = fs::path(mapping).parent_path();
    if ((dir / linkTo).lexically_normal() == fs::path(mapping).lexically_normal())
        return Fail(reason, FillIn(kTextLinkToItself, {mapping}));
    bool isLink = false;
    if (!OnlyALinkThere(mapping, &isLink, reason))
        return false;

    // The new link is made under a name of its own and renamed over the old one in one step.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    for (int attempt = 1;; ++attempt) {
        temp = dir.string() + "/." + PortMapName(port) + ".tmp" + std::to_string(::getpid()) + "-" +
               std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
        if (::symlink(linkTo.c_str(), temp.c_str()) == 0)
            break;
        if (errno != EEXIST || attempt == kTempNameTries)
            return Fail(reason, FillIn(kTextCannotCreate, {dir.string(), ErrorText(errno)}));
    }
    if (::rename(temp.c_str(), mapping.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return Fail(reason, FillIn(kTextCannotReplace, {mapping, ErrorText(err)}));
    }
    return true;
}

bool RemovePortMapping(int port, const std::string& mapDir, bool* existed, std::string* reason) {
    if (existed)
        *existed = false;
    std::string mapping;
    bool isLink = false;
    if (!MappingPath(port, mapDir, &mapping, reason) || !OnlyALinkThere(mapping, &isLink, reason))
        return false;
    if (!isLink)
        return true;
    if (::unlink(mapping.c_str()) != 0)
        return errno == ENOENT || Fail(reason, FillIn(kTextCannotRemove, {mapping, ErrorText(errno)}));
    if (existed)
        *existed = true;
    return true;
}
