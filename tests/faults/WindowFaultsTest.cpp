// The main window against a simulated box that misbehaves: it hangs up in the middle of a Send,
// babbles without end, sends noise and misaligned streams, answers slower than the packet wait,
// or the port is wanted by a second copy of the tool. Whatever the box does, the window reports
// an outcome within bounded time, never crashes, and ends in a look that matches the link.
#include "platform/Timing.h"
#include "tests/app/AppTestEnv.h"
#include "transfer/Utiltrp.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// The promises under test.
constexpr qint64 kLongestHangMs = 3000;     // the window never stops answering for longer
constexpr qint64 kBabbleOperationMs = 5000; // Send and Get against a babbling box end within this
// How long a link message raised on the receiver thread, or a look change, may take to show.
constexpr int kSettleMs = 3000;

// The longest time the GUI thread went without turning its event loop, measured by a short
// timer: a Send or Get blocks it by design, a hang blocks it for longer.
class StallWatch {
public:
    StallWatch() {
        clock_.start();
        timer_.setInterval(kTickMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }
    qint64 LongestMs() {
        Tick();
        return longest_;
    }

private:
    static constexpr int kTickMs = 10;
    void Tick() {
        const qint64 now = clock_.elapsed();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }
    QElapsedTimer clock_;
    QTimer timer_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

// The transfer result code a Send's message box shows, or nothing for any other box.
std::optional<int> ResultCodeOf(const SeenBox& box) {
    if (box.text == QString::fromUtf8(kMsgProcessSuccessful))
        return kTransferOk;
    // "Error %d" read back, and only when formatting the code gives the very same text.
    int code = 0;
    if (std::sscanf(box.text.toStdString().c_str(), kMsgErrorCode, &code) == 1 &&
        box.text == QString::asprintf(kMsgErrorCode, code))
        return code;
    return std::nullopt;
}

std::vector<int> ResultCodes(const std::vector<SeenBox>& boxes) {
    std::vector<int> codes;
    for (const SeenBox& box : boxes)
        if (std::optional<int> code = ResultCodeOf(box))
            codes.push_back(*code);
    return codes;
}

QString NoAccessText(int port) {
    return QString::asprintf(kMsgNoAccess, PortName(port).c_str());
}

int CountText(const std::vector<SeenBox>& boxes, const QString& text) {
    return static_cast<int>(
        std::count_if(boxes.begin(), boxes.end(), [&](const SeenBox& b) { return b.text == text; }));
}

constexpr std::array<const char*, 4> kTyped = {"11", "22", "33", "44"};

class WindowFaults : public WindowTest {
protected:
    // The window, a box with these faults at COM1, four typed PIDs and the link connected.
    Tfrm_Main* OpenConnected(BoxSimOptions options) {
        Tfrm_Main* w = Open();
        StartBox(options);
        for (int i = 0; i < 4; ++i)
            w->PidField(i)->setText(QString::fromLatin1(kTyped[static_cast<size_t>(i)]));
        ConnectToBox();
        return w;
    }

    // Clicks a button and gives the time until the handler returned (its message box answered).
    static qint64 TimedClick(QAbstractButton* button) {
        QElapsedTimer clock;
        clock.start();
        button->click();
        return clock.elapsed();
    }

    // The look follows the link once the link has settled: connected exactly while it is.
    bool WaitLookMatchesLink() {
        return QTest::qWaitFor([this] { return Window()->ConnectedLook() == (IsConnected() == 1); }, kSettleMs);
    }

    static void ExpectLookConsistent(const Tfrm_Main* w) {
        const bool connected = w->ConnectedLook();
        EXPECT_EQ(w->bt_Connect->isEnabled(), !connected);
        EXPECT_EQ(w->bt_Disconnect->isEnabled(), connected);
        EXPECT_EQ(w->bt_Get->isEnabled(), connected);
        EXPECT_EQ(w->RedLed->isVisible(), !connected);
        EXPECT_EQ(w->lbl_Status->text(), QString::fromUtf8(connected ? kStatusConnected : kStatusDisconnected));
    }

    // The window still works: connected to a box (a new one if the link stopped), a Get fills the
    // emptied PID fields with the box's configuration.
    void ExpectWindowAnswersAgain() {
        Tfrm_Main* w = Window();
        if (!w->ConnectedLook()) {
            StartBox(); // the operator plugs the box in again
            ConnectToBox();
        }
        for (int i = 0; i < 4; ++i)
            w->PidField(i)->setText(QString());
        w->bt_Get->click();
        const std::array<uint8_t, kPacketSize> held = Box()->Configuration();
        const SwitchConfig config = UnpackConfigPacket(held.data());
        EXPECT_EQ(w->txt_PidA->text(), QString::number(config.PidA));
        EXPECT_EQ(w->txt_PidB->text(), QString::number(config.PidB));
        EXPECT_EQ(w->txt_PidC->text(), QString::number(config.PidC));
        EXPECT_EQ(w->txt_PidD->text(), QString::number(config.PidD));
    }
};

// ---- the box hangs up in the middle of a Send ------------------------------------------------

struct HangUpCase {
    const char* name;
    const char* legend;
    int pullAfterMs = -1;   // the test pulls the box (gone for good) this long after the click
    int hangUpAfterMs = -1; // the box hangs up this long after the first read command
    bool comeBack = false;  // the box is back on a new pty at once
    int tsPerCycle = 0;     // a long answer: this many 0x47 packets after each configuration packet
    int gapMs = 0;
    std::vector<int> codes; // outcomes the operator may see
};

const HangUpCase kHangUpCases[] = {
    {.name = "GoneDuringTheUploadPause",
     .legend = "pulled 500 ms after the click, while the tool waits before uploading",
     .pullAfterMs = 500,
     .codes = {kTransferNotConnected}},
    {.name = "GoneAtTheReadCommand",
     .legend = "hangs up at the first read command and stays away",
     .hangUpAfterMs = 0,
     .codes = {kTransferNotConnected}},
    {.name = "GoneInTheMiddleOfALongAnswer",
     .legend = "hangs up 100 ms into an answer of 400 packets per cycle",
     .hangUpAfterMs = 100,
     .tsPerCycle = 400,
     .codes = {kTransferNotConnected}},
    {.name = "BackAtTheReadCommand",
     .legend = "hangs up at the first read command and is back on a new pty at once",
     .hangUpAfterMs = 0,
     .comeBack = true,
     .codes = {kTransferOk, kTransferNotConnected}},
    {.name = "BackBetweenTwoAnswerPackets",
     .legend = "hangs up 50 ms into an answer paced 100 ms apart and is back at once",
     .hangUpAfterMs = 50,
     .comeBack = true,
     .gapMs = 100,
     .codes = {kTransferOk, kTransferNotConnected}},
};

void PrintTo(const HangUpCase& c, std::ostream* os) {
    *os << c.legend;
}

class HangUp : public WindowFaults, public ::testing::WithParamInterface<HangUpCase> {};

TEST_P(HangUp, EndsWithErrorElevenOrACompletedSendAndTheLookFollowsTheLink) {
    const HangUpCase& c = GetParam();
    SCOPED_TRACE(c.legend);
    BoxSimOptions options;
    options.hangUpAfterMs = c.hangUpAfterMs;
    options.comeBack = c.comeBack;
    options.tsPerCycle = c.tsPerCycle;
    options.gapMs = c.gapMs;
    Tfrm_Main* w = OpenConnected(options);
    ASSERT_TRUE(w->bt_Send->isEnabled());

    const std::string slaveBefore = Box()->SlavePath();
    StallWatch stalls;
    std::thread puller;
    if (c.pullAfterMs >= 0)
        puller = std::thread([box = Box(), ms = c.pullAfterMs] {
            SleepMs(ms);
            box->Stop(); // the pty closes and the name com1 goes with it
        });
    w->bt_Send->click();
    if (puller.joinable())
        puller.join();

    const bool gone = !c.comeBack;
    // A link that stopped by itself tells the operator, from the receiver thread, shortly after.
    if (gone) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return CountText(driver->boxes, NoAccessText(1)) == 1; }, kSettleMs));
    }
    ASSERT_TRUE(WaitLookMatchesLink()) << "look " << w->ConnectedLook() << ", link " << IsConnected();
    EXPECT_LT(stalls.LongestMs(), kLongestHangMs);

    const std::vector<int> codes = ResultCodes(driver->boxes);
    ASSERT_EQ(codes.size(), 1u) << "one Send, one outcome";
    EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), codes[0]), c.codes.end()) << "code " << codes[0];
    EXPECT_EQ(static_cast<int>(driver->boxes.size()), gone ? 2 : 1);
    // The fault really happened: the box went away, or came back on another pty.
    if (c.pullAfterMs < 0 && gone) {
        EXPECT_TRUE(Box()->HungUp());
    } else if (c.comeBack) {
        EXPECT_FALSE(Box()->HungUp());
        EXPECT_NE(Box()->SlavePath(), slaveBefore);
    }
    if (gone) {
        EXPECT_EQ(CountText(driver->boxes, QStringLiteral(" COM1 no accessible!")), 1);
        EXPECT_FALSE(w->ConnectedLook());
        EXPECT_EQ(LinkStopFlag(), 1);
    } else {
        EXPECT_TRUE(w->ConnectedLook());
        EXPECT_EQ(IsConnected(), 1);
    }
    ExpectLookConsistent(w);
    ExpectWindowAnswersAgain();
}

INSTANTIATE_TEST_SUITE_P(Faults, HangUp, ::testing::ValuesIn(kHangUpCases),
                         [](const ::testing::TestParamInfo<HangUpCase>& info) { return info.param.name; });

// ---- a babbling box -------------------------------------------------------------------------

class Babble : public WindowFaults {
protected:
    Tfrm_Main* OpenBabbling() {
        BoxSimOptions options;
        options.babble = true;
        return OpenConnected(options);
    }

    // After the operation the window reacts again: its clock ticks and Disconnect works.
    void ExpectWindowAnswers(Tfrm_Main* w) {
        const QString clock = w->lbl_Timer->text();
        EXPECT_TRUE(QTest::qWaitFor([&] { return w->lbl_Timer->text() != clock; }, kSettleMs));
        w->bt_Disconnect->click();
        EXPECT_FALSE(w->ConnectedLook());
        EXPECT_EQ(IsConnected(), 0);
        EXPECT_FALSE(ReceiverRunning());
        ExpectLookConsistent(w);
    }
};

// Each flush alone gives up after 2 s of traffic, and a Send runs four of them: only a bound on
// the whole operation keeps it within the promise.
TEST_F(Babble, SendEndsWithinFiveSecondsAndTheWindowAnswersAgain) {
    Tfrm_Main* w = OpenBabbling();
    ASSERT_TRUE(w->bt_Send->isEnabled());
    const qint64 ms = TimedClick(w->bt_Send);
    EXPECT_LE(ms, kBabbleOperationMs) << "Send against a babbling box took " << ms << " ms";
    // The box never answers with a configuration: the read-back times out.
    EXPECT_EQ(ResultCodes(driver->boxes), std::vector<int>{kTransferTimeOut});
    ASSERT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(driver->boxes[0].text, QStringLiteral("Error 3"));
    EXPECT_TRUE(w->ConnectedLook());
    ExpectWindowAnswers(w);
}

TEST_F(Babble, GetEndsWithinFiveSecondsShowsNothingAndTheWindowAnswersAgain) {
    Tfrm_Main* w = OpenBabbling();
    const qint64 ms = TimedClick(w->bt_Get);
    EXPECT_LE(ms, kBabbleOperationMs) << "Get against a babbling box took " << ms << " ms";
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(w->PidField(i)->text().toStdString(), kTyped[static_cast<size_t>(i)]);
    EXPECT_TRUE(driver->boxes.empty()); // Get reports nothing
    EXPECT_TRUE(w->ConnectedLook());
    ExpectWindowAnswers(w);
}

// ---- noise and misaligned streams -----------------------------------------------------------

struct NoiseCase {
    const char* name;
    const char* legend;
    int noise = 0; // random bytes that hold no sync byte, ahead of every configuration packet
    int leadTs = 0;
    int tsPerCycle = 0;
    bool streamTs = false;
    SwitchConfig config;
};

const NoiseCase kNoiseCases[] = {
    {.name = "ShortNoise",
     .legend = "100 noise bytes ahead of every configuration packet",
     .noise = 100,
     .config = {300, 301, 302, 303, 0}},
    {.name = "NoiseOneShortOfAWindow",
     .legend = "187 noise bytes: the marker is the last byte of the window",
     .noise = 187,
     .config = {1, 2, 3, 4, 0}},
    {.name = "NoiseOfAWholeWindow",
     .legend = "188 noise bytes: a window without a sync byte is dropped whole",
     .noise = 188,
     .config = {8191, 0, 4096, 17, 0}},
    {.name = "LongNoise",
     .legend = "500 noise bytes: two windows dropped, the third realigned",
     .noise = 500,
     .config = {5, 6, 7, 8, 0}},
    {.name = "NoiseAndTsPackets",
     .legend = "61 noise bytes and 0x47 packets before and after every answer",
     .noise = 61,
     .leadTs = 3,
     .tsPerCycle = 2,
     .config = {1000, 2000, 3000, 4000, 0}},
    {.name = "TsStreamBeforeTheCommand",
     .legend = "a 0x47 stream runs from the start until the first command, then noise",
     .noise = 37,
     .streamTs = true,
     .config = {10, 20, 30, 40, 0}},
    {.name = "SyncValuedPidBytes",
     .legend = "PID bytes equal to 0x47 and 0xB8 behind noise",
     .noise = 150,
     .leadTs = 1,
     .tsPerCycle = 1,
     .config = {0x47, 0xB8, 0x0747, 0x17B8, 0}},
    {.name = "SingleMode",
     .legend = "noise with a configuration in Single mode",
     .noise = 93,
     .config = {71, 184, 9, 9, 1}},
};

void PrintTo(const NoiseCase& c, std::ostream* os) {
    *os << c.legend;
}

class NoisyBox : public WindowFaults, public ::testing::WithParamInterface<NoiseCase> {};

TEST_P(NoisyBox, GetStillShowsTheBoxConfiguration) {
    const NoiseCase& c = GetParam();
    SCOPED_TRACE(c.legend);
    BoxSimOptions options;
    options.noise = c.noise;
    options.leadTs = c.leadTs;
    options.tsPerCycle = c.tsPerCycle;
    options.streamTs = c.streamTs;
    options.config = c.config;
    Tfrm_Main* w = OpenConnected(options);
    w->bt_Get->click();

    const bool single = c.config.Mode == kModeSingle;
    EXPECT_EQ(w->txt_PidA->text(), QString::number(c.config.PidA));
    EXPECT_EQ(w->txt_PidB->text(), QString::number(c.config.PidB));
    EXPECT_EQ(w->txt_PidC->text(), single ? QString() : QString::number(c.config.PidC));
    EXPECT_EQ(w->txt_PidD->text(), single ? QString() : QString::number(c.config.PidD));
    EXPECT_EQ(w->rdg_Mode->ItemIndex(), c.config.Mode);
    EXPECT_EQ((SwitchConfig{PidA, PidB, PidC, PidD, Mode}), c.config);
    // The read-back file holds the aligned cycle: the configuration packet exactly as the box
    // holds it, then the cycle's 0x47 packets.
    const std::string file = ReadBytes(TempRoot::Fixed(kReadBackFileName));
    ASSERT_EQ(file.size(), static_cast<size_t>(kPacketSize * (1 + c.tsPerCycle)));
    const std::array<uint8_t, kPacketSize> held = Box()->Configuration();
    EXPECT_EQ(file.substr(0, kPacketSize), std::string(held.begin(), held.end()));
    for (int k = 1; k <= c.tsPerCycle; ++k)
        EXPECT_EQ(static_cast<uint8_t>(file[static_cast<size_t>(k * kPacketSize)]), kSyncTs);
    EXPECT_TRUE(driver->boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, NoisyBox, ::testing::ValuesIn(kNoiseCases),
                         [](const ::testing::TestParamInfo<NoiseCase>& info) { return info.param.name; });

// ---- a box slower than the packet wait ------------------------------------------------------

struct SlowCase {
    const char* name;
    const char* legend;
    int gapMs;
    int code;
    long readBackBytes; // what the read-back file holds afterwards; -1: removed
};

// A packet wait is 50 sleeps of 5 ms: gaps well above 250 ms time out however loaded the
// machine is, a gap well below it does not.
const SlowCase kSlowCases[] = {
    {"GapOf400Ms", "answer packets 400 ms apart: the second never comes in time", 400, kTransferTimeOut, kPacketSize},
    {"GapOf1000Ms", "answer packets a second apart", 1000, kTransferTimeOut, kPacketSize},
    {"GapOf50Ms", "answer packets 50 ms apart are still in time (control)", 50, kTransferOk, -1},
};

void PrintTo(const SlowCase& c, std::ostream* os) {
    *os << c.legend;
}

class SlowBox : public WindowFaults, public ::testing::WithParamInterface<SlowCase> {};

TEST_P(SlowBox, SendReportsTheTimeOutAsCodeThree) {
    const SlowCase& c = GetParam();
    SCOPED_TRACE(c.legend);
    BoxSimOptions options;
    options.gapMs = c.gapMs;
    Tfrm_Main* w = OpenConnected(options);
    w->bt_Send->click();
    ASSERT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(ResultCodes(driver->boxes), std::vector<int>{c.code});
    if (c.code == kTransferTimeOut) {
        EXPECT_EQ(driver->boxes[0].text, QStringLiteral("Error 3"));
    }
    EXPECT_EQ(driver->boxes[0].icon, c.code == kTransferOk ? QMessageBox::Information : QMessageBox::Critical);
    const std::string readBack = TempRoot::Fixed(kReadBackFileName);
    if (c.readBackBytes < 0) {
        EXPECT_FALSE(std::filesystem::exists(readBack));
    } else {
        EXPECT_EQ(static_cast<long>(ReadBytes(readBack).size()), c.readBackBytes);
    }
    EXPECT_TRUE(w->ConnectedLook());
}

INSTANTIATE_TEST_SUITE_P(Faults, SlowBox, ::testing::ValuesIn(kSlowCases),
                         [](const ::testing::TestParamInfo<SlowCase>& info) { return info.param.name; });

// ---- a second instance on the same port -----------------------------------------------------

struct ChildRun {
    bool finished = false; // ended by itself within the time
    int status = -1;       // its wait status
    std::string output;
};

// Runs the second-instance helper for a port and collects what it printed. A child that does not
// end within the time is killed (it is ours: by its process id).
ChildRun RunSecondInstance(int port) {
    constexpr int kChildLimitMs = 20000;
    ChildRun run;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const std::string portText = std::to_string(port);
    char* argv[] = {const_cast<char*>(KV_SECOND_INSTANCE), const_cast<char*>(portText.c_str()), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, KV_SECOND_INSTANCE, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return run;
    }
    const int64_t end = NowMs() + kChildLimitMs;
    char buffer[4096];
    for (;;) {
        const int64_t left = end - NowMs();
        if (left <= 0)
            break;
        pollfd pfd{out[0], POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n > 0) {
            run.output.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        run.finished = true; // end of output: the child has gone
        break;
    }
    ::close(out[0]);
    if (!run.finished)
        ::kill(pid, SIGKILL);
    while (::waitpid(pid, &run.status, 0) < 0 && errno == EINTR) {
    }
    return run;
}

TEST_F(WindowFaults, ASecondInstanceOnTheSamePortIsRefusedAndTheFirstKeepsWorking) {
    Tfrm_Main* w = OpenConnected(BoxSimOptions{});

    const ChildRun child = RunSecondInstance(1);
    ASSERT_TRUE(child.finished) << "the second instance hung: " << child.output;
    ASSERT_TRUE(WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0) << child.output;
    // "result 0", then exactly one message: the main text, the device, the reason.
    const std::string text = "message  COM1 no accessible!\n";
    EXPECT_EQ(text, "message " + NoAccessText(1).toStdString() + "\n");
    const size_t message = child.output.find(text);
    ASSERT_NE(message, std::string::npos) << child.output;
    EXPECT_EQ(child.output.find("message ", message + 1), std::string::npos) << child.output;
    const std::string details = child.output.substr(message + text.size());
    EXPECT_NE(details.find("in use"), std::string::npos) << details;
    // The details name the holder: this process.
    EXPECT_NE(details.find("process " + std::to_string(::getpid())), std::string::npos) << details;
    EXPECT_NE(child.output.find("result 0\n"), std::string::npos) << child.output;

    // The first instance noticed nothing and still sends.
    EXPECT_TRUE(driver->boxes.empty());
    EXPECT_TRUE(w->ConnectedLook());
    EXPECT_EQ(IsConnected(), 1);
    w->bt_Send->click();
    ASSERT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(driver->boxes[0].text, QString::fromUtf8(kMsgProcessSuccessful));
    const std::array<uint8_t, kPacketSize> held = Box()->Configuration();
    EXPECT_EQ(UnpackConfigPacket(held.data()), (SwitchConfig{11, 22, 33, 44, 0}));
}

// ---- the window destroyed while it is active ------------------------------------------------

// Destroying the window while it is active makes ~QWidget hand the activation on, and the
// application announces the focus change. No handler of the half-destroyed window may run then:
// in an ordinary build nothing would show, UndefinedBehaviorSanitizer stops the process ("downcast
// of address ... which does not point to an object of type 'Tfrm_Main'"). The tear-down destroys
// the window as it is here: active, with the focus in a PID field.
TEST_F(WindowFaults, DestroyingTheActiveWindowCallsNoHandlerOfTheHalfDestroyedWindow) {
    Tfrm_Main* w = Open();
    Focus(w->txt_PidA);
    ASSERT_EQ(QApplication::activeWindow(), w);
    ASSERT_EQ(QApplication::focusWidget(), w->txt_PidA);
}

} // namespace
