// Fuzz target for the .swi parser.
//
// The input is copied into a heap block of exactly its size, and everything past the 50 bytes
// the parser may look at is poisoned, so AddressSanitizer stops any read beyond either limit.
// Besides not crashing, the parser must agree with the C library's token splitting on the
// same bytes, and what it parses must survive a format-and-parse round trip.
#include "files/SwiFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sanitizer/asan_interface.h>
#include <string>
#include <vector>

namespace {

// ":" three times, then "\n" twice, on a zero-terminated copy of the first 50 bytes.
int ReferenceFields(const uint8_t* data, size_t size, long long values[5], bool* overflow) {
    std::vector<char> text(data, data + (size < kSwiReadLimit ? size : kSwiReadLimit));
    text.push_back('\0');
    const char* separators[] = {":", ":", ":", "\n", "\n"};
    char* save = nullptr;
    int fields = 0;
    for (; fields < 5; ++fields) {
        char* token = ::strtok_r(fields == 0 ? text.data() : nullptr, separators[fields], &save);
        if (!token)
            break;
        errno = 0;
        values[fields] = std::strtoll(token, nullptr, 10);
        if (errno == ERANGE)
            *overflow = true;
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
    if (size > 0)
        std::memcpy(copy.get(), data, size);
    if (size > kSwiReadLimit)
        ASAN_POISON_MEMORY_REGION(copy.get() + kSwiReadLimit, size - kSwiReadLimit);
    SwiParseResult parsed = ParseSwi(copy.get(), size);
    if (size > kSwiReadLimit)
        ASAN_UNPOISON_MEMORY_REGION(copy.get() + kSwiReadLimit, size - kSwiReadLimit);

    if (parsed.fields < 0 || parsed.fields > 5)
        std::abort();

    long long values[5] = {};
    bool overflow = false;
    if (ReferenceFields(data, size, values, &overflow) != parsed.fields)
        std::abort();
    if (parsed.Complete() && !overflow) {
        SwitchConfig expected{static_cast<uint16_t>(values[0]), static_cast<uint16_t>(values[1]),
                              static_cast<uint16_t>(values[2]), static_cast<uint16_t>(values[3]),
                              static_cast<int16_t>(static_cast<uint16_t>(values[4]))};
        if (!(parsed.config == expected))
            std::abort();
    }

    if (parsed.Complete()) {
        std::string text = FormatSwi(parsed.config);
        if (text.size() > 31)
            std::abort();
        SwiParseResult again = ParseSwi(text.data(), text.size());
        if (!again.Complete() || !(again.config == parsed.config))
            std::abort();
    }
    return 0;
}
