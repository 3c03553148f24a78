#include "FilesTestEnv.h"
#include "files/PortFile.h"
#include "platform/RootDir.h"

namespace {

class PortFileTest : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        ASSERT_EQ(RootDir(), dir_ + "/kv6251");
    }
    std::string PortFile() const { return dir_ + "/kv6251/KV6251_CONFPORT.kv6"; }
};

TEST_F(PortFileTest, LivesInTheRootDirectoryUnderItsFixedName) {
    EXPECT_STREQ(kPortFileName, "\\KV6251_CONFPORT.kv6");
    EXPECT_EQ(RootPath(kPortFileName), PortFile());
}

TEST_F(PortFileTest, ChoosingPort3WritesTheBytes03And00) {
    ASSERT_TRUE(SavePortSetting(3));
    EXPECT_EQ(ReadBytes(PortFile()), std::string("\x03\x00", 2));
    int16_t port = 0;
    ASSERT_TRUE(LoadPortSetting(&port));
    EXPECT_EQ(port, 3);
    EXPECT_EQ(FolderEntries(dir_ + "/kv6251"), std::vector<std::string>{"KV6251_CONFPORT.kv6"});
}

TEST_F(PortFileTest, KeepsEveryValueAsTwoBytesLittleEndianSigned) {
    const struct {
        const char* legend;
        int16_t port;
        std::string bytes;
    } cases[] = {
        {"no port", 0, std::string("\x00\x00", 2)},
        {"COM9", 9, std::string("\x09\x00", 2)},
        {"outside the menu, kept as it is", 12, std::string("\x0c\x00", 2)},
        {"high byte used", 0x1234, std::string("\x34\x12", 2)},
        {"largest", 32767, std::string("\xff\x7f", 2)},
        {"negative", -1, std::string("\xff\xff", 2)},
        {"smallest", -32768, std::string("\x00\x80", 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        ASSERT_TRUE(SavePortSetting(c.port));
        EXPECT_EQ(ReadBytes(PortFile()), c.bytes);
        int16_t port = 99;
        ASSERT_TRUE(LoadPortSetting(&port));
        EXPECT_EQ(port, c.port);
    }
}

TEST_F(PortFileTest, FilesOfOtherLengths) {
    const struct {
        const char* legend;
        std::string bytes;
        bool loads;
        int16_t port; // when it loads
    } cases[] = {
        {"a file holding 0", std::string("\x00\x00", 2), true, 0},
        {"empty: no setting", "", false, 0},
        {"one byte: half a number is no setting", "\x05", false, 0},
        {"trailing bytes are not looked at", std::string("\x04\x00\xff", 3), true, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        WriteBytes(PortFile(), c.bytes);
        int16_t port = 77;
        EXPECT_EQ(LoadPortSetting(&port), c.loads);
        EXPECT_EQ(port, c.loads ? c.port : 77) << "a failed load leaves the port number alone";
    }
}

TEST_F(PortFileTest, AMissingFileIsNoSetting) {
    int16_t port = 5;
    EXPECT_FALSE(LoadPortSetting(&port));
    EXPECT_EQ(port, 5);
}

TEST_F(PortFileTest, AReadOnlyFileStillLoads) {
    ASSERT_TRUE(SavePortSetting(7));
    ASSERT_EQ(::chmod(PortFile().c_str(), 0444), 0);
    if (::geteuid() == 0)
        SetImmutable(PortFile(), true);
    int16_t port = 0;
    EXPECT_TRUE(LoadPortSetting(&port));
    EXPECT_EQ(port, 7);
}

TEST_F(PortFileTest, ASaveThatCannotWriteReportsFailureAndKeepsTheOldSetting) {
    ASSERT_TRUE(SavePortSetting(2));
    if (!MakeUnwritable(dir_ + "/kv6251"))
        GTEST_SKIP() << "running as root where the immutable attribute is refused: no way to lock a folder";
    EXPECT_FALSE(SavePortSetting(8));
    int16_t port = 0;
    ASSERT_TRUE(LoadPortSetting(&port));
    EXPECT_EQ(port, 2);
}

TEST_F(PortFileTest, NoUsableRootDirectoryMeansNoSetting) {
    // A plain file where the root directory's parent should be: nothing can be created below it.
    WriteBytes(Path("notafolder"), "x");
    ::setenv("XDG_DATA_HOME", Path("notafolder").c_str(), 1);
    EXPECT_FALSE(SavePortSetting(3));
    int16_t port = 6;
    EXPECT_FALSE(LoadPortSetting(&port));
    EXPECT_EQ(port, 6);
}

TEST_F(PortFileTest, WithoutAnyHomeTheFileIsNotPutIntoTheFileSystemRoot) {
    const char* home = std::getenv("HOME");
    std::string savedHome = home ? home : "";
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("HOME");
    bool saved = SavePortSetting(3);
    if (home)
        ::setenv("HOME", savedHome.c_str(), 1);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(fs::exists("/KV6251_CONFPORT.kv6"));
}

} // namespace
