// The main window as built from its form: every control's place, text and first state, the
// stacking of overlapping controls, fonts and colours, pictures, the menu with its stored
// shortcuts, the keyboard focus, and the clock.
#include "AppTestEnv.h"
#include "platform/PortMap.h"

#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QRegularExpression>
#include <QToolButton>

#include <unistd.h>

namespace {

template <class T = QWidget> T* Find(QWidget* window, const char* name) {
    T* found = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// The text the inventory gives a control: caption of a group, hint of a picture button, text
// of a label or a field.
QString InventoryText(QWidget* widget) {
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title();
    if (auto* button = qobject_cast<QToolButton*>(widget))
        return button->toolTip();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    return {};
}

struct ControlRow {
    const char* name;
    const char* parent;
    QRect bounds;
    const char* text;
    bool enabled;
};

// The inventory, copied literally.
const ControlRow kControls[] = {
    {"grp_Toolbar", "centralwidget", {-1, 0, 530, 53}, "", true},
    {"bt_Connect", "grp_Toolbar", {8, 8, 49, 41}, "Connect", true},
    {"bt_Disconnect", "grp_Toolbar", {56, 8, 49, 41}, "Disconnect", false},
    {"bt_Open", "grp_Toolbar", {104, 8, 49, 41}, "Open file configuration", true},
    {"bt_Save", "grp_Toolbar", {152, 8, 49, 41}, "Save Configuration in file", false},
    {"bt_Get", "grp_Toolbar", {200, 8, 49, 41}, "Get configuration from box", false},
    {"bt_About", "grp_Toolbar", {248, 8, 49, 41}, "About", true},
    {"bt_Exit", "grp_Toolbar", {296, 8, 49, 41}, "Exit", true},
    {"bt_Norvell", "grp_Toolbar", {344, 8, 133, 41}, "", true},
    {"bt_Ostara", "grp_Toolbar", {477, 8, 48, 41}, "", true},
    {"grp_Input1", "centralwidget", {4, 56, 193, 161}, " Switch A ", true},
    {"lbl_PidA", "grp_Input1", {8, 36, 26, 13}, "PID ", true},
    {"txt_PidA", "grp_Input1", {64, 28, 85, 21}, "", true},
    {"lbl_PidB", "grp_Input1", {8, 104, 26, 13}, "PID ", true},
    {"txt_PidB", "grp_Input1", {64, 96, 85, 21}, "", true},
    {"grp_Input2", "centralwidget", {200, 56, 193, 161}, " Switch B ", true},
    {"lbl_PidC", "grp_Input2", {8, 36, 26, 13}, "PID ", true},
    {"txt_PidC", "grp_Input2", {64, 28, 85, 21}, "", true},
    {"lbl_PidD", "grp_Input2", {8, 104, 26, 13}, "PID ", true},
    {"txt_PidD", "grp_Input2", {64, 96, 85, 21}, "", true},
    {"rdg_Mode", "centralwidget", {396, 56, 133, 89}, " Output Mode ", true},
    {"bt_Send", "centralwidget", {396, 148, 133, 69}, "", false},
    {"grp_Conexao", "centralwidget", {4, 217, 121, 33}, "", true},
    {"GreenLed", "grp_Conexao", {0, 8, 25, 25}, "", true},
    {"RedLed", "grp_Conexao", {0, 8, 25, 25}, "", true},
    {"lbl_Status", "grp_Conexao", {28, 8, 81, 25}, "Disconnected!", true},
    {"grp_PortUSB", "centralwidget", {120, 217, 61, 33}, "", true},
    {"lbl_PortSerial", "grp_PortUSB", {24, 8, 33, 25}, "", true},
    {"lbl_Port", "grp_PortUSB", {0, 8, 41, 25}, "Port: ", true},
    {"grp_Mode", "centralwidget", {176, 217, 101, 33}, "", true},
    {"lbl_Buffer", "grp_Mode", {0, 8, 49, 25}, "Mode:", true},
    {"lbl_Mode", "grp_Mode", {44, 12, 45, 17}, "Double", true},
    {"grp_Timer", "centralwidget", {419, 217, 110, 33}, "", true},
    {"lbl_Timer", "grp_Timer", {12, 8, 73, 25}, "", true},
    {"grp_Norvell", "centralwidget", {272, 217, 153, 33}, "", true},
    {"lbl_Norvell", "grp_Norvell", {6, 8, 147, 25}, "Norvell Electronics", true},
};

class FormTest : public WindowTest {};

TEST_F(FormTest, EveryControlHasItsBoundsTextAndFirstState) {
    Tfrm_Main* w = Open();
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.name);
        QWidget* control = Find(w, row.name);
        ASSERT_NE(control, nullptr);
        ASSERT_NE(control->parentWidget(), nullptr);
        EXPECT_EQ(control->parentWidget()->objectName().toStdString(), row.parent);
        EXPECT_EQ(control->geometry(), row.bounds);
        EXPECT_EQ(InventoryText(control).toStdString(), row.text);
        EXPECT_EQ(control->isEnabled(), row.enabled);
        EXPECT_TRUE(control->isVisible());
    }
    // The texts the window's code sets stand as constants too.
    EXPECT_STREQ(kStatusDisconnected, "Disconnected!");
    EXPECT_EQ(w->lbl_Status->text(), QString::fromUtf8(kStatusDisconnected));
    EXPECT_STREQ(kModeNames[0], "Double");
    EXPECT_STREQ(kModeNames[1], "Single");
    EXPECT_EQ(w->rdg_Mode->Items(), (QStringList{QString::fromUtf8(kModeNames[0]), QString::fromUtf8(kModeNames[1])}));
    EXPECT_EQ(w->rdg_Mode->ItemIndex(), 0);
    EXPECT_EQ(w->bt_Send->text(), QStringLiteral("Send"));
    EXPECT_EQ(w->bt_Send->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    for (QLineEdit* field : {w->txt_PidA, w->txt_PidB, w->txt_PidC, w->txt_PidD})
        EXPECT_EQ(field->maxLength(), 4);
    // Picture buttons are flat and never take the keyboard focus.
    for (QToolButton* button : w->centralWidget()->findChildren<QToolButton*>()) {
        SCOPED_TRACE(button->objectName().toStdString());
        EXPECT_TRUE(button->autoRaise());
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    }
    // Status-strip labels: fixed size, transparent, centred.
    for (const char* name :
         {"lbl_Status", "lbl_PortSerial", "lbl_Port", "lbl_Buffer", "lbl_Mode", "lbl_Timer", "lbl_Norvell"}) {
        SCOPED_TRACE(name);
        auto* label = Find<QLabel>(w, name);
        EXPECT_EQ(label->alignment(), Qt::AlignCenter);
        EXPECT_FALSE(label->autoFillBackground());
    }
    EXPECT_EQ(w->Timer1->interval(), 1000);
    EXPECT_TRUE(w->Timer1->isActive());
    EXPECT_EQ(w->dlg_Open->nameFilters(), QStringList{QStringLiteral("Switcher Files (*.swi)")});
    EXPECT_EQ(w->dlg_Save->nameFilters(), QStringList{QStringLiteral("Switcher Files (*.swi)")});
    EXPECT_EQ(w->dlg_Save->defaultSuffix(), QStringLiteral("swi"));
    EXPECT_EQ(w->dlg_Save->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(w->dlg_Open->fileMode(), QFileDialog::ExistingFile);
}

TEST_F(FormTest, WindowIsFixedCentredAndCaptioned) {
    Tfrm_Main* w = Open();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("KV6251 Transport Switcher - Norvell"));
    EXPECT_EQ(w->windowTitle(), QString::fromUtf8(kCaption));
    EXPECT_EQ(w->centralWidget()->size(), QSize(531, 252));
    EXPECT_EQ(w->centralWidget()->y(), w->menuBar()->height()); // client area below the menu bar
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    EXPECT_EQ(w->size(), w->minimumSize());
    const Qt::WindowFlags flags = w->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    const QRect screen = w->screen()->availableGeometry();
    EXPECT_LE(std::abs(w->frameGeometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(w->frameGeometry().center().y() - screen.center().y()), 1);
    EXPECT_TRUE(w->windowIcon().availableSizes().contains(QSize(32, 32)));
}

TEST_F(FormTest, OverlapsStackAsStored) {
    Tfrm_Main* w = Open();
    struct Case {
        const char* legend;
        const char* parent;
        QPoint point;
        const char* onTop;
    };
    const Case cases[] = {
        {"RedLed lies over GreenLed", "grp_Conexao", {12, 20}, "RedLed"},
        {"lbl_Port lies over lbl_PortSerial", "grp_PortUSB", {30, 20}, "lbl_Port"},
        {"the maker panel covers the clock panel's left edge", "centralwidget", {422, 240}, "grp_Norvell"},
        {"each panel covers its left neighbour", "centralwidget", {122, 240}, "grp_PortUSB"},
        {"bt_Disconnect (stored after bt_Connect) covers the shared column", "grp_Toolbar", {56, 20}, "bt_Disconnect"},
        {"bt_Disconnect (stored after bt_Open) covers bt_Open's first column",
         "grp_Toolbar",
         {104, 20},
         "bt_Disconnect"},
        {"bt_Get (stored after bt_About) covers bt_About's first column", "grp_Toolbar", {248, 20}, "bt_Get"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        QWidget* parent = Find(w, c.parent);
        QWidget* hit = parent->childAt(c.point);
        ASSERT_NE(hit, nullptr);
        while (hit->parentWidget() != parent)
            hit = hit->parentWidget();
        EXPECT_EQ(hit->objectName().toStdString(), c.onTop);
    }
    // Without the red lamp the green one shows.
    w->RedLed->hide();
    EXPECT_EQ(w->grp_Conexao->childAt(12, 20), w->GreenLed);
}

TEST_F(FormTest, FontsAndColoursFollowTheForm) {
    Tfrm_Main* w = Open();
    struct Case {
        const char* name;
        int pixels;
        bool bold;
    };
    const Case cases[] = {
        {"grp_Input1", 13, true}, {"grp_Input2", 13, true},      {"rdg_Mode", 13, true},
        {"lbl_PidA", 11, true},   {"lbl_PidD", 11, true},        {"txt_PidA", 12, false},
        {"txt_PidD", 12, false},  {"bt_Send", 12, true},         {"lbl_Status", 12, false},
        {"lbl_Timer", 12, false}, {"lbl_Norvell", 12, false},    {"grp_Toolbar", 11, false},
        {"lbl_Mode", 12, false},  {"lbl_PortSerial", 12, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QFont font = Find(w, c.name)->font();
        EXPECT_EQ(font.pixelSize(), c.pixels);
        EXPECT_EQ(font.bold(), c.bold);
        EXPECT_EQ(font.family(), QStringLiteral("MS Sans Serif"));
    }
    for (const char* name :
         {"lbl_Status", "lbl_PortSerial", "lbl_Port", "lbl_Buffer", "lbl_Mode", "lbl_Timer", "lbl_Norvell"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Find(w, name)->palette().color(QPalette::WindowText), QColor(0, 0, 128)); // navy
    }
    EXPECT_EQ(w->lbl_PidC->palette().color(QPalette::Active, QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(w->grp_Input2->palette().color(QPalette::Active, QPalette::WindowText), QColor(Qt::black));
}

TEST_F(FormTest, PicturesHaveTheirSizes) {
    Tfrm_Main* w = Open();
    struct Case {
        const char* name;
        QSize size;
    };
    const Case buttons[] = {
        {"bt_Connect", {38, 38}},  {"bt_Disconnect", {35, 35}}, {"bt_Open", {35, 35}}, {"bt_Save", {32, 32}},
        {"bt_Get", {33, 33}},      {"bt_About", {33, 33}},      {"bt_Exit", {32, 32}}, {"bt_Send", {35, 35}},
        {"bt_Norvell", {125, 24}}, {"bt_Ostara", {32, 31}},
    };
    for (const Case& c : buttons) {
        SCOPED_TRACE(c.name);
        auto* button = Find<QToolButton>(w, c.name);
        EXPECT_EQ(button->iconSize(), c.size);
        EXPECT_TRUE(button->icon().availableSizes().contains(c.size));
    }
    const Case menuItems[] = {
        {"mn_Connect", {35, 35}}, {"mn_Disconnect", {35, 35}}, {"mn_Open", {32, 32}}, {"mn_Save", {32, 32}},
        {"mn_Get", {33, 33}},     {"mn_About", {33, 33}},      {"mn_Exit", {32, 31}}, {"mn_Send", {33, 33}},
    };
    for (const Case& c : menuItems) {
        SCOPED_TRACE(c.name);
        auto* item = w->findChild<QAction*>(QString::fromLatin1(c.name));
        ASSERT_NE(item, nullptr);
        EXPECT_TRUE(item->icon().availableSizes().contains(c.size));
    }
    EXPECT_TRUE(w->mn_Port->icon().availableSizes().contains(QSize(16, 16)));
    for (QLabel* lamp : {w->GreenLed, w->RedLed}) {
        EXPECT_EQ(lamp->pixmap().size(), QSize(20, 20));
        EXPECT_EQ(lamp->alignment(), Qt::AlignCenter);
    }
}

// A shortcut as the original stores it: low byte the key, 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt.
QKeySequence FromStored(int stored) {
    Qt::KeyboardModifiers modifiers;
    if (stored & 0x2000)
        modifiers |= Qt::ShiftModifier;
    if (stored & 0x4000)
        modifiers |= Qt::ControlModifier;
    if (stored & 0x8000)
        modifiers |= Qt::AltModifier;
    return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(stored & 0xFF)));
}

TEST_F(FormTest, MenuHoldsItsItemsCaptionsAndStoredShortcuts) {
    Tfrm_Main* w = Open();
    QStringList bar;
    for (QAction* top : w->MainMenu1->actions())
        bar << top->text();
    EXPECT_EQ(bar, (QStringList{"&File", "&Config", "&Run", "Help"}));

    const QList<QAction*> file = w->mn_File->actions();
    ASSERT_EQ(file.size(), 7);
    EXPECT_EQ(file[0], w->mn_Connect);
    EXPECT_EQ(file[1], w->mn_Disconnect);
    EXPECT_EQ(file[2], w->N1);
    EXPECT_EQ(file[3], w->mn_Open);
    EXPECT_EQ(file[4], w->mn_Save);
    EXPECT_EQ(file[5], w->N2);
    EXPECT_EQ(file[6], w->mn_Exit);
    EXPECT_TRUE(w->N1->isSeparator());
    EXPECT_TRUE(w->N2->isSeparator());
    EXPECT_EQ(w->mn_Config->actions(), QList<QAction*>{w->mn_Port->menuAction()});
    EXPECT_EQ(w->mn_Port->title(), QStringLiteral("&Port "));
    EXPECT_EQ(w->mn_Run->actions(), (QList<QAction*>{w->mn_Get, w->mn_Send}));
    EXPECT_EQ(w->mn_Help->actions(), QList<QAction*>{w->mn_About});

    struct Case {
        QAction* item;
        const char* caption;
        int stored;
        bool enabled;
    };
    const Case cases[] = {
        {w->mn_Connect, "Co&nnect", 16462, true}, {w->mn_Disconnect, "&Disconnect", 16452, false},
        {w->mn_Open, "&Open", 16463, true},       {w->mn_Save, "&Save", 16467, false},
        {w->mn_Exit, "Exit", 16453, true},        {w->mn_Get, "&Get", 16455, false},
        {w->mn_Send, "&Send", 49235, false},      {w->mn_About, "About", 16449, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        EXPECT_EQ(c.item->text().toStdString(), c.caption);
        EXPECT_EQ(c.item->shortcut(), FromStored(c.stored));
        EXPECT_EQ(c.item->isEnabled(), c.enabled);
    }
    EXPECT_EQ(w->mn_Send->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+S")));

    EXPECT_TRUE(w->mn_Port->menuAction()->isEnabled());
    const auto items = w->PortItems();
    for (int i = 0; i < kPortItemCount; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(w->mn_Port->actions().value(i), items[static_cast<size_t>(i)]);
        EXPECT_EQ(items[static_cast<size_t>(i)]->text(), QString::number(i + 1));
        EXPECT_TRUE(items[static_cast<size_t>(i)]->isCheckable());
        EXPECT_FALSE(items[static_cast<size_t>(i)]->isChecked());
        EXPECT_TRUE(items[static_cast<size_t>(i)]->isEnabled());
        // The tooltip names the device the number opens.
        EXPECT_EQ(items[static_cast<size_t>(i)]->toolTip().toStdString(), PortDevicePath(i + 1));
    }
    EXPECT_TRUE(w->mn_Port->toolTipsVisible());
}

TEST_F(FormTest, PortTooltipFollowsAMappingMadeLater) {
    Tfrm_Main* w = Open();
    EXPECT_EQ(w->mn_Port_COM2->toolTip(), QStringLiteral("/dev/ttyUSB1"));
    const std::string mapped = RootPath("com2");
    ASSERT_EQ(::symlink("/dev/null", mapped.c_str()), 0);
    w->mn_Port->popup(w->mapToGlobal(QPoint(0, 0))); // opening the menu looks again
    EXPECT_EQ(w->mn_Port_COM2->toolTip().toStdString(), mapped);
    w->mn_Port->close();
}

TEST_F(FormTest, FocusStartsInTheFirstFieldAndTabsThroughFieldsAndModeGroup) {
    Tfrm_Main* w = Open();
    EXPECT_EQ(QApplication::focusWidget(), w->txt_PidA);
    QWidget* const expected[] = {w->txt_PidB, w->txt_PidC, w->txt_PidD, w->rdg_Mode->Button(0), w->txt_PidA};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
    // Disabled controls are skipped: in "Single" the Switch B fields are.
    w->rdg_Mode->Button(kModeSingle)->click();
    Focus(w->txt_PidB);
    QTest::keyClick(w->txt_PidB, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->rdg_Mode->Button(kModeSingle))
        << QApplication::focusWidget()->objectName().toStdString();
}

TEST(Clock, FormatsHoursMinutesSecondsWithALeadingSpace) {
    struct Case {
        int h, m, s;
        const char* text;
    };
    const Case cases[] = {
        {9, 5, 7, " 09:05:07"}, {0, 0, 0, " 00:00:00"}, {23, 59, 59, " 23:59:59"}, {12, 0, 30, " 12:00:30"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FormatClock(c.h, c.m, c.s).toStdString(), c.text);
    }
    EXPECT_STREQ(kClockFormat, " %2.2d:%2.2d:%2.2d");
}

TEST_F(FormTest, ClockIsEmptyAtStartAndTicksEverySecond) {
    Tfrm_Main* w = Open();
    EXPECT_TRUE(w->lbl_Timer->text().isEmpty());
    const QRegularExpression clock(QStringLiteral("^ \\d\\d:\\d\\d:\\d\\d$"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w->lbl_Timer->text().isEmpty(); }, 5000));
    EXPECT_TRUE(clock.match(w->lbl_Timer->text()).hasMatch()) << w->lbl_Timer->text().toStdString();
    const QString first = w->lbl_Timer->text();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->lbl_Timer->text() != first; }, 5000));
}

} // namespace
