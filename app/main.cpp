// Start-up: the application object, the main window, the event loop.
#include "app/OperatorBoxes.h"
#include "app/SwitcherApplication.h"
#include "app/Switchermain.h"

int main(int argc, char** argv) {
    SwitcherApplication app(argc, argv);
    PrepareApplication(app);
    Tfrm_Main window;
    window.show();
    // Ask for activation: without a window manager (a bare X server, xvfb-run) nobody else
    // gives the new window the focus, and the port setting is loaded on activation.
    window.activateWindow();
    return app.exec();
}
