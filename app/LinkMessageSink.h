// How the link's failures reach the operator of the window (the sink of platform/MessageSink.h).
//
// A message arrives on the thread that met the failure. The box belongs to the GUI thread: from
// there it is shown before returning (the caller expects the operator to have seen it); from the
// receiver thread it is queued, so that the receiver never waits for the operator and no widget
// is touched off the GUI thread. Once the box is closed, the main window's look follows the link
// (a link that stopped by itself shows disconnected). Without an application object the text goes
// to standard error.
#pragma once

struct OperatorMessage;

void LinkMessageSink(const OperatorMessage& message);
