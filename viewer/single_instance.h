// One viewer runs at a time on a desktop, so no window takes lines away
// from another (Tavenor finds the viewer by its title, which it sees on its
// own desktop only): a second start hands its /log file to the first and
// ends.
#pragma once

#include <windows.h>

#include <string>

// The tags of the messages that hand a log file's path over ('CRVL') and a
// file to open ('CRVO').
constexpr ULONG_PTR log_file_tag = 0x4352564C;
constexpr ULONG_PTR open_file_tag = 0x4352564F;

// A viewer already running gets the log file (and the file to open) and is
// brought to the front;
// true when there is one (*log_taken then says whether it took the file).
// A start that races another waits for its window.  The first viewer keeps
// its claim for the life of its process.
bool hand_over_to_running(const char* window_class, const std::string& log_path, const std::string& open_path,
                          bool* log_taken);
