// The driver-install library's entry points, as the program binds them.
#pragma once

#include <windows.h>

#include "difx/difx_interface.h"

struct DifxEntryPoints {
    difx_preinstall_entry preinstall;
    difx_install_entry install;
    difx_uninstall_entry uninstall;
    difx_set_log_callback_entry set_log_callback;
};

// Loads the library and binds all four entry points.  Returns the module
// handle, or nullptr with nothing left loaded.
HMODULE bind_difx_library(DifxEntryPoints* entry_points);

// How the binding loads a module: LoadLibraryExA, unless a test plays a
// loader without the safe search flags.
using load_library_function = HMODULE(WINAPI*)(const char* file_name, HANDLE reserved, DWORD flags);
extern load_library_function g_load_library;

// The log callback registered with the library; context is not used.
void __cdecl difx_log_sink(uint32_t event, uint32_t error, const char* description, void* context);
