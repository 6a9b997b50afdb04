// Corvane: the trace viewer.  Its top-level window, titled "Corvane By
// Ledrik", receives Tavenor's trace lines as WM_COPYDATA messages tagged
// 'CRVN' and lists them with a time stamp; Copy, Clear and Save As work on
// the list, and "/log <file>" appends every line to a file for unattended
// runs.  Only one viewer runs: a second start hands its /log file to the
// first and ends, so no window takes lines away from another.
//
// A sender waits while its message is handled, so the handler only copies
// the bytes (at most message_bytes_max of them) into a queue and returns;
// the list and the log file are brought up to date afterwards, from a
// posted message.
#include <windows.h>
#include <commdlg.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tracelib/viewer_channel.h"

namespace {

constexpr char window_class[] = "CorvaneViewer";
constexpr UINT drain_message = WM_APP + 1;
constexpr UINT capture_message = WM_APP + 2;

// The log goes to disk at most this long after a line was written: often
// enough that a machine that stops loses almost nothing, seldom enough that
// a burst of lines does not keep senders waiting on the disk.
constexpr UINT flush_interval_ms = 250;
constexpr UINT_PTR flush_timer = 1;

// A debugger-output line that repeats a window message of this long ago is
// the same line of the same run, seen on its second channel.
constexpr ULONGLONG same_line_ms = 2000;
constexpr size_t recent_max = 1024;

// The shared debug-output buffer: the writer's process id, then its text.
constexpr DWORD debug_buffer_size = 4096;

// A second start hands the running viewer its log file's path in a
// message with this tag ('CRVL').
constexpr ULONG_PTR log_file_tag = 0x4352564C;

// One message's share: any process on the desktop can send, and a trace
// line is at most 4 KiB.  Bytes past these are cut, and the cut is said.
constexpr DWORD message_bytes_max = 64 * 1024;
constexpr int message_rows_max = 1000;

// Where a line came from, as the log file names it.
constexpr char window_source[] = "window message";

enum ControlId { id_list = 100, id_copy, id_clear, id_save };

struct Line {
    SYSTEMTIME time;
    std::string source;  // "window message", or "<process id> <image name>"
    std::string text;
};

// A process seen through the debugger output: watched until it ends, when
// a line with its exit code follows its lines.
struct Watched {
    DWORD id;
    std::string name;
    HANDLE process;
    HANDLE wait;
};

struct Viewer {
    HWND window = nullptr;
    HWND list = nullptr;
    std::vector<Line> lines;     // everything shown
    std::vector<Line> pending;   // received, not yet shown or logged
    bool drain_posted = false;
    HANDLE log = INVALID_HANDLE_VALUE;
    bool log_failed = false;  // a write failed: said once, in the list, and in the exit code
    bool log_dirty = false;   // written, not yet on disk
    ULONGLONG log_flushed = 0;
    // Debugger output and process ends, from the capture threads and the
    // thread pool: queued under the lock, brought in by the window's thread.
    CRITICAL_SECTION lock;
    std::vector<Line> captured;
    volatile LONG capture_posted = 0;
    std::vector<Watched> watched;
    // Window messages of the last moments, so that a run seen on both
    // channels (Tavenor sends each line to both) is shown once.
    std::vector<std::pair<ULONGLONG, std::string>> recent;
    HANDLE stop = nullptr;
};

Viewer g_viewer;

std::string stamp(const SYSTEMTIME& t)
{
    char text[32];
    snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

std::vector<std::string> rows_of(const std::string& text);

// One list row per text line; the stamp stands on the first.
void show_line(const Line& line)
{
    std::vector<std::string> rows = rows_of(line.text);
    std::string prefix = stamp(line.time) + "  " + line.source + "  ";
    std::string indent(prefix.size(), ' ');
    for (size_t i = 0; i < rows.size(); ++i) {
        std::string row = (i == 0 ? prefix : indent) + rows[i];
        SendMessageA(g_viewer.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    }
}

bool write_all(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return bytes.empty() ||
           (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

// The rows of a received text: split at line feeds, a closing line feed
// adding no row.
std::vector<std::string> rows_of(const std::string& text)
{
    std::vector<std::string> rows;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            rows.push_back(text.substr(start));
            break;
        }
        rows.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (rows.size() > 1 && rows.back().empty())
        rows.pop_back();
    return rows;
}

void report_log_write_failure()
{
    g_viewer.log_failed = true;
    char note[128];
    snprintf(note, sizeof note, "[Corvane] writing the log file failed (error %lu): later lines are not in it",
             static_cast<unsigned long>(GetLastError()));
    SendMessageA(g_viewer.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(note));
}

void flush_log()
{
    KillTimer(g_viewer.window, flush_timer);
    if (!g_viewer.log_dirty || g_viewer.log == INVALID_HANDLE_VALUE || g_viewer.log_failed)
        return;
    g_viewer.log_dirty = false;
    g_viewer.log_flushed = GetTickCount64();
    if (!FlushFileBuffers(g_viewer.log))
        report_log_write_failure();
}

// The log file: per row its time stamp, its source and its text, CR LF
// ended; on disk within flush_interval_ms.  A failed write is said, not
// ignored.
void log_batch(const std::vector<Line>& batch)
{
    if (g_viewer.log == INVALID_HANDLE_VALUE || g_viewer.log_failed)
        return;
    std::string bytes;
    for (const Line& line : batch) {
        for (const std::string& row : rows_of(line.text))
            bytes += stamp(line.time) + "\t" + line.source + "\t" + row + "\r\n";
    }
    if (!write_all(g_viewer.log, bytes)) {
        report_log_write_failure();
        return;
    }
    g_viewer.log_dirty = true;
    if (GetTickCount64() - g_viewer.log_flushed >= flush_interval_ms)
        flush_log();
    else
        SetTimer(g_viewer.window, flush_timer, flush_interval_ms, nullptr);
}

void drain()
{
    g_viewer.drain_posted = false;
    std::vector<Line> batch;
    batch.swap(g_viewer.pending);
    if (batch.empty())
        return;
    log_batch(batch);
    SendMessageA(g_viewer.list, WM_SETREDRAW, FALSE, 0);
    for (const Line& line : batch)
        show_line(line);
    SendMessageA(g_viewer.list, WM_SETREDRAW, TRUE, 0);
    LRESULT count = SendMessageA(g_viewer.list, LB_GETCOUNT, 0, 0);
    if (count > 0)
        SendMessageA(g_viewer.list, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
    for (Line& line : batch)
        g_viewer.lines.push_back(std::move(line));
}

std::string all_text()
{
    std::string text;
    for (const Line& line : g_viewer.lines)
        text += stamp(line.time) + "  " + line.source + "  " + line.text + "\r\n";
    return text;
}

void copy_to_clipboard()
{
    // The selected rows, or everything when nothing is selected.
    std::string text;
    LRESULT selected = SendMessageA(g_viewer.list, LB_GETSELCOUNT, 0, 0);
    if (selected > 0) {
        std::vector<int> rows(static_cast<size_t>(selected));
        SendMessageA(g_viewer.list, LB_GETSELITEMS, rows.size(), reinterpret_cast<LPARAM>(rows.data()));
        for (int row : rows) {
            LRESULT len = SendMessageA(g_viewer.list, LB_GETTEXTLEN, row, 0);
            std::string item(static_cast<size_t>(len) + 1, '\0');
            SendMessageA(g_viewer.list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(&item[0]));
            item.resize(static_cast<size_t>(len));
            text += item + "\r\n";
        }
    } else {
        text = all_text();
    }
    if (!OpenClipboard(g_viewer.window))
        return;
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (memory != nullptr) {
        memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
        GlobalUnlock(memory);
        if (SetClipboardData(CF_TEXT, memory) == nullptr)
            GlobalFree(memory);
    }
    CloseClipboard();
}

void save_as()
{
    char path[MAX_PATH] = "trace.txt";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = g_viewer.window;
    dialog.lpstrFilter = "Text files (*.txt)\0*.txt\0All files\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    dialog.lpstrDefExt = "txt";
    if (!GetSaveFileNameA(&dialog))
        return;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        MessageBoxA(g_viewer.window, "The file cannot be written.", trace_viewer_title, MB_OK | MB_ICONWARNING);
        return;
    }
    bool written = write_all(file, all_text());
    CloseHandle(file);
    if (!written)
        MessageBoxA(g_viewer.window, "The file was not written whole.", trace_viewer_title, MB_OK | MB_ICONWARNING);
}

void lay_out(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    const int bar = 32;
    int x = 4;
    for (int id : {id_copy, id_clear, id_save}) {
        MoveWindow(GetDlgItem(window, id), x, 4, 80, bar - 8, TRUE);
        x += 84;
    }
    MoveWindow(g_viewer.list, 0, bar, client.right, client.bottom - bar, TRUE);
}

// The first message_bytes_max bytes and message_rows_max rows of a message,
// and a note of what was cut.
std::string capped_text(const char* bytes, DWORD size)
{
    DWORD kept = size < message_bytes_max ? size : message_bytes_max;
    int rows = 0;
    for (DWORD i = 0; i < kept; ++i) {
        if (bytes[i] == '\n' && ++rows == message_rows_max) {
            kept = i;
            break;
        }
    }
    std::string text(bytes, kept);
    if (kept < size) {
        char note[64];
        snprintf(note, sizeof note, "\n[Corvane] %lu more bytes of this message cut",
                 static_cast<unsigned long>(size - kept));
        text += note;
    }
    return text;
}

std::string without_line_ends(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

void remember_window_line(const std::string& text)
{
    ULONGLONG now = GetTickCount64();
    std::vector<std::pair<ULONGLONG, std::string>>& recent = g_viewer.recent;
    while (!recent.empty() && (now - recent.front().first > same_line_ms || recent.size() >= recent_max))
        recent.erase(recent.begin());
    recent.emplace_back(now, without_line_ends(text));
}

// True for a debugger-output line that a window message brought just before.
bool seen_as_window_line(const std::string& text)
{
    ULONGLONG now = GetTickCount64();
    for (auto it = g_viewer.recent.begin(); it != g_viewer.recent.end(); ++it) {
        if (now - it->first <= same_line_ms && it->second == text) {
            g_viewer.recent.erase(it);
            return true;
        }
    }
    return false;
}

// From any thread: a line for the window's thread to bring in.
void queue_captured(Line line)
{
    EnterCriticalSection(&g_viewer.lock);
    g_viewer.captured.push_back(std::move(line));
    LeaveCriticalSection(&g_viewer.lock);
    if (InterlockedExchange(&g_viewer.capture_posted, 1) == 0)
        PostMessageA(g_viewer.window, capture_message, 0, 0);
}

void take_captured()
{
    InterlockedExchange(&g_viewer.capture_posted, 0);
    std::vector<Line> batch;
    EnterCriticalSection(&g_viewer.lock);
    batch.swap(g_viewer.captured);
    LeaveCriticalSection(&g_viewer.lock);
    for (Line& line : batch) {
        if (line.source != window_source && seen_as_window_line(line.text))
            continue;
        g_viewer.pending.push_back(std::move(line));
    }
    drain();
}

// What Tavenor's exit codes mean.
const char* tavenor_outcome(DWORD code)
{
    static const char* const meanings[] = {"success", "success, a reboot is needed", "the operation failed",
                                           "usage error: the command line was refused",
                                           "DifxApix64.dll could not be loaded or lacks an entry point"};
    return code < sizeof meanings / sizeof meanings[0] ? meanings[code] : nullptr;
}

// Thread pool: a watched process ended.
VOID CALLBACK process_ended(void* parameter, BOOLEAN)
{
    DWORD id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(parameter));
    Line line;
    GetLocalTime(&line.time);
    DWORD code = 0;
    EnterCriticalSection(&g_viewer.lock);
    for (const Watched& watched : g_viewer.watched) {
        if (watched.id == id) {
            GetExitCodeProcess(watched.process, &code);
            line.source = std::to_string(id) + " " + watched.name;
            const char* meaning = lstrcmpiA(watched.name.c_str(), "Tavenor.exe") == 0 ? tavenor_outcome(code) : nullptr;
            char text[160];
            snprintf(text, sizeof text, "ended with exit code %lu%s%s", static_cast<unsigned long>(code),
                     meaning ? ": " : "", meaning ? meaning : "");
            line.text = text;
        }
    }
    LeaveCriticalSection(&g_viewer.lock);
    if (!line.text.empty())
        queue_captured(std::move(line));
}

// The name of a process writing debugger output, watched from its first
// line on so that its end is shown.
std::string writer_name(DWORD id)
{
    EnterCriticalSection(&g_viewer.lock);
    for (const Watched& watched : g_viewer.watched) {
        if (watched.id == id) {
            std::string name = watched.name;
            LeaveCriticalSection(&g_viewer.lock);
            return name;
        }
    }
    LeaveCriticalSection(&g_viewer.lock);
    Watched watched = {id, "?", nullptr, nullptr};
    watched.process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (watched.process != nullptr) {
        char path[MAX_PATH];
        DWORD len = sizeof path;
        if (QueryFullProcessImageNameA(watched.process, 0, path, &len)) {
            std::string full(path, len);
            watched.name = full.substr(full.find_last_of('\\') + 1);
        }
    }
    EnterCriticalSection(&g_viewer.lock);
    if (watched.process != nullptr &&
        !RegisterWaitForSingleObject(&watched.wait, watched.process, process_ended,
                                     reinterpret_cast<void*>(static_cast<ULONG_PTR>(id)), INFINITE,
                                     WT_EXECUTEONLYONCE))
        watched.wait = nullptr;
    g_viewer.watched.push_back(watched);
    LeaveCriticalSection(&g_viewer.lock);
    return watched.name;
}

// One debugger-output channel: the shared buffer under the names with this
// prefix ("" for this session, "Global\\" for the machine, which takes an
// elevated viewer).  Ends when the viewer does, or at once when the channel
// cannot be had.
DWORD WINAPI capture_debug_output(void* parameter)
{
    const std::string prefix = static_cast<const char*>(parameter);
    HANDLE buffer_ready = CreateEventA(nullptr, FALSE, FALSE, (prefix + "DBWIN_BUFFER_READY").c_str());
    bool taken = buffer_ready != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    HANDLE data_ready = CreateEventA(nullptr, FALSE, FALSE, (prefix + "DBWIN_DATA_READY").c_str());
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, debug_buffer_size,
                                        (prefix + "DBWIN_BUFFER").c_str());
    const char* view =
        mapping != nullptr ? static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
    if (!taken && data_ready != nullptr && view != nullptr) {
        HANDLE waits[2] = {data_ready, g_viewer.stop};
        for (;;) {
            SetEvent(buffer_ready);
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
                break;
            DWORD id = 0;
            memcpy(&id, view, sizeof id);
            const char* text = view + sizeof id;
            Line line;
            GetLocalTime(&line.time);
            line.text = without_line_ends(std::string(text, strnlen(text, debug_buffer_size - sizeof id)));
            // The line feed a writer sends after each line adds nothing.
            if (line.text.empty())
                continue;
            line.source = std::to_string(id) + " " + writer_name(id);
            queue_captured(std::move(line));
        }
    } else if (taken && prefix.empty()) {
        Line note;
        GetLocalTime(&note.time);
        note.source = "Corvane";
        note.text = "another debugger-output monitor is running: debugger output goes to it, not here";
        queue_captured(std::move(note));
    }
    if (view != nullptr)
        UnmapViewOfFile(view);
    for (HANDLE handle : {mapping, data_ready, buffer_ready}) {
        if (handle != nullptr)
            CloseHandle(handle);
    }
    return 0;
}

// Where someone can see a message box: a visible window station.
bool someone_can_see()
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    HWINSTA station = GetProcessWindowStation();
    return station != nullptr && GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Appends from now on to the file at path (an empty path: no file).
// Returns false, keeping the file it had, when the file cannot be opened.
bool open_log(const std::string& path)
{
    if (path.empty())
        return true;
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (g_viewer.log != INVALID_HANDLE_VALUE) {
        flush_log();
        CloseHandle(g_viewer.log);
    }
    g_viewer.log = file;
    g_viewer.log_failed = false;
    return true;
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE: {
        HINSTANCE instance = reinterpret_cast<CREATESTRUCTA*>(lparam)->hInstance;
        g_viewer.list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", nullptr,
                                        WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT |
                                            LBS_EXTENDEDSEL,
                                        0, 0, 0, 0, window, reinterpret_cast<HMENU>(id_list), instance, nullptr);
        SendMessageA(g_viewer.list, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), TRUE);
        SendMessageA(g_viewer.list, LB_SETHORIZONTALEXTENT, 4000, 0);
        const struct {
            int id;
            const char* text;
        } buttons[] = {{id_copy, "&Copy"}, {id_clear, "C&lear"}, {id_save, "&Save As..."}};
        for (const auto& b : buttons)
            CreateWindowExA(0, "BUTTON", b.text, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 0, 0, window,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)), instance, nullptr);
        return 0;
    }
    case WM_SIZE:
        lay_out(window);
        return 0;
    case WM_COPYDATA: {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        if (data != nullptr && data->dwData == log_file_tag) {
            std::string path;
            if (data->cbData > 0 && data->lpData != nullptr)
                path.assign(static_cast<const char*>(data->lpData), data->cbData);
            return open_log(path) ? TRUE : FALSE;
        }
        if (data == nullptr || data->dwData != trace_viewer_tag)
            return FALSE;
        // Exactly cbData bytes (the sender appends no NUL), up to the cap.
        Line line;
        GetLocalTime(&line.time);
        line.source = window_source;
        if (data->cbData > 0 && data->lpData != nullptr)
            line.text = capped_text(static_cast<const char*>(data->lpData), data->cbData);
        remember_window_line(line.text);
        g_viewer.pending.push_back(std::move(line));
        if (!g_viewer.drain_posted) {
            g_viewer.drain_posted = true;
            PostMessageA(window, drain_message, 0, 0);
        }
        return TRUE;
    }
    case drain_message:
        drain();
        return 0;
    case capture_message:
        take_captured();
        return 0;
    case WM_TIMER:
        if (wparam == flush_timer)
            flush_log();
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case id_copy:
            copy_to_clipboard();
            return 0;
        case id_clear:
            SendMessageA(g_viewer.list, LB_RESETCONTENT, 0, 0);
            g_viewer.lines.clear();
            return 0;
        case id_save:
            save_as();
            return 0;
        default:
            break;
        }
        break;
    case WM_CLOSE:
        drain();
        flush_log();
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// "/log <file>", the file name quoted when it holds blanks.
std::string log_option(const char* tail)
{
    while (*tail == ' ')
        ++tail;
    if (!((tail[0] == '/' || tail[0] == '-') && (tail[1] == 'l' || tail[1] == 'L')))
        return std::string();
    tail += 2;
    while (*tail != '\0' && *tail != ' ')
        ++tail;  // rest of the switch word
    while (*tail == ' ')
        ++tail;
    std::string path;
    if (*tail == '"') {
        const char* end = strchr(tail + 1, '"');
        path.assign(tail + 1, end ? static_cast<size_t>(end - tail - 1) : strlen(tail + 1));
    } else {
        path = tail;
        while (!path.empty() && path.back() == ' ')
            path.pop_back();
    }
    return path;
}

} // namespace

// A viewer already running gets the log file and is brought to the front;
// true when there is one.  A start that races another waits for its window.
bool hand_over_to_running(const std::string& log_path, bool* log_taken)
{
    HANDLE first = CreateMutexA(nullptr, FALSE, "Local\\CorvaneViewer");
    bool another = first != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    // The mutex stays open for this process's life when it is the first.
    if (!another)
        return false;
    CloseHandle(first);
    HWND running = nullptr;
    for (int i = 0; i < 250 && running == nullptr; ++i) {
        running = FindWindowA(window_class, trace_viewer_title);
        if (running == nullptr)
            Sleep(20);
    }
    *log_taken = true;
    if (running == nullptr)
        return true;
    if (!log_path.empty()) {
        COPYDATASTRUCT data = {log_file_tag, static_cast<DWORD>(log_path.size()), const_cast<char*>(log_path.data())};
        DWORD_PTR answer = 0;
        *log_taken = SendMessageTimeoutA(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                         SMTO_ABORTIFHUNG, 5000, &answer) != 0 &&
                     answer != 0;
    }
    ShowWindow(running, SW_RESTORE);
    SetForegroundWindow(running);
    return true;
}

void report_log_failure(const std::string& log_path)
{
    if (someone_can_see())
        MessageBoxA(nullptr, ("Cannot open the log file " + log_path).c_str(), trace_viewer_title,
                    MB_OK | MB_ICONERROR);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int show)
{
    std::string log_path = log_option(tail ? tail : "");
    bool log_taken = false;
    if (hand_over_to_running(log_path, &log_taken)) {
        if (log_taken)
            return 0;
        report_log_failure(log_path);
        return 2;
    }
    if (!open_log(log_path)) {
        report_log_failure(log_path);
        return 2;
    }
    InitializeCriticalSection(&g_viewer.lock);
    g_viewer.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = window_class;
    RegisterClassA(&wc);
    g_viewer.window = CreateWindowExA(0, window_class, trace_viewer_title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                      CW_USEDEFAULT, 800, 500, nullptr, nullptr, instance, nullptr);
    if (g_viewer.window == nullptr)
        return 1;
    ShowWindow(g_viewer.window, show);

    // The debugger output of this session and, when elevated, of the
    // machine (runs started as SYSTEM by a deployment agent).
    static const char* const channels[] = {"", "Global\\"};
    HANDLE capture_threads[2] = {};
    for (int i = 0; i < 2; ++i)
        capture_threads[i] = CreateThread(nullptr, 0, capture_debug_output, const_cast<char*>(channels[i]), 0, nullptr);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    SetEvent(g_viewer.stop);
    for (HANDLE thread : capture_threads) {
        if (thread != nullptr) {
            WaitForSingleObject(thread, 5000);
            CloseHandle(thread);
        }
    }
    for (const Watched& watched : g_viewer.watched) {
        if (watched.wait != nullptr)
            UnregisterWaitEx(watched.wait, INVALID_HANDLE_VALUE);
        if (watched.process != nullptr)
            CloseHandle(watched.process);
    }
    CloseHandle(g_viewer.stop);
    if (g_viewer.log != INVALID_HANDLE_VALUE)
        CloseHandle(g_viewer.log);
    return g_viewer.log_failed ? 2 : 0;
}
