#include "viewer/log_writer.h"

#include <stdio.h>
#include <string.h>

#include "base/log_file.h"
#include "base/sizes.h"

namespace {

// The log goes to disk at most this long after a line was written: often
// enough that a machine that stops loses almost nothing, seldom enough that
// a burst of lines is not one disk flush per line.
constexpr DWORD flush_interval_ms = 250;
// Bytes handed to the writer and not yet written: past this the disk (a
// stalled share, say) does not keep up, which is said like a failed write.
constexpr size_t log_queue_max = 32u * 1024 * 1024;
// How long a closing viewer waits for its writer to finish the file.
constexpr DWORD writer_end_ms = 10000;
// Every process's debugger output goes into the log, so any process can
// fill it on purpose to push older lines out of both generations.  After a
// writer's first rollover the next waits this long, the file growing past
// its bound meanwhile, up to log_growth_max times the bound, where it rolls
// over anyway so that the disk stays bounded: flooding out what the older
// generation holds takes minutes or several times the bound.
constexpr ULONGLONG rollover_spacing_ms = 10 * 60 * 1000;
constexpr unsigned long long log_growth_max = 4;

} // namespace

struct LogWriter {
    HANDLE file;
    std::string path;
    unsigned long long bytes_max;
    unsigned long long size;  // of the file, as the writer thread knows it
    ULONGLONG rolled_at;      // tick of the last rollover, 0 before the first
    bool stays;               // a rollover was refused: the file grows on
    HANDLE thread;
    WriterFailed told;
    CRITICAL_SECTION lock;  // guards what follows
    // Bytes queued, or the end asked for.  A condition variable, not an
    // event: the window's thread hands bytes over many times a second, and
    // under Wine each signal of an event is a round trip to the server.
    CONDITION_VARIABLE wake;
    std::string queued;
    bool stop;
    bool failed;  // said once; nothing more is written
};

namespace {

// The first failure ends the writing, and the window hears of it.
void writer_failed(LogWriter* writer, DWORD error)
{
    EnterCriticalSection(&writer->lock);
    bool first = !writer->failed;
    writer->failed = true;
    writer->queued.clear();
    LeaveCriticalSection(&writer->lock);
    if (first)
        writer->told(error);
}

// Whether the file is due to roll over before bytes more are written.
bool rollover_due(const LogWriter* writer, size_t bytes)
{
    if (writer->stays || writer->size == 0 || writer->size + bytes <= writer->bytes_max)
        return false;
    if (writer->rolled_at == 0 || GetTickCount64() - writer->rolled_at >= rollover_spacing_ms)
        return true;
    return writer->size + bytes > writer->bytes_max * log_growth_max;
}

// The full file becomes "<file>.1" through its own handle (base/log_file.h)
// and a new one is begun, opened with the same checks as the first; false
// with the reason in the last error when no file can be had to go on with.
// A file that cannot move (a program reading it holds it without letting it
// be renamed, a folder or a link planted at "<file>.1") goes on growing
// rather than losing lines, which a line in the file itself says, and is
// not tried again.
bool roll_over(LogWriter* writer)
{
    if (!FlushFileBuffers(writer->file))
        return false;
    LogFileProblem problem;
    if (!log_file_roll(writer->file, &problem)) {
        writer->stays = true;
        std::string note = std::string("[Corvane] the log file ") + problem.why +
                           (problem.error != 0 ? " (" + system_reason(problem.error) + ")" : std::string()) +
                           "; it goes on growing here past its size bound\r\n";
        writer->size += note.size();
        return write_all(writer->file, note);
    }
    writer->rolled_at = GetTickCount64();
    if (writer->rolled_at == 0)
        writer->rolled_at = 1;
    CloseHandle(writer->file);
    writer->file = log_file_open(writer->path.c_str(), FILE_SHARE_READ, &problem);
    if (writer->file == INVALID_HANDLE_VALUE) {
        // A refusal has no error of its own: the file is not one to write.
        SetLastError(problem.error != 0 ? problem.error : ERROR_CANT_ACCESS_FILE);
        return false;
    }
    LARGE_INTEGER size = {};
    GetFileSizeEx(writer->file, &size);
    writer->size = static_cast<unsigned long long>(size.QuadPart);
    return true;
}

DWORD WINAPI write_log(void* parameter)
{
    LogWriter* writer = static_cast<LogWriter*>(parameter);
    bool dirty = false;  // written, not yet on disk
    ULONGLONG written_at = 0;
    for (;;) {
        DWORD wait = INFINITE;
        if (dirty) {
            ULONGLONG since = GetTickCount64() - written_at;
            wait = since >= flush_interval_ms ? 0 : static_cast<DWORD>(flush_interval_ms - since);
        }
        std::string bytes;
        EnterCriticalSection(&writer->lock);
        if (writer->queued.empty() && !writer->stop && wait != 0)
            SleepConditionVariableCS(&writer->wake, &writer->lock, wait);
        bytes.swap(writer->queued);
        bool stop = writer->stop;
        bool failed = writer->failed;
        LeaveCriticalSection(&writer->lock);
        if (!failed && !bytes.empty() && rollover_due(writer, bytes.size())) {
            if (!roll_over(writer)) {
                writer_failed(writer, GetLastError());
                failed = true;
            }
            dirty = false;
        }
        if (!failed && !bytes.empty()) {
            writer->size += bytes.size();
            if (!write_all(writer->file, bytes)) {
                writer_failed(writer, GetLastError());
                failed = true;
            } else if (!dirty) {
                dirty = true;
                written_at = GetTickCount64();
            }
        }
        if (dirty && (stop || GetTickCount64() - written_at >= flush_interval_ms)) {
            dirty = false;
            if (!failed && !FlushFileBuffers(writer->file))
                writer_failed(writer, GetLastError());
        }
        if (stop)
            return 0;
    }
}

} // namespace

HANDLE open_log_file(const std::string& path, std::string* why)
{
    LogFileProblem problem;
    HANDLE file = path.size() < path_buffer_size ? log_file_open(path.c_str(), FILE_SHARE_READ, &problem)
                                                 : INVALID_HANDLE_VALUE;
    if (path.size() >= path_buffer_size)
        *why = "it has too long a name";
    else if (file == INVALID_HANDLE_VALUE)
        *why = strcmp(problem.why, log_open_failed) == 0
                   ? system_reason(problem.error)
                   : std::string("it ") + problem.why +
                         (problem.error != 0 ? ": " + system_reason(problem.error) : std::string());
    return file;
}

bool write_all(HANDLE file, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr))
            return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += written;
    }
    return true;
}

LogWriter* start_writer(HANDLE file, const std::string& path, unsigned long long bytes_max, WriterFailed failed)
{
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    LogWriter* writer = new LogWriter{file,   path,   bytes_max,     static_cast<unsigned long long>(size.QuadPart),
                                      0,      false,  nullptr,       failed,
                                      {},     CONDITION_VARIABLE_INIT, std::string(), false,
                                      false};
    InitializeCriticalSection(&writer->lock);
    writer->thread = CreateThread(nullptr, 0, write_log, writer, 0, nullptr);
    if (writer->thread != nullptr)
        return writer;
    DeleteCriticalSection(&writer->lock);
    CloseHandle(file);
    delete writer;
    return nullptr;
}

void writer_queue(LogWriter* writer, const std::string& bytes)
{
    EnterCriticalSection(&writer->lock);
    bool taken = !writer->failed && writer->queued.size() + bytes.size() <= log_queue_max;
    bool behind = !writer->failed && !taken;
    if (taken)
        writer->queued += bytes;
    LeaveCriticalSection(&writer->lock);
    if (taken)
        WakeConditionVariable(&writer->wake);
    else if (behind)
        writer_failed(writer, 0);
}

bool stop_writer(LogWriter* writer)
{
    EnterCriticalSection(&writer->lock);
    writer->stop = true;
    LeaveCriticalSection(&writer->lock);
    WakeConditionVariable(&writer->wake);
    // The caller's exit code tells of a failure even when its note comes too
    // late for the list.
    if (WaitForSingleObject(writer->thread, writer_end_ms) != WAIT_OBJECT_0)
        return false;
    bool failed = writer->failed;
    CloseHandle(writer->thread);
    if (writer->file != INVALID_HANDLE_VALUE)
        CloseHandle(writer->file);
    DeleteCriticalSection(&writer->lock);
    delete writer;
    return !failed;
}

std::string system_reason(DWORD error)
{
    char words[256] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, words,
                                  sizeof words, nullptr);
    while (length > 0 && (words[length - 1] == '\n' || words[length - 1] == '\r' || words[length - 1] == ' '))
        words[--length] = '\0';
    char number[32];
    snprintf(number, sizeof number, "(error %lu)", static_cast<unsigned long>(error));
    return length > 0 ? std::string(words) + " " + number : std::string(number);
}
