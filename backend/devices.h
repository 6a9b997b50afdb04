// The devices a package is for and the devices that use it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One present device the package names, with the ID it is installed by.
struct Target {
    std::wstring instance;
    std::wstring id;  // as the device spells it: its first ID the package names
};

// The text of key's REG_SZ value name (at most MAX_PATH - 1 characters);
// empty where it is missing, longer or of another type.
std::wstring registry_text(HKEY key, const wchar_t* name);

// Every present device that one of ids names, hardware IDs before
// compatible IDs, compared ordinally with letter case aside.
std::vector<Target> present_targets(const std::vector<std::wstring>& ids);

// The driver a present device runs.
struct DeviceDriver {
    std::wstring inf;  // the INF file name its driver key records; empty for none
    bool working;      // started, with no problem (CM_Get_DevNode_Status)
};

// The driver of the present device with this instance ID.
DeviceDriver driver_of(const std::wstring& instance);

// The devices whose driver comes from the staged INF named staged (a file
// name in the system INF folder): present_only, those in the device tree
// (DIGCF_PRESENT); else every registered one, present or not.
std::vector<std::wstring> devices_using(const std::wstring& staged, bool present_only);

// Uninstalls every registered device whose driver comes from staged
// (DIF_REMOVE), so that a package can be removed before Windows 10 1703.
// Sets *reboot_needed where a device asks for a restart.  Returns
// ERROR_SUCCESS, or the first failure (the devices after it are left).
DWORD uninstall_devices_using(const std::wstring& staged, bool* reboot_needed);
