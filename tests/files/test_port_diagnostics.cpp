#include "FilesTestEnv.h"
#include "platform/PortDiagnostics.h"

#include <cstring>
#include <grp.h>
#include <pty.h>

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A made-up /dev and /proc: an adapter with a stable name, some plain devices, a mapping folder.
class PortDiagnosticsTest : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        roots_.dev = Path("dev");
        roots_.proc = Path("proc");
        roots_.mapDir = Path("map");
        for (const char* d : {"dev", "proc", "map"})
            fs::create_directory(Path(d));
    }

    void AddDevice(const std::string& name) { WriteBytes(roots_.dev + "/" + name, ""); }
    void AddStableName(const std::string& name, const std::string& target) {
        fs::create_directories(roots_.dev + "/serial/by-id");
        fs::create_symlink(target, roots_.dev + "/serial/by-id/" + name);
    }
    void AddProcess(int pid, const std::string& name, const std::vector<std::string>& openFiles = {}) {
        std::string base = roots_.proc + "/" + std::to_string(pid);
        fs::create_directories(base + "/fd");
        WriteBytes(base + "/comm", name + "\n");
        int fd = 3;
        for (const std::string& file : openFiles)
            fs::create_symlink(file, base + "/fd/" + std::to_string(fd++));
    }

    DiagnosticRoots roots_;
};

TEST_F(PortDiagnosticsTest, AMissingDeviceListsThePresentOnesAndHowToMapOne) {
    AddDevice("ttyUSB0");
    AddDevice("ttyUSB2");
    AddDevice("ttyUSB10");
    AddDevice("ttyACM0");
    AddDevice("ttyS0");
    AddDevice("ttyUSBx");
    AddStableName("usb-Norvell_KV6251-if00-port0", "../../ttyUSB2");
    std::string text = DiagnosePortFailure(4, roots_.dev + "/ttyUSB3", ENOENT, "open", roots_);

    EXPECT_TRUE(Contains(text, "open " + roots_.dev + "/ttyUSB3: No such file or directory")) << text;
    EXPECT_TRUE(Contains(text, "There is no device " + roots_.dev + "/ttyUSB3")) << text;
    const std::string stable = roots_.dev + "/serial/by-id/usb-Norvell_KV6251-if00-port0";
    EXPECT_TRUE(Contains(text, "  " + stable + " -> " + roots_.dev + "/ttyUSB2\n")) << text;
    // Stable name first, then the plain names in numeric order, nothing that is no USB serial device.
    auto line = [&](const std::string& name) { return text.find("\n  " + roots_.dev + "/" + name + "\n"); };
    size_t positions[] = {text.find(stable), line("ttyACM0"), line("ttyUSB0"), line("ttyUSB2"), line("ttyUSB10")};
    for (size_t i = 1; i < std::size(positions); ++i) {
        ASSERT_NE(positions[i], std::string::npos) << text;
        EXPECT_LT(positions[i - 1], positions[i]) << text;
    }
    EXPECT_FALSE(Contains(text, "ttyS0")) << text;
    EXPECT_FALSE(Contains(text, "ttyUSBx")) << text;
    EXPECT_TRUE(Contains(text, "ln -sf " + stable + " " + roots_.mapDir + "/com4\n")) << text;
}

TEST_F(PortDiagnosticsTest, CategoriesOfFailure) {
    AddDevice("ttyUSB0");
    const std::string device = roots_.dev + "/ttyUSB0";
    const struct {
        const char* legend;
        int err;
        const char* step;
        std::vector<std::string> says;
        std::vector<std::string> doesNotSay;
    } cases[] = {
        {"no device at all", ENOENT, "open", {"No serial device is present", "/serial/by-id/"}, {"ln -sf"}},
        {"not a serial port", ENOTTY, "isatty", {"is not a serial port", "ln -sf " + device}, {"in use"}},
        {"the speed did not take", EINVAL, "speed", {"1,500,000 baud"}, {"in use", "ln -sf"}},
        {"the speed read back differs, no errno",
         0,
         "speed",
         {"speed " + device + "\n", "1,500,000 baud"},
         {": Success"}},
        {"settings refused", EINVAL, "tcsetattr", {"refused the line settings", "RTS/CTS"}, {"in use"}},
        {"modem lines", EINVAL, "modem-lines", {"DTR and RTS"}, {"in use"}},
        {"unplugged during set-up", EIO, "tcgetattr", {"stopped answering"}, {"in use"}},
        {"locked by another program", EWOULDBLOCK, "flock", {"in use by another program", "could not be found"}, {}},
        {"exclusive mode taken", EBUSY, "TIOCEXCL", {"in use by another program"}, {"ln -sf"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        if (std::string(c.legend) == "no device at all")
            fs::remove(device);
        else
            AddDevice("ttyUSB0");
        std::string text = DiagnosePortFailure(1, device, c.err, c.step, roots_);
        if (c.err != 0) {
            EXPECT_TRUE(Contains(text, std::string(c.step) + " " + device + ": " + std::strerror(c.err))) << text;
        }
        for (const std::string& s : c.says)
            EXPECT_TRUE(Contains(text, s)) << "missing \"" << s << "\" in:\n" << text;
        for (const std::string& s : c.doesNotSay)
            EXPECT_FALSE(Contains(text, s)) << "unexpected \"" << s << "\" in:\n" << text;
    }
}

TEST_F(PortDiagnosticsTest, NoPortChosen) {
    AddDevice("ttyUSB0");
    std::string text = DiagnosePortFailure(0, "", ENOENT, "open", roots_);
    EXPECT_TRUE(Contains(text, "No port is chosen")) << text;
    EXPECT_TRUE(Contains(text, "com<n>")) << text;
}

TEST_F(PortDiagnosticsTest, ABrokenMappingSaysWhereItPoints) {
    fs::create_symlink(roots_.dev + "/ttyUSB7", roots_.mapDir + "/com2");
    AddDevice("ttyUSB0");
    std::string text = DiagnosePortFailure(2, roots_.mapDir + "/com2", ENOENT, "open", roots_);
    EXPECT_TRUE(Contains(text, roots_.mapDir + "/com2 points to " + roots_.dev + "/ttyUSB7, which is not there"))
        << text;
    EXPECT_TRUE(Contains(text, "ln -sf " + roots_.dev + "/ttyUSB0 " + roots_.mapDir + "/com2")) << text;
}

TEST_F(PortDiagnosticsTest, NamesTheProcessHoldingTheDeviceEvenThroughAMapping) {
    AddDevice("ttyUSB0");
    fs::create_symlink(roots_.dev + "/ttyUSB0", roots_.mapDir + "/com1");
    AddProcess(4242, "otherprog", {"/dev/null", roots_.dev + "/ttyUSB0"});
    AddProcess(4243, "bystander", {roots_.dev + "/ttyUSB00"});
    std::string text = DiagnosePortFailure(1, roots_.mapDir + "/com1", EBUSY, "TIOCEXCL", roots_);
    EXPECT_TRUE(Contains(text, "held by process 4242 (otherprog)")) << text;
    EXPECT_FALSE(Contains(text, "4243")) << text;
    EXPECT_FALSE(Contains(text, "could not be found")) << text;
}

TEST_F(PortDiagnosticsTest, PointsAtServicesKnownToGrabAdapters) {
    AddDevice("ttyUSB0");
    AddProcess(77, "ModemManager");
    AddProcess(88, "brltty");
    AddProcess(99, "ModemManagerX");
    std::string busy = DiagnosePortFailure(1, roots_.dev + "/ttyUSB0", EBUSY, "flock", roots_);
    EXPECT_TRUE(Contains(busy, "ModemManager is running (process 77)")) << busy;
    EXPECT_TRUE(Contains(busy, "brltty is running (process 88)")) << busy;
    EXPECT_FALSE(Contains(busy, "99")) << busy;

    std::string missing = DiagnosePortFailure(1, roots_.dev + "/ttyUSB5", ENOENT, "open", roots_);
    EXPECT_TRUE(Contains(missing, "brltty is running")) << missing;

    fs::remove_all(roots_.proc + "/77");
    fs::remove_all(roots_.proc + "/88");
    std::string quiet = DiagnosePortFailure(1, roots_.dev + "/ttyUSB0", EBUSY, "flock", roots_);
    EXPECT_FALSE(Contains(quiet, "is running")) << quiet;
}

// A group this process does not run with, preferably the usual one of serial devices.
bool ForeignGroup(gid_t* gid, std::string* name) {
    std::vector<gid_t> own(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
    own.resize(static_cast<size_t>(std::max(::getgroups(static_cast<int>(own.size()), own.data()), 0)));
    own.push_back(::getegid());
    auto foreign = [&](gid_t g) { return std::find(own.begin(), own.end(), g) == own.end(); };
    if (group* g = ::getgrnam("dialout"); g && foreign(g->gr_gid)) {
        *gid = g->gr_gid;
        *name = g->gr_name;
        return true;
    }
    return false;
}

TEST_F(PortDiagnosticsTest, PermissionDeniedNamesTheDevicesGroupAndTheRemedy) {
    gid_t gid = 0;
    std::string group;
    if (!ForeignGroup(&gid, &group))
        GTEST_SKIP() << "no group \"dialout\" that this process lacks";
    std::string device = Path("ttyFAKE0");
    WriteBytes(device, "");
    if (::chown(device.c_str(), static_cast<uid_t>(-1), gid) != 0)
        GTEST_SKIP() << "this user may not give a file the group " << group;
    std::string text = DiagnosePortFailure(1, device, EACCES, "open", roots_);
    EXPECT_TRUE(Contains(text, "open " + device + ": Permission denied")) << text;
    EXPECT_TRUE(Contains(text, "group \"" + group + "\"")) << text;
    EXPECT_TRUE(Contains(text, "log out and log in again")) << text;
}

TEST_F(PortDiagnosticsTest, UnknownGroupFallsBackToTheUsualAdvice) {
    std::string text = DiagnosePortFailure(1, Path("nothing-here"), EACCES, "open", roots_);
    EXPECT_TRUE(Contains(text, "sudo usermod -aG dialout")) << text;
}

// Against the real /proc: this process holds a pseudo-terminal and is named as its holder.
TEST(PortDiagnosticsLive, FindsThisProcessHoldingARealTerminal) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    std::string text = DiagnosePortFailure(1, name, EBUSY, "flock");
    ::close(slave);
    ::close(master);
    EXPECT_TRUE(Contains(text, "held by process " + std::to_string(::getpid()) + " (")) << text;
    EXPECT_TRUE(Contains(text, "this program")) << text;
}

} // namespace
