// kv6251-boxsim: the simulated box as a command-line tool (see --help).
#include "sim/BoxSim.h"

#include <csignal>
#include <cstdio>
#include <string>

namespace {
constexpr int kExitUsage = 2;
constexpr int kExitCannotStart = 1;
} // namespace

int main(int argc, char** argv) {
    BoxSimOptions options;
    bool help = false;
    std::string error;
    if (!ParseBoxSimArgs(argc, argv, &options, &help, &error)) {
        std::fprintf(stderr, "kv6251-boxsim: %s\n(try --help)\n", error.c_str());
        return kExitUsage;
    }
    if (help) {
        std::fputs(kBoxSimUsage, stdout);
        return 0;
    }

    // The signals that end the box are taken by sigwait below, never by a handler; blocked before
    // the serving thread starts, so that it inherits the mask.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    BoxSim box(options);
    if (!box.Start(&error)) {
        std::fprintf(stderr, "kv6251-boxsim: %s\n", error.c_str());
        return kExitCannotStart;
    }
    std::printf("%s\n", box.SlavePath().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&endSignals, &signal);
    box.Stop();
    return 0;
}
