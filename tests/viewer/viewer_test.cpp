// The Corvane viewer run for real: its log of a Tavenor run against the
// debugger strings of the same run, and how it takes messages.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "e2e/stage.h"
#include "support/test_files.h"
#include "tracelib/viewer_channel.h"

namespace {

// A running viewer with its log file; closed (and so flushed) by stop().
class RunningViewer {
public:
    explicit RunningViewer(const std::string& log) : log_(log)
    {
        std::string command = "\"" + program_folder() + "Corvane.exe\" /log \"" + log + "\"";
        std::vector<char> writable(command.begin(), command.end());
        writable.push_back('\0');
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process_))
            return;
        for (int i = 0; i < 500 && window_ == nullptr; ++i) {
            HWND found = FindWindowA(nullptr, trace_viewer_title);
            DWORD owner = 0;
            if (found != nullptr)
                GetWindowThreadProcessId(found, &owner);
            if (owner == process_.dwProcessId)
                window_ = found;
            else
                Sleep(20);
        }
    }
    ~RunningViewer() { stop(); }
    HWND window() const { return window_; }
    void stop()
    {
        if (process_.hProcess == nullptr)
            return;
        if (window_ != nullptr)
            PostMessageA(window_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, 1);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
        process_.hProcess = nullptr;
        window_ = nullptr;
    }

private:
    std::string log_;
    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
};

TEST(Viewer, LogEqualsTheDebuggerOutputOfTheSameRun)
{
    Stage stage = make_stage(test_name(), Library::full, "preinstall 183 0\nlog install 1 1 0 Installing\n");
    std::string log = stage.folder + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    DriveResult r = run(stage, "/i 'pkg\\x.inf' /d", ViewerKind::none);
    viewer.stop();
    EXPECT_EQ(r.exit_code, 0u);
    std::string debugger;
    for (const std::string& text : r.debug_strings)
        debugger += text;
    EXPECT_GT(r.debug_strings.size(), 20u);
    EXPECT_EQ(read_file(log), debugger);
}

bool send(HWND window, ULONG_PTR tag, const void* bytes, DWORD size, DWORD* elapsed_ms)
{
    COPYDATASTRUCT data = {tag, size, const_cast<void*>(bytes)};
    DWORD_PTR answer = 0;
    DWORD start = GetTickCount();
    LRESULT sent = SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK, 5000,
                                       &answer);
    *elapsed_ms = GetTickCount() - start;
    return sent != 0 && answer != 0;
}

TEST(Viewer, TakesExactlyCbDataBytesAndIgnoresOtherTags)
{
    std::string log = fresh_work_folder(test_name()) + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    DWORD elapsed = 0;
    const char bytes[] = "abcXYZ";
    EXPECT_TRUE(send(viewer.window(), trace_viewer_tag, bytes, 3, &elapsed));
    EXPECT_FALSE(send(viewer.window(), 0x12345678, "other tag", 9, &elapsed));
    EXPECT_TRUE(send(viewer.window(), trace_viewer_tag, "", 0, &elapsed));
    EXPECT_TRUE(send(viewer.window(), trace_viewer_tag, "two\nlines", 9, &elapsed));
    // A burst answered at once, each message well within a sender's patience.
    DWORD slowest = 0;
    std::string expected = "abc\n\ntwo\nlines\n";
    for (int i = 0; i < 300; ++i) {
        std::string line = "burst line " + std::to_string(i);
        ASSERT_TRUE(send(viewer.window(), trace_viewer_tag, line.data(), static_cast<DWORD>(line.size()), &elapsed));
        slowest = elapsed > slowest ? elapsed : slowest;
        expected += line + "\n";
    }
    EXPECT_LT(slowest, 250u);
    viewer.stop();
    EXPECT_EQ(read_file(log), expected);
}

} // namespace
