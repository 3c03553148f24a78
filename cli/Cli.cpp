#include "cli/Cli.h"

#include "cli/Json.h"
#include "files/NumberText.h"
#include "files/PortFile.h"
#include "files/SwiFile.h"
#include "link/PacketTrace.h"
#include "link/Ser921.h"
#include "platform/MessageSink.h"
#include "platform/PortInventory.h"
#include "platform/PortMap.h"
#include "transfer/Utiltrp.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef KV_VERSION
#define KV_VERSION "unknown"
#endif

namespace {

// Exit statuses beyond the transfer result codes 0..11, as sysexits.h names them.
constexpr int kExitUsage = 64;       // the command line is wrong
constexpr int kExitBadData = 65;     // the configuration given is not one the box can take
constexpr int kExitNoInput = 66;     // the .swi file cannot be opened
constexpr int kExitUnavailable = 69; // the port cannot be opened or configured
constexpr int kExitCannotWrite = 74; // --save, --trace or standard output cannot be written

constexpr const char* kProgram = "kv6251-cli";
// The receiver starts reading a second after the open; give it that three times over.
constexpr int kReceiverReadyLimitMs = 3 * kReceiverStartPauseMs;
constexpr const char* kPidNames[] = {"PidA", "PidB", "PidC", "PidD"};

constexpr const char* kUsage =
    "Usage: kv6251-cli COMMAND [OPTIONS]\n"
    "Send, Get and the port list of the KV6251 Transport Switcher tool, from a shell.\n"
    "\n"
    "Commands:\n"
    "  send [--port N] A:B:C:D:M | FILE.swi   upload a configuration and verify it\n"
    "  get [--port N] [--save FILE.swi]       print the box's configuration in .swi form\n"
    "  ports                                  list the port numbers and their devices\n"
    "\n"
    "Options:\n"
    "  --port N       use port N (COM<N>) instead of the port chosen in the window\n"
    "  --json         print one JSON object on standard output instead of texts\n"
    "  --quiet        no progress line, and nothing on standard error for a success\n"
    "  --trace FILE   write one line per packet sent and received to FILE\n"
    "  --help         show help (kv6251-cli COMMAND --help for a command)\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: send and get give the transfer result code (0 success, 1..11 as \"Error n\");\n"
    "64 bad usage, 65 a configuration the box cannot take, 66 a .swi file that cannot be opened,\n"
    "69 the port cannot be opened or configured, 74 an output file cannot be written.\n"
    "Port N opens <root>/com<N> when it exists, else /dev/ttyUSB<N-1>; the root directory is\n"
    "$XDG_DATA_HOME/kv6251 (default ~/.local/share/kv6251). See kv6251-cli(1).\n";

constexpr const char* kSendUsage =
    "Usage: kv6251-cli send [--port N] [--json] [--quiet] [--trace FILE] A:B:C:D:M | FILE.swi\n"
    "Uploads the configuration (four PIDs 0..8191 and the mode, 0 Double or 1 Single, or a .swi\n"
    "file), reads the box's configuration back and compares the two byte for byte.\n"
    "Prints \"Process successful!\" or \"Error n\"; the exit status is n (0 for success).\n";

constexpr const char* kGetUsage =
    "Usage: kv6251-cli get [--port N] [--json] [--quiet] [--trace FILE] [--save FILE.swi]\n"
    "Reads the box's configuration and prints it as the two lines of a .swi file, as the\n"
    "window's Save writes it after a Get. --save writes the file too (whole or not at all).\n";

constexpr const char* kPortsUsage = "Usage: kv6251-cli ports [--json]\n"
                                    "Lists port numbers 1..9 and every other com<n> mapping: the device each opens,\n"
                                    "the adapter behind it and whether this user can open it now.\n";

enum class Command { None, Send, Get, Ports };

struct Options {
    Command command = Command::None;
    int port = 0; // 0: the saved port setting
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::string tracePath;
    std::string savePath;
    std::vector<std::string> operands;
};

// What a command found, printed as text or as JSON at the end.
struct Report {
    const char* command = "";
    int code = 0;
    std::string text;                 // the main line: "Process successful!", "Error 3", an error
    std::string meaning;              // what the code means
    std::vector<std::string> details; // further lines: sizes, the difference, link messages
    int port = 0;
    std::string device;
    std::optional<SwitchConfig> configuration;
    std::optional<std::vector<PortEntry>> ports;
    std::string output;   // standard output without --json
    bool problem = false; // the command could not do its work: text says why, on standard error
};

struct UsageError {
    std::string what;
};

// ---- command line --------------------------------------------------------------------------

bool ParsePort(std::string_view text, int* port) {
    uint32_t value = 0;
    if (!ParseDecimal(text, &value) || value < 1 || value > INT16_MAX)
        return false;
    *port = static_cast<int>(value);
    return true;
}

std::optional<UsageError> ParseArgs(int argc, const char* const* argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg.size() < 2 || arg[0] != '-' || arg == "--") {
            if (arg == "--") {
                for (++i; i < argc; ++i)
                    options->operands.emplace_back(argv[i]);
                break;
            }
            if (options->command == Command::None) {
                if (arg == "send")
                    options->command = Command::Send;
                else if (arg == "get")
                    options->command = Command::Get;
                else if (arg == "ports")
                    options->command = Command::Ports;
                else
                    return UsageError{"unknown command '" + std::string(arg) + "'"};
            } else {
                options->operands.emplace_back(arg);
            }
            continue;
        }
        // --name value or --name=value
        std::string name(arg);
        std::optional<std::string> inlineValue;
        if (const size_t eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        auto value = [&](std::string* out) -> std::optional<UsageError> {
            if (inlineValue)
                *out = *inlineValue;
            else if (i + 1 < argc)
                *out = argv[++i];
            else
                return UsageError{"option " + name + " needs a value"};
            return std::nullopt;
        };
        auto flag = [&](bool* out) -> std::optional<UsageError> {
            if (inlineValue)
                return UsageError{"option " + name + " takes no value"};
            *out = true;
            return std::nullopt;
        };
        std::optional<UsageError> error;
        if (name == "--help" || name == "-h") {
            error = flag(&options->help);
        } else if (name == "--version") {
            error = flag(&options->version);
        } else if (name == "--json") {
            error = flag(&options->json);
        } else if (name == "--quiet" || name == "-q") {
            error = flag(&options->quiet);
        } else if (name == "--port") {
            std::string text;
            error = value(&text);
            if (!error && !ParsePort(text, &options->port))
                error = UsageError{"--port takes a port number from 1 to 32767, not '" + text + "'"};
        } else if (name == "--trace") {
            error = value(&options->tracePath);
        } else if (name == "--save") {
            error = value(&options->savePath);
        } else {
            error = UsageError{"unknown option '" + name + "'"};
        }
        if (error)
            return error;
    }
    if (options->help || options->version)
        return std::nullopt;
    // Each option belongs to the commands it makes sense for.
    switch (options->command) {
    case Command::None:
        return UsageError{"no command given (send, get or ports)"};
    case Command::Send:
        if (!options->savePath.empty())
            return UsageError{"send takes no --save"};
        if (options->operands.size() != 1)
            return UsageError{options->operands.empty() ? "send needs a configuration: A:B:C:D:M or FILE.swi"
                                                        : "send takes one configuration, not several"};
        break;
    case Command::Get:
        if (!options->operands.empty())
            return UsageError{"get takes no operand ('" + options->operands.front() + "')"};
        break;
    case Command::Ports:
        if (options->port != 0 || !options->tracePath.empty() || !options->savePath.empty() || options->quiet)
            return UsageError{"ports takes only --json"};
        if (!options->operands.empty())
            return UsageError{"ports takes no operand ('" + options->operands.front() + "')"};
        break;
    }
    return std::nullopt;
}

// ---- the configuration to send -------------------------------------------------------------

struct DataError {
    int code;
    std::string what;
};

// Checks the five fields as written: PIDs 0..8191, mode 0 or 1. The window would take more (it
// wraps at 16 bits, and the packet keeps 13), but a script must not route another programme.
std::optional<DataError> CheckFields(const std::array<std::string, kSwiFieldCount>& fields, SwitchConfig* config) {
    uint32_t values[kSwiFieldCount] = {};
    for (int i = 0; i < kSwiFieldCount; ++i) {
        const std::string& field = fields[static_cast<size_t>(i)];
        const char* name = i < 4 ? kPidNames[i] : "the mode";
        if (!ParseDecimal(field, &values[i]))
            return DataError{kExitBadData, std::string(name) + " '" + field + "' is not a number"};
    }
    for (int i = 0; i < 4; ++i) {
        if (values[i] > kPidMask) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "%s %u is above %u: a PID travels in 13 bits, and the box would receive %u instead",
                          kPidNames[i], values[i], unsigned{kPidMask}, values[i] & kPidMask);
            return DataError{kExitBadData, text};
        }
    }
    if (values[4] > 1)
        return DataError{kExitBadData, "the mode must be 0 (Double) or 1 (Single), not " + std::to_string(values[4])};
    *config = SwitchConfig{static_cast<uint16_t>(values[0]), static_cast<uint16_t>(values[1]),
                           static_cast<uint16_t>(values[2]), static_cast<uint16_t>(values[3]),
                           static_cast<int16_t>(values[4])};
    return std::nullopt;
}

bool LooksLikeFile(const std::string& operand) {
    struct stat st {};
    const bool swiSuffix = operand.size() > 4 && operand.compare(operand.size() - 4, 4, ".swi") == 0;
    return swiSuffix || operand.find('/') != std::string::npos || ::stat(operand.c_str(), &st) == 0;
}

std::optional<DataError> ConfigurationFrom(const std::string& operand, SwitchConfig* config) {
    std::array<std::string, kSwiFieldCount> fields;
    if (LooksLikeFile(operand)) {
        switch (LoadSwiFile(operand, nullptr, &fields)) {
        case SwiLoadResult::CannotOpen: {
            const int err = errno;
            return DataError{kExitNoInput, "cannot open " + operand + ": " + std::strerror(err)};
        }
        case SwiLoadResult::Corrupted:
            return DataError{kExitBadData, operand + ": File corrupted! (a .swi file holds PidA:PidB:PidC:PidD "
                                                     "and the mode on two lines)"};
        case SwiLoadResult::Ok:
            break;
        }
        return CheckFields(fields, config);
    }
    size_t start = 0;
    for (int i = 0; i < kSwiFieldCount; ++i) {
        const size_t colon = operand.find(':', start);
        if ((colon == std::string::npos) != (i == kSwiFieldCount - 1))
            return DataError{kExitBadData, "'" + operand + "' is not A:B:C:D:M (four PIDs and the mode)"};
        fields[static_cast<size_t>(i)] = operand.substr(start, colon == std::string::npos ? colon : colon - start);
        start = colon + 1;
    }
    return CheckFields(fields, config);
}

// What the window shows after a Get, and so what its Save then writes: the mode group takes any
// mode byte but 0 as Single, and Single empties Switch B's fields, which save as 0.
SwitchConfig AsTheWindowShows(SwitchConfig box) {
    box.Mode = box.Mode == 0 ? 0 : 1;
    if (box.Mode != 0)
        box.PidC = box.PidD = 0;
    return box;
}

// ---- output --------------------------------------------------------------------------------

// Appends the lines of text; a line end at the very end starts no further line.
void SplitLines(const std::string& text, std::vector<std::string>* lines) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines->push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

void WriteConfiguration(JsonWriter& json, const SwitchConfig& c) {
    json.BeginObject();
    json.Key("PidA").Number(c.PidA).Key("PidB").Number(c.PidB).Key("PidC").Number(c.PidC).Key("PidD").Number(c.PidD);
    json.Key("Mode").Number(c.Mode).EndObject();
}

void WritePorts(JsonWriter& json, const std::vector<PortEntry>& ports) {
    json.BeginArray();
    for (const PortEntry& p : ports) {
        json.BeginObject();
        json.Key("port").Number(p.port).Key("name").String(PortName(p.port));
        json.Key("device").String(p.device).Key("target").String(p.target);
        json.Key("mapped").Bool(p.mapped).Key("exists").Bool(p.exists);
        json.Key("vendorId").String(p.adapter.vendorId).Key("productId").String(p.adapter.productId);
        json.Key("serial").String(p.adapter.serial).Key("manufacturer").String(p.adapter.manufacturer);
        json.Key("product").String(p.adapter.product).Key("byId").String(p.adapter.byIdName);
        json.Key("access").String(PortAccessName(p.access)).Key("group").String(p.group);
        json.Key("holders").BeginArray();
        for (const ProcessInfo& holder : p.holders)
            json.BeginObject().Key("pid").Number(holder.pid).Key("name").String(holder.name).EndObject();
        json.EndArray().EndObject();
    }
    json.EndArray();
}

std::string ReportJson(const Report& r) {
    JsonWriter json;
    json.BeginObject().Key("command").String(r.command).Key("code").Number(r.code);
    json.Key("text").String(r.text).Key("meaning").String(r.meaning);
    json.Key("details").BeginArray();
    for (const std::string& line : r.details)
        json.String(line);
    json.EndArray();
    if (r.port != 0)
        json.Key("port").Number(r.port).Key("device").String(r.device);
    json.Key("configuration");
    if (r.configuration)
        WriteConfiguration(json, *r.configuration);
    else
        json.Null();
    if (r.ports) {
        json.Key("ports");
        WritePorts(json, *r.ports);
    }
    json.EndObject();
    return json.Text() + "\n";
}

// The port table: one line per port, columns aligned.
std::string PortsText(const std::vector<PortEntry>& ports) {
    struct Row {
        std::string name, device, adapter, access;
    };
    std::vector<Row> rows{{"PORT", "DEVICE", "ADAPTER", "ACCESS"}};
    for (const PortEntry& p : ports) {
        Row row{PortName(p.port), p.device, "-", PortAccessName(p.access)};
        if (!p.target.empty() && p.target != p.device)
            row.device += " -> " + p.target;
        const PortAdapter& a = p.adapter;
        if (!a.vendorId.empty()) {
            row.adapter = "usb " + a.vendorId + ":" + a.productId;
            if (!a.serial.empty())
                row.adapter += " serial " + a.serial;
        }
        if (!a.byIdName.empty())
            row.adapter += (row.adapter == "-" ? "" : " ") + ("by-id " + a.byIdName);
        if (p.access == PortAccess::PermissionDenied && !p.group.empty())
            row.access += " (group " + p.group + ")";
        if (p.access == PortAccess::InUse) {
            for (const ProcessInfo& holder : p.holders)
                row.access += " " + std::to_string(holder.pid) + (holder.name.empty() ? "" : " (" + holder.name + ")");
        }
        rows.push_back(std::move(row));
    }
    size_t widths[3] = {};
    for (const Row& row : rows) {
        widths[0] = std::max(widths[0], row.name.size());
        widths[1] = std::max(widths[1], row.device.size());
        widths[2] = std::max(widths[2], row.adapter.size());
    }
    std::string text;
    for (const Row& row : rows) {
        text += row.name + std::string(widths[0] - row.name.size() + 2, ' ');
        text += row.device + std::string(widths[1] - row.device.size() + 2, ' ');
        text += row.adapter + std::string(widths[2] - row.adapter.size() + 2, ' ');
        text += row.access + "\n";
    }
    return text;
}

// ---- progress and link messages -------------------------------------------------------------

// One line on a terminal, rewritten as the steps go by and wiped at the end.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    ~ProgressLine() { Clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Show(const std::string& text) {
        if (!enabled_)
            return;
        std::fprintf(stderr, "\r\033[K%s...", text.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void Clear() {
        if (shown_)
            std::fputs("\r\033[K", stderr);
        shown_ = false;
    }

private:
    bool enabled_;
    bool shown_ = false;
};

// The link's messages (a port that cannot be opened, a reopen that failed), kept for the report.
class LinkMessages {
public:
    LinkMessages() {
        SetMessageSink([this](const OperatorMessage& message) {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.push_back(message);
        });
    }
    ~LinkMessages() { SetMessageSink({}); }
    LinkMessages(const LinkMessages&) = delete;
    LinkMessages& operator=(const LinkMessages&) = delete;

    std::vector<OperatorMessage> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(messages_, {});
    }

private:
    std::mutex mutex_;
    std::vector<OperatorMessage> messages_;
};

void AddMessages(const std::vector<OperatorMessage>& messages, Report* report) {
    for (const OperatorMessage& message : messages) {
        report->details.push_back(message.text);
        SplitLines(MessageDetails(message), &report->details);
    }
}

// ---- commands ------------------------------------------------------------------------------

// The port to use: --port, else the one chosen in the window. 0 when there is none.
int ChosenPort(const Options& options) {
    if (options.port != 0)
        return options.port;
    int16_t saved = 0;
    return LoadPortSetting(&saved) && saved >= 1 ? saved : 0;
}

// Runs a command that talks to the box: opens the port, waits until the receiver reads, runs
// work, closes. Gives the exit status; fills the report.
template <class Work> int WithLink(const Options& options, const char* command, Report* report, Work&& work) {
    report->command = command;
    report->port = ChosenPort(options);
    if (report->port == 0) {
        report->code = kExitUsage;
        report->problem = true;
        report->text = "no port chosen: give --port N, or choose the port in the window (Config > Port)";
        return report->code;
    }
    report->device = PortDevicePath(report->port);
    if (!options.tracePath.empty()) {
        std::string error;
        if (!StartPacketTrace(options.tracePath, &error)) {
            report->code = kExitCannotWrite;
            report->problem = true;
            report->text = "cannot write the trace: " + error;
            return report->code;
        }
    }
    LinkMessages messages;
    ProgressLine progress(!options.quiet && ::isatty(STDERR_FILENO));
    progress.Show("connecting to " + PortName(report->port));
    if (OpenLink(report->port) != 1) {
        progress.Clear();
        const std::vector<OperatorMessage> failure = messages.Take();
        report->code = kExitUnavailable;
        report->problem = true;
        report->text = failure.empty() ? PortName(report->port) + " cannot be opened" : failure.front().text;
        for (const OperatorMessage& message : failure)
            SplitLines(MessageDetails(message), &report->details);
        StopPacketTrace();
        return report->code;
    }
    SetTransferProgress([&progress](TransferStep step) { progress.Show(TransferStepName(step)); });
    (void)WaitReceiverReady(kReceiverReadyLimitMs); // a receiver that never reads shows as a time-out
    report->code = work(progress);
    SetTransferProgress({});
    progress.Show("closing");
    CloseLink();
    progress.Clear();
    StopPacketTrace();
    AddMessages(messages.Take(), report);
    return report->code;
}

int RunSend(const Options& options, Report* report) {
    report->command = "send";
    SwitchConfig config;
    if (const auto error = ConfigurationFrom(options.operands.front(), &config)) {
        report->code = error->code;
        report->problem = true;
        report->text = error->what;
        return report->code;
    }
    report->configuration = config;
    return WithLink(options, "send", report, [&](ProgressLine&) {
        TransferDetail detail;
        const int code = SendSwitchConfig(config, &detail);
        report->text = TransferResultText(code);
        report->output = report->text + "\n";
        std::vector<std::string> lines;
        SplitLines(TransferResultDetails(code, detail), &lines);
        report->meaning = lines.front();
        report->details.assign(lines.begin() + 1, lines.end());
        return code;
    });
}

int RunGet(const Options& options, Report* report) {
    return WithLink(options, "get", report, [&](ProgressLine& progress) {
        progress.Show("reading back");
        SwitchConfig box;
        const int code = GetSwitchConfig(&box);
        if (code != kTransferOk) {
            report->text = TransferResultText(code);
            report->meaning = TransferResultMeaning(code);
            return code;
        }
        report->configuration = AsTheWindowShows(box);
        report->output = FormatSwi(*report->configuration);
        return code;
    });
}

int RunPorts(Report* report) {
    report->command = "ports";
    report->ports = InventoryPorts(DiagnosticRoots{});
    report->output = PortsText(*report->ports);
    return 0;
}

// Writes the report where it belongs; false when standard output could not take it.
bool Print(const Options& options, const Report& report) {
    if (options.json)
        std::fputs(ReportJson(report).c_str(), stdout);
    else
        std::fputs(report.output.c_str(), stdout);
    std::vector<std::string> lines;
    if (report.problem) {
        // The link's own messages keep their exact text (" COM1 no accessible!").
        lines.push_back(report.code == kExitUnavailable ? report.text : std::string(kProgram) + ": " + report.text);
    } else if (report.code != 0 || !options.quiet) {
        if (!report.text.empty() && report.output.find(report.text) == std::string::npos)
            lines.push_back(report.text);
        if (!report.meaning.empty())
            lines.push_back(report.meaning);
    }
    if (report.problem || report.code != 0 || !options.quiet)
        lines.insert(lines.end(), report.details.begin(), report.details.end());
    for (const std::string& line : lines)
        std::fprintf(stderr, "%s\n", line.c_str());
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

} // namespace

int RunCli(int argc, const char* const* argv) {
    Options options;
    if (const auto error = ParseArgs(argc, argv, &options)) {
        if (options.json) {
            Report report;
            report.code = kExitUsage;
            report.problem = true;
            report.text = error->what;
            std::fputs(ReportJson(report).c_str(), stdout);
        }
        std::fprintf(stderr, "%s: %s\n(try %s --help)\n", kProgram, error->what.c_str(), kProgram);
        return kExitUsage;
    }
    if (options.version) {
        std::printf("%s %s\n", kProgram, KV_VERSION);
        return 0;
    }
    if (options.help) {
        const char* usage = options.command == Command::Send    ? kSendUsage
                            : options.command == Command::Get   ? kGetUsage
                            : options.command == Command::Ports ? kPortsUsage
                                                                : kUsage;
        std::fputs(usage, stdout);
        return 0;
    }

    Report report;
    int status = 0;
    switch (options.command) {
    case Command::Send:
        status = RunSend(options, &report);
        break;
    case Command::Get:
        status = RunGet(options, &report);
        break;
    case Command::Ports:
        status = RunPorts(&report);
        break;
    case Command::None:
        break;
    }
    // --save only for a configuration read: a failed read leaves any old file as it was. A save
    // that fails still prints the configuration it could not keep.
    if (status == 0 && !options.savePath.empty()) {
        std::string reason;
        if (!SaveSwiFile(options.savePath, *report.configuration, &reason)) {
            report.code = status = kExitCannotWrite;
            report.problem = true;
            report.text = "Error at Save. " + options.savePath + ": " + reason;
        }
    }
    if (!Print(options, report) && status == 0) {
        std::fprintf(stderr, "%s: cannot write the standard output: %s\n", kProgram, std::strerror(errno));
        return kExitCannotWrite;
    }
    return status;
}
