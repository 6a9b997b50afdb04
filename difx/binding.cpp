#include "difx/difx_api.h"

#include <string.h>

#include "app/globals.h"
#include "app/options.h"
#include "tracelib/trace.h"

#ifndef LOAD_LIBRARY_SEARCH_APPLICATION_DIR
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

// Loads the library from the executable's folder, then System32; never from
// the current directory or PATH, where anyone could plant a DLL that would
// run inside an elevated installer.
HMODULE load_difx_library()
{
    HMODULE module = LoadLibraryExA(difx_library_name, nullptr,
                                    LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER)
        return module;

    // A loader without the search flags: name the file beside the executable.
    char path[target_size + sizeof difx_library_name];
    uint32_t len = get_program_file_path(path, target_size);
    if (len == 0)
        return nullptr;
    path[len] = '\0';
    char* separator = strrchr(path, '\\');
    if (separator == nullptr)
        return nullptr;
    memcpy(separator + 1, difx_library_name, sizeof difx_library_name);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <typename Entry>
Entry bind_entry(HMODULE module, const char* name)
{
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

HMODULE bind_difx_library(DifxEntryPoints* entry_points)
{
    HMODULE module = load_difx_library();
    if (module == nullptr) {
        if (g_debug_trace)
            trace_message("Load library failed, make sure %s is in the same directory", difx_library_name);
        return nullptr;
    }

    entry_points->preinstall = bind_entry<difx_preinstall_entry>(module, "DriverPackagePreinstallA");
    entry_points->install = bind_entry<difx_install_entry>(module, "DriverPackageInstallA");
    entry_points->uninstall = bind_entry<difx_uninstall_entry>(module, "DriverPackageUninstallA");
    entry_points->set_log_callback = bind_entry<difx_set_log_callback_entry>(module, "DIFXAPISetLogCallbackA");

    if (entry_points->preinstall && entry_points->install && entry_points->uninstall &&
        entry_points->set_log_callback)
        return module;

    if (g_debug_trace)
        trace_message("Get ProcAddr failed, you may get the wrong %s", difx_library_name);
    FreeLibrary(module);
    return nullptr;
}
