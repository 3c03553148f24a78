#include "cli/Report.h"

#include "link/Ser921.h"

#include <algorithm>
#include <cstdio>
#include <sysexits.h>

namespace {

constexpr const char* kProgram = "kv6251-cli";

// What goes to standard error for a report: why it failed, or what the code means, and the
// details. textShown: the main text is already on standard output.
std::vector<std::string> Explanation(const Options& options, const Report& r, bool textShown) {
    std::vector<std::string> lines;
    if (r.problem) {
        // The link's own messages keep their exact text (" COM1 no accessible!").
        if (!textShown)
            lines.push_back(r.code == EX_UNAVAILABLE ? r.text : std::string(kProgram) + ": " + r.text);
    } else if (r.code != 0 || !options.quiet) {
        if (!textShown && !r.text.empty())
            lines.push_back(r.text);
        if (!r.meaning.empty())
            lines.push_back(r.meaning);
    }
    if (r.problem || r.code != 0 || !options.quiet)
        lines.insert(lines.end(), r.details.begin(), r.details.end());
    return lines;
}

// The port's line among several: "COM3 Error 3", "COM1 256:257:258:259:0" for a get.
std::string PortLine(const Report& r) {
    const std::string name = PortName(r.port);
    if (r.command == "get" && r.code == 0 && r.configuration)
        return name + " " + FormatConfigText(*r.configuration);
    std::string text = r.text;
    while (!text.empty() && text.front() == ' ')
        text.erase(text.begin());
    // " COM3 no accessible!" names the port already.
    return text.rfind(name + " ", 0) == 0 ? text : name + " " + text;
}

bool Flushed() {
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

} // namespace

std::string Dump(const nlohmann::json& json) {
    // Texts may hold bytes that are not UTF-8 (a path is any bytes): they are replaced, not refused.
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

nlohmann::json ConfigJson(const SwitchConfig& c) {
    return {{"PidA", c.PidA}, {"PidB", c.PidB}, {"PidC", c.PidC}, {"PidD", c.PidD}, {"Mode", c.Mode}};
}

nlohmann::json ReportJson(const Report& r) {
    nlohmann::json json = {
        {"command", r.command}, {"code", r.code}, {"text", r.text}, {"meaning", r.meaning}, {"details", r.details}};
    if (r.port != 0) {
        json["port"] = r.port;
        json["device"] = r.device;
    }
    json["configuration"] = r.configuration ? ConfigJson(*r.configuration) : nlohmann::json();
    json.update(r.extra);
    return json;
}

bool PrintReport(const Options& options, const Report& report) {
    if (options.json)
        std::fputs(Dump(ReportJson(report)).c_str(), stdout);
    else
        std::fputs(report.output.c_str(), stdout);
    // With --json the text is in the object; it is not repeated when the text form would show it.
    const bool shown = !report.text.empty() && report.output.find(report.text) != std::string::npos;
    for (const std::string& line : Explanation(options, report, shown))
        std::fprintf(stderr, "%s\n", line.c_str());
    return Flushed();
}

bool PrintPortReports(const Options& options, const std::vector<Report>& reports, int status) {
    if (options.json) {
        nlohmann::json results = nlohmann::json::array();
        for (const Report& r : reports)
            results.push_back(ReportJson(r));
        const nlohmann::json all = {
            {"command", reports.empty() ? std::string() : reports.front().command},
            {"code", status},
            {"results", results},
        };
        std::fputs(Dump(all).c_str(), stdout);
    } else {
        for (const Report& r : reports)
            std::fprintf(stdout, "%s\n", PortLine(r).c_str());
    }
    for (const Report& r : reports)
        for (const std::string& line : Explanation(options, r, true))
            std::fprintf(stderr, "%s: %s\n", PortName(r.port).c_str(), line.c_str());
    return Flushed();
}

std::string PackReport(const Report& r) {
    nlohmann::json packed = ReportJson(r);
    packed["extra"] = r.extra;
    packed["port"] = r.port;
    packed["device"] = r.device;
    packed["output"] = r.output;
    packed["problem"] = r.problem;
    return Dump(packed);
}

std::optional<Report> UnpackReport(const std::string& text) {
    const nlohmann::json packed = nlohmann::json::parse(text, nullptr, false);
    if (packed.is_discarded() || !packed.is_object())
        return std::nullopt;
    try {
        Report r;
        r.command = packed.at("command").get<std::string>();
        r.code = packed.at("code").get<int>();
        r.text = packed.at("text").get<std::string>();
        r.meaning = packed.at("meaning").get<std::string>();
        r.details = packed.at("details").get<std::vector<std::string>>();
        r.port = packed.at("port").get<int>();
        r.device = packed.at("device").get<std::string>();
        if (const nlohmann::json& c = packed.at("configuration"); c.is_object())
            r.configuration =
                SwitchConfig{c.at("PidA").get<uint16_t>(), c.at("PidB").get<uint16_t>(), c.at("PidC").get<uint16_t>(),
                             c.at("PidD").get<uint16_t>(), c.at("Mode").get<int16_t>()};
        r.extra = packed.at("extra");
        r.output = packed.at("output").get<std::string>();
        r.problem = packed.at("problem").get<bool>();
        return r;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

void SplitLines(const std::string& text, std::vector<std::string>* lines) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines->push_back(text.substr(start, end - start));
        start = end + 1;
    }
}
