#include "support/viewer_window.h"

#include "tracelib/viewer_channel.h"

namespace {
constexpr char window_class[] = "TavenorTestViewer";

void register_class()
{
    static bool registered = false;
    if (registered)
        return;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;  // replaced per window below
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = window_class;
    RegisterClassA(&wc);
    registered = true;
}
} // namespace

ViewerWindow::ViewerWindow(ViewerMode mode) : mode_(mode)
{
    InitializeCriticalSection(&lock_);
    register_class();
    if (mode_ == ViewerMode::same_thread) {
        create_window();
        return;
    }
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, thread_main, this, 0, nullptr);
    // Window creation can take seconds on a loaded machine; without the
    // window the test would see no messages at all.
    WaitForSingleObject(ready_, 60000);
}

ViewerWindow::~ViewerWindow()
{
    if (mode_ == ViewerMode::same_thread) {
        DestroyWindow(window_);
    } else {
        SetEvent(stop_);
        if (mode_ != ViewerMode::never_pumps)
            PostMessageA(window_, WM_CLOSE, 0, 0);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
        CloseHandle(ready_);
        CloseHandle(stop_);
    }
    DeleteCriticalSection(&lock_);
}

void ViewerWindow::create_window()
{
    window_ = CreateWindowExA(0, window_class, trace_viewer_title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(window_proc));
}

DWORD WINAPI ViewerWindow::thread_main(void* parameter)
{
    ViewerWindow* self = static_cast<ViewerWindow*>(parameter);
    self->create_window();
    SetEvent(self->ready_);
    if (self->mode_ == ViewerMode::never_pumps) {
        WaitForSingleObject(self->stop_, INFINITE);
    } else {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    DestroyWindow(self->window_);
    return 0;
}

LRESULT CALLBACK ViewerWindow::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    ViewerWindow* self = reinterpret_cast<ViewerWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_COPYDATA && self != nullptr) {
        if (self->mode_ == ViewerMode::slow || (self->mode_ == ViewerMode::stalls_once && self->handled_ == 0))
            Sleep(self->mode_ == ViewerMode::slow ? 1900 : 2500);
        ++self->handled_;
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        ViewerMessage copy;
        copy.tag = data->dwData;
        copy.size = data->cbData;
        if (data->cbData > 0 && data->lpData != nullptr)
            copy.bytes.assign(static_cast<const char*>(data->lpData), data->cbData);
        EnterCriticalSection(&self->lock_);
        self->messages_.push_back(copy);
        LeaveCriticalSection(&self->lock_);
        return TRUE;
    }
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

std::vector<ViewerMessage> ViewerWindow::messages()
{
    EnterCriticalSection(&lock_);
    std::vector<ViewerMessage> copy = messages_;
    LeaveCriticalSection(&lock_);
    return copy;
}

void ViewerWindow::clear()
{
    EnterCriticalSection(&lock_);
    messages_.clear();
    LeaveCriticalSection(&lock_);
}

bool debugger_output_taken()
{
    HANDLE ready = OpenEventA(SYNCHRONIZE, FALSE, "DBWIN_BUFFER_READY");
    if (ready == nullptr)
        return false;
    CloseHandle(ready);
    return true;
}
