// kv6251-cli: Send, Get and the port list of the KV6251 tool from a shell.
#include "cli/Cli.h"

int main(int argc, char** argv) {
    return RunCli(argc, argv);
}
