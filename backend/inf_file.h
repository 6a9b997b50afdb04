// What the backend reads from a package's INF for this machine.
#pragma once

#include <string>
#include <vector>

#include "backend/inf_rules.h"

// The machine's own architecture (IsWow64Process2's native machine).
Architecture machine_architecture();

// True for this x64 library run emulated on a machine of another
// architecture (ARM64): it cannot judge that machine's models sections
// and catalogs through the emulated platform calls.
bool runs_emulated();

// The running Windows, from RtlGetVersion (see OsVersion).
OsVersion running_version();

// The device IDs of the models sections that apply to this machine: for
// each manufacturer line the section SetupDiGetActualModelsSectionW names,
// or where that call is not usable (Wine) the decorated section that fits
// best by inf_rules, or the undecorated one on x86 where no decoration fits.
std::vector<std::wstring> inf_device_ids(const std::wstring& inf);

// The catalog file the INF names for this machine (see catalog_keys);
// empty for none.
std::wstring catalog_name(const std::wstring& inf);
