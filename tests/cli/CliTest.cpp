// kv6251-cli run as a process against the simulated box: what a script sees (exit status,
// standard output and error) and what reached the box.
#include "ChildProcess.h"
#include "Files.h"
#include "TempRoot.h"
#include "Transcript.h"
#include "Wait.h"

#include "platform/Timing.h"
#include "protocol/BoxPacket.h"
#include "sim/BoxSim.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const SwitchConfig kSent{256, 257, 258, 259, 0}; // what the transcript's Send uploads
const SwitchConfig kBoxAtStart{1, 2, 3, 4, 1};

// How the command line reaches the box on COM1.
enum class Route {
    Direct,   // <root>/com1 links to the box's pty
    NoDevice, // <root>/com1 links to nothing
    Held,     // as Direct, but another process holds the port
    OverTcp,  // a device server on localhost carries the line; socat maps it to <root>/com1
};

struct Case {
    const char* name;
    const char* legend;
    std::function<void(BoxSimOptions&)> box;
    Route route;
    std::vector<std::string> args; // "@name" is a file of the test's own
    int status;
    const char* out;           // standard output exactly; nullptr: not looked at
    const char* err;           // found in standard error; nullptr: not looked at
    const SwitchConfig* holds; // the box's configuration afterwards; nullptr: not looked at
    bool transcript;           // the box logged exactly the transcript of a Send
    bool nothingOnLine;        // the box received no packet at all
};

void Healthy(BoxSimOptions&) {}

// clang-format off
const Case kCases[] = {
    {"Healthy", "a box that answers: success, the box holds the new configuration; the trace has every packet",
     Healthy, Route::Direct, {"send", "--trace", "@trace.log", "256:257:258:259:0"},
     0, "Process successful!\n", nullptr, &kSent, true, false},
    {"IgnoresUpload", "a box that keeps its configuration: the read-back differs (10)",
     [](BoxSimOptions& o) { o.ignoreUpload = true; }, Route::Direct, {"send", "256:257:258:259:0"},
     10, "Error 10\n", "The two files differ in content.", &kBoxAtStart, true, false},
    {"CorruptReserved", "one reserved byte changed in the answer: 10, the details name byte 100",
     [](BoxSimOptions& o) { o.corruptReserved = true; }, Route::Direct, {"send", "@good.swi"},
     10, "Error 10\n", "First difference at byte 100: sent 0x00, read back 0x01; differing bytes: 1.", &kSent, true, false},
    {"Silent", "a box that never answers: time-out (3)",
     [](BoxSimOptions& o) { o.silent = true; }, Route::Direct, {"send", "256:257:258:259:0"},
     3, "Error 3\n", "Time-out while reading the configuration back.", nullptr, false, false},
    {"HangsUp", "the line hangs up during the read-back and does not come back: link lost (11)",
     [](BoxSimOptions& o) { o.hangUpAfterMs = 20; }, Route::Direct, {"send", "256:257:258:259:0"},
     11, "Error 11\n", "COM1 no accessible!", nullptr, false, false},
    {"GetSilent", "get from a silent box: 3, and nothing where the configuration would go",
     [](BoxSimOptions& o) { o.silent = true; }, Route::Direct, {"get"},
     3, "", "Error 3", nullptr, false, false},
    {"NoDevice", "the port's device is not there: 69 with the window's message and the diagnosis",
     Healthy, Route::NoDevice, {"send", "256:257:258:259:0"},
     69, "", " COM1 no accessible!\nDevice: ", &kBoxAtStart, false, true},
    {"PortInUse", "another process holds the port: 69, and the details say it is in use",
     Healthy, Route::Held, {"send", "256:257:258:259:0"},
     69, "", "in use", &kBoxAtStart, false, true},
    {"CorruptedSwi", "a .swi file the window calls corrupted: 65, nothing sent",
     Healthy, Route::Direct, {"send", "@corrupted.swi"},
     65, "", "File corrupted!", &kBoxAtStart, false, true},
    {"PidAbove13Bits", "PID 9000 would reach the box as 808: 65, nothing sent",
     Healthy, Route::Direct, {"send", "256:257:9000:259:0"},
     65, "", "PidC 9000 is above 8191", &kBoxAtStart, false, true},
    {"ModeTwo", "a mode the box has no name for: 65, nothing sent",
     Healthy, Route::Direct, {"send", "256:257:258:259:2"},
     65, "", "the mode must be 0 (Double) or 1 (Single), not 2", &kBoxAtStart, false, true},
    {"BadUsage", "an unknown option: 64, nothing sent",
     Healthy, Route::Direct, {"send", "--loud", "256:257:258:259:0"},
     64, "", "unknown option '--loud'", &kBoxAtStart, false, true},
    {"OverTcp", "a box behind a serial device server, mapped with socat: success",
     Healthy, Route::OverTcp, {"send", "256:257:258:259:0"},
     0, "Process successful!\n", nullptr, &kSent, true, false},
};
// clang-format on

// A TCP port on localhost that nobody listens on right now.
int FreeTcpPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

class CliAgainstTheBox : public ::testing::TestWithParam<Case> {};

TEST_P(CliAgainstTheBox, ExitStatusOutputAndTheBox) {
    const Case& c = GetParam();
    SCOPED_TRACE(c.legend);
    TempRoot root;
    ASSERT_TRUE(WriteFileBytes(root.File("good.swi"), "256:257:258:259\n0\n"));
    ASSERT_TRUE(WriteFileBytes(root.File("corrupted.swi"), "256:257\n"));
    const std::string com1 = TempRoot::Fixed("com1");

    BoxSimOptions options;
    options.config = kBoxAtStart;
    c.box(options);
    if (c.route == Route::Direct || c.route == Route::Held)
        options.linkPath = com1;
    BoxSim box(options);
    ASSERT_TRUE(box.Start());

    int held = -1;
    std::vector<int> helpers;
    switch (c.route) {
    case Route::Direct:
        break;
    case Route::NoDevice:
        ASSERT_EQ(::symlink("/nonexistent/ttyUSB9", com1.c_str()), 0);
        break;
    case Route::Held:
        held = ::open(box.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        break;
    case Route::OverTcp: {
        const std::string port = std::to_string(FreeTcpPort());
        helpers.push_back(StartChild({"/usr/bin/socat", "TCP-LISTEN:" + port + ",bind=127.0.0.1,reuseaddr",
                                      "FILE:" + box.SlavePath() + ",raw,echo=0"}));
        helpers.push_back(StartChild({"/usr/bin/socat", "PTY,link=" + com1 + ",raw,echo=0",
                                      "TCP:127.0.0.1:" + port + ",retry=100,interval=0.05"}));
        ASSERT_TRUE(WaitUntil([&] { return ::access(com1.c_str(), F_OK) == 0; }, 5000)) << "socat made no pty";
        break;
    }
    }

    std::vector<std::string> argv = {KV_CLI_EXE};
    for (const std::string& arg : c.args)
        argv.push_back(arg[0] == '@' ? root.File(arg.substr(1)) : arg);
    argv.push_back("--port=1");
    const ChildResult run = RunChild(argv);
    SCOPED_TRACE("stdout: " + run.out + "\nstderr: " + run.err);

    EXPECT_EQ(run.status, c.status);
    if (c.out) {
        EXPECT_EQ(run.out, c.out);
    }
    if (c.err) {
        EXPECT_NE(run.err.find(c.err), std::string::npos);
    }
    if (c.holds) {
        EXPECT_EQ(UnpackConfigPacket(box.Configuration().data()), *c.holds);
    }
    if (c.transcript) {
        WaitUntil([&] { return box.Log().size() >= SendTranscript().size(); }, 2000);
        EXPECT_EQ(LogWithoutTimes(box), SendTranscript());
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
    if (c.nothingOnLine) {
        SleepMs(100);
        EXPECT_TRUE(box.Log().empty());
    }

    for (int pid : helpers)
        StopChild(pid);
    if (held >= 0)
        ::close(held);
}

INSTANTIATE_TEST_SUITE_P(Cli, CliAgainstTheBox, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

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
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out;
    const QJsonArray ports = document.object().value(QStringLiteral("ports")).toArray();
    ASSERT_EQ(ports.size(), 9);
    const QJsonObject com1 = ports[0].toObject();
    EXPECT_EQ(com1.value(QStringLiteral("target")).toString().toStdString(), name);
    EXPECT_EQ(com1.value(QStringLiteral("access")).toString(), QStringLiteral("ok"));
    EXPECT_TRUE(com1.value(QStringLiteral("mapped")).toBool());
    const QJsonObject com2 = ports[1].toObject();
    EXPECT_FALSE(com2.value(QStringLiteral("exists")).toBool());
    EXPECT_EQ(com2.value(QStringLiteral("access")).toString(), QStringLiteral("missing"));
    ::close(master);
}

} // namespace
