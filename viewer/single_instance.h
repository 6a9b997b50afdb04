// One viewer runs at a time, so no window takes lines away from another: a
// second start hands its /log file to the first and ends.
#pragma once

#include <windows.h>

#include <string>

// The tag of the message that hands a log file's path over ('CRVL').
constexpr ULONG_PTR log_file_tag = 0x4352564C;

// A viewer already running gets the log file and is brought to the front;
// true when there is one (*log_taken then says whether it took the file).
// A start that races another waits for its window.  The first viewer keeps
// its claim for the life of its process.
bool hand_over_to_running(const char* window_class, const std::string& log_path, bool* log_taken);
