#include "support/test_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {
std::string parent_of(const std::string& path)
{
    size_t cut = path.find_last_of('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}
} // namespace

bool make_dirs(const std::string& path)
{
    if (path.empty() || dir_exists(path))
        return true;
    std::string parent = parent_of(path);
    if (!parent.empty() && parent.size() > 2 && !make_dirs(parent))
        return false;
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool write_file(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string read_file(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

bool file_exists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool dir_exists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void remove_tree(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(path.c_str()))
            RemoveDirectoryA(path.c_str());
        return;
    }
    for (const std::string& name : list_names(path + "\\*"))
        remove_tree(path + "\\" + name);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

std::vector<std::string> list_names(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(pattern.c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return names;
}

std::string temp_folder()
{
    char path[MAX_PATH + 1];
    DWORD len = GetTempPathA(sizeof path, path);
    return std::string(path, len);
}

std::vector<std::string> dev_temp_entries()
{
    return list_names(temp_folder() + "Dev*");
}

std::string fresh_work_folder(const std::string& name)
{
    char path[MAX_PATH * 4];
    DWORD len = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, len);
    folder = folder.substr(0, folder.find_last_of('\\')) + "\\work\\" + name;
    remove_tree(folder);
    make_dirs(folder);
    return folder;
}

std::string tree_snapshot(const std::string& root)
{
    std::string out;
    std::vector<std::string> names = list_names(root + "\\*");
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string path = root + "\\" + name;
        if (dir_exists(path)) {
            out += "D " + path + "\n" + tree_snapshot(path);
        } else {
            std::string bytes = read_file(path);
            out += "F " + path + " " + std::to_string(bytes.size()) + " " +
                   std::to_string(std::hash<std::string>()(bytes)) + "\n";
        }
    }
    return out;
}

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> split_tabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t end = line.find('\t', start);
        fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return fields;
}

std::string test_name()
{
    return testing::UnitTest::GetInstance()->current_test_info()->name();
}

std::string system_dir()
{
    char path[MAX_PATH];
    UINT len = GetSystemDirectoryA(path, sizeof path);
    return std::string(path, len);
}

bool host_shell(const std::string& command)
{
    std::string line = "/bin/sh -c \"" + command + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA("Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

std::string host_path(const std::string& path)
{
    using unix_name_function = char*(CDECL*)(const WCHAR*);
    static const auto unix_name = reinterpret_cast<unix_name_function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (unix_name == nullptr)
        return std::string();
    std::wstring wide(path.begin(), path.end());
    char* name = unix_name(wide.c_str());
    std::string out = name != nullptr ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}
