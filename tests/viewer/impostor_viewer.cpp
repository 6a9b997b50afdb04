// tavenor-impostor-viewer <claim|window> <record file>: another program of
// the same user posing as the one running viewer.  It takes the viewer's
// single-instance claim and, with "window", shows a window of the viewer's
// class and title that writes the path of every log file handed to it to
// the record file.  It runs until it is ended.
#include <windows.h>

#include <string.h>

#include "tracelib/viewer_channel.h"
#include "viewer/single_instance.h"
#include "viewer/viewer.h"

namespace {

const char* g_record = nullptr;

LRESULT CALLBACK impostor_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        if (data->dwData == log_file_tag) {
            HANDLE record = CreateFileA(g_record, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD written = 0;
            if (record != INVALID_HANDLE_VALUE) {
                WriteFile(record, data->lpData, data->cbData, &written, nullptr);
                CloseHandle(record);
            }
        }
        return TRUE;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 64;
    g_record = argv[2];
    HANDLE claim = CreateMutexA(nullptr, FALSE, single_instance_name().c_str());
    if (claim == nullptr)
        return 1;
    if (strcmp(argv[1], "window") == 0) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = impostor_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = window_class;
        RegisterClassA(&wc);
        if (CreateWindowExA(0, window_class, trace_viewer_title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                            nullptr, wc.hInstance, nullptr) == nullptr)
            return 2;
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    CloseHandle(claim);
    return 0;
}
