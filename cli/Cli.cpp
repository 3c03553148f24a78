#include "cli/Cli.h"

#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/PortFanout.h"
#include "cli/Report.h"
#include "files/SwiFile.h"
#include "link/Ser921.h"
#include "platform/RootDir.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sysexits.h>
#include <unistd.h>

#ifndef KV_VERSION
#define KV_VERSION "unknown"
#endif

namespace {

constexpr const char* kProgram = "kv6251-cli";

int Usage(const Options& options, const std::string& what) {
    if (options.json) {
        Report report;
        report.code = EX_USAGE;
        report.problem = true;
        report.text = what;
        std::fputs(Dump(ReportJson(report)).c_str(), stdout);
    }
    std::fprintf(stderr, "%s: %s\n(try %s --help)\n", kProgram, what.c_str(), kProgram);
    return EX_USAGE;
}

// A report that ends the command before any port is touched.
int Refuse(const Options& options, const char* command, int code, const std::string& what) {
    Report report;
    report.command = command;
    report.code = code;
    report.problem = true;
    report.text = what;
    PrintReport(options, report);
    return code;
}

// Counts the ports done on a terminal's last line while they run.
class PortsDoneLine {
public:
    PortsDoneLine(bool enabled, size_t total) : enabled_(enabled), total_(total) { Show(0); }
    ~PortsDoneLine() {
        if (enabled_)
            std::fputs("\r\033[K", stderr);
    }
    PortsDoneLine(const PortsDoneLine&) = delete;
    PortsDoneLine& operator=(const PortsDoneLine&) = delete;

    void Show(size_t done) const {
        if (!enabled_)
            return;
        std::fprintf(stderr, "\r\033[K%zu of %zu ports done...", done, total_);
        std::fflush(stderr);
    }

private:
    bool enabled_;
    size_t total_;
};

// Runs the command on every port: on one in this process, on several at once, one process each.
int RunOnEachPort(const Options& options, const std::vector<int>& ports,
                  const std::function<Report(const Options&, int, bool)>& run) {
    if (ports.size() == 1) {
        Report report = run(options, ports.front(), true);
        // --save only for a configuration read: a failed read leaves any old file as it was. A
        // save that fails still prints the configuration it could not keep.
        if (report.code == 0 && !options.savePath.empty() && report.configuration) {
            std::string reason;
            if (!SaveSwiFile(options.savePath, *report.configuration, &reason)) {
                report.code = EX_IOERR;
                report.problem = true;
                report.text = "Error at Save. " + options.savePath + ": " + reason;
            }
        }
        if (!PrintReport(options, report) && report.code == 0) {
            std::fprintf(stderr, "%s: cannot write the standard output: %s\n", kProgram, std::strerror(errno));
            return EX_IOERR;
        }
        return report.code;
    }

    const PortsDoneLine progress(!options.quiet && ::isatty(STDERR_FILENO), ports.size());
    std::vector<Report> reports = RunOnPorts(
        ports,
        [&](int port) {
            Options own = options;
            if (!own.tracePath.empty())
                own.tracePath += "." + PortName(port);
            return run(own, port, false);
        },
        [&](size_t done) { progress.Show(done); });
    int status = 0;
    for (Report& r : reports) {
        if (r.command.empty())
            r.command = CommandName(options.command);
        if (status == 0)
            status = r.code;
    }
    if (!PrintPortReports(options, reports, status) && status == 0) {
        std::fprintf(stderr, "%s: cannot write the standard output: %s\n", kProgram, std::strerror(errno));
        return EX_IOERR;
    }
    return status;
}

} // namespace

int RunCli(int argc, const char* const* argv) {
    Options options;
    if (const auto error = ParseArgs(argc, argv, &options))
        return Usage(options, error->what);
    if (options.version) {
        std::printf("%s %s\n", kProgram, KV_VERSION);
        return 0;
    }
    if (options.help) {
        std::fputs(UsageText(options.command), stdout);
        return 0;
    }
    if (!options.rootDir.empty())
        UseRootDir(options.rootDir);

    switch (options.command) {
    case Command::Ports:
        return PrintReport(options, RunPorts()) ? 0 : EX_IOERR;
    case Command::Map: {
        const Report report = RunMap(options);
        PrintReport(options, report);
        return report.code;
    }
    case Command::None:
        return EX_USAGE;
    case Command::Send:
    case Command::Get:
    case Command::Check:
        break;
    }

    // Everything that can be found wrong is found before anything is sent to any port.
    const char* command = CommandName(options.command);
    SwitchConfig config;
    if (options.command != Command::Get) {
        if (const auto error = ConfigurationFrom(options.operands.front(), &config))
            return Refuse(options, command, error->code, error->what);
    }
    std::vector<int> ports = options.ports;
    if (ports.empty()) {
        if (const int chosen = ChosenPort())
            ports.push_back(chosen);
        else
            return Refuse(options, command, EX_USAGE,
                          "no port chosen: give --port N, or choose the port in the window (Config > Port)");
    }
    switch (options.command) {
    case Command::Send:
        return RunOnEachPort(options, ports, [&](const Options& o, int port, bool progress) {
            return RunSend(o, config, port, progress);
        });
    case Command::Check:
        return RunOnEachPort(options, ports, [&](const Options& o, int port, bool progress) {
            return RunCheck(o, config, port, progress);
        });
    default:
        return RunOnEachPort(options, ports,
                             [](const Options& o, int port, bool progress) { return RunGet(o, port, progress); });
    }
}
