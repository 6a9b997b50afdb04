// An open driver-install backend: "DifxApix64.dll" over the platform's own
// driver-setup functions, for machines that have no DIFx library.  It
// exports the four entry points Tavenor binds and answers with the result
// codes Tavenor's procedures understand.  Every step is reported through
// the registered log callback.
#include <windows.h>

#include <stdint.h>

#include "backend/backend_log.h"
#include "backend/operations.h"
#include "difx/difx_interface.h"

extern "C" {

__declspec(dllexport) uint32_t WINAPI DriverPackagePreinstallA(const char* inf, uint32_t flags)
{
    return preinstall_package(inf, flags);
}

__declspec(dllexport) uint32_t WINAPI DriverPackageInstallA(const char* inf, uint32_t flags, const void* info,
                                                            int32_t* reboot)
{
    return install_package(inf, flags, info, reboot);
}

__declspec(dllexport) uint32_t WINAPI DriverPackageUninstallA(const char* inf, uint32_t flags, const void* info,
                                                              int32_t* reboot)
{
    return uninstall_package(inf, flags, info, reboot);
}

__declspec(dllexport) void WINAPI DIFXAPISetLogCallbackA(difx_log_callback callback, void* context)
{
    set_log_callback(callback, context);
}

} // extern "C"

DIFX_CHECK_EXPORT(DriverPackagePreinstallA, difx_preinstall_entry);
DIFX_CHECK_EXPORT(DriverPackageInstallA, difx_install_entry);
DIFX_CHECK_EXPORT(DriverPackageUninstallA, difx_uninstall_entry);
DIFX_CHECK_EXPORT(DIFXAPISetLogCallbackA, difx_set_log_callback_entry);
