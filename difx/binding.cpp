#include "difx/difx_api.h"

#include <string.h>

#include "base/program_path.h"
#include "base/sizes.h"
#include "tracelib/trace.h"

#ifndef LOAD_LIBRARY_SEARCH_APPLICATION_DIR
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

load_library_function g_load_library = LoadLibraryExA;

namespace {

// A loader without the search flags answers this way.
bool lacks_search_flags(HMODULE module)
{
    return module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER;
}

// Loads the library from the program's folder, then System32; never from
// the current directory or PATH, where anyone could plant a DLL that would
// run inside an elevated installer.
HMODULE load_difx_library()
{
    HMODULE module = g_load_library(difx_library_name, nullptr,
                                    LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!lacks_search_flags(module))
        return module;

    // A loader without the search flags: name each file in full, so no
    // search path takes part.
    char path[path_buffer_size];
    uint32_t len = get_program_file_path(path, sizeof path);
    if (len != 0 && path_beside(path, difx_library_name, path, sizeof path)) {
        module = g_load_library(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module != nullptr)
            return module;
    }
    UINT system_len = GetSystemDirectoryA(path, sizeof path);
    if (system_len == 0 || system_len + 1 + sizeof difx_library_name > sizeof path)
        return nullptr;
    path[system_len] = '\\';
    memcpy(path + system_len + 1, difx_library_name, sizeof difx_library_name);
    return g_load_library(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
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
        TRACE_STEP("Load library failed, make sure %s is in the same directory", difx_library_name);
        return nullptr;
    }

    entry_points->preinstall = bind_entry<difx_preinstall_entry>(module, difx_preinstall_name);
    entry_points->install = bind_entry<difx_install_entry>(module, difx_install_name);
    entry_points->uninstall = bind_entry<difx_uninstall_entry>(module, difx_uninstall_name);
    entry_points->set_log_callback = bind_entry<difx_set_log_callback_entry>(module, difx_set_log_callback_name);

    if (entry_points->preinstall && entry_points->install && entry_points->uninstall &&
        entry_points->set_log_callback)
        return module;

    TRACE_STEP("Get ProcAddr failed, you may get the wrong %s", difx_library_name);
    FreeLibrary(module);
    return nullptr;
}
