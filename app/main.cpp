// Start-up: the command line, the application object, the main window, the event loop.
#include "app/OperatorBoxes.h"
#include "app/SwitcherApplication.h"
#include "app/Switchermain.h"
#include "link/PacketTrace.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

#ifndef KV_VERSION
#define KV_VERSION "unknown"
#endif

namespace {

// A trace file that cannot be created (sysexits' "cannot write output").
constexpr int kExitCannotWrite = 74;

void DescribeProgram(QCommandLineParser& parser, QCommandLineOption& trace) {
    QCoreApplication::setApplicationName(QStringLiteral("kv6251"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KV_VERSION));
    parser.setApplicationDescription(
        QStringLiteral("Configuration tool of the KV6251 Transport Switcher: send PIDs and the output mode "
                       "to the box and verify them, read its configuration, keep configurations in .swi files."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(trace);
}

// --help and --version answer without a display: they need no window.
bool AsksOnlyForText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        for (const char* text : {"--help", "-h", "-?", "--help-all", "--version", "-v"})
            if (std::strcmp(argv[i], text) == 0)
                return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    QCommandLineOption trace(QStringLiteral("trace"),
                             QStringLiteral("Write one line per packet sent to and received from the box to <file>."),
                             QStringLiteral("file"));
    if (AsksOnlyForText(argc, argv)) {
        QCoreApplication text(argc, argv);
        DescribeProgram(parser, trace);
        parser.process(text); // prints and ends the process
        return 0;
    }

    SwitcherApplication app(argc, argv);
    DescribeProgram(parser, trace);
    parser.process(app); // Qt's own options (-platform, -style, ...) are gone from the arguments by now
    if (parser.isSet(trace)) {
        std::string error;
        if (!StartPacketTrace(parser.value(trace).toLocal8Bit().toStdString(), &error)) {
            std::fprintf(stderr, "kv6251: cannot write the trace: %s\n", error.c_str());
            return kExitCannotWrite;
        }
    }
    PrepareApplication(app);
    int status = 0;
    {
        Tfrm_Main window;
        window.show();
        // Ask for activation: without a window manager (a bare X server, xvfb-run) nobody else
        // gives the new window the focus, and the port setting is loaded on activation.
        window.activateWindow();
        status = app.exec();
    }
    StopPacketTrace();
    return status;
}
