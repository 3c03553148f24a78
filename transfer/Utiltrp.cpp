#include "transfer/Utiltrp.h"

#include "link/Ser921.h"
#include "platform/RootDir.h"
#include "platform/Timing.h"

#include <memory>
#include <new>
#include <string_view>

namespace {

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

int UploadAndVerify(const char* sendPath, const char* readBackPath, TransferDetail* detail) {
    if (detail)
        *detail = TransferDetail{};
    OperationBudget budget;

    int result = SendPacketFile(sendPath);
    if (detail)
        detail->uploaded = result == kSendFileDone;
    if (!IsConnected())
        result = kTransferNotConnected;
    if (result == kTransferOk) {
        Announce(TransferStep::ReadingBack);
        result = ReadBackCode(ReadConfigurationToFile(readBackPath));
    }
    if (result == kTransferOk) {
        Announce(TransferStep::Comparing);
        const int compared = CompareFilesDetailed(sendPath, readBackPath, detail);
        result = compared == kCompareEqual ? kTransferOk : compared + kTransferCompareOffset;
        std::remove(readBackPath);
    }
    return result;
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
    uint8_t packet[kPacketSize];
    BuildConfigPacket(packet, config);
    // The upload and the comparison use this transfer's own send file; the one under the fixed
    // name is for whoever looks. A send file that could not be written whole is never uploaded:
    // the box would receive a stale or partial configuration.
    const TransferFiles files;
    std::string publicPath;
    if (!WriteSendFile(files.Send(), config) ||
        !files.PublishSend(std::string_view(reinterpret_cast<const char*>(packet), kPacketSize), &publicPath)) {
        detail->unwrittenSendFile = publicPath;
        return kTransferSendFile;
    }
    const int result = UploadAndVerify(files.Send(), files.ReadBack(), detail);
    const bool compared = result == kTransferOk || (result > kTransferCompareOffset && result < kTransferNotConnected);
    if (compared)
        files.RemovePublishedReadBack();
    else
        files.PublishReadBack(); // what a failed read-back recorded, for whoever looks into it
    return result;
}

int GetSwitchConfig(SwitchConfig* config) {
    const TransferFiles files;
    const int read = ReadConfigurationToFile(files.ReadBack());
    // Zeroed, so that a short file leaves no configuration packet in the buffer.
    uint8_t packet[kPacketSize] = {};
    if (read == kReadDone) {
        FILE* file = std::fopen(files.ReadBack(), "rb");
        if (file) {
            const size_t got = std::fread(packet, 1, sizeof packet, file);
            (void)got; // a short file leaves zeros behind, which are no configuration packet
            std::fclose(file);
        }
    }
    files.PublishReadBack();
    const int code = ReadBackCode(read);
    if (code != kTransferOk)
        return code;
    // Only the first packet counts; the rest of the cycle is not looked at.
    if (!IsConfigPacket(packet))
        return kTransferReadBackCreate;
    *config = UnpackConfigPacket(packet);
    return kTransferOk;
}

int CheckSwitchConfig(const SwitchConfig& wanted, CheckOutcome* outcome) {
    CheckOutcome scratch;
    if (!outcome)
        outcome = &scratch;
    *outcome = CheckOutcome{};
    BuildConfigPacket(outcome->wanted.data(), wanted);
    const TransferFiles files;
    const int code = ReadBackCode(ReadConfigurationToFile(files.ReadBack()));
    if (code != kTransferOk)
        return code;
    if (FILE* file = std::fopen(files.ReadBack(), "rb")) {
        outcome->read = std::fread(outcome->box.data(), 1, kPacketSize, file) == static_cast<size_t>(kPacketSize);
        std::fclose(file);
    }
    const std::string_view wantedBytes(reinterpret_cast<const char*>(outcome->wanted.data()), kPacketSize);
    const int compared = CompareBytesWithFile(wantedBytes, files.ReadBack(), &outcome->detail);
    if (compared == kCompareEqual)
        return kCheckSame;
    if (compared == kCompareSizesDiffer || compared == kCompareContentsDiffer)
        return kCheckDiffers;
    return compared + kTransferCompareOffset;
}
