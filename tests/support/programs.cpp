#include "support/programs.h"

#include <vector>

PROCESS_INFORMATION start_program(const std::string& command_line, const char* folder, const char* desktop)
{
    std::vector<char> writable(command_line.begin(), command_line.end());
    writable.push_back('\0');
    std::string desktop_name = desktop != nullptr ? desktop : "";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop != nullptr ? &desktop_name[0] : nullptr;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &process))
        return PROCESS_INFORMATION{};
    return process;
}

DWORD finish_program(PROCESS_INFORMATION* process, DWORD wait_ms)
{
    if (process->hProcess == nullptr)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process->hProcess, wait_ms) == WAIT_OBJECT_0) {
        if (!GetExitCodeProcess(process->hProcess, &code))
            code = STILL_ACTIVE;
    } else {
        TerminateProcess(process->hProcess, 1);
        WaitForSingleObject(process->hProcess, 10000);
    }
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
    process->hThread = nullptr;
    process->hProcess = nullptr;
    return code;
}
