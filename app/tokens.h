// Splitting the command-line tail into tokens.
#pragma once

#include <stddef.h>

// The working buffer that holds the tail and, afterwards, its tokens: the
// tail, its NUL and the NUL that closes the token list must fit.
constexpr size_t command_buffer_size = 512;
constexpr size_t command_tail_max = command_buffer_size - 2;

// Splits the NUL-terminated text in buffer in place into NUL-terminated
// tokens followed by an empty one.  Blanks separate; ' and " quote, each
// closed only by its own kind.  Returns 1 when every quote was closed.
int tokenize_command_line(char* buffer);
