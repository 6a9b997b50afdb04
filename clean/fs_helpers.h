// File-system helpers of the driver-store clean.  Each returns 1 for success
// and 0 for failure, and traces its steps while /d is given.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/sizes.h"

// Looks in folder for the first file matching pattern that has a line
// containing text; on a match its bare name goes to output (capacity bytes).
int find_inf_containing(const char* folder, const char* pattern, const char* text, char* output,
                        uint32_t capacity);

// Creates a new, empty directory named by the platform from the prefix
// "Dev" in the user's temporary folder, open only to the token's owner,
// SYSTEM and Administrators; its path goes to output, which holds capacity
// bytes (1024 are always enough).
int make_temp_dir(char* output, uint32_t capacity);

// Copies the plain files of source into the existing folder destination;
// a file of the same name already there fails the copy and stays as it is.
int copy_folder_files(const char* source, const char* destination);

// Deletes a flat copy made by copy_folder_files: each plain file through a
// handle on the name itself, then the directory.  A folder or link inside
// is not ours: it stays, is reported, and keeps the directory (result 0).
int destroy_path(const char* path);

// The security descriptor make_temp_dir gives its directory: the token's
// owner, SYSTEM and Administrators, protected from inheritance.  Returns
// nullptr on failure; LocalFree releases it.
void* private_folder_descriptor();

// "." and "..", by name alone; any other name with a leading dot is ordinary.
bool is_dot_or_dot_dot(const char* name);

// Joins folder, separator and name into out (path_buffer_size bytes).
// Returns 0 when the result would not fit; out then holds as much of it as
// fits, for a trace line.
int join_path(char* out, const char* folder, const char* separator, const char* name);
