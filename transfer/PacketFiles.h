// Packet files: plain sequences of 188-byte box packets, the send file and the read-back file, and
// their byte-for-byte comparison.
//
// Several transfers may run at once in one root directory (a window and command lines, each on a
// port of its own). Each transfer therefore uploads from, records into and compares files of its
// own (TransferFiles), which no other transfer opens. The files a user may look at keep their
// fixed names and are only ever replaced whole: the send file holds the packet of the latest Send,
// the read-back file what the latest read-back left, and it is gone after a Send's comparison.
#pragma once

#include "protocol/SwitchConfig.h"
#include "transfer/TransferResult.h"

#include <cstdio>
#include <string>
#include <string_view>

inline constexpr const char* kSendFileName = "\\CONF_KV6251.A$B";
inline constexpr const char* kReadBackFileName = "\\CONF_KV6251.C$D";

inline constexpr long kCompareLimitBytes = 32000;

// Compare results of CompareFiles.
inline constexpr int kCompareEqual = 0;
inline constexpr int kCompareFirstUnopened = 1;
inline constexpr int kCompareSecondUnopened = 2;
inline constexpr int kCompareSizesDiffer = 3;
inline constexpr int kCompareTooLarge = 4;
inline constexpr int kCompareNoMemoryFirst = 5;
inline constexpr int kCompareNoMemorySecond = 6;
inline constexpr int kCompareContentsDiffer = 7;

// 0 equal; 1/2 first/second cannot be opened; 3 sizes differ; 4 above 32000 bytes;
// 5/6 no memory for the first/second buffer; 7 contents differ.
int CompareFiles(const char* path1, const char* path2);
// The same, filling detail (when given) with both sizes and, for different contents, the first
// difference and how many bytes differ.
int CompareFilesDetailed(const char* path1, const char* path2, TransferDetail* detail);
// The same with the first file's content given: the bytes a Send would upload, say.
int CompareBytesWithFile(std::string_view bytes, const char* path, TransferDetail* detail);
// The size of an open file; its position is kept. -1 when it cannot be taken.
long FileLength(FILE* file);

// Creates the file with one configuration packet: true when all 188 bytes were written and the
// file closed without error.
bool WriteSendFile(const char* path, const SwitchConfig& config);

// The packet files of one transfer: its own send and read-back files in the root directory,
// ".CONF_KV6251.A$B.<pid>-<n>" and ".CONF_KV6251.C$D.<pid>-<n>", created by whoever writes them
// first and removed when the transfer ends. Leftovers of a transfer that was killed are removed by
// a later one once they are an hour old. Paths are empty when there is no usable root directory,
// so every open of them fails.
class TransferFiles {
public:
    TransferFiles();
    ~TransferFiles();
    TransferFiles(const TransferFiles&) = delete;
    TransferFiles& operator=(const TransferFiles&) = delete;

    const char* Send() const { return send_.c_str(); }
    const char* ReadBack() const { return readBack_.c_str(); }

    // The send file under its fixed name is replaced, whole, by content. False (with the fixed
    // name's path) when it cannot be.
    bool PublishSend(std::string_view content, std::string* publicPath) const;
    // The read-back file under its fixed name becomes this transfer's read-back file, when this
    // transfer recorded one.
    void PublishReadBack() const;
    // After a comparison nobody needs a read-back file: the one under the fixed name goes.
    void RemovePublishedReadBack() const;

private:
    std::string send_, readBack_;
};
