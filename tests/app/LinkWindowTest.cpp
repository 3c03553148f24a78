// The window against a simulated box on a pseudo-terminal: Connect and Disconnect with the
// connection look, a failed Connect, a link that stops by itself, Send and Get.
#include "AppTestEnv.h"
#include "ChildProcess.h"
#include "Transcript.h"
#include "platform/MessageSink.h"
#include "transfer/Utiltrp.h"

#include <QMessageBox>

#include <array>
#include <filesystem>
#include <thread>

namespace {

struct Look {
    bool connect, mnConnect, disconnect, mnDisconnect, get, mnGet, port, redLed;
    QString status;
    bool operator==(const Look&) const = default;
};

Look LookOf(const Tfrm_Main* w) {
    return {w->bt_Connect->isEnabled(),
            w->mn_Connect->isEnabled(),
            w->bt_Disconnect->isEnabled(),
            w->mn_Disconnect->isEnabled(),
            w->bt_Get->isEnabled(),
            w->mn_Get->isEnabled(),
            w->mn_Port->menuAction()->isEnabled(),
            w->RedLed->isVisible(),
            w->lbl_Status->text()};
}

const Look kDisconnected{true, true, false, false, false, false, true, true, QStringLiteral("Disconnected!")};
const Look kConnected{false, false, true, true, true, true, false, false, QStringLiteral("Connected!")};

void ExpectLook(const Tfrm_Main* w, const Look& expected) {
    const Look look = LookOf(w);
    EXPECT_TRUE(look == expected) << "status " << look.status.toStdString() << ", connect " << look.connect
                                  << ", disconnect " << look.disconnect << ", get " << look.get << ", port "
                                  << look.port << ", red lamp " << look.redLed;
    EXPECT_TRUE(w->GreenLed->isVisible());
}

int CountKind(const BoxSim* box, const char* kind) {
    int n = 0;
    for (const BoxSimLogEntry& entry : box->Log())
        n += entry.kind == kind;
    return n;
}

class LinkWindowTest : public WindowTest {};

TEST(OperatorTexts, ConstantsHoldTheSystemsExactTexts) {
    struct Case {
        const char* constant;
        const char* literal;
    };
    const Case cases[] = {
        {kCaption, "KV6251 Transport Switcher - Norvell"},
        {kApplicationTitle, "KV6251"},
        {kStatusConnected, "Connected!"},
        {kStatusDisconnected, "Disconnected!"},
        {kModeNames[0], "Double"},
        {kModeNames[1], "Single"},
        {kMsgNoCommunication, "USB no communication."},
        {kMsgProcessSuccessful, "Process successful!"},
        {kMsgErrorCode, "Error %d"},
        {kMsgSaveSuccessful, "File save successful!"},
        {kMsgSaveError, "Error at Save."},
        {kMsgSaveException, "Error in save!"},
        {kMsgCannotOpen, "Cannot open input file."},
        {kMsgCorrupted, "File corrupted!"},
        {kPortChosenFormat, " %d"},
        {kPortLoadedFormat, " %d "},
        {kClockFormat, " %2.2d:%2.2d:%2.2d"},
        {kSwiFilter, "Switcher Files (*.swi)"},
        {kSwiSuffix, "swi"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.constant, c.literal);
}

TEST_F(LinkWindowTest, LinkMessagesReachTheOperatorFromEitherThread) {
    Open();
    const OperatorMessage message{" COM4 no accessible!", kIconError, "/dev/ttyUSB3", "open: Permission denied"};
    // From the GUI thread the box has been shown and closed when the call returns.
    ShowOperatorMessage(message);
    ASSERT_EQ(driver->boxes.size(), 1u);
    // From another thread the call returns at once; the box follows on the GUI thread.
    std::thread receiver([&] { ShowOperatorMessage(message); });
    receiver.join();
    EXPECT_EQ(driver->boxes.size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return driver->boxes.size() == 2; }, 5000));
    for (const SeenBox& box : driver->boxes) {
        EXPECT_EQ(box.text, QStringLiteral(" COM4 no accessible!"));
        EXPECT_EQ(box.caption, QString::fromUtf8(kCaption));
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_TRUE(box.details.contains(QStringLiteral("/dev/ttyUSB3")));
        EXPECT_TRUE(box.details.contains(QStringLiteral("Permission denied")));
    }
}

TEST_F(LinkWindowTest, ConnectAndDisconnectSwitchTheLook) {
    Tfrm_Main* w = Open();
    StartBox();
    ExpectLook(w, kDisconnected);
    w->txt_PidA->setText(QStringLiteral("5"));

    ConnectToBox(false);
    ExpectLook(w, kConnected);
    EXPECT_EQ(w->lbl_Status->text(), QString::fromUtf8(kStatusConnected));
    EXPECT_EQ(IsConnected(), 1);
    EXPECT_EQ(w->grp_Conexao->childAt(12, 20), w->GreenLed);
    // Connect ran the exit rule: a field is filled and the link is up.
    EXPECT_TRUE(w->bt_Send->isEnabled());
    EXPECT_TRUE(w->mn_Send->isEnabled());
    EXPECT_TRUE(w->bt_Save->isEnabled());
    EXPECT_EQ(PidA, 5);

    // Ctrl+N does nothing while connected; Ctrl+D disconnects.
    const uint64_t receivers = ReceiverThreadsStarted();
    QTest::keyClick(w, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(ReceiverThreadsStarted(), receivers);
    QTest::keyClick(w, Qt::Key_D, Qt::ControlModifier);
    ExpectLook(w, kDisconnected);
    EXPECT_EQ(IsConnected(), 0);
    // Disconnect leaves Send and Save as the exit rule last set them.
    EXPECT_TRUE(w->bt_Send->isEnabled());
    EXPECT_TRUE(w->bt_Save->isEnabled());
    EXPECT_TRUE(driver->boxes.empty());

    // Send after the disconnect: no communication, nothing written, PIDs not read.
    w->txt_PidA->setText(QStringLiteral("77"));
    QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(driver->boxes[0].text, QStringLiteral("USB no communication."));
    EXPECT_EQ(driver->boxes[0].text, QString::fromUtf8(kMsgNoCommunication));
    EXPECT_EQ(driver->boxes[0].caption, QStringLiteral("KV6251 Transport Switcher - Norvell"));
    EXPECT_EQ(driver->boxes[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(std::filesystem::exists(TempRoot::Fixed(kSendFileName)));
    EXPECT_EQ(PidA, 5);
    EXPECT_EQ(CountKind(Box(), "upload") + CountKind(Box(), "configuration") + CountKind(Box(), "flush"), 0);
    ExpectLook(w, kDisconnected);
}

TEST_F(LinkWindowTest, ConnectWithAllFieldsBlankLeavesSendAndSaveOff) {
    Tfrm_Main* w = Open();
    StartBox();
    w->txt_PidB->setText(QStringLiteral("   "));
    w->bt_Save->setEnabled(true); // as an earlier exit rule could have left it
    ConnectToBox(false);
    ExpectLook(w, kConnected);
    EXPECT_FALSE(w->bt_Send->isEnabled());
    EXPECT_FALSE(w->mn_Send->isEnabled());
    EXPECT_FALSE(w->bt_Save->isEnabled());
    EXPECT_FALSE(w->mn_Save->isEnabled());
    // Leaving a blank field while connected keeps them off; a filled one turns both on.
    Focus(w->txt_PidA);
    QTest::keyClick(w->txt_PidA, Qt::Key_Tab);
    EXPECT_FALSE(w->bt_Send->isEnabled());
    QTest::keyClicks(w->txt_PidB, QStringLiteral("3"));
    QTest::keyClick(w->txt_PidB, Qt::Key_Tab);
    EXPECT_TRUE(w->bt_Send->isEnabled());
    EXPECT_TRUE(w->mn_Send->isEnabled());
    EXPECT_TRUE(w->bt_Save->isEnabled());
}

TEST_F(LinkWindowTest, ConnectWithoutAPortShowsTheLinksMessageAndChangesNothing) {
    Tfrm_Main* w = Open();
    ASSERT_EQ(PortNumber, 0); // no port file
    w->bt_Save->setEnabled(true);
    w->bt_Connect->click();
    ASSERT_EQ(driver->boxes.size(), 1u);
    const SeenBox& box = driver->boxes[0];
    EXPECT_EQ(box.text, QStringLiteral(" COM0 no accessible!"));
    EXPECT_EQ(box.caption, QString::fromUtf8(kCaption));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    ExpectLook(w, kDisconnected);
    EXPECT_TRUE(w->bt_Save->isEnabled());
    EXPECT_EQ(IsConnected(), 0);
}

TEST_F(LinkWindowTest, ConnectToAMissingDeviceNamesItInTheDetails) {
    Tfrm_Main* w = Open();
    w->mn_Port_COM7->trigger(); // nothing at <root>/com7 nor /dev/ttyUSB6 here
    if (std::filesystem::exists("/dev/ttyUSB6"))
        GTEST_SKIP() << "this machine has /dev/ttyUSB6";
    w->bt_Connect->click();
    ASSERT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(driver->boxes[0].text, QStringLiteral(" COM7 no accessible!"));
    EXPECT_TRUE(driver->boxes[0].details.contains(QStringLiteral("/dev/ttyUSB6")))
        << driver->boxes[0].details.toStdString();
    ExpectLook(w, kDisconnected);
}

TEST_F(LinkWindowTest, LinkThatStopsByItselfReturnsTheWindowToTheDisconnectedLook) {
    Tfrm_Main* w = Open();
    BoxSimOptions options;
    options.hangUpAfterMs = 50; // the box goes away after the first read command
    StartBox(options);
    ConnectToBox();
    w->bt_Get->click();
    // The receiver finds the line gone, its reopen fails, and the message it raised on its own
    // thread is shown on the GUI thread; the window then offers Connect again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->ConnectedLook(); }, 10000));
    ExpectLook(w, kDisconnected);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !driver->boxes.empty(); }, 5000));
    ASSERT_FALSE(driver->boxes.empty());
    EXPECT_EQ(driver->boxes[0].text, QStringLiteral(" COM1 no accessible!"));
    EXPECT_EQ(driver->boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(LinkStopFlag(), 1);

    StartBox(); // the operator plugs the box in again
    ConnectToBox(false);
    ExpectLook(w, kConnected);
}

TEST_F(LinkWindowTest, SuccessfulSendReportsSuccessAndTheBoxHoldsTheConfiguration) {
    Tfrm_Main* w = Open();
    BoxSim* box = StartBox();
    const char* typed[] = {"256", "257", "258", "259"};
    for (int i = 0; i < 4; ++i)
        QTest::keyClicks(w->PidField(i), QString::fromLatin1(typed[i]));
    ConnectToBox();
    ASSERT_TRUE(w->bt_Send->isEnabled());
    w->bt_Send->click();

    ASSERT_EQ(driver->boxes.size(), 1u);
    const SeenBox& seen = driver->boxes[0];
    EXPECT_EQ(seen.text, QStringLiteral("Process successful!"));
    EXPECT_EQ(seen.text, QString::fromUtf8(kMsgProcessSuccessful));
    EXPECT_EQ(seen.icon, QMessageBox::Information);
    EXPECT_EQ(seen.caption, QString::fromUtf8(kCaption));
    EXPECT_TRUE(seen.details.contains(QString::fromStdString(TransferResultMeaning(0)))) << seen.details.toStdString();

    const std::array<uint8_t, 188> held = box->Configuration();
    EXPECT_EQ(UnpackConfigPacket(held.data()), (SwitchConfig{256, 257, 258, 259, 0}));
    EXPECT_TRUE(QTest::qWaitFor([box] { return box->Log().size() >= SendTranscript().size(); }, 2000));
    EXPECT_EQ(LogWithoutTimes(*box), SendTranscript());
    EXPECT_EQ(ReadBytes(TempRoot::Fixed(kSendFileName)).size(), 188u);
    EXPECT_FALSE(std::filesystem::exists(TempRoot::Fixed(kReadBackFileName)));
    ExpectLook(w, kConnected);
}

TEST_F(LinkWindowTest, SendFileThatCannotBeWrittenUploadsNothingAndReportsCodeOne) {
    Tfrm_Main* w = Open();
    BoxSim* box = StartBox();
    std::filesystem::create_directories(TempRoot::Fixed(kSendFileName)); // the name is taken
    w->txt_PidA->setText(QStringLiteral("1"));
    ConnectToBox(false);
    ASSERT_TRUE(w->mn_Send->isEnabled());
    w->mn_Send->trigger(); // the menu item runs Send too
    ASSERT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(driver->boxes[0].text, QStringLiteral("Error 1"));
    EXPECT_EQ(driver->boxes[0].text, QString::asprintf(kMsgErrorCode, 1));
    EXPECT_EQ(driver->boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(driver->boxes[0].details.contains(QString::fromStdString(TempRoot::Fixed(kSendFileName))));
    QTest::qWait(100);
    EXPECT_EQ(CountKind(box, "upload") + CountKind(box, "configuration") + CountKind(box, "flush"), 0);
}

struct GetCase {
    const char* legend;
    SwitchConfig boxConfig;
    std::array<const char*, 4> fields;
    int selected;
    SwitchConfig shared;
};

const GetCase kGetCases[] = {
    {"mode byte 1 with PidC 300: Switch B empty and grey, the shared PidC holds 300",
     {11, 22, 300, 44, 1},
     {"11", "22", "", ""},
     1,
     {11, 22, 300, 44, 1}},
    {"PID bytes of all ones show 8191", {0xFFFF, 0, 8191, 0, 0}, {"8191", "0", "8191", "0"}, 0, {8191, 0, 8191, 0, 0}},
    {"mode byte 5 selects Single and Mode becomes 1", {1, 2, 3, 4, 5}, {"1", "2", "", ""}, 1, {1, 2, 3, 4, 1}},
    {"all zero in Double", {0, 0, 0, 0, 0}, {"0", "0", "0", "0"}, 0, {0, 0, 0, 0, 0}},
};

TEST_F(LinkWindowTest, GetShowsTheBoxConfiguration) {
    Tfrm_Main* w = Open();
    for (const GetCase& c : kGetCases) {
        SCOPED_TRACE(c.legend);
        BoxSimOptions options;
        options.config = c.boxConfig;
        StartBox(options);
        for (int i = 0; i < 4; ++i)
            w->PidField(i)->setText(QStringLiteral("9"));
        w->rdg_Mode->Button(kModeDouble)->click();
        ConnectToBox();
        const bool sendBefore = w->bt_Send->isEnabled();
        w->bt_Get->click();

        const std::array<QString, 4> fields = Fields(w);
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(fields[i].toStdString(), c.fields[i]);
        EXPECT_EQ(w->rdg_Mode->ItemIndex(), c.selected);
        EXPECT_EQ(w->lbl_Mode->text(), ModeName(c.selected));
        EXPECT_EQ(w->txt_PidC->isEnabled(), c.selected == kModeDouble);
        EXPECT_EQ(w->txt_PidD->isEnabled(), c.selected == kModeDouble);
        EXPECT_EQ((w->grp_Input2->palette().color(QPalette::Active, QPalette::WindowText) == QColor(Qt::black)),
                  c.selected == kModeDouble);
        EXPECT_EQ((SwitchConfig{PidA, PidB, PidC, PidD, Mode}), c.shared);
        EXPECT_EQ(w->bt_Send->isEnabled(), sendBefore);                        // Get does not run the exit rule
        EXPECT_EQ(ReadBytes(TempRoot::Fixed(kReadBackFileName)).size(), 188u); // Get keeps the file
        w->bt_Disconnect->click();
    }
    EXPECT_TRUE(driver->boxes.empty()); // Get reports nothing
}

TEST_F(LinkWindowTest, GetAndSaveWriteWhatTheCommandLineGets) {
    const struct {
        const char* legend;
        SwitchConfig box;
        const char* swi;
    } cases[] = {
        {"Double: all four PIDs", {11, 22, 33, 44, 0}, "11:22:33:44\n0\n"},
        {"mode byte 5 shows Single, and the emptied Switch B saves as 0", {11, 22, 300, 44, 5}, "11:22:0:0\n1\n"},
    };
    Tfrm_Main* w = Open();
    const std::string windowFile = TempRoot::Fixed("window.swi");
    const std::string cliFile = TempRoot::Fixed("cli.swi");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        BoxSimOptions options;
        options.config = c.box;
        StartBox(options);
        ConnectToBox();
        w->bt_GetClick(w->bt_Get);
        driver->ChooseFile(QString::fromStdString(windowFile));
        w->bt_SaveClick(w->bt_Save);
        w->bt_Disconnect->click();

        const ChildResult cli = RunChild({KV_CLI_EXE, "get", "--port", "1", "--save", cliFile});
        EXPECT_EQ(cli.status, 0) << cli.err;
        EXPECT_EQ(ReadBytes(windowFile), c.swi);
        EXPECT_EQ(cli.out, c.swi);
        EXPECT_EQ(ReadBytes(cliFile), c.swi);
    }
}

TEST_F(LinkWindowTest, GetFromASilentBoxChangesNothing) {
    Tfrm_Main* w = Open();
    BoxSimOptions options;
    options.silent = true;
    StartBox(options);
    const char* typed[] = {"11", "22", "33", "44"};
    for (int i = 0; i < 4; ++i)
        w->PidField(i)->setText(QString::fromLatin1(typed[i]));
    ConnectToBox(); // runs the exit rule: the shared PIDs are 11, 22, 33, 44
    const SwitchConfig before{PidA, PidB, PidC, PidD, Mode};
    ASSERT_EQ(before, (SwitchConfig{11, 22, 33, 44, 0}));
    w->bt_Get->click();
    EXPECT_EQ((SwitchConfig{PidA, PidB, PidC, PidD, Mode}), before);
    const std::array<QString, 4> fields = Fields(w);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(fields[i].toStdString(), typed[i]);
    EXPECT_EQ(w->rdg_Mode->ItemIndex(), 0);
    EXPECT_TRUE(driver->boxes.empty());
    EXPECT_TRUE(std::filesystem::exists(TempRoot::Fixed(kReadBackFileName)));
    EXPECT_TRUE(ReadBytes(TempRoot::Fixed(kReadBackFileName)).empty());
}

} // namespace
