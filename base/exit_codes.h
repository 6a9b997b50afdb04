// Tavenor's exit codes and what each means: the one table that the program,
// its log and any reader of its ends take them from.
#pragma once

constexpr int exit_success = 0;
constexpr int exit_reboot_needed = 1;
constexpr int exit_failed = 2;
constexpr int exit_usage = 3;
constexpr int exit_not_bound = 4;

constexpr const char* exit_code_meanings[] = {
    "success",
    "success, a reboot is needed",
    "the operation failed",
    "usage error: the command line was refused",
    "DifxApix64.dll could not be loaded or lacks an entry point",
};
static_assert(sizeof exit_code_meanings / sizeof exit_code_meanings[0] == exit_not_bound + 1,
              "one meaning per exit code");

// The code's meaning, or nullptr for a code Tavenor never returns.
inline const char* exit_code_meaning(unsigned long code)
{
    return code < sizeof exit_code_meanings / sizeof exit_code_meanings[0] ? exit_code_meanings[code] : nullptr;
}
