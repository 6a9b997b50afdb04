// The driver-install library's interface as Tavenor calls it and as both of
// our libraries (the rehearsal backend and the platform backend) export it:
// the file name, the four entry points, the flag word, the log callback and
// the result codes that Tavenor's procedures act on.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <type_traits>

#include "difx/difx_codes.h"

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

// Exported names of the four entry points.
constexpr char difx_preinstall_name[] = "DriverPackagePreinstallA";
constexpr char difx_install_name[] = "DriverPackageInstallA";
constexpr char difx_uninstall_name[] = "DriverPackageUninstallA";
constexpr char difx_set_log_callback_name[] = "DIFXAPISetLogCallbackA";

// For a library's own definitions: each export must have its entry's type.
#define DIFX_CHECK_EXPORT(function, entry_type)                                                      \
    static_assert(std::is_same<decltype(&function), entry_type>::value, #function " must match its entry type")
