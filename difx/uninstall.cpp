#include "difx/procedures.h"

#include "difx/result_names.h"
#include "tracelib/trace.h"

namespace {
constexpr int uninstall_attempts = 3;
} // namespace

uint32_t uninstall_package(const char* inf_path, uint32_t flags, int32_t* need_reboot,
                           const DifxEntryPoints* entry_points)
{
    TRACE_STEP("Call DriverPackageUninstall with\n    Path: %s\n   Flag: %08X\n", inf_path,
               static_cast<unsigned>(flags));

    const uint32_t uninstall_flags = flags | DRIVER_PACKAGE_SILENT | DRIVER_PACKAGE_DELETE_FILES;
    // The repair is part of a silent operation and stays silent; removing
    // the files is the uninstall's own request, not the install's.
    const uint32_t repair_flags = (uninstall_flags & ~DRIVER_PACKAGE_DELETE_FILES) | DRIVER_PACKAGE_REPAIR;
    for (int attempts = uninstall_attempts; attempts > 0;) {
        --attempts;
        uint32_t result = entry_points->uninstall(inf_path, uninstall_flags, nullptr, need_reboot);
        if (result == difx_file_not_found) {
            TRACE_STEP("Uninstall failed because file missing, now try to install/repare it first.");
            // The repair's own result only shows in the next uninstall.
            entry_points->install(inf_path, repair_flags, nullptr, need_reboot);
            g_difx_pause(difx_pause_ms);
            continue;
        }
        if (result == 0) {
            TRACE_STEP("Call DriverPackageUninstall Succeed.");
            g_difx_pause(difx_pause_ms);
            return 0;
        }
        TRACE_STEP("Call DriverPackageUninstall failed: %s", result_code_name(result));
        return result;
    }
    return difx_file_not_found;
}

uint32_t uninstall_to_goal(const char* inf_path, uint32_t flags, int32_t* need_reboot,
                           const DifxEntryPoints* entry_points)
{
    uint32_t result = uninstall_package(inf_path, flags, need_reboot, entry_points);
    if (result != difx_driver_store_miss)
        return result;
    TRACE_STEP("The package was not in the driver store: nothing left to uninstall.");
    return 0;
}
