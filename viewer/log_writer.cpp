#include "viewer/log_writer.h"

#include <stdio.h>

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

} // namespace

struct LogWriter {
    HANDLE file;
    std::string path;
    unsigned long long bytes_max;
    unsigned long long size;  // of the file, as the writer thread knows it
    HANDLE thread;
    HANDLE wake;  // auto-reset: bytes queued, or the end asked for
    WriterFailed told;
    CRITICAL_SECTION lock;  // guards what follows
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

// The full file becomes "<file>.1" and a new one is begun; false with the
// reason in the last error when no file can be had to go on with.  A file
// that cannot be renamed (a program reading it holds it open without
// letting it be renamed) goes on growing rather than losing lines, and is
// not tried again.
bool roll_over(LogWriter* writer)
{
    if (!FlushFileBuffers(writer->file))
        return false;
    CloseHandle(writer->file);
    if (!MoveFileExA(writer->path.c_str(), (writer->path + ".1").c_str(), MOVEFILE_REPLACE_EXISTING))
        writer->bytes_max = ~0ull;
    writer->file = CreateFileA(writer->path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer->file == INVALID_HANDLE_VALUE)
        return false;
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
        WaitForSingleObject(writer->wake, wait);
        std::string bytes;
        EnterCriticalSection(&writer->lock);
        bytes.swap(writer->queued);
        bool stop = writer->stop;
        bool failed = writer->failed;
        LeaveCriticalSection(&writer->lock);
        if (!failed && !bytes.empty() && writer->size > 0 && writer->size + bytes.size() > writer->bytes_max) {
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
    LogWriter* writer = new LogWriter{file,    path,    bytes_max, static_cast<unsigned long long>(size.QuadPart),
                                      nullptr, nullptr, failed,    {},
                                      std::string(), false, false};
    InitializeCriticalSection(&writer->lock);
    writer->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (writer->wake != nullptr)
        writer->thread = CreateThread(nullptr, 0, write_log, writer, 0, nullptr);
    if (writer->thread != nullptr)
        return writer;
    if (writer->wake != nullptr)
        CloseHandle(writer->wake);
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
        SetEvent(writer->wake);
    else if (behind)
        writer_failed(writer, 0);
}

bool stop_writer(LogWriter* writer)
{
    EnterCriticalSection(&writer->lock);
    writer->stop = true;
    LeaveCriticalSection(&writer->lock);
    SetEvent(writer->wake);
    // The caller's exit code tells of a failure even when its note comes too
    // late for the list.
    if (WaitForSingleObject(writer->thread, writer_end_ms) != WAIT_OBJECT_0)
        return false;
    bool failed = writer->failed;
    CloseHandle(writer->thread);
    CloseHandle(writer->wake);
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
