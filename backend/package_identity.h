// Which file in the system INF folder is a package's staged copy.
#pragma once

#include <string>

// Windows publishes every third-party package in the system INF folder as
// "oem<n>.inf"; nothing else there is ours to remove.
bool is_published_name(const std::wstring& name);

// The staged copy of the package at inf: the one published INF whose bytes
// equal inf's and, where the package names a catalog, whose installed
// catalog (oem<n>.cat in the system catalog store, or the copy in the
// package's driver-store folder) equals the one beside inf.  Empty when
// none is, and when several are (they cannot be told apart).
std::wstring find_staged_copy(const std::wstring& inf);
