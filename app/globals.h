// Process-wide state.
#pragma once

#include <stdint.h>

// Non-zero when /d was given; gates every trace line but the command-line echo.
extern int32_t g_debug_trace;
