// The flow of rows: a row received waits, when it is a window message's,
// for its copy in the debugger output (which names its process); settled
// rows go into the list and the log in order, each Tavenor run under a
// head row.  Also the log file itself and files opened for reading.
#include "viewer/viewer.h"

#include <stdio.h>

#include <algorithm>

#include "viewer/capture.h"

namespace {

RowTime row_time(const SYSTEMTIME& t)
{
    return RowTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

SYSTEMTIME system_time(const RowTime& t)
{
    SYSTEMTIME s = {};
    s.wYear = static_cast<WORD>(t.year);
    s.wMonth = static_cast<WORD>(t.month);
    s.wDay = static_cast<WORD>(t.day);
    s.wHour = static_cast<WORD>(t.hour);
    s.wMinute = static_cast<WORD>(t.minute);
    s.wSecond = static_cast<WORD>(t.second);
    s.wMilliseconds = static_cast<WORD>(t.ms);
    return s;
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
        run->command = run_command(row.text);
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

// Writer thread: the log failed; the window says so.
void log_failed(DWORD error)
{
    PostMessageA(g_viewer.window, log_failed_message, error, 0);
}

} // namespace

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

// The rows that are settled go into the list and the log, in order (at the
// end, all of them).
void settle(bool everything)
{
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
    // Rows still waiting are settled by a later tick; the list is redrawn
    // when the tick finds it due.
    if (!g_viewer.arriving.empty())
        keep_ticking();
    if (any && !g_viewer.refresh_due) {
        g_viewer.refresh_due = true;
        keep_ticking();
    }
}

void keep_ticking()
{
    if (g_viewer.ticking || g_viewer.window == nullptr)
        return;
    g_viewer.ticking = SetTimer(g_viewer.window, tick_timer, tick_ms, nullptr) != 0;
    if (g_viewer.ticking && !g_viewer.file_view)
        capture_poll(true);
}

void tick()
{
    uint64_t before = g_viewer.arrivals;
    if (g_viewer.file_view)
        drain();
    else
        take_captured();
    // While lines keep coming, the list waits its turn; the first tick that
    // brings none shows what is left at once.
    bool flowing = g_viewer.arrivals != before;
    if (g_viewer.refresh_due && (!flowing || GetTickCount64() >= g_viewer.refresh_at))
        refresh_list();
    if (!g_viewer.pending.empty() || !g_viewer.arriving.empty() || g_viewer.refresh_due)
        return;
    KillTimer(g_viewer.window, tick_timer);
    g_viewer.ticking = false;
    if (!g_viewer.file_view) {
        // Lines the intake queued while this thread polled posted no
        // message: taken now (which starts the timer again when any came).
        capture_poll(false);
        take_captured();
    }
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
        // Both queues are in arrival order: the row is found by halving.
        auto row = std::lower_bound(g_viewer.arriving.begin(), g_viewer.arriving.end(), copied,
                                    [](const Arrival& a, uint64_t id) { return a.id < id; });
        if (row != g_viewer.arriving.end() && row->id == copied) {
            row->source = line.source;
            row->awaiting = false;
            continue;
        }
        // Late: the row is in the list already (and in the log as a window
        // message); it shows its process from now on.
        auto shown = std::lower_bound(g_viewer.shown_window_rows.begin(), g_viewer.shown_window_rows.end(), copied,
                                      [](const std::pair<uint64_t, uint64_t>& s, uint64_t id) { return s.first < id; });
        if (shown != g_viewer.shown_window_rows.end() && shown->first == copied) {
            store_set_source(g_viewer.store, shown->second, line.source);
            InvalidateRect(g_viewer.list, nullptr, FALSE);
        }
    }
    settle(false);
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

// A file the viewer logged or saved, or Tavenor's own trace file, in place
// of the list (a file window's, or the viewer's at its start, before
// anything was captured): its times and sources kept, its runs found again.  Lines of
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
        line.time = system_time(row.time);
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
    if (g_viewer.file_view)
        g_viewer.file_path = path;
    update_status();
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
    std::string why;
    HANDLE file = open_log_file(path, &why);
    LogWriter* writer = nullptr;
    if (file != INVALID_HANDLE_VALUE) {
        writer = start_writer(file, path, log_bytes_max, log_failed);
        if (writer == nullptr)
            why = system_reason(GetLastError());
    }
    if (writer == nullptr) {
        g_viewer.pending.push_back(own_line("[Corvane] cannot open the log file " + path + ": " + why, true));
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
