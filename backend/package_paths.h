// The INF path every entry point is given: its one spelling, and the guard
// that keeps the system INF folder out of reach.  Wide calls throughout,
// so that a path past 260 bytes of UTF-8 works.
#pragma once

#include <windows.h>

#include <string>

// Checks the INF path and gives its one spelling (the file's final path,
// without "\\?\").  ERROR_FILE_NOT_FOUND for a relative or missing INF;
// ERROR_CANT_ACCESS_FILE for a device-namespace spelling ("\\.\",
// "\\?\GLOBALROOT"), a path whose final path differs from it (a symbolic
// link, junction or mapped drive on the way), a file with several names
// (hard links), and any file whose folder is the system INF folder.
DWORD check_inf(const char* inf, std::wstring* canonical);

// The system INF folder's final path with its trailing backslash; empty
// where it cannot be opened.  The system's Windows folder, not the
// per-user one a Remote Desktop host gives.
std::wstring inf_folder();

// A path in the form the file calls take at any length ("\\?\C:\...").
std::wstring extended(const std::wstring& path);

std::wstring file_name(const std::wstring& path);
std::wstring folder_of(const std::wstring& path);  // with its trailing backslash

bool read_whole(const std::wstring& path, std::string* bytes);
bool file_exists(const std::wstring& path);
