#include "app/globals.h"

int32_t g_debug_trace = 0;
