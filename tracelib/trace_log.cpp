// Appending trace lines to the /l file.
#include "tracelib/trace_log.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "base/log_file.h"
#include "base/sizes.h"
#include "tracelib/trace_format.h"

namespace {

// "YYYY-MM-DD HH:MM:SS.mmm<TAB><pid><TAB>": 23 + 1 + 10 + 1 bytes at most.
constexpr size_t prefix_max = 35;
// A line's text grows at most threefold from an 8-bit code page to UTF-8.
constexpr size_t line_buffer_size = prefix_max + 3 * trace_line_max + 3;

// Processes writing one file take turns through a mutex named after its
// path: handles opened for appending alone do not keep two writers' lines
// apart everywhere (under Wine lines of two processes were lost and cut).
// A run waits for its turns this long in all, a guard against a turn that
// is never given (a process holding the mutex): past it the run's lines are
// written without waiting, which is said once.
constexpr ULONGLONG turn_wait_total_ms = 10000;

SRWLOCK g_log_lock = SRWLOCK_INIT;
HANDLE g_log = INVALID_HANDLE_VALUE;
HANDLE g_turn_mutex = nullptr;
ULONGLONG g_turn_waited_ms = 0;
bool g_turn_given_up = false;
bool g_stays_full = false;  // a rollover was refused: the run goes on in the file
char g_path[path_buffer_size];

// The one line on the debugger output for a log that fails; the run goes on.
void report(const char* what, DWORD error)
{
    char line[2 * path_buffer_size + 240];
    char number[32] = "";
    if (error != 0)
        snprintf(number, sizeof number, " (error %lu)", static_cast<unsigned long>(error));
    snprintf(line, sizeof line, "Tavenor: the log file %s %s%s; the run goes on without it", g_path, what, number);
    OutputDebugStringA(line);
    OutputDebugStringA("\n");
}

// A line on the debugger output for what the log does instead of the usual.
void tell(const char* what, const char* instead)
{
    char line[2 * path_buffer_size + 240];
    snprintf(line, sizeof line, "Tavenor: the log file %s %s; %s", g_path, what, instead);
    OutputDebugStringA(line);
    OutputDebugStringA("\n");
}

// Append-only access through the checked opening: what is written is the
// file the administrator named.  Others may read, append, and move the file
// to the older generation while it is open.
HANDLE open_for_append(LogFileProblem* problem)
{
    return log_file_open(g_path, FILE_SHARE_READ | FILE_SHARE_WRITE, problem);
}

bool fits(HANDLE file, size_t more)
{
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) + more <= trace_log_max_bytes;
}

// Makes room for a line of len bytes, in this process's turn: when the file
// would pass its bound it moves to the older generation and a new file is
// started.  A handle on a file that another run moved away finds it full
// too and only reopens the path.  A rollover that is refused (a folder or
// a link planted at the older generation's name, a reader that does not
// let the file be renamed) leaves the run writing on in the full file,
// which is said once.  0 when the log is lost.
int make_room(size_t len)
{
    if (g_stays_full || fits(g_log, len))
        return 1;

    LogFileProblem problem = {"could not be opened again", 0};
    HANDLE current = open_for_append(&problem);
    if (current != INVALID_HANDLE_VALUE && !fits(current, len)) {
        LogFileProblem roll_problem;
        if (log_file_roll(current, &roll_problem)) {
            CloseHandle(current);
            current = open_for_append(&problem);
        } else {
            g_stays_full = true;
            tell(roll_problem.why, "this run's lines go on in it past its size bound");
        }
    }
    CloseHandle(g_log);
    g_log = current;
    if (current == INVALID_HANDLE_VALUE) {
        report(problem.why, problem.error);
        return 0;
    }
    return 1;
}

// Waits for this process's turn within what is left of the run's total;
// false when the line goes without it.
bool take_turn()
{
    if (g_turn_mutex == nullptr || g_turn_given_up)
        return false;
    ULONGLONG start = GetTickCount64();
    DWORD left = static_cast<DWORD>(turn_wait_total_ms - g_turn_waited_ms);
    DWORD waited = WaitForSingleObject(g_turn_mutex, left);
    g_turn_waited_ms += GetTickCount64() - start;
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        return true;
    if (waited == WAIT_TIMEOUT || g_turn_waited_ms >= turn_wait_total_ms) {
        g_turn_given_up = true;
        char what[64];
        snprintf(what, sizeof what, "was not given its turn within %u s in all",
                 static_cast<unsigned>(turn_wait_total_ms / 1000));
        tell(what, "this run writes its lines without waiting for it");
    }
    return false;
}

// Writes one whole line in this process's turn; 0 when the log is lost.
int append_line(const char* line, size_t len)
{
    bool turn = take_turn();
    int result = make_room(len);
    if (result) {
        DWORD written = 0;
        if (!WriteFile(g_log, line, static_cast<DWORD>(len), &written, nullptr) || written != len) {
            report("could not be written", GetLastError());
            result = 0;
        }
    }
    if (turn)
        ReleaseMutex(g_turn_mutex);
    return result;
}

// The line's text in UTF-8 into out (capacity bytes); its length.
size_t to_utf8(const char* text, size_t len, char* out, size_t capacity)
{
    bool ascii = true;
    for (size_t i = 0; i < len && ascii; ++i)
        ascii = static_cast<unsigned char>(text[i]) < 0x80;
    if (ascii || GetACP() == CP_UTF8) {
        size_t n = len < capacity ? len : capacity;
        memcpy(out, text, n);
        return n;
    }
    WCHAR wide[trace_line_max];
    int wide_len = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(len), wide, static_cast<int>(trace_line_max));
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, wide_len, out, static_cast<int>(capacity), nullptr, nullptr);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

void close_log()
{
    if (g_log != INVALID_HANDLE_VALUE)
        CloseHandle(g_log);
    g_log = INVALID_HANDLE_VALUE;
    if (g_turn_mutex != nullptr)
        CloseHandle(g_turn_mutex);
    g_turn_mutex = nullptr;
}

// Writes text as lines with one prefix, under the lock, while the log is open.
void write_lines(const char* text, size_t len)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[line_buffer_size];
    int prefix_len = snprintf(line, prefix_max + 1, "%04u-%02u-%02u %02u:%02u:%02u.%03u\t%lu\t", now.wYear, now.wMonth,
                              now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                              static_cast<unsigned long>(GetCurrentProcessId()));
    size_t prefix = prefix_len > 0 ? static_cast<size_t>(prefix_len) : 0;

    // A traced text may hold line feeds (a call and its arguments): each part
    // is a line of its own with the same time, so every line in the file
    // starts with its prefix.  A closing line feed starts no empty line.
    const char* part = text;
    const char* end = text + len;
    do {
        const char* feed = static_cast<const char*>(memchr(part, '\n', static_cast<size_t>(end - part)));
        const char* part_end = feed != nullptr ? feed : end;
        size_t part_len = static_cast<size_t>(part_end - part);
        if (part_len > 0 && part[part_len - 1] == '\r')
            --part_len;
        size_t n = prefix + to_utf8(part, part_len, line + prefix, sizeof line - prefix - 2);
        line[n++] = '\r';
        line[n++] = '\n';

        if (!append_line(line, n)) {
            close_log();
            break;
        }
        part = feed != nullptr ? feed + 1 : end;
    } while (part < end);
}

} // namespace

int trace_log_open(const char* path)
{
    AcquireSRWLockExclusive(&g_log_lock);
    close_log();
    size_t len = strlen(path);
    int result = 0;
    if (len + log_older_suffix_length < sizeof g_path) {
        memcpy(g_path, path, len + 1);
        LogFileProblem problem;
        g_log = open_for_append(&problem);
        if (g_log == INVALID_HANDLE_VALUE) {
            report(problem.why, problem.error);
        } else {
            g_turn_mutex = log_turn_open(g_path, &problem);
            if (g_turn_mutex == nullptr)
                tell(problem.why, "this run writes its lines without waiting for a turn");
            g_turn_waited_ms = 0;
            g_turn_given_up = false;
            g_stays_full = false;
            result = 1;
        }
    } else {
        snprintf(g_path, sizeof g_path, "%.*s", static_cast<int>(sizeof g_path - 1), path);
        report("has too long a name", ERROR_FILENAME_EXCED_RANGE);
    }
    ReleaseSRWLockExclusive(&g_log_lock);
    return result;
}

void trace_log_write(const char* text, size_t len)
{
    AcquireSRWLockExclusive(&g_log_lock);
    if (g_log != INVALID_HANDLE_VALUE)
        write_lines(text, len);
    ReleaseSRWLockExclusive(&g_log_lock);
}

void trace_log_close()
{
    AcquireSRWLockExclusive(&g_log_lock);
    close_log();
    ReleaseSRWLockExclusive(&g_log_lock);
}
