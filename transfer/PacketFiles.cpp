#include "transfer/PacketFiles.h"

#include "platform/AtomicWrite.h"
#include "platform/RootDir.h"
#include "protocol/BoxPacket.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <new>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The comparison buffers are a little larger than the files they hold.
constexpr size_t kCompareBufferSlack = 10;

// A transfer lasts seconds; a file of one that is this old belongs to a transfer that was killed.
constexpr auto kLeftoverAge = std::chrono::hours(1);

// The hidden files of transfers (and of the atomic replacement of the send file) all begin so.
constexpr std::string_view kPrivatePrefix = ".CONF_KV6251.";

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

// Compares first (a stream it closes; null when it could not be opened) with the file at path.
int CompareWithFile(FILE* first, const char* path, TransferDetail* detail) {
    if (!first)
        return kCompareFirstUnopened;
    FILE* second = std::fopen(path, "rb");
    if (!second) {
        std::fclose(first);
        return kCompareSecondUnopened;
    }
    const int result = CompareOpenFiles(first, second, detail);
    std::fclose(first);
    std::fclose(second);
    return result;
}

// This transfer's own name for a fixed name: hidden, with the process and a counter, so that no
// two transfers, in this process or another, ever share one.
std::string PrivatePath(std::string_view fixedName) {
    static std::atomic<unsigned> counter{0};
    while (!fixedName.empty() && (fixedName.front() == '\\' || fixedName.front() == '/'))
        fixedName.remove_prefix(1);
    const std::string name = "." + std::string(fixedName) + "." + std::to_string(::getpid()) + "-" +
                             std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
    return RootPath(name);
}

// Removes what killed transfers left behind. Only old files: one of a transfer running now (in
// this or another process, or in another pid namespace sharing the folder) is never touched.
void RemoveLeftovers(const std::string& root) {
    if (root.empty())
        return;
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().rfind(kPrivatePrefix, 0) != 0)
            continue;
        std::error_code ignored;
        const auto written = fs::last_write_time(it->path(), ignored);
        if (!ignored && now - written > kLeftoverAge && fs::is_regular_file(it->symlink_status(ignored)))
            fs::remove(it->path(), ignored);
    }
}

} // namespace

int CompareFilesDetailed(const char* path1, const char* path2, TransferDetail* detail) {
    return CompareWithFile(std::fopen(path1, "rb"), path2, detail);
}

int CompareBytesWithFile(std::string_view bytes, const char* path, TransferDetail* detail) {
    // A stream over the bytes, so that they are compared by the very code that compares files.
    return CompareWithFile(::fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb"), path, detail);
}

int CompareFiles(const char* path1, const char* path2) {
    return CompareFilesDetailed(path1, path2, nullptr);
}

long FileLength(FILE* file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    const long size = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return size;
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

TransferFiles::TransferFiles() : send_(PrivatePath(kSendFileName)), readBack_(PrivatePath(kReadBackFileName)) {
    RemoveLeftovers(RootDir());
}

TransferFiles::~TransferFiles() {
    if (!send_.empty())
        ::unlink(send_.c_str());
    if (!readBack_.empty())
        ::unlink(readBack_.c_str());
}

bool TransferFiles::PublishSend(std::string_view content, std::string* publicPath) const {
    const std::string path = RootPath(kSendFileName);
    if (publicPath)
        *publicPath = path;
    // A whole new file renamed into place: a transfer starting now in another process never sees
    // it half written, and nobody ever writes into a send file another transfer may be reading.
    return WriteFileAtomically(path, content, nullptr);
}

void TransferFiles::PublishReadBack() const {
    // rename() replaces the name in one step; when this transfer recorded nothing it fails
    // harmlessly and the read-back file under the fixed name stays as it was.
    if (!readBack_.empty())
        (void)std::rename(readBack_.c_str(), RootPath(kReadBackFileName).c_str());
}

void TransferFiles::RemovePublishedReadBack() const {
    const std::string path = RootPath(kReadBackFileName);
    if (!path.empty())
        ::unlink(path.c_str());
}
