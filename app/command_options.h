// The parsed command line.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/sizes.h"
#include "difx/difx_codes.h"

constexpr int32_t operation_none = 0;
constexpr int32_t operation_install = 1;
constexpr int32_t operation_uninstall = 2;
constexpr int32_t operation_clean = 3;

// The INF path or the device ID: a path buffer.
constexpr size_t target_size = path_buffer_size;

// The /l path: a path buffer, less the room that the older generation's
// suffix takes, so that both names fit.
constexpr size_t log_path_size = path_buffer_size - log_older_suffix_length;

struct CommandOptions {
    int32_t operation;
    uint32_t difx_flags;
    int32_t debug_trace;
    char target[target_size];         // absolute INF path, or the device ID for /c
    char folder_pattern[folder_pattern_size];
    char log_path[log_path_size];     // absolute path of the /l file; empty without /l
};

// The record's address is the log callback's context; a library may look at
// it, so the fields before log_path keep their places.
static_assert(offsetof(CommandOptions, difx_flags) == difx_context_flags_offset, "CommandOptions layout");
static_assert(offsetof(CommandOptions, target) == difx_context_target_offset, "CommandOptions layout");
static_assert(offsetof(CommandOptions, log_path) == difx_context_target_offset + target_size + folder_pattern_size,
              "CommandOptions layout");
