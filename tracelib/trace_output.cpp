// Delivery of trace lines to the debugger output and the viewer window.
#include "tracelib/trace.h"
#include "tracelib/trace_format.h"
#include "tracelib/trace_log.h"
#include "tracelib/viewer_channel.h"

#include <windows.h>

#include <stdarg.h>
#include <string.h>

namespace {

unsigned long long tick_count_ms()
{
    return GetTickCount64();
}

// A viewer that has not handled a line within this time is passed over for
// that line; the next line is offered to it again.
constexpr ULONGLONG viewer_send_timeout_ms = 2000;

// All the sends of one process together may take this long; after that the
// viewer gets no more lines.  A hung or slow viewer thus delays a run by 5 s
// at most, while one that stalls once is served again when it answers.
constexpr LONG64 viewer_budget_ms = 5000;

// Milliseconds the viewer's sends have taken so far; any thread may trace.
volatile LONG64 g_viewer_spent_ms = 0;

// Appends the line to the log when it takes lines; for the monitors, sends
// it to the viewer if one is running and the budget allows, then writes it
// to the debugger output as two strings: the line and a line feed.  viewer
// holds the line's len bytes followed by room for two more.
void deliver_line(char* viewer, size_t len)
{
    int32_t channels = g_trace_channels;
    if (channels & trace_to_log)
        trace_log_write(viewer, len);
    if ((channels & trace_to_monitors) == 0)
        return;

    viewer[len] = '\n';
    viewer[len + 1] = '\0';

    LONG64 spent = InterlockedCompareExchange64(&g_viewer_spent_ms, 0, 0);
    HWND window = spent < viewer_budget_ms ? FindWindowA(nullptr, trace_viewer_title) : nullptr;
    if (window != nullptr) {
        ULONGLONG left = static_cast<ULONGLONG>(viewer_budget_ms - spent);
        COPYDATASTRUCT data;
        data.dwData = trace_viewer_tag;
        data.cbData = static_cast<DWORD>(len);
        data.lpData = viewer;
        DWORD_PTR answer = 0;
        ULONGLONG started = g_trace_clock();
        SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG | SMTO_BLOCK,
                            static_cast<UINT>(left < viewer_send_timeout_ms ? left : viewer_send_timeout_ms),
                            &answer);
        InterlockedExchangeAdd64(&g_viewer_spent_ms, static_cast<LONG64>(g_trace_clock() - started));
    }

    viewer[len] = '\0';
    OutputDebugStringA(viewer);
    OutputDebugStringA("\n");
}

} // namespace

trace_clock_function g_trace_clock = tick_count_ms;

void trace_reset_viewer_budget()
{
    InterlockedExchange64(&g_viewer_spent_ms, 0);
}

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
