#include "clean/clean.h"

#include <windows.h>

#include <string.h>

#include "clean/fs_helpers.h"
#include "difx/procedures.h"
#include "tracelib/trace.h"

namespace {

constexpr char old_store_suffix[] = "\\DRVSTORE\\";
constexpr char store_suffix[] = "\\DriverStore\\FileRepository\\";
constexpr uint16_t first_store_version = 0x0600;

// (major << 8) | minor from GetVersion, whose low word holds the major
// version in its low byte and the minor version in its high byte.
uint16_t os_version_word()
{
    DWORD version = GetVersion();
    return static_cast<uint16_t>(((version & 0xFF) << 8) | ((version >> 8) & 0xFF));
}

} // namespace

int clean_dev_in_dir(const char* folder, const char* dev_id, const DifxEntryPoints* entry_points)
{
    TRACE_STEP("Clean dev in dir:%s", folder);

    char inf_name[path_buffer_size];
    if (!find_inf_containing(folder, "*.inf", dev_id, inf_name, sizeof inf_name)) {
        TRACE_STEP("Not found");
        return 0;
    }

    char temp_dir[path_buffer_size];
    if (!make_temp_dir(temp_dir, sizeof temp_dir)) {
        TRACE_STEP("Can not create a temp path");
        return 0;
    }

    if (!copy_folder_files(folder, temp_dir)) {
        TRACE_STEP("Copy from %s to %s failed!", folder, temp_dir);
        destroy_path(temp_dir);
        return 0;
    }

    char inf_copy[path_buffer_size];
    uint32_t result = 0;
    int32_t restart = 0;
    bool fits = join_path(inf_copy, temp_dir, "\\", inf_name) != 0;
    if (fits)
        result = uninstall_package(inf_copy, DRIVER_PACKAGE_FORCE, &restart, entry_points);
    destroy_path(temp_dir);

    if (!fits || result != 0) {
        TRACE_STEP("CLEAN: failed to uninstall %s", inf_copy);
        return 0;
    }
    TRACE_STEP("clean_dev_in_dir succed!");
    return 1;
}

int clean_driver_store(const char* folder_pattern, const char* dev_id, const DifxEntryPoints* entry_points)
{
    TRACE_STEP("Now clean device driver:%s in %s", dev_id, folder_pattern);

    char store[path_buffer_size];
    UINT system_len = GetSystemDirectoryA(store, sizeof store);
    if (system_len == 0 || system_len >= sizeof store) {
        TRACE_STEP("Get System32 Directory failed!");
        return 0;
    }

    uint16_t version = os_version_word();
    TRACE_STEP("Windows Version = %04X", static_cast<unsigned>(version));

    const char* suffix = version < first_store_version ? old_store_suffix : store_suffix;
    char system_dir[path_buffer_size];
    memcpy(system_dir, store, system_len + 1);
    if (!join_path(store, system_dir, suffix, "")) {
        TRACE_STEP("Get System32 Directory failed!");
        return 0;
    }

    char pattern[path_buffer_size];
    WIN32_FIND_DATAA entry;
    HANDLE listing = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILENAME_EXCED_RANGE;
    if (join_path(pattern, store, "", folder_pattern)) {
        listing = FindFirstFileA(pattern, &entry);
        // Read at once: tracing calls the platform, which may overwrite it.
        error = GetLastError();
    }
    if (listing == INVALID_HANDLE_VALUE) {
        if (g_debug_trace) {
            trace_message("Find %s failed", pattern);
            trace_message("GetLastError() returns:%08X", static_cast<unsigned>(error));
        }
        return 0;
    }

    // A copy as large as the device ID itself can be, so no ID is cut.
    char working_copy[path_buffer_size];
    size_t id_len = strnlen(dev_id, sizeof working_copy - 1);
    memcpy(working_copy, dev_id, id_len);
    working_copy[id_len] = '\0';

    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || is_dot_or_dot_dot(entry.cFileName))
            continue;
        char package_folder[path_buffer_size];
        if (!join_path(package_folder, store, "", entry.cFileName)) {
            TRACE_STEP("Find %s failed", package_folder);
            continue;
        }
        clean_dev_in_dir(package_folder, working_copy, entry_points);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);

    TRACE_STEP("Clean finished!");
    return 0;
}
