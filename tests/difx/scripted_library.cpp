#include "difx/scripted_library.h"

#include <stdio.h>

#include "difx/procedures.h"
#include "tracelib/wrappers.h"

namespace {
ScriptedLibrary* g_script = nullptr;

uint32_t next_result(std::vector<uint32_t>& results, size_t* used)
{
    // Past its end a list keeps answering 0; tests give whole lists.
    uint32_t result = *used < results.size() ? results[*used] : 0;
    ++*used;
    return result;
}

size_t g_used[3];

void record(char letter, uint32_t flags, const char* inf)
{
    char text[16];
    snprintf(text, sizeof text, "%c%X", letter, static_cast<unsigned>(flags));
    g_script->calls.push_back(text);
    g_script->inf_paths.push_back(inf);
}

// No installer information, and always a reboot flag to write to: the one
// expected, or any at all when no address is expected.
void count_bad_arguments(const void* info, int32_t* reboot)
{
    if (info != nullptr || reboot == nullptr ||
        (g_script->expected_reboot != nullptr && reboot != g_script->expected_reboot))
        ++g_script->bad_arguments;
}

uint32_t WINAPI scripted_preinstall(const char* inf, uint32_t flags)
{
    record('S', flags, inf);
    return next_result(g_script->preinstall_results, &g_used[0]);
}

uint32_t WINAPI scripted_install(const char* inf, uint32_t flags, const void* info, int32_t* reboot)
{
    record('I', flags, inf);
    count_bad_arguments(info, reboot);
    return next_result(g_script->install_results, &g_used[1]);
}

uint32_t WINAPI scripted_uninstall(const char* inf, uint32_t flags, const void* info, int32_t* reboot)
{
    record('U', flags, inf);
    if (g_script->on_uninstall)
        g_script->on_uninstall(inf);
    count_bad_arguments(info, reboot);
    return next_result(g_script->uninstall_results, &g_used[2]);
}

void WINAPI scripted_set_log_callback(difx_log_callback, void*) {}

void counted_pause(uint32_t milliseconds)
{
    g_script->calls.push_back(milliseconds == 1000 ? "P" : "P?");
}
} // namespace

DifxEntryPoints use_script(ScriptedLibrary* script)
{
    g_script = script;
    g_used[0] = g_used[1] = g_used[2] = 0;
    g_difx_pause = counted_pause;
    return DifxEntryPoints{scripted_preinstall, scripted_install, scripted_uninstall, scripted_set_log_callback};
}

void end_script()
{
    g_difx_pause = sleep_ms;
    g_script = nullptr;
}

std::string join_calls(const std::vector<std::string>& calls)
{
    std::string out;
    for (const std::string& call : calls) {
        if (!out.empty())
            out += ' ';
        out += call;
    }
    return out;
}
