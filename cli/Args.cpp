#include "cli/Args.h"

#include "files/NumberText.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <getopt.h>
#include <initializer_list>

namespace {

constexpr const char* kUsage =
    "Usage: kv6251-cli [--root DIR] COMMAND [OPTIONS]\n"
    "Send, Get, Check and the ports of the KV6251 Transport Switcher tool, from a shell.\n"
    "\n"
    "Commands:\n"
    "  send [--port LIST] [--if-different] A:B:C:D:M | FILE.swi\n"
    "                              upload a configuration and verify it\n"
    "  get [--port LIST] [--save FILE.swi]\n"
    "                              print the box's configuration in .swi form\n"
    "  check [--port LIST] A:B:C:D:M | FILE.swi\n"
    "                              compare the box's configuration with the one given\n"
    "  map N DEVICE | map N --remove\n"
    "                              make port N open DEVICE, by the adapter's stable name\n"
    "  ports                       list the port numbers and their devices\n"
    "\n"
    "Options:\n"
    "  --port LIST    the ports to use, e.g. 1 or 1-4,7 (all at once), instead of the port\n"
    "                 chosen in the window\n"
    "  --json         print one JSON object on standard output instead of texts\n"
    "  --quiet        no progress line, and nothing on standard error for a success\n"
    "  --trace FILE   write one line per packet sent and received to FILE\n"
    "                 (FILE.COM<n> for each port when there are several)\n"
    "  --root DIR     keep the port mappings and the tool's files in DIR\n"
    "  --help         show help (kv6251-cli COMMAND --help for a command)\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: send and get give the transfer result code (0 success, 1..11 as \"Error n\");\n"
    "check gives 0 when the box holds the configuration, 1 when it holds another, more for trouble;\n"
    "64 bad usage, 65 a configuration the box cannot take (or a DEVICE map cannot use), 66 a .swi\n"
    "file that cannot be opened, 69 the port cannot be opened or configured, 73 a mapping that\n"
    "cannot be written, 74 an output file cannot be written. With several ports: 0 when all\n"
    "succeeded, else the status of the first port in order that did not.\n"
    "Port N opens <root>/com<N> when it exists, else /dev/ttyUSB<N-1>; the root directory is\n"
    "$XDG_DATA_HOME/kv6251 (default ~/.local/share/kv6251). See kv6251-cli(1).\n";

constexpr const char* kSendUsage =
    "Usage: kv6251-cli send [--port LIST] [--if-different] [--json] [--quiet] [--trace FILE]\n"
    "                       A:B:C:D:M | FILE.swi\n"
    "Uploads the configuration (four PIDs 0..8191 and the mode, 0 Double or 1 Single, or a .swi\n"
    "file), reads the box's configuration back and compares the two byte for byte.\n"
    "Prints \"Process successful!\" or \"Error n\"; the exit status is n (0 for success).\n"
    "--if-different: check first; a box that already holds the configuration is left alone\n"
    "(\"Already holds A:B:C:D:M\", status 0).\n";

constexpr const char* kGetUsage =
    "Usage: kv6251-cli get [--port LIST] [--json] [--quiet] [--trace FILE] [--save FILE.swi]\n"
    "Reads the box's configuration and prints it as the two lines of a .swi file, as the\n"
    "window's Save writes it after a Get (with several ports: \"COM<n> A:B:C:D:M\" per port).\n"
    "--save writes the file too (whole or not at all; one port only).\n";

constexpr const char* kCheckUsage =
    "Usage: kv6251-cli check [--port LIST] [--json] [--quiet] [--trace FILE] A:B:C:D:M | FILE.swi\n"
    "Reads the box's configuration and compares it byte for byte with what a send of the same\n"
    "configuration would upload; nothing is uploaded. Status 0: the box holds it; 1: it holds\n"
    "another (standard error names each difference); 2, 3 or 11: the box cannot be read.\n";

constexpr const char* kMapUsage =
    "Usage: kv6251-cli map [--json] N DEVICE\n"
    "       kv6251-cli map [--json] N --remove\n"
    "Makes port N open DEVICE: writes the link <root>/com<N> to the adapter's stable name\n"
    "(/dev/serial/by-id/..., or /dev/serial/by-path/... for an adapter without a serial number of\n"
    "its own), so that the port follows the adapter whatever the kernel calls it. DEVICE is a\n"
    "device path, a by-id or by-path name, or the adapter's serial number as `ports` shows it.\n";

constexpr const char* kPortsUsage = "Usage: kv6251-cli ports [--json]\n"
                                    "Lists port numbers 1..9 and every other com<n> mapping: the device each opens,\n"
                                    "the adapter behind it, whether the port follows the adapter (mapped by identity)\n"
                                    "or a kernel name that may change, and whether this user can open it now.\n";

// What each command is called on the command line.
struct CommandRow {
    Command command;
    const char* name;
    const char* usage;
};
constexpr CommandRow kCommands[] = {
    {Command::Send, "send", kSendUsage}, {Command::Get, "get", kGetUsage},       {Command::Check, "check", kCheckUsage},
    {Command::Map, "map", kMapUsage},    {Command::Ports, "ports", kPortsUsage},
};

// Which commands take an option.
using CommandSet = unsigned;
constexpr CommandSet Bit(Command command) {
    return 1u << static_cast<unsigned>(command);
}
constexpr CommandSet kTalkingToTheBox = Bit(Command::Send) | Bit(Command::Get) | Bit(Command::Check);
constexpr CommandSet kEveryCommand = ~0u;

enum OptionId : int {
    kOptHelp = 'h',
    kOptQuiet = 'q',
    kOptPort = 256,
    kOptJson,
    kOptTrace,
    kOptSave,
    kOptIfDifferent,
    kOptRemove,
    kOptRoot,
    kOptVersion,
};

struct OptionRow {
    const char* name;
    bool value;
    OptionId id;
    CommandSet commands;
};

// clang-format off
constexpr OptionRow kOptions[] = {
    {"port",         true,  kOptPort,        kTalkingToTheBox},
    {"json",         false, kOptJson,        kEveryCommand},
    {"quiet",        false, kOptQuiet,       kTalkingToTheBox | Bit(Command::Map)},
    {"trace",        true,  kOptTrace,       kTalkingToTheBox},
    {"save",         true,  kOptSave,        Bit(Command::Get)},
    {"if-different", false, kOptIfDifferent, Bit(Command::Send)},
    {"remove",       false, kOptRemove,      Bit(Command::Map)},
    {"root",         true,  kOptRoot,        kEveryCommand},
    {"help",         false, kOptHelp,        kEveryCommand},
    {"version",      false, kOptVersion,     kEveryCommand},
};
// clang-format on

const OptionRow& RowOf(int id) {
    for (const OptionRow& row : kOptions)
        if (row.id == id)
            return row;
    return kOptions[0];
}

// The operands a command takes, checked once the whole line is read.
std::optional<UsageError> CheckOperands(const Options& o) {
    const std::string name = CommandName(o.command);
    const size_t count = o.operands.size();
    switch (o.command) {
    case Command::None:
        return UsageError{"no command given (send, get, check, map or ports)"};
    case Command::Send:
    case Command::Check:
        if (count != 1)
            return UsageError{count == 0 ? name + " needs a configuration: A:B:C:D:M or FILE.swi"
                                         : name + " takes one configuration, not several"};
        break;
    case Command::Get:
    case Command::Ports:
        if (count != 0)
            return UsageError{name + " takes no operand ('" + o.operands.front() + "')"};
        break;
    case Command::Map: {
        const size_t wanted = o.remove ? 1 : 2;
        int port = 0;
        if (count != wanted)
            return UsageError{o.remove ? "map --remove takes the port number alone"
                                       : "map takes a port number and a device: map N DEVICE"};
        if (!ParsePort(o.operands.front(), &port))
            return UsageError{"map takes a port number from 1 to 32767, not '" + o.operands.front() + "'"};
        break;
    }
    }
    if (!o.savePath.empty() && o.ports.size() > 1)
        return UsageError{"--save takes one port; give the ports one at a time"};
    return std::nullopt;
}

} // namespace

const char* CommandName(Command command) {
    for (const CommandRow& row : kCommands)
        if (row.command == command)
            return row.name;
    return "";
}

const char* UsageText(Command command) {
    for (const CommandRow& row : kCommands)
        if (row.command == command)
            return row.usage;
    return kUsage;
}

bool ParsePort(std::string_view text, int* port) {
    uint32_t value = 0;
    if (!ParseDecimal(text, &value) || value < 1 || value > INT16_MAX)
        return false;
    *port = static_cast<int>(value);
    return true;
}

std::optional<std::vector<int>> ParsePortList(std::string_view text, std::string* error) {
    std::vector<int> ports;
    const std::string whole(text);
    while (true) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const size_t dash = item.find('-');
        int first = 0, last = 0;
        const bool ok = dash == std::string_view::npos
                            ? ParsePort(item, &first) && (last = first) != 0
                            : ParsePort(item.substr(0, dash), &first) && ParsePort(item.substr(dash + 1), &last);
        if (!ok || last < first) {
            *error = "--port takes port numbers from 1 to 32767 and ranges such as 1-4,7; '" + std::string(item) +
                     "' in '" + whole + "' is none";
            return std::nullopt;
        }
        if (last - first >= kMaxPortsAtOnce) {
            *error = "--port " + whole + " names more than " + std::to_string(kMaxPortsAtOnce) + " ports";
            return std::nullopt;
        }
        for (int port = first; port <= last; ++port)
            ports.push_back(port);
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    if (ports.size() > static_cast<size_t>(kMaxPortsAtOnce)) {
        *error = "--port " + whole + " names more than " + std::to_string(kMaxPortsAtOnce) + " ports";
        return std::nullopt;
    }
    return ports;
}

std::optional<UsageError> ParseArgs(int argc, const char* const* argv, Options* options) {
    std::vector<option> table;
    for (const OptionRow& row : kOptions)
        table.push_back({row.name, row.value ? required_argument : no_argument, nullptr, row.id});
    table.push_back({nullptr, 0, nullptr, 0});
    // getopt_long moves the operands behind the options in the array it is given, never the strings.
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(const_cast<char*>(argv[i]));
    args.push_back(nullptr);

    std::vector<int> given; // the options given, checked against the command once it is known
    opterr = 0;
    optind = 0; // start afresh, whatever an earlier reading left
    // Options may come before or after the command and its operands: getopt_long reads them all
    // and leaves the operands, in their order, from optind on ("--" ends the options).
    for (int c; (c = getopt_long(argc, args.data(), ":hq", table.data(), nullptr)) != -1;) {
        if (c == '?' || c == ':') {
            const bool known = optopt != 0;
            const std::string arg = optopt > 0 && optopt < kOptPort ? std::string("-") + static_cast<char>(optopt)
                                                                    : std::string(args[optind - 1]);
            if (!known)
                return UsageError{"unknown option '" + arg + "'"};
            const std::string name = optopt >= kOptPort ? std::string("--") + RowOf(optopt).name : arg;
            return UsageError{"option " + name + (c == ':' ? " needs a value" : " takes no value")};
        }
        given.push_back(c);
        switch (c) {
        case kOptPort: {
            std::string error;
            auto ports = ParsePortList(optarg, &error);
            if (!ports)
                return UsageError{error};
            options->ports = std::move(*ports);
            break;
        }
        case kOptJson:
            options->json = true;
            break;
        case kOptQuiet:
            options->quiet = true;
            break;
        case kOptTrace:
            options->tracePath = optarg;
            break;
        case kOptSave:
            options->savePath = optarg;
            break;
        case kOptIfDifferent:
            options->ifDifferent = true;
            break;
        case kOptRemove:
            options->remove = true;
            break;
        case kOptRoot:
            options->rootDir = optarg;
            break;
        case kOptHelp:
            options->help = true;
            break;
        case kOptVersion:
            options->version = true;
            break;
        default:
            break;
        }
    }
    for (int i = optind; i < argc; ++i)
        options->operands.emplace_back(args[static_cast<size_t>(i)]);

    if (!options->operands.empty()) {
        const std::string name = options->operands.front();
        for (const CommandRow& row : kCommands)
            if (name == row.name)
                options->command = row.command;
        if (options->command == Command::None)
            return UsageError{"unknown command '" + name + "'"};
        options->operands.erase(options->operands.begin());
    }
    if (options->help || options->version)
        return std::nullopt;
    // Each option belongs to the commands it makes sense for.
    for (int id : given) {
        const OptionRow& row = RowOf(id);
        if (options->command != Command::None && (row.commands & Bit(options->command)) == 0)
            return UsageError{std::string(CommandName(options->command)) + " takes no --" + row.name};
    }
    return CheckOperands(*options);
}
