// The Corvane viewer run for real: its log of a Tavenor run against the
// debugger strings of the same run, and how it takes messages.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/stage.h"
#include "support/programs.h"
#include "support/test_files.h"
#include "tracelib/viewer_channel.h"
#include "viewer/commands.h"
#include "viewer/intake.h"

namespace {

// A cell of the viewer's list, read in the viewer's own memory: a list
// view answers with text only to its own process.
std::wstring cell_text(HANDLE process, HWND list, int item, int column)
{
    struct Request {
        LVITEMW item;
        wchar_t text[512];
    };
    void* remote = VirtualAllocEx(process, nullptr, sizeof(Request), MEM_COMMIT, PAGE_READWRITE);
    if (remote == nullptr)
        return L"(no memory in the viewer)";
    Request request = {};
    request.item.iSubItem = column;
    request.item.cchTextMax = 512;
    request.item.pszText = static_cast<Request*>(remote)->text;
    std::wstring text = L"(not read)";
    if (WriteProcessMemory(process, remote, &request, sizeof request, nullptr)) {
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(remote));
        if (ReadProcessMemory(process, remote, &request, sizeof request, nullptr))
            text = request.text;
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return text;
}

// The text of the list's last row once it is expected, or what it was
// after half a minute (the bound only catches a viewer that never shows it).
std::wstring last_row_once(HANDLE process, HWND list, const std::wstring& expected)
{
    std::wstring text;
    for (int i = 0; i < 1500; ++i) {
        int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        if (count > 0 && (text = cell_text(process, list, count - 1, 2)) == expected)
            break;
        Sleep(20);
    }
    return text;
}

// A running viewer with its log file; closed by stop().
class RunningViewer {
public:
    // keep_notes: the viewer's own first lines stay in the list.
    explicit RunningViewer(const std::string& log, const std::string& more = "", bool keep_notes = false) : log_(log)
    {
        // Asked before the viewer starts, which takes the channel itself.
        const bool taken = debugger_output_taken();
        process_ = start_program("\"" + program_folder() + "Corvane.exe\" /log \"" + log + "\" " + more);
        if (process_.hProcess == nullptr)
            return;
        for (int i = 0; i < 1500 && window_ == nullptr; ++i) {
            // The viewer's window once its list is made: it can be found
            // while it is still making its controls.
            HWND found = FindWindowA(nullptr, trace_viewer_title);
            DWORD owner = 0;
            if (found != nullptr)
                GetWindowThreadProcessId(found, &owner);
            if (owner == process_.dwProcessId && FindWindowExA(found, nullptr, WC_LISTVIEWA, nullptr) != nullptr)
                window_ = found;
            else if (WaitForSingleObject(process_.hProcess, 20) == WAIT_OBJECT_0)
                break;  // it ended (handed over to another viewer): no window will come
        }
        if (window_ != nullptr && !keep_notes && taken)
            clear_own_note();
    }
    ~RunningViewer() { stop(); }
    HWND window() const { return window_; }
    HANDLE process() const { return process_.hProcess; }
    DWORD exit_code() const { return exit_code_; }  // once stopped
    void stop()
    {
        if (process_.hProcess == nullptr)
            return;
        if (window_ != nullptr)
            PostMessageA(window_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, 1);
        GetExitCodeProcess(process_.hProcess, &exit_code_);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
        process_.hProcess = nullptr;
        window_ = nullptr;
    }

private:
    // Beside a debugger-output monitor the developer has open, the viewer
    // starts with a line that says so: cleared, so that the tests count
    // only their own rows (the log keeps it, as a row of the viewer's own).
    void clear_own_note()
    {
        HWND list = FindWindowExA(window_, nullptr, WC_LISTVIEWA, nullptr);
        for (int i = 0; i < 1500 && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 0; ++i)
            Sleep(20);
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(window_, WM_COMMAND, MAKEWPARAM(id_clear, 0), 0, SMTO_BLOCK, 30000, &answer);
    }

    std::string log_;
    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
    DWORD exit_code_ = STILL_ACTIVE;
};

// The rows of a trace line as the viewer lists and logs them: split at
// line feeds, a closing line feed adding none.
std::vector<std::string> rows_of(const std::string& text)
{
    std::vector<std::string> rows = split_lines(text);
    if (rows.empty())
        rows.push_back("");
    return rows;
}

// The log's rows, "YYYY-MM-DD HH:MM:SS.mmm<tab>number<tab>source<tab>text"
// with CR LF, the numbers one after another, as "source<tab>text"; a note
// in their place for the first row not so.
std::vector<std::string> log_rows(const std::string& log)
{
    std::vector<std::string> rows;
    size_t at = 0;
    unsigned long long previous = 0;
    while (at < log.size()) {
        size_t end = log.find("\r\n", at);
        if (end == std::string::npos)
            return {"no CR LF at the end: " + log.substr(at)};
        std::string row = log.substr(at, end - at);
        at = end + 2;
        unsigned year, month, day, hour, minute, second, ms;
        unsigned long long number = 0;
        int used = 0;
        bool stamped = sscanf(row.c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%3u\t%llu\t%n", &year, &month, &day, &hour,
                              &minute, &second, &ms, &number, &used) == 8 &&
                       used > 0 && row[10] == ' ' && row[23] == '\t' && month >= 1 && month <= 12;
        if (!stamped || row.find('\t', static_cast<size_t>(used)) == std::string::npos)
            return {"not a log row: " + row};
        if (previous != 0 && number != previous + 1)
            return {"numbered " + std::to_string(number) + " after " + std::to_string(previous) + ": " + row};
        previous = number;
        rows.push_back(row.substr(static_cast<size_t>(used)));
    }
    return rows;
}

// The texts of the log's rows that came as window messages: from a test,
// or from Tavenor (whose rows show its process).
std::vector<std::string> log_texts(const std::string& log)
{
    std::vector<std::string> texts;
    for (const std::string& row : log_rows(log)) {
        size_t tab = row.find('\t');
        std::string source = row.substr(0, tab);
        bool tavenor = source.size() > 12 && source.compare(source.size() - 12, 12, " Tavenor.exe") == 0;
        if (source == "window message" || tavenor)
            texts.push_back(row.substr(tab + 1));
        else if (tab == std::string::npos)
            texts.push_back(row);
    }
    return texts;
}

// Starts a program outside any debugger and waits for its end; its process id.
DWORD run_plain(const std::string& command_line)
{
    PROCESS_INFORMATION process = start_program(command_line);
    if (process.hProcess == nullptr)
        return 0;
    finish_program(&process, 30000);
    return process.dwProcessId;
}

TEST(Viewer, LogHoldsEveryLineOfARunStampedWithItsSource)
{
    Stage stage = make_stage(test_name(), Library::full, "preinstall 183 0\nlog install 1 1 0 Installing\n");
    std::string log = stage.folder + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    DriveResult r = run(stage, "/i 'pkg\\x.inf' /d", ViewerKind::none);
    viewer.stop();
    EXPECT_EQ(r.exit_code, 0u);
    bool paired = false;
    std::vector<std::string> expected;
    for (const std::string& line : trace_lines(r, &paired)) {
        std::vector<std::string> rows = rows_of(line);
        expected.insert(expected.end(), rows.begin(), rows.end());
    }
    EXPECT_GT(expected.size(), 10u);
    EXPECT_EQ(log_texts(read_file(log)), expected);
}

// Sends one message and says whether the viewer took it.  The time-out only
// catches a viewer that hangs (a send needs well under a millisecond); how
// fast it answers is measured by scripts/bench, not here.
bool send(HWND window, ULONG_PTR tag, const void* bytes, DWORD size)
{
    COPYDATASTRUCT data = {tag, size, const_cast<void*>(bytes)};
    DWORD_PTR answer = 0;
    LRESULT sent = SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK, 5000,
                                       &answer);
    return sent != 0 && answer != 0;
}

TEST(Viewer, TakesExactlyCbDataBytesAndIgnoresOtherTags)
{
    std::string log = fresh_work_folder(test_name()) + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    const char bytes[] = "abcXYZ";
    EXPECT_TRUE(send(viewer.window(), trace_viewer_tag, bytes, 3));
    EXPECT_FALSE(send(viewer.window(), 0x12345678, "other tag", 9));
    EXPECT_TRUE(send(viewer.window(), trace_viewer_tag, "", 0));
    EXPECT_TRUE(send(viewer.window(), trace_viewer_tag, "two\r\nlines\r\n", 12));
    viewer.stop();
    EXPECT_EQ(log_texts(read_file(log)), (std::vector<std::string>{"abc", "", "two", "lines"}));
}

// Any process on the desktop can send: huge messages are cut, answered at
// once, and leave the viewer's memory bounded and its log complete.
TEST(Viewer, HugeMessagesAreCutAndAnsweredAtOnce)
{
    std::string log = fresh_work_folder(test_name()) + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    const std::string megabyte(1 << 20, 'm');
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(send(viewer.window(), trace_viewer_tag, megabyte.data(), static_cast<DWORD>(megabyte.size())));
    }
    // Wine refuses a message of 2 MiB outright (ERROR_ACCESS_DENIED): 1.5 MiB
    // of line feeds is the largest of its kind that arrives.
    const std::string line_feeds(3 << 19, '\n');
    ASSERT_TRUE(send(viewer.window(), trace_viewer_tag, line_feeds.data(), static_cast<DWORD>(line_feeds.size())));
    const char last[] = "Call DriverPackageInstall Succeed.";
    ASSERT_TRUE(send(viewer.window(), trace_viewer_tag, last, sizeof last - 1));
    // Every message's share is 64 KiB at most: well under 64 MB in all.
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    Sleep(500);
    ASSERT_TRUE(K32GetProcessMemoryInfo(viewer.process(), &memory, sizeof memory));
    EXPECT_LT(memory.PagefileUsage, static_cast<SIZE_T>(64) << 20);
    viewer.stop();
    std::vector<std::string> texts = log_texts(read_file(log));
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), last);
    EXPECT_EQ(texts[1], "[Corvane] 983040 more bytes of this message cut");
}

TEST(Viewer, ASecondStartHandsItsLogToTheFirstAndEnds)
{
    std::string folder = fresh_work_folder(test_name());
    RunningViewer first(folder + "\\first.log");
    ASSERT_NE(first.window(), nullptr);
    // A relative name, from a folder of the second start's own.
    std::string own = folder + "\\second";
    ASSERT_TRUE(make_dirs(own));
    std::string command = "\"" + program_folder() + "Corvane.exe\" /log second.log";
    PROCESS_INFORMATION second = start_program(command, own.c_str());
    ASSERT_NE(second.hProcess, nullptr);
    EXPECT_EQ(finish_program(&second, 10000), 0u);
    EXPECT_TRUE(send(first.window(), trace_viewer_tag, "after", 5));
    first.stop();
    EXPECT_EQ(log_texts(read_file(own + "\\second.log")), std::vector<std::string>{"after"});
    EXPECT_EQ(log_texts(read_file(folder + "\\first.log")), std::vector<std::string>{});
}

// Debugger output of any program arrives with its process, a line written
// in pieces as one line, text in the ANSI code page (Windows-1252 here) as
// its characters, and its end with its exit code.
TEST(Viewer, DebuggerOutputArrivesWithItsProcessAndItsEnd)
{
    if (debugger_output_taken())
        GTEST_SKIP() << "another debugger-output monitor runs in this session";
    std::string log = fresh_work_folder(test_name()) + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    DWORD id = run_plain("\"" + program_folder() +
                         "tavenor-debug-writer.exe\" 7 \"hello from \" \"a writer\\n\" \"Ger\\xE4t, no line feed\"");
    ASSERT_NE(id, 0u);
    HWND list = FindWindowExA(viewer.window(), nullptr, WC_LISTVIEWA, nullptr);
    EXPECT_EQ(last_row_once(viewer.process(), list, L"ended with exit code 7"), L"ended with exit code 7");
    viewer.stop();
    std::string source = std::to_string(id) + " tavenor-debug-writer.exe\t";
    EXPECT_EQ(log_rows(read_file(log)),
              (std::vector<std::string>{source + "hello from a writer", source + "Ger\xC3\xA4t, no line feed",
                                        source + "ended with exit code 7"}));
}

// Most programs write each message whole and without a line feed: each is
// a row as soon as the writer is quiet (while it still runs), a message
// cut at the buffer's size (Wine keeps 4,091 bytes) does not take in the
// next, and a stream of such messages makes no endless row.
TEST(Viewer, DebuggerMessagesWithoutLineFeedsShowWhileTheirWriterRuns)
{
    if (debugger_output_taken())
        GTEST_SKIP() << "another debugger-output monitor runs in this session";
    std::string log = fresh_work_folder(test_name()) + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    HWND list = FindWindowExA(viewer.window(), nullptr, WC_LISTVIEWA, nullptr);
    const std::string go = "tavenor-test-go-" + std::to_string(GetCurrentProcessId());
    HANDLE go_event = CreateEventA(nullptr, TRUE, FALSE, go.c_str());
    ASSERT_NE(go_event, nullptr);
    const std::string writer = "\"" + program_folder() + "tavenor-debug-writer.exe\" ";
    PROCESS_INFORMATION first =
        start_program(writer + "7 \"nonl message 1\" @250 \"nonl message 2\" @250 \"nonl message 3\" =" + go);
    ASSERT_NE(first.hProcess, nullptr);
    // Shown while the writer waits, not at its end.
    EXPECT_EQ(last_row_once(viewer.process(), list, L"nonl message 3"), L"nonl message 3");
    EXPECT_EQ(WaitForSingleObject(first.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(go_event);
    WaitForSingleObject(first.hProcess, 60000);
    ASSERT_EQ(last_row_once(viewer.process(), list, L"ended with exit code 7"), L"ended with exit code 7");
    const std::string long_message(5000, 'c');
    DWORD second = run_plain(writer + "3 " + long_message + " \"next\\n\"");
    ASSERT_EQ(last_row_once(viewer.process(), list, L"ended with exit code 3"), L"ended with exit code 3");
    DWORD third = run_plain(writer + "4 #3000 \"nonl message \"");
    ASSERT_EQ(last_row_once(viewer.process(), list, L"ended with exit code 4"), L"ended with exit code 4");
    viewer.stop();
    CloseHandle(first.hThread);
    CloseHandle(first.hProcess);
    CloseHandle(go_event);

    // The log's rows of each writer.
    std::vector<std::vector<std::string>> of(3);
    const DWORD ids[] = {first.dwProcessId, second, third};
    for (const std::string& row : log_rows(read_file(log))) {
        for (int i = 0; i < 3; ++i) {
            std::string source = std::to_string(ids[i]) + " tavenor-debug-writer.exe\t";
            if (row.compare(0, source.size(), source) == 0)
                of[i].push_back(row.substr(source.size()));
        }
    }
    EXPECT_EQ(of[0], (std::vector<std::string>{"nonl message 1", "nonl message 2", "nonl message 3",
                                               "ended with exit code 7"}));
    EXPECT_EQ(of[1], (std::vector<std::string>{long_message.substr(0, debug_text_max), "next",
                                               "ended with exit code 3"}));
    ASSERT_FALSE(of[2].empty());
    EXPECT_EQ(of[2].back(), "ended with exit code 4");
    of[2].pop_back();
    std::string all;
    for (const std::string& row : of[2]) {
        EXPECT_LE(row.size(), joined_row_max);
        all += row;
    }
    std::string written;
    for (int i = 0; i < 3000; ++i)
        written += "nonl message ";
    EXPECT_EQ(all, written);
}

// Two programs writing at once, as fast as the viewer takes their lines:
// each line reaches the log once, in the order its program wrote it and
// under its program's name, and each program's end follows its lines.
TEST(Viewer, TwoWritersAtOnceLoseAndReorderNothing)
{
    if (debugger_output_taken())
        GTEST_SKIP() << "another debugger-output monitor runs in this session";
    std::string log = fresh_work_folder(test_name()) + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    HWND list = FindWindowExA(viewer.window(), nullptr, WC_LISTVIEWA, nullptr);
    const std::string go = "tavenor-test-go-" + std::to_string(GetCurrentProcessId());
    HANDLE go_event = CreateEventA(nullptr, TRUE, FALSE, go.c_str());
    ASSERT_NE(go_event, nullptr);
    const int lines = 200;
    std::vector<std::string> expected[2];
    PROCESS_INFORMATION writers[2] = {};
    for (int w = 0; w < 2; ++w) {
        std::string command =
            "\"" + program_folder() + "tavenor-debug-writer.exe\" " + std::to_string(5 + w) + " =" + go;
        for (int i = 0; i < lines; ++i) {
            expected[w].push_back("writer " + std::to_string(w) + " line " + std::to_string(i));
            command += " \"" + expected[w].back() + "\\n\"";
        }
        expected[w].push_back("ended with exit code " + std::to_string(5 + w));
        writers[w] = start_program(command);
        ASSERT_NE(writers[w].hProcess, nullptr);
    }
    SetEvent(go_event);
    for (PROCESS_INFORMATION& writer : writers)
        finish_program(&writer, 60000);
    // Every row listed, both ends included (the bound only catches a viewer
    // that loses some).
    for (int i = 0; i < 1500 && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) < 2 * (lines + 1); ++i)
        Sleep(20);
    viewer.stop();
    std::vector<std::string> of[2];
    for (const std::string& row : log_rows(read_file(log))) {
        for (int w = 0; w < 2; ++w) {
            std::string source = std::to_string(writers[w].dwProcessId) + " tavenor-debug-writer.exe\t";
            if (row.compare(0, source.size(), source) == 0)
                of[w].push_back(row.substr(source.size()));
        }
    }
    for (int w = 0; w < 2; ++w)
        EXPECT_EQ(of[w], expected[w]) << "writer " << w;
    CloseHandle(go_event);
}

// A viewer the developer has open (on the desktop everybody sees) when the
// tests start: the test's own viewer runs beside it, and the test's
// Tavenor reaches only the test's viewer.
TEST(Viewer, AViewerAlreadyOpenIsNeverMet)
{
    Stage stage = make_stage(test_name(), Library::full, "uninstall 0\n");
    PROCESS_INFORMATION open = start_program(
        "\"" + program_folder() + "Corvane.exe\" /log \"" + stage.folder + "\\open.log\"", nullptr, "WinSta0\\Default");
    ASSERT_NE(open.hProcess, nullptr);
    WaitForInputIdle(open.hProcess, 30000);
    std::string log = stage.folder + "\\corvane.log";
    RunningViewer viewer(log);
    EXPECT_NE(viewer.window(), nullptr);
    DWORD id = run_plain("\"" + stage.exe + "\" /u x.inf /d");
    viewer.stop();
    PostThreadMessageA(open.dwThreadId, WM_QUIT, 0, 0);
    if (WaitForSingleObject(open.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(open.hProcess, 1);
    CloseHandle(open.hThread);
    CloseHandle(open.hProcess);
    ASSERT_NE(id, 0u);
    std::vector<std::string> texts = log_texts(read_file(log));
    ASSERT_FALSE(texts.empty());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "/u x.inf /d"), texts.end());
    // The open viewer holds the debugger output, so it shows the run's
    // copies there; but none of its window messages.
    for (const std::string& row : log_rows(read_file(stage.folder + "\\open.log")))
        EXPECT_NE(row.compare(0, 15, "window message\t"), 0) << row;
}

// Tavenor sends each line to the window and to the debugger output: the run
// is shown once, in order, and then how it ended.
TEST(Viewer, ATavenorRunArrivesOnceThenItsOutcome)
{
    if (debugger_output_taken())
        GTEST_SKIP() << "another debugger-output monitor runs in this session";
    Stage stage = make_stage(test_name(), Library::full, "uninstall 0\n");
    std::string log = stage.folder + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    DWORD id = run_plain("\"" + stage.exe + "\" /u x.inf /d");
    ASSERT_NE(id, 0u);
    HWND list = FindWindowExA(viewer.window(), nullptr, WC_LISTVIEWA, nullptr);
    EXPECT_EQ(last_row_once(viewer.process(), list, L"ended with exit code 0: success"),
              L"ended with exit code 0: success");
    viewer.stop();
    std::vector<std::string> rows = log_rows(read_file(log));
    ASSERT_GT(rows.size(), 4u);
    // Every line once, with the process that wrote it.
    const std::string source = std::to_string(id) + " Tavenor.exe\t";
    EXPECT_EQ(rows.back(), source + "ended with exit code 0: success");
    for (const std::string& row : rows)
        EXPECT_EQ(row.compare(0, source.size(), source), 0) << row;
    // The run's head first, then its command line.
    EXPECT_EQ(rows[0], source + "Tavenor run: /u x.inf /d");
    EXPECT_EQ(rows[1], source + "/u x.inf /d");
}

// A small file system of the host's own at folder, gone with the object;
// mounted() is false where the host lets nobody mount one.  The host's
// shell leaves a mark in it once it is mounted.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& folder) : folder_(folder), host_(host_path(folder))
    {
        if (host_.empty() ||
            !host_shell("mount -t tmpfs -o size=64k tmpfs '" + host_ + "' && touch '" + host_ + "/mounted'"))
            return;
        for (int i = 0; i < 150 && !mounted_; ++i) {
            mounted_ = file_exists(folder_ + "\\mounted");
            if (!mounted_)
                Sleep(20);
        }
    }
    ~SmallDisk()
    {
        if (!mounted_)
            return;
        host_shell("umount -l '" + host_ + "'");
        for (int i = 0; i < 150 && file_exists(folder_ + "\\mounted"); ++i)
            Sleep(20);
    }
    bool mounted() const { return mounted_; }

private:
    std::string folder_;
    std::string host_;
    bool mounted_ = false;
};

// The list's row count once it settles at expected (a filter is applied a
// moment after its box changes), or what it was after half a minute (the
// bound only catches a list that never gets there).
LRESULT rows_once(HWND list, LRESULT expected)
{
    LRESULT count = 0;
    for (int i = 0; i < 1500 && (count = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) != expected; ++i)
        Sleep(20);
    return count;
}

// Tavenor's lines carry UTF-8: the list shows the characters they mean, and
// its filter boxes (shown, then hidden lines) take effect as typed.
TEST(Viewer, TheListShowsUtf8AndFollowsItsFilter)
{
    std::string log = fresh_work_folder(test_name()) + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    const char utf8[] = "J\xC3\xBCrgen \xD0\x94\xD1\x80\xD0\xB0\xD0\xB9\xD0\xB2\xD0\xB5\xD1\x80";
    for (const char* line : {utf8, "Call DriverPackageInstall failed", "Call DriverPackageInstall Succeed."})
        ASSERT_TRUE(send(viewer.window(), trace_viewer_tag, line, static_cast<DWORD>(strlen(line))));
    HWND list = FindWindowExA(viewer.window(), nullptr, WC_LISTVIEWA, nullptr);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(rows_once(list, 3), 3);
    EXPECT_EQ(cell_text(viewer.process(), list, 0, 2), L"J\x00FCrgen \x0414\x0440\x0430\x0439\x0432\x0435\x0440");
    EXPECT_EQ(cell_text(viewer.process(), list, 0, 1), L"window message");

    // The boxes in their order: shown lines, hidden lines.
    HWND include = FindWindowExA(viewer.window(), nullptr, "Edit", nullptr);
    HWND exclude = FindWindowExA(viewer.window(), include, "Edit", nullptr);
    ASSERT_NE(exclude, nullptr);
    SetWindowTextA(include, "driverpackage");
    EXPECT_EQ(rows_once(list, 2), 2);
    SetWindowTextA(exclude, "FAILED");
    ASSERT_EQ(rows_once(list, 1), 1);
    EXPECT_EQ(cell_text(viewer.process(), list, 0, 2), L"Call DriverPackageInstall Succeed.");
    SetWindowTextA(include, "");
    EXPECT_EQ(rows_once(list, 2), 2);
}

// A log whose disk fills up: the failure is said once in the list and in
// the exit code, and senders go on being answered at once.
TEST(Viewer, ALogWhoseDiskFillsUpIsSaidOnce)
{
    std::string disk = fresh_work_folder(test_name()) + "\\disk";
    ASSERT_TRUE(make_dirs(disk));
    SmallDisk small(disk);
    if (!small.mounted())
        GTEST_SKIP() << "no small file system can be mounted here";
    RunningViewer viewer(disk + "\\corvane.log");
    ASSERT_NE(viewer.window(), nullptr);
    const std::string line(100, 'x');  // 2,000 rows: some 250 KB, four times the disk
    for (int i = 0; i < 2000; ++i) {
        ASSERT_TRUE(send(viewer.window(), trace_viewer_tag, line.data(), static_cast<DWORD>(line.size())));
    }
    HWND list = FindWindowExA(viewer.window(), nullptr, WC_LISTVIEWA, nullptr);
    SetWindowTextA(FindWindowExA(viewer.window(), nullptr, "Edit", nullptr), "[Corvane]");
    ASSERT_EQ(rows_once(list, 1), 1);
    std::wstring note = cell_text(viewer.process(), list, 0, 2);
    EXPECT_EQ(note.find(L"[Corvane] writing the log file failed: "), 0u) << std::string(note.begin(), note.end());
    EXPECT_NE(note.find(L"(error 112)"), std::wstring::npos) << std::string(note.begin(), note.end());
    viewer.stop();
    EXPECT_EQ(viewer.exit_code(), 2u);
}

// A command of the viewer's window, given as its menu gives it; false when
// the viewer does not answer at once (the bound only catches a hang: a
// command needs well under a millisecond).
bool menu_command(HWND window, int command)
{
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(window, WM_COMMAND, MAKEWPARAM(command, 0), 0, SMTO_BLOCK, 1000, &answer) != 0;
}

// Selects one row of the viewer's list as a click does.
void select_row(HANDLE process, HWND list, int item)
{
    void* remote = VirtualAllocEx(process, nullptr, sizeof(LVITEMW), MEM_COMMIT, PAGE_READWRITE);
    LVITEMW state = {};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    WriteProcessMemory(process, remote, &state, sizeof state, nullptr);
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
}

// The texts of the clipboard's "time<TAB>source<TAB>text" lines.
std::vector<std::string> clipboard_texts()
{
    std::vector<std::string> texts;
    if (!OpenClipboard(nullptr))
        return {"(no clipboard)"};
    HANDLE data = GetClipboardData(CF_TEXT);
    std::string all = data != nullptr ? static_cast<const char*>(GlobalLock(data)) : "";
    if (data != nullptr)
        GlobalUnlock(data);
    CloseClipboard();
    for (const std::string& line : split_lines(all))
        texts.push_back(line.substr(line.rfind('\t') + 1));
    return texts;
}

// Selection is of lines, not of row numbers: a filter that moves a
// selected line moves its selection, a line it hides leaves it, and Select
// All takes whatever is shown at the time of the copy.
TEST(Viewer, CopyTakesTheLinesTheUserSelectedWhateverTheFilter)
{
    std::string log = fresh_work_folder(test_name()) + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    for (const char* line : {"first", "second picked", "third"})
        ASSERT_TRUE(send(viewer.window(), trace_viewer_tag, line, static_cast<DWORD>(strlen(line))));
    HWND list = FindWindowExA(viewer.window(), nullptr, WC_LISTVIEWA, nullptr);
    ASSERT_EQ(rows_once(list, 3), 3);
    select_row(viewer.process(), list, 1);
    HWND include = FindWindowExA(viewer.window(), nullptr, "Edit", nullptr);
    HWND exclude = FindWindowExA(viewer.window(), include, "Edit", nullptr);
    SetWindowTextA(exclude, "first");  // the picked line is now the first row
    ASSERT_EQ(rows_once(list, 2), 2);
    ASSERT_TRUE(menu_command(viewer.window(), id_copy));
    EXPECT_EQ(clipboard_texts(), std::vector<std::string>{"second picked"});

    SetWindowTextA(exclude, "");
    ASSERT_EQ(rows_once(list, 3), 3);
    ASSERT_TRUE(menu_command(viewer.window(), id_select_all));
    SetWindowTextA(exclude, "third");
    ASSERT_EQ(rows_once(list, 2), 2);
    ASSERT_TRUE(menu_command(viewer.window(), id_copy));
    EXPECT_EQ(clipboard_texts(), (std::vector<std::string>{"first", "second picked"}));
}

// Select All must not depend on the number of rows: Wine's list takes
// about a second per 10,000 rows it selects one by one, so 20,000 rows
// put that past the command's bound twice over.
TEST(Viewer, SelectAllIsAnsweredAtOnceOverManyLines)
{
    std::string log = fresh_work_folder(test_name()) + "\\corvane.log";
    RunningViewer viewer(log);
    ASSERT_NE(viewer.window(), nullptr);
    for (int i = 0; i < 20000; ++i) {
        std::string line = "line " + std::to_string(i);
        ASSERT_TRUE(send(viewer.window(), trace_viewer_tag, line.data(), static_cast<DWORD>(line.size())));
    }
    HWND list = FindWindowExA(viewer.window(), nullptr, WC_LISTVIEWA, nullptr);
    ASSERT_EQ(rows_once(list, 20000), 20000);
    EXPECT_TRUE(menu_command(viewer.window(), id_select_all));
    ASSERT_TRUE(menu_command(viewer.window(), id_copy));
    std::vector<std::string> copied = clipboard_texts();
    EXPECT_EQ(copied.size(), 20000u);
}

// A log file that cannot be opened: no box (which nobody may answer, and
// which Tavenor would find by the viewer's title), but a red line in the
// list with the system's reason, and exit code 2.
TEST(Viewer, ALogThatCannotBeOpenedIsSaidInTheList)
{
    std::string folder = fresh_work_folder(test_name());
    RunningViewer viewer(folder + "\\missing\\corvane.log", "", true);
    ASSERT_NE(viewer.window(), nullptr);
    char kind[64] = "";
    GetClassNameA(viewer.window(), kind, sizeof kind);
    EXPECT_STREQ(kind, "CorvaneViewer");
    HWND list = FindWindowExA(viewer.window(), nullptr, WC_LISTVIEWA, nullptr);
    ASSERT_NE(list, nullptr);
    // Only this note (a viewer the developer has open adds another).
    SetWindowTextA(FindWindowExA(viewer.window(), nullptr, "Edit", nullptr), "[Corvane]");
    ASSERT_EQ(rows_once(list, 1), 1);
    std::wstring note = cell_text(viewer.process(), list, 0, 2);
    EXPECT_EQ(note.find(L"[Corvane] cannot open the log file " + std::wstring(folder.begin(), folder.end())), 0u);
    EXPECT_NE(note.find(L"(error 3)"), std::wstring::npos) << std::string(note.begin(), note.end());
    viewer.stop();
    EXPECT_EQ(viewer.exit_code(), 2u);
}

// Tavenor's own trace file (/l), opened as the viewer's argument: its
// times and processes kept, each run under a head row that tells its end,
// the filter working over it, and "Copy This Run" giving a report of the
// run with the focus.
TEST(Viewer, OpensTavenorsTraceFileWithItsRuns)
{
    std::string folder = fresh_work_folder(test_name());
    std::string trace = folder + "\\tavenor.log";
    ASSERT_TRUE(write_file(trace, "2026-12-08 18:20:17.123\t4242\tTavenor 1.4.0 started\r\n"
                                  "2026-12-08 18:20:17.125\t4242\t/i x.inf /d\r\n"
                                  "2026-12-08 18:20:18.500\t4242\tCall DriverPackageInstall Succeed.\r\n"
                                  "2026-12-08 18:20:18.510\t4242\tExit code 0 (success)\r\n"
                                  "2026-12-08 18:21:00.001\t4343\tTavenor 1.4.0 started\r\n"
                                  "2026-12-08 18:21:00.002\t4343\t/u y.inf /d\r\n"
                                  "2026-12-08 18:21:01.000\t4343\tCall DriverPackageUninstall failed\r\n"
                                  "2026-12-08 18:21:01.010\t4343\tExit code 2 (the operation failed)\r\n"));
    // Asked before the viewer starts, which takes the channel itself.
    const bool taken = debugger_output_taken();
    std::string command = "\"" + program_folder() + "Corvane.exe\" \"" + trace + "\"";
    PROCESS_INFORMATION process = start_program(command);
    ASSERT_NE(process.hProcess, nullptr);
    // The window, once its list is made.
    HWND window = nullptr;
    HWND list = nullptr;
    for (int i = 0; i < 500 && list == nullptr; ++i) {
        window = FindWindowA("CorvaneViewer", trace_viewer_title);
        list = window != nullptr ? FindWindowExA(window, nullptr, WC_LISTVIEWA, nullptr) : nullptr;
        if (list == nullptr)
            Sleep(20);
    }
    ASSERT_NE(list, nullptr);
    // Beside a debugger-output monitor the developer has open, a line that
    // says so follows the file's.
    const LRESULT rows = taken ? 11 : 10;
    ASSERT_EQ(rows_once(list, rows), rows);
    EXPECT_EQ(cell_text(process.hProcess, list, 0, 2), L"Tavenor run: /i x.inf /d  |  Exit code 0 (success)");
    EXPECT_EQ(cell_text(process.hProcess, list, 2, 0), L"18:20:17.125");
    EXPECT_EQ(cell_text(process.hProcess, list, 5, 1), L"4343 Tavenor.exe");
    EXPECT_EQ(cell_text(process.hProcess, list, 5, 2), L"Tavenor run: /u y.inf /d  |  Exit code 2 (the operation failed)");

    select_row(process.hProcess, list, 2);  // a line of the first run
    ASSERT_TRUE(menu_command(window, id_copy_run));
    std::vector<std::string> report;
    if (OpenClipboard(nullptr)) {
        HANDLE data = GetClipboardData(CF_TEXT);
        if (data != nullptr) {
            report = split_lines(static_cast<const char*>(GlobalLock(data)));
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    EXPECT_EQ(report, (std::vector<std::string>{"Tavenor run: /i x.inf /d", "Outcome: Exit code 0 (success)",
                                                "Process: 4242 Tavenor.exe", "Started: 2026-12-08 18:20:17.123", "",
                                                "18:20:17.123\tTavenor 1.4.0 started", "18:20:17.125\t/i x.inf /d",
                                                "18:20:18.500\tCall DriverPackageInstall Succeed.",
                                                "18:20:18.510\tExit code 0 (success)"}));

    SetWindowTextA(FindWindowExA(window, nullptr, "Edit", nullptr), "y.inf");
    EXPECT_EQ(rows_once(list, 2), 2);
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// At the line cap the oldest lines go and the rest move up the list: a
// found line stays selected (and is what Copy takes), not the row number
// it had.
TEST(Viewer, AFoundLineStaysSelectedWhileOldLinesGo)
{
    std::string log = fresh_work_folder(test_name()) + "\\corvane.log";
    RunningViewer viewer(log, "/keep 1000");
    ASSERT_NE(viewer.window(), nullptr);
    auto send_lines = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            std::string line = "line " + std::to_string(i) + ".";
            ASSERT_TRUE(send(viewer.window(), trace_viewer_tag, line.data(), static_cast<DWORD>(line.size())));
        }
    };
    send_lines(0, 1000);
    HWND list = FindWindowExA(viewer.window(), nullptr, WC_LISTVIEWA, nullptr);
    ASSERT_EQ(rows_once(list, 1000), 1000);
    HWND include = FindWindowExA(viewer.window(), nullptr, "Edit", nullptr);
    HWND exclude = FindWindowExA(viewer.window(), include, "Edit", nullptr);
    HWND find = FindWindowExA(viewer.window(), exclude, "Edit", nullptr);
    SetWindowTextA(find, "line 700.");
    ASSERT_TRUE(menu_command(viewer.window(), id_find_next));
    // The last row once the list has caught up, or what it was after half a
    // minute.
    auto last_row_once = [&](const std::wstring& expected) {
        std::wstring text;
        for (int i = 0; i < 1500 && (text = cell_text(viewer.process(), list, 999, 2)) != expected; ++i)
            Sleep(20);
        return text;
    };
    // The top row's text once it is expected (the list is redrawn a moment
    // after new lines), or what it was after half a minute.
    auto top_row_once = [&](const std::wstring& expected) {
        std::wstring text;
        for (int i = 0; i < 1500; ++i) {
            int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
            if ((text = cell_text(viewer.process(), list, top, 2)) == expected)
                break;
            Sleep(20);
        }
        return text;
    };
    std::wstring top = cell_text(viewer.process(), list, static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0)), 2);
    send_lines(1000, 1500);  // lines 0 to 499 go
    ASSERT_EQ(last_row_once(L"line 1499."), L"line 1499.");
    EXPECT_EQ(top_row_once(top), top);  // the paused view stays on its lines
    ASSERT_TRUE(menu_command(viewer.window(), id_copy));
    EXPECT_EQ(clipboard_texts(), std::vector<std::string>{"line 700."});
    // A selected line that goes is no longer selected: Copy takes all.
    send_lines(1500, 2000);
    ASSERT_EQ(last_row_once(L"line 1999."), L"line 1999.");
    ASSERT_TRUE(menu_command(viewer.window(), id_copy));
    EXPECT_EQ(clipboard_texts().size(), 1000u);
}

} // namespace
