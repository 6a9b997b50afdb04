#include "e2e/drive.h"

#include <string.h>

#include "app/usage.h"

#include <memory>

namespace {

constexpr DWORD poll_ms = 20;

std::string window_text(HWND window)
{
    char text[4096];
    // The window manager keeps every window's text: no message needed.
    int stored = GetWindowTextA(window, text, sizeof text);
    if (stored > 0)
        return std::string(text, static_cast<size_t>(stored));
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             2000, &len))
        return std::string();
    if (len >= sizeof text)
        len = sizeof text - 1;
    return std::string(text, static_cast<size_t>(len));
}

struct BoxContents {
    std::string text;
    std::vector<std::string> buttons;
    bool icon = false;
};

BOOL CALLBACK collect_child(HWND child, LPARAM parameter)
{
    BoxContents* box = reinterpret_cast<BoxContents*>(parameter);
    char class_name[64] = "";
    GetClassNameA(child, class_name, sizeof class_name);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (!IsWindowVisible(child))
        return TRUE;  // a box's template may hold buttons it hides
    if (lstrcmpiA(class_name, "Button") == 0) {
        box->buttons.push_back(window_text(child));
    } else if (lstrcmpiA(class_name, "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON)
            box->icon = true;
        else {
            std::string text = window_text(child);
            if (!text.empty())
                box->text = text;
        }
    }
    return TRUE;
}

// A usage box of the debuggee: record it once and press OK.
void answer_usage_box(DWORD process_id, HWND* last_box, DriveResult* result)
{
    HWND box = FindWindowA(nullptr, usage_caption);
    if (box == nullptr)
        return;
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    if (owner != process_id || !IsWindowVisible(box))
        return;  // not ours, or still being laid out
    if (box != *last_box) {
        *last_box = box;
        BoxContents contents;
        EnumChildWindows(box, collect_child, reinterpret_cast<LPARAM>(&contents));
        ++result->usage_boxes;
        result->usage_caption = window_text(box);
        result->usage_text = contents.text;
        result->usage_buttons = contents.buttons;
        result->usage_has_icon = contents.icon;
    }
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// Our environment block with the given variables replaced, added or removed.
std::vector<char> environment_block(const std::vector<std::pair<std::string, std::string>>& changes)
{
    std::vector<char> block;
    char* strings = GetEnvironmentStringsA();
    for (const char* entry = strings; *entry != '\0'; entry += strlen(entry) + 1) {
        std::string text = entry;
        bool replaced = false;
        for (const auto& change : changes) {
            if (text.size() > change.first.size() && text[change.first.size()] == '=' &&
                lstrcmpiA(text.substr(0, change.first.size()).c_str(), change.first.c_str()) == 0)
                replaced = true;
        }
        if (!replaced)
            block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    FreeEnvironmentStringsA(strings);
    for (const auto& change : changes) {
        if (change.second.empty())
            continue;
        std::string text = change.first + "=" + change.second;
        block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    block.push_back('\0');
    return block;
}

void close_if_open(HANDLE handle)
{
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

} // namespace

std::string program_folder()
{
    char path[MAX_PATH * 4];
    DWORD len = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, len);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

DriveResult drive(const DriveOptions& options)
{
    DriveResult result;

    std::unique_ptr<ViewerWindow> viewer;
    if (options.viewer == ViewerKind::pumping)
        viewer.reset(new ViewerWindow(ViewerMode::pumping));
    else if (options.viewer == ViewerKind::never_pumps)
        viewer.reset(new ViewerWindow(ViewerMode::never_pumps));
    else if (options.viewer == ViewerKind::stalls_once)
        viewer.reset(new ViewerWindow(ViewerMode::stalls_once));
    else if (options.viewer == ViewerKind::slow)
        viewer.reset(new ViewerWindow(ViewerMode::slow));

    std::string program = options.quote_program ? "\"" + options.exe + "\"" : options.exe;
    std::string command_line = program + " " + options.arguments;
    std::vector<char> writable(command_line.begin(), command_line.end());
    writable.push_back('\0');

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    // A window station of its own is not visible, as a service's is not.
    // The name is this process's own, so nothing left from another run can
    // stand in for it.
    HWINSTA station = nullptr;
    HDESK desktop = nullptr;
    const std::string station_name = "TavenorHidden" + std::to_string(GetCurrentProcessId());
    std::string hidden_desktop = station_name + "\\Default";
    auto close_station = [&] {
        if (desktop != nullptr)
            CloseDesktop(desktop);
        if (station != nullptr)
            CloseWindowStation(station);
    };
    auto failed = [&](const char* call) {
        result.not_started = std::string(call) + " failed with error " + std::to_string(GetLastError());
        close_station();
        return result;
    };
    if (options.hidden_station) {
        HWINSTA own = GetProcessWindowStation();
        station = CreateWindowStationA(station_name.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
        result.no_hidden_station = true;
        if (station == nullptr)
            return failed("CreateWindowStationA");
        if (!SetProcessWindowStation(station))
            return failed("SetProcessWindowStation");
        desktop = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        DWORD error = GetLastError();
        SetProcessWindowStation(own);
        SetLastError(error);
        if (desktop == nullptr)
            return failed("CreateDesktopA");
        result.no_hidden_station = false;
        startup.lpDesktop = hidden_desktop.data();
    }
    PROCESS_INFORMATION process = {};
    DWORD start = GetTickCount();
    std::vector<char> environment;
    if (!options.environment.empty())
        environment = environment_block(options.environment);
    if (!CreateProcessA(options.exe.c_str(), writable.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                        environment.empty() ? nullptr : environment.data(), options.directory.empty() ? nullptr : options.directory.c_str(), &startup,
                        &process))
        return failed("CreateProcessA");
    result.started = true;

    bool first_breakpoint = true;
    HWND last_box = nullptr;
    bool terminated = false;
    for (;;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, poll_ms)) {
            answer_usage_box(process.dwProcessId, &last_box, &result);
            if (!terminated && GetTickCount() - start > options.timeout_ms) {
                result.timed_out = true;
                TerminateProcess(process.hProcess, 0xDEAD);
                terminated = true;
            }
            continue;
        }

        DWORD status = DBG_CONTINUE;
        bool done = false;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            close_if_open(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            close_if_open(event.u.LoadDll.hFile);
            break;
        case OUTPUT_DEBUG_STRING_EVENT: {
            const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
            std::string text(info.nDebugStringLength, '\0');
            SIZE_T read = 0;
            if (info.nDebugStringLength > 0)
                ReadProcessMemory(process.hProcess, info.lpDebugStringData, &text[0], text.size(), &read);
            text.resize(read);
            if (!text.empty() && text.back() == '\0')
                text.pop_back();
            result.debug_strings.push_back(text);
            break;
        }
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_DEBUG_INFO& info = event.u.Exception;
            if (first_breakpoint && info.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT) {
                first_breakpoint = false;
            } else if (info.dwFirstChance) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            } else {
                result.crashed = true;
                result.exception_code = info.ExceptionRecord.ExceptionCode;
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            result.exit_code = event.u.ExitProcess.dwExitCode;
            done = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (done)
            break;
    }
    result.elapsed_ms = GetTickCount() - start;
    close_station();
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    if (viewer)
        result.viewer_messages = viewer->messages();
    return result;
}
