// The rules behind the PID fields and the output-mode group: the key filter, the exit rule and
// what moves the focus, the output-mode rule, the activation step, and the menu shortcuts.
#include "AppTestEnv.h"

#include <QClipboard>
#include <QInputMethodEvent>
#include <QMenuBar>

#include <array>

namespace {

class RulesTest : public WindowTest {};

TEST_F(RulesTest, KeyFilterLetsOnlyDigitsAndBackspaceThrough) {
    Tfrm_Main* w = Open();
    struct Case {
        char16_t typed;
        bool kept;
    };
    const Case cases[] = {{u'0', true},  {u'5', true},  {u'9', true},  {8, true},     {u'/', false},     {u':', false},
                          {u'a', false}, {u'-', false}, {u' ', false}, {u'+', false}, {u'\u0663', false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.typed));
        QChar key(c.typed);
        w->txt_PidAKeyPress(w->txt_PidA, key);
        EXPECT_EQ(!key.isNull(), c.kept);
        if (c.kept) {
            EXPECT_EQ(key, QChar(c.typed));
        }
    }
}

TEST_F(RulesTest, TypingIsFilteredButPastingIsNot) {
    Tfrm_Main* w = Open();
    QTest::keyClicks(w->txt_PidA, QStringLiteral("12a3"));
    EXPECT_EQ(w->txt_PidA->text(), QStringLiteral("123"));
    QTest::keyClick(w->txt_PidA, Qt::Key_Backspace);
    EXPECT_EQ(w->txt_PidA->text(), QStringLiteral("12"));
    QTest::keyClicks(w->txt_PidA, QStringLiteral("!34 5"));
    EXPECT_EQ(w->txt_PidA->text(), QStringLiteral("1234")); // at most four characters
    // Text from an input method is filtered like typing.
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("4b5"));
    QCoreApplication::sendEvent(w->txt_PidB, &commit);
    EXPECT_EQ(w->txt_PidB->text(), QStringLiteral("45"));
    // Text through the clipboard is not filtered.
    QApplication::clipboard()->setText(QStringLiteral("7x"));
    ASSERT_EQ(QApplication::clipboard()->text(), QStringLiteral("7x"));
    Focus(w->txt_PidC);
    QTest::keyClick(w->txt_PidC, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(w->txt_PidC->text(), QStringLiteral("7x"));
}

struct ExitCase {
    const char* legend;
    std::array<const char*, 4> texts;
    bool save; // Send stays off: not connected
    std::array<uint16_t, 4> pids;
};

// The shared PIDs hold 1, 2, 3, 4 before each case; "unchanged" rows keep them.
const ExitCase kExitCases[] = {
    {"all four blank: Send and Save off, PIDs kept", {"", "", "", ""}, false, {1, 2, 3, 4}},
    {"only spaces count as blank", {"  ", " ", "   ", ""}, false, {1, 2, 3, 4}},
    {"control characters count as blank", {"\t ", " \x01", "\r", ""}, false, {1, 2, 3, 4}},
    {"only A filled: Save on, the others become 0", {"5", "", "", ""}, true, {5, 0, 0, 0}},
    {"only D filled is enough", {"", "", "", "7"}, true, {0, 0, 0, 7}},
    {"blanks before the digits", {" 12", "  3", "", ""}, true, {12, 3, 0, 0}},
    {"pasted text gives its leading number, or 0", {"12x", "x7", "", ""}, true, {12, 0, 0, 0}},
    {"four nines fit in 16 bits", {"9999", "0", "8191", "1"}, true, {9999, 0, 8191, 1}},
    {"a pasted negative number wraps to 16 bits", {"-1", "", "", ""}, true, {65535, 0, 0, 0}},
};

TEST_F(RulesTest, ExitRuleDecidesSendAndSaveAndCopiesThePids) {
    Tfrm_Main* w = Open();
    for (const ExitCase& c : kExitCases) {
        SCOPED_TRACE(c.legend);
        PidA = 1, PidB = 2, PidC = 3, PidD = 4;
        w->bt_Save->setEnabled(!c.save);
        w->mn_Save->setEnabled(!c.save);
        for (int i = 0; i < 4; ++i)
            w->PidField(i)->setText(QString::fromLatin1(c.texts[static_cast<size_t>(i)]));
        Focus(w->txt_PidA);
        QTest::keyClick(w->txt_PidA, Qt::Key_Tab); // leaving the field runs the rule
        EXPECT_EQ(QApplication::focusWidget(), w->txt_PidB);
        EXPECT_EQ(w->bt_Save->isEnabled(), c.save);
        EXPECT_EQ(w->mn_Save->isEnabled(), c.save);
        EXPECT_FALSE(w->bt_Send->isEnabled());
        EXPECT_FALSE(w->mn_Send->isEnabled());
        EXPECT_EQ((std::array<uint16_t, 4>{PidA, PidB, PidC, PidD}), c.pids);
    }
}

TEST_F(RulesTest, ExitRuleFollowsTheOperatorsFocusMovesOnly) {
    Tfrm_Main* w = Open();
    struct Case {
        const char* legend;
        std::function<void()> move;
        bool runs;
    };
    const Case cases[] = {
        {"Tab to the next field", [&] { QTest::keyClick(w->txt_PidA, Qt::Key_Tab); }, true},
        {"a click into another field", [&] { QTest::mouseClick(w->txt_PidD, Qt::LeftButton); }, true},
        {"a click into the mode group", [&] { ClickItem(w->rdg_Mode->Button(0)); }, true},
        {"a picture button takes no focus", [&] { QTest::mouseClick(w->bt_Norvell, Qt::LeftButton); }, false},
        {"the window loses the activation", [&] { LoseAndRegainActivation(); }, false},
        {"the File menu opens and closes",
         [&] {
             QTest::keyClick(w->txt_PidA, Qt::Key_F, Qt::AltModifier);
             EXPECT_TRUE(QTest::qWaitFor([&] { return w->mn_File->isVisible(); }, 2000));
             w->mn_File->close();
             QCoreApplication::processEvents();
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        w->txt_PidA->setText(QStringLiteral("42"));
        w->bt_Save->setEnabled(false);
        PidA = 0;
        Focus(w->txt_PidA);
        c.move();
        EXPECT_EQ(w->bt_Save->isEnabled(), c.runs);
        EXPECT_EQ(PidA, c.runs ? 42 : 0);
    }
}

TEST_F(RulesTest, ModeRuleAppliesDoubleAndSingle) {
    Tfrm_Main* w = Open();
    for (int i = 0; i < 4; ++i)
        w->PidField(i)->setText(QString::number(10 + i));
    PidC = 12;
    const QColor black(Qt::black);

    // "Single": Switch B emptied and greyed; the shared PidC stays until the fields are read.
    w->rdg_Mode->Button(kModeSingle)->click();
    EXPECT_EQ(w->lbl_Mode->text(), QStringLiteral("Single"));
    EXPECT_EQ(w->lbl_Mode->text(), QString::fromUtf8(kModeNames[1]));
    EXPECT_EQ(Mode, 1);
    for (QWidget* control : std::initializer_list<QWidget*>{w->txt_PidC, w->txt_PidD, w->lbl_PidC, w->lbl_PidD})
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    EXPECT_TRUE(w->txt_PidC->text().isEmpty());
    EXPECT_TRUE(w->txt_PidD->text().isEmpty());
    EXPECT_EQ(w->txt_PidA->text(), QStringLiteral("10"));
    EXPECT_EQ(PidC, 12);
    const QColor grey = w->grp_Input2->palette().color(QPalette::Active, QPalette::WindowText);
    EXPECT_NE(grey, black);
    EXPECT_EQ(grey, QApplication::palette().color(QPalette::Disabled, QPalette::WindowText));
    EXPECT_EQ(w->grp_Input1->palette().color(QPalette::Active, QPalette::WindowText),
              QApplication::palette().color(QPalette::Active, QPalette::WindowText));

    // "Double" again: enabled and black, the old texts do not come back.
    w->rdg_Mode->Button(kModeDouble)->click();
    EXPECT_EQ(w->lbl_Mode->text(), QStringLiteral("Double"));
    EXPECT_EQ(Mode, 0);
    for (QWidget* control : std::initializer_list<QWidget*>{w->txt_PidC, w->txt_PidD, w->lbl_PidC, w->lbl_PidD})
        EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
    EXPECT_TRUE(w->txt_PidC->text().isEmpty());
    EXPECT_EQ(w->grp_Input2->palette().color(QPalette::Active, QPalette::WindowText), black);

    // The arrow keys move the selection and run the rule, as a click does.
    Focus(w->rdg_Mode->Button(kModeDouble));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(w->rdg_Mode->ItemIndex(), kModeSingle);
    EXPECT_EQ(w->lbl_Mode->text(), QStringLiteral("Single"));
    EXPECT_EQ(Mode, 1);
}

TEST_F(RulesTest, SettingTheSelectionClampsAndNeverReadsOutsideTheNames) {
    Tfrm_Main* w = Open();
    struct Case {
        int set;
        int selected;
        const char* label;
    };
    const Case cases[] = {{0, 0, "Double"}, {1, 1, "Single"}, {5, 1, "Single"}, {255, 1, "Single"},
                          {-1, -1, ""},     {-7, -1, ""},     {0, 0, "Double"}};
    int clicks = 0;
    QObject::connect(w->rdg_Mode, &RadioGroup::itemClicked, [&] { ++clicks; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        w->rdg_Mode->setItemIndex(c.set);
        EXPECT_EQ(w->rdg_Mode->ItemIndex(), c.selected);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(w->rdg_Mode->Button(i)->isChecked(), i == c.selected);
        w->rdg_ModeClick(w->rdg_Mode);
        // With nothing selected the label is empty and Switch B keeps its state.
        EXPECT_EQ(w->lbl_Mode->text().toStdString(), c.label);
        EXPECT_EQ(Mode, c.selected);
    }
    EXPECT_EQ(clicks, 0); // setting the selection is no click
    EXPECT_EQ(ModeName(2), QString());
    EXPECT_EQ(ModeName(-1), QString());
}

TEST_F(RulesTest, ActivationZeroesThePidsAndKeepsModeInStepWithTheSelection) {
    Tfrm_Main* w = Open();
    w->rdg_Mode->Button(kModeSingle)->click();
    PidA = 5, PidB = 6, PidC = 7, PidD = 8;
    w->FormActivate(w);
    EXPECT_EQ((std::array<uint16_t, 4>{PidA, PidB, PidC, PidD}), (std::array<uint16_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(Mode, 1); // the group still shows "Single"
    EXPECT_EQ(w->rdg_Mode->ItemIndex(), 1);
    // The texts of the fields are not touched.
    w->txt_PidA->setText(QStringLiteral("9"));
    w->FormActivate(w);
    EXPECT_EQ(w->txt_PidA->text(), QStringLiteral("9"));
}

TEST_F(RulesTest, ShortcutsActOnlyWhileTheirItemIsEnabled) {
    Tfrm_Main* w = Open();
    Focus(w->txt_PidA); // the menu's keys come first, also over the field's own editing keys
    const std::string readBack = TempRoot::Fixed("\\CONF_KV6251.C$D");
    struct Case {
        const char* legend;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<void()> plan;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"Ctrl+D: Disconnect is disabled", Qt::Key_D, Qt::ControlModifier, [] {},
         [&] { EXPECT_TRUE(driver->boxes.empty()); }},
        {"Ctrl+G: Get is disabled", Qt::Key_G, Qt::ControlModifier, [] {},
         [&] { EXPECT_TRUE(ReadBytes(readBack).empty()); }},
        {"Ctrl+S: Save is disabled", Qt::Key_S, Qt::ControlModifier, [] {}, [&] { EXPECT_EQ(driver->fileDialogs, 0); }},
        {"Ctrl+Alt+S: Send is disabled", Qt::Key_S, Qt::ControlModifier | Qt::AltModifier, [] {},
         [&] { EXPECT_TRUE(driver->boxes.empty()); }},
        {"Ctrl+O opens the open dialog", Qt::Key_O, Qt::ControlModifier, [&] { driver->ChooseFile({}); },
         [&] { EXPECT_EQ(driver->fileDialogs, 1); }},
        {"Ctrl+A opens About, also from a text field", Qt::Key_A, Qt::ControlModifier,
         [&] { driver->WithAbout([](QWidget* about) { about->close(); }); },
         [&] { EXPECT_EQ(driver->aboutWindows, 1); }},
        {"Ctrl+N connects (port 0: the link says why not)", Qt::Key_N, Qt::ControlModifier, [] {},
         [&] {
             ASSERT_EQ(driver->boxes.size(), 1u);
             EXPECT_EQ(driver->boxes[0].text, QStringLiteral(" COM0 no accessible!"));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        c.plan();
        ASSERT_TRUE(WaitActive());
        QTest::keyClick(w, c.key, c.modifiers);
        c.check();
        EXPECT_TRUE(driver->AllStepsTaken());
    }
    // Once the exit rule enables Save, its shortcut and its menu item run Save.
    w->txt_PidA->setText(QStringLiteral("5"));
    Focus(w->txt_PidA);
    QTest::keyClick(w->txt_PidA, Qt::Key_Tab);
    ASSERT_TRUE(w->mn_Save->isEnabled());
    driver->ChooseFile({});
    ASSERT_TRUE(WaitActive());
    QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(driver->fileDialogs, 2);
    driver->ChooseFile({});
    w->mn_Save->trigger();
    EXPECT_EQ(driver->fileDialogs, 3);
    driver->ChooseFile({});
    w->mn_Open->trigger();
    EXPECT_EQ(driver->fileDialogs, 4);
}

} // namespace
