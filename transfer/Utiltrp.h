// Box transfer: packets, the packet files, the upload with its verification and the read-back.
//
// Everything here runs on the GUI thread and talks to the box through the link (link/Ser921.h):
// SendPacket() to write, TakePacket() to take what the receiver thread stored. Packet files are
// plain sequences of 188-byte packets. Paths given to these functions are real paths; the fixed
// names below are mapped with RootPath() (platform/RootDir.h).
#pragma once

#include "link/PacketAlign.h"
#include "transfer/SwitchConfig.h"

#include <cstdint>
#include <cstdio>
#include <string>

inline constexpr const char* kSendFileName = "\\CONF_KV6251.A$B";
inline constexpr const char* kReadBackFileName = "\\CONF_KV6251.C$D";

enum class CommandKind { Flush, Read, Upload };

void BuildConfigPacket(uint8_t* packet, const SwitchConfig& config);
void BuildCommandPacket(uint8_t* packet, CommandKind kind);
bool IsConfigPacket(const uint8_t* packet);
SwitchConfig UnpackConfigPacket(const uint8_t* packet); // Mode is the mode byte, 0..255

// Writes one flush command, then drains the ring (bounded: gives up after 2 s of traffic).
void FlushLink();

// Uploads a packet file: 0 done, 1 the file cannot be opened.
int SendPacketFile(const char* path);
// 0 equal; 1/2 first/second cannot be opened; 3 sizes differ; 4 above 32000 bytes;
// 5/6 no memory for the first/second buffer; 7 contents differ.
int CompareFiles(const char* path1, const char* path2);
long FileLength(FILE* file);

// Read results: 0 a whole cycle recorded, 1 the file cannot be created, 2 time-out.
int ReadConfigurationToFile(const char* path);

// What a technician needs beyond the result code.
struct TransferDetail {
    long sentSize = -1;     // size of the send file, when compared
    long readSize = -1;     // size of the read-back file, when compared
    long firstDiff = -1;    // offset of the first differing byte (code 10)
    int sentByte = -1;      // its value in the send file
    int readByte = -1;      // its value in the read-back file
    long diffCount = 0;     // how many bytes differ
};

// Transfer result code 0..11 (see TransferResultMeaning).
int UploadAndVerify(const char* sendPath, TransferDetail* detail = nullptr);

// Creates the send file with one configuration packet: true when all 188 bytes were written
// and the file closed without error.
bool WriteSendFile(const char* path, const SwitchConfig& config);

// One line that explains a transfer result code.
std::string TransferResultMeaning(int code);
// The details line(s) for the message box: the meaning, plus sizes or the first difference.
std::string TransferResultDetails(int code, const TransferDetail& detail);
