// The viewer's window as people use it, run for real: opening a file beside
// what was captured, the status bar, whole lines, a narrow window,
// following after a resize, what the rows say, and the settings it keeps.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <string.h>

#include <string>
#include <vector>

#include "e2e/drive.h"
#include "support/programs.h"
#include "support/test_files.h"
#include "tracelib/viewer_channel.h"
#include "viewer/commands.h"

namespace {

// Every test of this program keeps the viewer's settings under a key of its
// own, cleared at its start: a filter one test leaves must not hide the
// next one's lines.
std::string settings_key()
{
    return "Software\\Ledrik\\CorvaneTests\\" + test_name();
}

class SettingsPerTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, settings_key().c_str());
        SetEnvironmentVariableA("CORVANE_SETTINGS", settings_key().c_str());
    }
};
const bool g_settings_per_test = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new SettingsPerTest);
    return true;
}();

// A Corvane started with arguments; its main window once its list is made.
struct Started {
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;
};

HWND window_of(DWORD process_id, const char* kind)
{
    for (HWND found = FindWindowExA(nullptr, nullptr, kind, nullptr); found != nullptr;
         found = FindWindowExA(nullptr, found, kind, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(found, &owner);
        if (owner == process_id && FindWindowExA(found, nullptr, WC_LISTVIEWA, nullptr) != nullptr)
            return found;
    }
    return nullptr;
}

std::wstring cell_text(HANDLE process, HWND list, int item, int column);

bool start(Started* viewer, const std::string& arguments)
{
    // Asked before the viewer starts, which takes the channel itself.
    const bool taken = debugger_output_taken();
    std::string command = "\"" + program_folder() + "Corvane.exe\" " + arguments;
    viewer->process = start_program(command);
    if (viewer->process.hProcess == nullptr)
        return false;
    // Hang guard only: a window takes well under a second.
    for (int i = 0; i < 1500 && viewer->window == nullptr; ++i) {
        viewer->window = window_of(viewer->process.dwProcessId, "CorvaneViewer");
        if (viewer->window == nullptr)
            Sleep(20);
    }
    if (viewer->window == nullptr)
        return false;
    // A viewer beside another debugger-output monitor (one the developer has
    // open) says so in its first row: cleared, the tests count only theirs.
    // (A viewer of a file takes no debugger output and says nothing.)
    if (taken) {
        HWND list = FindWindowExA(viewer->window, nullptr, WC_LISTVIEWA, nullptr);
        for (int i = 0; i < 1500 && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 0; ++i)
            Sleep(20);
        DWORD_PTR answer = 0;
        if (cell_text(viewer->process.hProcess, list, 0, 2).find(L"another debugger-output monitor") !=
            std::wstring::npos)
            SendMessageTimeoutA(viewer->window, WM_COMMAND, MAKEWPARAM(id_clear, 0), 0, SMTO_BLOCK, 30000, &answer);
    }
    return true;
}

void stop(Started* viewer)
{
    if (viewer->process.hProcess == nullptr)
        return;
    if (viewer->window != nullptr)
        PostMessageA(viewer->window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(viewer->process.hProcess, 30000) != WAIT_OBJECT_0)
        TerminateProcess(viewer->process.hProcess, 1);
    CloseHandle(viewer->process.hThread);
    CloseHandle(viewer->process.hProcess);
    viewer->process = {};
    viewer->window = nullptr;
}

struct Viewer : Started {
    explicit Viewer(const std::string& arguments) { started = start(this, arguments); }
    ~Viewer() { stop(this); }
    HWND list() const { return FindWindowExA(window, nullptr, WC_LISTVIEWA, nullptr); }
    bool started = false;
};

bool send(HWND window, const std::string& text)
{
    COPYDATASTRUCT data = {trace_viewer_tag, static_cast<DWORD>(text.size()), const_cast<char*>(text.data())};
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK, 5000, &answer) &&
           answer != 0;
}

// Text the viewer's controls keep in its own memory: a request written
// there, answered there, read back.
template <typename Request>
Request ask_remote(HANDLE process, HWND control, UINT message, WPARAM wparam, Request request,
                   void (*aim)(Request*, Request*))
{
    Request* remote = static_cast<Request*>(VirtualAllocEx(process, nullptr, sizeof(Request), MEM_COMMIT,
                                                          PAGE_READWRITE));
    if (remote == nullptr)
        return request;
    aim(&request, remote);
    if (WriteProcessMemory(process, remote, &request, sizeof request, nullptr)) {
        SendMessageW(control, message, wparam, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(process, remote, &request, sizeof request, nullptr);
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return request;
}

struct CellRequest {
    LVITEMW item;
    wchar_t text[512];
};
std::wstring cell_text(HANDLE process, HWND list, int item, int column)
{
    CellRequest request = {};
    request.item.iSubItem = column;
    request.item.cchTextMax = 512;
    request = ask_remote<CellRequest>(process, list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), request,
                                      [](CellRequest* r, CellRequest* remote) { r->item.pszText = remote->text; });
    return request.text;
}

struct StatusRequest {
    char text[1024];
};
// A part of the status bar.
std::string status_part(HANDLE process, HWND window, int part)
{
    HWND status = GetDlgItem(window, id_status);
    if (SendMessageA(status, SB_GETTEXTLENGTHA, static_cast<WPARAM>(part), 0) >= 1024)
        return "(too long)";
    StatusRequest request = {};
    return ask_remote<StatusRequest>(process, status, SB_GETTEXTA, static_cast<WPARAM>(part), request,
                                     [](StatusRequest*, StatusRequest*) {})
        .text;
}

void select_row(HANDLE process, HWND list, int item)
{
    LVITEMW state = {};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    ask_remote<LVITEMW>(process, list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), state,
                        [](LVITEMW*, LVITEMW*) {});
}

// Polls until check holds; a hang guard of ten seconds, far above the
// list's 50 ms refresh.
template <typename Check>
bool once(Check check)
{
    for (int i = 0; i < 500; ++i) {
        if (check())
            return true;
        Sleep(20);
    }
    return check();
}

LRESULT rows(HWND list)
{
    return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
}

// A control's text as it is now (GetWindowText gives another process's
// controls only the text they were made with).
std::string window_text(HWND window)
{
    char text[4096] = "";
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000, &answer);
    return text;
}

void set_text(HWND window, const char* text)
{
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000, &answer);
}

// A Tavenor trace file as /l writes it (README: time, process, text).
const char trace_file[] = "2026-12-08 18:20:17.123\t4242\tTavenor 1.0.0.12 started\r\n"
                          "2026-12-08 18:20:17.125\t4242\tCommand line: /i x.inf /d\r\n"
                          "2026-12-08 18:20:17.400\t4242\tDriverPackagePreinstall returned ERROR_ALREADY_EXISTS\r\n"
                          "2026-12-08 18:20:18.500\t4242\tCall DriverPackageInstall Succeed.\r\n"
                          "2026-12-08 18:20:18.510\t4242\tExit code 0: success\r\n";

// Opening a file while lines are captured: they stay, and the file shows
// in a window of its own, whose status bar speaks of the file.
TEST(ViewerWindow, OpeningAFileKeepsTheCapturedLines)
{
    std::string folder = fresh_work_folder(test_name());
    std::string trace = folder + "\\tavenor.log";
    ASSERT_TRUE(write_file(trace, trace_file));
    Viewer viewer("/log \"" + folder + "\\corvane.log\"");
    ASSERT_TRUE(viewer.started);
    for (const char* line : {"captured one", "captured two", "captured three"})
        ASSERT_TRUE(send(viewer.window, line));
    ASSERT_TRUE(once([&] { return rows(viewer.list()) == 3; }));

    // "Corvane.exe <file>" while the viewer runs, as Explorer's Open With does.
    PROCESS_INFORMATION second = start_program("\"" + program_folder() + "Corvane.exe\" \"" + trace + "\"");
    ASSERT_NE(second.hProcess, nullptr);
    EXPECT_NE(finish_program(&second, 30000), static_cast<DWORD>(STILL_ACTIVE));

    HWND file_window = nullptr;
    once([&] { return (file_window = FindWindowA("CorvaneFile", nullptr)) != nullptr &&
                      FindWindowExA(file_window, nullptr, WC_LISTVIEWA, nullptr) != nullptr; });
    ASSERT_NE(file_window, nullptr) << "no window of the file";
    DWORD file_process_id = 0;
    GetWindowThreadProcessId(file_window, &file_process_id);
    HANDLE file_process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, file_process_id);
    ASSERT_NE(file_process, nullptr);
    HWND file_list = FindWindowExA(file_window, nullptr, WC_LISTVIEWA, nullptr);
    EXPECT_TRUE(once([&] { return rows(file_list) == 6; })) << rows(file_list);  // a head row and five lines
    EXPECT_NE(window_text(file_window), trace_viewer_title);
    std::string scrolling = status_part(file_process, file_window, 1);
    EXPECT_EQ(scrolling.find("new lines below"), std::string::npos) << scrolling;
    EXPECT_EQ(status_part(file_process, file_window, 2), "File: " + trace);

    // The captured lines, untouched, still following.
    EXPECT_EQ(rows(viewer.list()), 3);
    EXPECT_EQ(cell_text(viewer.process.hProcess, viewer.list(), 0, 2), L"captured one");
    // (Followed by "; debugger output off" beside another monitor.)
    EXPECT_EQ(status_part(viewer.process.hProcess, viewer.window, 1).find("Following new lines"), 0u);
    PostMessageA(file_window, WM_CLOSE, 0, 0);
    bool ended = WaitForSingleObject(file_process, 30000) == WAIT_OBJECT_0;
    EXPECT_TRUE(ended) << "the file's window did not close";
    if (!ended)
        TerminateProcess(file_process, 1);
    CloseHandle(file_process);
}

// The log's path from the start, a note beside it rather than in its
// place, and a log handed over by a second start said.
TEST(ViewerWindow, TheStatusBarAlwaysNamesTheLog)
{
    // It turns debugger output off and takes it again.
    if (debugger_output_taken())
        GTEST_SKIP() << "another debugger-output monitor runs in this session";
    std::string folder = fresh_work_folder(test_name());
    std::string first_log = folder + "\\first.log";
    std::string second_log = folder + "\\second.log";
    Viewer viewer("/log \"" + first_log + "\"");
    ASSERT_TRUE(viewer.started);
    HANDLE process = viewer.process.hProcess;
    EXPECT_TRUE(once([&] { return status_part(process, viewer.window, 2) == "Log: " + first_log; }))
        << status_part(process, viewer.window, 2);

    // A note (a search that finds nothing) has a part of its own.
    set_text(GetDlgItem(viewer.window, id_find), "nowhere");
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutA(viewer.window, WM_COMMAND, MAKEWPARAM(id_find_next, 0), 0, SMTO_BLOCK, 5000,
                                    &answer));
    EXPECT_EQ(status_part(process, viewer.window, 3), "\"nowhere\" not found");
    EXPECT_EQ(status_part(process, viewer.window, 2), "Log: " + first_log);

    std::string command = "\"" + program_folder() + "Corvane.exe\" /log \"" + second_log + "\"";
    PROCESS_INFORMATION second = start_program(command);
    ASSERT_NE(second.hProcess, nullptr);
    EXPECT_NE(finish_program(&second, 30000), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(once([&] { return status_part(process, viewer.window, 2) == "Log: " + second_log; }));
    EXPECT_EQ(status_part(process, viewer.window, 3), "Logging began: " + second_log);
    ASSERT_TRUE(once([&] { return rows(viewer.list()) == 1; }));
    std::wstring said = cell_text(process, viewer.list(), 0, 2);
    EXPECT_EQ(said.find(L"[Corvane] logging to "), 0u);

    // Debugger output left to another monitor, and taken again: said
    // beside the following, the log still named.
    for (bool on : {false, true}) {
        ASSERT_TRUE(SendMessageTimeoutA(viewer.window, WM_COMMAND, MAKEWPARAM(id_capture, 0), 0, SMTO_BLOCK, 5000,
                                        &answer));
        std::string scrolling = status_part(process, viewer.window, 1);
        EXPECT_EQ(scrolling.find("debugger output off") != std::string::npos, !on) << scrolling;
        EXPECT_EQ(status_part(process, viewer.window, 2), "Log: " + second_log);
    }
}

// Toolbar controls inside the client area, none over another or over the
// list.
std::string toolbar_fault(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    RECT list;
    GetWindowRect(FindWindowExA(window, nullptr, WC_LISTVIEWA, nullptr), &list);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&list), 2);
    const int ids[] = {id_include, id_exclude, id_find, id_find_previous, id_find_next, id_pause, id_on_top};
    std::vector<RECT> placed;
    for (int id : ids) {
        RECT r;
        GetWindowRect(GetDlgItem(window, id), &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        std::string name = "control " + std::to_string(id);
        if (r.left < 0 || r.right > client.right || r.right - r.left < 40 || r.bottom > list.top)
            return name + " is cut or under the list";
        RECT both;
        for (const RECT& other : placed) {
            if (IntersectRect(&both, &r, &other))
                return name + " lies over another";
        }
        placed.push_back(r);
    }
    return "";
}

// A narrow window keeps every toolbar control whole, and a following list
// shows its newest row after it shrinks.
TEST(ViewerWindow, ANarrowWindowKeepsItsToolbarAndTheNewestRow)
{
    Viewer viewer("");
    ASSERT_TRUE(viewer.started);
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(send(viewer.window, "row " + std::to_string(i)));
    ASSERT_TRUE(once([&] { return rows(viewer.list()) == 200; }));
    const struct {
        int width, height;
    } sizes[] = {{900, 560}, {420, 400}, {340, 260}, {640, 300}};
    for (const auto& size : sizes) {
        SetWindowPos(viewer.window, nullptr, 0, 0, size.width, size.height, SWP_NOMOVE | SWP_NOZORDER);
        EXPECT_EQ(toolbar_fault(viewer.window), "") << size.width;
        HWND list = viewer.list();
        EXPECT_TRUE(once([&] {
            LRESULT top = SendMessageW(list, LVM_GETTOPINDEX, 0, 0);
            return top + SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0) >= 200;
        })) << size.width << "x" << size.height << ": the newest row is out of view";
    }
}

// The list's cells stop at 260 characters: the focused line shows whole
// below the list.
TEST(ViewerWindow, ALongLineShowsWholeBelowTheList)
{
    Viewer viewer("");
    ASSERT_TRUE(viewer.started);
    std::string long_line = "long:";
    for (int i = 0; long_line.size() < 700; ++i)
        long_line += " word" + std::to_string(i);
    long_line += " END";
    ASSERT_TRUE(send(viewer.window, "short"));
    ASSERT_TRUE(send(viewer.window, long_line));
    ASSERT_TRUE(once([&] { return rows(viewer.list()) == 2; }));
    select_row(viewer.process.hProcess, viewer.list(), 1);
    HWND detail = GetDlgItem(viewer.window, id_detail);
    ASSERT_NE(detail, nullptr);
    EXPECT_TRUE(once([&] {
        std::string shown = window_text(detail);
        return shown.size() > long_line.size() && shown.compare(shown.size() - long_line.size(), std::string::npos,
                                                                long_line) == 0;
    })) << window_text(detail);
}

// An empty list says how lines get there; a head row read from Tavenor's
// trace file names the command line, not its label.
TEST(ViewerWindow, TheRowsSayWhatTheyAre)
{
    Viewer empty("");
    ASSERT_TRUE(empty.started);
    HWND hint = GetDlgItem(empty.window, id_hint);
    EXPECT_TRUE(once([&] { return IsWindowVisible(hint) != FALSE; }));
    EXPECT_NE(window_text(hint).find("/d"), std::string::npos) << window_text(hint);
    ASSERT_TRUE(send(empty.window, "a line"));
    EXPECT_TRUE(once([&] { return IsWindowVisible(hint) == FALSE; }));
    stop(&empty);

    std::string trace = fresh_work_folder(test_name()) + "\\tavenor.log";
    ASSERT_TRUE(write_file(trace, trace_file));
    Viewer viewer("\"" + trace + "\"");
    ASSERT_TRUE(viewer.started);
    ASSERT_TRUE(once([&] { return rows(viewer.list()) == 6; }));
    EXPECT_EQ(cell_text(viewer.process.hProcess, viewer.list(), 0, 2),
              L"Tavenor run: /i x.inf /d  |  Exit code 0: success");
}

// What the user set is there at the next start; a value out of shape is
// left at its default, and the viewer starts all the same.
TEST(ViewerWindow, SettingsAreKeptAndBadOnesLeftAtTheirDefault)
{
    {
        Viewer viewer("");
        ASSERT_TRUE(viewer.started);
        set_text(GetDlgItem(viewer.window, id_include), "install; exit code");
        set_text(GetDlgItem(viewer.window, id_find), "ERROR_");
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(viewer.window, WM_COMMAND, MAKEWPARAM(id_on_top, 0), 0, SMTO_BLOCK, 5000, &answer);
        SetWindowPos(viewer.window, nullptr, 30, 40, 700, 450, SWP_NOZORDER);
    }
    {
        Viewer viewer("");
        ASSERT_TRUE(viewer.started);
        EXPECT_EQ(window_text(GetDlgItem(viewer.window, id_include)), "install; exit code");
        EXPECT_EQ(window_text(GetDlgItem(viewer.window, id_find)), "ERROR_");
        EXPECT_NE(GetWindowLongA(viewer.window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
        RECT r;
        GetWindowRect(viewer.window, &r);
        EXPECT_EQ(r.right - r.left, 700);
        EXPECT_EQ(r.bottom - r.top, 450);
        // The filter is in force, not only in its box.
        for (const char* line : {"Call DriverPackageInstall Succeed.", "Windows 10", "Exit code 0: success"})
            ASSERT_TRUE(send(viewer.window, line));
        EXPECT_TRUE(once([&] { return rows(viewer.list()) == 2; })) << rows(viewer.list());
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, settings_key().c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    const BYTE junk[] = {1, 2, 3};
    DWORD huge = 0x7FFFFFFF;
    std::string long_text(5000, 'x');
    RegSetValueExA(key, "Placement", 0, REG_BINARY, junk, sizeof junk);
    RegSetValueExA(key, "Columns", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&huge), sizeof huge);
    RegSetValueExA(key, "Include", 0, REG_SZ, reinterpret_cast<const BYTE*>(long_text.c_str()),
                   static_cast<DWORD>(long_text.size() + 1));
    RegSetValueExA(key, "Find", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&huge), sizeof huge);
    RegSetValueExA(key, "Font", 0, REG_BINARY, junk, sizeof junk);
    RegSetValueExA(key, "Highlights", 0, REG_SZ, reinterpret_cast<const BYTE*>("not a rule"), 11);
    RegCloseKey(key);
    Viewer viewer("");
    ASSERT_TRUE(viewer.started);
    RECT r;
    GetWindowRect(viewer.window, &r);
    EXPECT_EQ(r.right - r.left, 900);  // the default size
    EXPECT_EQ(window_text(GetDlgItem(viewer.window, id_include)), "");
    EXPECT_EQ(window_text(GetDlgItem(viewer.window, id_find)), "");
    EXPECT_GT(SendMessageA(viewer.list(), LVM_GETCOLUMNWIDTH, 2, 0), 100);
}

} // namespace
