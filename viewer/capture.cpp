#include "viewer/capture.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "base/exit_codes.h"
#include "viewer/intake.h"

namespace {

// The shared debug-output buffer: the writer's process id, then its text.
constexpr DWORD debug_buffer_size = 4096;
// How long the intake thread gathers messages once woken by one.
constexpr DWORD intake_batch_ms = 10;

// A message as a reader took it off a shared buffer, or the end of a
// watched process, on its way to the intake thread.
struct Taken {
    DWORD process;
    ULONGLONG at;     // GetTickCount64
    ULONGLONG stamp;  // the wall time, UTC, in FILETIME units
    bool ended;       // the process ended: no text
    HANDLE handle;    // the process, opened by the reader for a process new to it
    std::string text;
};

// One debugger-output channel: the shared buffer under the names with this
// prefix ("" for this session, "Global\\" for the machine, which takes an
// elevated viewer), read by a thread of its own while capture is on.
struct Channel {
    const char* prefix;
    HANDLE buffer_ready;
    HANDLE data_ready;
    HANDLE mapping;
    const char* view;
    bool taken;  // another monitor has the channel
    HANDLE thread;
};

struct Capture {
    HWND window = nullptr;
    UINT message = 0;
    HANDLE stop = nullptr;          // the viewer ends
    HANDLE reading_stop = nullptr;  // capture is turned off
    bool on = false;
    Channel channels[2] = {{"", nullptr, nullptr, nullptr, nullptr, false, nullptr},
                           {"Global\\", nullptr, nullptr, nullptr, nullptr, false, nullptr}};
    // From the readers and the thread pool to the intake thread.  A lock
    // and a condition variable, not an event: under Wine every signal and
    // wait of an event is a round trip to the server that the writers'
    // OutputDebugString calls queue at too, while these wake a thread
    // through the kernel alone.
    SRWLOCK taken_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE taken_ready = CONDITION_VARIABLE_INIT;
    std::vector<Taken> taken;        // guarded by taken_lock
    bool intake_waits = false;       // guarded by taken_lock: it waits for taken_ready
    bool intake_ends = false;        // guarded by taken_lock
    HANDLE intake = nullptr;
    // From the intake thread to the window's thread.
    CRITICAL_SECTION lock;
    std::vector<Line> captured;
    volatile LONG posted = 0;  // a message is on its way to the window
    volatile LONG polled = 0;  // the window takes lines on a timer of its own: no message needed
};

Capture g_capture;

// From any thread: lines for the window's thread to bring in.
void queue_captured(std::vector<Line> lines)
{
    if (lines.empty())
        return;
    EnterCriticalSection(&g_capture.lock);
    if (g_capture.captured.empty())
        g_capture.captured.swap(lines);
    else
        g_capture.captured.insert(g_capture.captured.end(), std::make_move_iterator(lines.begin()),
                                  std::make_move_iterator(lines.end()));
    LeaveCriticalSection(&g_capture.lock);
    // Read after the lines went in: a window that stops polling looks at
    // the queue once more after saying so, so lines are never left unseen.
    if (InterlockedCompareExchange(&g_capture.polled, 0, 0) == 0 && InterlockedExchange(&g_capture.posted, 1) == 0)
        PostMessageA(g_capture.window, g_capture.message, 0, 0);
}

// From a reader or the thread pool: the intake thread is woken only when
// it waits, so a burst costs the reader no more than the copy.
void hand_to_intake(Taken taken)
{
    AcquireSRWLockExclusive(&g_capture.taken_lock);
    g_capture.taken.push_back(std::move(taken));
    bool wake = g_capture.intake_waits;
    g_capture.intake_waits = false;
    ReleaseSRWLockExclusive(&g_capture.taken_lock);
    if (wake)
        WakeConditionVariable(&g_capture.taken_ready);
}

ULONGLONG wall_time()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

SYSTEMTIME local_time(ULONGLONG stamp)
{
    FILETIME utc = {static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
    FILETIME local;
    SYSTEMTIME time;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time))
        GetLocalTime(&time);
    return time;
}

// Thread pool: a watched process ended.
VOID CALLBACK process_ended(void* parameter, BOOLEAN)
{
    Taken ended = {static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(parameter)), GetTickCount64(), wall_time(), true,
                   nullptr, std::string()};
    hand_to_intake(std::move(ended));
}

// A process writing debugger output, named and watched from its first
// message on so that its end is shown.  handle: the process as the reader
// opened it, or nullptr.
Writer* watch(Writers& writers, DWORD id, HANDLE handle)
{
    if (handle == nullptr)
        handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    std::string name = "?";
    HANDLE wait = nullptr;
    if (handle != nullptr) {
        char path[MAX_PATH];
        DWORD length = sizeof path;
        if (QueryFullProcessImageNameA(handle, 0, path, &length) && length < sizeof path) {
            std::string full(path, length);
            name = full.substr(full.find_last_of('\\') + 1);
        }
        if (!RegisterWaitForSingleObject(&wait, handle, process_ended,
                                         reinterpret_cast<void*>(static_cast<ULONG_PTR>(id)), INFINITE,
                                         WT_EXECUTEONLYONCE))
            wait = nullptr;
    }
    return add_writer(writers, id, name, handle, wait);
}

void forget(Writer& writer)
{
    if (writer.wait != nullptr)
        UnregisterWaitEx(static_cast<HANDLE>(writer.wait), INVALID_HANDLE_VALUE);
    if (writer.handle != nullptr)
        CloseHandle(static_cast<HANDLE>(writer.handle));
}

std::string source_of(DWORD id, const std::string& name)
{
    return std::to_string(id) + " " + name;
}

Line line_of(const JoinedRow& row, const std::string& source)
{
    Line line;
    line.time = local_time(row.stamp);
    line.source = source;
    line.text = as_utf8(row.text);
    return line;
}

// A watched process's end: the text it left without a line feed, then a
// line with its exit code; its entry goes, for a new process may get its id.
void finish(Joiner& joiner, Writers& writers, DWORD id, std::vector<Line>* lines)
{
    Writer writer = end_writer(writers, id);
    std::string source = source_of(id, writer.name.empty() ? "?" : writer.name);
    std::string rest = join_rest(joiner, id);
    if (!rest.empty())
        lines->push_back(line_of(JoinedRow{id, wall_time(), rest}, source));
    DWORD code = 0;
    if (writer.handle != nullptr && GetExitCodeProcess(static_cast<HANDLE>(writer.handle), &code)) {
        const char* meaning = lstrcmpiA(writer.name.c_str(), "Tavenor.exe") == 0 ? exit_code_meaning(code) : nullptr;
        char text[160];
        snprintf(text, sizeof text, "ended with exit code %lu%s%s", static_cast<unsigned long>(code),
                 meaning ? ": " : "", meaning ? meaning : "");
        Line line;
        GetLocalTime(&line.time);
        line.source = source;
        line.text = text;
        line.failure = meaning != nullptr && code >= 2;
        lines->push_back(std::move(line));
    }
    forget(writer);
}

// The intake thread: joins pieces into rows, names the writers and tells
// their ends, off the readers' path.  Rows held for more pieces are let go
// once the writer has been quiet for piece_quiet_ms.
DWORD WINAPI run_intake(void*)
{
    Joiner joiner;
    Writers writers;
    // Ends are told piece_quiet_ms after they are seen: a message the
    // process wrote just before it ended may still be on its way.
    std::vector<std::pair<DWORD, ULONGLONG>> endings;
    for (;;) {
        std::vector<Taken> batch;
        AcquireSRWLockExclusive(&g_capture.taken_lock);
        batch.swap(g_capture.taken);
        ReleaseSRWLockExclusive(&g_capture.taken_lock);
        std::vector<Line> lines;
        for (Taken& taken : batch) {
            if (taken.ended) {
                endings.emplace_back(taken.process, taken.at + piece_quiet_ms);
                continue;
            }
            Writer* writer = writer_of(writers, taken.process);
            if (writer != nullptr && writer->handle == nullptr) {
                // Not opened before: tried again, as it may be another process by now.
                Writer unopened = end_writer(writers, taken.process);
                forget(unopened);
                writer = nullptr;
            }
            if (writer == nullptr)
                writer = watch(writers, taken.process, taken.handle);
            else if (taken.handle != nullptr)
                CloseHandle(taken.handle);
            std::string source = source_of(taken.process, writer->name);
            for (const JoinedRow& row : join_piece(joiner, taken.process, taken.at, taken.stamp, taken.text))
                lines.push_back(line_of(row, source));
        }
        ULONGLONG now = GetTickCount64();
        for (const JoinedRow& row : join_due(joiner, now)) {
            const Writer* writer = writer_of(writers, row.process);
            lines.push_back(line_of(row, source_of(row.process, writer != nullptr ? writer->name : "?")));
        }
        ULONGLONG wait = join_wait_ms(joiner, now);
        for (size_t i = 0; i < endings.size();) {
            if (endings[i].second <= now) {
                finish(joiner, writers, endings[i].first, &lines);
                endings.erase(endings.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                wait = std::min<ULONGLONG>(wait, endings[i].second - now);
                ++i;
            }
        }
        queue_captured(std::move(lines));
        // Waits only when nothing came meanwhile; the flag is set and the
        // queue looked at under one lock, so a message handed over now
        // either is seen here or wakes the wait.
        DWORD timeout = wait == UINT64_MAX ? INFINITE : static_cast<DWORD>(std::min<ULONGLONG>(wait, 60000));
        AcquireSRWLockExclusive(&g_capture.taken_lock);
        bool woken = false;
        if (g_capture.taken.empty() && !g_capture.intake_ends) {
            g_capture.intake_waits = true;
            SleepConditionVariableSRW(&g_capture.taken_ready, &g_capture.taken_lock, timeout, 0);
            g_capture.intake_waits = false;
            woken = !g_capture.taken.empty();
        }
        bool ends = g_capture.intake_ends;
        ReleaseSRWLockExclusive(&g_capture.taken_lock);
        if (ends)
            break;
        // Woken by a message: the ones right behind it are taken with it,
        // so that a burst wakes this thread (and the window's) once per
        // batch rather than once per message, leaving the processor to the
        // writers and the readers.
        if (woken)
            Sleep(intake_batch_ms);
    }
    for (Writer& writer : writers.known)
        forget(writer);
    AcquireSRWLockExclusive(&g_capture.taken_lock);
    for (const Taken& taken : g_capture.taken) {
        if (taken.handle != nullptr)
            CloseHandle(taken.handle);
    }
    g_capture.taken.clear();
    ReleaseSRWLockExclusive(&g_capture.taken_lock);
    return 0;
}

void open_channel(Channel* channel)
{
    const std::string prefix = channel->prefix;
    channel->buffer_ready = CreateEventA(nullptr, FALSE, FALSE, (prefix + "DBWIN_BUFFER_READY").c_str());
    channel->taken = channel->buffer_ready != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    channel->data_ready = CreateEventA(nullptr, FALSE, FALSE, (prefix + "DBWIN_DATA_READY").c_str());
    channel->mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, debug_buffer_size,
                                          (prefix + "DBWIN_BUFFER").c_str());
    channel->view = channel->mapping != nullptr
                        ? static_cast<const char*>(MapViewOfFile(channel->mapping, FILE_MAP_READ, 0, 0, 0))
                        : nullptr;
}

bool readable(const Channel& channel)
{
    return !channel.taken && channel.data_ready != nullptr && channel.view != nullptr;
}

void close_channel(Channel* channel)
{
    if (channel->view != nullptr)
        UnmapViewOfFile(channel->view);
    for (HANDLE handle : {channel->mapping, channel->data_ready, channel->buffer_ready}) {
        if (handle != nullptr)
            CloseHandle(handle);
    }
    *channel = Channel{channel->prefix, nullptr, nullptr, nullptr, nullptr, false, nullptr};
}

// A reader: copies each message off the shared buffer and frees it at
// once; all else is the intake thread's.  Ends when capture is turned off
// or the viewer ends.
DWORD WINAPI read_channel(void* parameter)
{
    const Channel& channel = *static_cast<const Channel*>(parameter);
    HANDLE waits[3] = {channel.data_ready, g_capture.reading_stop, g_capture.stop};
    DWORD last = 0;
    SetEvent(channel.buffer_ready);
    for (;;) {
        if (WaitForMultipleObjects(3, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
            break;
        Taken taken = {0, GetTickCount64(), wall_time(), false, nullptr, std::string()};
        memcpy(&taken.process, channel.view, sizeof taken.process);
        const char* text = channel.view + sizeof taken.process;
        taken.text.assign(text, strnlen(text, debug_buffer_size - sizeof taken.process));
        // A process new to this reader is opened while it still waits in
        // OutputDebugString: one that ends at once is still named.
        if (taken.process != last) {
            taken.handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, taken.process);
            last = taken.process;
        }
        SetEvent(channel.buffer_ready);
        hand_to_intake(std::move(taken));
    }
    return 0;
}

// Opens the channels and starts their readers; whether any reads.
bool start_reading()
{
    bool reading = false;
    for (Channel& channel : g_capture.channels) {
        if (channel.mapping == nullptr && channel.buffer_ready == nullptr)
            open_channel(&channel);
        if (readable(channel))
            channel.thread = CreateThread(nullptr, 0, read_channel, &channel, 0, nullptr);
        reading = reading || channel.thread != nullptr;
    }
    if (g_capture.channels[0].taken) {
        std::vector<Line> note;
        note.push_back(own_line("another debugger-output monitor is running: debugger output goes to it, not here",
                                false));
        queue_captured(std::move(note));
    }
    return reading;
}

// Ends the readers and closes the channels, so that another monitor can
// make them afresh.
void stop_reading()
{
    SetEvent(g_capture.reading_stop);
    for (Channel& channel : g_capture.channels) {
        if (channel.thread != nullptr) {
            WaitForSingleObject(channel.thread, 5000);
            CloseHandle(channel.thread);
        }
        close_channel(&channel);
    }
    ResetEvent(g_capture.reading_stop);
}

} // namespace

std::string as_utf8(const std::string& text)
{
    if (is_utf8(text))
        return text;
    // The process itself runs in UTF-8, so CP_ACP would name that: the
    // system's own ANSI code page is the locale's.
    DWORD code_page = 0;
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<char*>(&code_page), sizeof code_page / sizeof(char)) == 0 ||
        code_page == 0 || code_page == CP_UTF8)
        code_page = 1252;
    int wide = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0)
        return text;
    std::wstring characters(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), &characters[0], wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, characters.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return text;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, characters.data(), wide, &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}

void capture_open()
{
    InitializeCriticalSection(&g_capture.lock);
    g_capture.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_capture.reading_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (Channel& channel : g_capture.channels)
        open_channel(&channel);
}

void capture_start(HWND window, UINT message)
{
    g_capture.window = window;
    g_capture.message = message;
    g_capture.intake = CreateThread(nullptr, 0, run_intake, nullptr, 0, nullptr);
    g_capture.on = start_reading();
}

bool capture_set_on(bool on)
{
    if (on && !g_capture.on) {
        g_capture.on = start_reading();
        // A channel another monitor holds is let go again at once.
        if (!g_capture.on)
            stop_reading();
    } else if (!on && g_capture.on) {
        stop_reading();
        g_capture.on = false;
    }
    return g_capture.on;
}

bool capture_is_on()
{
    return g_capture.on;
}

void capture_poll(bool polled)
{
    InterlockedExchange(&g_capture.polled, polled ? 1 : 0);
}

std::vector<Line> capture_take()
{
    InterlockedExchange(&g_capture.posted, 0);
    std::vector<Line> batch;
    EnterCriticalSection(&g_capture.lock);
    batch.swap(g_capture.captured);
    LeaveCriticalSection(&g_capture.lock);
    return batch;
}

void capture_stop()
{
    SetEvent(g_capture.stop);
    stop_reading();
    AcquireSRWLockExclusive(&g_capture.taken_lock);
    g_capture.intake_ends = true;
    ReleaseSRWLockExclusive(&g_capture.taken_lock);
    WakeConditionVariable(&g_capture.taken_ready);
    if (g_capture.intake != nullptr) {
        WaitForSingleObject(g_capture.intake, 5000);
        CloseHandle(g_capture.intake);
    }
    for (HANDLE handle : {g_capture.stop, g_capture.reading_stop}) {
        if (handle != nullptr)
            CloseHandle(handle);
    }
}
