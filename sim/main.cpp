// kv6251-boxsim: the simulated box as a command-line tool (see --help).
#include "sim/BoxSim.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <getopt.h>
#include <string>
#include <vector>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitCannotStart = 1;
constexpr long kMaxCount = 100000;
constexpr long kMaxMs = 24L * 3600 * 1000;

constexpr const char* kIntroduction =
    "Usage: kv6251-boxsim [options]\n"
    "\n"
    "A simulated KV6251 box on a pseudo-terminal. Prints the slave path of the pty on the first\n"
    "line of standard output and serves until SIGINT, SIGTERM or SIGHUP. Point the tool at it with\n"
    "--link (for example --link ~/.local/share/kv6251/com1 makes COM1 this box).\n"
    "\n"
    "The box reads the line as 188-byte packets aligned on 0xB8 or 0x47. A flush command silences\n"
    "it and disarms an upload; a read command makes it send its configuration packet back to back\n"
    "until the next flush command; an upload command arms an upload, and the next configuration\n"
    "packet replaces its configuration, all 188 bytes as received. It sends at the line's rate,\n"
    "150,000 bytes/s.\n";

// A whole number from low to high, and nothing else.
bool ParseNumber(const char* text, long low, long high, long* value) {
    if (!(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-'))
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < low || v > high)
        return false;
    *value = v;
    return true;
}

// A:B:C:D:M with PIDs 0..65535 and the mode -32768..32767 (the box holds what the tool cannot send).
bool ParseConfig(const std::string& text, SwitchConfig* config) {
    std::array<std::string_view, kConfigFieldCount> fields;
    if (!SplitConfigText(text, &fields))
        return false;
    long values[kConfigFieldCount];
    for (int i = 0; i < kConfigFieldCount; ++i) {
        const bool mode = i == kPidCount;
        const std::string field(fields[static_cast<size_t>(i)]);
        if (!ParseNumber(field.c_str(), mode ? INT16_MIN : 0, mode ? INT16_MAX : UINT16_MAX, &values[i]))
            return false;
    }
    *config = SwitchConfig{static_cast<uint16_t>(values[0]), static_cast<uint16_t>(values[1]),
                           static_cast<uint16_t>(values[2]), static_cast<uint16_t>(values[3]),
                           static_cast<int16_t>(values[4])};
    return true;
}

using Apply = std::function<bool(BoxSimOptions&, const char* value)>;

Apply Flag(bool BoxSimOptions::*member, bool to = true) {
    return [member, to](BoxSimOptions& o, const char*) { return (o.*member = to, true); };
}
Apply Number(int BoxSimOptions::*member, long high) {
    return [member, high](BoxSimOptions& o, const char* value) {
        long v = 0;
        return ParseNumber(value, 0, high, &v) && (o.*member = static_cast<int>(v), true);
    };
}
Apply Path(std::string BoxSimOptions::*member) {
    return [member](BoxSimOptions& o, const char* value) { return (o.*member = value, true); };
}

struct BoxOption {
    const char* name;
    const char* value; // nullptr for an option without a value
    const char* help;  // "\n" continues the text on the next line
    Apply apply;
    bool faultMode = false;
};

const std::vector<BoxOption>& Options() {
    static const std::vector<BoxOption> options = {
        {"link", "PATH", "make PATH a symlink to the slave (removed at exit)", Path(&BoxSimOptions::linkPath)},
        {"config", "A:B:C:D:M", "configuration at start (default 256:257:258:259:0)",
         [](BoxSimOptions& o, const char* value) { return ParseConfig(value, &o.config); }},
        {"log", "FILE",
         "one line per packet received: milliseconds since start and kind\n"
         "(flush, read, upload, configuration A:B:C:D:M, ts, other)",
         Path(&BoxSimOptions::logPath)},
        {"unpaced", nullptr, "send as fast as the pty takes it", Flag(&BoxSimOptions::paced, false)},
        {"silent", nullptr, "never answer", Flag(&BoxSimOptions::silent), true},
        {"answer-once", nullptr, "one configuration packet per read request, then silence",
         Flag(&BoxSimOptions::answerOnce), true},
        {"ts-per-cycle", "K", "K packets starting with 0x47 after each configuration packet",
         Number(&BoxSimOptions::tsPerCycle, kMaxCount), true},
        {"lead-ts", "K", "K packets starting with 0x47 before the first configuration packet\nof each answer",
         Number(&BoxSimOptions::leadTs, kMaxCount), true},
        {"corrupt-reserved", nullptr, "answer with one reserved byte (offset 100) changed",
         Flag(&BoxSimOptions::corruptReserved), true},
        {"ignore-upload", nullptr, "keep the configuration whatever is uploaded", Flag(&BoxSimOptions::ignoreUpload),
         true},
        {"noise", "N", "N random non-sync bytes before each configuration packet sent",
         Number(&BoxSimOptions::noise, kMaxCount), true},
        {"babble", nullptr, "send 0x47 packets without end, ignoring every command", Flag(&BoxSimOptions::babble),
         true},
        {"gap", "MS", "pause MS milliseconds between answer packets", Number(&BoxSimOptions::gapMs, kMaxMs), true},
        {"hang-up-after", "MS", "close the pty MS milliseconds after the first read command",
         Number(&BoxSimOptions::hangUpAfterMs, kMaxMs), true},
        {"come-back", nullptr, "with --hang-up-after: make a new pty at once at the same link path",
         Flag(&BoxSimOptions::comeBack), true},
        {"stream-ts", nullptr, "0x47 packets at line rate from the start until a flush or read command",
         Flag(&BoxSimOptions::streamTs), true},
    };
    return options;
}

void PrintHelp() {
    std::fputs(kIntroduction, stdout);
    constexpr int kHelpColumn = 23;
    bool faultModes = false;
    std::printf("\nOptions:\n");
    for (const BoxOption& option : Options()) {
        if (option.faultMode && !faultModes) {
            faultModes = true;
            std::printf("Fault modes:\n");
        }
        std::string head = std::string("  --") + option.name + (option.value ? std::string(" ") + option.value : "");
        std::string help = option.help;
        for (size_t line = help.find('\n'); line != std::string::npos; line = help.find('\n', line + 1))
            help.insert(line + 1, kHelpColumn, ' ');
        std::printf("%-*s%s\n", kHelpColumn, head.c_str(), help.c_str());
    }
    std::printf("%-*s%s\n", kHelpColumn, "  --help", "show this text");
}

// False (with a message on standard error) for a bad command line; *help when --help was given.
bool ParseArgs(int argc, char** argv, BoxSimOptions* parsed, bool* help) {
    std::vector<option> longOptions;
    for (const BoxOption& row : Options())
        longOptions.push_back({row.name, row.value ? required_argument : no_argument, nullptr, 0});
    longOptions.push_back({"help", no_argument, nullptr, 'h'});
    longOptions.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;
    for (;;) {
        int index = -1;
        const int c = getopt_long(argc, argv, ":h", longOptions.data(), &index);
        if (c == -1)
            break;
        if (c == 'h') {
            *help = true;
        } else if (c == '?' || c == ':') {
            const char* arg = argv[optind - 1];
            std::fprintf(stderr, "kv6251-boxsim: %s: %s\n", arg, c == ':' ? "needs a value" : "unknown option");
            return false;
        } else {
            const BoxOption& row = Options()[static_cast<size_t>(index)];
            if (!row.apply(*parsed, optarg)) {
                std::fprintf(stderr, "kv6251-boxsim: --%s: not a valid %s: %s\n", row.name, row.value, optarg);
                return false;
            }
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "kv6251-boxsim: unexpected argument: %s\n", argv[optind]);
        return false;
    }
    if (parsed->comeBack && parsed->hangUpAfterMs < 0) {
        std::fprintf(stderr, "kv6251-boxsim: --come-back needs --hang-up-after\n");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    BoxSimOptions options;
    bool help = false;
    if (!ParseArgs(argc, argv, &options, &help)) {
        std::fputs("(try --help)\n", stderr);
        return kExitUsage;
    }
    if (help) {
        PrintHelp();
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
    std::string error;
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
