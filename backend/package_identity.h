// Which file in the system INF folder is a package's staged copy.
#pragma once

#include <windows.h>

#include <string>

// Windows publishes every third-party package in the system INF folder as
// "oem<n>.inf"; nothing else there is ours to remove.
bool is_published_name(const std::wstring& name);

// The staged copy of the package at inf: the one published INF whose bytes
// equal inf's and, where the package names a catalog, whose installed
// catalog (oem<n>.cat in the system catalog store, or the copy in the
// package's driver-store folder) equals the one beside inf.  Empty when
// none is; empty too where it cannot be decided, with *undecided set to
// why (else 0): ERROR_INVALID_CATALOG_DATA when the catalog the INF names
// cannot be read beside it, ERROR_ALREADY_EXISTS when several copies match
// (they cannot be told apart).  An uninstall must not take those for "not
// in the store".
std::wstring find_staged_copy(const std::wstring& inf, DWORD* undecided);
