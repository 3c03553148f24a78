#include "files/SwiFile.h"

#include "files/NumberText.h"
#include "platform/AtomicWrite.h"
#include "platform/ReadUpTo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kPidSeparator = ':';
constexpr char kLineEnd = '\n';

// Splits text the way the C library's token splitting does, one field at a time: separators
// before a field are skipped (so a run of them counts as one), the field runs up to the next
// separator or the end of the text, and the separator that ended it is consumed. Every field
// may use a different separator. It never looks outside [position, end).
class FieldSplitter {
public:
    FieldSplitter(const char* begin, const char* end) : position_(begin), end_(end) {}

    bool Next(char separator, std::string_view* field) {
        while (position_ < end_ && *position_ == separator)
            ++position_;
        if (position_ == end_)
            return false;
        const char* start = position_;
        while (position_ < end_ && *position_ != separator)
            ++position_;
        *field = std::string_view(start, static_cast<size_t>(position_ - start));
        if (position_ < end_)
            ++position_;
        return true;
    }

private:
    const char* position_;
    const char* end_;
};

} // namespace

std::string FormatSwi(const SwitchConfig& config) {
    char text[64];
    int n = std::snprintf(text, sizeof text, "%u:%u:%u:%u\n%d\n", static_cast<unsigned>(config.PidA),
                          static_cast<unsigned>(config.PidB), static_cast<unsigned>(config.PidC),
                          static_cast<unsigned>(config.PidD), static_cast<int>(config.Mode));
    return std::string(text, static_cast<size_t>(n));
}

SwiParseResult ParseSwi(const char* data, size_t size) {
    SwiParseResult result;
    if (data == nullptr)
        return result;
    size_t length = size < kSwiReadLimit ? size : kSwiReadLimit;
    // The text is a C string: it ends at the first zero byte, and nothing after that is read.
    if (const void* zero = std::memchr(data, '\0', length))
        length = static_cast<size_t>(static_cast<const char*>(zero) - data);

    FieldSplitter splitter(data, data + length);
    const char separators[kSwiFieldCount] = {kPidSeparator, kPidSeparator, kPidSeparator, kLineEnd, kLineEnd};
    auto& fields = result.texts;
    while (result.fields < kSwiFieldCount && splitter.Next(separators[result.fields], &fields[result.fields]))
        ++result.fields;
    if (!result.Complete())
        return result;

    result.config.PidA = TextToU16(fields[0]);
    result.config.PidB = TextToU16(fields[1]);
    result.config.PidC = TextToU16(fields[2]);
    result.config.PidD = TextToU16(fields[3]);
    result.config.Mode = TextToI16(fields[4]);
    return result;
}

SwiLoadResult LoadSwiFile(const std::string& path, SwitchConfig* config,
                          std::array<std::string, kSwiFieldCount>* texts) {
    // Read-only: opening must not need write access. Non-blocking, so that a FIFO chosen in the
    // dialog cannot hang the window; anything but a regular file is refused below.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return SwiLoadResult::CannotOpen;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = err;
        return SwiLoadResult::CannotOpen;
    }
    char text[kSwiReadLimit];
    const ssize_t got = ReadUpTo(fd, text, kSwiReadLimit);
    ::close(fd);
    if (got < 0)
        return SwiLoadResult::CannotOpen;

    SwiParseResult parsed = ParseSwi(text, static_cast<size_t>(got));
    // A mode below 0 names no output mode; taking it would leave the mode group without a
    // selection. Such a file is as unusable as one with a field missing.
    if (!parsed.Complete() || parsed.config.Mode < 0)
        return SwiLoadResult::Corrupted;
    if (config)
        *config = parsed.config;
    if (texts)
        for (int i = 0; i < kSwiFieldCount; ++i)
            (*texts)[static_cast<size_t>(i)] = std::string(parsed.texts[static_cast<size_t>(i)]);
    return SwiLoadResult::Ok;
}

bool SaveSwiFile(const std::string& path, const SwitchConfig& config, std::string* reason) {
    return WriteFileAtomically(path, FormatSwi(config), reason);
}
