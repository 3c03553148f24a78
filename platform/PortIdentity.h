// Mapping a port number to an adapter by what the adapter is, not by the name the kernel gave it.
//
// The kernel numbers USB serial devices (ttyUSB0, ttyUSB1, ...) in the order they appear, so after a
// reboot or a replug /dev/ttyUSB1 can be another box's adapter. udev adds names that stay:
// <dev>/serial/by-id/<name> follows the adapter (its maker, model and USB serial number) and
// <dev>/serial/by-path/<name> the USB socket it is plugged into. PlanPortMapping turns what the
// operator names (a device path, such a name or only its last part, an adapter's serial number) into
// the name a com<n> mapping should link to; WritePortMapping and RemovePortMapping change the mapping.
//
// Promises: planning only looks (sysfs and the links under <dev>/serial/; no device is opened). A
// mapping is replaced by renaming a new link over it, so a window or command reading it meanwhile
// sees the old link or the new one, never none. Only symbolic links are ever replaced or removed.
#pragma once

#include "platform/PortDiagnostics.h"
#include "platform/PortInventory.h"

#include <string>
#include <vector>

struct PortMappingPlan {
    std::string device; // the device node the name resolves to (symbolic links followed), e.g. /dev/ttyUSB0
    // What <mapDir>/com<n> should link to: <dev>/serial/by-id/<name> when the adapter has a serial number
    // no other adapter present reports and udev named it by that; else <dev>/serial/by-path/<name> when
    // there is one (a stable name the operator typed is kept as typed); else the path as given, made
    // absolute but not resolved (a pty, a socat link, a port without udev names).
    std::string linkTo;
    bool stable = false; // linkTo is a by-id or by-path name; false: it may later name another device
    std::string kind;    // "by-id", "by-path", or "" when not stable
    PortAdapter adapter; // behind device, with its by-id and by-path names; empty for a pty or a built-in port
};

enum class PlanError {
    None,
    NotFound,  // nothing of that name, or it is a folder
    Ambiguous, // a serial number that several ttys report (two adapters, or one adapter with several ports)
};

struct PlanResult {
    PlanError error = PlanError::None;
    std::string message;                 // one line saying why, when error is not None
    std::vector<std::string> candidates; // Ambiguous: "<the name to map it by> -> <device>" for each tty meant
    PortMappingPlan plan;                // when error is None
};

// deviceOrSerial: a path (anything with a '/', taken as is); else, in this order, a name under
// <dev>/serial/by-id/ or by-path/, a name in <dev> (ttyUSB0), an adapter's USB serial number as
// the inventory shows it, a file in the current folder. NotFound when nothing of that name exists
// or it is a folder; Ambiguous when a serial number stands for several ttys.
PlanResult PlanPortMapping(const std::string& deviceOrSerial, const DiagnosticRoots& roots);

// Makes <mapDir>/com<port> a symbolic link to linkTo (mapDir empty: the tool's root directory),
// replacing a link that is there. False, with *reason (when given) saying why, when the port number
// is below 1, something other than a symbolic link has that name, or the folder cannot be written.
bool WritePortMapping(int port, const std::string& linkTo, const std::string& mapDir, std::string* reason);

// Removes the mapping <mapDir>/com<port> when it is a symbolic link; *existed (when given) says
// whether there was one. A missing mapping is no failure; anything else by that name is left alone
// and refused.
bool RemovePortMapping(int port, const std::string& mapDir, bool* existed, std::string* reason);
