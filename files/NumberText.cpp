#include "files/NumberText.h"

#include <algorithm>

namespace {

// The C library's isspace() in the "C" locale, without depending on the process locale.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

uint16_t TextToU16(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Only the low 16 bits survive the truncation, so the digits are accumulated modulo 65536
    // in unsigned arithmetic: a digit string of any length neither overflows nor changes them.
    uint32_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i)
        value = (value * 10u + static_cast<uint32_t>(text[i] - '0')) & 0xFFFFu;
    if (negative)
        value = (0x10000u - value) & 0xFFFFu;
    return static_cast<uint16_t>(value);
}

// Since C++20 the conversion to a signed type is defined as modulo 2^16.
int16_t TextToI16(std::string_view text) {
    return static_cast<int16_t>(TextToU16(text));
}

bool ParseDecimal(std::string_view text, uint32_t* value) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return false;
        v = std::min<uint64_t>(v * 10 + static_cast<uint64_t>(c - '0'), UINT32_MAX);
    }
    *value = static_cast<uint32_t>(v);
    return true;
}
