// Flag bits of the driver-install library's flag word.
#pragma once

#include <stdint.h>

constexpr uint32_t DRIVER_PACKAGE_REPAIR = 0x1;
constexpr uint32_t DRIVER_PACKAGE_SILENT = 0x2;
constexpr uint32_t DRIVER_PACKAGE_FORCE = 0x4;
constexpr uint32_t DRIVER_PACKAGE_LEGACY_MODE = 0x10;
constexpr uint32_t DRIVER_PACKAGE_DELETE_FILES = 0x20;
