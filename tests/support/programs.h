// Programs a test starts and ends.
#pragma once

#include <windows.h>

#include <string>

// Starts command_line outside any debugger: in folder and on desktop when
// given, else in the test's folder and on its desktop.  hProcess is
// nullptr when it cannot start.
PROCESS_INFORMATION start_program(const std::string& command_line, const char* folder = nullptr,
                                  const char* desktop = nullptr);

// Waits up to wait_ms for the program to end, ends it when it has not,
// and closes its handles (dwProcessId is kept).  Its exit code when it
// ended by itself, else STILL_ACTIVE.
DWORD finish_program(PROCESS_INFORMATION* process, DWORD wait_ms);
