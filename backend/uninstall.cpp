// Removing a staged package from its devices and the driver store.
#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

#include "backend/backend_log.h"
#include "backend/devices.h"
#include "backend/operations.h"
#include "backend/package_identity.h"
#include "backend/package_paths.h"
#include "backend/platform.h"

namespace {

// Tavenor answers ERROR_FILE_NOT_FOUND from an uninstall with a repair
// install of the package; from a removal step it means the staged copy
// went away meanwhile, which is "not in the store".
DWORD removal_error(DWORD error, const std::wstring& staged)
{
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        error = difx_driver_store_miss;
    return fail(error, "removing the staged copy failed", staged);
}

// Removes the staged copy with DiUninstallDriverW, which moves every
// device using it to its next best driver (or none) first.
DWORD remove_with_devices(const std::wstring& staged, int32_t* reboot)
{
    BOOL needs_reboot = FALSE;
    BOOL removed = platform().uninstall_driver(nullptr, staged.c_str(), 0, &needs_reboot);
    DWORD error = GetLastError();
    note_reboot(needs_reboot, reboot);
    return removed ? ERROR_SUCCESS : removal_error(error, staged);
}

// Windows 10 before 1703 has no DiUninstallDriver.  "How Devices and
// Driver Packages are Uninstalled"
// (learn.microsoft.com/windows-hardware/drivers/install/how-devices-and-driver-packages-are-uninstalled):
// uninstall every device installed with the package first (DIF_REMOVE),
// then remove the package with SetupUninstallOEMInf.  SetupUninstallOEMInf
// alone would leave the devices on a package that is gone, and it ignores
// SUOI_FORCEDELETE for a package that copies files to DirId 13 (its page).
// The devices reached here are the ones not in the device tree, and under
// the force flag the present ones too; a re-enumerated device is installed
// anew from what the store still holds.
DWORD remove_devices_then_package(const std::wstring& staged, DWORD flags, int32_t* reboot)
{
    bool device_reboot = false;
    DWORD result = uninstall_devices_using(file_name(staged), &device_reboot);
    note_reboot(device_reboot ? TRUE : FALSE, reboot);
    if (result != ERROR_SUCCESS)
        return fail(result, "the devices that use the package could not be uninstalled", staged);
    DWORD style = (flags & DRIVER_PACKAGE_FORCE) ? SUOI_FORCEDELETE : 0;
    if (!platform().uninstall_oem_inf(file_name(staged).c_str(), style, nullptr))
        return removal_error(GetLastError(), staged);
    return ERROR_SUCCESS;
}

} // namespace

DWORD uninstall_package(const char* inf, DWORD flags, const void* info, int32_t* reboot)
{
    std::wstring path;
    DWORD result = check_installer_info(info, inf);
    if (result == ERROR_SUCCESS)
        result = check_inf(inf, &path);
    if (result != ERROR_SUCCESS)
        return result;
    result = check_machine();
    if (result != ERROR_SUCCESS)
        return result;
    DWORD undecided = 0;
    std::wstring staged = find_staged_copy(path, &undecided);
    if (staged.empty() && undecided != 0)
        return fail(undecided, "which staged copy is the package's cannot be told; nothing was removed", path);
    if (staged.empty())
        return fail(difx_driver_store_miss, "the driver package is not in the store", path);

    // Devices in the device tree that use the package keep it unless the
    // caller forces ("even if ... installed on devices in the device tree",
    // DriverPackageUninstall's DRIVER_PACKAGE_FORCE).  A device that is
    // registered but not present (DIGCF_PRESENT, SetupDiGetClassDevs), an
    // unplugged one, never blocks: it may never come back.
    std::vector<std::wstring> users = devices_using(file_name(staged), true);
    if (!users.empty() && !(flags & DRIVER_PACKAGE_FORCE)) {
        report(difx_log_error, ERROR_INF_IN_USE_BY_DEVICES, "%s is in use by device %s (force removes it anyway)",
               narrow(staged).c_str(), narrow(users.front()).c_str());
        return ERROR_INF_IN_USE_BY_DEVICES;
    }

    BOOL earlier = enter_silent_mode(flags);
    if (platform().uninstall_driver != nullptr)
        result = remove_with_devices(staged, reboot);
    else
        result = remove_devices_then_package(staged, flags, reboot);
    leave_silent_mode(earlier);
    if (result != ERROR_SUCCESS)
        return result;
    // A platform may answer success and keep the file: that is no removal.
    if (file_exists(staged))
        return fail(ERROR_INF_IN_USE_BY_DEVICES, "the platform kept the staged copy", staged);
    report(difx_log_success, 0, "removed %s (the staged copy of %s)", narrow(staged).c_str(), narrow(path).c_str());
    return ERROR_SUCCESS;
}
