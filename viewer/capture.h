// The debugger-output channels and the ends of the processes that write to
// them.  A writer waits in OutputDebugString until the reader has taken its
// message, so a thread per channel only copies each message into a queue
// and frees the buffer at once; a thread of intake joins the pieces into
// rows, names and watches the writers and queues the rows for the window's
// thread, which hears of them by a posted message, or takes them on a
// timer of its own while lines flow.
#pragma once

#include <windows.h>

#include <vector>

#include "viewer/line.h"

// Opens the session's channel and, when elevated, the machine's: before the
// window appears, so that a program started once the window is seen finds
// the buffer.
void capture_open();
// Starts reading; window gets message (once per batch) when lines wait
// and it does not poll.
void capture_start(HWND window, UINT message);
// The lines queued since the last call, oldest first.
std::vector<Line> capture_take();
// While polled, the window's thread calls capture_take on a timer of its
// own and no message is posted for new lines; after turning polling off
// it calls capture_take once more, and later lines are posted again.
void capture_poll(bool polled);
// Ends the reading threads and the watches on processes.
void capture_stop();

// Debugger-output capture on or off, from the window's thread.  Off
// closes the shared buffer and its events, so another monitor can take
// the debugger output; on opens them again (a line in the list says so
// when another monitor holds them).  Returns whether capture is on now.
bool capture_set_on(bool on);
// Whether debugger output is being read now.
bool capture_is_on();

// Received text as UTF-8: text that is not UTF-8 was written in the
// writer's ANSI code page (a program built without a UTF-8 manifest), taken
// to be the system's.
std::string as_utf8(const std::string& text);
