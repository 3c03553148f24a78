// What a command found for one port (or for the host, for ports and map), and how it is printed:
// as text (standard output for the result, standard error for what it means), or as JSON.
#pragma once

#include "cli/Args.h"
#include "protocol/SwitchConfig.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

// Exit statuses beyond the transfer result codes 0..11 (sysexits.h names them).
inline constexpr int kExitDiffers = 1; // check: the box holds another configuration

struct Report {
    std::string command;
    int code = 0;
    std::string text;                 // the main line: "Process successful!", "Error 3", an error
    std::string meaning;              // what the code means
    std::vector<std::string> details; // further lines: sizes, the differences, link messages
    int port = 0;
    std::string device;
    std::optional<SwitchConfig> configuration;
    nlohmann::json extra = nlohmann::json::object(); // the command's own fields ("changed", "ports", ...)
    std::string output;                              // standard output without --json
    bool problem = false; // the command could not do its work: text says why, on standard error
};

// The JSON object of a report, as --json prints it.
nlohmann::json ReportJson(const Report& report);
nlohmann::json ConfigJson(const SwitchConfig& config);
// One line of JSON text, ending with a line end.
std::string Dump(const nlohmann::json& json);

// Prints one report; false when standard output could not take it.
bool PrintReport(const Options& options, const Report& report);
// Prints the reports of several ports, in the order given, once all are done: a line per port on
// standard output, each port's explanation on standard error prefixed with the port; with --json
// one object holding them all. status is the command's exit status.
bool PrintPortReports(const Options& options, const std::vector<Report>& reports, int status);

// A report whole, for handing it from the process that ran a port to the one that prints.
std::string PackReport(const Report& report);
std::optional<Report> UnpackReport(const std::string& packed);

// Appends the lines of text; a line end at the very end starts no further line.
void SplitLines(const std::string& text, std::vector<std::string>* lines);
