// File-system helpers of the driver-store clean.  Each returns 1 for success
// and 0 for failure, and traces its steps while /d is given.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/sizes.h"

// Deepest directory level destroy_path descends to; each level holds about
// 2.4 KiB of stack, so the walk stays far inside the thread's stack.
constexpr int destroy_depth_max = 256;

// Looks in folder for the first file matching pattern that has a line
// containing text; on a match its bare name goes to output (capacity bytes).
int find_inf_containing(const char* folder, const char* pattern, const char* text, char* output,
                        uint32_t capacity);

// Creates a new, empty directory named by the platform from the prefix
// "Dev" in the user's temporary folder; its path goes to output, which
// holds capacity bytes (1024 are always enough).
int make_temp_dir(char* output, uint32_t capacity);

// Copies the plain files of source into the existing folder destination.
int copy_folder_files(const char* source, const char* destination);

// Deletes the directory path and everything beneath it.  Links (junctions,
// symbolic links) are removed themselves, never followed.
int destroy_path(const char* path);

// "." and "..", by name alone; any other name with a leading dot is ordinary.
bool is_dot_or_dot_dot(const char* name);

// Joins folder, separator and name into out (path_buffer_size bytes).
// Returns 0 when the result would not fit; out then holds as much of it as
// fits, for a trace line.
int join_path(char* out, const char* folder, const char* separator, const char* name);
