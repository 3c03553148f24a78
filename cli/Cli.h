// The command line of kv6251-cli (see --help).
#pragma once

// Runs one command line; gives the process's exit status.
int RunCli(int argc, const char* const* argv);
