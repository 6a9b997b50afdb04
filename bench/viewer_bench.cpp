// The viewer benchmark's two halves.
//
//   sink:      a window with the viewer's title that answers each trace
//              message and keeps nothing: the least any viewer costs a
//              sender on this platform.
//   send <n>:  finds the window with the viewer's title, sends it n trace
//              lines one by one as Tavenor does, then closes it and waits
//              for its end.
//
//   reader:    reads the session's debugger output and keeps nothing: the
//              least any debugger-output monitor costs a writer; ends on
//              the line "bench: end".
//   debug <n>: writes n trace lines to the debugger output, each followed
//              by a line feed as Tavenor writes them, once a reader (the
//              floor's or Corvane) has the channel; then "bench: end".
//
// send prints: lines=<n> total_us=<t> median_us=<m> p99_us=<p> max_us=<x>
//              memory_kib=<private bytes of the window's process before>,<after>
// debug prints: lines=<n> total_us=<t>
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <initializer_list>
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

constexpr char end_line[] = "bench: end";

int reader()
{
    HANDLE buffer_ready = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    HANDLE data_ready = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    const char* view = mapping != nullptr ? static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0))
                                          : nullptr;
    bool ready = buffer_ready != nullptr && data_ready != nullptr && view != nullptr;
    while (ready) {
        SetEvent(buffer_ready);
        if (WaitForSingleObject(data_ready, 60000) != WAIT_OBJECT_0)
            break;
        if (strncmp(view + sizeof(DWORD), end_line, sizeof end_line) == 0)
            break;
    }
    if (view != nullptr)
        UnmapViewOfFile(view);
    for (HANDLE handle : {mapping, data_ready, buffer_ready}) {
        if (handle != nullptr)
            CloseHandle(handle);
    }
    return ready ? 0 : 1;
}

int debug(int count)
{
    // A reader has the channel once its buffer-ready event exists.
    HANDLE ready = nullptr;
    for (int i = 0; i < 600 && ready == nullptr; ++i) {
        ready = OpenEventA(SYNCHRONIZE, FALSE, "DBWIN_BUFFER_READY");
        if (ready == nullptr)
            Sleep(50);
    }
    if (ready == nullptr) {
        fprintf(stderr, "no debugger-output reader\n");
        return 1;
    }
    CloseHandle(ready);
    Sleep(500);  // the reader's thread is waiting
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) {
        char line[128];
        snprintf(line, sizeof line, "Calling DriverPackageInstall with path:C:\\stage\\pkg\\x.inf, flag = %08x\n", i);
        OutputDebugStringA(line);
        OutputDebugStringA("\n");
    }
    QueryPerformanceCounter(&end);
    OutputDebugStringA(end_line);
    printf("lines=%d total_us=%.0f\n", count,
           static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart);
    // A viewer that read them is closed, as send closes it.
    HWND window = FindWindowA(nullptr, trace_viewer_title);
    DWORD id = 0;
    if (window != nullptr && GetWindowThreadProcessId(window, &id) != 0) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
        PostMessageA(window, WM_CLOSE, 0, 0);
        if (process != nullptr) {
            WaitForSingleObject(process, 30000);
            CloseHandle(process);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "reader") == 0)
        return reader();
    if (argc == 3 && strcmp(argv[1], "debug") == 0 && atoi(argv[2]) > 0)
        return debug(atoi(argv[2]));
    if (argc == 2 && strcmp(argv[1], "sink") == 0)
        return sink();
    if (argc == 3 && strcmp(argv[1], "send") == 0 && atoi(argv[2]) > 0)
        return send(atoi(argv[2]));
    fprintf(stderr, "usage: tavenor-viewer-bench sink | send <lines> | reader | debug <lines>\n");
    return 64;
}
