#include "viewer/capture.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "base/exit_codes.h"
#include "viewer/intake.h"

namespace {

// The shared debug-output buffer: the writer's process id, then its text.
constexpr DWORD debug_buffer_size = 4096;

// A process seen through the debugger output: watched until it ends, when
// a line with its exit code follows its lines.
struct Watched {
    DWORD id;
    std::string name;
    HANDLE process;
    HANDLE wait;
};

// One debugger-output channel: the shared buffer under the names with this
// prefix ("" for this session, "Global\\" for the machine, which takes an
// elevated viewer), read by a thread of its own until the viewer ends.
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
    HANDLE stop = nullptr;
    Channel channels[2] = {{"", nullptr, nullptr, nullptr, nullptr, false, nullptr},
                           {"Global\\", nullptr, nullptr, nullptr, nullptr, false, nullptr}};
    // From the capture threads and the thread pool: queued under the lock,
    // taken by the window's thread.
    CRITICAL_SECTION lock;
    std::vector<Line> captured;
    volatile LONG posted = 0;
    std::vector<Watched> watched;
    Joiner joiner;  // pieces of lines, per process
};

Capture g_capture;

// From any thread: a line for the window's thread to bring in.
void queue_captured(Line line)
{
    EnterCriticalSection(&g_capture.lock);
    g_capture.captured.push_back(std::move(line));
    LeaveCriticalSection(&g_capture.lock);
    if (InterlockedExchange(&g_capture.posted, 1) == 0)
        PostMessageA(g_capture.window, g_capture.message, 0, 0);
}

// Thread pool: a watched process ended; the last line it left without a
// line feed comes before its end.
VOID CALLBACK process_ended(void* parameter, BOOLEAN)
{
    DWORD id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(parameter));
    Line line;
    GetLocalTime(&line.time);
    DWORD code = 0;
    EnterCriticalSection(&g_capture.lock);
    Line rest = line;
    rest.text = as_utf8(join_rest(g_capture.joiner, id));
    for (const Watched& watched : g_capture.watched) {
        if (watched.id == id) {
            GetExitCodeProcess(watched.process, &code);
            line.source = std::to_string(id) + " " + watched.name;
            const char* meaning = lstrcmpiA(watched.name.c_str(), "Tavenor.exe") == 0 ? exit_code_meaning(code) : nullptr;
            char text[160];
            snprintf(text, sizeof text, "ended with exit code %lu%s%s", static_cast<unsigned long>(code),
                     meaning ? ": " : "", meaning ? meaning : "");
            line.text = text;
            line.failure = meaning != nullptr && code >= 2;
        }
    }
    LeaveCriticalSection(&g_capture.lock);
    rest.source = line.source;
    if (!rest.text.empty())
        queue_captured(std::move(rest));
    if (!line.text.empty())
        queue_captured(std::move(line));
}

// The name of a process writing debugger output, watched from its first
// line on so that its end is shown.
std::string writer_name(DWORD id)
{
    EnterCriticalSection(&g_capture.lock);
    for (const Watched& watched : g_capture.watched) {
        if (watched.id == id) {
            std::string name = watched.name;
            LeaveCriticalSection(&g_capture.lock);
            return name;
        }
    }
    LeaveCriticalSection(&g_capture.lock);
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
    EnterCriticalSection(&g_capture.lock);
    if (watched.process != nullptr &&
        !RegisterWaitForSingleObject(&watched.wait, watched.process, process_ended,
                                     reinterpret_cast<void*>(static_cast<ULONG_PTR>(id)), INFINITE,
                                     WT_EXECUTEONLYONCE))
        watched.wait = nullptr;
    g_capture.watched.push_back(watched);
    LeaveCriticalSection(&g_capture.lock);
    return watched.name;
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

void close_channel(Channel* channel)
{
    if (channel->view != nullptr)
        UnmapViewOfFile(channel->view);
    for (HANDLE handle : {channel->mapping, channel->data_ready, channel->buffer_ready}) {
        if (handle != nullptr)
            CloseHandle(handle);
    }
}

// Ends when the viewer does, or at once when the channel cannot be had.
DWORD WINAPI capture_debug_output(void* parameter)
{
    const Channel& channel = *static_cast<const Channel*>(parameter);
    if (!channel.taken && channel.data_ready != nullptr && channel.view != nullptr) {
        HANDLE waits[2] = {channel.data_ready, g_capture.stop};
        for (;;) {
            SetEvent(channel.buffer_ready);
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
                break;
            DWORD id = 0;
            memcpy(&id, channel.view, sizeof id);
            const char* text = channel.view + sizeof id;
            std::string piece(text, strnlen(text, debug_buffer_size - sizeof id));
            EnterCriticalSection(&g_capture.lock);
            std::vector<std::string> rows = join_piece(g_capture.joiner, id, piece);
            LeaveCriticalSection(&g_capture.lock);
            if (rows.empty())
                continue;
            Line line;
            GetLocalTime(&line.time);
            line.source = std::to_string(id) + " " + writer_name(id);
            for (const std::string& row : rows) {
                line.text = as_utf8(row);
                queue_captured(line);
            }
        }
    } else if (channel.taken && channel.prefix[0] == '\0') {
        queue_captured(own_line("another debugger-output monitor is running: debugger output goes to it, not here",
                                false));
    }
    return 0;
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
    for (Channel& channel : g_capture.channels)
        open_channel(&channel);
}

void capture_start(HWND window, UINT message)
{
    g_capture.window = window;
    g_capture.message = message;
    for (Channel& channel : g_capture.channels)
        channel.thread = CreateThread(nullptr, 0, capture_debug_output, &channel, 0, nullptr);
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
    for (Channel& channel : g_capture.channels) {
        if (channel.thread != nullptr) {
            WaitForSingleObject(channel.thread, 5000);
            CloseHandle(channel.thread);
        }
        close_channel(&channel);
    }
    for (const Watched& watched : g_capture.watched) {
        if (watched.wait != nullptr)
            UnregisterWaitEx(watched.wait, INVALID_HANDLE_VALUE);
        if (watched.process != nullptr)
            CloseHandle(watched.process);
    }
    CloseHandle(g_capture.stop);
}
