// How received text becomes the viewer's lines, without any window: the
// cap on one message, the split into rows, the rule that shows a Tavenor
// line seen on both channels once, and the viewer's own command line.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

// One message's share: any process on the desktop can send, and a trace
// line is at most 4 KiB.  Bytes past these are cut, and the cut is said.
constexpr size_t message_bytes_max = 64 * 1024;
constexpr int message_rows_max = 1000;

// A debugger-output line that repeats a window message of this long ago is
// the same line of the same run, seen on its second channel.
constexpr uint64_t same_line_ms = 2000;
constexpr size_t recent_max = 1024;

// The first message_bytes_max bytes and message_rows_max rows of a message,
// and a note of what was cut.
std::string capped_text(const char* bytes, size_t size);

// The rows of a received text: split at line feeds (a CR before one goes
// too), a closing line feed adding no row.
std::vector<std::string> rows_of(const std::string& text);

std::string without_line_ends(std::string text);

// Window messages of the last moments, so that a run seen on both channels
// (Tavenor sends each line to both) is shown once.  now_ms is any clock
// that counts milliseconds.
struct RecentLines {
    std::deque<std::pair<uint64_t, std::string>> lines;  // oldest first
};
void remember_window_line(RecentLines& recent, uint64_t now_ms, const std::string& text);
// True (and forgotten) for a debugger-output line that a window message
// brought just before.
bool seen_as_window_line(RecentLines& recent, uint64_t now_ms, const std::string& text);

// The file of "/log <file>" on the viewer's command line (the name quoted
// when it holds blanks); empty without one.
std::string log_option(const char* tail);

// What a Tavenor exit code means; nullptr for a code it does not return.
const char* tavenor_outcome(unsigned long code);
