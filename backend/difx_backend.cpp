// An open driver-install backend: "DifxApix64.dll" over the platform's own
// driver-setup functions, for machines that have no DIFx library.  It
// exports the four entry points Tavenor binds and answers with the result
// codes Tavenor's procedures understand.  Every step is reported through
// the registered log callback.
#include <windows.h>
#include <newdev.h>
#include <setupapi.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "difx/difx_interface.h"

namespace {

// The installer-information record a caller may pass; every field must be set.
struct InstallerInfo {
    const char* application_id;
    const char* display_name;
    const char* product_name;
    const char* manufacturer_name;
};

// Newer platforms remove a staged package with this; mingw's headers lack it.
using uninstall_driver_w = BOOL(WINAPI*)(HWND parent, const wchar_t* inf_path, DWORD flags, BOOL* need_reboot);

difx_log_callback g_callback = nullptr;
void* g_context = nullptr;

void report(DWORD event, DWORD error, const char* format, ...)
{
    if (g_callback == nullptr)
        return;
    char text[2048];
    va_list args;
    va_start(args, format);
    int len = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (len < 0)
        text[0] = '\0';
    g_callback(event, error, text, g_context);
}

// Returns error after reporting it, so a failure is one statement.
DWORD fail(DWORD error, const char* what, const char* inf)
{
    report(difx_log_error, error, "%s: %s", what, inf ? inf : "(null)");
    return error;
}

bool is_absolute(const char* path)
{
    return path[0] != '\0' && ((path[1] == ':' && path[2] == '\\') || (path[0] == '\\' && path[1] == '\\'));
}

std::string inf_folder()
{
    char windows[MAX_PATH];
    UINT len = GetWindowsDirectoryA(windows, sizeof windows);
    if (len == 0 || len >= sizeof windows)
        return std::string();
    return std::string(windows, len) + "\\INF\\";
}

bool starts_with_folder(const std::string& path, const std::string& folder)
{
    return !folder.empty() && path.size() > folder.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str(), static_cast<int>(folder.size()),
                          folder.c_str(), static_cast<int>(folder.size())) == CSTR_EQUAL;
}

bool read_whole(const std::string& path, std::string* bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char chunk[65536];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &read, nullptr) != 0) && read > 0)
        bytes->append(chunk, read);
    CloseHandle(file);
    return ok;
}

// Checks the INF path as every entry point needs it.
DWORD check_inf(const char* inf)
{
    if (inf == nullptr || !is_absolute(inf))
        return fail(ERROR_FILE_NOT_FOUND, "the INF path is not absolute", inf);
    DWORD attributes = GetFileAttributesA(inf);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail(ERROR_FILE_NOT_FOUND, "no such INF file", inf);
    return ERROR_SUCCESS;
}

// Stages the package in the driver store.  already_staged_ok: the install
// path takes an already staged package as it is.
DWORD stage(const char* inf, DWORD flags, bool already_staged_ok)
{
    if (starts_with_folder(inf, inf_folder()))
        return fail(ERROR_CANT_ACCESS_FILE, "the INF file is inside the system INF folder", inf);

    DWORD style = (flags & DRIVER_PACKAGE_REPAIR) ? 0 : SP_COPY_NOOVERWRITE;
    char staged[MAX_PATH] = "";
    if (SetupCopyOEMInfA(inf, nullptr, SPOST_PATH, style, staged, sizeof staged, nullptr, nullptr)) {
        report(difx_log_success, 0, "staged %s as %s", inf, staged);
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS) {
        if (already_staged_ok) {
            report(difx_log_info, 0, "already staged: %s", inf);
            return ERROR_SUCCESS;
        }
        return fail(ERROR_ALREADY_EXISTS, "the package is already staged", inf);
    }
    // Signing and catalog failures come through as the platform reports them.
    return fail(error, "staging failed", inf);
}

// Hardware and compatible IDs that the INF's model sections name.
std::vector<std::string> inf_device_ids(const char* inf)
{
    std::vector<std::string> ids;
    UINT error_line = 0;
    HINF handle = SetupOpenInfFileA(inf, nullptr, INF_STYLE_WIN4, &error_line);
    if (handle == INVALID_HANDLE_VALUE)
        return ids;
    INFCONTEXT manufacturer;
    for (BOOL more = SetupFindFirstLineA(handle, "Manufacturer", nullptr, &manufacturer); more;
         more = SetupFindNextLine(&manufacturer, &manufacturer)) {
        char models[256];
        if (!SetupGetStringFieldA(&manufacturer, 1, models, sizeof models, nullptr))
            continue;
        // The undecorated section and each decorated one ("Models.NTamd64").
        std::vector<std::string> sections = {models};
        DWORD fields = SetupGetFieldCount(&manufacturer);
        for (DWORD f = 2; f <= fields; ++f) {
            char decoration[256];
            if (SetupGetStringFieldA(&manufacturer, f, decoration, sizeof decoration, nullptr))
                sections.push_back(std::string(models) + "." + decoration);
        }
        for (const std::string& section : sections) {
            INFCONTEXT model;
            for (BOOL line = SetupFindFirstLineA(handle, section.c_str(), nullptr, &model); line;
                 line = SetupFindNextLine(&model, &model)) {
                DWORD count = SetupGetFieldCount(&model);
                for (DWORD f = 2; f <= count; ++f) {
                    char id[512];  // device IDs are at most 200 characters
                    if (SetupGetStringFieldA(&model, f, id, sizeof id, nullptr) && id[0] != '\0')
                        ids.push_back(id);
                }
            }
        }
    }
    SetupCloseInfFile(handle);
    return ids;
}

bool multi_sz_has(const std::vector<char>& list, const std::string& id)
{
    for (const char* p = list.data(); p < list.data() + list.size() && *p != '\0'; p += strlen(p) + 1) {
        if (lstrcmpiA(p, id.c_str()) == 0)
            return true;
    }
    return false;
}

std::vector<char> device_property(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property)
{
    std::vector<char> value(4096, '\0');
    DWORD size = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr, reinterpret_cast<BYTE*>(value.data()),
                                           static_cast<DWORD>(value.size() - 2), &size))
        return std::vector<char>(2, '\0');
    value.resize(size + 2, '\0');
    return value;
}

// The INF's IDs that a present device carries as hardware or compatible ID.
std::vector<std::string> present_ids(const std::vector<std::string>& ids)
{
    std::vector<std::string> found;
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return found;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        std::vector<char> hardware = device_property(set, &device, SPDRP_HARDWAREID);
        std::vector<char> compatible = device_property(set, &device, SPDRP_COMPATIBLEIDS);
        for (const std::string& id : ids) {
            bool listed = false;
            for (const std::string& taken : found)
                listed = listed || lstrcmpiA(taken.c_str(), id.c_str()) == 0;
            if (!listed && (multi_sz_has(hardware, id) || multi_sz_has(compatible, id)))
                found.push_back(id);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

// The staged copy in the system INF folder whose bytes equal inf: one of the
// oem*.inf names that Windows gives staged packages, or, where the platform
// keeps the package's own name (Wine does), the file of that name.
std::string find_staged_copy(const char* inf)
{
    std::string wanted;
    if (!read_whole(inf, &wanted))
        return std::string();
    std::string folder = inf_folder();
    std::string bytes;
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((folder + "oem*.inf").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        std::string match;
        do {
            std::string candidate = folder + entry.cFileName;
            if (read_whole(candidate, &bytes) && bytes == wanted) {
                match = candidate;
                break;
            }
        } while (FindNextFileA(listing, &entry));
        FindClose(listing);
        if (!match.empty())
            return match;
    }
    const char* name = strrchr(inf, '\\') + 1;
    std::string same_name = folder + name;
    if (read_whole(same_name, &bytes) && bytes == wanted)
        return same_name;
    return std::string();
}

bool installer_info_complete(const InstallerInfo* info)
{
    const char* fields[] = {info->application_id, info->display_name, info->product_name, info->manufacturer_name};
    for (const char* field : fields) {
        if (field == nullptr || field[0] == '\0')
            return false;
    }
    return true;
}

} // namespace

extern "C" {

__declspec(dllexport) uint32_t WINAPI DriverPackagePreinstallA(const char* inf, uint32_t flags)
{
    DWORD result = check_inf(inf);
    if (result != ERROR_SUCCESS)
        return result;
    return stage(inf, flags, false);
}

__declspec(dllexport) uint32_t WINAPI DriverPackageInstallA(const char* inf, uint32_t flags, const void* info,
                                                            int32_t* reboot)
{
    if (info != nullptr && !installer_info_complete(static_cast<const InstallerInfo*>(info)))
        return fail(ERROR_INVALID_PARAMETER, "the installer information has an empty field", inf);
    DWORD result = check_inf(inf);
    if (result != ERROR_SUCCESS)
        return result;
    result = stage(inf, flags, true);
    if (result != ERROR_SUCCESS)
        return result;

    std::vector<std::string> ids = present_ids(inf_device_ids(inf));
    if (ids.empty())
        return fail(difx_no_such_devinst, "no present device matches the package", inf);

    DWORD install_flags = 0;
    if (flags & DRIVER_PACKAGE_FORCE)
        install_flags |= INSTALLFLAG_FORCE;
    if (flags & DRIVER_PACKAGE_SILENT)
        install_flags |= INSTALLFLAG_NONINTERACTIVE;
    for (const std::string& id : ids) {
        BOOL needs_reboot = FALSE;
        if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, id.c_str(), inf, install_flags, &needs_reboot)) {
            DWORD error = GetLastError();
            report(difx_log_error, error, "installing on devices with ID %s failed", id.c_str());
            return error;
        }
        report(difx_log_success, 0, "installed %s on devices with ID %s", inf, id.c_str());
        if (needs_reboot) {
            report(difx_log_info, 0, "a reboot is needed to finish the installation");
            if (reboot != nullptr)
                *reboot = 1;
        }
    }
    return ERROR_SUCCESS;
}

__declspec(dllexport) uint32_t WINAPI DriverPackageUninstallA(const char* inf, uint32_t flags, const void* info,
                                                              int32_t* reboot)
{
    if (info != nullptr && !installer_info_complete(static_cast<const InstallerInfo*>(info)))
        return fail(ERROR_INVALID_PARAMETER, "the installer information has an empty field", inf);
    DWORD result = check_inf(inf);
    if (result != ERROR_SUCCESS)
        return result;
    // A file of the INF folder itself would match itself below.
    if (starts_with_folder(inf, inf_folder()))
        return fail(ERROR_CANT_ACCESS_FILE, "the INF file is inside the system INF folder", inf);
    std::string staged = find_staged_copy(inf);
    if (staged.empty())
        return fail(difx_driver_store_miss, "the driver package is not in the store", inf);

    HMODULE newdev = GetModuleHandleA("newdev.dll");
    uninstall_driver_w uninstall_driver = nullptr;
    if (newdev != nullptr)
        uninstall_driver = reinterpret_cast<uninstall_driver_w>(
            reinterpret_cast<void*>(GetProcAddress(newdev, "DiUninstallDriverW")));
    if (uninstall_driver != nullptr) {
        wchar_t wide[MAX_PATH];
        if (MultiByteToWideChar(CP_ACP, 0, staged.c_str(), -1, wide, MAX_PATH) == 0)
            return fail(ERROR_FILENAME_EXCED_RANGE, "the staged path does not convert", staged.c_str());
        BOOL needs_reboot = FALSE;
        if (!uninstall_driver(nullptr, wide, 0, &needs_reboot)) {
            DWORD error = GetLastError();
            report(difx_log_error, error, "removing %s failed", staged.c_str());
            return error;
        }
        if (needs_reboot && reboot != nullptr)
            *reboot = 1;
    } else {
        const char* name = strrchr(staged.c_str(), '\\') + 1;
        if (!SetupUninstallOEMInfA(name, (flags & DRIVER_PACKAGE_FORCE) ? SUOI_FORCEDELETE : 0, nullptr)) {
            DWORD error = GetLastError();
            report(difx_log_error, error, "removing %s failed", staged.c_str());
            return error;
        }
    }
    // A platform may answer success and keep the file (Wine does without
    // the force flag): that is no removal.
    if (GetFileAttributesA(staged.c_str()) != INVALID_FILE_ATTRIBUTES)
        return fail(ERROR_INF_IN_USE_BY_DEVICES, "the platform kept the staged copy (try /f)", staged.c_str());
    report(difx_log_success, 0, "removed %s (the staged copy of %s)", staged.c_str(), inf);
    return ERROR_SUCCESS;
}

__declspec(dllexport) void WINAPI DIFXAPISetLogCallbackA(difx_log_callback callback, void* context)
{
    g_callback = callback;
    g_context = context;
}

} // extern "C"

DIFX_CHECK_EXPORT(DriverPackagePreinstallA, difx_preinstall_entry);
DIFX_CHECK_EXPORT(DriverPackageInstallA, difx_install_entry);
DIFX_CHECK_EXPORT(DriverPackageUninstallA, difx_uninstall_entry);
DIFX_CHECK_EXPORT(DIFXAPISetLogCallbackA, difx_set_log_callback_entry);
