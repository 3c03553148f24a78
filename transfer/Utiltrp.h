// Box transfer: the upload with its verification, the read-back, and the operations built on them
// that the window, the command line and the benchmarks run: SendSwitchConfig(), GetSwitchConfig()
// and CheckSwitchConfig().
//
// Each operation runs on one thread (the window's GUI thread, the command line's main thread) and
// talks to the box through the link (link/Ser921.h): SendPacket() to write, TakePacket() to take
// what the receiver thread stored. The packet files and their comparison are in PacketFiles.h, the
// result codes and their texts in TransferResult.h. Operations on different ports may run at once
// in different processes sharing one root directory: each works on packet files of its own.
#pragma once

#include "protocol/BoxPacket.h" // building, testing and unpacking packets
#include "protocol/SwitchConfig.h"
#include "transfer/PacketFiles.h"
#include "transfer/TransferResult.h"

#include <array>
#include <cstdint>
#include <functional>

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

// Read results of ReadConfigurationToFile.
inline constexpr int kReadDone = 0;
inline constexpr int kReadCannotCreate = 1;
inline constexpr int kReadTimeOut = 2;

// Writes one flush command, then drains the ring (bounded: gives up after 2 s of traffic).
void FlushLink();

// Uploads a packet file: 0 done, 1 the file cannot be opened.
inline constexpr int kSendFileDone = 0;
inline constexpr int kSendFileUnopened = 1;
int SendPacketFile(const char* path);

// Read results: 0 a whole cycle recorded, 1 the file cannot be created, 2 time-out.
int ReadConfigurationToFile(const char* path);

// Uploads the send file, reads the box's answer into the read-back file and compares the two; the
// read-back file is removed once compared. Transfer result code 0..11; detail (when given)
// receives what the code rests on.
int UploadAndVerify(const char* sendPath, const char* readBackPath, TransferDetail* detail = nullptr);

// The transfer result code of a read-back: 11 when the link is down afterwards, else 2 for read
// result 1, 3 for read result 2 and 0 for a recorded cycle.
int ReadBackCode(int read);

// ---- the operations ------------------------------------------------------------------------

// The steps of a Send, as they begin.
enum class TransferStep { Flushing, Uploading, Waiting, ReadingBack, Comparing };
// "flushing", "uploading", "waiting", "reading back", "comparing".
const char* TransferStepName(TransferStep step);
// Called at the start of each step of every Send that follows (empty: nobody is told).
void SetTransferProgress(std::function<void(TransferStep)> progress);

// Send: writes the configuration packet to the send file, uploads it, reads the box's
// configuration back and compares it byte for byte. The transfer result code 0..11; detail (when
// given) receives what the code rests on. A send file that cannot be written whole is never
// uploaded (code 1). Afterwards the send file under its fixed name holds the packet, and the
// read-back file under its fixed name is gone after a comparison (codes 0, 4..10) or holds what
// the read-back recorded when it failed (3, 11).
int SendSwitchConfig(const SwitchConfig& config, TransferDetail* detail = nullptr);

// Get: reads the box's configuration back and unpacks the first packet of the answer. A transfer
// result code: 0 with *config set; 2 the read-back file cannot be created or is not a
// configuration; 3 time-out; 11 the link is down. *config is not touched unless 0. The answer
// is left in the read-back file under its fixed name.
int GetSwitchConfig(SwitchConfig* config);

// Check: reads the box's configuration and compares it byte for byte with the packet a Send of
// wanted would upload, as the Send's verification does. Nothing is uploaded and no file under a
// fixed name changes.
inline constexpr int kCheckSame = 0;
inline constexpr int kCheckDiffers = 1;
struct CheckOutcome {
    TransferDetail detail;                     // the sizes and the first difference, when compared
    bool read = false;                         // the box's answer was read
    std::array<uint8_t, kPacketSize> wanted{}; // the packet a Send would upload
    std::array<uint8_t, kPacketSize> box{};    // the first packet of the box's answer, when read
};
// kCheckSame, kCheckDiffers (another configuration, or an answer of another size), or the
// transfer result code that kept the comparison from being made: 2, 3 or 11 from the read-back,
// 4, 5, 8 or 9 from the comparison itself.
int CheckSwitchConfig(const SwitchConfig& wanted, CheckOutcome* outcome);
