// The port menu with the port setting file, and Open and Save of switcher configuration files
// through the real file dialogs, with real files in a temporary directory.
#include "AppTestEnv.h"
#include "files/PortFile.h"

#include <QDir>
#include <QMessageBox>

#include <array>
#include <csignal>
#include <filesystem>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::vector<int> TickedPorts(const Tfrm_Main* w) {
    std::vector<int> ticked;
    const auto items = w->PortItems();
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i]->isChecked())
            ticked.push_back(static_cast<int>(i + 1));
    return ticked;
}

std::string PortFilePath() {
    return TempRoot::Fixed(kPortFileName);
}

class FilesWindowTest : public WindowTest {
protected:
    // A directory for .swi files, next to (not inside) the tool's root directory.
    QString SwiDir() {
        if (!swiDir_) {
            swiDir_.emplace();
            EXPECT_TRUE(swiDir_->isValid());
        }
        return swiDir_->path();
    }
    QString SwiPath(const char* name) { return SwiDir() + QLatin1Char('/') + QLatin1String(name); }

private:
    std::optional<QTemporaryDir> swiDir_;
};

TEST_F(FilesWindowTest, ChoosingAPortTicksItShowsItAndRemembersIt) {
    Tfrm_Main* w = Open();
    struct Case {
        const char* legend;
        QAction* item;
        int port;
    };
    const Case cases[] = {
        {"choose 3", w->mn_Port_COM3, 3},
        {"choose 5 while 3 is ticked", w->mn_Port_COM5, 5},
        {"choose the ticked item again", w->mn_Port_COM5, 5},
        {"choose 9", w->mn_Port_COM9, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        c.item->trigger();
        EXPECT_EQ(TickedPorts(w), std::vector<int>{c.port});
        EXPECT_EQ(PortNumber, c.port);
        EXPECT_EQ(w->lbl_PortSerial->text(), QStringLiteral(" %1").arg(c.port));
        EXPECT_EQ(ReadBytes(PortFilePath()), std::string({static_cast<char>(c.port), '\0'}));
    }
    EXPECT_STREQ(kPortChosenFormat, " %d");
    // The next activation loads it: " %d " this time.
    w->mn_Port_COM3->trigger();
    w->FormActivate(w);
    EXPECT_EQ(w->lbl_PortSerial->text(), QStringLiteral(" 3 "));
    EXPECT_EQ(TickedPorts(w), std::vector<int>{3});
    EXPECT_TRUE(driver->boxes.empty());
}

TEST_F(FilesWindowTest, ActivationLoadsThePortSetting) {
    struct Case {
        const char* legend;
        std::optional<std::string> file;
        int port;
        std::vector<int> ticked;
        const char* panel;
    };
    const Case cases[] = {
        {"no file: no port, nothing ticked, panel empty", std::nullopt, 0, {}, ""},
        {"port 3", std::string("\x03\x00", 2), 3, {3}, " 3 "},
        {"a file holding 0", std::string("\x00\x00", 2), 0, {}, " 0 "},
        {"12 is shown and kept, nothing ticked", std::string("\x0c\x00", 2), 12, {}, " 12 "},
        {"a negative number is shown as it is", std::string("\xfe\xff", 2), -2, {}, " -2 "},
        {"one byte counts as no file", std::string("\x05", 1), 0, {}, ""},
        {"bytes after the first two are ignored", std::string("\x04\x00\x07", 3), 4, {4}, " 4 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        std::filesystem::remove(PortFilePath());
        if (c.file)
            WriteBytes(PortFilePath(), *c.file);
        PortNumber = 99;
        Tfrm_Main* w = Open(); // its first activation loads the file
        EXPECT_EQ(PortNumber, c.port);
        EXPECT_EQ(TickedPorts(w), c.ticked);
        EXPECT_EQ(w->lbl_PortSerial->text().toStdString(), c.panel);
    }
    EXPECT_STREQ(kPortLoadedFormat, " %d ");
}

TEST_F(FilesWindowTest, LoadingAddsATickWithoutClearingOthers) {
    Tfrm_Main* w = Open();
    w->mn_Port_COM2->trigger();
    WriteBytes(PortFilePath(), std::string("\x05\x00", 2));
    w->FormActivate(w);
    EXPECT_EQ(TickedPorts(w), (std::vector<int>{2, 5}));
    EXPECT_EQ(PortNumber, 5);
    // Missing file: port 0, menu and panel as they were.
    std::filesystem::remove(PortFilePath());
    w->FormActivate(w);
    EXPECT_EQ(PortNumber, 0);
    EXPECT_EQ(TickedPorts(w), (std::vector<int>{2, 5}));
    EXPECT_EQ(w->lbl_PortSerial->text(), QStringLiteral(" 5 "));
}

TEST_F(FilesWindowTest, AnOutOfRangePortIsUsedUnchanged) {
    WriteBytes(PortFilePath(), std::string("\x0c\x00", 2));
    Tfrm_Main* w = Open();
    w->bt_Connect->click();
    ASSERT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(driver->boxes[0].text, QStringLiteral(" COM12 no accessible!"));
}

TEST_F(FilesWindowTest, APortFileThatCannotBeWrittenStillChangesThePortSilently) {
    Tfrm_Main* w = Open();
    std::filesystem::create_directories(PortFilePath()); // the name is taken by a folder
    w->mn_Port_COM4->trigger();
    EXPECT_EQ(PortNumber, 4);
    EXPECT_EQ(w->lbl_PortSerial->text(), QStringLiteral(" 4"));
    EXPECT_EQ(TickedPorts(w), std::vector<int>{4});
    EXPECT_TRUE(driver->boxes.empty());
}

TEST_F(FilesWindowTest, SaveTakesTheFieldsAndTheModeAndAddsTheSuffix) {
    Tfrm_Main* w = Open();
    QTest::keyClicks(w->txt_PidA, QStringLiteral("5"));
    ClickItem(w->rdg_Mode->Button(kModeSingle)); // leaving the field runs the exit rule
    ASSERT_TRUE(w->bt_Save->isEnabled());
    w->txt_PidB->setText(QStringLiteral("6")); // Save runs the exit rule again itself
    driver->ChooseFile(SwiPath("setup"));
    w->bt_Save->click();
    ASSERT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(driver->boxes[0].text, QStringLiteral("File save successful!"));
    EXPECT_EQ(driver->boxes[0].text, QString::fromUtf8(kMsgSaveSuccessful));
    EXPECT_EQ(driver->boxes[0].icon, QMessageBox::Warning); // the exclamation icon
    EXPECT_EQ(driver->boxes[0].caption, QString::fromUtf8(kCaption));
    EXPECT_EQ(ReadBytes(SwiPath("setup.swi").toStdString()), "5:6:0:0\n1\n");

    // Cancelling the dialog does nothing.
    driver->ChooseFile({});
    w->bt_Save->click();
    EXPECT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(driver->fileDialogs, 2);
}

struct OpenCase {
    const char* legend;
    std::string bytes;
    std::array<const char*, 4> fields;
    int selected;
    SwitchConfig shared;
};

const OpenCase kOpenCases[] = {
    {"four PIDs and Double", "1:2:3:4\n0\n", {"1", "2", "3", "4"}, 0, {1, 2, 3, 4, 0}},
    {"a fifth field of 7 selects Single", "1:2:3:4\n7\n", {"1", "2", "3", "4"}, 1, {1, 2, 3, 4, 1}},
    {"CR LF line ends", "10:20:30:40\r\n1\r\n", {"10", "20", "30", "40"}, 1, {10, 20, 30, 40, 1}},
    {"runs of separators count as one", "::7::8::9:\n\n5\n\n0\n", {"7", "8", "9", "5"}, 0, {7, 8, 9, 5, 0}},
    {"five-digit PIDs are shown whole",
     "65535:65535:12345:0\n0\n",
     {"65535", "65535", "12345", "0"},
     0,
     {65535, 65535, 12345, 0, 0}},
};

TEST_F(FilesWindowTest, OpenShowsTheFileInTheWindow) {
    Tfrm_Main* w = Open();
    for (const OpenCase& c : kOpenCases) {
        SCOPED_TRACE(c.legend);
        const QString path = SwiPath("open.swi");
        WriteBytes(path.toStdString(), c.bytes);
        w->rdg_Mode->Button(kModeDouble)->click();
        driver->ChooseFile(path);
        w->bt_Open->click();
        EXPECT_TRUE(driver->boxes.empty());
        const std::array<QString, 4> fields = Fields(w);
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(fields[i].toStdString(), c.fields[i]);
        EXPECT_EQ(w->rdg_Mode->ItemIndex(), c.selected);
        EXPECT_EQ(w->lbl_Mode->text(), ModeName(c.selected));
        // In Single the stored C and D come back into the disabled fields.
        EXPECT_EQ(w->txt_PidC->isEnabled(), c.selected == kModeDouble);
        EXPECT_EQ((SwitchConfig{PidA, PidB, PidC, PidD, Mode}), c.shared);
        // Open does not run the exit rule.
        EXPECT_FALSE(w->bt_Save->isEnabled());
    }
    // A five-digit value shown whole may be edited; once it fits, typing is held to four again.
    Focus(w->txt_PidA);
    w->txt_PidA->end(false);
    QTest::keyClick(w->txt_PidA, Qt::Key_Backspace);
    QTest::keyClick(w->txt_PidA, Qt::Key_Backspace);
    QTest::keyClicks(w->txt_PidA, QStringLiteral("99"));
    EXPECT_EQ(w->txt_PidA->text(), QStringLiteral("6559"));
}

TEST_F(FilesWindowTest, SaveAndOpenRoundTripThroughTheWindow) {
    Tfrm_Main* w = Open();
    const char* typed[] = {"8191", "0", "4096", "17"};
    for (int i = 0; i < 4; ++i)
        QTest::keyClicks(w->PidField(i), QString::fromLatin1(typed[i]));
    Focus(w->rdg_Mode->Button(kModeDouble));
    driver->ChooseFile(SwiPath("trip.swi"));
    w->bt_Save->click();
    ASSERT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(driver->boxes[0].text, QString::fromUtf8(kMsgSaveSuccessful));

    for (int i = 0; i < 4; ++i)
        w->PidField(i)->setText(QStringLiteral("1"));
    w->rdg_Mode->Button(kModeSingle)->click();
    driver->ChooseFile(SwiPath("trip.swi"));
    w->mn_Open->trigger(); // the menu item runs Open
    const std::array<QString, 4> fields = Fields(w);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(fields[i].toStdString(), typed[i]);
    EXPECT_EQ(w->rdg_Mode->ItemIndex(), kModeDouble);
    EXPECT_EQ((SwitchConfig{PidA, PidB, PidC, PidD, Mode}), (SwitchConfig{8191, 0, 4096, 17, 0}));
}

TEST_F(FilesWindowTest, ACorruptedFileChangesNothing) {
    Tfrm_Main* w = Open();
    struct Case {
        const char* legend;
        std::string bytes;
    };
    const Case cases[] = {{"only two fields", "1:2"},
                          {"four fields", "1:2:3:4\n"},
                          {"an empty file", ""},
                          {"a negative mode", "1:2:3:4\n-1\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        driver->boxes.clear();
        const char* shown[] = {"11", "22", "33", "44"};
        for (int i = 0; i < 4; ++i)
            w->PidField(i)->setText(QString::fromLatin1(shown[i]));
        w->rdg_Mode->Button(kModeDouble)->click();
        PidA = 11, PidB = 22, PidC = 33, PidD = 44;
        WriteBytes(SwiPath("bad.swi").toStdString(), c.bytes);
        driver->ChooseFile(SwiPath("bad.swi"));
        w->bt_Open->click();
        ASSERT_EQ(driver->boxes.size(), 1u);
        EXPECT_EQ(driver->boxes[0].text, QStringLiteral("File corrupted!"));
        EXPECT_EQ(driver->boxes[0].text, QString::fromUtf8(kMsgCorrupted));
        EXPECT_EQ(driver->boxes[0].icon, QMessageBox::NoIcon); // a plain message
        EXPECT_EQ(driver->boxes[0].caption, QStringLiteral("KV6251"));
        EXPECT_EQ(driver->boxes[0].caption, QString::fromUtf8(kApplicationTitle));
        const std::array<QString, 4> fields = Fields(w);
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(fields[i].toStdString(), shown[i]);
        EXPECT_EQ(w->rdg_Mode->ItemIndex(), kModeDouble);
        EXPECT_EQ((SwitchConfig{PidA, PidB, PidC, PidD, Mode}), (SwitchConfig{11, 22, 33, 44, 0}));
    }
}

TEST_F(FilesWindowTest, AReadOnlyFileOpens) {
    Tfrm_Main* w = Open();
    const QString path = SwiPath("locked.swi");
    WriteBytes(path.toStdString(), "3:4:5:6\n0\n");
    ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0444), 0);
    driver->ChooseFile(path);
    w->bt_Open->click();
    EXPECT_TRUE(driver->boxes.empty());
    EXPECT_EQ(w->txt_PidD->text(), QStringLiteral("6"));
}

TEST_F(FilesWindowTest, AnUnreadableFileCannotBeOpened) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads any file: permission bits cannot make the open fail";
    Tfrm_Main* w = Open();
    const QString path = SwiPath("secret.swi");
    WriteBytes(path.toStdString(), "3:4:5:6\n0\n");
    ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0), 0);
    driver->ChooseFile(path);
    w->bt_Open->click();
    ASSERT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(driver->boxes[0].text, QStringLiteral("Cannot open input file."));
    EXPECT_EQ(driver->boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(w->txt_PidA->text().isEmpty());
}

// Makes every write of this process fail while it lives: root ignores a folder's permission
// bits, but not the file-size limit. The signal that a write beyond the limit raises is ignored,
// so the write fails with EFBIG instead.
class NoWrites {
public:
    NoWrites() {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit none = saved_;
        none.rlim_cur = 0;
        ::setrlimit(RLIMIT_FSIZE, &none);
    }
    ~NoWrites() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    NoWrites(const NoWrites&) = delete;
    NoWrites& operator=(const NoWrites&) = delete;

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

TEST_F(FilesWindowTest, SaveIntoAReadOnlyFolderFailsAndKeepsTheOldFile) {
    Tfrm_Main* w = Open();
    const QString folder = SwiPath("locked");
    ASSERT_TRUE(QDir().mkpath(folder));
    const std::string old = folder.toStdString() + "/kept.swi";
    WriteBytes(old, "1:1:1:1\n0\n");
    ASSERT_EQ(::chmod(folder.toLocal8Bit().constData(), 0555), 0);
    QTest::keyClicks(w->txt_PidA, QStringLiteral("9"));
    QTest::keyClick(w->txt_PidA, Qt::Key_Tab);
    ASSERT_TRUE(w->bt_Save->isEnabled());

    driver->ChooseFile(folder + QStringLiteral("/kept.swi"));
    {
        std::optional<NoWrites> noWrites;
        if (::geteuid() == 0)
            noWrites.emplace();
        w->bt_Save->click();
    }
    ::chmod(folder.toLocal8Bit().constData(), 0755);
    EXPECT_EQ(driver->questions.size(), 1u); // the dialog asked before replacing the file
    ASSERT_EQ(driver->boxes.size(), 1u);
    EXPECT_EQ(driver->boxes[0].text, QStringLiteral("Error at Save."));
    EXPECT_EQ(driver->boxes[0].text, QString::fromUtf8(kMsgSaveError));
    EXPECT_EQ(driver->boxes[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(driver->boxes[0].details.isEmpty()); // the reason
    EXPECT_EQ(ReadBytes(old), "1:1:1:1\n0\n");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("kept.swi")});
}

} // namespace
