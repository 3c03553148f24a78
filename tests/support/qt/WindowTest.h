// Scaffolding of the window suites: the Qt application on the offscreen platform, a driver that
// answers the real modal windows as they open, and a fixture with a fresh root directory, the
// main window and a simulated box at <root>/com1.
#pragma once

#include "Files.h"
#include "TempRoot.h"
#include "app/OperatorBoxes.h"
#include "app/Switchermain.h"
#include "link/Ser921.h"
#include "sim/BoxSim.h"

#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

inline QApplication& App() {
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char* argv[] = {const_cast<char*>("kv6251_window_tests"), nullptr};
        auto* made = new QApplication(argc, argv);
        PrepareApplication(*made);
        return made;
    }();
    return *app;
}

// Answers each modal window from the nested event loop it runs: a message box is recorded and
// closed; any other modal window takes the next planned step, or is closed and counted as
// unexpected. Like a window manager, it gives the activation back to the main window once the
// active window has gone.
class ModalDriver {
public:
    using Step = std::function<void(QWidget*)>;
    std::vector<std::string> texts; // of the message boxes, in order
    QString details;                // of the last one
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::CursorShape cursor = Qt::ArrowCursor; // the pointer over the last one
    int unexpected = 0;

    ModalDriver() { Poll(); }
    void Plan(Step step) { steps_.push_back(std::move(step)); }
    // The next file dialog gets the path typed into its name box, and is accepted.
    void ChooseFile(const std::string& path) {
        Plan([path](QWidget* modal) {
            modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromStdString(path));
            static_cast<QDialog*>(modal)->accept(); // QFileDialog::accept, as the Save or Open button
        });
    }

private:
    void Poll() {
        // Set again first, so that a nested modal window a step opens is answered too.
        QTimer::singleShot(5, &alive_, [this] { Poll(); });
        QWidget* modal = QApplication::activeModalWidget();
        QWidget* active = QApplication::activeWindow();
        if (!modal && frm_Main && frm_Main->isVisible() && (!active || !active->isVisible()))
            frm_Main->activateWindow();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            texts.push_back(box->text().toStdString());
            details = box->detailedText(), icon = box->icon();
            cursor = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor;
            if (QAbstractButton* yes = box->button(QMessageBox::Yes))
                yes->click(); // the save dialog's overwrite question
            else
                box->close(); // Ok, its only button, is its escape button
        } else if (modal && steps_.empty()) {
            ++unexpected;
            modal->close();
        } else if (modal) {
            steps_.takeFirst()(modal);
        }
    }

    QObject alive_; // ends the polling with the driver
    QList<Step> steps_;
};

using Texts = std::vector<std::string>;        // what the message boxes said
using FieldTexts = std::array<std::string, 4>; // what the PID fields show, A to D

inline void PrintTo(const SwitchConfig& c, std::ostream* os) {
    *os << c.PidA << ':' << c.PidB << ':' << c.PidC << ':' << c.PidD << " mode " << c.Mode;
}
inline SwitchConfig Shared() {
    return {PidA, PidB, PidC, PidD, Mode};
}
inline FieldTexts Fields(const Tfrm_Main* w) {
    return {w->txt_PidA->text().toStdString(), w->txt_PidB->text().toStdString(), w->txt_PidC->text().toStdString(),
            w->txt_PidD->text().toStdString()};
}
// How many of a command's button and menu item are enabled: 0, 1 or 2.
inline int On(const QWidget* button, const QAction* item) {
    return button->isEnabled() + item->isEnabled();
}

class WindowTest : public ::testing::Test {
protected:
    // Destroys the window as the test left it, mostly active with the focus in a PID field: no
    // handler of the half-destroyed window may run then (UndefinedBehaviorSanitizer would stop the
    // process: "downcast of address ... which does not point to an object of type 'Tfrm_Main'").
    void TearDown() override {
        window_.reset(); // it closes the link
        box_.reset();
        EXPECT_EQ(driver.unexpected, 0) << "a modal window opened that the test did not plan for";
    }
    // A new main window, shown and active: its activation step has run.
    Tfrm_Main* Open() {
        window_ = std::make_unique<Tfrm_Main>();
        window_->show();
        EXPECT_TRUE(WaitActive());
        return window_.get();
    }
    bool WaitActive() {
        return QTest::qWaitFor([this] { return QApplication::activeWindow() == window_.get(); }, 5000);
    }
    // Puts the focus on a control, as the operator's Tab key does.
    void Focus(QWidget* widget) {
        EXPECT_TRUE(WaitActive());
        widget->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
    }
    // A simulated box reachable as port 1, replacing any earlier one.
    BoxSim* StartBox(BoxSimOptions options = {}) {
        options.linkPath = TempRoot::Fixed("com1");
        box_ = std::make_unique<BoxSim>(options);
        EXPECT_TRUE(box_->Start());
        return box_.get();
    }
    BoxSim* Box() const { return box_.get(); }
    // Port 1, Connect, and the receiver reading the line.
    void ConnectToBox() {
        window_->mn_Port_COM1->trigger();
        window_->bt_Connect->click();
        ASSERT_TRUE(window_->ConnectedLook());
        ASSERT_TRUE(QTest::qWaitFor([] { return WaitReceiverReady(0); }, 3 * kReceiverStartPauseMs));
    }

    QApplication& app_ = App(); // before anything that needs it
    TempRoot root;
    ModalDriver driver;

private:
    std::unique_ptr<BoxSim> box_;
    std::unique_ptr<Tfrm_Main> window_;
};
