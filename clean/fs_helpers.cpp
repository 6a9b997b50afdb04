#include "clean/fs_helpers.h"

#include <windows.h>
#include <sddl.h>

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

// One read buffer for every INF file: large blocks for the multi-megabyte
// INF files of graphics and chipset packages, and nothing allocated per file
// or in proportion to one.  Only one thread sweeps.
constexpr size_t read_block_size = 256 * 1024;
unsigned char shared_read_buffer[read_block_size];

// The device ID in the two forms a file may hold it: as given, for 8-bit
// files, and in UTF-16 for files that begin with the UTF-16LE byte-order mark.
struct InfSearch {
    InfMatcher bytes;
    InfMatcher16 wide;
    bool has_wide;  // the ID converts to UTF-16
};

// Reads the file in binary blocks; the matcher applies the text-mode rules
// itself (CR dropped, 0x1A ends the file), so an 8-bit file matches as it
// would through the text-mode stream.  Returns 1 on a match, 0 without one,
// -1 when the file cannot be opened.
int file_has_text(const char* path, const InfSearch* search)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;

    InfMatchState state;
    inf_match_start(&state);
    bool first_block = true;
    bool wide = false;
    size_t carry = 0;  // the first byte of a UTF-16 character cut by the last block
    int found = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, shared_read_buffer + carry, static_cast<DWORD>(read_block_size - carry), &read,
                      nullptr) ||
            read == 0)
            break;
        const unsigned char* block = shared_read_buffer;
        size_t count = carry + read;
        if (first_block) {
            first_block = false;
            if (count >= 2 && block[0] == 0xFF && block[1] == 0xFE) {
                wide = true;
                block += 2;
                count -= 2;
            }
        }
        if (wide && !search->has_wide)
            break;
        if (wide) {
            size_t even = count & ~static_cast<size_t>(1);
            found = inf_match16_block(&search->wide, &state, block, even);
            carry = count - even;
            if (carry != 0)
                shared_read_buffer[0] = block[even];
        } else {
            found = inf_match_block(&search->bytes, &state, block, count);
        }
        if (found || state.ended)
            break;
    }
    CloseHandle(file);
    if (!found)
        found = inf_match_end(wide ? search->wide.text_len : search->bytes.text_len, &state);
    return found;
}

// The path the platform resolved an open handle to, into out
// (path_buffer_size bytes); false when it is not known whole.
bool final_path(HANDLE handle, char* out)
{
    DWORD len = GetFinalPathNameByHandleA(handle, out, path_buffer_size, FILE_NAME_NORMALIZED);
    return len != 0 && len < path_buffer_size;
}

// True when file_final names an entry directly inside folder_final.
bool directly_inside(const char* file_final, const char* folder_final)
{
    size_t folder_len = strlen(folder_final);
    if (strlen(file_final) <= folder_len + 1 ||
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, file_final, static_cast<int>(folder_len), folder_final,
                       static_cast<int>(folder_len)) != CSTR_EQUAL)
        return false;
    return file_final[folder_len] == '\\' && strchr(file_final + folder_len + 1, '\\') == nullptr;
}

// Deletes one file of our own copy.  The file is opened by its name
// itself, never a link's target, and judged and deleted through that one
// handle, so nobody can swap the name between the check and the delete.
// Anything but a plain file that resolves to an entry of the copy itself
// is left alone: a platform that follows a host's links (Wine does) shows
// the link's target only in the resolved path.
bool delete_copied_file(const char* path, const char* folder_final)
{
    HANDLE file = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;

    bool deleted = false;
    FILE_BASIC_INFO basic;
    char file_final[path_buffer_size];
    if (GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
        final_path(file, file_final) && directly_inside(file_final, folder_final)) {
        if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
            // Copies keep the store's read-only flag, which forbids the
            // delete.  Zero times mean "leave as they are".
            basic.CreationTime.QuadPart = 0;
            basic.LastAccessTime.QuadPart = 0;
            basic.LastWriteTime.QuadPart = 0;
            basic.ChangeTime.QuadPart = 0;
            basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            if (basic.FileAttributes == 0)
                basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
        }
        FILE_DISPOSITION_INFO disposition;
        disposition.DeleteFile = TRUE;
        deleted = SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    }
    CloseHandle(file);
    return deleted;
}

} // namespace

void* private_folder_descriptor()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    alignas(TOKEN_OWNER) BYTE owner_buffer[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    BOOL got = GetTokenInformation(token, TokenOwner, owner_buffer, sizeof owner_buffer, &size);
    CloseHandle(token);
    char* owner = nullptr;
    if (!got || !ConvertSidToStringSidA(reinterpret_cast<TOKEN_OWNER*>(owner_buffer)->Owner, &owner))
        return nullptr;

    char sddl[512];
    int len = snprintf(sddl, sizeof sddl, "D:P(A;OICI;FA;;;%s)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", owner);
    LocalFree(owner);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (len < 0 || static_cast<size_t>(len) >= sizeof sddl ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return descriptor;
}


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

    InfSearch search;
    if (!inf_match_init(&search.bytes, text)) {
        // No line of a file this tool reads can hold a longer device ID.
        FindClose(listing);
        return 0;
    }
    // The ID as UTF-16, converted from the process's code page.
    static_assert(sizeof(wchar_t) == sizeof(uint16_t), "UTF-16 characters");
    wchar_t wide[inf_match_text_max + 1];
    int wide_len = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, static_cast<int>(inf_match_text_max + 1));
    uint16_t units[inf_match_text_max];
    for (int i = 0; i + 1 < wide_len; ++i)
        units[i] = static_cast<uint16_t>(wide[i]);
    search.has_wide = wide_len > 0 && inf_match16_init(&search.wide, units, static_cast<size_t>(wide_len - 1));

    int found = 0;
    do {
        char file_path[path_buffer_size];
        if (!join_path(file_path, folder, "\\", entry.cFileName))
            continue;
        if (file_has_text(file_path, &search) != 1)
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
    attributes.lpSecurityDescriptor = private_folder_descriptor();
    attributes.bInheritHandle = FALSE;
    // Without the descriptor the folder would be open to whoever may write
    // into the temporary folder: no folder rather than that one.
    BOOL made = attributes.lpSecurityDescriptor != nullptr && CreateDirectoryA(temp_name, &attributes);
    DWORD error = GetLastError();
    LocalFree(attributes.lpSecurityDescriptor);
    if (!made) {
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
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // The copy is flat: an uninstall from it lacks whatever a
            // subfolder holds, which the trace must show.
            if (!is_dot_or_dot_dot(entry.cFileName))
                TRACE_STEP("Subfolder %s\\%s left out of the copy", source, entry.cFileName);
            continue;
        }
        char source_path[path_buffer_size];
        char target_path[path_buffer_size];
        target_path[0] = '\0';
        bool fits = join_path(source_path, source, "\\", entry.cFileName) &&
                    join_path(target_path, destination, "\\", entry.cFileName);
        // Never over a file that is already there: in a fresh folder of
        // ours, someone else put it there.
        if (!fits || !CopyFileA(source_path, target_path, TRUE)) {
            TRACE_STEP("Copy from %s to %s failed", source_path, target_path);
            result = 0;
        }
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return result;
}

int destroy_path(const char* path)
{
    TRACE_STEP("Destroy path: %s", path);
    WIN32_FIND_DATAA entry;
    HANDLE listing = open_listing(path, "*.*", &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return 0;

    // Held open without delete sharing, the folder can be neither renamed
    // nor replaced while its files go; its resolved path is what each file
    // must resolve into.
    char folder_final[path_buffer_size];
    HANDLE folder = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool folder_known = folder != INVALID_HANDLE_VALUE && final_path(folder, folder_final);

    int result = 1;
    do {
        bool is_directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (is_directory && is_dot_or_dot_dot(entry.cFileName))
            continue;
        // The copy is flat: a folder or a link in it is not ours and stays.
        bool plain = (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        char entry_path[path_buffer_size];
        bool fits = join_path(entry_path, path, "\\", entry.cFileName) != 0;
        if (!fits || !plain || !folder_known || !delete_copied_file(entry_path, folder_final)) {
            TRACE_STEP("Delete file %s failed", entry_path);
            result = 0;
        }
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    if (folder != INVALID_HANDLE_VALUE)
        CloseHandle(folder);

    RemoveDirectoryA(path);
    return result;
}
