// The window against a simulated box on a pseudo-terminal: the connection look, the link's
// messages, the ways the program ends with the link closed, Send and Get.
#include "ChildProcess.h"
#include "Transcript.h"
#include "WindowTest.h"
#include "transfer/Utiltrp.h"

#include <filesystem>
#include <thread>

namespace {

using LinkWindowTest = WindowTest;

TEST_F(LinkWindowTest, ConnectAndDisconnectSwitchTheLookAndTheLamps) {
    Tfrm_Main* w = Open();
    StartBox();
    const auto expectLook = [w](bool connected) {
        const int on = connected ? 2 : 0;
        EXPECT_EQ(On(w->bt_Connect, w->mn_Connect), 2 - on);
        EXPECT_EQ(On(w->bt_Disconnect, w->mn_Disconnect), on);
        EXPECT_EQ(On(w->bt_Get, w->mn_Get), on);
        EXPECT_EQ(w->mn_Port->menuAction()->isEnabled(), !connected);
        EXPECT_EQ(w->lbl_Status->text().toStdString(), connected ? "Connected!" : "Disconnected!");
        EXPECT_EQ(IsConnected(), connected);
        // RedLed lies over GreenLed: the green lamp shows only while the red one is hidden.
        EXPECT_EQ(w->grp_Conexao->childAt(w->GreenLed->geometry().center()), connected ? w->GreenLed : w->RedLed);
    };
    expectLook(false);
    ConnectToBox();
    expectLook(true);
    w->bt_Disconnect->click();
    expectLook(false);
}

TEST_F(LinkWindowTest, LinkMessagesReachTheOperatorFromEitherThread) {
    Tfrm_Main* w = Open();
    w->Timer1->stop(); // its tick puts the look right too; stopped, only the message can
    w->mn_Port_COM1->trigger();
    w->bt_Connect->click(); // nothing at COM1 yet: the box shows before Connect returns
    EXPECT_EQ(driver.texts, Texts{" COM1 no accessible!"});
    BoxSim* box = StartBox();
    ConnectToBox();
    box->Stop(); // the receiver finds the line gone, and its reopen fails on its own thread
    ASSERT_TRUE(QTest::qWaitFor([this] { return driver.texts.size() == 2; }, 5000));
    EXPECT_EQ(driver.texts[1], " COM1 no accessible!");
    EXPECT_TRUE(QTest::qWaitFor([w] { return w->bt_Connect->isEnabled() && !w->ConnectedLook(); }, 3000));
}

TEST_F(LinkWindowTest, ClosingTheWindowFromItsTitleBarShutsTheLinkDown) {
    Tfrm_Main* w = Open();
    StartBox();
    ConnectToBox();
    EXPECT_TRUE(w->close());
    EXPECT_EQ(IsConnected(), 0);
    EXPECT_TRUE(QTest::qWaitFor([] { return !ReceiverRunning(); }, 3000));
}

// The child keeps the close event from its window: the link is closed by Exit itself.
TEST_F(LinkWindowTest, ExitEndsTheProcessWithCodeZeroAndClosesTheLink) {
    StartBox();
    const ChildResult child = RunChild({KV_EXIT_CHILD, root.File("trace")}, 60000);
    EXPECT_EQ(child.status, 0) << child.err;
    const std::vector<std::string> trace = ReadFileLines(root.File("trace"));
    EXPECT_TRUE(!trace.empty() && trace.back().find("close") != std::string::npos) << ::testing::PrintToString(trace);
}

// While the window sends to its box, a command line reads another box (a nightly job on the same
// host): both read back at the same moment, and neither may see the other's bytes.
TEST_F(LinkWindowTest, SuccessfulSendReportsSuccessAndTheBoxHoldsTheConfiguration) {
    Tfrm_Main* w = Open();
    BoxSim* box = StartBox();
    BoxSimOptions other;
    other.config = {11, 22, 33, 44, 0};
    other.linkPath = TempRoot::Fixed("com2");
    BoxSim otherBox(other);
    ASSERT_TRUE(otherBox.Start());
    for (int i = 0; i < 4; ++i)
        QTest::keyClicks(w->PidField(i), QString::number(256 + i));
    ConnectToBox();
    ChildResult get;
    // The command line's receiver starts a second after its open, as long as the Send's pause.
    std::thread cli([&get] { get = RunChild({KV_CLI_EXE, "get", "--port", "2"}); });
    w->bt_Send->click();
    cli.join();
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, "11:22:33:44\n0\n");
    ASSERT_EQ(driver.texts, Texts{"Process successful!"});
    EXPECT_EQ(driver.icon, QMessageBox::Information);
    // The window is active again after the box, but activation runs only after About: the PIDs
    // Send took from the fields are not zeroed. A run left pending, or still queued, would come
    // when the window is next activated, so it goes away and comes back.
    ASSERT_TRUE(WaitActive());
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &elsewhere; }, 5000));
    elsewhere.close(); // the driver gives the activation back
    ASSERT_TRUE(WaitActive());
    EXPECT_EQ(Shared(), (SwitchConfig{256, 257, 258, 259, 0}));
    EXPECT_TRUE(QTest::qWaitFor([box] { return box->Log().size() >= SendTranscript().size(); }, 5000));
    EXPECT_EQ(LogWithoutTimes(*box), SendTranscript());
}

TEST_F(LinkWindowTest, SendThatCannotRunSaysWhyAndPutsNothingOnTheLine) {
    Tfrm_Main* w = Open();
    BoxSim* box = StartBox();
    w->txt_PidA->setText(QStringLiteral("1"));
    ConnectToBox(); // runs the exit rule: Send on
    const std::string sendFile = TempRoot::Fixed(kSendFileName);
    const std::tuple<const char*, std::function<void()>, const char*, std::string> cases[] = {
        {"the send file cannot be written", [&] { std::filesystem::create_directory(sendFile); }, "Error 1", sendFile},
        {"not connected (Disconnect leaves Send on)", [w] { w->bt_Disconnect->click(); }, "USB no communication.", ""},
    };
    Texts flushes; // the test's own, one per case
    for (const auto& [legend, fault, text, details] : cases) {
        SCOPED_TRACE(legend);
        driver.texts.clear();
        fault();
        w->bt_Send->click();
        ASSERT_EQ(driver.texts, Texts{text});
        EXPECT_EQ(driver.icon, QMessageBox::Critical);
        EXPECT_TRUE(driver.details.contains(QString::fromStdString(details)));
        // A flush of the test's own: once the box logged it, it has read all that came before.
        if (!IsConnected())
            w->bt_Connect->click();
        FlushLink();
        flushes.push_back("flush");
        EXPECT_TRUE(QTest::qWaitFor([&] { return box->Log().size() >= flushes.size(); }, 5000));
        EXPECT_EQ(LogWithoutTimes(*box), flushes);
    }
}

TEST_F(LinkWindowTest, GetShowsTheBoxConfiguration) {
    Tfrm_Main* w = Open();
    // legend, the box's configuration, the fields, the shared configuration
    const std::tuple<const char*, SwitchConfig, FieldTexts, SwitchConfig> cases[] = {
        {"mode byte 1: Switch B empty and grey, shared PidC 300",
         {11, 22, 300, 44, 1},
         {"11", "22", "", ""},
         {11, 22, 300, 44, 1}},
        {"PID bytes 0xFFFF show 8191", {0xFFFF, 0, 8191, 0, 0}, {"8191", "0", "8191", "0"}, {8191, 0, 8191, 0, 0}},
        {"mode byte 5 selects Single: the group clamps it", {1, 2, 3, 4, 5}, {"1", "2", "", ""}, {1, 2, 3, 4, 1}},
        {"all zero in Double", {0, 0, 0, 0, 0}, {"0", "0", "0", "0"}, {0, 0, 0, 0, 0}},
    };
    for (const auto& [legend, held, fields, shared] : cases) {
        SCOPED_TRACE(legend);
        BoxSimOptions options;
        options.config = held;
        StartBox(options);
        for (int i = 0; i < 4; ++i)
            w->PidField(i)->setText(QStringLiteral("9"));
        w->rdg_Mode->Button(0)->click();
        ConnectToBox();
        w->bt_Get->click();
        EXPECT_EQ(Fields(w), fields);
        EXPECT_EQ(w->lbl_Mode->text().toStdString(), shared.Mode ? "Single" : "Double"); // Get runs the mode rule
        EXPECT_EQ(Shared(), shared);
        w->bt_Disconnect->click();
    }
    EXPECT_TRUE(driver.texts.empty()); // Get reports nothing
}

TEST_F(LinkWindowTest, GetAndSaveWriteWhatTheCommandLineGets) {
    const std::tuple<const char*, SwitchConfig, std::string> cases[] = {
        {"Double: all four PIDs", {11, 22, 33, 44, 0}, "11:22:33:44\n0\n"},
        {"mode byte 5 shows Single, and the emptied Switch B saves as 0", {11, 22, 300, 44, 5}, "11:22:0:0\n1\n"},
        {"mode byte 200, negative as a signed byte, is Single too", {11, 22, 300, 44, 200}, "11:22:0:0\n1\n"},
    };
    Tfrm_Main* w = Open();
    const std::string windowFile = root.File("window.swi"), cliFile = root.File("cli.swi");
    for (const auto& [legend, held, swi] : cases) {
        SCOPED_TRACE(legend);
        BoxSimOptions options;
        options.config = held;
        StartBox(options);
        ConnectToBox();
        w->bt_GetClick(w->bt_Get);
        driver.ChooseFile(windowFile);
        w->bt_SaveClick(w->bt_Save); // the button is off: Get does not run the exit rule
        w->bt_Disconnect->click();
        const ChildResult cli = RunChild({KV_CLI_EXE, "get", "--port", "1", "--save", cliFile});
        EXPECT_EQ(cli.status, 0) << cli.err;
        EXPECT_EQ(ReadFileBytes(windowFile), swi);
        EXPECT_EQ(cli.out, swi);
        EXPECT_EQ(ReadFileBytes(cliFile), swi);
    }
}

} // namespace
