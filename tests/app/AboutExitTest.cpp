// The About window (modal, fresh each time, closed by Ok or its close button), the activation
// step that follows it, and the ways the program ends: Exit in a child process, and closing
// the window from its title bar.
#include "AppTestEnv.h"
#include "files/PortFile.h"

#include <QElapsedTimer>
#include <QProcess>

#include <array>

namespace {

class AboutExitTest : public WindowTest {};

TEST_F(AboutExitTest, AboutWindowHasItsLayout) {
    Tfrm_About about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    EXPECT_EQ(about.windowTitle(), QString::fromUtf8(kCaption));
    EXPECT_EQ(about.size(), QSize(335, 224));
    EXPECT_EQ(about.minimumSize(), about.maximumSize());
    const Qt::WindowFlags flags = about.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_TRUE(about.windowIcon().availableSizes().contains(QSize(32, 32)));

    EXPECT_EQ(about.grp_About->geometry(), QRect(4, 0, 329, 161));
    EXPECT_TRUE(about.grp_About->title().isEmpty());
    EXPECT_EQ(about.bt_Img->geometry(), QRect(4, 8, 321, 85));
    EXPECT_EQ(about.bt_Img->iconSize(), QSize(313, 59));
    EXPECT_TRUE(about.bt_Img->icon().availableSizes().contains(QSize(313, 59)));
    EXPECT_EQ(about.bt_Img->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(about.bt_Img->toolTip().isEmpty());
    EXPECT_EQ(about.bt_Ok->geometry(), QRect(128, 180, 81, 37));
    EXPECT_EQ(about.bt_Ok->text(), QStringLiteral("Ok"));
    EXPECT_EQ(about.bt_Ok->toolTip(), QStringLiteral("Ok"));
    EXPECT_EQ(about.bt_Ok->iconSize(), QSize(32, 32));
    EXPECT_TRUE(about.bt_Ok->icon().availableSizes().contains(QSize(32, 32)));
    EXPECT_EQ(about.focusWidget(), about.bt_Ok);

    struct Line {
        QLabel* label;
        QPoint at;
        const char* text;
    };
    const Line lines[] = {
        {about.Label3, {104, 96}, "KV6251 - Transport Switcher"},
        {about.Label4, {128, 112}, "Version 1.0"},
        {about.Label1, {40, 128}, nullptr}, // the maker's rights line
        {about.Label2, {80, 144}, nullptr}, // the maker's web address
    };
    for (const Line& line : lines) {
        SCOPED_TRACE(line.label->objectName().toStdString());
        EXPECT_EQ(line.label->pos(), line.at);
        if (line.text) {
            EXPECT_EQ(line.label->text().toStdString(), line.text);
        }
        // The lines size themselves to their text.
        EXPECT_GE(line.label->width(), line.label->fontMetrics().horizontalAdvance(line.label->text()));
        EXPECT_EQ(line.label->font().pixelSize(), 11);
    }
    EXPECT_TRUE(about.Label1->text().contains(QStringLiteral("Norvell")));
    EXPECT_TRUE(about.Label2->text().contains(QStringLiteral("example.com")));

    // The logo does nothing when clicked.
    QTest::mouseClick(about.bt_Img, Qt::LeftButton);
    EXPECT_TRUE(about.isVisible());
}

TEST_F(AboutExitTest, AboutOpensModalFreshEachTimeAndClosesByOkOrTheCloseButton) {
    Tfrm_Main* w = Open();
    struct Case {
        const char* legend;
        std::function<void(Tfrm_About*)> close;
    };
    const Case cases[] = {
        {"the Ok button", [](Tfrm_About* about) { QTest::mouseClick(about->bt_Ok, Qt::LeftButton); }},
        {"the close button of the title bar", [](Tfrm_About* about) { about->close(); }},
        {"Ok once more", [](Tfrm_About* about) { about->bt_Ok->click(); }},
    };
    QPointer<Tfrm_About> previous;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        QPointer<Tfrm_About> shown;
        bool modal = false, stored = false, mainBlocked = false;
        QString changedBefore;
        driver->WithAbout([&](QWidget* widget) {
            auto* about = qobject_cast<Tfrm_About*>(widget);
            ASSERT_NE(about, nullptr);
            shown = about;
            modal = about->isModal() && QApplication::activeModalWidget() == about;
            stored = frm_About == about;
            // The main window takes no input meanwhile: a click into one of its fields is refused.
            QTest::mouseClick(w->txt_PidB, Qt::LeftButton);
            mainBlocked = !w->txt_PidB->hasFocus() && QApplication::activeModalWidget() == about;
            changedBefore = about->Label4->text();
            about->Label4->setText(QStringLiteral("changed")); // must not survive into the next opening
            c.close(about);
        });
        w->bt_About->click();
        EXPECT_TRUE(driver->AllStepsTaken());
        EXPECT_TRUE(modal);
        EXPECT_TRUE(stored);
        EXPECT_TRUE(mainBlocked);
        EXPECT_EQ(changedBefore, QStringLiteral("Version 1.0"));
        EXPECT_TRUE(shown.isNull()) << "the About window is destroyed when it closes";
        EXPECT_TRUE(previous.isNull());
        EXPECT_EQ(frm_About, nullptr);
        previous = shown;
    }
    EXPECT_EQ(driver->aboutWindows, 3);
}

TEST_F(AboutExitTest, ActivationRunsAgainAfterAboutButNotAfterBoxesOrDialogs) {
    Tfrm_Main* w = Open();
    w->rdg_Mode->Button(kModeSingle)->click();
    WriteBytes(TempRoot::Fixed(kPortFileName), std::string("\x06\x00", 2));

    // A message box and a file dialog take the activation and give it back: no activation step.
    PidA = 7;
    w->bt_Connect->click(); // port 0: the link's message box
    ASSERT_EQ(driver->boxes.size(), 1u);
    driver->ChooseFile({});
    w->bt_Open->click();
    EXPECT_TRUE(WaitActive());
    LoseAndRegainActivation();
    QTest::qWait(50);
    EXPECT_EQ(PidA, 7);
    EXPECT_TRUE(w->lbl_PortSerial->text().isEmpty());

    // After the About window the step runs: PIDs zeroed, Mode as selected, port reloaded.
    driver->WithAbout([](QWidget* about) { about->close(); });
    w->bt_About->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return PidA == 0; }, 5000));
    EXPECT_EQ(Mode, 1);
    EXPECT_EQ(PortNumber, 6);
    EXPECT_EQ(w->lbl_PortSerial->text(), QStringLiteral(" 6 "));
    EXPECT_TRUE(w->mn_Port_COM6->isChecked());
    EXPECT_TRUE(w->isActiveWindow());
}

TEST_F(AboutExitTest, ClosingFromTheTitleBarShutsTheLinkDown) {
    Tfrm_Main* w = Open();
    StartBox();
    ConnectToBox(false);
    ASSERT_TRUE(ReceiverRunning());
    EXPECT_TRUE(w->close());
    EXPECT_EQ(IsConnected(), 0);
    EXPECT_EQ(LinkStopFlag(), 1);
    EXPECT_TRUE(QTest::qWaitFor([] { return !ReceiverRunning(); }, 3000));
}

TEST_F(AboutExitTest, ExitEndsTheProcessWithCodeZero) {
    App();
    struct Case {
        const char* legend;
        const char* mode;
    };
    const Case cases[] = {{"not connected, Exit button", "idle"}, {"connected, Ctrl+E from a PID field", "connected"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        QElapsedTimer clock;
        clock.start();
        child.start(QStringLiteral(KV_EXIT_CHILD), {QString::fromLatin1(c.mode)});
        ASSERT_TRUE(child.waitForStarted(10000));
        ASSERT_TRUE(child.waitForFinished(60000)) << "the window did not end the process";
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0);
        EXPECT_LT(clock.elapsed(), 60000);
    }
}

} // namespace
