#include "tracelib/trace_format.h"

#include <stdio.h>
#include <string.h>

size_t trace_format_line(char* out, size_t capacity, const char* format, va_list args)
{
    if (capacity == 0)
        return 0;
    int written = vsnprintf(out, capacity, format, args);
    if (written < 0) {
        // Older runtimes answer a cut line with -1 and leave it without a
        // NUL; an encoding error leaves the content unspecified.  Either way
        // keep what fits.
        out[capacity - 1] = '\0';
        return strlen(out);
    }
    if (static_cast<size_t>(written) >= capacity)
        return capacity - 1;
    return static_cast<size_t>(written);
}

size_t trace_line_length(const char* text)
{
    size_t len = 0;
    while (len < trace_line_max && text[len] != '\0')
        ++len;
    return len;
}

size_t trace_hex_line(char* out, const uint8_t* bytes, size_t n)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    if (n > trace_hex_cells_per_line)
        n = trace_hex_cells_per_line;
    size_t pos = 0;
    for (size_t i = 0; i < n; ++i) {
        out[pos++] = digits[bytes[i] >> 4];
        out[pos++] = digits[bytes[i] & 0x0F];
        out[pos++] = ' ';
    }
    out[pos] = '\0';
    return pos;
}
