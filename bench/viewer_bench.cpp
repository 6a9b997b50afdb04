// The viewer benchmark's two halves.
//
//   sink:      a window with the viewer's title that answers each trace
//              message and keeps nothing: the least any viewer costs a
//              sender on this platform.
//   send <n>:  finds the window with the viewer's title, sends it n trace
//              lines one by one as Tavenor does, then closes it and waits
//              for its end.
//
// send prints: lines=<n> total_us=<t> median_us=<m> p99_us=<p> max_us=<x>
//              memory_kib=<private bytes of the window's process before>,<after>
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "tracelib/viewer_channel.h"

namespace {

LRESULT CALLBACK sink_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        return data != nullptr && data->dwData == trace_viewer_tag;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

int sink()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = sink_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TavenorViewerSink";
    RegisterClassA(&wc);
    if (CreateWindowExA(0, wc.lpszClassName, trace_viewer_title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                        nullptr, wc.hInstance, nullptr) == nullptr)
        return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

unsigned long private_kib(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    return K32GetProcessMemoryInfo(process, &memory, sizeof memory) ? static_cast<unsigned long>(memory.PagefileUsage >> 10)
                                                                   : 0;
}

int send(int count)
{
    HWND window = nullptr;
    for (int i = 0; i < 600 && window == nullptr; ++i) {
        window = FindWindowA(nullptr, trace_viewer_title);
        if (window == nullptr)
            Sleep(50);
    }
    if (window == nullptr) {
        fprintf(stderr, "no viewer window\n");
        return 1;
    }
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) {
        fprintf(stderr, "cannot open the viewer's process\n");
        return 1;
    }
    unsigned long before = private_kib(process);
    LARGE_INTEGER frequency, start, end, begin_all;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> each(static_cast<size_t>(count));
    QueryPerformanceCounter(&begin_all);
    for (int i = 0; i < count; ++i) {
        char line[128];
        int length = snprintf(line, sizeof line,
                              "Calling DriverPackageInstall with path:C:\\stage\\pkg\\x.inf, flag = %08x", i);
        COPYDATASTRUCT data = {trace_viewer_tag, static_cast<DWORD>(length), line};
        DWORD_PTR answer = 0;
        QueryPerformanceCounter(&start);
        SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK, 5000, &answer);
        QueryPerformanceCounter(&end);
        each[static_cast<size_t>(i)] = static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart;
    }
    double total = static_cast<double>(end.QuadPart - begin_all.QuadPart) * 1e6 / frequency.QuadPart;
    Sleep(500);  // the viewer's list and log catch up
    unsigned long after = private_kib(process);
    std::sort(each.begin(), each.end());
    PostMessageA(window, WM_CLOSE, 0, 0);
    WaitForSingleObject(process, 30000);
    CloseHandle(process);
    printf("lines=%d total_us=%.0f median_us=%.1f p99_us=%.1f max_us=%.0f memory_kib=%lu,%lu\n", count, total,
           each[each.size() / 2], each[each.size() * 99 / 100], each.back(), before, after);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "sink") == 0)
        return sink();
    if (argc == 3 && strcmp(argv[1], "send") == 0 && atoi(argv[2]) > 0)
        return send(atoi(argv[2]));
    fprintf(stderr, "usage: tavenor-viewer-bench sink | send <lines>\n");
    return 64;
}
