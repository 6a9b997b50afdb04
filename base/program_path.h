// Files that stand beside a module: the INF named relative to the program,
// the library loaded from the program's folder, the plan beside a backend.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The full path of the program's own file into buffer.  Returns the length
// written, or 0 when the path is not known whole.
uint32_t get_program_file_path(char* buffer, uint32_t capacity);

// The same for any module the process has loaded (an HMODULE).
uint32_t get_module_file_path(void* module, char* buffer, uint32_t capacity);

// Where get_program_file_path asks: the platform, unless a test makes the
// program's path unknown.
using program_path_function = uint32_t (*)(char* buffer, uint32_t capacity);
extern program_path_function g_program_path;

// The folder of file_path (up to and with its last '\') followed by name,
// into out (capacity bytes).  Returns 1, or 0 when file_path names no folder
// or the result would not fit; out is then left as it was.  out may be
// file_path itself, and name may stand at the start of out: it is moved
// before the folder is written.
int path_beside(const char* file_path, const char* name, char* out, size_t capacity);
