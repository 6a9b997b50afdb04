// The usage message box, shown for a refused command line.
#pragma once

#include <stddef.h>

constexpr size_t usage_buffer_size = 2048;
constexpr char usage_caption[] = "Tavenor usage";

// Builds the usage text into out (capacity bytes); returns its length, or 0
// when it does not fit.
size_t build_usage_text(char* out, size_t capacity);

// Shows the usage box and returns when it has been closed; returns at once
// where nobody can see it (a window station that is not visible).
void show_usage();
