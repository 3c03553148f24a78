// How code without a GUI tells the operator something.
//
// The link shows its failures in a modal message box. It does not know the GUI: it hands an
// OperatorMessage to the sink the application installed. The main text is the system's exact
// text; device and reason are extra detail for the box's "details" part. Without a sink the
// message goes to standard error. The sink may be called from any thread; it must return
// without waiting for a thread that could be waiting for the caller.
#pragma once

#include <functional>
#include <string>

// Message-box flags: the icon bits of a flags value (the low bits are left for a choice of buttons).
inline constexpr int kIconError = 16;
inline constexpr int kIconExclamation = 48;
inline constexpr int kIconInformation = 64;

struct OperatorMessage {
    std::string text; // exact operator text, e.g. " COM3 no accessible!"
    int flags = kIconError;
    std::string device; // the device path behind the port name, when there is one
    std::string reason; // what the system said (errno text) and what to do, when known
};

using MessageSink = std::function<void(const OperatorMessage&)>;

// Installs the sink (an empty function restores the standard-error fallback).
void SetMessageSink(MessageSink sink);

// The message's details, as the operator reads them under the main text: "Device: <path>" and
// the reason, one per line; empty when the message has neither.
std::string MessageDetails(const OperatorMessage& message);

// Hands the message to the installed sink.
void ShowOperatorMessage(const OperatorMessage& message);
