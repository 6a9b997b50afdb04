// The parsed command line.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/sizes.h"

constexpr int32_t operation_none = 0;
constexpr int32_t operation_install = 1;
constexpr int32_t operation_uninstall = 2;
constexpr int32_t operation_clean = 3;

// The INF path or the device ID: a path buffer.
constexpr size_t target_size = path_buffer_size;

struct CommandOptions {
    int32_t operation;
    uint32_t difx_flags;
    int32_t debug_trace;
    char target[target_size];         // absolute INF path, or the device ID for /c
    char folder_pattern[folder_pattern_size];
};

// The record's address is the log callback's context; a library may look at
// it, so its layout is part of the interface.
static_assert(offsetof(CommandOptions, target) == 12, "CommandOptions layout");
static_assert(sizeof(CommandOptions) == 12 + target_size + folder_pattern_size, "CommandOptions layout");

// Exit codes of the process.
constexpr int exit_success = 0;
constexpr int exit_reboot_needed = 1;
constexpr int exit_failed = 2;
constexpr int exit_usage = 3;
constexpr int exit_not_bound = 4;
