// The /l log file: trace lines appended with the local time and the process
// ID, in UTF-8 with CR LF, by any number of processes at once.
#pragma once

#include <stddef.h>
#include <stdint.h>

// A log is kept within this size: a line that would pass it first moves the
// file to its older generation (its name with log_older_suffix, replacing
// the one there) and starts a new file.
constexpr uint64_t trace_log_max_bytes = 4ull * 1024 * 1024;

// Opens the log at path (absolute, room for the older generation's suffix)
// for appending, creating the file but not its folder, through the checked
// opening of base/log_file.h: a link, a folder, a file with a second name or
// another account's file is refused like a file that cannot be opened.
// Returns 1, or 0 after one line on the debugger output; the run then goes
// on without it.
int trace_log_open(const char* path);

// Appends text (len bytes in the process's code page) as lines, one for
// each part between line feeds, each with its own single write: lines of
// processes appending at once stay whole.  After a failed write one line on
// the debugger output says so and the log takes no more lines.
void trace_log_write(const char* text, size_t len);

// Closes the log; later lines go nowhere.
void trace_log_close();

