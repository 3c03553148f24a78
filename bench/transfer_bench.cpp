// How long Send and Get take against the simulated box at line rate, and against a silent box.
//
//   transfer_bench [--runs N]      (default 9 runs of each; prints median, min and max in ms)
//
// Each measurement is the whole operation as the window and the command line run it
// (SendSwitchConfig, GetSwitchConfig). The tool's files go to a temporary root directory.
#include "TempRoot.h"

#include "link/Ser921.h"
#include "platform/MessageSink.h"
#include "platform/Timing.h"
#include "sim/BoxSim.h"
#include "transfer/Utiltrp.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kPort = 1;
constexpr int kDefaultRuns = 9;

struct Figures {
    double median = 0, min = 0, max = 0;
};

Figures Summarise(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    Figures f;
    f.min = ms.front();
    f.max = ms.back();
    const size_t n = ms.size();
    f.median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    return f;
}

// Runs op `runs` times; every run must give `expected`. Gives the durations in ms.
std::vector<double> Measure(int runs, int expected, const std::function<int()>& op, bool* ok) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const int64_t start = NowUs();
        const int result = op();
        ms.push_back(static_cast<double>(NowUs() - start) / 1000.0);
        if (result != expected) {
            std::fprintf(stderr, "run %d: result %d, expected %d\n", i, result, expected);
            *ok = false;
        }
    }
    return ms;
}

bool RunAgainst(const char* title, BoxSimOptions options, int runs, int sendExpected, int getExpected) {
    options.linkPath = TempRoot::Fixed("com" + std::to_string(kPort));
    BoxSim box(options);
    std::string error;
    if (!box.Start(&error)) {
        std::fprintf(stderr, "box: %s\n", error.c_str());
        return false;
    }
    if (OpenLink(kPort) != 1 || !WaitReceiverReady(kReceiverStartPauseMs * 3)) {
        std::fprintf(stderr, "OpenLink failed\n");
        return false;
    }

    bool ok = true;
    SwitchConfig shown;
    const auto get = Summarise(Measure(
        runs, getExpected, [&] { return GetSwitchConfig(&shown); }, &ok));
    const auto send = Summarise(Measure(
        runs, sendExpected,
        [&] {
            return SendSwitchConfig({300, 301, 302, 303, 1});
        },
        &ok));
    CloseLink();
    box.Stop();

    std::printf("%-28s Get  (result %d): median %7.1f ms  min %7.1f  max %7.1f\n", title, getExpected, get.median,
                get.min, get.max);
    std::printf("%-28s Send (code %d):   median %7.1f ms  min %7.1f  max %7.1f\n", title, sendExpected, send.median,
                send.min, send.max);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    int runs = kDefaultRuns;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: transfer_bench [--runs N]\n");
            return 2;
        }
    }
    if (runs < 1) {
        std::fprintf(stderr, "--runs must be at least 1\n");
        return 2;
    }

    const TempRoot root;
    SetMessageSink([](const OperatorMessage& m) { std::fprintf(stderr, "link: %s\n", m.text.c_str()); });

    std::printf("%d runs each, box paced at %d bytes/s\n", runs, kLineBytesPerSecond);
    bool ok = RunAgainst("box at line rate", BoxSimOptions{}, runs, kTransferOk, kTransferOk);
    BoxSimOptions silent;
    silent.silent = true;
    ok = RunAgainst("silent box", silent, runs, kTransferTimeOut, kTransferTimeOut) && ok;
    return ok ? 0 : 1;
}
