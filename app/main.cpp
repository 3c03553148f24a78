// Start-up: the application object, the main window, the event loop.
#include "app/OperatorBoxes.h"
#include "app/Switchermain.h"

#include <QApplication>

#include <exception>

namespace {

// Shows what a handler let escape and goes on running, as the toolkit's own exception display
// does; Qt itself must never see an exception pass through its event loop.
class SwitcherApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            ShowExceptionMessage(QString::fromLocal8Bit(error.what()));
        } catch (...) {
            ShowExceptionMessage(QString());
        }
        return false;
    }
};

} // namespace

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
