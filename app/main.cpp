// Tavenor: installs, uninstalls and cleans driver packages for setup
// programs.  It opens no window and answers with its exit code.
#include <windows.h>

#include <string.h>

#include "app/command_options.h"
#include "app/options.h"
#include "app/tokens.h"
#include "app/usage.h"
#include "clean/clean.h"
#include "difx/difx_api.h"
#include "difx/procedures.h"
#include "tracelib/trace.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR tail, int /*show*/)
{
    int32_t need_reboot = 0;
    g_debug_trace = 0;

    char buffer[command_buffer_size];
    buffer[0] = '\0';
    buffer[1] = '\0';
    bool tail_fits = true;
    if (tail != nullptr) {
        trace_message("%s", tail);
        trace_message("\n");
        // A longer tail is refused, not cut: a cut could turn one path
        // into another.
        size_t len = strlen(tail);
        if (len > command_tail_max)
            tail_fits = false;
        else
            memcpy(buffer, tail, len + 1);
    }

    CommandOptions options;
    if (!tail_fits || !tokenize_command_line(buffer) || !parse_options(buffer, &options)) {
        show_usage();
        return exit_usage;
    }
    g_debug_trace = options.debug_trace;

    DifxEntryPoints entry_points;
    HMODULE library = bind_difx_library(&entry_points);
    if (library == nullptr)
        return exit_not_bound;
    entry_points.set_log_callback(difx_log_sink, &options);

    // The parser accepts a command line only with an operation and its target.
    uint32_t result;
    if (options.operation == operation_install)
        result = install_package(options.target, options.difx_flags, &need_reboot, &entry_points);
    else if (options.operation == operation_uninstall)
        result = uninstall_package(options.target, options.difx_flags, &need_reboot, &entry_points);
    else
        result = static_cast<uint32_t>(clean_driver_store(options.folder_pattern, options.target, &entry_points));

    FreeLibrary(library);
    if (result != 0)
        return exit_failed;
    return need_reboot ? exit_reboot_needed : exit_success;
}
