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

// The INF file name the present device with this instance ID was
// installed from, as its driver key records it; empty for none.
std::wstring driver_of(const std::wstring& instance);

// Every registered device, present or not, whose driver comes from the
// staged INF named staged (a file name in the system INF folder).
std::vector<std::wstring> devices_using(const std::wstring& staged);
