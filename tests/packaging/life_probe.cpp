// The life test's window on the machine under Wine: it plugs a root device
// in or takes it away, and prints what a setup author would look for after
// each step: the device's driver, the NSIS uninstall entry and the MSI's
// registration.  One start per question keeps the shell script simple;
// Wine starts are what the test's time goes to.
//
//   life_probe add <hardware id>          registers a root device with the ID
//   life_probe remove <hardware id>       removes every device with the ID
//   life_probe state <hardware id> <uninstall key> <product code|->
//       prints "driver=<oemN.inf|none|-> entry=<yes|no> product=<yes|no|->"
#include <windows.h>
#include <msi.h>
#include <setupapi.h>

#include <stdio.h>
#include <string.h>

namespace {

const GUID system_class = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// True when the device's hardware IDs hold the ID (letter case ignored).
bool has_id(HDEVINFO set, SP_DEVINFO_DATA* device, const char* id)
{
    char ids[2048] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(ids), sizeof ids - 2, nullptr))
        return false;
    for (const char* at = ids; *at != '\0'; at += strlen(at) + 1) {
        if (lstrcmpiA(at, id) == 0)
            return true;
    }
    return false;
}

int add_device(const char* id)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&system_class, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return 1;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    char ids[512] = {};
    size_t len = strlen(id);
    bool ok = len + 2 <= sizeof ids;
    if (ok) {
        memcpy(ids, id, len);  // the list's two closing NULs are already there
        ok = SetupDiCreateDeviceInfoA(set, "System", &system_class, nullptr, nullptr, DICD_GENERATE_ID, &device) &&
             SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids),
                                               static_cast<DWORD>(len + 2)) &&
             SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok ? 0 : 1;
}

int remove_devices(const char* id)
{
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return 1;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        if (has_id(set, &device, id))
            SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
    }
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}

// The INF of the first registered device with the ID: "none" for a device
// on the null driver, "-" when there is no such device.
void device_driver(const char* id, char* out, size_t size)
{
    snprintf(out, size, "-");
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        if (!has_id(set, &device, id))
            continue;
        snprintf(out, size, "none");
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            char value[MAX_PATH] = "";
            DWORD bytes = sizeof value - 1;
            if (RegQueryValueExA(key, "InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes) ==
                    ERROR_SUCCESS &&
                value[0] != '\0')
                snprintf(out, size, "%s", value);
            RegCloseKey(key);
        }
        break;
    }
    SetupDiDestroyDeviceInfoList(set);
}

int print_state(const char* id, const char* uninstall_key, const char* product)
{
    char driver[MAX_PATH];
    device_driver(id, driver, sizeof driver);
    HKEY key = nullptr;
    bool entry = RegOpenKeyExA(HKEY_LOCAL_MACHINE, uninstall_key, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (entry)
        RegCloseKey(key);
    const char* registered = "-";
    if (strcmp(product, "-") != 0)
        registered = MsiQueryProductStateA(product) == INSTALLSTATE_DEFAULT ? "yes" : "no";
    printf("driver=%s entry=%s product=%s\n", driver, entry ? "yes" : "no", registered);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "add") == 0)
        return add_device(argv[2]);
    if (argc == 3 && strcmp(argv[1], "remove") == 0)
        return remove_devices(argv[2]);
    if (argc == 5 && strcmp(argv[1], "state") == 0)
        return print_state(argv[2], argv[3], argv[4]);
    fprintf(stderr, "usage: life_probe add|remove <hardware id> | state <hardware id> <uninstall key> <product code|->\n");
    return 2;
}
