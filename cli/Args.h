// The command line of kv6251-cli: its commands, its options (one table, read with getopt_long),
// the checks of what goes with what, and the usage texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class Command { None, Send, Get, Check, Map, Ports };

struct Options {
    Command command = Command::None;
    std::vector<int> ports; // --port: ascending, each once; empty: the port chosen in the window
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    bool ifDifferent = false; // send: only when the box holds something else
    bool remove = false;      // map: remove the mapping
    std::string tracePath;
    std::string savePath;
    std::string rootDir;
    std::vector<std::string> operands;
};

struct UsageError {
    std::string what;
};

// Reads the whole command line; the first error found, if any.
std::optional<UsageError> ParseArgs(int argc, const char* const* argv, Options* options);

// "send", "get", ...; "" for None.
const char* CommandName(Command command);
// The help text of a command, or of the program for None.
const char* UsageText(Command command);

// A port list such as "1-4,7": ascending, each port once. nullopt with *error saying why.
std::optional<std::vector<int>> ParsePortList(std::string_view text, std::string* error);
// A port number 1..32767.
bool ParsePort(std::string_view text, int* port);

// The most ports one command takes: more is a typing error, not a rack.
inline constexpr int kMaxPortsAtOnce = 256;
