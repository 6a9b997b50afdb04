// The driver-store clean.
#pragma once

#include "difx/difx_api.h"

// Uninstalls every package in the driver store whose folder name matches
// folder_pattern and whose INF file has a line containing dev_id.  Returns 0
// in every case.
int clean_driver_store(const char* folder_pattern, const char* dev_id, const DifxEntryPoints* entry_points);

// One package folder: find the INF naming dev_id, uninstall it from a
// temporary copy of the folder.  Returns 1 when the package was uninstalled.
int clean_dev_in_dir(const char* folder, const char* dev_id, const DifxEntryPoints* entry_points);
