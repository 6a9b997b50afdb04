// Files shown in windows of their own: File > Open, a file dropped on the
// window or handed over by a second start never take the place of what
// was captured.  The file window is this program again, started with
// "/view <file>": it captures nothing, logs nothing, and is of another
// class and title than the viewer, so nothing sends to it.
#include "viewer/viewer.h"

void show_file(const std::string& path)
{
    if (g_viewer.file_view) {
        // A file window's own file is all it holds.
        open_file(path);
        return;
    }
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length == 0 || length >= sizeof program) {
        tell("Cannot open " + path + ": the viewer's own path is too long");
        return;
    }
    std::string command = std::string("\"") + program + "\" " + file_window_switch + " \"" + path + "\"";
    std::vector<char> writable(command.begin(), command.end());
    writable.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        tell("Cannot open " + path + ": " + system_reason(GetLastError()));
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    g_viewer.note = "Opened " + path + " in a window of its own";
    update_status();
}
