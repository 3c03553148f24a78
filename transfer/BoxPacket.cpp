#include "transfer/BoxPacket.h"

#include <cstring>

namespace {

void PutLittleEndian(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PackPid(uint8_t* entry, uint16_t pid) {
    entry[0] = static_cast<uint8_t>(pid & 0xFF);
    // Bits 13..15 cannot travel: 9999 (0x270F) goes out as 1807.
    entry[1] = static_cast<uint8_t>((pid >> 8) & kPidHighMask);
}

uint16_t UnpackPid(const uint8_t* entry) {
    return static_cast<uint16_t>(entry[0] | ((entry[1] & kPidHighMask) << 8));
}

} // namespace

void BuildConfigPacket(uint8_t* packet, const SwitchConfig& config) {
    std::memset(packet, 0, kPacketSize);
    packet[kOffsetMarker] = kMarker;
    packet[kOffsetType] = kTypeConfig;
    PutLittleEndian(packet + kOffsetControl, kConfigControlValue, kControlBytes);
    const uint16_t pids[kPidCount] = {config.PidA, config.PidB, config.PidC, config.PidD};
    for (int k = 0; k < kPidCount; ++k)
        PackPid(packet + kOffsetPids + kPidEntryBytes * k, pids[k]);
    packet[kOffsetMode] = static_cast<uint8_t>(config.Mode & 0xFF);
}

void BuildCommandPacket(uint8_t* packet, CommandKind kind) {
    std::memset(packet, 0, kPacketSize);
    packet[kOffsetMarker] = kMarker;
    switch (kind) {
    case CommandKind::Flush:
    case CommandKind::Read:
        packet[kOffsetType] = kTypeCommand;
        PutLittleEndian(packet + kOffsetControl, kCommandControlValue, kControlBytes - 1);
        packet[kOffsetCommandSelector] = kind == CommandKind::Read ? kSelectorRead : kSelectorFlush;
        break;
    case CommandKind::Upload:
        // The upload command carries no control bytes.
        packet[kOffsetType] = kTypeUpload;
        break;
    }
}

bool IsConfigPacket(const uint8_t* packet) {
    return packet[kOffsetMarker] == kMarker && packet[kOffsetType] == kTypeConfig;
}

SwitchConfig UnpackConfigPacket(const uint8_t* packet) {
    SwitchConfig config;
    const uint8_t* pids = packet + kOffsetPids;
    config.PidA = UnpackPid(pids);
    config.PidB = UnpackPid(pids + kPidEntryBytes);
    config.PidC = UnpackPid(pids + 2 * kPidEntryBytes);
    config.PidD = UnpackPid(pids + 3 * kPidEntryBytes);
    config.Mode = packet[kOffsetMode];
    return config;
}
