// kv6251-boxsim from the command line: its options, and the tool run as a process.
#include "SimLine.h"

#include "sim/BoxSim.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

TEST(BoxSimArgs, GoodAndBadCommandLines) {
    const struct {
        const char* legend;
        std::vector<const char*> args;
        const char* error; // nullptr: accepted
    } cases[] = {
        {"every option",
         {"--link",
          "/x/com1",
          "--log",
          "/x/log",
          "--config",
          "8191:0:65535:1:-1",
          "--unpaced",
          "--silent",
          "--answer-once",
          "--ts-per-cycle",
          "3",
          "--lead-ts",
          "2",
          "--corrupt-reserved",
          "--ignore-upload",
          "--noise",
          "17",
          "--babble",
          "--gap",
          "40",
          "--hang-up-after",
          "500",
          "--come-back",
          "--stream-ts"},
         nullptr},
        {"an unknown option", {"--loud"}, "unknown option: --loud"},
        {"a value missing at the end", {"--gap"}, "--gap needs a value"},
        {"a negative count", {"--noise", "-3"}, "--noise"},
        {"trailing garbage in a number", {"--ts-per-cycle", "4x"}, "--ts-per-cycle"},
        {"a number out of range", {"--gap", "99999999999"}, "--gap"},
        {"--config with four values", {"--config", "1:2:3:4"}, "--config"},
        {"--config with six values", {"--config", "1:2:3:4:0:9"}, "--config"},
        {"--config with a PID above 16 bits", {"--config", "65536:2:3:4:0"}, "--config"},
        {"--config with an empty field", {"--config", "1::3:4:0"}, "--config"},
        {"--come-back alone", {"--come-back"}, "--come-back needs --hang-up-after"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        std::vector<const char*> argv = {"kv6251-boxsim"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        BoxSimOptions o;
        bool help = true;
        std::string error;
        const bool ok = ParseBoxSimArgs(static_cast<int>(argv.size()), argv.data(), &o, &help, &error);
        ASSERT_EQ(ok, c.error == nullptr) << error;
        if (!ok) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        EXPECT_FALSE(help);
        EXPECT_EQ(o.linkPath, "/x/com1");
        EXPECT_EQ(o.logPath, "/x/log");
        EXPECT_EQ(o.config, (SwitchConfig{8191, 0, 65535, 1, -1}));
        EXPECT_TRUE(!o.paced && o.silent && o.answerOnce && o.corruptReserved && o.ignoreUpload && o.babble &&
                    o.comeBack && o.streamTs);
        EXPECT_EQ((std::vector<int>{o.tsPerCycle, o.leadTs, o.noise, o.gapMs, o.hangUpAfterMs}),
                  (std::vector<int>{3, 2, 17, 40, 500}));
    }
}

// The box as a child process, its standard output on a pipe.
class BoxProcess {
public:
    explicit BoxProcess(std::vector<std::string> args) {
        int out[2];
        if (::pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        args.insert(args.begin(), KV_BOXSIM_EXE);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, KV_BOXSIM_EXE, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        out_ = ::fdopen(out[0], "r");
    }
    ~BoxProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (out_)
            std::fclose(out_);
    }
    BoxProcess(const BoxProcess&) = delete;
    BoxProcess& operator=(const BoxProcess&) = delete;

    std::string Output(bool firstLineOnly) {
        std::string text;
        for (int c; out_ && (c = std::fgetc(out_)) != EOF && !(firstLineOnly && c == '\n');)
            text += static_cast<char>(c);
        return text;
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    int Wait() { // the exit status, or -1 when it did not exit normally
        int status = 0;
        const bool waited = ::waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return waited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
};

TEST(BoxSimTool, HelpAndBadOptions) {
    BoxProcess help({"--help"});
    EXPECT_EQ(help.Output(false), kBoxSimUsage);
    EXPECT_EQ(help.Wait(), 0);
    BoxProcess bad({"--gap", "soon"});
    EXPECT_EQ(bad.Output(false), "");
    EXPECT_EQ(bad.Wait(), 2);
}

TEST(BoxSimTool, ServesUntilASignalThenCleansUp) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        TempDir dir;
        const std::string link = dir.Path("com1");
        const std::string log = dir.Path("box.log");
        BoxProcess box({"--link", link, "--log", log, "--config", "1:2:3:4:1"});
        const std::string slave = box.Output(true);
        ASSERT_FALSE(slave.empty());
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), slave);
        {
            SimLine line(link);
            line.Send(CommandKind::Read);
            const auto packets = line.Receive(1, 2000);
            ASSERT_EQ(packets.size(), 1u);
            EXPECT_EQ(packets[0], Config({1, 2, 3, 4, 1}));
            line.Send(CommandKind::Flush);
        }
        SleepMs(100);
        box.Signal(signal);
        EXPECT_EQ(box.Wait(), 0);
        EXPECT_FALSE(std::filesystem::is_symlink(link));
        std::ifstream file(log);
        std::string first, second;
        std::getline(file, first);
        std::getline(file, second);
        EXPECT_NE(first.find(" read"), std::string::npos) << first;
        EXPECT_NE(second.find(" flush"), std::string::npos) << second;
    }
}

} // namespace
