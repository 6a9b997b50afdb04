#include "viewer/single_instance.h"

#include "base/token_sid.h"
#include "tracelib/viewer_channel.h"

namespace {

// The user and the integrity level's RID of a process's token.
bool token_identity(HANDLE process, BYTE* user, DWORD* integrity)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return false;
    BYTE level[SECURITY_MAX_SID_SIZE];
    bool known = token_sid(token, TokenUser, user) && token_sid(token, TokenIntegrityLevel, level) &&
                 *GetSidSubAuthorityCount(level) > 0;
    if (known)
        *integrity = *GetSidSubAuthority(level, *GetSidSubAuthorityCount(level) - 1u);
    CloseHandle(token);
    return known;
}

// Whether the window's process runs as this process's user at the same or
// a higher integrity level: only such a viewer is handed a file to write,
// which this start could have written itself.  Another account's program
// (or one at a lower level, which anybody's program could drive) with a
// window of the viewer's class and title is not.
bool trusted_viewer(HWND window)
{
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    HANDLE process = process_id != 0 ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id) : nullptr;
    if (process == nullptr)
        return false;
    BYTE their_user[SECURITY_MAX_SID_SIZE];
    BYTE our_user[SECURITY_MAX_SID_SIZE];
    DWORD their_level = 0;
    DWORD our_level = 0;
    bool trusted = token_identity(process, their_user, &their_level) &&
                   token_identity(GetCurrentProcess(), our_user, &our_level) && EqualSid(their_user, our_user) &&
                   their_level >= our_level;
    CloseHandle(process);
    return trusted;
}

} // namespace

// One viewer per desktop: Tavenor finds the viewer by its window title,
// which only the windows of its own desktop show, so a viewer on another
// desktop (a test's, or another user's switched-to desktop) is no rival.
std::string single_instance_name()
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

bool hand_over_to_running(const char* window_class, const std::string& log_path, const std::string& open_path,
                          bool* log_taken, std::string* refused)
{
    HANDLE first = CreateMutexA(nullptr, FALSE, single_instance_name().c_str());
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
    // Whatever holds the claim without a viewer's window, or with a window
    // of a process this start cannot trust, gets nothing: this start then
    // captures itself.
    if (running == nullptr) {
        *refused = "[Corvane] another program holds the one viewer's claim but shows no viewer: this viewer "
                   "captures itself";
        return false;
    }
    if (!trusted_viewer(running)) {
        *refused = "[Corvane] the running viewer is not of this account at this integrity level or higher: this "
                   "viewer captures itself and keeps its log file";
        return false;
    }
    *log_taken = true;
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
