// A trace of the packets on the line, for a field engineer to send along with a failing Send.
//
// One line per packet: milliseconds since the link was opened, the direction, and the packet's
// kind with the fields of a configuration packet ("2047 sent configuration 300:301:302:303:1").
// The link adds lines of its own when it opens, is lost, reopens and closes. Directions:
//   sent       written to the port whole
//   unsent     not written: the link was down or being closed, or the write failed
//   received   cut from the line by the receiver and stored in the packet ring
//   refused    cut from the line while the packet ring was full, and dropped
//
// Promises: tracing never slows the receiver down nor makes it wait for the disk. Lines are kept
// in memory and written by a thread of the trace's own; if the disk cannot keep up, lines beyond
// a few megabytes are dropped and the number dropped is written in their place. Stopping the
// trace writes everything that is pending before it returns.
#pragma once

#include <cstdint>
#include <string>

// Starts tracing to path (created or emptied). False with a reason when it cannot be created.
bool StartPacketTrace(const std::string& path, std::string* error);
// Writes what is pending and closes the file. Harmless when no trace runs.
void StopPacketTrace();

enum class TraceDirection { Sent, Unsent, Received, Refused };

// Any thread. The link calls these; nothing happens when no trace runs.
void TracePacket(TraceDirection direction, const uint8_t* packet);
// A line of the link's own ("open COM1 /dev/ttyUSB0"). restartClock: times count from this line.
void TraceEvent(const std::string& text, bool restartClock = false);
