// The main window against a simulated box that misbehaves: it hangs up in the middle of a Send,
// babbles without end, or the port is wanted by a second process. Whatever the box does, the
// window reports an outcome within bounded time, never stalls, and ends in a look that matches
// the link.
#include "ChildProcess.h"
#include "Wait.h"
#include "WindowTest.h"
#include "platform/Timing.h"
#include "transfer/Utiltrp.h"

#include <sysexits.h>
#include <thread>

namespace {

class WindowFaults : public WindowTest {
protected:
    // The window, a box with these faults at COM1, the PIDs 11, 22, 33, 44 typed, and connected.
    Tfrm_Main* OpenConnected(BoxSimOptions options) {
        Tfrm_Main* w = Open();
        StartBox(options);
        for (int i = 0; i < 4; ++i)
            w->PidField(i)->setText(QString::number(11 * (i + 1)));
        ConnectToBox();
        return w;
    }
};

struct HangUpCase {
    const char* name;
    const char* legend;
    int pullAfterMs;   // when not -1, the test pulls the box (gone for good) this long after the click
    int hangUpAfterMs; // when not -1, the box hangs up this long after the first read command
    bool back;         // and is back at once on a new pty behind <root>/com1 (before the old one closes)
    int tsPerCycle;    // a long answer: this many 0x47 packets after each configuration packet
    int gapMs;         // between answer packets
};

const HangUpCase kHangUpCases[] = {
    {"GoneInTheUploadPause", "pulled 500 ms after the click, while the tool waits to upload", 500, -1, false, 0, 0},
    {"GoneAtTheReadCommand", "hangs up at the first read command and stays away", -1, 0, false, 0, 0},
    {"GoneInALongAnswer", "hangs up 100 ms into an answer of 400 packets per cycle", -1, 100, false, 400, 0},
    {"BackAtTheReadCommand", "hangs up at the first read command, back at once", -1, 0, true, 0, 0},
    {"BackBetweenAnswerPackets", "hangs up between answer packets 100 ms apart, back at once", -1, 50, true, 0, 100},
};

class HangUp : public WindowFaults, public ::testing::WithParamInterface<HangUpCase> {};

// A box that is back before its old pty closes is found by the link's reopen, and it goes on
// answering the read request under way: the Send completes. A box gone for good is Error 11.
TEST_P(HangUp, SendIsErrorElevenWhenGoneCompletesWhenBackAndTheLookFollows) {
    const HangUpCase& c = GetParam();
    SCOPED_TRACE(c.legend);
    BoxSimOptions options;
    options.hangUpAfterMs = c.hangUpAfterMs, options.comeBack = c.back;
    options.tsPerCycle = c.tsPerCycle, options.gapMs = c.gapMs;
    Tfrm_Main* w = OpenConnected(options);
    const std::string slaveBefore = Box()->SlavePath();
    std::thread puller([box = Box(), ms = c.pullAfterMs] {
        if (ms >= 0)
            SleepMs(ms), box->Stop(); // the pty closes and <root>/com1 goes with it
    });
    const int64_t start = NowMs();
    w->bt_Send->click(); // the window is blocked until the Send's box shows
    EXPECT_LT(NowMs() - start, 3000) << "the window stalled";
    puller.join();
    // Gone for good: the link stops and says so from the receiver thread, shortly after.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return driver.texts.size() == (c.back ? 1u : 2u) && w->ConnectedLook() == c.back; }, 3000))
        << ::testing::PrintToString(driver.texts);
    std::sort(driver.texts.begin(), driver.texts.end());
    if (c.back) {
        EXPECT_EQ(driver.texts, Texts{"Process successful!"});
        EXPECT_NE(Box()->SlavePath(), slaveBefore) << "the box did not hang up";
    } else {
        EXPECT_EQ(driver.texts, (Texts{" COM1 no accessible!", "Error 11"}));
        StartBox(); // the operator plugs the box in again
        ConnectToBox();
    }
    w->bt_Get->click(); // the window works again
    EXPECT_EQ(Shared(), UnpackConfigPacket(Box()->Configuration().data()));
}

INSTANTIATE_TEST_SUITE_P(Faults, HangUp, ::testing::ValuesIn(kHangUpCases),
                         [](const ::testing::TestParamInfo<HangUpCase>& info) { return info.param.name; });

// Each flush alone gives up after 2 s of traffic and a Send runs several: only the bound on the
// whole operation keeps it short; without it a Send takes over 8 s here.
TEST_F(WindowFaults, AgainstABabblingBoxSendAndGetEndWithinTheirBoundAndTheWindowAnswersAgain) {
    const std::tuple<const char*, bool, Texts> cases[] = {
        {"Send: the read-back times out", true, {"Error 3"}},
        {"Get: reports nothing and changes nothing", false, {}},
    };
    for (const auto& [legend, send, boxes] : cases) {
        SCOPED_TRACE(legend);
        BoxSimOptions options;
        options.babble = true;
        Tfrm_Main* w = OpenConnected(options);
        driver.texts.clear();
        const int64_t start = NowMs();
        (send ? w->bt_Send : w->bt_Get)->click();
        EXPECT_LE(NowMs() - start, kOperationLimitMs + kLoadedMachineMs);
        EXPECT_EQ(driver.texts, boxes);
        EXPECT_EQ(Fields(w), (FieldTexts{"11", "22", "33", "44"}));
        const QString clock = w->lbl_Timer->text();
        EXPECT_TRUE(QTest::qWaitFor([&] { return w->lbl_Timer->text() != clock; }, 3000));
        w->bt_Disconnect->click();
        EXPECT_EQ(IsConnected(), 0);
    }
}

// The command line opens the port as the window does: a second process on the same port.
TEST_F(WindowFaults, ASecondProcessOnTheSamePortIsRefusedAndTheFirstKeepsWorking) {
    Tfrm_Main* w = OpenConnected({});
    const ChildResult second = RunChild({KV_CLI_EXE, "get", "--port", "1"});
    EXPECT_EQ(second.status, EX_UNAVAILABLE) << second.err;
    EXPECT_NE(second.err.find(" COM1 no accessible!\n"), std::string::npos) << second.err;
    EXPECT_NE(second.err.find("in use"), std::string::npos) << second.err;
    EXPECT_TRUE(driver.texts.empty());
    w->bt_Send->click();
    EXPECT_EQ(driver.texts, Texts{"Process successful!"});
}

} // namespace
