// The backend's three operations behind its entry points.
#pragma once

#include <windows.h>

#include <stdint.h>

DWORD preinstall_package(const char* inf, DWORD flags);
DWORD install_package(const char* inf, DWORD flags, const void* info, int32_t* reboot);
DWORD uninstall_package(const char* inf, DWORD flags, const void* info, int32_t* reboot);

// Shared by the operations.

// Whether setup steps must run without dialogs: asked for (/s), or nobody
// can answer one (a window station nobody sees), which holds also when
// Tavenor's legacy-mode retry drops the silent flag.
bool run_silent(DWORD flags);

// Puts the setup functions in non-interactive mode where run_silent says
// so, and returns the mode they had for leave_silent_mode to restore.
BOOL enter_silent_mode(DWORD flags);
void leave_silent_mode(BOOL earlier);

// Records a reboot request in the caller's flag.  Only ever sets it: the
// flag is Tavenor's across several calls and a later call must not undo an
// earlier call's request.
void note_reboot(BOOL needed, int32_t* reboot);

// ERROR_BAD_ENVIRONMENT, reported, where this x64 library runs emulated on
// an ARM64 machine (IsWow64Process2's native machine): only the machine's
// own architecture can read its models sections and catalogs, and only an
// x64 build is made.
DWORD check_machine();

// An installer-information record, where one is given, names the
// application; ERROR_INVALID_PARAMETER where it does not.
DWORD check_installer_info(const void* info, const char* inf);
