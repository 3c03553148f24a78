// Scaffolding for the window tests: the Qt application on the offscreen platform, a fresh root
// directory per test, the main window, a simulated box on a pseudo-terminal, and a driver that
// answers the real modal dialogs (message boxes, file dialogs, the About window) as they open.
#pragma once

#include "app/Kv6251_about.h"
#include "app/OperatorBoxes.h"
#include "app/Switchermain.h"
#include "link/Ser921.h"
#include "platform/RootDir.h"
#include "sim/BoxSim.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

inline QApplication& App() {
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kv6251_app_tests";
        static char* argv[] = {name, nullptr};
        auto* made = new QApplication(argc, argv);
        PrepareApplication(*made);
        return made;
    }();
    return *app;
}

// The tool's files (XDG_DATA_HOME) and the file dialog's remembered state (XDG_CONFIG_HOME) go
// to a fresh directory while this lives.
class TempRoot {
public:
    TempRoot() {
        qputenv("XDG_DATA_HOME", dir_.filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toLocal8Bit());
    }
    QString Path() const { return dir_.path(); }
    // A path in the root directory, for a fixed name such as "\CONF_KV6251.A$B".
    static std::string Fixed(const char* name) { return RootPath(name); }

private:
    QTemporaryDir dir_;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// A message box as the operator saw it.
struct SeenBox {
    QString caption;
    QString text;
    QString details;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers each modal window as it opens, from the GUI thread's own event loop (the nested loop
// of the modal window itself). Message boxes are recorded and acknowledged (a question gets
// "Yes": the save dialog's overwrite question). File dialogs and About windows take the next
// planned step of their kind; one without a plan is closed and counted as unexpected. Like a
// window manager, it gives the activation back to the home window when the active window
// goes away (the offscreen platform leaves it on the hidden dialog).
class ModalDriver {
public:
    using Step = std::function<void(QWidget*)>;

    ModalDriver() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }

    std::vector<SeenBox> boxes;     // every message box, in order
    std::vector<QString> questions; // texts of the yes/no questions answered with yes
    int fileDialogs = 0;
    int aboutWindows = 0;
    int unexpected = 0;
    QPointer<QWidget> home;

    // The next file dialog selects this path and accepts; an empty path cancels it.
    void ChooseFile(const QString& path) {
        fileSteps_.push_back([path](QWidget* modal) {
            auto* dialog = static_cast<QFileDialog*>(modal);
            if (path.isEmpty()) {
                dialog->reject();
                return;
            }
            // Typed into the name box as the operator would (selectFile leaves a focused box alone).
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (name)
                name->setText(path);
            else
                dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept checks the choice
        });
    }
    // The next About window gets this step.
    void WithAbout(Step step) { aboutSteps_.push_back(std::move(step)); }
    bool AllStepsTaken() const { return fileSteps_.empty() && aboutSteps_.empty(); }

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            handled_ = nullptr; // the file dialogs are kept and shown again
            QWidget* active = QApplication::activeWindow();
            if (home && home->isVisible() && (!active || !active->isVisible()))
                home->activateWindow();
            return;
        }
        if (modal == handled_)
            return;
        handled_ = modal;
        if (qEnvironmentVariableIsSet("KV_TEST_TRACE_MODALS"))
            qDebug() << "modal" << modal
                     << (qobject_cast<QMessageBox*>(modal) ? qobject_cast<QMessageBox*>(modal)->text() : QString());
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            Answer(box);
            return;
        }
        std::deque<Step>* steps = nullptr;
        if (qobject_cast<QFileDialog*>(modal)) {
            ++fileDialogs;
            steps = &fileSteps_;
        } else if (qobject_cast<Tfrm_About*>(modal)) {
            ++aboutWindows;
            steps = &aboutSteps_;
        }
        if (!steps || steps->empty()) {
            ++unexpected;
            modal->close();
            return;
        }
        Step step = std::move(steps->front());
        steps->pop_front();
        // Taken from a posted event rather than from this timer's own call: a step may open a
        // nested modal window (the overwrite question), and Qt does not fire a timer again
        // while its previous call is still running.
        QPointer<QWidget> shown = modal;
        QMetaObject::invokeMethod(
            &timer_,
            [this, shown, step = std::move(step)] {
                if (!shown)
                    return;
                step(shown);
                // A kept dialog may be shown again right away; once closed it counts as new.
                if (shown && !shown->isVisible() && handled_ == shown)
                    handled_ = nullptr;
            },
            Qt::QueuedConnection);
    }

    void Answer(QMessageBox* box) {
        if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
            questions.push_back(box->text());
            yes->click();
            return;
        }
        boxes.push_back({box->windowTitle(), box->text(), box->detailedText(), box->icon()});
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->close();
    }

    QTimer timer_;
    QPointer<QWidget> handled_;
    std::deque<Step> fileSteps_;
    std::deque<Step> aboutSteps_;
};

// Puts the shared state back to its start values (tests of one process share it).
inline void ResetSharedState() {
    PidA = PidB = PidC = PidD = 0;
    Mode = 0;
    PortNumber = 0;
}

// The texts of the four PID fields, A to D.
inline std::array<QString, 4> Fields(const Tfrm_Main* w) {
    return {w->txt_PidA->text(), w->txt_PidB->text(), w->txt_PidC->text(), w->txt_PidD->text()};
}

// Each test: a fresh root, a fresh main window shown and active, a modal driver.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        root_ = std::make_unique<TempRoot>();
        ResetSharedState();
        driver = std::make_unique<ModalDriver>();
    }

    void TearDown() override {
        window_.reset();
        if (IsConnected() || ReceiverRunning())
            CloseLink();
        box_.reset();
        uint8_t scratch[kPacketSize];
        while (TakePacket(scratch)) {
        }
        EXPECT_EQ(driver->unexpected, 0) << "a modal window opened that the test did not plan for";
        driver.reset();
        root_.reset();
    }

    // Creates, shows and activates the main window (its activation step runs).
    Tfrm_Main* Open() {
        window_ = std::make_unique<Tfrm_Main>();
        window_->show();
        driver->home = window_.get();
        EXPECT_TRUE(WaitActive());
        return window_.get();
    }
    // Waits until the main window holds the activation (after a modal window closed).
    bool WaitActive() {
        return QTest::qWaitFor([this] { return QApplication::activeWindow() == window_.get(); }, 5000);
    }
    Tfrm_Main* Window() const { return window_.get(); }

    // Another application's window takes the activation, then gives it back to the main window.
    void LoseAndRegainActivation() {
        QWidget other;
        other.show();
        other.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&other));
        other.hide();
        window_->activateWindow();
        EXPECT_TRUE(WaitActive());
    }

    // A simulated box reachable as port 1.
    BoxSim* StartBox(BoxSimOptions options = {}) {
        options.linkPath = RootPath("com1");
        box_ = std::make_unique<BoxSim>(options);
        std::string error;
        EXPECT_TRUE(box_->Start(&error)) << error;
        return box_.get();
    }
    BoxSim* Box() const { return box_.get(); }

    // Chooses port 1 and connects to the simulated box; then waits out the receiver's start
    // pause, so that the box's answers are read.
    void ConnectToBox(bool waitForReceiver = true) {
        Window()->mn_Port_COM1->trigger();
        Window()->bt_Connect->click();
        ASSERT_TRUE(Window()->ConnectedLook());
        if (waitForReceiver) {
            ASSERT_TRUE(QTest::qWaitFor([] { return WaitReceiverReady(0); }, 3 * kReceiverStartPauseMs));
        }
    }

    // Puts the focus on a control (in the active window), as the operator's Tab key does.
    void Focus(QWidget* widget) {
        if (window_) {
            EXPECT_TRUE(WaitActive());
        }
        widget->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
    }
    // Clicks a radio item on its round indicator (a click beside its short text misses it).
    static void ClickItem(QAbstractButton* item) {
        QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(6, item->height() / 2));
    }

    std::unique_ptr<ModalDriver> driver;

private:
    std::unique_ptr<TempRoot> root_;
    std::unique_ptr<BoxSim> box_;
    std::unique_ptr<Tfrm_Main> window_;
};
