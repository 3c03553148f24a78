#include "transfer/Utiltrp.h"

#include "link/Ser921.h"
#include "platform/RootDir.h"
#include "platform/Timing.h"

#include <memory>
#include <new>
#include <string_view>

namespace {

// The comparison buffers are a little larger than the files they hold.
constexpr size_t kCompareBufferSlack = 10;

// The deadline of the Send or Get in progress (0: none). Each bounded step alone would let a
// babbling box hold the window for three flushes and a full reception; the budget caps the sum.
// GUI thread only, like every transfer.
int64_t g_operationDeadline = 0;

class OperationBudget {
public:
    OperationBudget() : owner_(g_operationDeadline == 0) {
        if (owner_)
            g_operationDeadline = NowMs() + kOperationLimitMs;
    }
    ~OperationBudget() {
        if (owner_)
            g_operationDeadline = 0;
    }
    OperationBudget(const OperationBudget&) = delete;
    OperationBudget& operator=(const OperationBudget&) = delete;

private:
    bool owner_;
};

std::function<void(TransferStep)>& Progress() {
    static std::function<void(TransferStep)> progress;
    return progress;
}

void Announce(TransferStep step) {
    if (Progress())
        Progress()(step);
}

bool BudgetSpent() {
    return g_operationDeadline != 0 && NowMs() >= g_operationDeadline;
}

void SendCommand(CommandKind kind, int times) {
    uint8_t packet[kPacketSize];
    BuildCommandPacket(packet, kind);
    for (int i = 0; i < times; ++i)
        SendPacket(packet);
}

// One packet wait: true with a packet in hand, false after 50 sleeps of 5 ms without one.
// Every wait counts afresh, so the limit bounds the silence before each packet.
bool WaitPacket(uint8_t* packet) {
    for (int sleeps = 0; sleeps < kPacketWaitSleeps && !BudgetSpent(); ++sleeps) {
        if (TakePacket(packet))
            return true;
        SleepMs(kPacketWaitSleepMs);
    }
    return false;
}

// Records one cycle of the box's answer: the first configuration packet and everything after it
// up to the next configuration packet. A box that keeps talking without ever closing a cycle
// would hold the GUI thread and grow the file without end, so the packets taken are counted.
int ReceiveCycle(FILE* file) {
    uint8_t packet[kPacketSize];
    bool recording = false;
    for (int taken = 0; taken < kReadBackPacketLimit; ++taken) {
        if (!WaitPacket(packet))
            return kReadTimeOut;
        if (IsConfigPacket(packet)) {
            if (recording)
                return kReadDone; // the next cycle begins; its first packet is not kept
            recording = true;
        }
        if (recording)
            std::fwrite(packet, 1, kPacketSize, file);
    }
    return kReadTimeOut;
}

// Compares two open files; fills detail with the sizes and, for different contents, the first
// difference.
int CompareOpenFiles(FILE* first, FILE* second, TransferDetail* detail) {
    const long size1 = FileLength(first);
    const long size2 = FileLength(second);
    // A size that cannot be taken leaves nothing to compare: the file is unusable.
    if (size1 < 0)
        return kCompareFirstUnopened;
    if (size2 < 0)
        return kCompareSecondUnopened;
    if (detail) {
        detail->sentSize = size1;
        detail->readSize = size2;
    }
    if (size1 != size2)
        return kCompareSizesDiffer;
    // Checked before anything is allocated or read: a long read-back costs no memory.
    if (size1 > kCompareLimitBytes)
        return kCompareTooLarge;

    const size_t size = static_cast<size_t>(size1);
    // Zero-filled, so that no byte is compared that was not read.
    std::unique_ptr<uint8_t[]> buffer1(new (std::nothrow) uint8_t[size + kCompareBufferSlack]());
    if (!buffer1)
        return kCompareNoMemoryFirst;
    std::unique_ptr<uint8_t[]> buffer2(new (std::nothrow) uint8_t[size + kCompareBufferSlack]());
    if (!buffer2)
        return kCompareNoMemorySecond;

    // A file that yields fewer bytes than its size (it shrank, or a read failed) cannot be
    // confirmed equal.
    if (std::fread(buffer1.get(), 1, size, first) != size || std::fread(buffer2.get(), 1, size, second) != size)
        return kCompareContentsDiffer;

    long differing = 0;
    for (size_t i = 0; i < size; ++i) {
        if (buffer1[i] == buffer2[i])
            continue;
        if (differing == 0 && detail) {
            detail->firstDiff = static_cast<long>(i);
            detail->sentByte = buffer1[i];
            detail->readByte = buffer2[i];
        }
        ++differing;
    }
    if (detail)
        detail->diffCount = differing;
    return differing == 0 ? kCompareEqual : kCompareContentsDiffer;
}

int CompareFilesDetailed(const char* path1, const char* path2, TransferDetail* detail) {
    FILE* first = std::fopen(path1, "rb");
    if (!first)
        return kCompareFirstUnopened;
    FILE* second = std::fopen(path2, "rb");
    if (!second) {
        std::fclose(first);
        return kCompareSecondUnopened;
    }
    const int result = CompareOpenFiles(first, second, detail);
    std::fclose(first);
    std::fclose(second);
    return result;
}

} // namespace

void FlushLink() {
    const int64_t start = NowMs();
    uint8_t packet[kPacketSize];
    BuildCommandPacket(packet, CommandKind::Flush);
    SendPacket(packet);
    // The flush command silences the box; until then take at most one packet per sleep. A box
    // that does not fall silent is given up on after kFlushLimitMs.
    do
        SleepMs(kFlushSleepMs);
    while (TakePacket(packet) && NowMs() - start < kFlushLimitMs && !BudgetSpent());
}

int SendPacketFile(const char* path) {
    int result = kSendFileDone;
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        result = kSendFileUnopened;
    } else {
        Announce(TransferStep::Flushing);
        SendCommand(CommandKind::Flush, kFlushCommandsBeforeUpload);
        FlushLink();
        Announce(TransferStep::Uploading);
        SendCommand(CommandKind::Upload, kUploadCommands);
        Announce(TransferStep::Waiting);
        SleepMs(kUploadPauseMs);
        // Whole packets back to back; a short remainder at the end is not a packet.
        uint8_t packet[kPacketSize];
        while (std::fread(packet, 1, kPacketSize, file) == static_cast<size_t>(kPacketSize))
            SendPacket(packet);
        std::fclose(file);
    }
    FlushLink();
    return result;
}

long FileLength(FILE* file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    const long size = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return size;
}

int CompareFiles(const char* path1, const char* path2) {
    return CompareFilesDetailed(path1, path2, nullptr);
}

int ReadConfigurationToFile(const char* path) {
    OperationBudget budget;
    int result = kReadDone;
    FlushLink();
    FILE* file = std::fopen(path, "w+b");
    if (!file) {
        result = kReadCannotCreate;
    } else {
        SendCommand(CommandKind::Read, kReadCommands);
        result = ReceiveCycle(file);
        // A cycle that could not be written whole is no recorded cycle: whoever reads the file
        // next would take a truncated packet for the box's configuration.
        const bool writeFailed = std::ferror(file) != 0;
        const bool closeFailed = std::fclose(file) != 0;
        if (result == kReadDone && (writeFailed || closeFailed))
            result = kReadCannotCreate;
    }
    FlushLink();
    return result;
}

int UploadAndVerify(const char* sendPath, TransferDetail* detail) {
    if (detail)
        *detail = TransferDetail{};
    const std::string readBackPath = RootPath(kReadBackFileName);
    OperationBudget budget;

    int result = SendPacketFile(sendPath);
    if (!IsConnected())
        result = kTransferNotConnected;
    if (result == kTransferOk) {
        Announce(TransferStep::ReadingBack);
        result = ReadBackCode(ReadConfigurationToFile(readBackPath.c_str()));
    }
    if (result == kTransferOk) {
        Announce(TransferStep::Comparing);
        const int compared = CompareFilesDetailed(sendPath, readBackPath.c_str(), detail);
        result = compared == kCompareEqual ? kTransferOk : compared + kTransferCompareOffset;
        std::remove(readBackPath.c_str());
    }
    return result;
}

bool WriteSendFile(const char* path, const SwitchConfig& config) {
    FILE* file = std::fopen(path, "w+b");
    if (!file)
        return false;
    uint8_t packet[kPacketSize];
    BuildConfigPacket(packet, config);
    const bool whole = std::fwrite(packet, 1, kPacketSize, file) == static_cast<size_t>(kPacketSize);
    // Buffered bytes reach the disk only at the close; a full disk shows up there.
    const bool closed = std::fclose(file) == 0;
    return whole && closed;
}

int ReadBackCode(int read) {
    if (!IsConnected())
        return kTransferNotConnected;
    if (read == kReadCannotCreate)
        return kTransferReadBackCreate;
    if (read == kReadTimeOut)
        return kTransferTimeOut;
    return kTransferOk;
}

const char* TransferStepName(TransferStep step) {
    switch (step) {
    case TransferStep::Flushing:
        return "flushing";
    case TransferStep::Uploading:
        return "uploading";
    case TransferStep::Waiting:
        return "waiting";
    case TransferStep::ReadingBack:
        return "reading back";
    case TransferStep::Comparing:
        break;
    }
    return "comparing";
}

void SetTransferProgress(std::function<void(TransferStep)> progress) {
    Progress() = std::move(progress);
}

int SendSwitchConfig(const SwitchConfig& config, TransferDetail* detail) {
    TransferDetail scratch;
    if (!detail)
        detail = &scratch;
    *detail = TransferDetail{};
    const std::string sendPath = RootPath(kSendFileName);
    // A send file that could not be written whole is never uploaded: the box would receive a
    // stale or partial configuration.
    if (!WriteSendFile(sendPath.c_str(), config)) {
        detail->unwrittenSendFile = sendPath;
        return kTransferSendFile;
    }
    return UploadAndVerify(sendPath.c_str(), detail);
}

int GetSwitchConfig(SwitchConfig* config) {
    const std::string readBackPath = RootPath(kReadBackFileName);
    const int read = ReadConfigurationToFile(readBackPath.c_str());
    if (read != kReadDone)
        return read;
    // Zeroed, so that a short file leaves no configuration packet in the buffer.
    uint8_t packet[kPacketSize] = {};
    FILE* file = std::fopen(readBackPath.c_str(), "rb");
    if (!file)
        return kReadCannotCreate;
    const size_t got = std::fread(packet, 1, sizeof packet, file);
    std::fclose(file);
    (void)got; // a short file leaves zeros behind, which are no configuration packet
    // Only the first packet counts; the rest of the cycle is not looked at.
    if (!IsConfigPacket(packet))
        return kReadCannotCreate;
    *config = UnpackConfigPacket(packet);
    return kReadDone;
}

std::string TransferResultText(int code) {
    if (code == kTransferOk)
        return kMsgProcessSuccessful;
    char text[24];
    std::snprintf(text, sizeof text, kMsgErrorCode, code);
    return text;
}

std::string TransferResultMeaning(int code) {
    if (code < 0 || code >= kTransferCodeCount)
        return kTransferMeaningUnknown;
    return kTransferMeanings[code];
}

std::string TransferResultDetails(int code, const TransferDetail& detail) {
    std::string text = TransferResultMeaning(code);
    char line[160];
    if (code == kTransferSizesDiffer && detail.sentSize >= 0 && detail.readSize >= 0) {
        std::snprintf(line, sizeof line, kDetailSizesFormat, detail.sentSize, detail.readSize);
        text += '\n';
        text += line;
    } else if (code == kTransferContentsDiffer && detail.firstDiff >= 0) {
        std::snprintf(line, sizeof line, kDetailDifferenceFormat, detail.firstDiff,
                      static_cast<unsigned>(detail.sentByte), static_cast<unsigned>(detail.readByte), detail.diffCount);
        text += '\n';
        text += line;
    }
    if (!detail.unwrittenSendFile.empty()) {
        // Spliced rather than printed: a path has no length limit.
        const std::string_view format = kDetailSendFileFormat;
        const size_t at = format.find("%s");
        text += '\n';
        text.append(format.substr(0, at)).append(detail.unwrittenSendFile).append(format.substr(at + 2));
    }
    return text;
}
