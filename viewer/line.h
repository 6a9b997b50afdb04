// A line as it reaches the viewer, from either channel or from the viewer
// itself.
#pragma once

#include <windows.h>

#include <string>

// Where a line came from, as the list and the log file name it.
constexpr char window_source[] = "window message";
constexpr char own_source[] = "Corvane";

struct Line {
    SYSTEMTIME time;
    std::string source;  // "window message", "<process id> <image name>" or "Corvane"
    std::string text;
    bool failure = false;  // shown as a failure whatever its text
};

// A line of the viewer's own, stamped now.
inline Line own_line(const std::string& text, bool failure)
{
    Line line;
    GetLocalTime(&line.time);
    line.source = own_source;
    line.text = text;
    line.failure = failure;
    return line;
}
