// Tavenor: installs, uninstalls and cleans driver packages for setup
// programs.  It opens no window and answers with its exit code.
#include <windows.h>

#include <string.h>

#include "app/command_options.h"
#include "app/options.h"
#include "app/run_log.h"
#include "app/tokens.h"
#include "app/usage.h"
#include "base/exit_codes.h"
#include "clean/clean.h"
#include "difx/difx_api.h"
#include "difx/procedures.h"
#include "tracelib/trace.h"

namespace {

int run_operation(CommandOptions* options)
{
    int32_t need_reboot = 0;
    DifxEntryPoints entry_points;
    HMODULE library = bind_difx_library(&entry_points);
    if (library == nullptr)
        return exit_not_bound;
    log_library(library);
    entry_points.set_log_callback(difx_log_sink, options);

    // The parser accepts a command line only with an operation and its target.
    uint32_t result;
    if (options->operation == operation_install)
        result = install_package(options->target, options->difx_flags, &need_reboot, &entry_points);
    else if (options->operation == operation_uninstall)
        result = uninstall_to_goal(options->target, options->difx_flags, &need_reboot, &entry_points);
    else
        result = static_cast<uint32_t>(clean_driver_store(options->folder_pattern, options->target, &entry_points));

    FreeLibrary(library);
    if (result != 0)
        return exit_failed;
    return need_reboot ? exit_reboot_needed : exit_success;
}

} // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*runtime_tail*/, int /*show*/)
{
    // The runtime's own tail takes every byte of 0x80 and above in an
    // unquoted program path for a blank, which cuts the path into the tail.
    const char* tail = skip_program_name(GetCommandLineA());
    g_debug_trace = 0;

    trace_message("%s", tail);
    trace_message("\n");
    // A longer tail is refused, not cut: a cut could turn one path into
    // another.
    char buffer[command_buffer_size];
    size_t len = strlen(tail);
    bool tail_fits = len <= command_tail_max;
    if (tail_fits)
        memcpy(buffer, tail, len + 1);
    else
        buffer[0] = '\0';

    CommandOptions options;
    if (!tail_fits || !tokenize_command_line(buffer) || !parse_options(buffer, &options)) {
        show_usage();
        return exit_usage;
    }

    // A log that cannot be opened is said once on the debugger output and
    // changes nothing else.
    bool logged = options.log_path[0] != '\0' && start_run_log(options.log_path);
    g_trace_channels = (options.debug_trace ? trace_to_monitors : 0) | (logged ? trace_to_log : 0);
    g_debug_trace = g_trace_channels != 0 ? 1 : 0;

    int exit_code = run_operation(&options);
    if (logged)
        end_run_log(exit_code);
    return exit_code;
}
