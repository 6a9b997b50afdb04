// The driver-install library's entry points, as the program binds them.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "difx/difx_flags.h"

constexpr char difx_library_name[] = "DifxApix64.dll";

// Receives the library's own log events.
using difx_log_callback = void(__cdecl*)(uint32_t event, uint32_t error, const char* description,
                                         void* context);

using difx_preinstall_entry = uint32_t(WINAPI*)(const char* inf_path, uint32_t flags);
using difx_install_entry = uint32_t(WINAPI*)(const char* inf_path, uint32_t flags,
                                             const void* installer_info, int32_t* need_reboot);
using difx_uninstall_entry = uint32_t(WINAPI*)(const char* inf_path, uint32_t flags,
                                               const void* installer_info, int32_t* need_reboot);
using difx_set_log_callback_entry = void(WINAPI*)(difx_log_callback callback, void* context);

struct DifxEntryPoints {
    difx_preinstall_entry preinstall;
    difx_install_entry install;
    difx_uninstall_entry uninstall;
    difx_set_log_callback_entry set_log_callback;
};

// Loads the library and binds all four entry points.  Returns the module
// handle, or nullptr with nothing left loaded.
HMODULE bind_difx_library(DifxEntryPoints* entry_points);

// The log callback registered with the library; context is not used.
void __cdecl difx_log_sink(uint32_t event, uint32_t error, const char* description, void* context);
