// Renders the windows to PNG files for the documentation.
//
//   kv6251-screenshots <output dir>
//
// writes main-disconnected.png, main-connected.png, main-single.png and about.png. It runs on
// the offscreen platform with its own temporary root directory, and connects to a simulated
// box on a pseudo-terminal for the connected look, so it touches neither the user's files nor
// a real port.
#include "app/Kv6251_about.h"
#include "app/OperatorBoxes.h"
#include "app/Switchermain.h"
#include "link/Ser921.h"
#include "platform/RootDir.h"
#include "sim/BoxSim.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

bool Grab(QWidget* window, const QDir& dir, const char* name) {
    QCoreApplication::processEvents();
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (window->grab().save(path, "PNG")) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

void Type(QLineEdit* field, const char* text) {
    field->setText(QString::fromLatin1(text));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output dir>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    qputenv("XDG_DATA_HOME", root.path().toLocal8Bit());

    QApplication app(argc, argv);
    PrepareApplication(app);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral(".")))
        return 1;

    BoxSimOptions options;
    options.linkPath = RootPath("com1");
    BoxSim box(options);
    std::string error;
    if (!box.Start(&error)) {
        std::fprintf(stderr, "simulated box: %s\n", error.c_str());
        return 1;
    }

    bool ok = true;
    {
        Tfrm_Main window;
        window.show();
        ok &= QTest::qWaitForWindowExposed(&window);
        window.mn_Port_COM1->trigger();
        Type(window.txt_PidA, "256");
        Type(window.txt_PidB, "257");
        Type(window.txt_PidC, "258");
        Type(window.txt_PidD, "259");
        window.txt_PidAExit(window.txt_PidA);
        window.Timer1Timer(window.Timer1);
        ok &= Grab(&window, out, "main-disconnected.png");

        window.bt_Connect->click();
        ok &= window.ConnectedLook();
        ok &= Grab(&window, out, "main-connected.png");

        window.rdg_Mode->Button(kModeSingle)->click();
        ok &= Grab(&window, out, "main-single.png");
        window.bt_Disconnect->click();
    }
    {
        Tfrm_About about;
        about.show();
        ok &= QTest::qWaitForWindowExposed(&about);
        ok &= Grab(&about, out, "about.png");
    }
    box.Stop();
    return ok ? 0 : 1;
}
