// A second Corvane start hands its /log file only to a running viewer of
// the same user at the same or a higher integrity level.  Another program
// that takes the viewer's claim gets nothing without a viewer's window;
// with one it is trusted only as its user and level allow.  Under Wine
// every process runs as one user at one level: the check is shown passing
// here and refusing only on real Windows.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "e2e/drive.h"
#include "support/programs.h"
#include "support/test_files.h"
#include "tracelib/viewer_channel.h"
#include "viewer/single_instance.h"

namespace {

// The viewer's window of the process, once its list is made; none after a while.
HWND viewer_window_of(DWORD process_id)
{
    for (int i = 0; i < 1000; ++i) {
        for (HWND found = FindWindowA(nullptr, trace_viewer_title); found != nullptr;
             found = FindWindowExA(nullptr, found, nullptr, trace_viewer_title)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(found, &owner);
            if (owner == process_id && FindWindowExA(found, nullptr, WC_LISTVIEWA, nullptr) != nullptr)
                return found;
        }
        Sleep(20);
    }
    return nullptr;
}

TEST(Handover, TheLogGoesOnlyToAViewerThatCanBeTrustedWithIt)
{
    struct Case {
        const char* impostor;  // what the other program shows
        bool handed;           // the log's path reaches it
    };
    // "claim": the claim without a viewer's window; "window": a window of
    // the viewer's class and title, run as the same user at the same level.
    const Case cases[] = {{"claim", false}, {"window", true}};
    for (const Case& c : cases) {
        std::string folder = fresh_work_folder(test_name() + "_" + c.impostor);
        std::string record = folder + "\\received.txt";
        std::string log = folder + "\\corvane.log";
        PROCESS_INFORMATION impostor =
            start_program("\"" + program_folder() + "tavenor-impostor-viewer.exe\" " + c.impostor + " \"" + record + "\"");
        ASSERT_NE(impostor.hProcess, nullptr);
        HANDLE claim = nullptr;
        for (int i = 0; i < 500 && claim == nullptr; ++i) {
            claim = OpenMutexA(SYNCHRONIZE, FALSE, single_instance_name().c_str());
            if (claim == nullptr || (c.handed && FindWindowA("CorvaneViewer", trace_viewer_title) == nullptr)) {
                if (claim != nullptr)
                    CloseHandle(claim);
                claim = nullptr;
                Sleep(20);
            }
        }
        ASSERT_NE(claim, nullptr) << c.impostor;
        CloseHandle(claim);

        PROCESS_INFORMATION viewer = start_program("\"" + program_folder() + "Corvane.exe\" /log \"" + log + "\"");
        ASSERT_NE(viewer.hProcess, nullptr);
        if (c.handed) {
            EXPECT_EQ(WaitForSingleObject(viewer.hProcess, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
            DWORD code = 99;
            GetExitCodeProcess(viewer.hProcess, &code);
            EXPECT_EQ(code, 0u);
            EXPECT_EQ(read_file(record), log);
            EXPECT_FALSE(file_exists(log));
        } else {
            // The start captures itself, keeps its log and says why there.
            HWND window = viewer_window_of(viewer.dwProcessId);
            EXPECT_NE(window, nullptr) << "the viewer ended instead of capturing";
            if (window != nullptr) {
                PostMessageA(window, WM_CLOSE, 0, 0);
                EXPECT_EQ(WaitForSingleObject(viewer.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
            }
            EXPECT_NE(read_file(log).find("another program holds the one viewer's claim"), std::string::npos)
                << read_file(log);
            EXPECT_EQ(read_file(record), "");
        }
        finish_program(&viewer, 0);
        finish_program(&impostor, 0);
    }
}

} // namespace
