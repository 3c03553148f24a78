#include "cli/Commands.h"

#include "files/NumberText.h"
#include "files/PortFile.h"
#include "files/SwiFile.h"
#include "link/PacketTrace.h"
#include "link/Ser921.h"
#include "platform/MessageSink.h"
#include "platform/PortIdentity.h"
#include "platform/PortInventory.h"
#include "platform/PortMap.h"
#include "platform/RootDir.h"
#include "transfer/Utiltrp.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>
#include <utility>

namespace {

// The receiver starts reading a second after the open; give it that three times over.
constexpr int kReceiverReadyLimitMs = 3 * kReceiverStartPauseMs;

constexpr const char* kAlreadyHolds = "Already holds ";
constexpr const char* kMeaningAlreadyHolds =
    "Nothing was uploaded: the box's configuration packet equals the one this Send would upload.";
constexpr const char* kHolds = "Holds ";
constexpr const char* kMeaningHolds =
    "The box's configuration packet equals, byte for byte, the one a Send of this configuration would upload.";
constexpr const char* kDiffers = "Differs: holds ";
constexpr const char* kMeaningDiffers = "The box holds another configuration: a Send of this one would change it.";

// ---- the configuration ---------------------------------------------------------------------

// Checks the five fields as written: PIDs 0..8191, mode 0 or 1. The window would take more (it
// wraps at 16 bits, and the packet keeps 13), but a script must not route another programme.
template <class Field>
std::optional<DataError> CheckFields(const std::array<Field, kConfigFieldCount>& fields, SwitchConfig* config) {
    uint32_t values[kConfigFieldCount] = {};
    for (int i = 0; i < kConfigFieldCount; ++i) {
        const std::string field(fields[static_cast<size_t>(i)]);
        const std::string name = i < kPidCount ? kConfigFieldNames[i] : "the mode";
        if (!ParseDecimal(field, &values[i]))
            return DataError{EX_DATAERR, name + " '" + field + "' is not a number"};
    }
    for (int i = 0; i < kPidCount; ++i) {
        if (values[i] > kPidMask) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "%s %u is above %u: a PID travels in 13 bits, and the box would receive %u instead",
                          kConfigFieldNames[i], values[i], unsigned{kPidMask}, values[i] & kPidMask);
            return DataError{EX_DATAERR, text};
        }
    }
    if (values[kPidCount] > 1)
        return DataError{EX_DATAERR,
                         "the mode must be 0 (Double) or 1 (Single), not " + std::to_string(values[kPidCount])};
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

// What the window shows after a Get, and so what its Save then writes: the mode group takes any
// mode byte but 0 as Single, and Single empties Switch B's fields, which save as 0.
SwitchConfig AsTheWindowShows(SwitchConfig box) {
    box.Mode = box.Mode == 0 ? 0 : 1;
    if (box.Mode != 0)
        box.PidC = box.PidD = 0;
    return box;
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

void Fail(Report* report, int code, std::string text) {
    report->code = code;
    report->problem = true;
    report->text = std::move(text);
}

// Runs work against the box on port: opens the port, waits until the receiver reads, runs work,
// closes. Fills the report; work gives the code.
template <class Work>
Report WithLink(const Options& options, const char* command, int port, bool showProgress, Work&& work) {
    Report report;
    report.command = command;
    report.port = port;
    report.device = PortDevicePath(port);
    if (!options.tracePath.empty()) {
        std::string error;
        if (!StartPacketTrace(options.tracePath, &error)) {
            Fail(&report, EX_IOERR, "cannot write the trace: " + error);
            return report;
        }
    }
    LinkMessages messages;
    ProgressLine progress(showProgress && !options.quiet && ::isatty(STDERR_FILENO));
    progress.Show("connecting to " + PortName(port));
    if (OpenLink(port) != 1) {
        progress.Clear();
        const std::vector<OperatorMessage> failure = messages.Take();
        Fail(&report, EX_UNAVAILABLE, failure.empty() ? PortName(port) + " cannot be opened" : failure.front().text);
        for (const OperatorMessage& message : failure)
            SplitLines(MessageDetails(message), &report.details);
        StopPacketTrace();
        return report;
    }
    SetTransferProgress([&progress](TransferStep step) { progress.Show(TransferStepName(step)); });
    (void)WaitReceiverReady(kReceiverReadyLimitMs); // a receiver that never reads shows as a time-out
    report.code = work(progress, report);
    SetTransferProgress({});
    progress.Show("closing");
    CloseLink();
    progress.Clear();
    StopPacketTrace();
    for (const OperatorMessage& message : messages.Take()) {
        report.details.push_back(message.text);
        SplitLines(MessageDetails(message), &report.details);
    }
    return report;
}

// The main line and the rest of a transfer's explanation.
void TellTransfer(int code, const TransferDetail& detail, Report* report) {
    report->text = TransferResultText(code);
    std::vector<std::string> lines;
    SplitLines(TransferResultDetails(code, detail), &lines);
    report->meaning = lines.front();
    report->details.assign(lines.begin() + 1, lines.end());
}

// Each difference between the packet wanted and the box's, one line each.
std::vector<std::string> DifferenceLines(const CheckOutcome& outcome, nlohmann::json* json) {
    std::vector<std::string> lines;
    *json = nlohmann::json::array();
    if (outcome.read) {
        for (const PacketDifference& d : ConfigPacketDifferences(outcome.wanted.data(), outcome.box.data())) {
            char line[96];
            if (d.field) {
                std::snprintf(line, sizeof line, "%s: box %d, wanted %d", d.field, d.box, d.wanted);
                json->push_back({{"field", d.field}, {"box", d.box}, {"wanted", d.wanted}});
            } else {
                std::snprintf(line, sizeof line, "byte %d: box 0x%02X, wanted 0x%02X", d.offset,
                              static_cast<unsigned>(d.box), static_cast<unsigned>(d.wanted));
                json->push_back({{"offset", d.offset}, {"box", d.box}, {"wanted", d.wanted}});
            }
            lines.emplace_back(line);
        }
    }
    const TransferDetail& sizes = outcome.detail;
    if (sizes.readSize >= 0 && sizes.readSize != sizes.sentSize) {
        lines.push_back("The box answered " + std::to_string(sizes.readSize) + " bytes; a Send uploads " +
                        std::to_string(sizes.sentSize) + ".");
        json->push_back({{"size", sizes.readSize}, {"wanted", sizes.sentSize}});
    }
    return lines;
}

// The places where a command looks for devices and adapters; tests point them at a made-up tree.
DiagnosticRoots RootsFromEnvironment() {
    DiagnosticRoots roots;
    if (const char* dev = std::getenv("KV6251_DEV_DIR"); dev && *dev)
        roots.dev = dev;
    if (const char* sys = std::getenv("KV6251_SYS_DIR"); sys && *sys)
        roots.sys = sys;
    return roots;
}

// ---- the port table -------------------------------------------------------------------------

nlohmann::json PortsJson(const std::vector<PortEntry>& ports) {
    nlohmann::json list = nlohmann::json::array();
    for (const PortEntry& p : ports) {
        nlohmann::json holders = nlohmann::json::array();
        for (const ProcessInfo& holder : p.holders)
            holders.push_back({{"pid", holder.pid}, {"name", holder.name}});
        const PortAdapter& a = p.adapter;
        list.push_back({{"port", p.port},
                        {"name", PortName(p.port)},
                        {"device", p.device},
                        {"target", p.target},
                        {"mapped", p.mapped},
                        {"identity", p.identity},
                        {"unstable", p.unstable},
                        {"exists", p.exists},
                        {"vendorId", a.vendorId},
                        {"productId", a.productId},
                        {"serial", a.serial},
                        {"manufacturer", a.manufacturer},
                        {"product", a.product},
                        {"byId", a.byIdName},
                        {"byPath", a.byPathName},
                        {"access", PortAccessName(p.access)},
                        {"group", p.group},
                        {"holders", holders}});
    }
    return list;
}

// The port table: one line per port, columns aligned.
std::string PortsText(const std::vector<PortEntry>& ports) {
    struct Row {
        std::string name, device, adapter, access, note;
    };
    std::vector<Row> rows{{"PORT", "DEVICE", "ADAPTER", "ACCESS", "NOTE"}};
    for (const PortEntry& p : ports) {
        Row row{PortName(p.port), p.device, "-", PortAccessName(p.access), ""};
        if (!p.target.empty() && p.target != p.device)
            row.device += " -> " + p.target;
        const PortAdapter& a = p.adapter;
        std::vector<std::string> parts;
        if (!a.vendorId.empty())
            parts.push_back("usb " + a.vendorId + ":" + a.productId + (a.serial.empty() ? "" : " serial " + a.serial));
        if (!a.byIdName.empty())
            parts.push_back("by-id " + a.byIdName);
        if (!a.byPathName.empty())
            parts.push_back("by-path " + a.byPathName);
        for (size_t i = 0; i < parts.size(); ++i)
            row.adapter = (i == 0 ? "" : row.adapter + " ") + parts[i];
        if (p.access == PortAccess::PermissionDenied && !p.group.empty())
            row.access += " (group " + p.group + ")";
        if (p.access == PortAccess::InUse) {
            for (const ProcessInfo& holder : p.holders)
                row.access += " " + std::to_string(holder.pid) + (holder.name.empty() ? "" : " (" + holder.name + ")");
        }
        if (p.identity) {
            row.note = "mapped by identity";
        } else if (p.unstable) {
            // Mapping the device as it is now picks its stable name, whatever the adapter has.
            row.note = "unstable name: map it with kv6251-cli map " + std::to_string(p.port) + " " +
                       (p.target.empty() ? "DEVICE" : p.target);
        }
        rows.push_back(std::move(row));
    }
    size_t widths[4] = {};
    for (const Row& row : rows) {
        widths[0] = std::max(widths[0], row.name.size());
        widths[1] = std::max(widths[1], row.device.size());
        widths[2] = std::max(widths[2], row.adapter.size());
        widths[3] = std::max(widths[3], row.access.size());
    }
    std::string text;
    for (const Row& row : rows) {
        text += row.name + std::string(widths[0] - row.name.size() + 2, ' ');
        text += row.device + std::string(widths[1] - row.device.size() + 2, ' ');
        text += row.adapter + std::string(widths[2] - row.adapter.size() + 2, ' ');
        text += row.access;
        if (!row.note.empty())
            text += std::string(widths[3] - row.access.size() + 2, ' ') + row.note;
        text += "\n";
    }
    return text;
}

} // namespace

std::optional<DataError> ConfigurationFrom(const std::string& operand, SwitchConfig* config) {
    if (LooksLikeFile(operand)) {
        std::array<std::string, kSwiFieldCount> fields;
        switch (LoadSwiFile(operand, nullptr, &fields)) {
        case SwiLoadResult::CannotOpen: {
            const int err = errno;
            return DataError{EX_NOINPUT, "cannot open " + operand + ": " + std::strerror(err)};
        }
        case SwiLoadResult::Corrupted:
            return DataError{EX_DATAERR, operand + ": File corrupted! (a .swi file holds PidA:PidB:PidC:PidD "
                                                   "and the mode on two lines)"};
        case SwiLoadResult::Ok:
            break;
        }
        return CheckFields(fields, config);
    }
    std::array<std::string_view, kConfigFieldCount> fields;
    if (!SplitConfigText(operand, &fields))
        return DataError{EX_DATAERR, "'" + operand + "' is not A:B:C:D:M (four PIDs and the mode)"};
    return CheckFields(fields, config);
}

int ChosenPort() {
    int16_t saved = 0;
    return LoadPortSetting(&saved) && saved >= 1 ? saved : 0;
}

Report RunSend(const Options& options, const SwitchConfig& config, int port, bool progress) {
    Report report = WithLink(options, "send", port, progress, [&](ProgressLine& line, Report& r) {
        if (options.ifDifferent) {
            line.Show("checking");
            if (CheckSwitchConfig(config, nullptr) == kCheckSame) {
                r.text = kAlreadyHolds + FormatConfigText(config);
                r.meaning = kMeaningAlreadyHolds;
                r.output = r.text + "\n";
                r.extra["changed"] = false;
                return kTransferOk;
            }
        }
        TransferDetail detail;
        const int code = SendSwitchConfig(config, &detail);
        TellTransfer(code, detail, &r);
        r.output = r.text + "\n";
        r.extra["changed"] = detail.uploaded;
        return code;
    });
    report.configuration = config;
    if (!report.extra.contains("changed"))
        report.extra["changed"] = false;
    return report;
}

Report RunGet(const Options& options, int port, bool progress) {
    return WithLink(options, "get", port, progress, [&](ProgressLine& line, Report& r) {
        line.Show("reading back");
        SwitchConfig box;
        const int code = GetSwitchConfig(&box);
        if (code != kTransferOk) {
            r.text = TransferResultText(code);
            r.meaning = TransferResultMeaning(code);
            return code;
        }
        r.configuration = AsTheWindowShows(box);
        r.output = FormatSwi(*r.configuration);
        return code;
    });
}

Report RunCheck(const Options& options, const SwitchConfig& config, int port, bool progress) {
    Report report = WithLink(options, "check", port, progress, [&](ProgressLine& line, Report& r) {
        line.Show("checking");
        CheckOutcome outcome;
        const int code = CheckSwitchConfig(config, &outcome);
        nlohmann::json differences = nlohmann::json::array();
        const SwitchConfig box = UnpackConfigPacket(outcome.box.data());
        if (code == kCheckSame) {
            r.text = kHolds + FormatConfigText(config);
            r.meaning = kMeaningHolds;
        } else if (code == kCheckDiffers) {
            r.text = kDiffers + FormatConfigText(box) + ", wanted " + FormatConfigText(config);
            r.meaning = kMeaningDiffers;
            r.details = DifferenceLines(outcome, &differences);
        } else {
            r.text = TransferResultText(code);
            r.meaning = TransferResultMeaning(code);
        }
        r.output = r.text + "\n";
        r.extra["box"] = outcome.read ? ConfigJson(box) : nlohmann::json();
        r.extra["differences"] = differences;
        r.extra["changed"] = code == kCheckDiffers;
        return code;
    });
    report.configuration = config;
    if (!report.extra.contains("changed"))
        report.extra["changed"] = false;
    return report;
}

Report RunMap(const Options& options) {
    Report report;
    report.command = "map";
    ParsePort(options.operands.front(), &report.port);
    report.device = RootPath(PortMapName(report.port));
    const std::string name = PortName(report.port);
    std::string reason;
    if (options.remove) {
        bool existed = false;
        if (!RemovePortMapping(report.port, "", &existed, &reason)) {
            Fail(&report, EX_CANTCREAT, "cannot remove the mapping of " + name + ": " + reason);
            return report;
        }
        const std::string opens = PortDevicePath(report.port, RootDir(), RootsFromEnvironment().dev);
        report.text =
            existed ? name + " is no longer mapped: it opens " + opens : name + " was not mapped: it opens " + opens;
        report.output = report.text + "\n";
        report.extra["changed"] = existed;
        return report;
    }
    const PlanResult planned = PlanPortMapping(options.operands[1], RootsFromEnvironment());
    if (planned.error != PlanError::None) {
        Fail(&report, EX_DATAERR, planned.message);
        report.details = planned.candidates;
        return report;
    }
    const PortMappingPlan& plan = planned.plan;
    if (!WritePortMapping(report.port, plan.linkTo, "", &reason)) {
        Fail(&report, EX_CANTCREAT, "cannot map " + name + ": " + reason);
        return report;
    }
    report.text = name + " -> " + plan.linkTo + (plan.device == plan.linkTo ? "" : " (" + plan.device + ")");
    report.output = report.text + "\n";
    if (!plan.stable)
        report.meaning = plan.linkTo + " is no stable name: no /dev/serial/by-id or by-path name leads to it, so "
                                       "after a replug or a reboot it may stand for another device.";
    report.extra = {{"target", plan.linkTo},
                    {"opens", plan.device},
                    {"stable", plan.stable},
                    {"kind", plan.kind},
                    {"changed", true}};
    return report;
}

Report RunPorts() {
    Report report;
    report.command = "ports";
    const std::vector<PortEntry> ports = InventoryPorts(RootsFromEnvironment());
    report.extra["ports"] = PortsJson(ports);
    report.output = PortsText(ports);
    return report;
}
