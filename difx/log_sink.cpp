#include "difx/difx_api.h"

#include "tracelib/trace.h"

void __cdecl difx_log_sink(uint32_t event, uint32_t error, const char* description, void* /*context*/)
{
    if (!g_debug_trace)
        return;
    if (description == nullptr)
        description = "";
    if (error == 0)
        trace_message("LOG Event: %u, %s", static_cast<unsigned>(event), description);
    else
        trace_message("LOG Event: %u, Error = %u, %s", static_cast<unsigned>(event),
                      static_cast<unsigned>(error), description);
}
