#include "FilesTestEnv.h"
#include "platform/PortInventory.h"

#include <grp.h>

namespace {

class PortInventoryTest : public TempFolderTest {
protected:
    void Link(const std::string& target, const std::string& link) {
        fs::create_directories(fs::path(Path(link)).parent_path());
        fs::create_symlink(target, Path(link));
    }
    void Write(const std::string& name, const std::string& bytes) {
        fs::create_directories(fs::path(Path(name)).parent_path());
        WriteBytes(Path(name), bytes);
    }
};

// A made-up /dev, /sys, /proc and map directory with one adapter known to the kernel, reached by
// its plain name and through a mapping beyond COM9, and a real pty mapped to COM2.
TEST_F(PortInventoryTest, TellsEachPortsDeviceAdapterAndAccess) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    const struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{master};
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string pty = ::ptsname(master);

    const std::string adapter = "usb-Norvell_KV6251_A5XK3RJT-if00-port0";
    for (const char* name : {"dev/ttyUSB0", "dev/ttyUSB4", "dev/ttyUSB5"})
        Write(name, "");
    ::chmod(Path("dev/ttyUSB5").c_str(), 0);
    Link("../../ttyUSB0", "dev/serial/by-id/" + adapter);
    // The USB device two levels above the tty; the root hub above it must not be taken instead.
    const std::string usb = "sys/devices/pci0000:00/usb1/";
    for (const auto& [file, value] : {std::pair{"idVendor", "1d6b"},
                                      {"idProduct", "0002"},
                                      {"1-1/idVendor", "0403"},
                                      {"1-1/idProduct", "6001"},
                                      {"1-1/serial", "A5XK3RJT"}})
        Write(usb + file, value + std::string("\n"));
    fs::create_directories(Path(usb + "1-1/1-1:1.0/ttyUSB0"));
    Link("../../../devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0", "sys/class/tty/ttyUSB0/device");
    Link(pty, "map/com2");
    Link(Path("dev/ttyUSB9"), "map/com3");
    for (const char* name : {"map/com12", "map/com012", "map/com0"})
        Link(Path("dev/ttyUSB0"), name);
    // One process holds two ports (the pty by its resolved name); this process's own hold is no hold.
    Write("proc/4242/comm", "holder\n");
    Link(Path("dev/ttyUSB4"), "proc/4242/fd/3");
    Link(pty, "proc/4242/fd/4");
    Link(Path("dev/ttyUSB0"), "proc/" + std::to_string(::getpid()) + "/fd/3");

    struct stat st {};
    ::stat(Path("dev/ttyUSB5").c_str(), &st);
    const group* fileGroup = ::getgrgid(st.st_gid);
    const std::string groupName = fileGroup ? fileGroup->gr_name : "";
    const PortAccess denied = ::geteuid() == 0 ? PortAccess::Ok : PortAccess::PermissionDenied; // root is never refused
    const struct {
        const char* legend;
        int port;
        std::string device;
        bool mapped, exists;
        std::string usbId, serial, byId;
        PortAccess access;
        std::string holders, group;
    } cases[] = {
        {"adapter known to the kernel, held only by this process", 1, "dev/ttyUSB0", false, true, "0403:6001",
         "A5XK3RJT", adapter, PortAccess::Ok, "", groupName},
        {"pty through a mapping: no identity, held by its resolved name", 2, "map/com2", true, true, ":", "", "",
         PortAccess::InUse, "4242 holder", ""},
        {"dangling mapping", 3, "map/com3", true, false, ":", "", "", PortAccess::Missing, "", ""},
        {"no mapping, no device", 4, "dev/ttyUSB3", false, false, ":", "", "", PortAccess::Missing, "", ""},
        {"the holder's other port", 5, "dev/ttyUSB4", false, true, ":", "", "", PortAccess::InUse, "4242 holder", ""},
        {"no access", 6, "dev/ttyUSB5", false, true, ":", "", "", denied, "", groupName},
        {"mapping beyond COM9 to the adapter", 12, "map/com12", true, true, "0403:6001", "A5XK3RJT", adapter,
         PortAccess::Ok, "", ""},
    };

    DiagnosticRoots roots;
    roots.dev = Path("dev");
    roots.proc = Path("proc");
    roots.sys = Path("sys");
    roots.mapDir = Path("map");
    const std::vector<PortEntry> entries = InventoryPorts(roots);
    std::vector<int> ports;
    for (const PortEntry& e : entries)
        ports.push_back(e.port);
    EXPECT_EQ(ports, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 12}));

    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        auto e = std::find_if(entries.begin(), entries.end(), [&](const PortEntry& p) { return p.port == c.port; });
        ASSERT_NE(e, entries.end());
        EXPECT_EQ(e->device, Path(c.device));
        EXPECT_EQ(e->mapped, c.mapped);
        EXPECT_EQ(e->exists, c.exists);
        std::error_code ec;
        EXPECT_EQ(e->target, c.exists ? fs::canonical(e->device, ec).string() : "");
        EXPECT_EQ(e->adapter.vendorId + ":" + e->adapter.productId, c.usbId);
        EXPECT_EQ(e->adapter.serial, c.serial);
        EXPECT_EQ(e->adapter.byIdName, c.byId);
        EXPECT_STREQ(PortAccessName(e->access), PortAccessName(c.access));
        std::string holders;
        for (const ProcessInfo& p : e->holders)
            holders += (holders.empty() ? "" : ", ") + std::to_string(p.pid) + " " + p.name;
        EXPECT_EQ(holders, c.holders);
        if (!c.group.empty()) {
            EXPECT_EQ(e->group, c.group);
        }
    }
}

} // namespace
