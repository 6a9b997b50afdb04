// The lines a /l file holds about the run itself, around the trace lines:
// what ran where and as whom at its start, the library it bound, and how it
// ended.
#pragma once

#include <windows.h>

// Opens the log at path and writes the run's first lines: the version, the
// whole command line, the Windows version and build, elevation and account.
// Returns 1 when the log is open.
int start_run_log(const char* path);

// The path of the library the run bound.
void log_library(HMODULE library);

// The run's last line, "Exit code <n>: <meaning>", and the log closed.
void end_run_log(int exit_code);
