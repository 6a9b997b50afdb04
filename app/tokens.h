// Splitting the command-line tail into tokens.
#pragma once

#include <stddef.h>

// The working buffer that holds the tail and, afterwards, its tokens: the
// tail, its NUL and the NUL that closes the token list must fit.
constexpr size_t command_buffer_size = 512;
constexpr size_t command_tail_max = command_buffer_size - 2;

// The command-line tail: what follows the program's name in the process's
// command line and the blanks or tabs after it.  The name is quoted, or
// runs to the first blank or tab; bytes of 0x80 and above are part of it.
const char* skip_program_name(const char* command_line);

// Splits the NUL-terminated text in buffer in place into NUL-terminated
// tokens followed by an empty one.  Blanks separate; ' and " quote, each
// closed only by its own kind.  Returns 1 when every quote was closed.
int tokenize_command_line(char* buffer);
