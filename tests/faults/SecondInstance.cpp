// A second copy of the tool's link, started by the fault tests as a separate process while the
// test process holds the port. It opens the given port number once, as Connect does, and prints
// what the operator would see:
//
//   result <what OpenLink gave>
//   message <the message's main text>      (once per message, followed by its details lines)
//   <device>
//   <reason lines>
//
// It finds the port the same way the tool does (XDG_DATA_HOME is inherited from the test).
#include "link/Ser921.h"
#include "platform/MessageSink.h"

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kExitUsage = 2;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kv6251_second_instance PORT\n");
        return kExitUsage;
    }
    SetMessageSink([](const OperatorMessage& message) {
        std::printf("message %s\n%s\n%s\n", message.text.c_str(), message.device.c_str(), message.reason.c_str());
    });
    const int result = OpenLink(std::atoi(argv[1]));
    std::printf("result %d\n", result);
    if (IsConnected() == 1)
        CloseLink(); // it should never have got the port; let the holder have it back at once
    std::fflush(stdout);
    return 0;
}
