// What the backend reads from a package's INF for this machine.
#pragma once

#include <string>
#include <vector>

#include "backend/inf_rules.h"

Architecture machine_architecture();

// The running Windows, from RtlGetVersion (see OsVersion).
OsVersion running_version();

// The device IDs of the models sections that apply to this machine: for
// each manufacturer line the decorated section that fits best, or the
// undecorated one on x86 where no decoration fits.
std::vector<std::wstring> inf_device_ids(const std::wstring& inf);

// The catalog file the INF names for this machine (see catalog_keys);
// empty for none.
std::wstring catalog_name(const std::wstring& inf);
