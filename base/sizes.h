// Buffer sizes shared by the command line, the library binding and the clean.
#pragma once

#include <stddef.h>

// Every path buffer: 1023 characters and the NUL.  A path that would not fit
// fails its step; it is never cut.
constexpr size_t path_buffer_size = 1024;

// The /c folder pattern: 31 characters and the NUL.
constexpr size_t folder_pattern_size = 32;

// The /l file's older generation: its name with this suffix.
constexpr char log_older_suffix[] = ".1";
constexpr size_t log_older_suffix_length = sizeof log_older_suffix - 1;
