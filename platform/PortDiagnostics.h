// Why a serial port could not be opened or configured, and what the operator can do about it.
//
// The link reports its failures with a fixed main text; this builds the details that go with
// it: several lines naming the cause (no access, in use, no such device, not a serial port,
// settings refused) and the remedy (join the device's group, close the other program, map an
// existing adapter to the port number). It also points at services that are known to take
// USB serial adapters away (a modem manager probing them, a braille display daemon claiming
// them). Everything is best effort: what cannot be looked up is left out, and nothing here
// fails or blocks. Reading /proc and /dev is only done when a failure is diagnosed.
#pragma once

#include <string>
#include <vector>

// Where the diagnosis looks. Tests point these at a made-up tree.
struct DiagnosticRoots {
    std::string dev = "/dev";
    std::string proc = "/proc";
    std::string sys = "/sys";
    std::string mapDir; // where the com<n> links live; empty: the tool's root directory
};

// err is the errno of the failing step; step is the step's name as the serial device reports
// it ("open", "isatty", "flock", "TIOCEXCL", "tcgetattr", "tcsetattr", "speed", "modem-lines").
std::string DiagnosePortFailure(int port, const std::string& devicePath, int err, const std::string& step);
std::string DiagnosePortFailure(int port, const std::string& devicePath, int err, const std::string& step,
                                const DiagnosticRoots& roots);

struct ProcessInfo {
    int pid = 0;
    std::string name; // its command name, empty when unreadable
};

// Processes with an open descriptor on each device (the path or what it resolves to), in one pass
// over <proc>: one list per device, in the order given; an empty path matches nothing.
std::vector<std::vector<ProcessInfo>> FindProcessesUsingEach(const std::vector<std::string>& devicePaths,
                                                             const DiagnosticRoots& roots);
