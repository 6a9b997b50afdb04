// Whether a path leads into the system INF folder is decided by what the
// path opens, not by its text: a link, junction, mapped drive or device
// spelling can name the folder in text that looks like any other.
#include "backend/package_paths.h"

#include <vector>

#include "backend/backend_log.h"
#include "backend/platform.h"
#include "base/path_kind.h"

namespace {

// Longest path the wide calls take, with its NUL.
constexpr DWORD long_path_max = 32768;

bool starts_with(const std::wstring& text, const wchar_t* prefix)
{
    std::wstring head = text.substr(0, wcslen(prefix));
    return same_text(head, prefix);
}

// "\\?\C:\x" -> "C:\x", "\\?\UNC\srv\x" -> "\\srv\x".
std::wstring without_prefix(const std::wstring& path)
{
    if (starts_with(path, L"\\\\?\\UNC\\"))
        return L"\\\\" + path.substr(8);
    if (starts_with(path, L"\\\\?\\"))
        return path.substr(4);
    return path;
}

HANDLE open_for_identity(const std::wstring& path)
{
    return CreateFileW(extended(path).c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The final path of what handle names, without "\\?\"; empty on failure.
std::wstring final_path(HANDLE handle)
{
    std::vector<wchar_t> buffer(long_path_max);
    DWORD len = GetFinalPathNameByHandleW(handle, buffer.data(), long_path_max, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (len == 0 || len >= long_path_max)
        return std::wstring();
    return without_prefix(std::wstring(buffer.data(), len));
}

struct Identity {
    bool known;
    DWORD volume, high, low;
};

Identity identity_of(const std::wstring& folder)
{
    Identity id = {false, 0, 0, 0};
    std::wstring path = folder;
    if (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    HANDLE handle = open_for_identity(path);
    if (handle == INVALID_HANDLE_VALUE)
        return id;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info)) {
        id = {true, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    }
    CloseHandle(handle);
    return id;
}

// Full and long: ".." and "/" resolved, 8.3 names made long.
bool full_long_path(const std::wstring& raw, std::wstring* out)
{
    std::vector<wchar_t> full(long_path_max);
    DWORD len = GetFullPathNameW(raw.c_str(), long_path_max, full.data(), nullptr);
    if (len == 0 || len >= long_path_max)
        return false;
    std::wstring path(full.data(), len);
    std::vector<wchar_t> long_name(long_path_max);
    DWORD long_len = GetLongPathNameW(extended(path).c_str(), long_name.data(), long_path_max);
    *out = long_len != 0 && long_len < long_path_max ? without_prefix(std::wstring(long_name.data(), long_len)) : path;
    return true;
}

} // namespace

std::wstring extended(const std::wstring& path)
{
    if (starts_with(path, L"\\\\?\\"))
        return path;
    if (starts_with(path, L"\\\\"))
        return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

std::wstring file_name(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring folder_of(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool read_whole(const std::wstring& path, std::string* bytes)
{
    HANDLE file = CreateFileW(extended(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    std::vector<char> chunk(65536);
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) != 0) && read > 0)
        bytes->append(chunk.data(), read);
    CloseHandle(file);
    return ok;
}

bool file_exists(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(extended(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring inf_folder()
{
    wchar_t windows[MAX_PATH];
    UINT len = platform().system_windows_directory(windows, MAX_PATH);
    if (len == 0 || len >= MAX_PATH)
        return std::wstring();
    HANDLE handle = open_for_identity(std::wstring(windows, len) + L"\\INF");
    if (handle == INVALID_HANDLE_VALUE)
        return std::wstring();
    std::wstring folder = final_path(handle);
    CloseHandle(handle);
    return folder.empty() ? folder : folder + L"\\";
}

DWORD check_inf(const char* inf, std::wstring* canonical)
{
    if (inf == nullptr || !is_absolute_path(inf))
        return fail(ERROR_FILE_NOT_FOUND, "the INF path is not absolute", widen(inf));
    std::wstring given = widen(inf);
    // The device namespace reaches any volume or object under a name no
    // folder check would recognise.
    if (starts_with(given, L"\\\\.\\") || starts_with(given, L"\\\\?\\GLOBALROOT"))
        return fail(ERROR_CANT_ACCESS_FILE, "the INF path is a device path", given);
    std::wstring path;
    if (!full_long_path(without_prefix(given), &path))
        return fail(ERROR_FILE_NOT_FOUND, "the INF path cannot be used", given);

    HANDLE handle = open_for_identity(path);
    if (handle == INVALID_HANDLE_VALUE)
        return fail(ERROR_FILE_NOT_FOUND, "no such INF file", path);
    BY_HANDLE_FILE_INFORMATION info = {};
    bool have_info = GetFileInformationByHandle(handle, &info) != 0;
    std::wstring final = final_path(handle);
    CloseHandle(handle);
    if (!have_info || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail(ERROR_FILE_NOT_FOUND, "no such INF file", path);
    if (final.empty() || !same_text(final, path))
        return fail(ERROR_CANT_ACCESS_FILE, "the INF path goes through a link, junction or mapped drive", path);
    if (info.nNumberOfLinks > 1)
        return fail(ERROR_CANT_ACCESS_FILE, "the INF file has other names (hard links)", path);

    std::wstring system_folder = inf_folder();
    Identity system_id = identity_of(system_folder);
    Identity own_id = identity_of(folder_of(final));
    if (system_folder.empty() || !system_id.known || !own_id.known)
        return fail(ERROR_CANT_ACCESS_FILE, "the system INF folder cannot be told apart", path);
    if (same_text(folder_of(final), system_folder) ||
        (own_id.volume == system_id.volume && own_id.high == system_id.high && own_id.low == system_id.low))
        return fail(ERROR_CANT_ACCESS_FILE, "the INF file is inside the system INF folder", final);
    *canonical = final;
    return ERROR_SUCCESS;
}
