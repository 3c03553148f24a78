#include "protocol/BoxPacket.h"

#include <array>
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

std::array<uint8_t, kPacketSize> CommandPacket(CommandKind kind) {
    std::array<uint8_t, kPacketSize> packet{};
    BuildCommandPacket(packet.data(), kind);
    return packet;
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

PacketKind ClassifyPacket(const uint8_t* packet) {
    static const auto flush = CommandPacket(CommandKind::Flush);
    static const auto read = CommandPacket(CommandKind::Read);
    static const auto upload = CommandPacket(CommandKind::Upload);
    if (std::memcmp(packet, flush.data(), kPacketSize) == 0)
        return PacketKind::Flush;
    if (std::memcmp(packet, read.data(), kPacketSize) == 0)
        return PacketKind::Read;
    if (std::memcmp(packet, upload.data(), kPacketSize) == 0)
        return PacketKind::Upload;
    if (IsConfigPacket(packet))
        return PacketKind::Configuration;
    if (packet[kOffsetMarker] == kSyncTs)
        return PacketKind::Ts;
    return PacketKind::Other;
}

const char* PacketKindName(PacketKind kind) {
    switch (kind) {
    case PacketKind::Flush:
        return "flush";
    case PacketKind::Read:
        return "read";
    case PacketKind::Upload:
        return "upload";
    case PacketKind::Configuration:
        return "configuration";
    case PacketKind::Ts:
        return "ts";
    case PacketKind::Other:
        break;
    }
    return "other";
}

std::string DescribePacket(const uint8_t* packet) {
    const PacketKind kind = ClassifyPacket(packet);
    std::string text = PacketKindName(kind);
    if (kind == PacketKind::Configuration) {
        text += ' ';
        text += FormatConfigText(UnpackConfigPacket(packet));
    }
    return text;
}

std::vector<PacketDifference> ConfigPacketDifferences(const uint8_t* wanted, const uint8_t* box) {
    std::vector<PacketDifference> differences;
    const SwitchConfig w = UnpackConfigPacket(wanted), b = UnpackConfigPacket(box);
    const int wantedValues[kConfigFieldCount] = {w.PidA, w.PidB, w.PidC, w.PidD, w.Mode};
    const int boxValues[kConfigFieldCount] = {b.PidA, b.PidB, b.PidC, b.PidD, b.Mode};
    // The bytes each field is read from: a field whose value differs covers its own bytes.
    bool covered[kPacketSize] = {};
    for (int i = 0; i < kConfigFieldCount; ++i) {
        const int offset = i < kPidCount ? kOffsetPids + i * kPidEntryBytes : kOffsetMode;
        if (wantedValues[i] == boxValues[i])
            continue;
        differences.push_back({kConfigFieldNames[i], offset, wantedValues[i], boxValues[i]});
        for (int at = offset; at < offset + (i < kPidCount ? kPidEntryBytes : 1); ++at)
            covered[at] = true;
    }
    for (int at = 0; at < kPacketSize; ++at)
        if (!covered[at] && wanted[at] != box[at])
            differences.push_back({nullptr, at, wanted[at], box[at]});
    return differences;
}
