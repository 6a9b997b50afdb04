// The debugger-output channels and the ends of the processes that write to
// them.  Threads of their own read the shared buffers; what they read is
// queued for the window's thread, which hears of it by a posted message.
#pragma once

#include <windows.h>

#include <vector>

#include "viewer/line.h"

// Opens the session's channel and, when elevated, the machine's: before the
// window appears, so that a program started once the window is seen finds
// the buffer.
void capture_open();
// Starts reading; window gets message (once per batch) when lines wait.
void capture_start(HWND window, UINT message);
// The lines queued since the last call, oldest first.
std::vector<Line> capture_take();
// Ends the reading threads and the watches on processes.
void capture_stop();

// Received text as UTF-8: text that is not UTF-8 was written in the
// writer's ANSI code page (a program built without a UTF-8 manifest), taken
// to be the system's.
std::string as_utf8(const std::string& text);
