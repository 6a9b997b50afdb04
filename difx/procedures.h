// The uninstall and install procedures with their retry rules.
#pragma once

#include <stdint.h>

#include "difx/difx_api.h"
#include "tracelib/wrappers.h"

// The procedures' fixed pause.
constexpr uint32_t difx_pause_ms = 1000;

// How the procedures pause: sleep_ms, unless a test counts the pauses.
using pause_function = void (*)(uint32_t milliseconds);
inline pause_function g_difx_pause = sleep_ms;

// Uninstalls the package with its files, silently; repairs and retries
// when the library reports a missing file.  Returns the library's result.
uint32_t uninstall_package(const char* inf_path, uint32_t flags, int32_t* need_reboot,
                           const DifxEntryPoints* entry_points);

// The uninstall a user asks for (/u): its goal is a package that is not in
// the driver store, so a library answer of "not in the store" is that goal
// reached (0), said in the trace.  The clean and the install's own clearing
// call uninstall_package instead: for them that answer means nothing was
// removed.
uint32_t uninstall_to_goal(const char* inf_path, uint32_t flags, int32_t* need_reboot,
                           const DifxEntryPoints* entry_points);

// Stages, then installs the package, then repairs it.  Returns the result
// code that ended the procedure, 0 on success.
uint32_t install_package(const char* inf_path, uint32_t flags, int32_t* need_reboot,
                         const DifxEntryPoints* entry_points);
