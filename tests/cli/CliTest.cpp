// kv6251-cli run as a process against simulated boxes: what a script sees (exit status,
// standard output and error) and what reached each box.
#include "ChildProcess.h"
#include "DeviceTree.h"
#include "Files.h"
#include "TempRoot.h"
#include "Transcript.h"
#include "Wait.h"

#include "platform/Timing.h"
#include "protocol/BoxPacket.h"
#include "sim/BoxSim.h"
#include "transfer/PacketFiles.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <pty.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const SwitchConfig kSent{256, 257, 258, 259, 0}; // what the transcript's Send uploads
const SwitchConfig kBoxAtStart{1, 2, 3, 4, 1};
const SwitchConfig kLargest{8191, 0, 8191, 0, 1}; // the largest PIDs, in Single mode
// What the read-back file holds before each command: an earlier Get's answer.
const std::string kEarlierReadBack(kPacketSize, '\x47');

// How the command line reaches the box on COM1 (the boxes on further ports are always linked).
enum class Route {
    Direct,   // <root>/com1 links to the box's pty
    NoDevice, // <root>/com1 links to nothing, and there is no box
    Held,     // as Direct, but another process holds the port
    OverTcp,  // a device server on localhost carries the line; socat maps it to <root>/com1
};

// The read-back file under its fixed name afterwards.
enum class ReadBack {
    Unchecked,
    Earlier, // as it was: the command compared nothing and recorded nothing
    Gone,    // removed after a comparison
    Empty,   // what a read-back that heard nothing recorded
};

// What each box logged.
enum class Log {
    Unchecked,
    Transcript, // exactly the transcript of a Send
    Nothing,    // no packet at all
    NoUpload,   // the read command's traffic, no upload
};

using BoxFn = std::function<void(BoxSimOptions&)>;

struct Case {
    const char* name;
    const char* legend;
    std::vector<BoxFn> boxes; // the box on COM1, COM2, ...; nullptr: a mapping to no device
    Route route;
    std::vector<std::string> args; // "@name" is a file of the test's own; without --port, --port=1 is added
    int status;
    const char* out;   // standard output exactly; nullptr: not looked at
    const char* err;   // found in standard error ("^" its start, "$" its end); nullptr: not looked at
    std::string holds; // each box's configuration afterwards: 's' kSent, 'a' kBoxAtStart, 'l' kLargest, '.' not
    Log log;           // what every box logged
    ReadBack readBack = ReadBack::Unchecked;
};

void Healthy(BoxSimOptions&) {}
void Silent(BoxSimOptions& o) {
    o.silent = true;
}
void HoldsSent(BoxSimOptions& o) {
    o.config = kSent;
}
void AnswersTwoPackets(BoxSimOptions& o) { // a configuration packet and a 0x47 packet per cycle
    o.config = kSent;
    o.tsPerCycle = 1;
}

// clang-format off
const Case kCases[] = {
    {"Healthy", "a box that answers: success, the box holds the new configuration; the trace has every packet",
     {Healthy}, Route::Direct, {"send", "--trace", "@trace.log", "256:257:258:259:0"},
     0, "Process successful!\n", nullptr, "s", Log::Transcript, ReadBack::Gone},
    {"IgnoresUpload", "a box that keeps its configuration: the read-back differs (10)",
     {[](BoxSimOptions& o) { o.ignoreUpload = true; }}, Route::Direct, {"send", "256:257:258:259:0"},
     10, "Error 10\n", "First difference at byte 22: sent 0x00, read back 0x01; differing bytes: 9.", "a",
     Log::Transcript},
    {"CorruptReserved", "one reserved byte changed in the answer: 10, the details name byte 100",
     {[](BoxSimOptions& o) { o.corruptReserved = true; }}, Route::Direct, {"send", "@good.swi"},
     10, "Error 10\n", "First difference at byte 100: sent 0x00, read back 0x01; differing bytes: 1.", "s",
     Log::Transcript},
    {"Silent", "a box that never answers: time-out (3)",
     {Silent}, Route::Direct, {"send", "256:257:258:259:0"},
     3, "Error 3\n", "Time-out while reading the configuration back.", ".", Log::Unchecked, ReadBack::Empty},
    {"AnswerTooLong", "an answer of two packets: the sizes differ (6), both named",
     {AnswersTwoPackets}, Route::Direct, {"send", "256:257:258:259:0"},
     6, "Error 6\n", "Send file: 188 bytes, read-back file: 376 bytes.", "s", Log::Unchecked, ReadBack::Gone},
    {"HangsUp", "the line hangs up during the read-back and does not come back: link lost (11)",
     {[](BoxSimOptions& o) { o.hangUpAfterMs = 20; }}, Route::Direct, {"send", "256:257:258:259:0"},
     11, "Error 11\n", "COM1 no accessible!", ".", Log::Unchecked},
    {"GetSilent", "get from a silent box: 3, and nothing where the configuration would go",
     {Silent}, Route::Direct, {"get"},
     3, "", "Error 3", ".", Log::Unchecked, ReadBack::Empty},
    {"NoDevice", "the port's device is not there: 69 with the window's message and the diagnosis",
     {}, Route::NoDevice, {"send", "256:257:258:259:0"},
     69, "", "^ COM1 no accessible!\nDevice: ", "", Log::Unchecked, ReadBack::Earlier},
    {"PortInUse", "another process holds the port: 69, and the details say it is in use",
     {Healthy}, Route::Held, {"send", "256:257:258:259:0"},
     69, "", "in use", "a", Log::Nothing},
    {"CorruptedSwi", "a .swi file the window calls corrupted: 65, nothing sent",
     {Healthy}, Route::Direct, {"send", "@corrupted.swi"},
     65, "", "File corrupted!", "a", Log::Nothing},
    {"PidAbove13Bits", "PID 8192 would reach the box as 0: 65, nothing sent",
     {Healthy}, Route::Direct, {"send", "256:257:8192:259:0"},
     65, "", "PidC 8192 is above 8191", "a", Log::Nothing},
    {"LargestPidsSingle", "the largest PIDs, in Single mode: sent as they are",
     {Healthy}, Route::Direct, {"send", "8191:0:8191:0:1"},
     0, "Process successful!\n", nullptr, "l", Log::Unchecked},
    {"SixFields", "six fields are no configuration: 65, nothing sent",
     {Healthy}, Route::Direct, {"send", "1:2:3:4:0:5"},
     65, "", "is not A:B:C:D:M", "a", Log::Nothing},
    {"NoConfiguration", "send without a configuration: 64",
     {Healthy}, Route::Direct, {"send"},
     64, "", "send needs a configuration", "a", Log::Nothing},
    {"TwoConfigurations", "send with two configurations: 64, neither sent",
     {Healthy}, Route::Direct, {"send", "256:257:258:259:0", "1:2:3:4:0"},
     64, "", "send takes one configuration, not several", "a", Log::Nothing},
    {"Version", "--version answers and sends nothing",
     {Healthy}, Route::Direct, {"--version"},
     0, nullptr, nullptr, "a", Log::Nothing},
    {"SaveWithPorts", "get --save with two ports: 64, no port touched",
     {Healthy, Healthy}, Route::Direct, {"get", "--port", "1,2", "--save", "@now.swi"},
     64, "", "--save takes one port", "aa", Log::Nothing},
    {"ModeTwo", "a mode the box has no name for: 65, nothing sent",
     {Healthy}, Route::Direct, {"send", "256:257:258:259:2"},
     65, "", "the mode must be 0 (Double) or 1 (Single), not 2", "a", Log::Nothing},
    {"BadUsage", "an unknown option: 64, nothing sent",
     {Healthy}, Route::Direct, {"send", "--loud", "256:257:258:259:0"},
     64, "", "unknown option '--loud'", "a", Log::Nothing},
    {"OverTcp", "a box behind a serial device server, mapped with socat: success",
     {Healthy}, Route::OverTcp, {"send", "256:257:258:259:0"},
     0, "Process successful!\n", nullptr, "s", Log::Transcript},
    {"PortsAtOnceOneFails", "four ports at once, the second silent, the fourth missing: the first failure's "
     "status, and the others sent",
     {Healthy, Silent, Healthy, nullptr}, Route::Direct, {"send", "--port", "1-4", "256:257:258:259:0"},
     3, "COM1 Process successful!\nCOM2 Error 3\nCOM3 Process successful!\nCOM4 no accessible!\n",
     "COM2: Time-out while reading the configuration back.", "s.s", Log::Unchecked},
    {"PortsAtOnceBadData", "bad data with a port list: 65 before any port is touched",
     {Healthy, Healthy}, Route::Direct, {"send", "--port", "1,2", "256:257:258:259:2"},
     65, "", "not 2", "aa", Log::Nothing},
    {"CheckSame", "check a box that holds the configuration: 0, and nothing uploaded",
     {HoldsSent}, Route::Direct, {"check", "256:257:258:259:0"},
     0, "Holds 256:257:258:259:0\n", nullptr, "s", Log::NoUpload, ReadBack::Earlier},
    {"CheckDiffers", "check a box that holds another: 1, each differing field named",
     {Healthy}, Route::Direct, {"check", "@good.swi"},
     1, "Differs: holds 1:2:3:4:1, wanted 256:257:258:259:0\n", "^The box holds another configuration: a Send of "
     "this one would change it.\nPidA: box 1, wanted 256\nPidB: box 2, wanted 257\nPidC: box 3, wanted 258\n"
     "PidD: box 4, wanted 259\nMode: box 1, wanted 0\n$", "a", Log::NoUpload},
    {"CheckAnswerTooLong", "check a box whose answer is longer than one packet: different, and why",
     {AnswersTwoPackets}, Route::Direct, {"check", "256:257:258:259:0"},
     1, nullptr, "The box answered 376 bytes; a Send uploads 188.", "s", Log::NoUpload},
    {"CheckSilent", "check a box that does not answer: 3",
     {Silent}, Route::Direct, {"check", "256:257:258:259:0"},
     3, "Error 3\n", "Time-out while reading the configuration back.", "a", Log::NoUpload},
    {"IfDifferentSame", "send --if-different to a box that holds it: nothing uploaded, 0",
     {HoldsSent}, Route::Direct, {"send", "--if-different", "256:257:258:259:0"},
     0, "Already holds 256:257:258:259:0\n", nullptr, "s", Log::NoUpload, ReadBack::Earlier},
    {"IfDifferentDiffers", "send --if-different to a box that holds another: a Send",
     {Healthy}, Route::Direct, {"send", "--if-different", "256:257:258:259:0"},
     0, "Process successful!\n", nullptr, "s", Log::Unchecked},
};
// clang-format on

// Whether something listens on the localhost TCP port, seen in the kernel's table: a probe that
// connected would be the one connection socat serves.
bool Listening(int port) {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    for (const std::string& line : ReadFileLines("/proc/net/tcp"))
        if (line.find(local) != std::string::npos && line.find(" 0A ") != std::string::npos)
            return true;
    return false;
}

// A socat that serves the box's pty on a localhost TCP port: the port, with the child's pid.
// Another program may take a port between our look and socat's bind, so a socat that could not
// listen is replaced on another port.
int ServeOverTcp(const std::string& slave, int* pid) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int port = 20000 + static_cast<int>((::getpid() * 31 + attempt * 997) % 30000);
        *pid = StartChild({"/usr/bin/socat", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr",
                           "FILE:" + slave + ",raw,echo=0"});
        int status = 0;
        if (WaitUntil([&] { return Listening(port) || ::waitpid(*pid, &status, WNOHANG) == *pid; }, 5000) &&
            Listening(port))
            return port;
        StopChild(*pid);
    }
    return -1;
}

class CliAgainstTheBox : public ::testing::TestWithParam<Case> {};

TEST_P(CliAgainstTheBox, ExitStatusOutputAndTheBoxes) {
    const Case& c = GetParam();
    SCOPED_TRACE(c.legend);
    TempRoot root;
    ASSERT_TRUE(WriteFileBytes(root.File("good.swi"), "256:257:258:259\n0\n"));
    ASSERT_TRUE(WriteFileBytes(root.File("corrupted.swi"), "256:257\n"));
    const std::string com1 = TempRoot::Fixed("com1");

    ASSERT_TRUE(WriteFileBytes(TempRoot::Fixed(kReadBackFileName), kEarlierReadBack));
    std::vector<std::unique_ptr<BoxSim>> boxes;
    for (size_t i = 0; i < c.boxes.size(); ++i) {
        const std::string mapping = TempRoot::Fixed("com" + std::to_string(i + 1));
        if (!c.boxes[i]) {
            ASSERT_EQ(::symlink("/nonexistent/ttyUSB9", mapping.c_str()), 0);
            boxes.push_back(nullptr);
            continue;
        }
        BoxSimOptions options;
        options.config = kBoxAtStart;
        c.boxes[i](options);
        if (i > 0 || c.route == Route::Direct || c.route == Route::Held)
            options.linkPath = mapping;
        boxes.push_back(std::make_unique<BoxSim>(options));
        ASSERT_TRUE(boxes.back()->Start());
    }

    int held = -1;
    std::vector<int> helpers;
    switch (c.route) {
    case Route::Direct:
        break;
    case Route::NoDevice:
        ASSERT_EQ(::symlink("/nonexistent/ttyUSB9", com1.c_str()), 0);
        break;
    case Route::Held:
        held = ::open(boxes[0]->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        break;
    case Route::OverTcp: {
        helpers.push_back(-1);
        const int port = ServeOverTcp(boxes[0]->SlavePath(), &helpers.back());
        ASSERT_GT(port, 0) << "no socat could listen";
        helpers.push_back(StartChild(
            {"/usr/bin/socat", "PTY,link=" + com1 + ",raw,echo=0", "TCP:127.0.0.1:" + std::to_string(port)}));
        ASSERT_TRUE(WaitUntil([&] { return ::access(com1.c_str(), F_OK) == 0; }, 5000)) << "socat made no pty";
        break;
    }
    }

    std::vector<std::string> argv = {KV_CLI_EXE};
    for (const std::string& arg : c.args)
        argv.push_back(arg[0] == '@' ? root.File(arg.substr(1)) : arg);
    if (std::find(c.args.begin(), c.args.end(), "--port") == c.args.end())
        argv.push_back("--port=1");
    const ChildResult run = RunChild(argv);
    SCOPED_TRACE("stdout: " + run.out + "\nstderr: " + run.err);

    EXPECT_EQ(run.status, c.status);
    if (c.out) {
        EXPECT_EQ(run.out, c.out);
    }
    if (c.err) {
        std::string err = c.err;
        const bool start = err.front() == '^', end = err.back() == '$';
        err = err.substr(start ? 1 : 0, err.size() - start - end);
        const size_t at = start ? (run.err.rfind(err, 0) == 0 ? 0 : std::string::npos)
                          : end ? run.err.rfind(err)
                                : run.err.find(err);
        EXPECT_TRUE(at != std::string::npos && (!end || at + err.size() == run.err.size())) << c.err;
    }
    for (size_t i = 0; i < c.holds.size(); ++i) {
        if (c.holds[i] != '.') {
            const SwitchConfig& held = c.holds[i] == 's' ? kSent : c.holds[i] == 'l' ? kLargest : kBoxAtStart;
            EXPECT_EQ(UnpackConfigPacket(boxes[i]->Configuration().data()), held) << "box on COM" << i + 1;
        }
    }
    std::error_code ec;
    const std::string readBack = TempRoot::Fixed(kReadBackFileName);
    switch (c.readBack) {
    case ReadBack::Unchecked:
        break;
    case ReadBack::Earlier:
        EXPECT_EQ(ReadFileBytes(readBack), kEarlierReadBack);
        break;
    case ReadBack::Gone:
        EXPECT_FALSE(fs::exists(readBack));
        break;
    case ReadBack::Empty:
        EXPECT_TRUE(fs::exists(readBack) && fs::file_size(readBack, ec) == 0);
        break;
    }
    // A transfer's own files go with it.
    for (const auto& entry : fs::directory_iterator(fs::path(readBack).parent_path(), ec))
        EXPECT_NE(entry.path().filename().string().rfind(".CONF_KV6251.", 0), 0u) << entry.path();
    for (const auto& box : boxes) {
        if (!box)
            continue;
        switch (c.log) {
        case Log::Unchecked:
            break;
        case Log::Transcript:
            WaitUntil([&] { return box->Log().size() >= SendTranscript().size(); }, 2000);
            EXPECT_EQ(LogWithoutTimes(*box), SendTranscript());
            break;
        case Log::Nothing: {
            // A flush of the test's own, behind anything the command wrote: once the box has logged
            // it, it has logged everything before it.
            const int fd = held >= 0 ? held : ::open(box->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            uint8_t flush[kPacketSize];
            BuildCommandPacket(flush, CommandKind::Flush);
            ASSERT_EQ(::write(fd, flush, kPacketSize), kPacketSize);
            EXPECT_TRUE(WaitUntil([&] { return !box->Log().empty(); }, 5000));
            EXPECT_EQ(LogWithoutTimes(*box), std::vector<std::string>{"flush"});
            if (fd != held)
                ::close(fd);
            break;
        }
        case Log::NoUpload: {
            const std::vector<std::string> log = LogWithoutTimes(*box);
            EXPECT_NE(std::find(log.begin(), log.end(), "read"), log.end());
            EXPECT_EQ(std::find(log.begin(), log.end(), "upload"), log.end());
            break;
        }
        }
    }
    if (std::find(c.args.begin(), c.args.end(), "@trace.log") != c.args.end()) {
        const std::vector<std::string> trace = ReadFileLines(root.File("trace.log"));
        // "<ms> sent <kind>" for each packet written, in the box's order; the answer received.
        std::vector<std::string> sent;
        bool answerReceived = false;
        for (const std::string& line : trace) {
            const std::string what = line.substr(line.find(' ') + 1);
            if (what.rfind("sent ", 0) == 0)
                sent.push_back(what.substr(5));
            answerReceived |= what == "received configuration 256:257:258:259:0";
        }
        EXPECT_EQ(sent, SendTranscript());
        EXPECT_TRUE(answerReceived);
    }

    for (int pid : helpers)
        StopChild(pid);
    if (held >= 0)
        ::close(held);
}

INSTANTIATE_TEST_SUITE_P(Cli, CliAgainstTheBox, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Commands started at once in one root directory (a rack sent with xargs -P), each on its own box
// with its own configuration: each box gets its own, and each success is true.
TEST(CliAtOnce, EachOfSeveralCommandsSendsItsOwnConfigurationToItsOwnBox) {
    TempRoot root;
    constexpr int kPorts = 3;
    std::vector<std::unique_ptr<BoxSim>> boxes;
    std::vector<SwitchConfig> configs;
    for (int i = 0; i < kPorts; ++i) {
        BoxSimOptions options;
        options.config = kBoxAtStart;
        options.linkPath = TempRoot::Fixed("com" + std::to_string(i + 1));
        boxes.push_back(std::make_unique<BoxSim>(options));
        ASSERT_TRUE(boxes.back()->Start());
        const uint16_t pid = static_cast<uint16_t>(100 * (i + 1));
        configs.push_back({pid, static_cast<uint16_t>(pid + 1), static_cast<uint16_t>(pid + 2), 7, 0});
    }
    std::vector<ChildResult> runs(kPorts);
    std::vector<std::thread> threads;
    for (int i = 0; i < kPorts; ++i) {
        const SwitchConfig& c = configs[static_cast<size_t>(i)];
        const std::string text = std::to_string(c.PidA) + ":" + std::to_string(c.PidB) + ":" + std::to_string(c.PidC) +
                                 ":" + std::to_string(c.PidD) + ":0";
        threads.emplace_back([&runs, i, text] {
            runs[static_cast<size_t>(i)] = RunChild({KV_CLI_EXE, "send", "--port", std::to_string(i + 1), text});
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (size_t i = 0; i < kPorts; ++i) {
        SCOPED_TRACE("COM" + std::to_string(i + 1) + ": " + runs[i].out + runs[i].err);
        EXPECT_EQ(runs[i].status, 0);
        EXPECT_EQ(UnpackConfigPacket(boxes[i]->Configuration().data()), configs[i]);
    }
}

// map on a made-up /dev and /sys: which name the mapping links to, and what is refused.
class CliMap : public ::testing::Test, protected DeviceTree {};

TEST_F(CliMap, LinksThePortToTheAdaptersStableNameOrSaysWhyNot) {
    const std::string byId = At("@dev/serial/by-id/") + kAdapter, byPath = At("@dev/serial/by-path/") + ByPath('2');
    // clang-format off
    struct Case { const char* legend; std::vector<std::string> args; int status; std::string out, err, link; };
    const Case cases[] = {
        {"a serial number of its own: the by-id name", {"5", "A5XK3RJT"},
         0, "COM5 -> " + byId + " (" + At("@dev/ttyUSB0") + ")\n", "", byId},
        {"no serial number, the by-path name given: kept", {"7", ByPath('2')},
         0, "COM7 -> " + byPath + " (" + At("@dev/ttyUSB1") + ")\n", "", byPath},
        {"a serial number two adapters share: 65, each named", {"8", "0001"},
         65, "", "-> " + At("@dev/ttyUSB4") + "\n", ""},
        {"--remove: the mapping goes", {"12", "--remove"}, 0, "COM12 is no longer mapped: it opens " +
         At("@dev/ttyUSB11") + "\n", "", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        std::vector<std::string> argv = {KV_CLI_EXE, "--root", At("@map"), "map"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ChildResult run = RunChild(argv, 20000, {"KV6251_DEV_DIR=" + At("@dev"), "KV6251_SYS_DIR=" + At("@sys")});
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, c.out);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        std::error_code ec;
        EXPECT_EQ(fs::read_symlink(At("@map/com" + c.args[0]), ec).string(), c.link);
    }
}

TEST(CliPorts, ListsAMappedPtyAndAMissingMapping) {
    TempRoot root;
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave); // held by nobody: the port is free to open
    ASSERT_EQ(::symlink(name, TempRoot::Fixed("com1").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/ttyUSB7", TempRoot::Fixed("com2").c_str()), 0);

    const ChildResult text = RunChild({KV_CLI_EXE, "ports"});
    ASSERT_EQ(text.status, 0) << text.err;
    const std::vector<std::string> lines = [&] {
        std::vector<std::string> all;
        for (size_t start = 0, end; (end = text.out.find('\n', start)) != std::string::npos; start = end + 1)
            all.push_back(text.out.substr(start, end - start));
        return all;
    }();
    ASSERT_EQ(lines.size(), 10u) << text.out; // a heading, then COM1..COM9
    EXPECT_EQ(lines[1].rfind("COM1 ", 0), 0u);
    EXPECT_NE(lines[1].find(TempRoot::Fixed("com1") + " -> " + name), std::string::npos) << lines[1];
    EXPECT_EQ(lines[1].substr(lines[1].size() - 2), "ok");
    EXPECT_EQ(lines[2].substr(lines[2].size() - 7), "missing");

    const ChildResult json = RunChild({KV_CLI_EXE, "ports", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json document = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_TRUE(document.is_object()) << json.out;
    const nlohmann::json& ports = document["ports"];
    ASSERT_EQ(ports.size(), 9u);
    EXPECT_EQ(ports[0]["target"], name);
    EXPECT_EQ(ports[0]["access"], "ok");
    EXPECT_EQ(ports[0]["mapped"], true);
    EXPECT_EQ(ports[1]["exists"], false);
    EXPECT_EQ(ports[1]["access"], "missing");
    ::close(master);
}

} // namespace
