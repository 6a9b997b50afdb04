// The platform-free half of the driver-install library's interface: the
// flag word's bits, the result codes that Tavenor's procedures act on and
// the log callback's event numbers.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Flag bits of the flag word.
constexpr uint32_t DRIVER_PACKAGE_REPAIR = 0x1;
constexpr uint32_t DRIVER_PACKAGE_SILENT = 0x2;
constexpr uint32_t DRIVER_PACKAGE_FORCE = 0x4;
constexpr uint32_t DRIVER_PACKAGE_LEGACY_MODE = 0x10;
constexpr uint32_t DRIVER_PACKAGE_DELETE_FILES = 0x20;

// Result codes that change what a procedure does next; result_code_name
// gives the names of these and more.
constexpr uint32_t difx_success = 0;
constexpr uint32_t difx_file_not_found = 0x00000002;      // ERROR_FILE_NOT_FOUND
constexpr uint32_t difx_already_exists = 0x000000B7;      // ERROR_ALREADY_EXISTS
constexpr uint32_t difx_no_such_devinst = 0xE000020B;     // ERROR_NO_SUCH_DEVINST
constexpr uint32_t difx_no_device_id = 0xE0000301;       // the package names no device ID for this machine
constexpr uint32_t difx_driver_store_miss = 0xE0000302;   // the package is not in the driver store
constexpr uint32_t difx_invalid_catalog = 0xE0000304;     // ERROR_INVALID_CATALOG_DATA: the catalog is missing or bad

// Event numbers of the log callback.
constexpr uint32_t difx_log_success = 0;
constexpr uint32_t difx_log_info = 1;
constexpr uint32_t difx_log_warning = 2;
constexpr uint32_t difx_log_error = 3;

// The context Tavenor registers with the log callback is its options record,
// and a library may read it: the operation's flag word at one offset, the
// INF path or device ID (NUL-terminated text) at the other.  The record
// keeps these where they are; fields added later go after the existing ones.
constexpr size_t difx_context_flags_offset = 4;
constexpr size_t difx_context_target_offset = 12;
