#include "difx/procedures.h"

#include "app/globals.h"
#include "difx/result_names.h"
#include "tracelib/trace.h"

namespace {

constexpr int staging_attempts = 4;
constexpr int install_attempts = 3;
constexpr uint32_t result_already_exists = 183;
constexpr uint32_t result_no_such_devinst = 0xE000020B;

// Results that make both phases drop silent mode and retry in legacy mode.
constexpr uint32_t signature_class_codes[] = {
    0x80092003, // CRYPT_E_FILE_ERROR
    0x800B0100, // TRUST_E_NOSIGNATURE
    0x800B0101, // CERT_E_EXPIRED
    0x800B0109, // CERT_E_UNTRUSTEDROOT
    0x800B0110, // CERT_E_WRONG_USAGE
    0xE0000244, // ERROR_SIGNATURE_OSATTRIBUTE_MISMATCH
    0xE0000303, // ERROR_MISSING_FILE
    0xE0000304, // ERROR_INVALID_CATALOG_DATA
};

bool is_signature_class(uint32_t result)
{
    for (uint32_t code : signature_class_codes) {
        if (code == result)
            return true;
    }
    return false;
}

uint32_t to_legacy_mode(uint32_t flags)
{
    return (flags & ~DRIVER_PACKAGE_SILENT) | DRIVER_PACKAGE_LEGACY_MODE;
}

// Staging; on success flags holds the word the installing phase starts from.
uint32_t stage_package(const char* inf_path, uint32_t* flags, int32_t* need_reboot,
                       const DifxEntryPoints* entry_points)
{
    uint32_t result = 0;
    for (int attempts = staging_attempts;;) {
        if (g_debug_trace)
            trace_message("Calling DriverPackagePreinstall with path:%s, flag = %08lx", inf_path,
                          static_cast<unsigned long>(*flags));
        result = entry_points->preinstall(inf_path, *flags);
        if (g_debug_trace)
            trace_message("DriverPackagePreinstall returned %s", result_code_name(result));

        if (result == result_already_exists) {
            // Cleared whatever the uninstall answers; staging is tried again.
            uninstall_package(inf_path, DRIVER_PACKAGE_FORCE, need_reboot, entry_points);
            if (--attempts > 0)
                continue;
            if (g_debug_trace)
                trace_message("After retry, Previnstall failed with ERROR_ALREADY_EXISTS, assume it success");
            result = 0;
            break;
        }
        if (is_signature_class(result)) {
            *flags = to_legacy_mode(*flags);
            if (--attempts > 0)
                continue;
        }
        break;
    }

    if (result != 0) {
        if (g_debug_trace)
            trace_message("Call DriverPackagePreinstall failed: %s", result_code_name(result));
    } else if (g_debug_trace) {
        trace_message("Call DriverPackagePreinstall succeed");
    }
    return result;
}

uint32_t install_staged_package(const char* inf_path, uint32_t flags, int32_t* need_reboot,
                                const DifxEntryPoints* entry_points)
{
    uint32_t result = 0;
    for (int attempts = install_attempts;;) {
        if (g_debug_trace)
            trace_message("Calling DriverPackageInstall with path:%s, flag = %08lx", inf_path,
                          static_cast<unsigned long>(flags));
        result = entry_points->install(inf_path, flags, nullptr, need_reboot);
        if (g_debug_trace)
            trace_message("DriverPackageInstall returned %s", result_code_name(result));

        if (result == 0) {
            g_difx_pause(difx_pause_ms);
            flags |= DRIVER_PACKAGE_REPAIR;
            result = entry_points->install(inf_path, flags, nullptr, need_reboot);
            g_difx_pause(difx_pause_ms);
            break;
        }
        if (result == result_already_exists) {
            flags |= DRIVER_PACKAGE_REPAIR;
            if (--attempts > 0)
                continue;
            break;
        }
        if (is_signature_class(result)) {
            flags = to_legacy_mode(flags);
            if (--attempts > 0)
                continue;
            break;
        }
        if (result == result_no_such_devinst) {
            flags |= DRIVER_PACKAGE_REPAIR;
            result = entry_points->install(inf_path, flags, nullptr, need_reboot);
        }
        break;
    }

    if (g_debug_trace) {
        if (result != 0)
            trace_message("Call DriverPackageInstall failed: %s", result_code_name(result));
        else
            trace_message("Call DriverPackageInstall Succeed.");
    }
    return result;
}

} // namespace

uint32_t install_package(const char* inf_path, uint32_t flags, int32_t* need_reboot,
                         const DifxEntryPoints* entry_points)
{
    uint32_t result = stage_package(inf_path, &flags, need_reboot, entry_points);
    if (result != 0)
        return result;
    return install_staged_package(inf_path, flags, need_reboot, entry_points);
}
