// Delivery of trace lines to the debugger output and the viewer window.
#include "tracelib/trace.h"
#include "tracelib/trace_format.h"
#include "tracelib/viewer_channel.h"

#include <windows.h>

#include <stdarg.h>
#include <string.h>

namespace {

// A viewer that has not handled a line within this time is taken as hung.
constexpr UINT viewer_send_timeout_ms = 2000;

// The window that last timed out.  Lines are not offered to it again, so a
// hung viewer costs one time-out per run, not one per line; a viewer that is
// restarted gets a new window and is served again.
HWND g_unresponsive_viewer = nullptr;

// Sends the line to the viewer if one is running, then writes it to the
// debugger output as two strings: the line and a line feed.  viewer holds
// the line's len bytes followed by room for two more.
void deliver_line(char* viewer, size_t len)
{
    viewer[len] = '\n';
    viewer[len + 1] = '\0';

    HWND window = FindWindowA(nullptr, trace_viewer_title);
    if (window != nullptr && window != g_unresponsive_viewer) {
        COPYDATASTRUCT data;
        data.dwData = trace_viewer_tag;
        data.cbData = static_cast<DWORD>(len);
        data.lpData = viewer;
        DWORD_PTR answer = 0;
        SetLastError(ERROR_SUCCESS);
        if (!SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                 SMTO_ABORTIFHUNG | SMTO_BLOCK, viewer_send_timeout_ms, &answer)) {
            DWORD error = GetLastError();
            if (error == ERROR_TIMEOUT || error == ERROR_SUCCESS)
                g_unresponsive_viewer = window;
        }
    }

    viewer[len] = '\0';
    OutputDebugStringA(viewer);
    OutputDebugStringA("\n");
}

} // namespace

void trace_message(const char* format, ...)
{
    // Formatted straight into the viewer copy, leaving room for the line
    // feed and the NUL that delivery appends.
    char viewer[trace_viewer_buffer_size];
    va_list args;
    va_start(args, format);
    size_t len = trace_format_line(viewer, trace_text_buffer_size, format, args);
    va_end(args);
    deliver_line(viewer, len);
}

void trace_text(const char* text)
{
    char viewer[trace_viewer_buffer_size];
    size_t len = trace_line_length(text);
    memcpy(viewer, text, len);
    deliver_line(viewer, len);
}

void trace_hex_dump(const char* caption, const void* bytes, uint32_t count)
{
    trace_text(caption);

    const uint8_t* next = static_cast<const uint8_t*>(bytes);
    uint32_t remaining = count;
    while (remaining > 0) {
        size_t n = remaining < trace_hex_cells_per_line ? remaining : trace_hex_cells_per_line;
        char line[trace_hex_line_buffer_size];
        size_t len = trace_hex_line(line, next, n);
        char viewer[trace_viewer_buffer_size];
        memcpy(viewer, line, len);
        deliver_line(viewer, len);
        next += n;
        remaining -= static_cast<uint32_t>(n);
    }
}
