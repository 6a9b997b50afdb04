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

#include "base/path_kind.h"
#include "difx/difx_interface.h"

namespace {

// A device instance ID's longest text and its NUL.
constexpr DWORD device_instance_id_max = 200;

// The installer-information record a caller may pass.
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

// A package may name at most this many device IDs for this machine.
constexpr size_t device_id_max = 4096;

// Paths as the backend checks and uses them: "\\?\" taken off, made full
// by the platform ("..", "/" and all), short names made long, so that one
// file has one spelling.  Returns ERROR_SUCCESS or the reason there is none.
DWORD canonical_path(const char* path, std::string* out)
{
    std::string raw = path;
    if (raw.compare(0, 8, "\\\\?\\UNC\\") == 0)
        raw = "\\\\" + raw.substr(8);
    else if (raw.compare(0, 4, "\\\\?\\") == 0)
        raw = raw.substr(4);
    char full[MAX_PATH];
    if (raw.size() >= sizeof full)
        return ERROR_FILENAME_EXCED_RANGE;
    DWORD len = GetFullPathNameA(raw.c_str(), sizeof full, full, nullptr);
    if (len == 0)
        return ERROR_INVALID_NAME;
    if (len >= sizeof full)
        return ERROR_FILENAME_EXCED_RANGE;
    char long_name[MAX_PATH];
    DWORD long_len = GetLongPathNameA(full, long_name, sizeof long_name);
    if (long_len >= sizeof long_name)
        return ERROR_FILENAME_EXCED_RANGE;
    *out = long_len != 0 ? std::string(long_name, long_len) : std::string(full, len);
    return ERROR_SUCCESS;
}

// The system's INF folder, with its trailing backslash.  The system's
// Windows folder, not the per-user one a Remote Desktop host gives.
std::string inf_folder()
{
    char windows[MAX_PATH];
    UINT len = GetSystemWindowsDirectoryA(windows, sizeof windows);
    std::string folder;
    if (len == 0 || len >= sizeof windows || canonical_path((std::string(windows, len) + "\\INF").c_str(), &folder))
        return std::string();
    return folder + "\\";
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

// Checks the INF path as every entry point needs it and gives its one
// spelling.  No spelling of a file in the system INF folder gets past.
DWORD check_inf(const char* inf, std::string* canonical)
{
    if (inf == nullptr || !is_absolute_path(inf))
        return fail(ERROR_FILE_NOT_FOUND, "the INF path is not absolute", inf);
    DWORD error = canonical_path(inf, canonical);
    if (error != ERROR_SUCCESS)
        return fail(error, "the INF path cannot be used", inf);
    if (starts_with_folder(*canonical, inf_folder()))
        return fail(ERROR_CANT_ACCESS_FILE, "the INF file is inside the system INF folder", canonical->c_str());
    DWORD attributes = GetFileAttributesA(canonical->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail(ERROR_FILE_NOT_FOUND, "no such INF file", canonical->c_str());
    return ERROR_SUCCESS;
}

// A silent call runs the platform's setup functions without dialogs: a
// step that would need one fails instead.  Returns the mode to put back.
BOOL enter_silence(DWORD flags)
{
    BOOL earlier = SetupGetNonInteractiveMode();
    if (flags & DRIVER_PACKAGE_SILENT)
        SetupSetNonInteractiveMode(TRUE);
    return earlier;
}

// Stages the package in the driver store.  already_staged_ok: the install
// path takes an already staged package as it is.
DWORD stage(const std::string& inf, DWORD flags, bool already_staged_ok)
{
    DWORD style = (flags & DRIVER_PACKAGE_REPAIR) ? 0 : SP_COPY_NOOVERWRITE;
    char staged[MAX_PATH] = "";
    BOOL earlier = enter_silence(flags);
    BOOL copied = SetupCopyOEMInfA(inf.c_str(), nullptr, SPOST_PATH, style, staged, sizeof staged, nullptr, nullptr);
    DWORD error = GetLastError();
    SetupSetNonInteractiveMode(earlier);
    if (copied) {
        report(difx_log_success, 0, "staged %s as %s", inf.c_str(), staged);
        return ERROR_SUCCESS;
    }
    if (error == ERROR_FILE_EXISTS) {
        if (already_staged_ok) {
            report(difx_log_info, 0, "already staged: %s", inf.c_str());
            return ERROR_SUCCESS;
        }
        return fail(ERROR_ALREADY_EXISTS, "the package is already staged", inf.c_str());
    }
    // Signing and catalog failures come through as the platform reports them.
    return fail(error, "staging failed", inf.c_str());
}

// This machine's architecture as INF decorations name it.
const char* machine_architecture()
{
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        return "amd64";
    case PROCESSOR_ARCHITECTURE_ARM64:
        return "arm64";
    case PROCESSOR_ARCHITECTURE_INTEL:
        return "x86";
    default:
        return "";
    }
}

// How well a models decoration "NT[arch][.major[.minor[.type[.suite[.build]]]]]"
// fits this machine: -1 when it does not apply, else higher for a closer
// fit (an architecture named, then a higher version).  Product type and
// suite mask are not looked at.
long long decoration_fit(const std::string& decoration, const OSVERSIONINFOA& os)
{
    if (decoration.size() < 2 || CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, decoration.c_str(), 2, "NT", 2) !=
                                     CSTR_EQUAL)
        return -1;
    std::string rest = decoration.substr(2);
    std::string architecture = rest.substr(0, rest.find('.'));
    if (!architecture.empty() && lstrcmpiA(architecture.c_str(), machine_architecture()) != 0)
        return -1;
    unsigned long fields[5] = {0, 0, 0, 0, 0};
    size_t at = rest.find('.');
    for (int i = 0; i < 5 && at != std::string::npos; ++i) {
        size_t next = rest.find('.', at + 1);
        std::string field = rest.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        fields[i] = field.empty() ? 0 : strtoul(field.c_str(), nullptr, 0);
        at = next;
    }
    unsigned long long wanted = (static_cast<unsigned long long>(fields[0]) << 40) |
                                (static_cast<unsigned long long>(fields[1]) << 32) | fields[4];
    unsigned long long have = (static_cast<unsigned long long>(os.dwMajorVersion) << 40) |
                              (static_cast<unsigned long long>(os.dwMinorVersion) << 32) | os.dwBuildNumber;
    if (wanted > have)
        return -1;
    return (architecture.empty() ? 0 : (1LL << 62)) + static_cast<long long>(wanted >> 2);
}

// The device IDs of the models sections that apply to this machine: for
// each manufacturer, the best-fitting decorated section, or the undecorated
// one where no decoration applies.
std::vector<std::string> inf_device_ids(const std::string& inf)
{
    std::vector<std::string> ids;
    UINT error_line = 0;
    HINF handle = SetupOpenInfFileA(inf.c_str(), nullptr, INF_STYLE_WIN4, &error_line);
    if (handle == INVALID_HANDLE_VALUE)
        return ids;
    OSVERSIONINFOA os = {};
    os.dwOSVersionInfoSize = sizeof os;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&os);
#pragma GCC diagnostic pop
    INFCONTEXT manufacturer;
    for (BOOL more = SetupFindFirstLineA(handle, "Manufacturer", nullptr, &manufacturer); more;
         more = SetupFindNextLine(&manufacturer, &manufacturer)) {
        char models[256];
        if (!SetupGetStringFieldA(&manufacturer, 1, models, sizeof models, nullptr))
            continue;
        std::string section = models;
        long long best = -1;
        DWORD fields = SetupGetFieldCount(&manufacturer);
        for (DWORD f = 2; f <= fields; ++f) {
            char decoration[256];
            if (!SetupGetStringFieldA(&manufacturer, f, decoration, sizeof decoration, nullptr))
                continue;
            long long fit = decoration_fit(decoration, os);
            if (fit > best) {
                best = fit;
                section = std::string(models) + "." + decoration;
            }
        }
        INFCONTEXT model;
        for (BOOL line = SetupFindFirstLineA(handle, section.c_str(), nullptr, &model); line && ids.size() < device_id_max;
             line = SetupFindNextLine(&model, &model)) {
            DWORD count = SetupGetFieldCount(&model);
            for (DWORD f = 2; f <= count; ++f) {
                char id[512];  // device IDs are at most 200 characters
                if (SetupGetStringFieldA(&model, f, id, sizeof id, nullptr) && id[0] != '\0')
                    ids.push_back(id);
            }
        }
    }
    SetupCloseInfFile(handle);
    return ids;
}

std::vector<std::string> multi_sz(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property)
{
    std::vector<std::string> out;
    std::vector<char> value(4096, '\0');
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr, reinterpret_cast<BYTE*>(value.data()),
                                           static_cast<DWORD>(value.size() - 2), nullptr))
        return out;
    for (const char* p = value.data(); *p != '\0'; p += strlen(p) + 1)
        out.push_back(p);
    return out;
}

// The file name of the INF a device's driver was installed from, as its
// driver key records it; empty for none.
std::string device_driver_inf(HDEVINFO set, SP_DEVINFO_DATA* device)
{
    HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return std::string();
    char value[MAX_PATH] = "";
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    std::string out;
    if (RegQueryValueExA(key, "InfPath", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
        type == REG_SZ)
        out = value;
    RegCloseKey(key);
    return out;
}

std::string instance_id(HDEVINFO set, SP_DEVINFO_DATA* device)
{
    char id[device_instance_id_max] = "";
    SetupDiGetDeviceInstanceIdA(set, device, id, sizeof id, nullptr);
    return id;
}

// The catalog the package's INF names for this machine:
// "CatalogFile.NT<architecture>", else "CatalogFile"; empty for none.
std::string catalog_name(const std::string& inf)
{
    std::string name;
    UINT error_line = 0;
    HINF handle = SetupOpenInfFileA(inf.c_str(), nullptr, INF_STYLE_WIN4, &error_line);
    if (handle == INVALID_HANDLE_VALUE)
        return name;
    std::string decorated = std::string("CatalogFile.NT") + machine_architecture();
    for (const std::string& key : {decorated, std::string("CatalogFile")}) {
        char value[MAX_PATH];
        if (SetupGetLineTextA(nullptr, handle, "Version", key.c_str(), value, sizeof value, nullptr)) {
            name = value;
            break;
        }
    }
    SetupCloseInfFile(handle);
    return name;
}

// Where the driver store keeps a staged package's files.  Looked up at run
// time: older platforms (and Wine) lack the function.
using store_location_function = BOOL(WINAPI*)(const char* file_name, void* platform, const char* locale,
                                              char* folder, DWORD size, DWORD* needed);

// True when the store's copy of the package's catalog equals the one beside
// the INF: two staged copies of one INF differ only in their catalogs.
bool same_catalog(const std::string& inf, const std::string& staged)
{
    std::string catalog = catalog_name(inf);
    HMODULE setupapi = GetModuleHandleA("setupapi.dll");
    auto locate = setupapi == nullptr ? nullptr
                                      : reinterpret_cast<store_location_function>(reinterpret_cast<void*>(
                                            GetProcAddress(setupapi, "SetupGetInfDriverStoreLocationA")));
    char location[MAX_PATH];
    if (catalog.empty() || locate == nullptr ||
        !locate(staged.c_str(), nullptr, nullptr, location, sizeof location, nullptr))
        return false;
    std::string store_inf = location;
    std::string ours, theirs;
    return read_whole(inf.substr(0, inf.find_last_of('\\') + 1) + catalog, &ours) &&
           read_whole(store_inf.substr(0, store_inf.find_last_of('\\') + 1) + catalog, &theirs) && ours == theirs;
}

// The staged copy in the system INF folder of the package: an oem*.inf name
// that Windows gives staged packages whose bytes equal inf (where several
// do, the one whose catalog in the store is the package's; none where that
// cannot be told), or, where the platform keeps a staged package's own name
// (Wine does), the file of that name.
std::string find_staged_copy(const std::string& inf)
{
    std::string wanted;
    if (!read_whole(inf, &wanted))
        return std::string();
    std::string folder = inf_folder();
    std::string bytes;
    std::vector<std::string> matches;
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((folder + "oem*.inf").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            std::string candidate = folder + entry.cFileName;
            if (read_whole(candidate, &bytes) && bytes == wanted)
                matches.push_back(candidate);
        } while (FindNextFileA(listing, &entry));
        FindClose(listing);
    }
    if (matches.size() == 1)
        return matches.front();
    if (matches.size() > 1) {
        for (const std::string& candidate : matches) {
            if (same_catalog(inf, candidate))
                return candidate;
        }
        report(difx_log_warning, 0, "%u staged copies of %s and none with its catalog",
               static_cast<unsigned>(matches.size()), inf.c_str());
        return std::string();
    }
    std::string same_name = folder + inf.substr(inf.find_last_of('\\') + 1);
    if (read_whole(same_name, &bytes) && bytes == wanted)
        return same_name;
    return std::string();
}

std::string file_name(const std::string& path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

// One present device the package names, with the ID it is installed by.
struct Target {
    std::string instance;
    std::string id;  // as the device spells it: its first ID the package names
};

// Calls visit(set, device) for every present device.
template <typename Visit>
void for_each_present_device(Visit visit)
{
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i)
        visit(set, &device);
    SetupDiDestroyDeviceInfoList(set);
}

// Every present device that one of ids names, hardware IDs before
// compatible IDs, letter case aside.
std::vector<Target> present_targets(const std::vector<std::string>& ids)
{
    std::vector<Target> targets;
    for_each_present_device([&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        std::vector<std::string> own = multi_sz(set, device, SPDRP_HARDWAREID);
        std::vector<std::string> compatible = multi_sz(set, device, SPDRP_COMPATIBLEIDS);
        own.insert(own.end(), compatible.begin(), compatible.end());
        for (const std::string& candidate : own) {
            bool named = false;
            for (const std::string& id : ids)
                named = named || lstrcmpiA(id.c_str(), candidate.c_str()) == 0;
            if (named) {
                targets.push_back({instance_id(set, device), candidate});
                break;
            }
        }
    });
    return targets;
}

// The driver INF of the present device with this instance ID.
std::string driver_of(const std::string& instance)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return std::string();
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    std::string inf;
    if (SetupDiOpenDeviceInfoA(set, instance.c_str(), nullptr, 0, &device))
        inf = device_driver_inf(set, &device);
    SetupDiDestroyDeviceInfoList(set);
    return inf;
}

// Present devices whose driver comes from the staged copy named staged.
std::vector<std::string> devices_using(const std::string& staged)
{
    std::vector<std::string> users;
    for_each_present_device([&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        if (lstrcmpiA(device_driver_inf(set, device).c_str(), staged.c_str()) == 0)
            users.push_back(instance_id(set, device));
    });
    return users;
}

// Installs the staged package on every present device that one of its ids
// names: once per ID as the devices spell it, then checks each device's
// driver instead of trusting the platform's answer.
DWORD install_on_devices(const std::string& inf, const std::vector<std::string>& ids, DWORD flags,
                         int32_t* reboot)
{
    std::vector<Target> targets = present_targets(ids);
    if (targets.empty())
        return fail(difx_no_such_devinst, "no present device matches the package", inf.c_str());
    std::string staged_path = find_staged_copy(inf);
    if (staged_path.empty())
        return fail(difx_driver_store_miss, "the package is not staged", inf.c_str());
    std::string staged = file_name(staged_path);

    DWORD install_flags = 0;
    // A repair reinstalls a driver that is already current.
    if (flags & (DRIVER_PACKAGE_FORCE | DRIVER_PACKAGE_REPAIR))
        install_flags |= INSTALLFLAG_FORCE;
    if (flags & DRIVER_PACKAGE_SILENT)
        install_flags |= INSTALLFLAG_NONINTERACTIVE;
    for (size_t i = 0; i < targets.size(); ++i) {
        bool done_before = false;
        for (size_t j = 0; j < i; ++j)
            done_before = done_before || lstrcmpiA(targets[j].id.c_str(), targets[i].id.c_str()) == 0;
        if (done_before)
            continue;
        const char* id = targets[i].id.c_str();
        BOOL needs_reboot = FALSE;
        if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, id, inf.c_str(), install_flags, &needs_reboot)) {
            DWORD error = GetLastError();
            // "Not better than the current driver" is no failure where that
            // driver is this package.
            if (error != ERROR_NO_MORE_ITEMS)
                return fail(error, "installing on the devices with this ID failed", id);
            report(difx_log_info, 0, "the devices with ID %s keep their current driver", id);
        } else {
            report(difx_log_success, 0, "installed %s on devices with ID %s", inf.c_str(), id);
        }
        if (needs_reboot) {
            report(difx_log_info, 0, "a reboot is needed to finish the installation");
            if (reboot != nullptr)
                *reboot = 1;
        }
    }
    for (const Target& target : targets) {
        std::string driver = driver_of(target.instance);
        if (lstrcmpiA(driver.c_str(), staged.c_str()) != 0) {
            report(difx_log_error, ERROR_NO_DRIVER_SELECTED, "device %s runs %s, not %s", target.instance.c_str(),
                   driver.empty() ? "no driver" : driver.c_str(), staged.c_str());
            return ERROR_NO_DRIVER_SELECTED;
        }
    }
    return ERROR_SUCCESS;
}

// What staging needs of a package besides its INF: a device ID for this
// machine (its IDs go to ids) and the catalog the INF names, beside it.
DWORD check_package(const char* inf, std::string* path, std::vector<std::string>* ids)
{
    DWORD result = check_inf(inf, path);
    if (result != ERROR_SUCCESS)
        return result;
    *ids = inf_device_ids(*path);
    if (ids->empty())
        return fail(difx_no_device_id, "the package names no device ID for this machine", path->c_str());
    std::string catalog = catalog_name(*path);
    if (!catalog.empty() && GetFileAttributesA((path->substr(0, path->find_last_of('\\') + 1) + catalog).c_str()) ==
                                INVALID_FILE_ATTRIBUTES)
        return fail(difx_invalid_catalog, "the catalog the INF names is missing", catalog.c_str());
    return ERROR_SUCCESS;
}

// An installer-information record, where one is given, names the
// application that installs the package; the other fields may stay empty.
DWORD check_installer_info(const void* info, const char* inf)
{
    const InstallerInfo* record = static_cast<const InstallerInfo*>(info);
    if (record != nullptr && (record->application_id == nullptr || record->application_id[0] == '\0'))
        return fail(ERROR_INVALID_PARAMETER, "the installer information names no application", inf);
    return ERROR_SUCCESS;
}

// Removes the staged copy from the store (and its devices): with
// DiUninstallDriverW where the platform exports it, else
// SetupUninstallOEMInfA.  Runs inside the caller's non-interactive mode.
DWORD remove_staged(const std::string& staged, DWORD flags, int32_t* reboot)
{
    HMODULE newdev = GetModuleHandleA("newdev.dll");
    uninstall_driver_w uninstall_driver = nullptr;
    if (newdev != nullptr)
        uninstall_driver = reinterpret_cast<uninstall_driver_w>(
            reinterpret_cast<void*>(GetProcAddress(newdev, "DiUninstallDriverW")));
    if (uninstall_driver == nullptr) {
        DWORD style = (flags & DRIVER_PACKAGE_FORCE) ? SUOI_FORCEDELETE : 0;
        if (SetupUninstallOEMInfA(file_name(staged).c_str(), style, nullptr))
            return ERROR_SUCCESS;
        DWORD error = GetLastError();
        report(difx_log_error, error, "removing %s failed", staged.c_str());
        return error;
    }
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
    return ERROR_SUCCESS;
}

} // namespace

extern "C" {

__declspec(dllexport) uint32_t WINAPI DriverPackagePreinstallA(const char* inf, uint32_t flags)
{
    std::string path;
    std::vector<std::string> ids;
    DWORD result = check_package(inf, &path, &ids);
    if (result != ERROR_SUCCESS)
        return result;
    return stage(path, flags, false);
}

__declspec(dllexport) uint32_t WINAPI DriverPackageInstallA(const char* inf, uint32_t flags, const void* info,
                                                            int32_t* reboot)
{
    std::string path;
    std::vector<std::string> ids;
    DWORD result = check_installer_info(info, inf);
    if (result == ERROR_SUCCESS)
        result = check_package(inf, &path, &ids);
    if (result == ERROR_SUCCESS)
        result = stage(path, flags, true);
    if (result != ERROR_SUCCESS)
        return result;
    return install_on_devices(path, ids, flags, reboot);
}

__declspec(dllexport) uint32_t WINAPI DriverPackageUninstallA(const char* inf, uint32_t flags, const void* info,
                                                              int32_t* reboot)
{
    std::string path;
    DWORD result = check_installer_info(info, inf);
    if (result == ERROR_SUCCESS)
        result = check_inf(inf, &path);
    if (result != ERROR_SUCCESS)
        return result;
    std::string staged = find_staged_copy(path);
    if (staged.empty())
        return fail(difx_driver_store_miss, "the driver package is not in the store", path.c_str());

    // Devices that run the package keep it unless the caller forces.
    std::vector<std::string> users = devices_using(file_name(staged));
    if (!users.empty() && !(flags & DRIVER_PACKAGE_FORCE)) {
        report(difx_log_error, ERROR_INF_IN_USE_BY_DEVICES, "%s is in use by device %s (force removes it anyway)",
               staged.c_str(), users.front().c_str());
        return ERROR_INF_IN_USE_BY_DEVICES;
    }

    BOOL earlier = enter_silence(flags);
    result = remove_staged(staged, flags, reboot);
    SetupSetNonInteractiveMode(earlier);
    if (result != ERROR_SUCCESS)
        return result;
    // A platform may answer success and keep the file (Wine does without
    // the force flag): that is no removal.
    if (GetFileAttributesA(staged.c_str()) != INVALID_FILE_ATTRIBUTES)
        return fail(ERROR_INF_IN_USE_BY_DEVICES, "the platform kept the staged copy (try /f)", staged.c_str());
    report(difx_log_success, 0, "removed %s (the staged copy of %s)", staged.c_str(), path.c_str());
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
