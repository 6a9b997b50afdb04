// Trace output: every line goes to the debugger output and, when it runs,
// to the Corvane viewer window, and to the /l log file when one is open.
// Any thread may trace; nothing is kept between calls except the trace
// level and the time the viewer's sends have taken so far (the viewer gets
// 5 s of a process's time in all).
#pragma once

#include <stdint.h>

#if defined(__GNUC__)
#define TRACE_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define TRACE_PRINTF_FORMAT(fmt, first)
#endif

// Non-zero when /d or /l was given: gates every trace line of the
// operations (the command-line echo is the one line traced without it).
extern int32_t g_debug_trace;

// Where lines go: the monitors (debugger output and viewer window) for /d,
// the log file for /l.  Monitors only until the command line is read.
constexpr int32_t trace_to_monitors = 1;
constexpr int32_t trace_to_log = 2;
extern int32_t g_trace_channels;

// Traces one step of an operation while /d is given.  The arguments are
// evaluated only then, so a result code is named only on a traced run and
// tracing never changes calls, pauses or results.
#define TRACE_STEP(...)                                                                             \
    do {                                                                                            \
        if (g_debug_trace)                                                                          \
            trace_message(__VA_ARGS__);                                                             \
    } while (0)

// Formats one line printf-style and delivers it.
void trace_message(const char* format, ...) TRACE_PRINTF_FORMAT(1, 2);

// Delivers text as one line; a '%' in it means nothing.
void trace_text(const char* text);

// Delivers the caption, then the bytes as lines of up to 16 hex cells.
void trace_hex_dump(const char* caption, const void* bytes, uint32_t count);

// The clock the viewer budget is kept by: GetTickCount64, unless a test
// drives the budget with a clock of its own instead of waiting it out.
using trace_clock_function = unsigned long long (*)();
extern trace_clock_function g_trace_clock;

// Gives the viewer its whole budget again (for tests that spend it).
void trace_reset_viewer_budget();

// Threshold under which the helper wrappers trace their complaints (1 at start).
void set_trace_level(int32_t level);
int32_t get_trace_level();
