// The rules behind the PID fields and the output-mode group, through real keys and clicks: the
// tab order, the key filter, the exit rule and the focus moves that run it, the output-mode rule;
// and the clock.
#include "WindowTest.h"

#include <QClipboard>
#include <QInputMethodEvent>

namespace {

using RulesTest = WindowTest;

TEST_F(RulesTest, FocusStartsInPidAAndTabGoesThroughTheFieldsAndTheModeGroup) {
    Tfrm_Main* w = Open();
    EXPECT_EQ(QApplication::focusWidget(), w->txt_PidA);
    for (QWidget* next :
         std::initializer_list<QWidget*>{w->txt_PidB, w->txt_PidC, w->txt_PidD, w->rdg_Mode->Button(0), w->txt_PidA}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
}

TEST_F(RulesTest, DigitsAndBackspaceTypeAnythingElseDoesNotPastingIsNotFiltered) {
    Tfrm_Main* w = Open();
    QApplication::clipboard()->setText(QStringLiteral("7x"));
    // Each key carries its character as text, with Alt or Meta too, as some keyboards give it.
    const std::tuple<const char*, const char*, Qt::KeyboardModifiers, const char*> cases[] = {
        {"digits type, 0 and 9 too; letters, signs and blanks (/ and : beside the digits) do not", "0a9-3 /:", {}, "093"},
        {"backspace types", "12\b", {}, "1"},
        {"Ctrl+V pastes, unfiltered", "v", Qt::ControlModifier, "7x"},
        {"Alt with a key that gives a letter types nothing", "x", Qt::AltModifier, ""},
        {"Meta likewise", "x", Qt::MetaModifier, ""},
        {"Alt with a key that gives a digit types it", "5", Qt::AltModifier, "5"},
    };
    for (const auto& [legend, keys, modifiers, text] : cases) {
        SCOPED_TRACE(legend);
        w->txt_PidA->clear();
        QTest::keyClicks(w->txt_PidA, keys, modifiers);
        EXPECT_EQ(w->txt_PidA->text().toStdString(), text);
    }
    QInputMethodEvent commit; // text from an input method is filtered like typing
    commit.setCommitString(QStringLiteral("4b5"));
    QCoreApplication::sendEvent(w->txt_PidB, &commit);
    EXPECT_EQ(w->txt_PidB->text(), QStringLiteral("45"));
}

TEST_F(RulesTest, ExitRuleSetsSendAndSaveAndCopiesThePids) {
    Tfrm_Main* w = Open();
    StartBox();
    // legend, connected, the fields, how many of button and menu item of Send and of Save are on, PIDs
    const std::tuple<const char*, bool, FieldTexts, int, int, SwitchConfig> cases[] = {
        {"blanks and control characters are blank: PIDs kept", false, {" ", "\t", "\x01 ", ""}, 0, 0, {1, 2, 3, 4, 0}},
        {"one field filled turns Save on, blank ones copy as 0", false, {"", "", "", "7"}, 0, 2, {0, 0, 0, 7, 0}},
        {"connected and blank: both off, PIDs kept", true, {"", " ", "", ""}, 0, 0, {1, 2, 3, 4, 0}},
        {"connected and filled: both on, fields copied", true, {"11", "22", "33", "44"}, 2, 2, {11, 22, 33, 44, 0}},
    };
    for (const auto& [legend, connected, texts, send, save, shared] : cases) {
        SCOPED_TRACE(legend);
        if (connected && !w->ConnectedLook())
            ConnectToBox();
        PidA = 1, PidB = 2, PidC = 3, PidD = 4;
        w->bt_Send->setEnabled(send == 0), w->mn_Send->setEnabled(send == 0); // the opposite of the rule's
        w->bt_Save->setEnabled(save == 0), w->mn_Save->setEnabled(save == 0);
        for (int i = 0; i < 4; ++i)
            w->PidField(i)->setText(QString::fromStdString(texts[static_cast<size_t>(i)]));
        Focus(w->txt_PidA);
        QTest::keyClick(w->txt_PidA, Qt::Key_Tab);
        EXPECT_EQ(On(w->bt_Send, w->mn_Send), send);
        EXPECT_EQ(On(w->bt_Save, w->mn_Save), save);
        EXPECT_EQ(Shared(), shared);
    }
}

// Another window taking the focus does not count either: the Save test's file dialog shows it.
TEST_F(RulesTest, ExitRuleFollowsTheOperatorsFocusMovesOnly) {
    Tfrm_Main* w = Open();
    const auto menuByMnemonic = [w] {
        QTest::keyClick(w->txt_PidA, Qt::Key_F, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([w] { return w->mn_File->isVisible(); }, 2000));
        w->mn_File->close();
    };
    const std::tuple<const char*, QLineEdit*, std::function<void()>, bool> cases[] = {
        {"Tab to the next field", w->txt_PidA, [w] { QTest::keyClick(w->txt_PidA, Qt::Key_Tab); }, true},
        {"the program disables the focused field (Get or Open in Single)", w->txt_PidC,
         [w] { w->rdg_Mode->setItemIndex(1), w->rdg_ModeClick(w->rdg_Mode); }, false},
        {"the mnemonic Alt+F opens the File menu", w->txt_PidA, menuByMnemonic, false},
    };
    for (const auto& [legend, from, move, runs] : cases) {
        SCOPED_TRACE(legend);
        w->txt_PidA->setText(QStringLiteral("42"));
        Focus(from);
        ASSERT_EQ(QApplication::focusWidget(), from);
        w->bt_Save->setEnabled(false);
        PidA = 0;
        move();
        EXPECT_EQ(w->bt_Save->isEnabled(), runs);
        EXPECT_EQ(PidA, runs ? 42 : 0);
    }
}

TEST_F(RulesTest, ModeRuleNamesTheModeAndEmptiesAndGreysSwitchBInSingle) {
    Tfrm_Main* w = Open();
    QRadioButton* double_ = w->rdg_Mode->Button(0);
    const std::tuple<const char*, std::function<void()>, int, const char*> cases[] = {
        {"a click on Single", [w] { w->rdg_Mode->Button(1)->click(); }, 1, "Single"},
        {"a click on Double", [double_] { double_->click(); }, 0, "Double"},
        {"the arrow key from Double", [&] { Focus(double_), QTest::keyClick(double_, Qt::Key_Down); }, 1, "Single"},
    };
    for (const auto& [legend, pick, mode, name] : cases) {
        SCOPED_TRACE(legend);
        for (int i = 0; i < 4; ++i)
            w->PidField(i)->setText(QString::number(10 + i));
        pick();
        const bool b = mode == 0; // Switch B in use
        EXPECT_EQ(Mode, mode);
        EXPECT_EQ(w->lbl_Mode->text().toStdString(), name);
        EXPECT_EQ(Fields(w), (FieldTexts{"10", "11", b ? "12" : "", b ? "13" : ""}));
        for (QWidget* control : std::initializer_list<QWidget*>{w->txt_PidC, w->txt_PidD, w->lbl_PidC, w->lbl_PidD})
            EXPECT_EQ(control->isEnabled(), b) << control->objectName().toStdString();
        EXPECT_EQ(w->grp_Input2->palette().color(QPalette::Active, QPalette::WindowText) == QColor(Qt::black), b);
    }
}

TEST_F(RulesTest, ClockIsEmptyAtStartAndShowsTheTimeAboutASecondLater) {
    Tfrm_Main* w = Open();
    EXPECT_TRUE(w->lbl_Timer->text().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([w] { return !w->lbl_Timer->text().isEmpty(); }, 5000));
    EXPECT_TRUE(QTime::fromString(w->lbl_Timer->text(), QStringLiteral(" hh:mm:ss")).isValid())
        << w->lbl_Timer->text().toStdString();
}

} // namespace
