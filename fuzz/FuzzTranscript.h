// The output of a fuzz target whose inputs are kept with what they must yield.
//
// Such a target defines FuzzTranscript: the text of what one input yields, one line per item.
// The replay (replay_main.cpp) compares it with name.expected beside the input name.bin; the
// other targets leave it undefined, and the weak declaration makes it null there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

__attribute__((weak)) std::string FuzzTranscript(const uint8_t* data, size_t size);
