// The port setting file: the chosen port number as 2 bytes, signed, little-endian.
#pragma once

#include <cstdint>

inline constexpr const char* kPortFileName = "\\KV6251_CONFPORT.kv6";

// Reads the port number from the root directory. False when the file cannot be opened or holds
// fewer than 2 bytes (then *port is not touched).
bool LoadPortSetting(int16_t* port);
// Writes it (create or truncate). False when the file cannot be written.
bool SavePortSetting(int16_t port);
