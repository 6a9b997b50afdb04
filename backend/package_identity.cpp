// A package is known by what it is, not by its name: an inbox INF, a copy
// of one or a file of the same name is never taken for a staged package.
#include "backend/package_identity.h"

#include <windows.h>

#include <vector>

#include "backend/backend_log.h"
#include "backend/inf_file.h"
#include "backend/package_paths.h"
#include "backend/platform.h"

namespace {

// Where Windows installs the catalog of a staged package as oem<n>.cat.
constexpr wchar_t catalog_store[] = L"\\System32\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\";

std::wstring installed_catalog(const std::wstring& published)
{
    wchar_t windows[MAX_PATH];
    UINT len = platform().system_windows_directory(windows, MAX_PATH);
    if (len == 0 || len >= MAX_PATH)
        return std::wstring();
    std::wstring name = file_name(published);
    return std::wstring(windows, len) + catalog_store + name.substr(0, name.size() - 4) + L".cat";
}

// The package's folder in the driver store, where the platform says.
std::wstring store_folder(const std::wstring& published)
{
    if (platform().inf_driver_store_location == nullptr)
        return std::wstring();
    std::vector<wchar_t> location(MAX_PATH * 4);
    if (!platform().inf_driver_store_location(published.c_str(), nullptr, nullptr, location.data(),
                                              static_cast<DWORD>(location.size()), nullptr))
        return std::wstring();
    return folder_of(location.data());
}

// True when one of the catalogs Windows installed for the published INF
// has the bytes of ours.
bool catalog_matches(const std::string& ours, const std::wstring& catalog, const std::wstring& published)
{
    std::string theirs;
    if (read_whole(installed_catalog(published), &theirs) && theirs == ours)
        return true;
    std::wstring folder = store_folder(published);
    return !folder.empty() && read_whole(folder + catalog, &theirs) && theirs == ours;
}

} // namespace

bool is_published_name(const std::wstring& name)
{
    if (name.size() < 8 || !same_text(name.substr(0, 3), L"oem") || !same_text(name.substr(name.size() - 4), L".inf"))
        return false;
    for (size_t i = 3; i < name.size() - 4; ++i) {
        if (name[i] < L'0' || name[i] > L'9')
            return false;
    }
    return true;
}

std::wstring find_staged_copy(const std::wstring& inf, DWORD* undecided)
{
    *undecided = 0;
    std::string wanted;
    std::wstring folder = inf_folder();
    if (folder.empty() || !read_whole(inf, &wanted)) {
        *undecided = ERROR_CANT_ACCESS_FILE;
        return std::wstring();
    }
    std::wstring catalog = catalog_name(inf);
    std::string our_catalog;
    if (!catalog.empty() && !read_whole(folder_of(inf) + catalog, &our_catalog)) {
        *undecided = difx_invalid_catalog;
        report(difx_log_error, difx_invalid_catalog, "the catalog %s is not beside the INF: its staged copy cannot "
               "be told", narrow(catalog).c_str());
        return std::wstring();
    }

    std::vector<std::wstring> matches;
    std::string bytes;
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(extended(folder + L"oem*.inf").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            if (!is_published_name(entry.cFileName) || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                continue;
            std::wstring candidate = folder + entry.cFileName;
            if (!read_whole(candidate, &bytes) || bytes != wanted)
                continue;
            if (!catalog.empty() && !catalog_matches(our_catalog, catalog, candidate)) {
                report(difx_log_info, 0, "%s has the INF's bytes but another catalog", narrow(candidate).c_str());
                continue;
            }
            matches.push_back(candidate);
        } while (FindNextFileW(listing, &entry));
        FindClose(listing);
    }
    if (matches.size() == 1)
        return matches.front();
    if (matches.size() > 1) {
        *undecided = ERROR_ALREADY_EXISTS;
        report(difx_log_warning, 0, "%u staged copies of %s cannot be told apart", static_cast<unsigned>(matches.size()),
               narrow(inf).c_str());
    }
    return std::wstring();
}
