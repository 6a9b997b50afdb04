#include "clean/fs_helpers.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "clean/inf_match.h"
#include "tracelib/trace.h"

namespace {

// Opens a listing of folder, "\", pattern; traces "Find %s failed" when the
// pattern does not fit or nothing can be listed.
HANDLE open_listing(const char* folder, const char* pattern, WIN32_FIND_DATAA* entry)
{
    char listing_pattern[path_buffer_size];
    HANDLE listing = INVALID_HANDLE_VALUE;
    if (join_path(listing_pattern, folder, "\\", pattern))
        listing = FindFirstFileA(listing_pattern, entry);
    if (listing == INVALID_HANDLE_VALUE && g_debug_trace)
        trace_message("Find %s failed", listing_pattern);
    return listing;
}

// One stream buffer for every INF file, larger than the stream's own:
// fewer reads for the multi-megabyte INF files of graphics and chipset
// packages, and nothing allocated per file.  Only one thread sweeps.
constexpr size_t stream_buffer_size = 64 * 1024;
char shared_stream_buffer[stream_buffer_size];

// Reads the file through the buffered stream in text mode, so that CR LF
// arrives as LF and a 0x1A ends the file.  The stream is ours alone, so the
// unlocked byte read is safe and several times cheaper than fgetc.
// Returns 1 on a match, 0 without one, -1 when the file cannot be opened.
int file_has_text(const char* path, const InfMatcher* matcher)
{
    FILE* file = fopen(path, "rt");
    if (file == nullptr)
        return -1;
    setvbuf(file, shared_stream_buffer, _IOFBF, sizeof shared_stream_buffer);
    int found = inf_match_run(matcher, [file]() {
        int c = _fgetc_nolock(file);
        return c == EOF ? -1 : c;
    });
    fclose(file);
    return found;
}

// Deletes one plain file (or file link).  A read-only copy cannot be
// deleted as it stands; our own copies keep the attributes of the store's
// files, so the flag is cleared and the delete tried once more.
bool delete_entry_file(const char* path, DWORD attributes)
{
    if (DeleteFileA(path))
        return true;
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0)
        return false;
    if (!SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)))
        return false;
    return DeleteFileA(path) != 0;
}

int destroy_level(const char* path, int depth)
{
    TRACE_STEP("Destroy path: %s", path);

    if (depth > destroy_depth_max) {
        // Deeper than any tree this tool makes: left alone, not overflowed.
        TRACE_STEP("Find %s\\*.* failed", path);
        return 0;
    }
    WIN32_FIND_DATAA entry;
    HANDLE listing = open_listing(path, "*.*", &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return 0;

    int result = 1;
    do {
        char entry_path[path_buffer_size];
        bool fits = join_path(entry_path, path, "\\", entry.cFileName) != 0;
        bool is_directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        bool is_link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (is_directory && is_dot_or_dot_dot(entry.cFileName))
            continue;

        bool deleted;
        if (!fits)
            deleted = false;
        else if (!is_directory)
            deleted = delete_entry_file(entry_path, entry.dwFileAttributes);
        else if (is_link)
            // A junction or directory link: remove the link, not its target.
            deleted = RemoveDirectoryA(entry_path) != 0;
        else
            deleted = destroy_level(entry_path, depth + 1) != 0;

        if (!deleted) {
            TRACE_STEP("Delete file %s failed", entry_path);
            result = 0;
            break;
        }
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);

    RemoveDirectoryA(path);
    return result;
}

} // namespace

bool is_dot_or_dot_dot(const char* name)
{
    return (name[0] == '.' && name[1] == '\0') || (name[0] == '.' && name[1] == '.' && name[2] == '\0');
}

int join_path(char* out, const char* folder, const char* separator, const char* name)
{
    int len = snprintf(out, path_buffer_size, "%s%s%s", folder, separator, name);
    return len >= 0 && static_cast<size_t>(len) < path_buffer_size;
}

int find_inf_containing(const char* folder, const char* pattern, const char* text, char* output,
                        uint32_t capacity)
{
    TRACE_STEP("Now search in dir:%s", folder);

    WIN32_FIND_DATAA entry;
    HANDLE listing = open_listing(folder, pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return 0;

    InfMatcher matcher;
    if (!inf_match_init(&matcher, text)) {
        // No line of a file this tool reads can hold a longer device ID.
        FindClose(listing);
        return 0;
    }

    int found = 0;
    do {
        char file_path[path_buffer_size];
        if (!join_path(file_path, folder, "\\", entry.cFileName))
            continue;
        if (file_has_text(file_path, &matcher) != 1)
            continue;
        TRACE_STEP("Find dev_id in file: %s", file_path);
        if (capacity > 0) {
            size_t len = strlen(entry.cFileName);
            if (len > capacity - 1)
                len = capacity - 1;
            memcpy(output, entry.cFileName, len);
            output[len] = '\0';
        }
        found = 1;
        break;
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return found;
}

int make_temp_dir(char* output, uint32_t capacity)
{
    TRACE_STEP("Create temp path...");

    // A return of capacity or more is the length the path needs, not a path.
    DWORD len = GetTempPathA(capacity, output);
    if (len == 0 || len >= capacity) {
        TRACE_STEP("Cannot get temp path");
        return 0;
    }

    char temp_name[path_buffer_size];
    UINT unique = GetTempFileNameA(output, "Dev", 0, temp_name);
    if (unique == 0) {
        TRACE_STEP("Cannot get temp filename, ret = %u", unique);
        return 0;
    }
    DeleteFileA(temp_name);

    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = FALSE;
    if (!CreateDirectoryA(temp_name, &attributes)) {
        DWORD error = GetLastError();
        TRACE_STEP("Cannot CreateDirectory, GetLastError return %08X", static_cast<unsigned>(error));
        return 0;
    }

    size_t name_len = strlen(temp_name);
    if (name_len >= capacity) {
        RemoveDirectoryA(temp_name);
        TRACE_STEP("Cannot get temp path");
        return 0;
    }
    memcpy(output, temp_name, name_len + 1);
    TRACE_STEP("Createed: %s", output);
    return 1;
}

int copy_folder_files(const char* source, const char* destination)
{
    WIN32_FIND_DATAA entry;
    HANDLE listing = open_listing(source, "*.*", &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return 0;

    int result = 1;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        char source_path[path_buffer_size];
        char target_path[path_buffer_size];
        target_path[0] = '\0';
        bool fits = join_path(source_path, source, "\\", entry.cFileName) &&
                    join_path(target_path, destination, "\\", entry.cFileName);
        if (!fits || !CopyFileA(source_path, target_path, FALSE)) {
            TRACE_STEP("Copy from %s to %s failed", source_path, target_path);
            result = 0;
        }
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return result;
}

int destroy_path(const char* path)
{
    return destroy_level(path, 1);
}
