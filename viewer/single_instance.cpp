#include "viewer/single_instance.h"

#include "tracelib/viewer_channel.h"

namespace {

// One viewer per desktop: Tavenor finds the viewer by its window title,
// which only the windows of its own desktop show, so a viewer on another
// desktop (a test's, or another user's switched-to desktop) is no rival.
std::string instance_name()
{
    std::string name = "Local\\CorvaneViewer";
    char desktop[128] = "";
    DWORD length = 0;
    HDESK own = GetThreadDesktop(GetCurrentThreadId());
    if (own != nullptr && GetUserObjectInformationA(own, UOI_NAME, desktop, sizeof desktop, &length) &&
        length <= sizeof desktop && desktop[0] != '\0' && lstrcmpiA(desktop, "Default") != 0)
        name += std::string("-") + desktop;
    return name;
}

} // namespace

bool hand_over_to_running(const char* window_class, const std::string& log_path, const std::string& open_path,
                          bool* log_taken)
{
    HANDLE first = CreateMutexA(nullptr, FALSE, instance_name().c_str());
    bool another = first != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    // The mutex stays open for this process's life when it is the first.
    if (!another)
        return false;
    CloseHandle(first);
    HWND running = nullptr;
    for (int i = 0; i < 250 && running == nullptr; ++i) {
        running = FindWindowA(window_class, trace_viewer_title);
        if (running == nullptr)
            Sleep(20);
    }
    *log_taken = true;
    if (running == nullptr)
        return true;
    if (!log_path.empty()) {
        COPYDATASTRUCT data = {log_file_tag, static_cast<DWORD>(log_path.size()), const_cast<char*>(log_path.data())};
        DWORD_PTR answer = 0;
        *log_taken = SendMessageTimeoutA(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                         SMTO_ABORTIFHUNG, 5000, &answer) != 0 &&
                     answer != 0;
    }
    if (!open_path.empty()) {
        // Opened by the running viewer, which tells of a failure itself.
        COPYDATASTRUCT data = {open_file_tag, static_cast<DWORD>(open_path.size()),
                               const_cast<char*>(open_path.data())};
        SendMessageTimeoutA(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000, nullptr);
    }
    ShowWindow(running, SW_RESTORE);
    SetForegroundWindow(running);
    return true;
}
