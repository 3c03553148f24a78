// A made-up /dev, /proc, /sys and map directory under a temporary root, for what the tool says
// about ports and adapters: five USB adapters (one with a serial number of its own, one without,
// two that share one, one that udev never named), their by-id and by-path names, mappings of every kind, a pty,
// processes holding devices and a service known to grab adapters. "@" in a path stands for the root.
#pragma once

#include "Files.h"
#include "TempRoot.h"
#include "platform/PortDiagnostics.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>

class DeviceTree {
public:
    DeviceTree() {
        const std::string pty = ::ptsname(master_), u = "@sys/devices/pci0000:00/usb1/";
        // clang-format off
        std::map<std::string, std::string> files{
            {"@dev/ttyS0", ""}, {u + "idVendor", "1d6b"}, {u + "idProduct", "0002"},
            {"@proc/4242/comm", "holder"}, {"@proc/77/comm", "ModemManager"}};
        // This process's own hold is no hold.
        std::map<std::string, std::string> links{
            {"@dev/serial/by-id/" + kAdapter, "../../ttyUSB0"}, {"@dev/serial/by-id/" + kNoSerial, "../../ttyUSB1"},
            {"@dev/serial/by-id/" + kShared, "../../ttyUSB10"},
            {"@map/com1", "@dev/ttyUSB0"}, {"@map/com12", "@dev/serial/by-id/" + kAdapter},
            {"@map/com6", "@dev/serial/by-path/" + ByPath('2')}, {"@map/com012", "@dev/ttyUSB0"},
            {"@map/com0", "@dev/ttyUSB0"}, {"@map/com2", pty}, {"@map/com3", "@dev/ttyUSB7"}, {"@ttyV0", pty},
            {"@proc/4242/fd/3", "@dev/ttyUSB4"}, {"@proc/4242/fd/4", pty},
            {"@proc/" + std::to_string(::getpid()) + "/fd/3", "@dev/ttyUSB0"}};
        // The USB device is two levels above the tty: the root hub above it must not be taken instead.
        // udev: it made the adapter's by-path name (a system without udev makes none).
        struct Adapter { const char *tty; char socket; const char *vendor, *product, *serial; bool udev = true; };
        for (const Adapter& a : {Adapter{"ttyUSB0", '1', "0403", "6001", "A5XK3RJT"},
                                 Adapter{"ttyUSB1", '2', "1a86", "7523", ""}, Adapter{"ttyUSB4", '3', "10c4", "ea60", "0001"},
                                 Adapter{"ttyUSB10", '4', "10c4", "ea60", "0001"},
                                 Adapter{"ttyUSB12", '5', "067b", "2303", "NOUDEV5", false}}) {
            const std::string usb = std::string("1-") + a.socket, tty = a.tty, device = usb + "/" + usb + ":1.0/" + tty;
            files.insert({{"@dev/" + tty, ""}, {u + usb + "/idVendor", a.vendor}, {u + usb + "/idProduct", a.product},
                          {u + device + "/dev", ""}});
            if (*a.serial)
                files[u + usb + "/serial"] = a.serial;
            links.insert({"@sys/class/tty/" + tty + "/device", "../../../devices/pci0000:00/usb1/" + device});
            if (a.udev)
                links.insert({"@dev/serial/by-path/" + ByPath(a.socket), "../../" + tty});
        }
        // clang-format on
        namespace fs = std::filesystem;
        for (const auto& [name, bytes] : files) {
            fs::create_directories(fs::path(At(name)).parent_path());
            WriteFileBytes(At(name), bytes.empty() ? "" : bytes + "\n");
        }
        for (const auto& [name, target] : links) {
            fs::create_directories(fs::path(At(name)).parent_path());
            fs::create_symlink(At(target), At(name));
        }
    }
    ~DeviceTree() { ::close(master_); }
    std::string At(std::string text) const {
        for (size_t at; (at = text.find('@')) != std::string::npos;)
            text.replace(at, 1, root_.Base() + "/");
        return text;
    }
    // The by-path name of the adapter in the given socket of the first USB controller.
    static std::string ByPath(char socket) { return std::string("pci-0000:00:14.0-usb-0:") + socket + ":1.0-port0"; }

    const std::string kAdapter = "usb-Norvell_KV6251_A5XK3RJT-if00-port0";
    const std::string kNoSerial = "usb-1a86_USB_Serial-if00-port0";
    const std::string kShared = "usb-Silicon_Labs_CP2102_0001-if00-port0";
    TempRoot root_; // also the tool's root directory, under <base>/data
    const DiagnosticRoots roots_{At("@dev"), At("@proc"), At("@sys"), At("@map")};
    const int master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
};
