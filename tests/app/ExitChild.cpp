// A process for the Exit tests: shows the main window, connects to a simulated box when asked
// ("connected"), then chooses Exit (the button, or Ctrl+E when connected). Exit ends the
// process with code 0; any other code tells where it went wrong.
#include "app/OperatorBoxes.h"
#include "app/Switchermain.h"
#include "link/Ser921.h"
#include "platform/RootDir.h"
#include "sim/BoxSim.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <memory>

namespace {
enum Failure { kBoxDidNotStart = 3, kWindowNotActive = 4, kNotConnected = 5, kExitReturned = 6 };
}

int main(int argc, char** argv) {
    const bool connected = argc > 1 && std::strcmp(argv[1], "connected") == 0;
    QApplication app(argc, argv);
    PrepareApplication(app);

    std::unique_ptr<BoxSim> box;
    if (connected) {
        BoxSimOptions options;
        options.linkPath = RootPath("com1");
        box = std::make_unique<BoxSim>(options);
        if (!box->Start())
            return kBoxDidNotStart;
    }
    Tfrm_Main window;
    window.show();
    window.activateWindow(); // there may be no window manager to do it
    if (!QTest::qWaitForWindowActive(&window))
        return kWindowNotActive;
    if (connected) {
        window.mn_Port_COM1->trigger();
        window.bt_Connect->click();
        if (IsConnected() != 1 || !window.ConnectedLook())
            return kNotConnected;
    }
    QTimer::singleShot(50, &window, [&] {
        if (connected)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_E, Qt::ControlModifier);
        else
            window.bt_Exit->click();
    });
    app.exec();
    return kExitReturned;
}
