// Staging a package and installing it on the devices it names.
#include <windows.h>
#include <newdev.h>
#include <setupapi.h>

#include <string>
#include <vector>

#include "backend/backend_log.h"
#include "backend/devices.h"
#include "backend/inf_file.h"
#include "backend/operations.h"
#include "backend/package_identity.h"
#include "backend/package_paths.h"
#include "backend/platform.h"
#include "base/window_station.h"

namespace {

// The installer-information record a caller may pass.
struct InstallerInfo {
    const char* application_id;
    const char* display_name;
    const char* product_name;
    const char* manufacturer_name;
};

// Stages the package in the driver store.  already_staged_ok: the install
// takes an already staged package as it is.
DWORD stage(const std::wstring& inf, DWORD flags, bool already_staged_ok)
{
    DWORD style = (flags & DRIVER_PACKAGE_REPAIR) ? 0 : SP_COPY_NOOVERWRITE;
    wchar_t published[MAX_PATH] = L"";
    BOOL earlier = enter_silent_mode(flags);
    BOOL copied = platform().copy_oem_inf(inf.c_str(), nullptr, SPOST_PATH, style, published, MAX_PATH, nullptr,
                                          nullptr);
    DWORD error = GetLastError();
    leave_silent_mode(earlier);
    if (copied) {
        report(difx_log_success, 0, "staged %s as %s", narrow(inf).c_str(), narrow(published).c_str());
        return ERROR_SUCCESS;
    }
    if (error == ERROR_FILE_EXISTS) {
        if (already_staged_ok) {
            report(difx_log_info, 0, "already staged: %s", narrow(inf).c_str());
            return ERROR_SUCCESS;
        }
        return fail(ERROR_ALREADY_EXISTS, "the package is already staged", inf);
    }
    // Signing and catalog failures come through as the platform reports them.
    return fail(error, "staging failed", inf);
}

// What staging needs of a package besides its INF: a device ID for this
// machine (its IDs go to ids) and the catalog the INF names, beside it.
DWORD check_package(const char* inf, std::wstring* path, std::vector<std::wstring>* ids)
{
    DWORD result = check_inf(inf, path);
    if (result == ERROR_SUCCESS)
        result = check_machine();
    if (result != ERROR_SUCCESS)
        return result;
    *ids = inf_device_ids(*path);
    if (ids->empty())
        return fail(difx_no_device_id, "the package names no device ID for this machine", *path);
    std::wstring catalog = catalog_name(*path);
    if (!catalog.empty() && !file_exists(folder_of(*path) + catalog))
        return fail(difx_invalid_catalog, "the catalog the INF names is missing", catalog);
    return ERROR_SUCCESS;
}

// One call of the device installer for the devices with this ID.
BOOL update(const std::wstring& id, const std::wstring& inf, DWORD install_flags, int32_t* reboot)
{
    BOOL needs_reboot = FALSE;
    BOOL done = platform().update_driver(nullptr, id.c_str(), inf.c_str(), install_flags, &needs_reboot);
    DWORD error = GetLastError();
    note_reboot(needs_reboot, reboot);
    SetLastError(error);
    return done;
}

// Installs the staged package on every present device that one of its ids
// names, once per ID as the devices spell it, then judges each device by
// the driver it runs afterwards, never by the platform's answer: TRUE means
// that a device was updated, not every one
// (learn.microsoft.com/windows/win32/api/newdev/nf-newdev-updatedriverforplugandplaydevicesw),
// and ERROR_NO_MORE_ITEMS comes also where Windows found no driver for the
// device in the INF.  Without the force flag a device that Windows keeps on
// another driver that works is no failure of the package; a device left
// without a working driver is, as is any device not on the package under
// force.
DWORD install_on_devices(const std::wstring& inf, const std::vector<std::wstring>& ids, DWORD flags, int32_t* reboot)
{
    std::vector<Target> targets = present_targets(ids);
    if (targets.empty())
        return fail(difx_no_such_devinst, "no present device matches the package", inf);
    DWORD undecided = 0;
    std::wstring staged_path = find_staged_copy(inf, &undecided);
    if (staged_path.empty())
        return fail(undecided != 0 ? undecided : difx_driver_store_miss, "the package is not staged", inf);
    std::wstring staged = file_name(staged_path);

    DWORD install_flags = run_silent(flags) ? INSTALLFLAG_NONINTERACTIVE : 0;
    bool forced = (flags & DRIVER_PACKAGE_FORCE) != 0;
    if (forced)
        install_flags |= INSTALLFLAG_FORCE;
    for (size_t i = 0; i < targets.size(); ++i) {
        const std::wstring& id = targets[i].id;
        bool done_before = false;
        for (size_t j = 0; j < i; ++j)
            done_before = done_before || same_text(targets[j].id, id);
        if (done_before)
            continue;
        if (update(id, inf, install_flags, reboot)) {
            report(difx_log_success, 0, "installed %s on devices with ID %s", narrow(inf).c_str(), narrow(id).c_str());
            continue;
        }
        DWORD error = GetLastError();
        if (error != ERROR_NO_MORE_ITEMS)
            return fail(error, "installing on the devices with this ID failed", id);
        // "Not better than the current driver".  A repair reinstalls the
        // package where every such device already runs it.
        bool all_current = true;
        for (const Target& target : targets) {
            if (same_text(target.id, id))
                all_current = all_current && same_text(driver_of(target.instance).inf, staged);
        }
        if ((flags & DRIVER_PACKAGE_REPAIR) && all_current && !forced) {
            if (!update(id, inf, install_flags | INSTALLFLAG_FORCE, reboot))
                return fail(GetLastError(), "reinstalling on the devices with this ID failed", id);
            report(difx_log_success, 0, "reinstalled %s on devices with ID %s", narrow(inf).c_str(),
                   narrow(id).c_str());
            continue;
        }
        report(difx_log_info, 0, "Windows installed nothing on the devices with ID %s", narrow(id).c_str());
    }
    for (const Target& target : targets) {
        DeviceDriver driver = driver_of(target.instance);
        if (same_text(driver.inf, staged))
            continue;
        if (!forced && driver.working) {
            report(difx_log_warning, 0, "device %s keeps the better-ranked driver %s", narrow(target.instance).c_str(),
                   narrow(driver.inf).c_str());
            continue;
        }
        report(difx_log_error, ERROR_NO_DRIVER_SELECTED, "device %s runs %s, not %s", narrow(target.instance).c_str(),
               driver.inf.empty() ? "no driver" : narrow(driver.inf).c_str(), narrow(staged).c_str());
        return ERROR_NO_DRIVER_SELECTED;
    }
    return ERROR_SUCCESS;
}

} // namespace

bool run_silent(DWORD flags)
{
    return (flags & DRIVER_PACKAGE_SILENT) || !someone_can_answer();
}

BOOL enter_silent_mode(DWORD flags)
{
    BOOL earlier = platform().get_non_interactive_mode();
    if (run_silent(flags))
        platform().set_non_interactive_mode(TRUE);
    return earlier;
}

void leave_silent_mode(BOOL earlier)
{
    platform().set_non_interactive_mode(earlier);
}

void note_reboot(BOOL needed, int32_t* reboot)
{
    if (!needed)
        return;
    report(difx_log_info, 0, "a reboot is needed to finish");
    if (reboot != nullptr)
        *reboot = 1;
}

DWORD check_machine()
{
    if (!runs_emulated())
        return ERROR_SUCCESS;
    report(difx_log_error, ERROR_BAD_ENVIRONMENT,
           "this x64 library runs emulated on a machine of another architecture (ARM64): it cannot judge that "
           "machine's models sections and catalogs; nothing was done");
    return ERROR_BAD_ENVIRONMENT;
}

DWORD check_installer_info(const void* info, const char* inf)
{
    const InstallerInfo* record = static_cast<const InstallerInfo*>(info);
    if (record != nullptr && (record->application_id == nullptr || record->application_id[0] == '\0'))
        return fail(ERROR_INVALID_PARAMETER, "the installer information names no application", widen(inf));
    return ERROR_SUCCESS;
}

DWORD preinstall_package(const char* inf, DWORD flags)
{
    std::wstring path;
    std::vector<std::wstring> ids;
    DWORD result = check_package(inf, &path, &ids);
    if (result != ERROR_SUCCESS)
        return result;
    return stage(path, flags, false);
}

DWORD install_package(const char* inf, DWORD flags, const void* info, int32_t* reboot)
{
    std::wstring path;
    std::vector<std::wstring> ids;
    DWORD result = check_installer_info(info, inf);
    if (result == ERROR_SUCCESS)
        result = check_package(inf, &path, &ids);
    if (result == ERROR_SUCCESS)
        result = stage(path, flags, true);
    if (result != ERROR_SUCCESS)
        return result;
    return install_on_devices(path, ids, flags, reboot);
}
