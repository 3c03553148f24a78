// Started by the Exit test: traces the link to the file given, connects to the box the test keeps
// at <root>/com1, and chooses Exit by Ctrl+E from the focused PID field. Exit ends this process
// with code 0; any other code tells what failed. The window never gets its close event here: a
// close may be refused or already under way, and Exit must close the link all the same.
#include "app/OperatorBoxes.h"
#include "app/Switchermain.h"
#include "link/PacketTrace.h"

#include <QApplication>
#include <QTest>

struct KeepsCloseEvents : QObject {
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::Close; }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    PrepareApplication(app);
    Tfrm_Main window;
    KeepsCloseEvents keep;
    window.installEventFilter(&keep);
    window.show();
    window.activateWindow(); // there may be no window manager to do it
    if (argc != 2 || !QTest::qWaitForWindowActive(&window) || !StartPacketTrace(argv[1], nullptr))
        return 3;
    window.mn_Port_COM1->trigger();
    window.bt_Connect->click();
    if (!window.ConnectedLook())
        return 4;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_E, Qt::ControlModifier);
    return 5;
}
