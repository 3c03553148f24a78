// The commands of kv6251-cli: what each does for one port (send, get, check) or for the host
// (map, ports), filling a report.
#pragma once

#include "cli/Args.h"
#include "cli/Report.h"
#include "protocol/SwitchConfig.h"

#include <optional>
#include <string>

// Input that cannot become a configuration the box can take.
struct DataError {
    int code; // 65 (EX_DATAERR) or 66 (EX_NOINPUT)
    std::string what;
};
// A configuration from A:B:C:D:M or a .swi file, checked as written: PIDs 0..8191, mode 0 or 1.
std::optional<DataError> ConfigurationFrom(const std::string& operand, SwitchConfig* config);

// The port a command without --port uses: the one chosen in the window; 0 when there is none.
int ChosenPort();

// One port each; progress: a progress line on standard error may be shown.
Report RunSend(const Options& options, const SwitchConfig& config, int port, bool progress);
Report RunGet(const Options& options, int port, bool progress);
Report RunCheck(const Options& options, const SwitchConfig& config, int port, bool progress);

Report RunMap(const Options& options);
Report RunPorts();
