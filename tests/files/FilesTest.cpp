// The tool's files on a real file system (numbers in text, .swi files, the port setting), and what
// it says about ports, against a made-up /dev, /proc, /sys and map directory.
#include "Files.h"
#include "DeviceTree.h"
#include "TempRoot.h"

#include "files/NumberText.h"
#include "files/PortFile.h"
#include "files/SwiFile.h"
#include "platform/PortDiagnostics.h"
#include "platform/PortIdentity.h"
#include "platform/PortInventory.h"
#include "platform/RootDir.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;
using namespace std::string_literals;

// Makes path unwritable, or writable again; false when refused. Permission bits do not stop root:
// root sets the immutable attribute instead.
bool Lock(const std::string& path, bool on) {
    if (::geteuid() != 0)
        return ::chmod(path.c_str(), on ? 0555 : 0755) == 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int flags = 0, set = ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    set = set == 0 ? ::ioctl(fd, FS_IOC_SETFLAGS, &flags) : set;
    ::close(fd);
    return set == 0;
}

TEST(NumberText, ConvertsLooselyToSixteenBitsAndStrictlyForTheCommandLine) {
    // clang-format off
    struct Case { const char* legend; const char* text; uint16_t u16; int16_t i16; std::optional<uint32_t> strict; };
    const Case cases[] = {
        {"blanks around the number", " \t42 ", 42, 42, 42},
        {"nothing at all: 0, and no number strictly", "", 0, 0, std::nullopt},
        {"digits up to the first other character", "12abc", 12, 12, std::nullopt},
        {"a sign: -1 wraps, the strict reading takes none", "-1", 65535, -1, std::nullopt},
        {"one past 16 bits wraps to 0; the strict reading is not bound to 16 bits", "65536", 0, 0, 65536},
        {"far beyond 64 bits: wraps, or saturates strictly", "123456789012345678901234567890", 2770, 2770, UINT32_MAX},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(TextToU16(c.text), c.u16);
        EXPECT_EQ(TextToI16(c.text), c.i16);
        uint32_t value = 0;
        EXPECT_EQ(ParseDecimal(c.text, &value), c.strict.has_value());
        EXPECT_EQ(value, c.strict.value_or(value));
    }
}

// The parser alone is also fuzzed against the C library's token splitter (fuzz/fuzz_swi.cpp).
TEST(SwiLoad, ParsesTheFirst50BytesOfAReadableFileOrChangesNothing) {
    TempRoot root;
    using Make = std::function<bool(const std::string&)>; // false: the file could not be laid out
    const auto text = [](std::string t) { return [t](const std::string& p) { return WriteFileBytes(p, t); }; };
    // clang-format off
    struct Case { const char* legend; Make make; SwiLoadResult result; SwitchConfig config; };
    const Case cases[] = {
        {"runs of separators count as one", text("::1:::2::3:4\n\n\n5\n"), SwiLoadResult::Ok, {1, 2, 3, 4, 5}},
        {"CR LF line ends", text("1:2:3:4\r\n0\r\n"), SwiLoadResult::Ok, {1, 2, 3, 4, 0}},
        {"blanks, signs and 16-bit wrap", text(" 1: +2:-3:70000\n1\n"), SwiLoadResult::Ok, {1, 2, 65533, 4464, 1}},
        {"only the first 50 bytes count: mode 1, not 123", text("1:2:3:4\n" + std::string(41, '0') + "123\n"),
         SwiLoadResult::Ok, {1, 2, 3, 4, 1}},
        {"fewer than five fields", text("1:2:3:4\n"), SwiLoadResult::Corrupted, {}},
        {"a zero byte ends the text", text("1:2\0:3:4\n5\n"s), SwiLoadResult::Corrupted, {}},
        {"a negative mode", text("1:2:3:4\n-1\n"), SwiLoadResult::Corrupted, {}},
        {"a read-only file opens", [](auto& p) { return WriteFileBytes(p, "11:22:33:44\n1\n") && Lock(p, true); },
         SwiLoadResult::Ok, {11, 22, 33, 44, 1}},
        {"no file", [](auto&) { return true; }, SwiLoadResult::CannotOpen, {}},
        {"a folder", [](auto& p) { return fs::create_directory(p); }, SwiLoadResult::CannotOpen, {}},
        {"a FIFO without a writer, at once", [](auto& p) { return ::mkfifo(p.c_str(), 0644) == 0; },
         SwiLoadResult::CannotOpen, {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string path = root.File(c.legend);
        ASSERT_TRUE(c.make(path));
        SwitchConfig loaded{7, 7, 7, 7, 7};
        EXPECT_EQ(LoadSwiFile(path, &loaded), c.result);
        EXPECT_EQ(loaded, c.result == SwiLoadResult::Ok ? c.config : (SwitchConfig{7, 7, 7, 7, 7})); // or untouched
        Lock(path, false);
    }
}

void Old(const std::string& path, mode_t mode = 0644) {
    WriteFileBytes(path, "9:8:7:6\n0\n########################################");
    ::chmod(path.c_str(), mode);
}

// clang-format off
// In the test's folder d: before() lays out what is there, target is saved to; reason: what a failed save says,
// nullptr when it succeeds; locked: made unwritable first; halfway: saved by a process that may write 5 bytes a
// file (RLIMIT_FSIZE binds root too); check: the file looked at afterwards, when not the target.
struct SaveCase { const char* name; const char* legend; void (*before)(const std::string& d);
                  const char *target, *reason, *locked = nullptr; bool halfway = false; const char* check = nullptr; };
const SaveCase kSaveCases[] = {
    {"KeepsPermissions", "an old, longer file is replaced by the 14-byte example and keeps its permissions",
     [](auto& d) { Old(d + "/x.swi", 0640); }, "x.swi", nullptr},
    {"ThroughALink", "through a symbolic link the file behind it is replaced",
     [](auto& d) { fs::create_directory(d + "/r"); Old(d + "/r/x"); fs::create_symlink(d + "/r/x", d + "/x.swi"); },
     "x.swi", nullptr, nullptr, false, "r/x"},
    {"MissingFolder", "a missing folder fails with a reason", [](auto&) {}, "no/x.swi", "No such file or directory"},
    {"ReadOnlyFolder", "a read-only folder fails and leaves the old file",
     [](auto& d) { fs::create_directory(d + "/ro"); Old(d + "/ro/x.swi"); }, "ro/x.swi", "", "ro"},
    {"ProtectedFile", "an unwritable file is refused", [](auto& d) { Old(d + "/x.swi"); }, "x.swi", "", "x.swi"},
    {"FailsHalfway", "halfway: the old file kept", [](auto& d) { Old(d + "/x.swi"); }, "x.swi", "", nullptr, true},
    {"NotARegularFile", "a socket in the file's place is refused and stays", [](auto& d) {
         sockaddr_un a{AF_UNIX, {}};
         std::strncpy(a.sun_path, (d + "/x.swi").c_str(), sizeof a.sun_path - 1);
         const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
         (void)::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), ::close(s); },
     "x.swi", "is not a regular file"},
};
// clang-format on

class SwiSave : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SwiSave, ReplacesTheFileWhollyOrNotAtAll) {
    const SaveCase& c = GetParam();
    SCOPED_TRACE(c.legend);
    TempRoot root;
    const std::string d = root.File("w"), target = d + "/" + c.target, check = d + "/" + (c.check ? c.check : c.target);
    fs::create_directory(d);
    c.before(d);
    if (c.locked && !Lock(d + "/" + c.locked, true))
        GTEST_SKIP() << "the file system refuses to protect " << c.locked;
    struct stat before = {}, after = {};
    const bool existed = ::stat(check.c_str(), &before) == 0;
    const std::string old = ReadFileBytes(check);
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN); // EFBIG from write() rather than death
        if (const rlimit limit{5, 5}; c.halfway)
            ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string reason;
        const bool saved = SaveSwiFile(target, {256, 257, 0, 0, 1}, &reason);
        ::_exit(saved ? 0 : reason.find(c.reason ? c.reason : "") != std::string::npos ? 1 : 2);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (c.locked)
        Lock(d + "/" + c.locked, false);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (c.reason ? 1 : 0)) << status; // 2: no reason given
    EXPECT_EQ(ReadFileBytes(check), c.reason ? old : "256:257:0:0\n1\n");
    ASSERT_EQ(::stat(check.c_str(), &after) == 0, existed || !c.reason); // a failed save makes no file
    if (existed) {
        EXPECT_EQ(after.st_mode, before.st_mode); // the permissions kept
    }
}

INSTANTIATE_TEST_SUITE_P(Files, SwiSave, ::testing::ValuesIn(kSaveCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PortFile, TheNumberIsTwoBytesSignedLowFirst) {
    TempRoot root;
    const std::string path = TempRoot::Fixed(kPortFileName);
    // clang-format off
    using Port = std::optional<int16_t>;
    struct Case { const char* legend; Port save; /* else written as is */ std::string bytes; bool locked; Port loads; };
    const Case cases[] = {
        {"choosing port 3 writes 03 00", 3, "\x03\x00"s, false, 3},
        {"a negative number", -2, "\xFE\xFF", false, -2},
        {"a 1-byte file is no setting", std::nullopt, "\x05", false, std::nullopt},
        {"a read-only file still loads", std::nullopt, "\x07\x00"s, true, 7},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        ASSERT_TRUE(c.save ? SavePortSetting(*c.save) : WriteFileBytes(path, c.bytes));
        EXPECT_EQ(ReadFileBytes(path), c.bytes);
        ASSERT_TRUE(!c.locked || Lock(path, true));
        int16_t port = 99;
        EXPECT_EQ(LoadPortSetting(&port), c.loads.has_value());
        EXPECT_EQ(port, c.loads.value_or(99));
        Lock(path, false);
    }
}

TEST(PortFile, WithoutAnyHomeNothingIsWrittenToTheFileSystemRoot) {
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", "relative/home", 1); // not a usable home either
    // Asked first, so that a fault here stops the test before a save (as root) could litter "/".
    ASSERT_EQ(RootPath(kPortFileName), "");
    int16_t port = 0;
    EXPECT_FALSE(SavePortSetting(3));
    EXPECT_FALSE(LoadPortSetting(&port));
    EXPECT_FALSE(fs::exists("/KV6251_CONFPORT.kv6"));
}

// A made-up /dev, /proc, /sys and map directory in the test's folder ("@" in a path or text), with
// four USB adapters, each with a by-path name for its socket: ttyUSB0 with a serial number, mapped as
// COM1 and (by its by-id name) COM12; ttyUSB1 without one (udev still names it by-id), mapped as COM6
// by its by-path name; ttyUSB4 and ttyUSB10, two adapters with the same serial number, of which udev
// named only the last by-id. A real pty is mapped as COM2 (and linked to as @ttyV0), COM3 dangles,
// and a process holds the pty (by its resolved name) and ttyUSB4.
class Ports : public ::testing::Test, protected DeviceTree {};

TEST_F(Ports, EachFailureIsExplainedWithItsRemedy) {
    const std::string group = ::getgrgid(::getegid()) ? ::getgrgid(::getegid())->gr_name : "?"; // a new file's
    const std::string stable = "@dev/serial/by-id/" + kNoSerial; // the first in name order
    // clang-format off
    struct Case { const char* legend; int port; const char *device, *step; int err; std::vector<std::string> says; };
    const Case cases[] = {
        {"a missing device: the present ones, stable names first, and how to map one", 4, "@dev/ttyUSB3", "open",
         ENOENT, {"There is no device @dev/ttyUSB3", "present:\n  " + stable + " -> @dev/ttyUSB1\n",
                  "-> @dev/ttyUSB10\n  @dev/ttyUSB0\n  @dev/ttyUSB1\n  @dev/ttyUSB4\n  @dev/ttyUSB10\n  @dev/ttyUSB12\nTo",
                  "\n  kv6251-cli map 4 " + stable + "\n"}},
        {"permission denied names the device's group", 5, "@dev/ttyUSB4", "open", EACCES, {"group \"" + group + "\""}},
        {"in use: the holder, through the mapping, and a service known to grab adapters", 2, "@map/com2", "TIOCEXCL",
         EBUSY, {"held by process 4242 (holder)", "ModemManager is running (process 77)"}},
        {"not a serial port", 1, "@dev/ttyUSB0", "isatty", ENOTTY, {"is not a serial port"}},
        {"settings refused", 1, "@dev/ttyUSB0", "tcsetattr", EINVAL, {"refused the line settings"}},
        {"a broken mapping says where it points", 3, "@map/com3", "open", ENOENT,
         {"@map/com3 points to @dev/ttyUSB7, which is not there", "ln -sf " + stable + " @map/com3"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string text = DiagnosePortFailure(c.port, At(c.device), c.err, c.step, roots_);
        EXPECT_NE(text.find(c.step + " "s + At(c.device) + ": " + std::strerror(c.err)), std::string::npos) << text;
        for (const std::string& part : c.says)
            EXPECT_NE(text.find(At(part)), std::string::npos) << "no \"" << At(part) << "\" in:\n" << text;
    }
}

TEST_F(Ports, TheInventoryTellsEachPortsDeviceAdapterAndHolders) {
    const std::string adapter = " 0403:6001 A5XK3RJT " + kAdapter + " " + ByPath('1') + " ok";
    // clang-format off
    struct Case { const char* legend; int port; std::string entry; };
    const Case cases[] = {
        {"an adapter known to the kernel, through a mapping to its kernel name", 1,
         "@map/com1 mapped unstable exists" + adapter},
        {"a pty through a mapping, held by its resolved name", 2, "@map/com2 mapped exists in use, 4242 holder"},
        {"a dangling mapping to a kernel name", 3, "@map/com3 mapped unstable missing"},
        {"no mapping and no device", 4, "@dev/ttyUSB3 missing"},
        {"no mapping: the device itself, held by another process", 5,
         "@dev/ttyUSB4 unstable exists 10c4:ea60 0001  " + ByPath('3') + " in use, 4242 holder"},
        {"an adapter without a serial number, mapped by its by-path name", 6,
         "@map/com6 mapped identity exists 1a86:7523  " + kNoSerial + " " + ByPath('2') + " ok"},
        {"a device this user may not open", 7, "@dev/ttyUSB6 unstable exists permission denied"},
    };
    // clang-format on
    const std::string locked = At("@dev/ttyUSB6");
    ASSERT_TRUE(WriteFileBytes(locked, "") && Lock(locked, true));
    const std::vector<PortEntry> inventory = InventoryPorts(roots_);
    ASSERT_TRUE(Lock(locked, false));
    std::map<int, std::string> entries; // ports 1 to 9 and the mappings beyond
    for (const PortEntry& e : inventory) {
        std::error_code ec;
        EXPECT_EQ(e.target, e.exists ? fs::canonical(e.device, ec).string() : "") << e.device;
        const PortAdapter& a = e.adapter; // nothing known: ":   "
        const std::string known =
            a.vendorId + ":" + a.productId + " " + a.serial + " " + a.byIdName + " " + a.byPathName;
        std::string& entry = entries[e.port] =
            e.device + (e.mapped ? " mapped" : "") + (e.identity ? " identity" : "") + (e.unstable ? " unstable" : "") +
            (e.exists ? " exists " : " ") + (known == ":   " ? "" : known + " ") + PortAccessName(e.access);
        for (const ProcessInfo& p : e.holders)
            entry += ", " + std::to_string(p.pid) + " " + p.name;
    }
    EXPECT_EQ(entries.size(), 10u);
    EXPECT_EQ(entries[12], At("@map/com12 mapped identity exists") + adapter); // beyond COM9, by its by-id name
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(entries[c.port], At(c.entry));
    }
}

TEST_F(Ports, AMappingLinksToTheAdaptersStableNameAndReplacesOnlyALink) {
    const std::string pty = fs::canonical(::ptsname(master_)).string(), id = "@dev/serial/by-id/",
                      path = "@dev/serial/by-path/", map = At("@map");
    WriteFileBytes(At("@map/com8"), "the user's"); // a file that is no mapping
    const auto what = [&](int port) {
        const std::string mapping = map + "/com" + std::to_string(port);
        std::error_code ec;
        const fs::path target = fs::read_symlink(mapping, ec);
        return "; com" + std::to_string(port) +
               (!ec                   ? " -> " + target.string()
                : fs::exists(mapping) ? " a file"
                                      : " missing");
    };
    // clang-format off
    enum class Op { Plan, Write, Remove, Rewrite /* 300 times, while another thread looks at it */ };
    struct Case { const char* legend; Op op; std::string arg; int port; std::string result; };
    const Case cases[] = {
        {"a serial number: the adapter's by-id name", Op::Plan, "A5XK3RJT", 0, "by-id " + id + kAdapter + " -> @dev/ttyUSB0"},
        {"the last part of a by-id name", Op::Plan, kAdapter, 0, "by-id " + id + kAdapter + " -> @dev/ttyUSB0"},
        {"a by-path name typed is kept, by-id name or not", Op::Plan, At(path + ByPath('1')), 0,
         "by-path " + path + ByPath('1') + " -> @dev/ttyUSB0"},
        {"no serial number: by-path, though udev made a by-id name", Op::Plan, "ttyUSB1", 0,
         "by-path " + path + ByPath('2') + " -> @dev/ttyUSB1"},
        {"a serial number two adapters report: refused, each named", Op::Plan, "0001", 0,
         "ambiguous: " + path + ByPath('3') + " -> @dev/ttyUSB4 | " + path + ByPath('4') + " -> @dev/ttyUSB10"},
        {"one of them by the last part of its by-path name", Op::Plan, ByPath('3'), 0,
         "by-path " + path + ByPath('3') + " -> @dev/ttyUSB4"},
        {"the other by the by-id name udev gave the last of them: by-path instead", Op::Plan, At(id + kShared), 0,
         "by-path " + path + ByPath('4') + " -> @dev/ttyUSB10"},
        {"no such device", Op::Plan, At("@dev/ttyUSB9"), 0, "not found"},
        {"a serial number udev never named: the device itself, not stable", Op::Plan, "NOUDEV5", 0,
         "unstable @dev/ttyUSB12 -> @dev/ttyUSB12"},
        {"a link to a pty, named from the current folder: as given, made absolute", Op::Plan,
         fs::path(At("@ttyV0")).lexically_relative(fs::current_path()).string(), 0, "unstable @ttyV0 -> " + pty},
        {"over a mapping: replaced", Op::Write, At(id + kAdapter), 3, "written; com3 -> " + id + kAdapter},
        {"to itself: refused, the mapping kept", Op::Write, "@map/com2", 2,
         "refused: @map/com2 cannot link to itself; com2 -> " + std::string(::ptsname(master_))},
        {"over a file: refused, the file kept", Op::Write, At(id + kAdapter), 8,
         "refused: @map/com8 is a regular file, not a mapping; it was left as it is; com8 a file"},
        {"readers never find the mapping missing while it is rewritten", Op::Rewrite, At(id + kAdapter), 1,
         "written; com1 -> " + id + kAdapter},
        {"removing a mapping", Op::Remove, "", 1, "removed; com1 missing"},
        {"removing a mapping that is not there", Op::Remove, "", 1, "did not exist; com1 missing"},
        {"removing a file: refused", Op::Remove, "", 8,
         "refused: @map/com8 is a regular file, not a mapping; it was left as it is; com8 a file"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string arg = At(c.arg);
        std::string reason, result;
        bool done = false, existed = false;
        if (c.op == Op::Plan) {
            const PlanResult r = PlanPortMapping(arg, roots_);
            const PortMappingPlan& p = r.plan;
            EXPECT_EQ(p.stable, !p.kind.empty());
            EXPECT_NE(r.message.find(r.error == PlanError::None ? "" : arg), std::string::npos) << r.message;
            result = r.error == PlanError::NotFound    ? "not found"
                     : r.error == PlanError::Ambiguous ? "ambiguous: "
                                                       : "";
            for (const std::string& candidate : r.candidates)
                result += (&candidate == &r.candidates.front() ? "" : " | ") + candidate;
            if (r.error == PlanError::None)
                result = (p.stable ? p.kind : "unstable") + " " + p.linkTo + " -> " + p.device;
        } else if (c.op == Op::Remove) {
            done = RemovePortMapping(c.port, map, &existed, &reason);
            result = (done ? existed ? "removed" : "did not exist" : "refused: " + reason) + what(c.port);
        } else {
            std::atomic<bool> writing{true};
            std::atomic<int> gaps{0};
            std::thread reader([&] {
                for (struct stat st{}; writing;)
                    gaps += ::lstat((map + "/com" + std::to_string(c.port)).c_str(), &st) != 0;
            });
            done = true;
            const int times = c.op == Op::Rewrite ? 300 : 1; // the last one writes arg
            for (int i = 0; i < times; ++i)
                done = WritePortMapping(c.port, (times - i) % 2 ? arg : arg + "x", map, &reason) && done;
            writing = false;
            reader.join();
            EXPECT_EQ(gaps, 0);
            result = (done ? "written" : "refused: " + reason) + what(c.port);
        }
        EXPECT_EQ(result, At(c.result));
    }
    // Temporary links are renamed into place or removed: nothing else is left in the folder.
    for (const auto& entry : fs::directory_iterator(map))
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
}
