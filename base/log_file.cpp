#include "base/log_file.h"

#include <aclapi.h>
#include <sddl.h>

#include <string.h>

#include "base/sizes.h"
#include "base/token_sid.h"

namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Appending, and what the checks read through the same handle.
constexpr DWORD log_access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

bool refuse(LogFileProblem* problem, const char* why, DWORD error)
{
    problem->why = why;
    problem->error = error;
    return false;
}

// The running account's SID into user, and the owner its new objects get
// (the user, or a group of its token such as Administrators) into owner;
// SECURITY_MAX_SID_SIZE bytes each.
bool running_user(BYTE* user, BYTE* owner)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    bool got = token_sid(token, TokenUser, user) && token_sid(token, TokenOwner, owner);
    CloseHandle(token);
    return got;
}

// A security descriptor granting SYSTEM, Administrators and the running
// user all access, protected from what the folder would pass on; nullptr
// when it cannot be made.  LocalFree it.
PSECURITY_DESCRIPTOR own_descriptor()
{
    BYTE user[SECURITY_MAX_SID_SIZE];
    BYTE owner[SECURITY_MAX_SID_SIZE];
    char* user_text = nullptr;
    if (!running_user(user, owner) || !ConvertSidToStringSidA(user, &user_text))
        return nullptr;
    char sddl[256];
    size_t len = strlen(user_text);
    const char head[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sizeof head - 1 + len + 2 <= sizeof sddl) {
        memcpy(sddl, head, sizeof head - 1);
        memcpy(sddl + sizeof head - 1, user_text, len);
        memcpy(sddl + sizeof head - 1 + len, ")", 2);
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
            descriptor = nullptr;
    }
    LocalFree(user_text);
    return descriptor;
}

// The path the platform resolved an open handle to, without its "\\?\"
// (or with "\\?\UNC\" as "\\"); false when it is not known whole.
bool final_path(HANDLE handle, char* out)
{
    char raw[path_buffer_size];
    DWORD len = GetFinalPathNameByHandleA(handle, raw, sizeof raw, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (len == 0 || len >= sizeof raw)
        return false;
    const char* rest = raw;
    size_t lead = 0;
    if (strncmp(raw, "\\\\?\\UNC\\", 8) == 0) {
        rest = raw + 8;
        out[0] = out[1] = '\\';
        lead = 2;
    } else if (strncmp(raw, "\\\\?\\", 4) == 0) {
        rest = raw + 4;
    }
    size_t rest_len = strlen(rest);
    if (lead + rest_len >= path_buffer_size)
        return false;
    memcpy(out + lead, rest, rest_len + 1);
    return true;
}

bool same_path(const char* a, const char* b)
{
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

// The asked path in the form a final path takes: absolute, no "." or "..",
// short names made long.  The file exists by now.
bool asked_path(const char* path, char* out)
{
    char full[path_buffer_size];
    DWORD len = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (len == 0 || len >= sizeof full)
        return false;
    len = GetLongPathNameA(full, out, path_buffer_size);
    if (len == 0) {
        memcpy(out, full, strlen(full) + 1);
        return true;
    }
    return len < path_buffer_size;
}

// The owner may be SYSTEM, Administrators or the running user (or the owner
// the running user's new objects get): an object of anybody else's was put
// there for this program to use.  without_owner: what an object without an
// owner counts as.
bool trusted_owner(HANDLE handle, SE_OBJECT_TYPE type, bool without_owner)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor) !=
        ERROR_SUCCESS)
        return false;
    BYTE user[SECURITY_MAX_SID_SIZE];
    BYTE own[SECURITY_MAX_SID_SIZE];
    bool trusted = owner == nullptr
                       ? without_owner
                       : IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                             (running_user(user, own) && (EqualSid(owner, user) || EqualSid(owner, own)));
    LocalFree(descriptor);
    return trusted;
}

// The checks of an opened handle against the path asked for.
bool judge(HANDLE handle, const char* path, LogFileProblem* problem)
{
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard))
        return refuse(problem, "cannot be checked", GetLastError());
    if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || standard.Directory)
        return refuse(problem, "is a folder", 0);
    if (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return refuse(problem, "is a link (a reparse point)", 0);
    if (standard.NumberOfLinks != 1)
        return refuse(problem, "has more than one name (a hard link)", 0);
    char final[path_buffer_size];
    char asked[path_buffer_size];
    if (!final_path(handle, final) || !asked_path(path, asked))
        return refuse(problem, "cannot be checked", GetLastError());
    if (!same_path(final, asked))
        return refuse(problem, "is reached through a link (its final path is another)", 0);
    if (!trusted_owner(handle, SE_FILE_OBJECT, false))
        return refuse(problem, "is owned by an account other than SYSTEM, Administrators or this one", 0);
    return true;
}

// Removes a file this process has just created in the wrong place.
void undo_create(HANDLE handle)
{
    HANDLE deleting = ReOpenFile(handle, DELETE | SYNCHRONIZE, share_all, FILE_FLAG_OPEN_REPARSE_POINT);
    if (deleting == INVALID_HANDLE_VALUE)
        return;
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(deleting, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(deleting);
}

} // namespace

HANDLE log_file_open(const char* path, DWORD share, LogFileProblem* problem)
{
    share |= FILE_SHARE_DELETE;
    PSECURITY_DESCRIPTOR descriptor = own_descriptor();
    if (descriptor == nullptr) {
        refuse(problem, "cannot be given an access list of its own", GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE file = INVALID_HANDLE_VALUE;
    bool created = false;
    DWORD error = 0;
    // A file that appears or goes between the two opens is tried again.
    for (int attempt = 0; attempt < 3 && file == INVALID_HANDLE_VALUE; ++attempt) {
        // Never through a link at the name itself: a reparse point opens as
        // what it is and is refused.
        file = CreateFileA(path, log_access, share, &attributes, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        created = file != INVALID_HANDLE_VALUE;
        error = GetLastError();
        if (!created && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)) {
            file = CreateFileA(path, log_access, share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            error = GetLastError();
            if (file == INVALID_HANDLE_VALUE && error == ERROR_FILE_NOT_FOUND)
                continue;
        }
        break;
    }
    LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD attributes_now = GetFileAttributesA(path);
        if (attributes_now != INVALID_FILE_ATTRIBUTES && (attributes_now & FILE_ATTRIBUTE_DIRECTORY))
            refuse(problem, "is a folder", 0);
        else
            refuse(problem, log_open_failed, error);
        return INVALID_HANDLE_VALUE;
    }
    if (!judge(file, path, problem)) {
        if (created)
            undo_create(file);
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

int log_file_roll(HANDLE file, LogFileProblem* problem)
{
    char final[path_buffer_size];
    if (!final_path(file, final)) {
        refuse(problem, "cannot be checked", GetLastError());
        return 0;
    }
    char* leaf = strrchr(final, '\\');
    if (leaf == nullptr) {
        refuse(problem, "cannot be checked", ERROR_BAD_PATHNAME);
        return 0;
    }
    size_t folder_len = static_cast<size_t>(leaf - final);
    size_t final_len = strlen(final);
    if (final_len + log_older_suffix_length >= path_buffer_size) {
        refuse(problem, "has too long a name for its older generation", ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }

    // The folder the file really is in, held open: the rename resolves the
    // new name in it, so a link put in the path since cannot move the file
    // anywhere else.
    char folder[path_buffer_size];
    memcpy(folder, final, folder_len);
    folder[folder_len] = '\0';
    if (folder_len == 2 && folder[1] == ':')
        memcpy(folder + 2, "\\", 2);
    // Held without letting it be renamed or deleted meanwhile.
    HANDLE folder_handle = CreateFileA(folder, FILE_READ_ATTRIBUTES | FILE_TRAVERSE | SYNCHRONIZE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder_handle == INVALID_HANDLE_VALUE) {
        refuse(problem, "is in a folder that cannot be held for its rollover", GetLastError());
        return 0;
    }
    char folder_final[path_buffer_size];
    FILE_BASIC_INFO folder_basic;
    if (!GetFileInformationByHandleEx(folder_handle, FileBasicInfo, &folder_basic, sizeof folder_basic) ||
        (folder_basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !final_path(folder_handle, folder_final) ||
        strlen(folder_final) != folder_len + (folder_final[folder_len] == '\\' ? 1 : 0) ||
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, folder_final,
                                                            static_cast<int>(folder_len), final,
                                                            static_cast<int>(folder_len)) != CSTR_EQUAL) {
        CloseHandle(folder_handle);
        refuse(problem, "is in a folder that was replaced by a link", 0);
        return 0;
    }

    char older[path_buffer_size];
    memcpy(older, final, final_len);
    memcpy(older + final_len, log_older_suffix, sizeof log_older_suffix);
    bool fit = true;
    HANDLE existing = CreateFileA(older, FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE, share_all, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        LogFileProblem older_problem;
        fit = judge(existing, older, &older_problem);
        CloseHandle(existing);
        if (!fit)
            refuse(problem,
                   older_problem.error == 0 ? "cannot move to its older generation, which is a folder, a link or "
                                              "another account's file"
                                            : "cannot move to its older generation, which cannot be checked",
                   older_problem.error);
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        fit = refuse(problem, "cannot move to its older generation, which cannot be checked", GetLastError());
    }

    int rolled = 0;
    if (fit) {
        // The new name relative to the folder's handle: "FILE_RENAME_INFO
        // structure (winbase.h)" lets RootDirectory name the folder a
        // relative FileName is resolved in.
        union {
            FILE_RENAME_INFO info;
            BYTE bytes[sizeof(FILE_RENAME_INFO) + path_buffer_size * sizeof(WCHAR)];
        } rename = {};
        int wide_len = MultiByteToWideChar(CP_ACP, 0, older + folder_len + 1, -1, rename.info.FileName,
                                           static_cast<int>(path_buffer_size));
        HANDLE deleting = wide_len > 1 ? ReOpenFile(file, DELETE | SYNCHRONIZE, share_all, FILE_FLAG_OPEN_REPARSE_POINT)
                                       : INVALID_HANDLE_VALUE;
        if (deleting == INVALID_HANDLE_VALUE) {
            refuse(problem, "cannot move to its older generation", GetLastError());
        } else {
            rename.info.ReplaceIfExists = TRUE;
            rename.info.RootDirectory = folder_handle;
            rename.info.FileNameLength = static_cast<DWORD>(wide_len - 1) * sizeof(WCHAR);
            BOOL renamed = SetFileInformationByHandle(deleting, FileRenameInfo, &rename,
                                                      sizeof(FILE_RENAME_INFO) + rename.info.FileNameLength);
            if (!renamed && GetLastError() == ERROR_INVALID_PARAMETER) {
                // Wine makes every name absolute from the current folder
                // and then refuses a RootDirectory: there the full name in
                // the held folder, which nobody can rename meanwhile.
                wide_len = MultiByteToWideChar(CP_ACP, 0, older, -1, rename.info.FileName,
                                               static_cast<int>(path_buffer_size));
                rename.info.RootDirectory = nullptr;
                rename.info.FileNameLength = wide_len > 1 ? static_cast<DWORD>(wide_len - 1) * sizeof(WCHAR) : 0;
                renamed = wide_len > 1 && SetFileInformationByHandle(deleting, FileRenameInfo, &rename,
                                                                     sizeof(FILE_RENAME_INFO) +
                                                                         rename.info.FileNameLength);
            }
            if (renamed)
                rolled = 1;
            else
                refuse(problem, "cannot move to its older generation", GetLastError());
            CloseHandle(deleting);
        }
    }
    CloseHandle(folder_handle);
    return rolled;
}

HANDLE log_turn_open(const char* path, LogFileProblem* problem)
{
    // A mutex name of the path, letter case aside.
    unsigned long long hash = 14695981039346656037ull;
    for (const char* p = path; *p != '\0'; ++p) {
        char c = *p >= 'A' && *p <= 'Z' ? static_cast<char>(*p - 'A' + 'a') : *p;
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char name[48] = "Local\\Tavenor.log.";
    size_t at = strlen(name);
    for (int shift = 60; shift >= 0; shift -= 4)
        name[at++] = "0123456789ABCDEF"[(hash >> shift) & 15];
    name[at] = '\0';

    PSECURITY_DESCRIPTOR descriptor = own_descriptor();
    if (descriptor == nullptr) {
        refuse(problem, "has no turn that can be given an access list", GetLastError());
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE turn = CreateMutexA(&attributes, FALSE, name);
    DWORD error = GetLastError();
    LocalFree(descriptor);
    if (turn == nullptr) {
        refuse(problem, "has a turn that cannot be opened (another account may have made it)", error);
        return nullptr;
    }
    if (error == ERROR_ALREADY_EXISTS && !trusted_owner(turn, SE_KERNEL_OBJECT, true)) {
        CloseHandle(turn);
        refuse(problem, "has a turn that another account made", 0);
        return nullptr;
    }
    return turn;
}
