// The platform-free half of the trace output: how a line is formatted,
// bounded and laid out.  Kept apart from the delivery so that it can be
// built and fuzzed natively.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

// Longest line delivered.  The tool's longest formats hold two paths of up
// to 1023 characters each plus some forty characters of text, so 4094 lets
// every line the tool can make arrive whole; the viewer copy adds a line
// feed and a NUL and so fills exactly 4096 bytes.
constexpr size_t trace_line_max = 4094;
constexpr size_t trace_text_buffer_size = trace_line_max + 1;
constexpr size_t trace_viewer_buffer_size = trace_line_max + 2;

// Formats into out (capacity bytes, at least 1) and returns the length of
// what stands there: the whole line, or the first capacity - 1 characters
// of a longer one.  Never writes past out.
size_t trace_format_line(char* out, size_t capacity, const char* format, va_list args);

// Length of text, counting at most trace_line_max characters.
size_t trace_line_length(const char* text);

// Writes the hex cells of up to 16 bytes ("00 " per byte) and a NUL into
// out, which holds at least 3 * 16 + 1 bytes; returns the line's length.
size_t trace_hex_line(char* out, const uint8_t* bytes, size_t n);
constexpr size_t trace_hex_cells_per_line = 16;
constexpr size_t trace_hex_line_buffer_size = 128;
static_assert(trace_hex_line_buffer_size > 3 * trace_hex_cells_per_line, "hex line must fit");
