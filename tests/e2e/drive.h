// Runs Tavenor.exe as a debuggee and collects everything it shows: its exit
// code, every debugger string in order, what a viewer window receives, and
// the usage box, which it answers with OK.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "support/viewer_window.h"

enum class ViewerKind { none, pumping, never_pumps, stalls_once, slow };

struct DriveOptions {
    std::string exe;          // program to start
    std::string arguments;    // the tail, exactly as the program is to get it
    std::string directory;    // working directory; empty for the caller's
    ViewerKind viewer = ViewerKind::pumping;
    DWORD timeout_ms = 60000; // the run is ended after this
    bool quote_program = true; // the program's path in quotes at the head of the command line
    bool hidden_station = false; // on a window station of its own that nobody sees
    // Variables set for the program on top of ours (an empty value removes one).
    std::vector<std::pair<std::string, std::string>> environment;
};

struct DriveResult {
    bool started = false;
    std::string not_started;       // the call that failed and its error, when not started
    bool no_hidden_station = false; // the platform here could not make a window station of our own
    DWORD exit_code = 0;
    bool timed_out = false;
    bool crashed = false;          // an exception reached the debugger as second chance
    DWORD exception_code = 0;
    DWORD elapsed_ms = 0;
    std::vector<std::string> debug_strings;
    std::vector<ViewerMessage> viewer_messages;
    int usage_boxes = 0;
    std::string usage_caption;
    std::string usage_text;
    std::vector<std::string> usage_buttons;
    bool usage_has_icon = false;
};

DriveResult drive(const DriveOptions& options);

// The folder of the running test program, with a trailing backslash.
std::string program_folder();
