// Just enough JSON for the command line's --json output: one object, written front to back.
//
// Strings are escaped as RFC 8259 asks; bytes that are not valid UTF-8 (a device path may hold
// any bytes) become U+FFFD, so the output always parses.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

class JsonWriter {
public:
    JsonWriter& BeginObject() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& BeginArray() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }

    JsonWriter& Key(std::string_view name) {
        Separate();
        Quote(name);
        out_ += ':';
        afterKey_ = true;
        return *this;
    }
    JsonWriter& String(std::string_view text) {
        Separate();
        Quote(text);
        return *this;
    }
    JsonWriter& Number(long long value) {
        Separate();
        out_ += std::to_string(value);
        return *this;
    }
    JsonWriter& Bool(bool value) {
        Separate();
        out_ += value ? "true" : "false";
        return *this;
    }
    JsonWriter& Null() {
        Separate();
        out_ += "null";
        return *this;
    }

    const std::string& Text() const { return out_; }

private:
    JsonWriter& Open(char bracket) {
        Separate();
        out_ += bracket;
        first_ = true;
        return *this;
    }
    JsonWriter& Close(char bracket) {
        out_ += bracket;
        first_ = false;
        return *this;
    }
    // A comma before every element but the first of its container, and none after a key.
    void Separate() {
        if (afterKey_)
            afterKey_ = false;
        else if (!first_)
            out_ += ',';
        first_ = false;
    }

    // Length of the valid UTF-8 sequence at text[i], or 0 when the bytes there are not one.
    static size_t Utf8Length(std::string_view text, size_t i) {
        const auto b = static_cast<uint8_t>(text[i]);
        const size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > text.size())
            return 0;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80)
                return 0;
        return n;
    }

    void Quote(std::string_view text) {
        out_ += '"';
        for (size_t i = 0; i < text.size();) {
            const char c = text[i];
            const size_t n = Utf8Length(text, i);
            if (n == 0) {
                out_ += "\uFFFD";
                ++i;
                continue;
            }
            if (n > 1) {
                out_.append(text.substr(i, n));
                i += n;
                continue;
            }
            ++i;
            switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\t':
                out_ += "\\t";
                break;
            default:
                if (static_cast<uint8_t>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out_ += escaped;
                } else {
                    out_ += c;
                }
            }
        }
        out_ += '"';
    }

    std::string out_;
    bool first_ = true;
    bool afterKey_ = false;
};
