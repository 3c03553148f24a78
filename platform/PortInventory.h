// Which port number is which adapter: for each port number, the device it opens, what the kernel
// knows about the adapter behind it, whether the port follows the adapter whatever the kernel calls
// it, and whether this user can open it now.
//
// Everything is looked up without opening a device: opening a serial port raises DTR, which can
// disturb the adapter or the box behind it. Nothing here fails or blocks; what cannot be read is
// left empty.
#pragma once

#include "platform/PortDiagnostics.h"

#include <string>
#include <vector>

// What the kernel knows about the adapter behind a tty; empty fields when unknown (a pty, a
// built-in serial port, a device without sysfs).
struct PortAdapter {
    std::string vendorId;              // USB idVendor, 4 hex digits, e.g. "0403"
    std::string productId;             // USB idProduct
    std::string serial;                // USB serial number
    std::string manufacturer, product; // when sysfs has them
    std::string byIdName;              // the name under <dev>/serial/by-id/ that points to the device (basename)
    std::string byPathName;            // the same under <dev>/serial/by-path/: the USB socket it is plugged into
};

enum class PortAccess { Ok, PermissionDenied, InUse, Missing };

struct PortEntry {
    int port = 0;        // n of COM<n>
    std::string device;  // what the port number opens: <mapDir>/com<n> or <dev>/ttyUSB<n-1>
    std::string target;  // what device resolves to when it exists, else empty
    bool mapped = false; // device is a com<n> mapping in the map directory
    bool exists = false; // device resolves to an existing file (a dangling mapping does not)
    // The mapping links to a name under <dev>/serial/by-id/ or by-path/: it follows the adapter, or
    // the socket, whatever name the kernel gives the tty.
    bool identity = false;
    // The port reaches its device through a kernel name that can stand for another adapter after a
    // replug or reboot: the default <dev>/ttyUSB<n-1> when it exists, or a mapping that links
    // straight to <dev>/ttyUSB<k> or <dev>/ttyACM<k> (whether or not that exists now).
    bool unstable = false;
    PortAdapter adapter;
    PortAccess access = PortAccess::Missing;
    std::string group;                // the device's group whenever known (it matters for PermissionDenied)
    std::vector<ProcessInfo> holders; // other processes that have it open (never this process)
};

// Ports 1..9 and every other com<n> (n >= 1) that exists in the map directory, in ascending order.
// The map directory is roots.mapDir, or the tool's root directory when that is empty.
std::vector<PortEntry> InventoryPorts(const DiagnosticRoots& roots);

// "ok", "permission denied", "in use", "missing".
const char* PortAccessName(PortAccess access);
