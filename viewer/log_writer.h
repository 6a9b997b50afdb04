// The log file's writer: a thread of its own writes the bytes the window's
// thread hands it and puts them on disk, so that a slow disk or share never
// keeps a sender waiting.  Each file has its own writer.
#pragma once

#include <windows.h>

#include <string>

struct LogWriter;

// The log file's size is bounded: before a write would take it past
// log_bytes_max, it is renamed to "<file>.1" (an older one replaced) and a
// new file is begun.  A writer's later rollovers come at least ten minutes
// apart unless the file reaches four times the bound: output that floods the
// log cannot push older lines out at will.
constexpr unsigned long long log_bytes_max = 64ull * 1024 * 1024;

// Opens the log file at path (absolute) for appending through the checked
// opening of base/log_file.h: a link, a folder, a file with a second name or
// another account's file is refused.  INVALID_HANDLE_VALUE with the reason
// in *why ("it is a folder", "could not be opened: Access is denied. (error
// 5)").
HANDLE open_log_file(const std::string& path, std::string* why);

// A writer for file (opened for appending at path by open_log_file), which it then owns;
// nullptr (the file closed) when no thread can be had.  Its first failure
// is told to failed, on the writer's thread or the caller's (the error, 0
// when the disk did not keep up).
using WriterFailed = void (*)(DWORD error);
LogWriter* start_writer(HANDLE file, const std::string& path, unsigned long long bytes_max, WriterFailed failed);

// Hands bytes to the writer; past what it may hold, the disk counts as not
// keeping up.
void writer_queue(LogWriter* writer, const std::string& bytes);

// Lets the writer write what it was given, put it on disk and end; then
// closes the file.  False when anything failed, or the writer was still
// stuck on its disk after a while (it is then left to the process's end).
bool stop_writer(LogWriter* writer);

// All of bytes, or false with the reason in the last error: a write that
// takes only part (a disk filling up) goes on with the rest, which then
// fails with the disk's own error.
bool write_all(HANDLE file, const std::string& bytes);

// The system's words for an error, and its number: "Access is denied.
// (error 5)".
std::string system_reason(DWORD error);
