// Packet files on disk and the texts that explain a transfer result; no link involved.
#include "BoxFixture.h"

#include "transfer/Utiltrp.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using Content = std::optional<std::vector<uint8_t>>; // nullopt: the file does not exist

std::vector<uint8_t> Filled(size_t size, uint8_t value) {
    return std::vector<uint8_t>(size, value);
}

std::vector<uint8_t> LastByteChanged(std::vector<uint8_t> bytes) {
    bytes.back() ^= 0x01;
    return bytes;
}

TEST(CompareFiles, GivesEveryResultItCanMeet) {
    const std::vector<uint8_t> packet = Filled(188, 0x11);
    const struct {
        const char* legend;
        Content first;
        Content second;
        int expected;
    } cases[] = {
        {"equal 188-byte files", packet, packet, kCompareEqual},
        {"two empty files are equal", std::vector<uint8_t>{}, std::vector<uint8_t>{}, kCompareEqual},
        {"first file missing", std::nullopt, packet, kCompareFirstUnopened},
        {"both missing: the first is reported", std::nullopt, std::nullopt, kCompareFirstUnopened},
        {"second file missing", packet, std::nullopt, kCompareSecondUnopened},
        {"188 against 376 bytes", packet, Filled(376, 0x11), kCompareSizesDiffer},
        {"equal size, the last byte differs", packet, LastByteChanged(packet), kCompareContentsDiffer},
        {"32000 equal bytes are accepted", Filled(32000, 0x5A), Filled(32000, 0x5A), kCompareEqual},
        {"32000 bytes are compared to the last one", Filled(32000, 0x5A), LastByteChanged(Filled(32000, 0x5A)),
         kCompareContentsDiffer},
        {"32001 equal bytes are refused", Filled(32001, 0x5A), Filled(32001, 0x5A), kCompareTooLarge},
        {"32001 bytes are refused unread: contents that differ everywhere do not matter", Filled(32001, 0x00),
         Filled(32001, 0xFF), kCompareTooLarge},
        {"a size difference is found before the size limit", Filled(32001, 0), Filled(32002, 0), kCompareSizesDiffer},
    };
    TempRoot root;
    const std::string path1 = root.Path("first.bin");
    const std::string path2 = root.Path("second.bin");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        std::remove(path1.c_str());
        std::remove(path2.c_str());
        if (c.first)
            WriteAll(path1, *c.first);
        if (c.second)
            WriteAll(path2, *c.second);
        EXPECT_EQ(CompareFiles(path1.c_str(), path2.c_str()), c.expected);
    }
    // The literal numbers of the compare results, as the transfer result codes are built from them.
    EXPECT_EQ(kCompareSizesDiffer, 3);
    EXPECT_EQ(kCompareTooLarge, 4);
    EXPECT_EQ(kCompareContentsDiffer, 7);
}

TEST(CompareFiles, FileLengthLeavesThePositionAlone) {
    TempRoot root;
    const std::string path = root.Path("length.bin");
    WriteAll(path, Filled(500, 0x47));
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fseek(f, 123, SEEK_SET), 0);
    EXPECT_EQ(FileLength(f), 500);
    EXPECT_EQ(std::ftell(f), 123);
    std::fclose(f);
}

TEST(SendFile, IsOneConfigurationPacketWrittenWholeOrReportedAsFailed) {
    TempRoot root;
    const SwitchConfig config{9999, 2, 300, 4, 1};
    std::vector<uint8_t> expected(kPacketSize);
    BuildConfigPacket(expected.data(), config);

    const struct {
        const char* legend;
        std::string path;
        bool expected;
    } cases[] = {
        {"the send file in the root directory", root.Path(kSendFileName), true},
        {"a directory that does not exist", root.Path("missing-dir/x"), false},
        {"a disk that is full: the write fails at the close", "/dev/full", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(WriteSendFile(c.path.c_str(), config), c.expected);
    }
    EXPECT_EQ(ReadAll(root.Path(kSendFileName)), expected);
    EXPECT_EQ(root.Path(kSendFileName).substr(root.Path("").size()), "CONF_KV6251.A$B");
    EXPECT_EQ(root.Path(kReadBackFileName).substr(root.Path("").size()), "CONF_KV6251.C$D");
}

TEST(TransferTexts, EveryCodeHasItsMeaning) {
    const char* const literal[kTransferCodeCount] = {
        "The configuration was uploaded, read back, and the read-back file equals the send file byte for byte.",
        "The send file cannot be written or opened for reading; no configuration was uploaded.",
        "The read-back file cannot be created.",
        "Time-out while reading the configuration back.",
        "The send file cannot be opened for the comparison.",
        "The read-back file cannot be opened for the comparison.",
        "The send file and the read-back file differ in size.",
        "The two files are of equal size but larger than 32000 bytes.",
        "No memory for the first comparison buffer.",
        "No memory for the second comparison buffer.",
        "The two files differ in content.",
        "The serial link is not connected after the upload, or after the read-back.",
    };
    for (int code = 0; code < kTransferCodeCount; ++code) {
        SCOPED_TRACE("code " + std::to_string(code));
        EXPECT_EQ(TransferResultMeaning(code), kTransferMeanings[code]);
        EXPECT_EQ(TransferResultMeaning(code), literal[code]);
    }
    for (int code : {-1, 12, 255}) {
        EXPECT_EQ(TransferResultMeaning(code), kTransferMeaningUnknown);
        EXPECT_EQ(TransferResultMeaning(code), "Unknown transfer result code.");
    }
}

TEST(TransferTexts, DetailsAddSizesOrTheFirstDifference) {
    TransferDetail sizes;
    sizes.sentSize = 188;
    sizes.readSize = 376;
    TransferDetail difference;
    difference.sentSize = difference.readSize = 188;
    difference.firstDiff = 100;
    difference.sentByte = 0x00;
    difference.readByte = 0x01;
    difference.diffCount = 1;
    char sizesLine[100];
    std::snprintf(sizesLine, sizeof sizesLine, kDetailSizesFormat, 188L, 376L);
    char differenceLine[120];
    std::snprintf(differenceLine, sizeof differenceLine, kDetailDifferenceFormat, 100L, 0u, 1u, 1L);

    const struct {
        const char* legend;
        int code;
        TransferDetail detail;
        std::string expected;
        std::string literal;
    } cases[] = {
        {"code 6 names both sizes", 6, sizes, std::string(kTransferMeanings[6]) + "\n" + sizesLine,
         "The send file and the read-back file differ in size.\nSend file: 188 bytes, read-back file: 376 bytes."},
        {"code 10 names the first difference and the count", 10, difference,
         std::string(kTransferMeanings[10]) + "\n" + differenceLine,
         "The two files differ in content.\nFirst difference at byte 100: sent 0x00, read back 0x01; differing "
         "bytes: 1."},
        {"code 3 has nothing to add", 3, sizes, kTransferMeanings[3], "Time-out while reading the configuration back."},
        {"code 6 without sizes stays one line", 6, TransferDetail{}, kTransferMeanings[6],
         "The send file and the read-back file differ in size."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(TransferResultDetails(c.code, c.detail), c.expected);
        EXPECT_EQ(TransferResultDetails(c.code, c.detail), c.literal);
    }
}

} // namespace
