// Corvane: the trace viewer's window.  Its top-level window, titled "Corvane By
// Ledrik", receives Tavenor's trace lines as WM_COPYDATA messages tagged
// 'CRVN', and it captures the debugger output of the session (and of the
// machine when elevated).  It lists every line with its time and source in
// a virtual list that holds up to a million lines, with a filter, a search,
// failure lines highlighted, paused scrolling and the usual shortcuts;
// "/log <file>" appends every line to a file for unattended runs.  Only one
// viewer runs: a second start hands its /log file to the first and ends, so
// no window takes lines away from another.
//
// A sender waits while its message is handled, so the handler only copies
// the bytes (at most message_bytes_max of them) into a queue and returns;
// the list and the log file are brought up to date afterwards, from a
// posted message.  The capture of the debugger output, the log's writer,
// the single-instance claim and the intake rules are units of their own.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <stdio.h>
#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "tracelib/viewer_channel.h"
#include "viewer/capture.h"
#include "viewer/commands.h"
#include "viewer/intake.h"
#include "viewer/line.h"
#include "viewer/log_writer.h"
#include "viewer/single_instance.h"
#include "viewer/trace_store.h"

namespace {

constexpr char window_class[] = "CorvaneViewer";
constexpr UINT drain_message = WM_APP + 1;
constexpr UINT capture_message = WM_APP + 2;
// From the log's writer: writing failed (wparam: the error, 0 when the disk
// did not keep up).
constexpr UINT log_failed_message = WM_APP + 3;
// A file handed over by a second start is to be opened.
constexpr UINT open_message = WM_APP + 4;

// A filter is applied this long after its text last changed, not per key.
constexpr UINT filter_delay_ms = 200;
constexpr UINT_PTR filter_timer = 2;
// The list catches up with the store at most this often: a burst of lines
// costs one redraw per interval, not one per line.
constexpr UINT refresh_interval_ms = 50;
constexpr UINT_PTR refresh_timer = 3;
// A window message's row waits this long for its debugger-output copy
// (which names the process) before it is shown without it; the copy
// follows the message at once, so this is only reached without one.  A
// copy that comes later still names the row's process, and is not shown
// again.
constexpr DWORD copy_wait_ms = 250;
constexpr UINT_PTR settle_timer = 4;
// A file opened for reading is taken up to this size.
constexpr DWORD open_bytes_max = 256u * 1024 * 1024;

// A row on its way into the list and the log.
struct Arrival {
    SYSTEMTIME time;
    uint64_t id;  // counts arrivals, to find a window row again when its copy comes
    std::string source;
    std::string text;
    bool failure;
    bool awaiting;  // a window message's row whose debugger-output copy has not come yet
    bool from_file;  // read from an opened file: not logged again
    ULONGLONG at;
};

// A Tavenor run, from its first line to its end: a head row in the list
// stands for it.
struct Run {
    uint32_t process;
    std::string source;
    uint64_t header;         // the head row's line number
    uint64_t end;            // the end line's number; no_line while it runs
    std::string command;     // its command line
    std::string outcome;     // its end line; empty while it runs
    bool command_due;        // it only said it started: the command line is next
    SYSTEMTIME started;
    Arrival said_started;    // that line, held until the command line comes
};

struct Viewer {
    HWND window = nullptr;
    HWND list = nullptr;
    HWND include = nullptr;  // filter: lines holding this
    HWND exclude = nullptr;  // filter: lines not holding this
    HWND find = nullptr;
    HWND status = nullptr;
    HFONT font = nullptr;
    UINT dpi = USER_DEFAULT_SCREEN_DPI;
    TraceStore store;          // everything shown
    bool paused = false;       // new lines do not scroll the list
    uint64_t waiting = 0;      // lines come in while paused
    std::string note;          // the last search's outcome, in the status bar
    std::string log_path;
    bool refresh_due = false;    // lines are in the store, not yet in the list
    uint64_t dropped_shown = 0;  // the store's dropped count when the list was last drawn
    std::vector<Line> pending;   // received, not yet shown or logged
    bool drain_posted = false;
    LogWriter* log = nullptr;
    bool log_failed = false;  // a log write failed: said in the list, and in the exit code
    RecentLines recent;       // window messages' rows of the last moments
    std::deque<Arrival> arriving;  // not yet in the list or the log
    std::deque<std::pair<uint64_t, uint64_t>> shown_window_rows;  // arrival, line: of the last moments
    uint64_t arrivals = 0;
    std::vector<Run> runs;     // oldest first
    bool elapsed = false;      // the log and Save have a column of seconds since the row before
    std::string open_later;    // a file handed over to be opened
    bool logged_any = false;
    SYSTEMTIME logged_last = {};
    // What the user selected and where the keyboard is, by line number; the
    // list's own item states follow them whenever the view changes.
    Selection selection;
    uint64_t focus = no_line;
    bool syncing = false;  // the list's item states being set from the above
};

Viewer g_viewer;

RowTime row_time(const SYSTEMTIME& t)
{
    return RowTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

// Milliseconds from before to after (0 when after is earlier).
long long ms_between(const SYSTEMTIME& before, const SYSTEMTIME& after)
{
    FILETIME from, to;
    if (!SystemTimeToFileTime(&before, &from) || !SystemTimeToFileTime(&after, &to))
        return 0;
    long long a = static_cast<long long>((static_cast<ULONGLONG>(from.dwHighDateTime) << 32) | from.dwLowDateTime);
    long long b = static_cast<long long>((static_cast<ULONGLONG>(to.dwHighDateTime) << 32) | to.dwLowDateTime);
    return b > a ? (b - a) / 10000 : 0;
}

uint32_t date_of(const SYSTEMTIME& t)
{
    return (t.wYear * 100u + t.wMonth) * 100u + t.wDay;
}

// A row's date and time as the store keeps them.
SYSTEMTIME row_system_time(const StoreRow& row)
{
    SYSTEMTIME t = {};
    t.wYear = static_cast<WORD>(row.date / 10000);
    t.wMonth = static_cast<WORD>(row.date / 100 % 100);
    t.wDay = static_cast<WORD>(row.date % 100);
    t.wHour = static_cast<WORD>(row.time_ms / 3600000);
    t.wMinute = static_cast<WORD>(row.time_ms / 60000 % 60);
    t.wSecond = static_cast<WORD>(row.time_ms / 1000 % 60);
    t.wMilliseconds = static_cast<WORD>(row.time_ms % 1000);
    return t;
}

// Sizes are given for 96 dots per inch and scaled to the window's monitor.
int scaled(int size)
{
    return MulDiv(size, static_cast<int>(g_viewer.dpi), USER_DEFAULT_SCREEN_DPI);
}

UINT window_dpi(HWND window)
{
    // Windows 10 1607 and later; older systems have one DPI for all.
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const DpiForWindow dpi_for_window = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    UINT dpi = dpi_for_window != nullptr ? dpi_for_window(window) : 0;
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(nullptr, screen);
    }
    return dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

std::string grouped(uint64_t number)
{
    std::string digits = std::to_string(number);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

std::string window_text(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

void update_status()
{
    const TraceStore& store = g_viewer.store;
    std::string lines = grouped(store.rows.size()) + (store.rows.size() == 1 ? " line" : " lines");
    if (!store.include.empty() || !store.exclude.empty())
        lines += ", " + grouped(view_count(store)) + " shown";
    if (store.dropped > 0)
        lines += "; the oldest " + grouped(store.dropped) + " dropped (at most " + grouped(store.rows_max) + " kept)";
    std::string scrolling =
        g_viewer.paused ? "Paused: " + grouped(g_viewer.waiting) + " new lines below" : "Following new lines";
    std::string last = !g_viewer.note.empty()     ? g_viewer.note
                       : g_viewer.log_path.empty() ? std::string("No log file")
                                                   : "Log: " + g_viewer.log_path;
    const std::string* parts[] = {&lines, &scrolling, &last};
    for (WPARAM i = 0; i < 3; ++i)
        SendMessageA(g_viewer.status, SB_SETTEXTA, i, reinterpret_cast<LPARAM>(parts[i]->c_str()));
}

uint32_t time_of_day_ms(const SYSTEMTIME& t)
{
    return ((t.wHour * 60u + t.wMinute) * 60u + t.wSecond) * 1000u + t.wMilliseconds;
}

// A row received: on its way into the list and the log.  A window
// message's rows wait for their copies in the debugger output, and the
// rows behind them wait with them, so that the list keeps the order.
void receive(const Line& line, bool from_file = false)
{
    ULONGLONG now = GetTickCount64();
    bool from_window = line.source == window_source && !from_file;
    for (const std::string& row : rows_of(line.text)) {
        uint64_t id = g_viewer.arrivals++;
        if (from_window)
            remember_window_row(g_viewer.recent, now, row, id);
        g_viewer.arriving.push_back(Arrival{line.time, id, line.source, row, line.failure, from_window, from_file, now});
    }
}

Run* open_run(uint32_t process)
{
    for (auto run = g_viewer.runs.rbegin(); run != g_viewer.runs.rend(); ++run) {
        if (run->process == process)
            return run->end == no_line ? &*run : nullptr;
    }
    return nullptr;
}

// The run whose head row is line; nullptr for any other line.
const Run* run_headed_by(uint64_t line)
{
    for (const Run& run : g_viewer.runs) {
        if (run.header == line)
            return &run;
    }
    return nullptr;
}

std::string run_title(const Run& run)
{
    return "Tavenor run: " + (run.command.empty() ? std::string("(no command line)") : run.command) + "  |  " +
           (run.outcome.empty() ? std::string("running") : run.outcome);
}

// Into the store, and to the log.
void add_row(const SYSTEMTIME& time, const std::string& source, const std::string& text, bool failure, bool header,
             bool to_log, std::string* log_bytes)
{
    uint64_t number = store_next_line(g_viewer.store);
    failure = failure || is_failure_line(text.data(), text.size());
    if (store_add(g_viewer.store, time_of_day_ms(time), source, text.data(), text.size(), failure, date_of(time),
                  header) &&
        g_viewer.paused)
        ++g_viewer.waiting;
    if (!to_log || g_viewer.log == nullptr)
        return;
    long long elapsed = !g_viewer.elapsed ? -1 : g_viewer.logged_any ? ms_between(g_viewer.logged_last, time) : 0;
    *log_bytes += saved_row(row_time(time), number + 1, elapsed, source, text);
    g_viewer.logged_any = true;
    g_viewer.logged_last = time;
}

// A settled row into the list and the log.  The first line of a Tavenor
// process gets a head row before it, which stands for the whole run and
// tells its end once it comes.
void commit(const Arrival& row, std::string* log_bytes)
{
    uint32_t process = tavenor_process(row.source);
    Run* run = process != 0 ? open_run(process) : nullptr;
    bool to_log = !row.from_file;
    if (process != 0 && run == nullptr && !is_run_end(row.text)) {
        Run started = {process, row.source, no_line, no_line, std::string(), std::string(), is_run_start(row.text),
                       row.time, row};
        g_viewer.runs.push_back(started);
        run = &g_viewer.runs.back();
        // "Tavenor <version> started" waits for the command line, which the
        // head row names.
        if (run->command_due)
            return;
    }
    if (run != nullptr && run->header == no_line) {
        run->command = row.text;
        run->command_due = false;
        run->header = store_next_line(g_viewer.store);
        add_row(run->started, row.source, "Tavenor run: " + run->command, false, true, to_log, log_bytes);
        if (is_run_start(run->said_started.text))
            add_row(run->said_started.time, row.source, run->said_started.text, false, false, to_log, log_bytes);
    }
    uint64_t number = store_next_line(g_viewer.store);
    add_row(row.time, row.source, row.text, row.failure, false, to_log, log_bytes);
    if (row.awaiting) {
        g_viewer.shown_window_rows.emplace_back(row.id, number);
        if (g_viewer.shown_window_rows.size() > recent_max)
            g_viewer.shown_window_rows.pop_front();
    }
    if (run != nullptr && is_run_end(row.text)) {
        run->outcome = row.text;
        run->end = number;
        InvalidateRect(g_viewer.list, nullptr, FALSE);
    }
    // Runs whose lines are all gone are forgotten.
    while (!g_viewer.runs.empty() && g_viewer.runs.front().end != no_line &&
           g_viewer.runs.front().end < g_viewer.store.first)
        g_viewer.runs.erase(g_viewer.runs.begin());
}

// The rows that are settled go into the list and the log, in order (at the
// end, all of them).
void settle(bool everything)
{
    KillTimer(g_viewer.window, settle_timer);
    ULONGLONG now = GetTickCount64();
    std::string bytes;
    bool any = false;
    while (!g_viewer.arriving.empty()) {
        const Arrival& row = g_viewer.arriving.front();
        if (row.awaiting && !everything && now - row.at < copy_wait_ms)
            break;
        commit(row, &bytes);
        g_viewer.arriving.pop_front();
        any = true;
    }
    if (!bytes.empty() && g_viewer.log != nullptr)
        writer_queue(g_viewer.log, bytes);
    if (!g_viewer.arriving.empty())
        SetTimer(g_viewer.window, settle_timer, copy_wait_ms, nullptr);
    if (any && !g_viewer.refresh_due) {
        g_viewer.refresh_due = true;
        SetTimer(g_viewer.window, refresh_timer, refresh_interval_ms, nullptr);
    }
}

// The list's item states made to match the selection and the focus, after
// the view changed under them; with all selected, the list holds no state
// at all (the rows are drawn selected), which keeps Select All instant.
void sync_list_selection()
{
    g_viewer.syncing = true;
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(g_viewer.list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    if (!g_viewer.selection.all) {
        state.state = state.stateMask = LVIS_SELECTED;
        for (size_t index : selection_in_view(g_viewer.selection, g_viewer.store))
            SendMessageA(g_viewer.list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&state));
    }
    long focus = g_viewer.focus != no_line ? view_index_of(g_viewer.store, g_viewer.focus) : -1;
    if (focus >= 0) {
        state.state = state.stateMask = LVIS_FOCUSED;
        SendMessageA(g_viewer.list, LVM_SETITEMSTATE, static_cast<WPARAM>(focus), reinterpret_cast<LPARAM>(&state));
    }
    g_viewer.syncing = false;
    InvalidateRect(g_viewer.list, nullptr, FALSE);
}

// Scrolls the list by rows (up when negative).
void scroll_rows(long rows)
{
    RECT bounds = {};
    bounds.left = LVIR_BOUNDS;
    if (rows == 0 || !SendMessageA(g_viewer.list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&bounds)))
        return;
    SendMessageA(g_viewer.list, LVM_SCROLL, 0, rows * (bounds.bottom - bounds.top));
}

// The list brought up to the store: new rows counted in, the last shown
// unless scrolling is paused, everything redrawn when old rows went.  Rows
// dropped at the cap move the rest up: the selection and, while paused,
// the view move with their lines.
void refresh_list()
{
    KillTimer(g_viewer.window, refresh_timer);
    g_viewer.refresh_due = false;
    int count = static_cast<int>(view_count(g_viewer.store));
    uint64_t gone = g_viewer.store.view_dropped;
    g_viewer.store.view_dropped = 0;
    // Rows the list gives up are not the user's doing.
    g_viewer.syncing = true;
    SendMessageA(g_viewer.list, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    g_viewer.syncing = false;
    if (g_viewer.store.dropped != g_viewer.dropped_shown)
        InvalidateRect(g_viewer.list, nullptr, FALSE);
    g_viewer.dropped_shown = g_viewer.store.dropped;
    if (gone > 0 && (!g_viewer.selection.ranges.empty() || g_viewer.focus != no_line))
        sync_list_selection();
    if (gone > 0 && g_viewer.paused)
        scroll_rows(-static_cast<long>(gone < static_cast<uint64_t>(count) ? gone : static_cast<uint64_t>(count)));
    if (!g_viewer.paused && count > 0)
        SendMessageA(g_viewer.list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(count - 1), FALSE);
    update_status();
}

// A failure of the log file, said once per file in the list, and in the
// exit code.  error 0: the disk did not keep up.
void report_log_write_failure(DWORD error)
{
    g_viewer.log_failed = true;
    char note[160];
    if (error == 0)
        snprintf(note, sizeof note, "[Corvane] the log file's disk did not keep up: later lines are not in it");
    else
        snprintf(note, sizeof note, "[Corvane] writing the log file failed: %s: later lines are not in it",
                 system_reason(error).c_str());
    receive(own_line(note, true));
    settle(false);
    refresh_list();
}

void drain()
{
    g_viewer.drain_posted = false;
    std::vector<Line> batch;
    batch.swap(g_viewer.pending);
    for (const Line& line : batch)
        receive(line);
    settle(false);
}

// Debugger output and process ends.  The copy of a window message's row is
// not shown again: the row shows its process instead.
void take_captured()
{
    // The messages first: their copies follow them.
    std::vector<Line> batch;
    batch.swap(g_viewer.pending);
    g_viewer.drain_posted = false;
    for (const Line& line : batch)
        receive(line);
    ULONGLONG now = GetTickCount64();
    for (Line& line : capture_take()) {
        uint64_t copied = line.source != own_source ? window_row_copied(g_viewer.recent, now, line.text) : no_line;
        if (copied == no_line) {
            receive(line);
            continue;
        }
        bool adopted = false;
        for (Arrival& row : g_viewer.arriving) {
            if (row.id == copied) {
                row.source = line.source;
                row.awaiting = false;
                adopted = true;
                break;
            }
        }
        // Late: the row is in the list already (and in the log as a window
        // message); it shows its process from now on.
        for (auto shown = g_viewer.shown_window_rows.rbegin(); !adopted && shown != g_viewer.shown_window_rows.rend();
             ++shown) {
            if (shown->first == copied) {
                store_set_source(g_viewer.store, shown->second, line.source);
                InvalidateRect(g_viewer.list, nullptr, FALSE);
                adopted = true;
            }
        }
    }
    settle(false);
}

// What a row says: a run's head row tells the run.
std::string shown_text(uint64_t line, const StoreRow& row)
{
    const Run* run = row.header ? run_headed_by(line) : nullptr;
    return run != nullptr ? run_title(*run) : row_text(g_viewer.store, row);
}

// The rows the list shows (only the selected ones, when asked), as
// "time<TAB>source<TAB>text" lines.
std::string view_text(bool selected_only)
{
    const TraceStore& store = g_viewer.store;
    std::string text;
    auto add = [&](size_t index) {
        const StoreRow& row = view_row(store, index);
        text += row_stamp(row) + "\t" + store.sources[row.source] + "\t" + shown_text(view_line(store, index), row) +
                "\r\n";
    };
    if (!selected_only || g_viewer.selection.all) {
        for (size_t i = 0; i < view_count(store); ++i)
            add(i);
        return text;
    }
    for (size_t index : selection_in_view(g_viewer.selection, store))
        add(index);
    return text;
}

// The shown rows as the log file has them, for Save.
std::string saved_text()
{
    const TraceStore& store = g_viewer.store;
    std::string text;
    SYSTEMTIME last = {};
    for (size_t i = 0; i < view_count(store); ++i) {
        const StoreRow& row = view_row(store, i);
        SYSTEMTIME time = row_system_time(row);
        long long elapsed = !g_viewer.elapsed ? -1 : i > 0 ? ms_between(last, time) : 0;
        text += saved_row(row_time(time), view_line(store, i) + 1, elapsed, store.sources[row.source],
                          row_text(store, row));
        last = time;
    }
    return text;
}

// Text onto the clipboard as Unicode, so that UTF-8 lines paste as their
// characters.
void put_on_clipboard(const std::string& text)
{
    int wide = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (wide <= 0 || !OpenClipboard(g_viewer.window))
        return;
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, static_cast<size_t>(wide) * sizeof(wchar_t));
    if (memory != nullptr) {
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, static_cast<wchar_t*>(GlobalLock(memory)), wide);
        GlobalUnlock(memory);
        if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr)
            GlobalFree(memory);
    }
    CloseClipboard();
}

// The run of the focused line (the last run when no line has the focus, or
// the focused line is in none), as a bug report ready to paste: what was
// run, how it ended, when, and every line of it.
void copy_run()
{
    const TraceStore& store = g_viewer.store;
    const Run* chosen = nullptr;
    for (const Run& run : g_viewer.runs) {
        if (run.header == no_line || run.header < store.first)
            continue;
        if (chosen == nullptr || g_viewer.focus == no_line || run.header <= g_viewer.focus)
            chosen = &run;
    }
    if (chosen == nullptr) {
        g_viewer.note = "No Tavenor run in the list";
        update_status();
        return;
    }
    const Run& run = *chosen;
    const SYSTEMTIME& t = run.started;
    char started[64];
    snprintf(started, sizeof started, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond, t.wMilliseconds);
    std::string report = "Tavenor run: " + run.command + "\r\n" +
                         "Outcome: " + (run.outcome.empty() ? std::string("still running when copied") : run.outcome) +
                         "\r\n" + "Process: " + run.source + "\r\n" + "Started: " + started + "\r\n\r\n";
    uint64_t last = run.end != no_line ? run.end : store_next_line(store) - 1;
    for (uint64_t line = run.header + 1; line <= last && line < store_next_line(store); ++line) {
        const StoreRow& row = store.rows[static_cast<size_t>(line - store.first)];
        if (store.sources[row.source] == run.source && !row.header)
            report += row_stamp(row) + "\t" + row_text(store, row) + "\r\n";
    }
    put_on_clipboard(report);
    g_viewer.note = "Copied the run " + run.command;
    update_status();
}

// The selected rows, or all shown when none is selected.
void copy_to_clipboard()
{
    std::string text = view_text(true);
    put_on_clipboard(text.empty() ? view_text(false) : text);
}

// A message box of the viewer's own, titled apart from its window, which a
// sender looks for by its title.
void tell(const std::string& text)
{
    MessageBoxA(g_viewer.window, text.c_str(), "Corvane", MB_OK | MB_ICONWARNING);
}

void clear();

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
        tell(std::string("Cannot write ") + path + ": " + system_reason(GetLastError()));
        return;
    }
    bool written = write_all(file, saved_text());
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!written)
        tell(std::string("Writing ") + path + " failed: " + system_reason(error));
    else
        g_viewer.note = std::string("Saved: ") + path;
    update_status();
}

// A file the viewer logged or saved, or Tavenor's own trace file, in place
// of the list: its times and sources kept, its runs found again.  Lines of
// another shape are counted, not shown.
void open_file(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        tell("Cannot open " + path + ": " + system_reason(GetLastError()));
        return;
    }
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    bool read = true;
    while (bytes.size() < open_bytes_max && (read = ReadFile(file, chunk, sizeof chunk, &got, nullptr)) && got > 0)
        bytes.append(chunk, got);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!read) {
        tell("Reading " + path + " failed: " + system_reason(error));
        return;
    }
    settle(true);
    clear();
    g_viewer.runs.clear();
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    uint64_t taken = 0, other = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        std::string text = bytes.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? bytes.size() : end + 1;
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        SavedRow row;
        if (!parse_saved_row(text, &row)) {
            other += !text.empty();
            continue;
        }
        Line line;
        line.time = {};
        line.time.wYear = static_cast<WORD>(row.time.year);
        line.time.wMonth = static_cast<WORD>(row.time.month);
        line.time.wDay = static_cast<WORD>(row.time.day);
        line.time.wHour = static_cast<WORD>(row.time.hour);
        line.time.wMinute = static_cast<WORD>(row.time.minute);
        line.time.wSecond = static_cast<WORD>(row.time.second);
        line.time.wMilliseconds = static_cast<WORD>(row.time.ms);
        line.source = row.source;
        line.text = as_utf8(row.text);
        // A run's head row read back is made again from its lines.
        if (line.text.compare(0, 13, "Tavenor run: ") == 0 && tavenor_process(line.source) != 0)
            continue;
        receive(line, true);
        ++taken;
    }
    settle(true);
    refresh_list();
    char note[96];
    snprintf(note, sizeof note, ": %llu lines%s", static_cast<unsigned long long>(taken),
             other > 0 ? (", " + std::to_string(other) + " of another shape left out").c_str() : "");
    g_viewer.note = "Opened " + path + note;
    update_status();
}

void open_dialog()
{
    char path[MAX_PATH] = "";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = g_viewer.window;
    dialog.lpstrFilter = "Logs and traces (*.log;*.txt)\0*.log;*.txt\0All files\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    if (GetOpenFileNameA(&dialog))
        open_file(path);
}

void clear()
{
    store_clear(g_viewer.store);
    selection_clear(g_viewer.selection);
    g_viewer.focus = no_line;
    g_viewer.waiting = 0;
    g_viewer.syncing = true;
    SendMessageA(g_viewer.list, LVM_SETITEMCOUNT, 0, 0);
    g_viewer.syncing = false;
    update_status();
}

void apply_filter()
{
    KillTimer(g_viewer.window, filter_timer);
    store_set_filter(g_viewer.store, window_text(g_viewer.include), window_text(g_viewer.exclude));
    g_viewer.store.view_dropped = 0;
    g_viewer.syncing = true;
    SendMessageA(g_viewer.list, LVM_SETITEMCOUNT, view_count(g_viewer.store), 0);
    g_viewer.syncing = false;
    // The selection stays with its lines; a paused list keeps the focused
    // one in view.
    sync_list_selection();
    long focus = g_viewer.focus != no_line ? view_index_of(g_viewer.store, g_viewer.focus) : -1;
    if (g_viewer.paused && focus >= 0)
        SendMessageA(g_viewer.list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(focus), FALSE);
    refresh_list();
}

void set_paused(bool paused)
{
    g_viewer.paused = paused;
    g_viewer.waiting = 0;
    SendMessageA(GetDlgItem(g_viewer.window, id_pause), BM_SETCHECK, paused ? BST_CHECKED : BST_UNCHECKED, 0);
    CheckMenuItem(GetMenu(g_viewer.window), id_pause, paused ? MF_CHECKED : MF_UNCHECKED);
    refresh_list();
}

void set_on_top(bool on_top)
{
    SetWindowPos(g_viewer.window, on_top ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageA(GetDlgItem(g_viewer.window, id_on_top), BM_SETCHECK, on_top ? BST_CHECKED : BST_UNCHECKED, 0);
    CheckMenuItem(GetMenu(g_viewer.window), id_on_top, on_top ? MF_CHECKED : MF_UNCHECKED);
}

// The next (or previous) shown line holding the find box's text, from the
// focused one; found, it is selected and kept in view (scrolling pauses so
// that new lines do not carry it away).
void find(bool backwards)
{
    std::string needle = window_text(g_viewer.find);
    if (needle.empty()) {
        SetFocus(g_viewer.find);
        return;
    }
    long from = g_viewer.focus != no_line ? view_index_of(g_viewer.store, g_viewer.focus) : -1;
    long hit = view_find(g_viewer.store, from, needle, backwards);
    if (hit < 0) {
        g_viewer.note = "\"" + needle + "\" not found";
        update_status();
        return;
    }
    g_viewer.note.clear();
    uint64_t line = view_line(g_viewer.store, static_cast<size_t>(hit));
    selection_clear(g_viewer.selection);
    selection_set(g_viewer.selection, line, line, true);
    g_viewer.focus = line;
    sync_list_selection();
    SendMessageA(g_viewer.list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(hit), FALSE);
    if (!g_viewer.paused)
        set_paused(true);
    else
        update_status();
}

// The text box that has the keyboard, which then takes Copy and Select
// all itself; nullptr when none has it.
HWND focused_box()
{
    HWND focus = GetFocus();
    return focus == g_viewer.include || focus == g_viewer.exclude || focus == g_viewer.find ? focus : nullptr;
}

void select_all()
{
    if (HWND box = focused_box()) {
        SendMessageA(box, EM_SETSEL, 0, -1);
        return;
    }
    // Wine's list takes a second per 10,000 rows to select them one by one:
    // the selection says "all" instead, and the rows are drawn selected.
    selection_clear(g_viewer.selection);
    g_viewer.selection.all = true;
    sync_list_selection();
}

// The user changed the list's selection (a click, the keys): the lines
// of the rows changed follow, by number.  Leaving "all" starts afresh.
void selection_changed(int from, int to, UINT old_state, UINT new_state)
{
    bool selected = (new_state & LVIS_SELECTED) != 0;
    if (g_viewer.syncing)
        return;
    if (((old_state ^ new_state) & LVIS_SELECTED) != 0 || from < 0) {
        if (g_viewer.selection.all) {
            selection_clear(g_viewer.selection);
            InvalidateRect(g_viewer.list, nullptr, FALSE);
        }
        size_t count = view_count(g_viewer.store);
        if (from < 0) {
            // Every row at once.
            selection_clear(g_viewer.selection);
            g_viewer.selection.all = selected;
        } else if (static_cast<size_t>(to) < count && g_viewer.store.include.empty() &&
                   g_viewer.store.exclude.empty()) {
            selection_set(g_viewer.selection, view_line(g_viewer.store, static_cast<size_t>(from)),
                          view_line(g_viewer.store, static_cast<size_t>(to)), selected);
        } else {
            for (int i = from; i <= to && static_cast<size_t>(i) < count; ++i) {
                uint64_t line = view_line(g_viewer.store, static_cast<size_t>(i));
                selection_set(g_viewer.selection, line, line, selected);
            }
        }
    }
    if (from >= 0 && (new_state & LVIS_FOCUSED) != 0 && static_cast<size_t>(from) < view_count(g_viewer.store))
        g_viewer.focus = view_line(g_viewer.store, static_cast<size_t>(from));
}

// What a row shows in a column; the copy stops at the list's buffer.
void fill_cell(NMLVDISPINFOA* info)
{
    if (!(info->item.mask & LVIF_TEXT) || info->item.pszText == nullptr || info->item.cchTextMax <= 0)
        return;
    const TraceStore& store = g_viewer.store;
    if (info->item.iItem < 0 || static_cast<size_t>(info->item.iItem) >= view_count(store)) {
        info->item.pszText[0] = '\0';
        return;
    }
    const StoreRow& row = view_row(store, static_cast<size_t>(info->item.iItem));
    std::string cell = info->item.iSubItem == 0   ? row_stamp(row)
                       : info->item.iSubItem == 1 ? store.sources[row.source]
                                                  : shown_text(view_line(store, static_cast<size_t>(info->item.iItem)), row);
    size_t room = static_cast<size_t>(info->item.cchTextMax) - 1;
    size_t length = cell.size() < room ? cell.size() : room;
    memcpy(info->item.pszText, cell.data(), length);
    info->item.pszText[length] = '\0';
}

// Failure lines in red on a pale red ground.
LRESULT draw_row(NMLVCUSTOMDRAW* draw)
{
    if (draw->nmcd.dwDrawStage == CDDS_PREPAINT)
        return CDRF_NOTIFYITEMDRAW;
    if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT)
        return CDRF_DODEFAULT;
    size_t index = static_cast<size_t>(draw->nmcd.dwItemSpec);
    if (g_viewer.selection.all && index < view_count(g_viewer.store)) {
        draw->clrText = GetSysColor(COLOR_HIGHLIGHTTEXT);
        draw->clrTextBk = GetSysColor(COLOR_HIGHLIGHT);
        return CDRF_NEWFONT;
    }
    if (index < view_count(g_viewer.store) && view_row(g_viewer.store, index).header) {
        // A run's head: a band that sets the runs apart.
        draw->clrText = RGB(0, 40, 110);
        draw->clrTextBk = RGB(215, 228, 248);
        return CDRF_NEWFONT;
    }
    if (index < view_count(g_viewer.store) && view_row(g_viewer.store, index).failure) {
        draw->clrText = RGB(170, 0, 0);
        draw->clrTextBk = RGB(255, 230, 230);
        return CDRF_NEWFONT;
    }
    return CDRF_DODEFAULT;
}

// The system's message font at the window's DPI, for every control.
void set_fonts()
{
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    LOGFONTA face = {};
    HDC screen = GetDC(nullptr);
    int system_dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        face = metrics.lfMessageFont;
        face.lfHeight = MulDiv(face.lfHeight, static_cast<int>(g_viewer.dpi), system_dpi > 0 ? system_dpi : 96);
    } else {
        face.lfHeight = -MulDiv(9, static_cast<int>(g_viewer.dpi), 72);
        lstrcpynA(face.lfFaceName, "Segoe UI", LF_FACESIZE);
    }
    HFONT font = CreateFontIndirectA(&face);
    if (font == nullptr)
        return;
    for (HWND child = GetWindow(g_viewer.window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (g_viewer.font != nullptr)
        DeleteObject(g_viewer.font);
    g_viewer.font = font;
}

void lay_out(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    SendMessageA(g_viewer.status, WM_SIZE, 0, 0);
    RECT status;
    GetWindowRect(g_viewer.status, &status);
    int status_height = status.bottom - status.top;
    int status_parts[] = {scaled(360), scaled(580), -1};
    SendMessageA(g_viewer.status, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(status_parts));

    const struct {
        int id;
        int width;
    } row[] = {{id_include, 170}, {id_exclude, 130}, {id_find, 130}, {id_find_previous, 70},
               {id_find_next, 60},  {id_pause, 70},    {id_on_top, 80}};
    const int bar = scaled(32);
    int x = scaled(4);
    for (const auto& control : row) {
        MoveWindow(GetDlgItem(window, control.id), x, scaled(4), scaled(control.width), bar - scaled(8), TRUE);
        x += scaled(control.width + 4);
    }
    MoveWindow(g_viewer.list, 0, bar, client.right, client.bottom - bar - status_height, TRUE);
}

void create_controls(HWND window, HINSTANCE instance)
{
    auto child = [&](DWORD ex_style, const char* kind, const char* text, DWORD style, int id) {
        return CreateWindowExA(ex_style, kind, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    };
    g_viewer.include = child(WS_EX_CLIENTEDGE, "EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, id_include);
    g_viewer.exclude = child(WS_EX_CLIENTEDGE, "EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, id_exclude);
    g_viewer.find = child(WS_EX_CLIENTEDGE, "EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, id_find);
    const struct {
        HWND edit;
        const wchar_t* hint;
    } hints[] = {{g_viewer.include, L"Show lines with..."},
                 {g_viewer.exclude, L"Hide lines with..."},
                 {g_viewer.find, L"Find..."}};
    for (const auto& hint : hints)
        SendMessageW(hint.edit, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(hint.hint));
    child(0, "BUTTON", "Previous", WS_TABSTOP | BS_PUSHBUTTON, id_find_previous);
    child(0, "BUTTON", "Next", WS_TABSTOP | BS_PUSHBUTTON, id_find_next);
    child(0, "BUTTON", "Pause", WS_TABSTOP | BS_AUTOCHECKBOX, id_pause);
    child(0, "BUTTON", "On top", WS_TABSTOP | BS_AUTOCHECKBOX, id_on_top);

    g_viewer.list = child(0, WC_LISTVIEWA, "", WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, id_list);
    SendMessageA(g_viewer.list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    const struct {
        const char* title;
        int width;
    } columns[] = {{"Time", 90}, {"Source", 170}, {"Text", 1400}};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = const_cast<char*>(columns[i].title);
        column.cx = scaled(columns[i].width);
        SendMessageA(g_viewer.list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
    g_viewer.status = child(0, STATUSCLASSNAMEA, "", SBARS_SIZEGRIP, id_status);
    set_fonts();
    update_status();
}

// The menu names every command with its key.
HMENU make_menu()
{
    struct Item {
        int id;  // 0: a separator
        const char* text;
    };
    const Item file[] = {{id_open, "&Open...\tCtrl+O"}, {id_save, "&Save As...\tCtrl+S"}, {0, nullptr},
                         {id_exit, "E&xit"}};
    const Item edit[] = {{id_copy, "&Copy\tCtrl+C"},
                         {id_copy_run, "Copy This &Run\tCtrl+R"},
                         {id_select_all, "Select &All\tCtrl+A"},
                         {0, nullptr},
                         {id_find_box, "&Find...\tCtrl+F"},
                         {id_find_next, "Find &Next\tF3"},
                         {id_find_previous, "Find &Previous\tShift+F3"},
                         {0, nullptr},
                         {id_clear, "C&lear\tCtrl+L"}};
    const Item view[] = {{id_pause, "&Pause Scrolling\tScroll Lock, Ctrl+P"},
                         {id_on_top, "Always on &Top\tCtrl+T"},
                         {id_elapsed, "&Elapsed Time in Log and Save"}};
    HMENU bar = CreateMenu();
    auto add = [&](const char* title, const Item* items, size_t count) {
        HMENU popup = CreatePopupMenu();
        for (size_t i = 0; i < count; ++i)
            AppendMenuA(popup, items[i].id ? MF_STRING : MF_SEPARATOR, static_cast<UINT_PTR>(items[i].id), items[i].text);
        AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), title);
    };
    add("&File", file, sizeof file / sizeof file[0]);
    add("&Edit", edit, sizeof edit / sizeof edit[0]);
    add("&View", view, sizeof view / sizeof view[0]);
    return bar;
}

HACCEL make_keys()
{
    ACCEL keys[] = {
        {FCONTROL | FVIRTKEY, 'C', id_copy},      {FCONTROL | FVIRTKEY, 'A', id_select_all},
        {FCONTROL | FVIRTKEY, 'S', id_save},      {FCONTROL | FVIRTKEY, 'L', id_clear},
        {FCONTROL | FVIRTKEY, 'F', id_find_box},  {FVIRTKEY, VK_F3, id_find_next},
        {FSHIFT | FVIRTKEY, VK_F3, id_find_previous}, {FVIRTKEY, VK_SCROLL, id_pause},
        {FCONTROL | FVIRTKEY, 'P', id_pause},     {FCONTROL | FVIRTKEY, 'T', id_on_top},
        {FCONTROL | FVIRTKEY, 'O', id_open},      {FCONTROL | FVIRTKEY, 'R', id_copy_run},
    };
    return CreateAcceleratorTableA(keys, static_cast<int>(sizeof keys / sizeof keys[0]));
}

// Writer thread: the log failed; the window says so.
void log_failed(DWORD error)
{
    PostMessageA(g_viewer.window, log_failed_message, error, 0);
}

// Ends the log file's writing, a failure counting in the exit code.
void close_log()
{
    if (g_viewer.log != nullptr && !stop_writer(g_viewer.log))
        g_viewer.log_failed = true;
    g_viewer.log = nullptr;
}

// Appends from now on to the file at path (an empty path: no file).
// Returns false, keeping the file it had, when the file cannot be opened,
// which is said in the list with the system's reason: no message box,
// which nobody may be there to answer, and which a sender looking for the
// viewer's title could find in its place.
bool open_log(const std::string& path)
{
    if (path.empty())
        return true;
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    LogWriter* writer = nullptr;
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        writer = start_writer(file, path, log_bytes_max, log_failed);
        error = GetLastError();
    }
    if (writer == nullptr) {
        g_viewer.pending.push_back(
            own_line("[Corvane] cannot open the log file " + path + ": " + system_reason(error), true));
        if (g_viewer.window != nullptr && !g_viewer.drain_posted) {
            g_viewer.drain_posted = true;
            PostMessageA(g_viewer.window, drain_message, 0, 0);
        }
        return false;
    }
    close_log();
    g_viewer.log = writer;
    g_viewer.log_path = path;
    if (g_viewer.status != nullptr)
        update_status();
    return true;
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wparam);
        char path[MAX_PATH];
        if (DragQueryFileA(drop, 0, path, sizeof path) > 0)
            open_file(path);
        DragFinish(drop);
        return 0;
    }
    case WM_CREATE:
        g_viewer.window = window;
        g_viewer.dpi = window_dpi(window);
        create_controls(window, reinterpret_cast<CREATESTRUCTA*>(lparam)->hInstance);
        return 0;
    case WM_SIZE:
        lay_out(window);
        return 0;
    case WM_DPICHANGED: {
        // Moved to a monitor of another scale: sizes, fonts and columns follow.
        UINT old_dpi = g_viewer.dpi;
        g_viewer.dpi = HIWORD(wparam);
        for (int i = 0; i < 3; ++i) {
            int width = static_cast<int>(SendMessageA(g_viewer.list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i), 0));
            SendMessageA(g_viewer.list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i),
                         MulDiv(width, static_cast<int>(g_viewer.dpi), static_cast<int>(old_dpi)));
        }
        set_fonts();
        const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        lay_out(window);
        return 0;
    }
    case WM_COPYDATA: {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        if (data != nullptr && data->dwData == log_file_tag) {
            std::string path;
            if (data->cbData > 0 && data->lpData != nullptr)
                path.assign(static_cast<const char*>(data->lpData), data->cbData);
            return open_log(path) ? TRUE : FALSE;
        }
        if (data != nullptr && data->dwData == open_file_tag && data->cbData > 0 && data->lpData != nullptr) {
            // Opened once the sender has its answer: a box may ask the user.
            g_viewer.open_later.assign(static_cast<const char*>(data->lpData), data->cbData);
            PostMessageA(window, open_message, 0, 0);
            return TRUE;
        }
        if (data == nullptr || data->dwData != trace_viewer_tag)
            return FALSE;
        // Exactly cbData bytes (the sender appends no NUL), up to the cap.
        Line line;
        GetLocalTime(&line.time);
        line.source = window_source;
        if (data->cbData > 0 && data->lpData != nullptr)
            line.text = as_utf8(capped_text(static_cast<const char*>(data->lpData), data->cbData));
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
    case open_message:
        if (!g_viewer.open_later.empty())
            open_file(g_viewer.open_later);
        g_viewer.open_later.clear();
        return 0;
    case capture_message:
        take_captured();
        return 0;
    case log_failed_message:
        report_log_write_failure(static_cast<DWORD>(wparam));
        return 0;
    case WM_TIMER:
        if (wparam == filter_timer)
            apply_filter();
        else if (wparam == refresh_timer)
            refresh_list();
        else if (wparam == settle_timer)
            settle(false);
        return 0;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header->idFrom != id_list)
            break;
        if (header->code == LVN_GETDISPINFOA) {
            fill_cell(reinterpret_cast<NMLVDISPINFOA*>(lparam));
            return 0;
        }
        if (header->code == NM_CUSTOMDRAW)
            return draw_row(reinterpret_cast<NMLVCUSTOMDRAW*>(lparam));
        if (header->code == LVN_ITEMCHANGED) {
            const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(lparam);
            if (change->uChanged & LVIF_STATE)
                selection_changed(change->iItem, change->iItem, change->uOldState, change->uNewState);
            return 0;
        }
        if (header->code == LVN_ODSTATECHANGED) {
            const NMLVODSTATECHANGE* change = reinterpret_cast<const NMLVODSTATECHANGE*>(lparam);
            selection_changed(change->iFrom, change->iTo, change->uOldState, change->uNewState);
            return 0;
        }
        break;
    }
    case WM_COMMAND: {
        // A button click, a menu item (0) or a key (1); Enter in a box comes
        // as IDOK.
        WORD id = LOWORD(wparam);
        bool from_button = lparam != 0;
        switch (id) {
        case IDOK:
            if (GetFocus() == g_viewer.find)
                find(false);
            else if (GetFocus() == g_viewer.include || GetFocus() == g_viewer.exclude)
                apply_filter();
            return 0;
        case id_include:
        case id_exclude:
            if (HIWORD(wparam) == EN_CHANGE)
                SetTimer(window, filter_timer, filter_delay_ms, nullptr);
            return 0;
        case id_copy:
            if (HWND box = focused_box())
                SendMessageA(box, WM_COPY, 0, 0);
            else
                copy_to_clipboard();
            return 0;
        case id_select_all:
            select_all();
            return 0;
        case id_clear:
            clear();
            return 0;
        case id_open:
            open_dialog();
            return 0;
        case id_copy_run:
            copy_run();
            return 0;
        case id_elapsed:
            g_viewer.elapsed = !g_viewer.elapsed;
            CheckMenuItem(GetMenu(window), id_elapsed, g_viewer.elapsed ? MF_CHECKED : MF_UNCHECKED);
            return 0;
        case id_save:
            save_as();
            return 0;
        case id_find_box:
            SetFocus(g_viewer.find);
            SendMessageA(g_viewer.find, EM_SETSEL, 0, -1);
            return 0;
        case id_find_next:
        case id_find_previous:
            find(id == id_find_previous);
            return 0;
        case id_pause:
            // A click has set the box already; a key or the menu turns it over.
            set_paused(from_button ? SendMessageA(reinterpret_cast<HWND>(lparam), BM_GETCHECK, 0, 0) == BST_CHECKED
                                   : !g_viewer.paused);
            return 0;
        case id_on_top:
            set_on_top(from_button ? SendMessageA(reinterpret_cast<HWND>(lparam), BM_GETCHECK, 0, 0) == BST_CHECKED
                                   : (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) == 0);
            return 0;
        case id_exit:
            PostMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        default:
            break;
        }
        break;
    }
    case WM_CLOSE:
        take_captured();
        settle(true);
        close_log();
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

} // namespace

// The path made absolute here, in this start's own folder, before another
// viewer (in a folder of its own) is handed it.
std::string full_path(const std::string& path)
{
    char full[MAX_PATH];
    DWORD length = path.empty() ? 0 : GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : path;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int show)
{
    ViewerOptions options = parse_options(tail ? tail : "");
    std::string log_path = full_path(options.log);
    g_viewer.elapsed = options.elapsed;
    if (options.keep != 0 && options.keep < g_viewer.store.rows_max)
        g_viewer.store.rows_max = options.keep;
    bool log_taken = false;
    // A file the running viewer cannot open is said in its list.
    if (hand_over_to_running(window_class, log_path, full_path(options.open), &log_taken))
        return log_taken ? 0 : 2;
    // The viewer runs on without the file, and ends with 2.
    if (!open_log(log_path))
        g_viewer.log_failed = true;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = window_class;
    RegisterClassA(&wc);
    // The debugger output of this session and, when elevated, of the
    // machine (runs started as SYSTEM by a deployment agent).
    capture_open();
    HACCEL keys = make_keys();
    g_viewer.window = CreateWindowExA(0, window_class, trace_viewer_title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                      CW_USEDEFAULT, 900, 560, nullptr, make_menu(), instance, nullptr);
    if (g_viewer.window == nullptr) {
        capture_stop();
        return 1;
    }
    // Created at 96 DPI's size; a window on a scaled monitor grows to match.
    if (g_viewer.dpi != USER_DEFAULT_SCREEN_DPI)
        SetWindowPos(g_viewer.window, nullptr, 0, 0, scaled(900), scaled(560), SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(g_viewer.window, show);

    DragAcceptFiles(g_viewer.window, TRUE);
    if (g_viewer.elapsed)
        CheckMenuItem(GetMenu(g_viewer.window), id_elapsed, MF_CHECKED);
    capture_start(g_viewer.window, capture_message);
    if (!options.open.empty())
        open_file(options.open);
    if (!g_viewer.pending.empty()) {
        g_viewer.drain_posted = true;
        PostMessageA(g_viewer.window, drain_message, 0, 0);
    }

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorA(g_viewer.window, keys, &msg) || IsDialogMessageA(g_viewer.window, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (keys != nullptr)
        DestroyAcceleratorTable(keys);
    if (g_viewer.font != nullptr)
        DeleteObject(g_viewer.font);
    capture_stop();
    close_log();
    return g_viewer.log_failed ? 2 : 0;
}
