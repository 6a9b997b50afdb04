// Trace formatting with long arguments: bounded, NUL-terminated, and the
// same text as an unbounded format cut at the bound.  Also the hex cells and
// the result-code names.
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "difx/result_names.h"
#include "tracelib/trace_format.h"

namespace {
size_t format(char* out, size_t capacity, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    size_t len = trace_format_line(out, capacity, fmt, args);
    va_end(args);
    return len;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    // Capacity from the first two bytes (1 to 4095), a code from the next
    // four... reused as the split point of two string arguments.
    size_t capacity = (((static_cast<size_t>(data[0]) << 8) | data[1]) % trace_text_buffer_size) + 1;
    uint32_t code = static_cast<uint32_t>(data[1]) << 24 | static_cast<uint32_t>(data[2]) << 16 |
                    static_cast<uint32_t>(data[3]) << 8 | data[4];
    std::string rest(reinterpret_cast<const char*>(data + 5), size - 5);
    size_t cut = rest.empty() ? 0 : code % (rest.size() + 1);
    std::string a = rest.substr(0, cut).c_str();
    std::string b = rest.substr(cut).c_str();

    std::vector<char> out(capacity + 1, 'Z');
    size_t len = format(out.data(), capacity, "Copy from %s to %s failed", a.c_str(), b.c_str());
    std::string whole = "Copy from " + a + " to " + b + " failed";
    size_t expected = whole.size() < capacity ? whole.size() : capacity - 1;
    if (len != expected || out[len] != '\0' || out[capacity] != 'Z' || memcmp(out.data(), whole.data(), len) != 0)
        abort();

    const char* name = result_code_name(code);
    if (strlen(name) > 36 || strlen(name) == 0)
        abort();

    char hex[trace_hex_line_buffer_size];
    size_t n = rest.size() < trace_hex_cells_per_line ? rest.size() : trace_hex_cells_per_line;
    if (trace_hex_line(hex, reinterpret_cast<const uint8_t*>(rest.data()), n) != 3 * n)
        abort();
    return 0;
}
