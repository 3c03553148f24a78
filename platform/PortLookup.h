// Look-ups the port files of platform/ share (PortDiagnostics, PortInventory, PortIdentity); nothing
// outside platform/ includes this header.
//
// Small readers of the system's own records (a sysfs or /proc attribute, the group database),
// where the com<n> mappings live, how kernel tty names are numbered, and which USB adapter and
// which stable names stand behind a device node. None of them opens a device, fails or blocks:
// what cannot be read comes back empty.
#pragma once

#include "platform/PortDiagnostics.h"
#include "platform/RootDir.h"

#include <filesystem>
#include <fstream>
#include <grp.h>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

struct PortAdapter;

// Buffer for the reentrant user and group database look-ups; entries are small.
inline constexpr size_t kDatabaseBuffer = 16384;

// The first line of a small text file (a sysfs attribute, /proc/<pid>/comm), without its line end
// or trailing blanks; empty when unreadable.
inline std::string ReadFirstLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

struct GroupEntry {
    std::string name;
    std::vector<std::string> members; // the users the group database lists in it
};

// A group from the group database; nothing when the id has no entry.
inline std::optional<GroupEntry> LookUpGroup(gid_t gid) {
    std::vector<char> buffer(kDatabaseBuffer);
    group gr{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &gr, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::nullopt;
    GroupEntry entry{found->gr_name, {}};
    for (char** member = found->gr_mem; member && *member; ++member)
        entry.members.emplace_back(*member);
    return entry;
}

// Where the com<n> mappings live: mapDir, or the tool's root directory when that is empty (then
// empty itself when there is no usable root directory).
inline std::string MapDirOrRoot(const std::string& mapDir) {
    return mapDir.empty() ? RootDir() : mapDir;
}

// A name split before the decimal number it ends with: "ttyUSB12" is {"ttyUSB", 12}. The number is
// -1 when the name does not end in a digit or the number has more than 9 digits (more than an int
// surely holds).
struct NumberedName {
    std::string_view stem;
    int number = -1;
};
inline NumberedName SplitTrailingNumber(std::string_view name) {
    constexpr size_t kMaxDigits = 9;
    size_t start = name.size();
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9')
        --start;
    NumberedName split{name.substr(0, start), -1};
    if (start < name.size() && name.size() - start <= kMaxDigits) {
        split.number = 0;
        for (char c : name.substr(start))
            split.number = split.number * 10 + (c - '0');
    }
    return split;
}

// Natural order for names with a number at the end: ttyUSB2 before ttyUSB10.
inline bool NaturalLess(std::string_view a, std::string_view b) {
    const NumberedName x = SplitTrailingNumber(a), y = SplitTrailingNumber(b);
    return std::tie(x.stem, x.number) < std::tie(y.stem, y.number);
}

// True for "ttyUSB<k>" and "ttyACM<k>", the names the kernel gives USB serial devices in the order
// they appear: after a replug or a reboot the same name can stand for another adapter.
inline bool IsKernelSerialName(std::string_view name) {
    const NumberedName split = SplitTrailingNumber(name);
    return split.number >= 0 && (split.stem == "ttyUSB" || split.stem == "ttyACM");
}

// text with each "{}" replaced by the next value (a "{}" beyond the values stays as it is).
inline std::string FillIn(std::string_view text, std::initializer_list<std::string_view> values) {
    std::string out;
    auto value = values.begin();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{' && i + 1 < text.size() && text[i + 1] == '}' && value != values.end()) {
            out += *value++;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// ---- adapters and their stable names (defined in PortInventory.cpp) ----

// The names udev makes under <dev>/serial/by-id/ and by-path/ (basenames), by the canonical device
// node each resolves to; of several names for one node, the first in name order.
struct StableNames {
    std::map<std::filesystem::path, std::string> byId, byPath;
};
StableNames FindStableNames(const std::string& dev);

// What the kernel knows about the USB adapter behind node, a canonical device node: found through
// sysfs for the ttys that sit directly in devDir (canonical); empty for anything else. The stable
// names are left empty. usbDevice (when given) receives the adapter's sysfs directory, which tells
// apart two adapters that report the same serial number.
PortAdapter KernelAdapter(const std::filesystem::path& node, const std::filesystem::path& devDir,
                          const std::filesystem::path& sysRoot, std::filesystem::path* usbDevice = nullptr);

// What a link text names, taken relative to the folder the link is in: a stable name of udev's,
// a kernel name that can change (<dev>/ttyUSB<k>, <dev>/ttyACM<k>), or anything else.
enum class LinkKind { Other, ById, ByPath, KernelName };
LinkKind ClassifyLinkText(const std::filesystem::path& text, const std::filesystem::path& linkDir,
                          const DiagnosticRoots& roots);
