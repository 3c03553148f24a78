// The serial link to the box, its receiver thread and the packet ring.
//
// One process-wide link. The GUI thread opens and closes it, asks IsConnected(), writes packets
// with SendPacket() and takes received packets with TakePacket(). The receiver thread, started
// by a successful OpenLink(), cuts the incoming bytes into aligned 188-byte packets and puts them
// into a ring of 2000 slots. Reads and writes repair the link: when one finds it down, the port
// is opened again with the last port number. Failures to open or configure the port are told to
// the operator through the message sink (platform/MessageSink.h); single reads and writes fail
// silently.
//
// Promises:
// - one port lock serialises every port call and every reopen; the wait for incoming bytes
//   happens outside it, so a write never waits out a pending read;
// - exactly one receiver thread fills the ring; CloseLink() returns only after it has stopped
//   using the port (at most one read time-out after the 300 ms pause);
// - a full ring refuses new packets and counts them; waiting packets are never overwritten;
// - a packet whose bytes span a lost link and its reopen is dropped, not joined.
#pragma once

#include "protocol/PacketAlign.h"

#include <cstdint>
#include <memory>
#include <string>

class SerialDevice;

inline constexpr int kRingSlots = 2000;
inline constexpr int kReceiverStackBytes = 30000;
inline constexpr int kReceiverStartPauseMs = 1000;
inline constexpr int kCloseLinkPauseMs = 300;
inline constexpr int kReadExtraMs = 50; // a read of n bytes waits at most n + 50 ms

// Operator texts (printf formats, %s is the port name).
inline constexpr const char* kMsgNoAccess = " %s no accessible!";
inline constexpr const char* kMsgConfigError = "Configuration error. %s";

// "COM%d" for a port number.
std::string PortName(int port);

int OpenLink(int port);
void CloseLink();
int IsConnected();
void SendPacket(const uint8_t* packet);
int ReadBytes(uint8_t* buffer, int count);
int WriteBytes(const uint8_t* buffer, int count);
void LinkError(const char* text);

void ReceiveLoop(void* unused);
// Reads until one aligned packet is in destination (1), or the link is being stopped (0). Each
// read's bytes go through a PacketReader (link/PacketReader.h), which keeps two opens apart.
int ReadPacket(uint8_t* destination);
int TakePacket(uint8_t* buffer);

// Observers.
int LinkStopFlag();
uint64_t DroppedPackets(); // packets refused because the ring was full
bool ReceiverRunning();    // a receiver thread is alive
// Waits until the receiver reads the open link (its start pause is over): true then; false when
// timeoutMs passed first, or the link is not open. Callers wait for this instead of sleeping the
// pause away; a receiver that outlived a quick close and reopen is ready at once.
bool WaitReceiverReady(int timeoutMs);

// The serial device the link opens ports with (a termios device unless replaced). Call it while
// the link is closed. A pseudo-terminal takes any line settings; a device that refuses
// them, as a driver without 1,500,000 baud does, can only be put in place this way.
void UseSerialDevice(std::unique_ptr<SerialDevice> device);
