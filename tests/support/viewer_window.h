// A stand-in for the Corvane viewer: a top-level window titled like it
// that records every WM_COPYDATA it receives.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

struct ViewerMessage {
    uint64_t tag;
    uint32_t size;      // cbData
    std::string bytes;  // exactly cbData bytes
};

// How the window behaves.
enum class ViewerMode {
    pumping,      // on its own thread, answering every message
    never_pumps,  // on its own thread, which never reads its queue
    stalls_once,  // pumping, but takes 2.5 s over the first message
    slow,         // pumping, but takes 1.9 s over every message
    same_thread,  // on the creating thread: sends from it reach the window directly
};

class ViewerWindow {
public:
    explicit ViewerWindow(ViewerMode mode = ViewerMode::same_thread);
    ~ViewerWindow();
    ViewerWindow(const ViewerWindow&) = delete;
    ViewerWindow& operator=(const ViewerWindow&) = delete;

    HWND handle() const { return window_; }
    std::vector<ViewerMessage> messages();
    void clear();

private:
    static DWORD WINAPI thread_main(void* self);
    static LRESULT CALLBACK window_proc(HWND, UINT, WPARAM, LPARAM);
    void create_window();

    ViewerMode mode_;
    HWND window_ = nullptr;
    HANDLE thread_ = nullptr;
    HANDLE ready_ = nullptr;
    HANDLE stop_ = nullptr;
    CRITICAL_SECTION lock_;
    std::vector<ViewerMessage> messages_;
    int handled_ = 0;
};

// Another debugger-output monitor holds the session's debugger output (a
// viewer the developer has open): there is one reader per session, so the
// tests of what the viewer captures cannot run beside it, and a viewer the
// tests start says so in its first row.
bool debugger_output_taken();
