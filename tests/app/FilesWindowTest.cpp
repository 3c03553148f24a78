// Open and Save of .swi files through the real file dialogs, the port menu with the port file,
// and the About window with the activation step that follows it.
#include "WindowTest.h"
#include "app/Kv6251_about.h"
#include "files/PortFile.h"
#include "platform/MessageSink.h"

namespace {

using FilesWindowTest = WindowTest;

TEST_F(FilesWindowTest, SaveWritesTheFieldsAndTheModeAddingTheSuffix) {
    Tfrm_Main* w = Open();
    QTest::keyClicks(w->txt_PidA, QStringLiteral("5\t")); // leaving the field turns Save on
    w->rdg_Mode->Button(1)->click();
    w->txt_PidB->setText(QStringLiteral("6")); // not left yet: Save reads the fields themselves
    driver.ChooseFile(root.File("setup"));
    w->bt_Save->click();
    EXPECT_EQ(driver.texts, Texts{"File save successful!"});
    EXPECT_EQ(ReadFileBytes(root.File("setup.swi")), "5:6:0:0\n1\n");
    EXPECT_EQ(Shared(), (SwitchConfig{5, 6, 0, 0, 1}));
}

// The exit rule runs only once the file is written: a Save that fails changes nothing else.
TEST_F(FilesWindowTest, SaveThatCannotCreateTheFileShowsTheErrorAndChangesNothingElse) {
    Tfrm_Main* w = Open();
    QTest::keyClicks(w->txt_PidA, QStringLiteral("5\t")); // PidA 5, Save on, Send off (not connected)
    const std::pair<const char*, const char*> cases[] = {
        {"a value typed but not yet left is not taken", "57"},
        {"fields emptied but not yet left do not turn Save off", ""},
    };
    for (const auto& [legend, pidA] : cases) {
        SCOPED_TRACE(legend);
        driver.texts.clear();
        w->txt_PidA->setText(QString::fromLatin1(pidA));
        driver.ChooseFile(root.File("missing/setup.swi"));
        w->bt_Save->click();
        EXPECT_EQ(driver.texts, Texts{"Error at Save."});
        EXPECT_EQ(Shared(), (SwitchConfig{5, 0, 0, 0, 0}));
        EXPECT_EQ(On(w->bt_Save, w->mn_Save), 2);
        EXPECT_EQ(On(w->bt_Send, w->mn_Send), 0);
    }
}

TEST_F(FilesWindowTest, OpenShowsTheFileAndACorruptedFileChangesNothing) {
    Tfrm_Main* w = Open();
    const std::tuple<const char*, const char*, Texts> cases[] = {
        {"Single with a five-digit PID: shown whole, Switch B too, greyed", "65535:2:3:4\n1\n", {}},
        {"a corrupted file", "1:2", {"File corrupted!"}},
    };
    for (const auto& [legend, bytes, boxes] : cases) {
        SCOPED_TRACE(legend);
        WriteFileBytes(root.File("open.swi"), bytes);
        driver.ChooseFile(root.File("open.swi"));
        w->bt_Open->click();
        EXPECT_EQ(driver.texts, boxes);
        EXPECT_EQ(Fields(w), (FieldTexts{"65535", "2", "3", "4"}));
        EXPECT_EQ(Shared(), (SwitchConfig{65535, 2, 3, 4, 1}));
        EXPECT_FALSE(w->txt_PidC->isEnabled()); // Open runs the mode rule
        EXPECT_FALSE(w->bt_Save->isEnabled());  // Open does not run the exit rule
    }
}

TEST_F(FilesWindowTest, ChoosingAPortTicksItShowsItAndTheNextStartLoadsIt) {
    Tfrm_Main* w = Open();
    w->mn_Port_COM3->trigger();
    w->mn_Port_COM5->trigger();
    for (size_t i = 0; i < kPortItemCount; ++i)
        EXPECT_EQ(w->PortItems()[i]->isChecked(), i == 4) << i + 1;
    EXPECT_EQ(w->lbl_PortSerial->text(), QStringLiteral(" 5"));
    EXPECT_EQ(ReadFileBytes(TempRoot::Fixed(kPortFileName)), std::string("\x05\x00", 2));
    PortNumber = 0;
    w = Open(); // a new window's activation loads the port file
    EXPECT_EQ(PortNumber, 5);
    EXPECT_TRUE(w->mn_Port_COM5->isChecked());
    EXPECT_EQ(w->lbl_PortSerial->text(), QStringLiteral(" 5 "));
    // Numbers the menu does not hold are shown but tick nothing; the last item is ticked.
    for (const int16_t held : {int16_t{0}, int16_t{-3}, int16_t{kPortItemCount}}) {
        SCOPED_TRACE(held);
        ASSERT_TRUE(SavePortSetting(held));
        w = Open();
        EXPECT_EQ(PortNumber, held);
        for (size_t i = 0; i < kPortItemCount; ++i)
            EXPECT_EQ(w->PortItems()[i]->isChecked(), static_cast<int>(i) + 1 == held) << i + 1;
        EXPECT_EQ(w->lbl_PortSerial->text(), QString::asprintf(" %d ", held));
    }
}

// A box raised while the window waits (a reopen's failure in the middle of a Send) is answered
// with the normal pointer, and the wait's pointer comes back after it.
TEST_F(FilesWindowTest, AMessageBoxDuringAWaitShowsTheNormalPointer) {
    Tfrm_Main* w = Open();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ShowBox(w, QStringLiteral("box"), kIconError);
    EXPECT_EQ(driver.cursor, Qt::ArrowCursor);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QApplication::restoreOverrideCursor();
}

TEST_F(FilesWindowTest, AboutOpensModalAndActivationRunsAgainAfterIt) {
    Tfrm_Main* w = Open();
    PidA = 7;
    bool modal = false;
    driver.Plan([&modal](QWidget* about) {
        modal = qobject_cast<Tfrm_About*>(about) && QApplication::activeModalWidget() == about;
        about->close();
    });
    w->bt_About->click();
    EXPECT_TRUE(modal);
    EXPECT_TRUE(QTest::qWaitFor([] { return PidA == 0; }, 5000)); // the activation zeroes the PIDs
}

} // namespace
