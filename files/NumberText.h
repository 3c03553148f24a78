// Decimal conversion as the operator's texts and .swi files need it: optional leading blanks,
// an optional sign, then digits up to the first other character; 0 when there are no digits.
// The result is truncated to 16 bits (taken modulo 65536, like the C cast of a wrapped int).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

uint16_t TextToU16(std::string_view text);
int16_t TextToI16(std::string_view text);

// A strict reading, for input that must be one number and nothing else: blanks around it are
// allowed, then only digits (no sign). False when there are no digits or anything else; the
// value saturates at UINT32_MAX instead of wrapping.
bool ParseDecimal(std::string_view text, uint32_t* value);
