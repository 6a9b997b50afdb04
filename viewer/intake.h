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

// A debugger-output row that repeats a window message's row of this long
// ago is the same line of the same run, seen on its second channel.
constexpr uint64_t same_line_ms = 2000;
constexpr size_t recent_max = 1024;
constexpr uint64_t no_line = UINT64_MAX;

// The first message_bytes_max bytes and message_rows_max rows of a message
// (the line feed that ends the last row kept with it), and a note of what
// was cut.
std::string capped_text(const char* bytes, size_t size);

// The rows of a received text: split at line feeds (a CR before one goes
// too), a closing line feed adding no row.
std::vector<std::string> rows_of(const std::string& text);

// True for text that is well-formed UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF).
bool is_utf8(const std::string& text);

// Rows of window messages of the last moments, each with the number of the
// line that shows it, so that a run seen on both channels (Tavenor sends
// each line to both) is shown once, with the process that wrote it.  now_ms
// is any clock that counts milliseconds.
struct RecentRow {
    uint64_t at;
    uint64_t line;
    std::string text;
};
struct RecentLines {
    std::deque<RecentRow> rows;  // oldest first
};
void remember_window_row(RecentLines& recent, uint64_t now_ms, const std::string& text, uint64_t line);
// The line of the oldest window row of the last same_line_ms with this
// text, which the debugger-output row is then the copy of (and which is
// forgotten, so that one copy is taken per row); no_line when there is none.
uint64_t window_row_copied(RecentLines& recent, uint64_t now_ms, const std::string& text);

// Debugger output comes in pieces, a process writing a line in several
// calls: each process's text is held until its line feed.
struct Held {
    uint32_t process;
    std::string text;  // without a line feed yet
    bool trailer_due;  // the last piece ended its line: a lone line feed next adds nothing
};
struct Joiner {
    std::vector<Held> held;
};
// The rows that piece completes for process, in order.  Tavenor writes
// each line with its line feed and then one more: that lone line feed adds
// no row, while one that follows it (Tavenor's blank line) is an empty row.
// Held text that reaches message_bytes_max is a row of its own.
std::vector<std::string> join_piece(Joiner& joiner, uint32_t process, const std::string& piece);
// What process left without a line feed (at its end); empty for nothing.
std::string join_rest(Joiner& joiner, uint32_t process);

// The file of "/log <file>" on the viewer's command line (the name quoted
// when it holds blanks); empty without one.
std::string log_option(const char* tail);

// What a Tavenor exit code means; nullptr for a code it does not return.
const char* tavenor_outcome(unsigned long code);
