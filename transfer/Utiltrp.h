// Box transfer: packets, the packet files, the upload with its verification and the read-back,
// and the two operations built on them that the window, the command line and the benchmark run:
// SendSwitchConfig() and GetSwitchConfig().
//
// Everything here runs on one thread (the window's GUI thread, the command line's main thread) and talks to the box
// through the link (link/Ser921.h): SendPacket() to write, TakePacket() to take what the receiver thread stored. Packet
// files are plain sequences of 188-byte packets. Paths given to these functions are real paths; the fixed names below
// are mapped with RootPath() (platform/RootDir.h).
#pragma once

#include "protocol/BoxPacket.h" // building, testing and unpacking packets
#include "protocol/PacketAlign.h"
#include "protocol/SwitchConfig.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

inline constexpr const char* kSendFileName = "\\CONF_KV6251.A$B";
inline constexpr const char* kReadBackFileName = "\\CONF_KV6251.C$D";

// The rhythm of the exchange with the box.
inline constexpr int kFlushSleepMs = 10;   // FlushLink takes at most one packet per sleep
inline constexpr int kFlushLimitMs = 2000; // a box that keeps talking cannot hold FlushLink longer
// A whole Send or Get against a box that never falls silent ends within this: once it is spent,
// flushes stop draining and packet waits time out at once. A box that answers never comes near it.
inline constexpr int kOperationLimitMs = 4000;
inline constexpr int kFlushCommandsBeforeUpload = 5;
inline constexpr int kUploadCommands = 3;
inline constexpr int kUploadPauseMs = 1000; // the box needs this before the uploaded packets
inline constexpr int kReadCommands = 5;
inline constexpr int kPacketWaitSleepMs = 5; // one packet wait: at most 50 sleeps of 5 ms
inline constexpr int kPacketWaitSleeps = 50;
inline constexpr int kReadBackPacketLimit = 2000; // packets taken without a whole cycle: time-out
inline constexpr long kCompareLimitBytes = 32000;

// Read results of ReadConfigurationToFile.
inline constexpr int kReadDone = 0;
inline constexpr int kReadCannotCreate = 1;
inline constexpr int kReadTimeOut = 2;

// Compare results of CompareFiles.
inline constexpr int kCompareEqual = 0;
inline constexpr int kCompareFirstUnopened = 1;
inline constexpr int kCompareSecondUnopened = 2;
inline constexpr int kCompareSizesDiffer = 3;
inline constexpr int kCompareTooLarge = 4;
inline constexpr int kCompareNoMemoryFirst = 5;
inline constexpr int kCompareNoMemorySecond = 6;
inline constexpr int kCompareContentsDiffer = 7;

// Transfer result codes (what the operator sees as "Error %d").
inline constexpr int kTransferOk = 0;
inline constexpr int kTransferSendFile = 1;       // send file not written or not readable
inline constexpr int kTransferReadBackCreate = 2; // read result 1
inline constexpr int kTransferTimeOut = 3;        // read result 2
inline constexpr int kTransferCompareOffset = 3;  // compare result n gives code n + 3
inline constexpr int kTransferSizesDiffer = kCompareSizesDiffer + kTransferCompareOffset;       // 6
inline constexpr int kTransferContentsDiffer = kCompareContentsDiffer + kTransferCompareOffset; // 10
inline constexpr int kTransferNotConnected = 11;
inline constexpr int kTransferCodeCount = 12;

// What the operator reads for a transfer result code: success, or the code.
inline constexpr const char* kMsgProcessSuccessful = "Process successful!";
inline constexpr const char* kMsgErrorCode = "Error %d";

// What each transfer result code means, in one line for the message box's details.
inline constexpr const char* kTransferMeanings[kTransferCodeCount] = {
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
inline constexpr const char* kTransferMeaningUnknown = "Unknown transfer result code.";
// Extra lines: sizes for code 6, the first difference for code 10 (printf formats).
inline constexpr const char* kDetailSizesFormat = "Send file: %ld bytes, read-back file: %ld bytes.";
inline constexpr const char* kDetailDifferenceFormat =
    "First difference at byte %ld: sent 0x%02X, read back 0x%02X; differing bytes: %ld.";
inline constexpr const char* kDetailSendFileFormat = "The send file %s could not be written whole.";

// Writes one flush command, then drains the ring (bounded: gives up after 2 s of traffic).
void FlushLink();

// Uploads a packet file: 0 done, 1 the file cannot be opened.
inline constexpr int kSendFileDone = 0;
inline constexpr int kSendFileUnopened = 1;
int SendPacketFile(const char* path);
// 0 equal; 1/2 first/second cannot be opened; 3 sizes differ; 4 above 32000 bytes;
// 5/6 no memory for the first/second buffer; 7 contents differ.
int CompareFiles(const char* path1, const char* path2);
long FileLength(FILE* file);

// Read results: 0 a whole cycle recorded, 1 the file cannot be created, 2 time-out.
int ReadConfigurationToFile(const char* path);

// What a technician needs beyond the result code.
struct TransferDetail {
    std::string unwrittenSendFile; // the send file's path, when it could not be written whole
    long sentSize = -1;            // size of the send file, when compared
    long readSize = -1;            // size of the read-back file, when compared
    long firstDiff = -1;           // offset of the first differing byte (code 10)
    int sentByte = -1;             // its value in the send file
    int readByte = -1;             // its value in the read-back file
    long diffCount = 0;            // how many bytes differ
};

// Transfer result code 0..11 (see TransferResultMeaning).
int UploadAndVerify(const char* sendPath, TransferDetail* detail = nullptr);

// Creates the send file with one configuration packet: true when all 188 bytes were written
// and the file closed without error.
bool WriteSendFile(const char* path, const SwitchConfig& config);

// The transfer result code of a read-back: 11 when the link is down afterwards, else 2 for read
// result 1, 3 for read result 2 and 0 for a recorded cycle.
int ReadBackCode(int read);

// ---- the two operations -------------------------------------------------------------------

// The steps of a Send, as they begin.
enum class TransferStep { Flushing, Uploading, Waiting, ReadingBack, Comparing };
// "flushing", "uploading", "waiting", "reading back", "comparing".
const char* TransferStepName(TransferStep step);
// Called at the start of each step of every Send that follows (empty: nobody is told).
void SetTransferProgress(std::function<void(TransferStep)> progress);

// Send: writes the configuration packet to the send file in the root directory, uploads it, reads
// the box's configuration back and compares it byte for byte. The transfer result code 0..11;
// detail (when given) receives what the code rests on. A send file that cannot be written whole
// is never uploaded (code 1).
int SendSwitchConfig(const SwitchConfig& config, TransferDetail* detail = nullptr);

// Get: reads the box's configuration back into the read-back file in the root directory and
// unpacks its first packet. A read result: 0 with *config set; 1 the read-back file cannot be
// created or read again; 2 time-out. *config is not touched unless 0.
int GetSwitchConfig(SwitchConfig* config);

// ---- texts ---------------------------------------------------------------------------------

// "Process successful!" for 0, "Error n" otherwise.
std::string TransferResultText(int code);
// One line that explains a transfer result code.
std::string TransferResultMeaning(int code);
// The details line(s) for the message box: the meaning, plus sizes or the first difference, and
// the send file that could not be written.
std::string TransferResultDetails(int code, const TransferDetail& detail);
