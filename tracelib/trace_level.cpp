#include "tracelib/trace.h"

int32_t g_debug_trace = 0;
int32_t g_trace_channels = trace_to_monitors;

namespace {
int32_t trace_level = 1;
}

void set_trace_level(int32_t level)
{
    trace_level = level;
}

int32_t get_trace_level()
{
    return trace_level;
}
