// Reading the tokens as switches into CommandOptions.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "app/command_options.h"

// Resets options and fills it from the token list.  Returns 1 on success,
// 0 when the command line is to be refused; options is then not to be used.
int parse_options(const char* tokens, CommandOptions* options);

// Makes a relative path in path (capacity bytes) absolute against the
// program's own folder; an absolute path is left as it is.  Returns 1, or 0
// when the program's folder is unknown, the path is drive-relative
// ("D:x.inf") or the result would not fit, leaving path unchanged.
int resolve_beside_program(char* path, size_t capacity);
