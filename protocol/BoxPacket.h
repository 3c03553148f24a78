// The layout of a box packet and the four kinds of packet the PC sends.
//
// A box packet is 188 bytes. Byte 0 is the marker 0xB8 in every packet the PC sends, byte 1 the
// packet type. Bytes 7 to 9 are control bytes whose values depend on the kind; a configuration
// packet carries four 13-bit PIDs (low byte first) at 22..29 and the mode byte at 30. Every other
// byte is reserved and 0. Building, classifying and unpacking touch only the caller's buffer, so
// the simulated box and the packet trace use the very same code as the tool.
#pragma once

#include "protocol/PacketAlign.h"
#include "protocol/SwitchConfig.h"

#include <cstdint>
#include <string>
#include <vector>

// Offsets inside a box packet.
inline constexpr int kOffsetMarker = 0;
inline constexpr int kOffsetType = 1;
inline constexpr int kOffsetControl = 7; // three control bytes, 7..9
inline constexpr int kControlBytes = 3;
inline constexpr int kOffsetCommandSelector = 9; // tells the flush command from the read command
inline constexpr int kOffsetPids = 22;           // four PID entries of two bytes each
inline constexpr int kPidEntryBytes = 2;
inline constexpr int kOffsetMode = 30;

// The marker that starts every packet of the PC (the receiver's box sync byte).
inline constexpr uint8_t kMarker = kSyncBox;

// Packet types (byte 1).
inline constexpr uint8_t kTypeCommand = 0x00; // flush or read command
inline constexpr uint8_t kTypeConfig = 0x02;
inline constexpr uint8_t kTypeUpload = 0x03;

// Control bytes of a configuration packet: the constant 98492 (0x180BC), least significant
// byte first.
inline constexpr uint32_t kConfigControlValue = 98492;
// Control bytes of the flush and read commands: the largest 13-bit value, little-endian, then
// the selector byte.
inline constexpr uint16_t kCommandControlValue = 0x1FFF;
inline constexpr uint8_t kSelectorFlush = 0x00;
inline constexpr uint8_t kSelectorRead = 0x20;

// PIDs travel in 13 bits: the low byte whole, five bits of the high byte.
inline constexpr uint16_t kPidMask = 0x1FFF;
inline constexpr uint8_t kPidHighMask = 0x1F;

enum class CommandKind { Flush, Read, Upload };

void BuildConfigPacket(uint8_t* packet, const SwitchConfig& config);
void BuildCommandPacket(uint8_t* packet, CommandKind kind);
// True when byte 0 is the marker and byte 1 says configuration packet.
bool IsConfigPacket(const uint8_t* packet);
// The five values of a configuration packet; Mode is the mode byte, 0..255.
SwitchConfig UnpackConfigPacket(const uint8_t* packet);

// What a packet on the line is. Commands count only when they are byte for byte what the tool
// sends; a command with a stray byte is Other, so a log or trace shows a fault in a packet.
enum class PacketKind { Flush, Read, Upload, Configuration, Ts, Other };
PacketKind ClassifyPacket(const uint8_t* packet);
// "flush", "read", "upload", "configuration", "ts", "other".
const char* PacketKindName(PacketKind kind);
// The kind's name; for a configuration packet followed by its fields, " A:B:C:D:M".
std::string DescribePacket(const uint8_t* packet);

// Where a configuration packet differs from the one wanted: each of the five fields whose value
// differs, then every other byte that differs (the three unused bits of a PID entry, a control or
// reserved byte), by offset.
struct PacketDifference {
    const char* field; // "PidA" .. "Mode"; nullptr for a byte outside the five values
    int offset;        // the field's first byte, or the differing byte
    int wanted, box;   // the field's values, or the two bytes
};
std::vector<PacketDifference> ConfigPacketDifferences(const uint8_t* wanted, const uint8_t* box);
