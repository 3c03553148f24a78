// What a transfer with the box ended with: the transfer result code 0..11 that the operator reads
// as "Process successful!" or "Error n", what each code means, and the facts a technician needs
// beyond the code (the sizes compared, the first differing byte).
//
// Send, Get and Check all give these codes, so the window and the command line show one meaning
// for one number whatever the operation.
#pragma once

#include <string>

// Transfer result codes.
inline constexpr int kTransferOk = 0;
inline constexpr int kTransferSendFile = 1;        // send file not written or not readable
inline constexpr int kTransferReadBackCreate = 2;  // the read-back file cannot be created
inline constexpr int kTransferTimeOut = 3;         // the box did not answer the read command in time
inline constexpr int kTransferCompareOffset = 3;   // compare result n gives code n + 3
inline constexpr int kTransferSizesDiffer = 6;     // compare result 3
inline constexpr int kTransferContentsDiffer = 10; // compare result 7
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

// What a technician needs beyond the result code.
struct TransferDetail {
    std::string unwrittenSendFile; // the send file's path, when it could not be written whole
    bool uploaded = false;         // a configuration packet went to the box
    long sentSize = -1;            // size of the send file, when compared
    long readSize = -1;            // size of the read-back file, when compared
    long firstDiff = -1;           // offset of the first differing byte (code 10)
    int sentByte = -1;             // its value in the send file
    int readByte = -1;             // its value in the read-back file
    long diffCount = 0;            // how many bytes differ
};

// "Process successful!" for 0, "Error n" otherwise.
std::string TransferResultText(int code);
// One line that explains a transfer result code.
std::string TransferResultMeaning(int code);
// The details line(s) for the message box: the meaning, plus sizes or the first difference, and
// the send file that could not be written.
std::string TransferResultDetails(int code, const TransferDetail& detail);
