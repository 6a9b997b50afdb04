// tavenor-devtool: the device side of the Windows acceptance kit.  It makes
// and removes a root-enumerated device with a chosen hardware ID (no
// hardware, no kernel driver), reads which INF a device's driver came from,
// and lists the published copies of a package, so that run.ps1 and the
// suite judge every case from structured data rather than from text that
// pnputil prints for people.
//
//   tavenor-devtool add <hardware id> [<inf>]   register a device; with an INF, install it on the device
//   tavenor-devtool remove <hardware id>        remove every device, present or not, with that ID
//   tavenor-devtool info <hardware id>          one line per device: instance, driver INF, presence, problem
//   tavenor-devtool staged <inf>                the published oem<n>.inf copies whose bytes equal the INF's
//
// The exit codes are the table below; every line printed is
// "<key>=<value>" fields separated by tabs.
#include <windows.h>
#include <cfgmgr32.h>
// initguid.h first: this file defines the property keys it reads.
#include <initguid.h>
#include <devpkey.h>
#include <newdev.h>
#include <setupapi.h>

#include <stdio.h>
#include <string.h>

namespace {

// The tool's exit codes, stated here once (docs/windows-testing.md points here).
enum ExitCode : int {
    exit_done = 0,       // done; for info, remove and staged: at least one found
    exit_none = 1,       // nothing matched (info, remove, staged)
    exit_platform = 2,   // a platform call failed; the line printed names it
    exit_usage = 3,      // the command line was not understood
};

// GUID_DEVCLASS_SYSTEM: the class of the test package ("Installing a null
// driver" uses Class=System).
const GUID system_class = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// A hardware ID is at most 200 characters (MAX_DEVICE_ID_LEN); a device's
// whole list fits this.
constexpr DWORD id_list_size = 4096;
constexpr size_t file_chunk = 65536;

int fail(const char* what)
{
    printf("error=%s\tcode=%lu\n", what, static_cast<unsigned long>(GetLastError()));
    return exit_platform;
}

// A REG_MULTI_SZ holding one ID: the ID and two terminators.
bool one_id_list(const char* id, char* out, DWORD capacity, DWORD* size)
{
    size_t len = strlen(id);
    if (len == 0 || len + 2 > capacity)
        return false;
    memcpy(out, id, len);
    out[len] = '\0';
    out[len + 1] = '\0';
    *size = static_cast<DWORD>(len + 2);
    return true;
}

// Whether the device's hardware IDs include id (letter case aside, as
// Windows compares device IDs).
bool has_hardware_id(HDEVINFO set, SP_DEVINFO_DATA* device, const char* id)
{
    char list[id_list_size];
    DWORD type = 0;
    DWORD needed = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, &type, reinterpret_cast<BYTE*>(list),
                                           sizeof list - 2, &needed) ||
        type != REG_MULTI_SZ)
        return false;
    list[sizeof list - 2] = '\0';
    list[sizeof list - 1] = '\0';
    for (const char* p = list; *p != '\0'; p += strlen(p) + 1) {
        if (lstrcmpiA(p, id) == 0)
            return true;
    }
    return false;
}

// Every registered device, present or not.
HDEVINFO all_devices()
{
    return SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
}

int add_device(const char* id, const char* inf)
{
    char ids[id_list_size];
    DWORD ids_size = 0;
    if (!one_id_list(id, ids, sizeof ids, &ids_size)) {
        printf("error=hardware ID empty or too long\n");
        return exit_usage;
    }
    HDEVINFO set = SetupDiCreateDeviceInfoList(&system_class, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return fail("SetupDiCreateDeviceInfoList");
    int result = exit_done;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    // What a root-enumerated device needs: a generated instance under
    // ROOT\SYSTEM, its hardware ID, and DIF_REGISTERDEVICE to make it a
    // device node ("SetupDiCreateDeviceInfo", "DIF_REGISTERDEVICE").
    if (!SetupDiCreateDeviceInfoA(set, "System", &system_class, "Tavenor test device", nullptr, DICD_GENERATE_ID,
                                  &device))
        result = fail("SetupDiCreateDeviceInfo");
    else if (!SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, reinterpret_cast<BYTE*>(ids),
                                                ids_size))
        result = fail("SetupDiSetDeviceRegistryProperty");
    else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device))
        result = fail("DIF_REGISTERDEVICE");
    if (result == exit_done) {
        char instance[MAX_DEVICE_ID_LEN + 1] = "";
        if (!SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance, nullptr))
            instance[0] = '\0';
        printf("instance=%s\n", instance);
        BOOL reboot = FALSE;
        if (inf != nullptr && !UpdateDriverForPlugAndPlayDevicesA(nullptr, id, inf, INSTALLFLAG_FORCE, &reboot)) {
            result = fail("UpdateDriverForPlugAndPlayDevices");
            // A device the caller cannot use is not left behind.
            SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
        } else if (reboot) {
            printf("reboot=1\n");
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return result;
}

// Calls act on every registered device with the hardware ID id, until act
// answers other than exit_done.  exit_none when no device has the ID.
using device_action = int (*)(HDEVINFO set, SP_DEVINFO_DATA* device, const char* instance);
int each_device(const char* id, device_action act)
{
    HDEVINFO set = all_devices();
    if (set == INVALID_HANDLE_VALUE)
        return fail("SetupDiGetClassDevs");
    int result = exit_none;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        if (!has_hardware_id(set, &device, id))
            continue;
        char instance[MAX_DEVICE_ID_LEN + 1] = "";
        SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance, nullptr);
        result = act(set, &device, instance);
        if (result != exit_done)
            break;
    }
    SetupDiDestroyDeviceInfoList(set);
    return result;
}

int remove_one(HDEVINFO set, SP_DEVINFO_DATA* device, const char* instance)
{
    if (!SetupDiCallClassInstaller(DIF_REMOVE, set, device))
        return fail("DIF_REMOVE");
    printf("removed=%s\n", instance);
    return exit_done;
}

// The INF the device's driver was installed from: DEVPKEY_Device_DriverInfPath,
// else the driver key's InfPath value, which the property reflects
// ("DEVPKEY_Device_DriverInfPath"); "" for a device without a driver.
void driver_inf(HDEVINFO set, SP_DEVINFO_DATA* device, char* out, DWORD capacity)
{
    out[0] = '\0';
    WCHAR wide[MAX_PATH] = L"";
    DEVPROPTYPE type = 0;
    if (SetupDiGetDevicePropertyW(set, device, &DEVPKEY_Device_DriverInfPath, &type, reinterpret_cast<BYTE*>(wide),
                                  sizeof wide - sizeof(WCHAR), nullptr, 0) &&
        type == DEVPROP_TYPE_STRING) {
        wide[MAX_PATH - 1] = L'\0';
        if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, static_cast<int>(capacity), nullptr, nullptr) == 0)
            out[0] = '\0';
        return;
    }
    HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return;
    DWORD size = capacity - 1;
    DWORD value_type = 0;
    if (RegQueryValueExA(key, "InfPath", nullptr, &value_type, reinterpret_cast<BYTE*>(out), &size) != ERROR_SUCCESS ||
        value_type != REG_SZ)
        size = 0;
    out[size < capacity ? size : capacity - 1] = '\0';
    RegCloseKey(key);
}

int show_one(HDEVINFO set, SP_DEVINFO_DATA* device, const char* instance)
{
    char inf[MAX_PATH * 3];
    driver_inf(set, device, inf, sizeof inf);
    // A device not in the device tree answers CR_NO_SUCH_DEVINST; a
    // null-driver device need not start, so its status is shown, not judged.
    ULONG status = 0;
    ULONG problem = 0;
    CONFIGRET cr = CM_Get_DevNode_Status(&status, &problem, device->DevInst, 0);
    printf("instance=%s\tinf=%s\tpresent=%d\tstatus=0x%08lX\tproblem=%lu\n", instance, inf[0] ? inf : "-",
           cr == CR_SUCCESS ? 1 : 0, cr == CR_SUCCESS ? status : 0UL, cr == CR_SUCCESS ? problem : 0UL);
    return exit_done;
}

// Whether two files hold the same bytes.
bool same_bytes(const char* a, const char* b)
{
    HANDLE fa = CreateFileA(a, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (fa == INVALID_HANDLE_VALUE)
        return false;
    HANDLE fb = CreateFileA(b, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (fb == INVALID_HANDLE_VALUE) {
        CloseHandle(fa);
        return false;
    }
    static char chunk_a[file_chunk];
    static char chunk_b[file_chunk];
    bool same = true;
    for (;;) {
        DWORD got_a = 0;
        DWORD got_b = 0;
        if (!ReadFile(fa, chunk_a, sizeof chunk_a, &got_a, nullptr) ||
            !ReadFile(fb, chunk_b, sizeof chunk_b, &got_b, nullptr) || got_a != got_b ||
            memcmp(chunk_a, chunk_b, got_a) != 0) {
            same = false;
            break;
        }
        if (got_a == 0)
            break;
    }
    CloseHandle(fa);
    CloseHandle(fb);
    return same;
}

// Windows publishes a third-party INF in the system INF folder as
// oem<n>.inf, a copy of the package's INF ("SetupCopyOEMInf").
int staged_copies(const char* inf)
{
    char windows[MAX_PATH];
    UINT len = GetSystemWindowsDirectoryA(windows, sizeof windows);
    if (len == 0 || len >= sizeof windows)
        return fail("GetSystemWindowsDirectory");
    char pattern[MAX_PATH + 32];
    if (snprintf(pattern, sizeof pattern, "%s\\INF\\oem*.inf", windows) >= static_cast<int>(sizeof pattern))
        return fail("INF folder path");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? exit_none : fail("FindFirstFile");
    int result = exit_none;
    do {
        char path[MAX_PATH * 2];
        if (snprintf(path, sizeof path, "%s\\INF\\%s", windows, found.cFileName) >= static_cast<int>(sizeof path))
            continue;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && same_bytes(path, inf)) {
            printf("published=%s\n", found.cFileName);
            result = exit_done;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return result;
}

int usage()
{
    printf("usage: tavenor-devtool add <hardware id> [<inf>] | remove <hardware id> | info <hardware id> | "
           "staged <inf>\n");
    return exit_usage;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const char* command = argv[1];
    int result = exit_usage;
    if (strcmp(command, "add") == 0 && argc <= 4)
        result = add_device(argv[2], argc == 4 ? argv[3] : nullptr);
    else if (strcmp(command, "remove") == 0 && argc == 3)
        result = each_device(argv[2], remove_one);
    else if (strcmp(command, "info") == 0 && argc == 3)
        result = each_device(argv[2], show_one);
    else if (strcmp(command, "staged") == 0 && argc == 3)
        result = staged_copies(argv[2]);
    else
        return usage();
    fflush(stdout);
    return result;
}
