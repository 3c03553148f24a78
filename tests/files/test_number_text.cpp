#include "files/NumberText.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct NumberCase {
    const char* legend;
    std::string text;
    uint16_t asUnsigned;
    int16_t asSigned;
};

const NumberCase kNumberCases[] = {
    {"empty text gives 0", "", 0, 0},
    {"no digits gives 0", "abc", 0, 0},
    {"plain number", "256", 256, 256},
    {"leading zeros", "0009", 9, 9},
    {"every kind of leading blank", " \t\n\v\f\r42", 42, 42},
    {"plus sign", "+7", 7, 7},
    {"minus one wraps to the top", "-1", 65535, -1},
    {"sign then blank is no number", "- 5", 0, 0},
    {"two signs are no number", "+-5", 0, 0},
    {"digits stop at the first other character", "12abc34", 12, 12},
    {"a carriage return after the digits is ignored", "4\r", 4, 4},
    {"blank inside the number ends it", "1 2", 1, 1},
    {"largest unsigned value", "65535", 65535, -1},
    {"one past it wraps to 0", "65536", 0, 0},
    {"larger values keep their low 16 bits", "70000", 4464, 4464},
    {"largest signed value", "32767", 32767, 32767},
    {"one past it is the smallest signed value", "32768", 32768, -32768},
    {"smallest signed value", "-32768", 32768, -32768},
    {"a digit string far beyond 64 bits wraps without overflow", "123456789012345678901234567890", 2770, 2770},
    {"and so does its negative", "-123456789012345678901234567890", 62766, -2770},
};

TEST(NumberText, ConvertsLikeTheDecimalConversionTruncatedTo16Bits) {
    for (const NumberCase& c : kNumberCases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(TextToU16(c.text), c.asUnsigned) << '"' << c.text << '"';
        EXPECT_EQ(TextToI16(c.text), c.asSigned) << '"' << c.text << '"';
    }
}

} // namespace
