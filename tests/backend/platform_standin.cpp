// A documented driver store behind the backend's platform table, for the
// tests' build of the backend (bin/backend-standin/DifxApix64.dll).  Wine
// keeps a staged INF under its own name, has no driver-store locations and
// a device installer that answers TRUE whatever happened; this stand-in
// answers as Microsoft's documentation of each function says, over Wine's
// real INF folder, catalog folder, devices and their driver keys.
//
// A script beside the DLL says what "Windows" decides per case, one
// directive a line:
//   version <1607|1703|19041|22621>  the running Windows 10/11 (default 22621)
//   better <hardware id>   devices with this ID run a driver the package does not beat
//   prompt <inf name>      installing this package asks the user (an untrusted publisher)
//   reboot <inf name>      installing or removing this package needs a reboot
//   gone <published name>  the staged INF is removed by someone else just before a removal call
//   absent <hardware id>   devices with this ID are registered but not present (unplugged): they
//                          stay out of every list asked with DIGCF_PRESENT
//   unmatched <hardware id>  the device installer finds no driver for this ID in any INF (where
//                          its reading of an INF differs from the backend's)
//   no-models-call         SetupDiGetActualModelsSectionW is missing, as in Wine
//   machine arm64          the machine is ARM64 and this x64 code runs emulated
// and a journal beside it records every call, tab-separated:
//   "stage <inf> <style> <result> [<published>]", "update <id> <flags> <result> [<devices>]",
//   "uninstall <inf> <flags> <result>", "remove <inf> <flags> <result>", "silent <on>",
//   "remove-device <instance id> <result>".
#include <windows.h>
#include <cfgmgr32.h>
#include <newdev.h>
#include <setupapi.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "backend/devices.h"
#include "backend/platform.h"

namespace {

constexpr char script_name[] = "standin-script.txt";
constexpr char journal_name[] = "standin-journal.txt";
constexpr DWORD no_remove_inf = 0x1;  // DIURFLAG_NO_REMOVE_INF
constexpr wchar_t catalog_store[] = L"\\System32\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\";
constexpr wchar_t file_repository[] = L"\\System32\\DriverStore\\FileRepository\\";

HMODULE g_module = nullptr;
BOOL g_non_interactive = FALSE;

LONG WINAPI get_version(OSVERSIONINFOEXW* info);

std::string narrow(const std::wstring& text)
{
    char out[4096];
    int len = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out, nullptr, nullptr);
    return len > 0 ? std::string(out, static_cast<size_t>(len - 1)) : std::string();
}

std::wstring widen(const std::string& text)
{
    wchar_t out[2048];
    int len = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out, 2048);
    return len > 0 ? std::wstring(out, static_cast<size_t>(len - 1)) : std::wstring();
}

std::wstring beside_module(const char* name)
{
    wchar_t path[MAX_PATH * 2];
    DWORD len = GetModuleFileNameW(g_module, path, MAX_PATH * 2);
    std::wstring folder(path, len);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + widen(name);
}

std::string read_all(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

// The value of the script's first "<directive> <value>" line; "" for none.
bool scripted(const char* directive, const std::wstring& value, std::string* found = nullptr)
{
    std::string script = read_all(beside_module(script_name));
    std::string wanted = narrow(value);
    size_t at = 0;
    while (at < script.size()) {
        size_t end = script.find('\n', at);
        std::string line = script.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? script.size() : end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        std::string prefix = std::string(directive);
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string rest = line.size() > prefix.size() ? line.substr(prefix.size() + 1) : std::string();
        if (found != nullptr) {
            *found = rest;
            return true;
        }
        if (lstrcmpiA(rest.c_str(), wanted.c_str()) == 0)
            return true;
    }
    return false;
}

void journal(const std::string& line)
{
    HANDLE file = CreateFileW(beside_module(journal_name).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string hex(DWORD value)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

BOOL fail(DWORD error, const std::string& call)
{
    journal(call + "\t" + hex(error));
    SetLastError(error);
    return FALSE;
}

std::wstring windows_folder()
{
    wchar_t windows[MAX_PATH];
    UINT len = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows, len);
}

std::wstring inf_folder()
{
    return windows_folder() + L"\\inf\\";
}

std::wstring base_name(const std::wstring& path)
{
    return path.substr(path.find_last_of(L'\\') + 1);
}

// "oem<digits>.inf": the only names SetupCopyOEMInf publishes.
bool published_name(const std::wstring& name)
{
    if (name.size() < 8 || _wcsnicmp(name.c_str(), L"oem", 3) != 0 || _wcsicmp(name.c_str() + name.size() - 4, L".inf"))
        return false;
    for (size_t i = 3; i < name.size() - 4; ++i) {
        if (!iswdigit(name[i]))
            return false;
    }
    return true;
}

std::wstring stem(const std::wstring& name)
{
    return name.substr(0, name.size() - 4);
}

// The package's folder in the store: "<inf name>_amd64_<oem name>".
std::wstring store_folder(const std::wstring& published)
{
    std::wstring pattern = windows_folder() + file_repository + L"*_" + stem(published);
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(pattern.c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return std::wstring();
    FindClose(listing);
    return windows_folder() + file_repository + entry.cFileName + L"\\";
}

// The catalog an INF names, by the keys Windows reads.
std::wstring named_catalog(const std::wstring& inf)
{
    UINT line = 0;
    HINF handle = SetupOpenInfFileW(inf.c_str(), nullptr, INF_STYLE_WIN4, &line);
    if (handle == INVALID_HANDLE_VALUE)
        return std::wstring();
    std::wstring out;
    for (const wchar_t* key : {L"CatalogFile.NTamd64", L"CatalogFile.NT", L"CatalogFile"}) {
        wchar_t value[MAX_PATH];
        if (SetupGetLineTextW(nullptr, handle, L"Version", key, value, MAX_PATH, nullptr)) {
            out = value;
            break;
        }
    }
    SetupCloseInfFile(handle);
    return out;
}

// The published INF that is inf: its bytes, and where inf names a catalog,
// its installed catalog.  SetupCopyOEMInf's remarks: "If there is a
// catalog installed, but it is not the same as the catalog associated with
// the source .inf, this is not considered to be a match and enumerations
// continue. ... If an existing match is not found, the .inf and .cat files
// are installed under a new and unique name."  A published copy without an
// installed catalog is taken as a match (assumed: the page says nothing of it).
std::wstring published_copy(const std::wstring& inf)
{
    std::string wanted = read_all(inf);
    std::wstring catalog = named_catalog(inf);
    std::wstring folder = inf.substr(0, inf.find_last_of(L'\\') + 1);
    std::string wanted_catalog = catalog.empty() ? std::string() : read_all(folder + catalog);
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((inf_folder() + L"oem*.inf").c_str(), &entry);
    std::wstring found;
    if (listing == INVALID_HANDLE_VALUE)
        return found;
    do {
        if (!published_name(entry.cFileName) || read_all(inf_folder() + entry.cFileName) != wanted)
            continue;
        std::wstring installed = windows_folder() + catalog_store + stem(entry.cFileName) + L".cat";
        if (!catalog.empty() && GetFileAttributesW(installed.c_str()) != INVALID_FILE_ATTRIBUTES &&
            read_all(installed) != wanted_catalog)
            continue;
        found = entry.cFileName;
        break;
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return found;
}

std::vector<std::wstring> multi_sz(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property)
{
    std::vector<std::wstring> out;
    wchar_t value[4096] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, reinterpret_cast<BYTE*>(value),
                                           sizeof value - 4, nullptr))
        return out;
    for (const wchar_t* p = value; *p != L'\0'; p += wcslen(p) + 1)
        out.push_back(p);
    return out;
}

std::wstring driver_inf(HDEVINFO set, SP_DEVINFO_DATA* device)
{
    HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return std::wstring();
    std::wstring out = registry_text(key, L"InfPath");
    RegCloseKey(key);
    return out;
}

void set_driver_inf(HDEVINFO set, SP_DEVINFO_DATA* device, const std::wstring& name)
{
    HKEY key = SetupDiCreateDevRegKeyW(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE)
        return;
    if (name.empty())
        RegDeleteValueW(key, L"InfPath");
    else
        RegSetValueExW(key, L"InfPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                       static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::wstring instance_id(HDEVINFO set, SP_DEVINFO_DATA* device)
{
    wchar_t id[200] = L"";
    SetupDiGetDeviceInstanceIdW(set, device, id, 200, nullptr);
    return id;
}

// Whether the script unplugged the device: any of its hardware IDs named by
// an "absent" line.
bool absent_device(HDEVINFO set, SP_DEVINFO_DATA* device)
{
    for (const std::wstring& id : multi_sz(set, device, SPDRP_HARDWAREID)) {
        if (scripted("absent", id))
            return true;
    }
    return false;
}

// SetupDiGetClassDevsW (learn.microsoft.com/windows/win32/api/setupapi/nf-setupapi-setupdigetclassdevsw):
// DIGCF_PRESENT "Return only devices that are currently present in a
// system."  Wine lists every registered device either way, so the devices
// the script unplugged are taken out of such a list here; without the flag
// they stay, as registered devices do.
HDEVINFO WINAPI get_class_devs(const GUID* guid, PCWSTR enumerator, HWND parent, DWORD flags)
{
    HDEVINFO set = SetupDiGetClassDevsW(guid, enumerator, parent, flags);
    if (set == INVALID_HANDLE_VALUE || !(flags & DIGCF_PRESENT) || (flags & DIGCF_DEVICEINTERFACE))
        return set;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device);) {
        if (absent_device(set, &device))
            SetupDiDeleteDeviceInfo(set, &device);  // out of this list only; the device stays registered
        else
            ++i;
    }
    return set;
}

// Calls visit for every registered device: "A device does not need to be
// present to be detected as using the .inf file" (SetupUninstallOEMInf);
// with DIGCF_PRESENT, for the present ones only.
template <typename Visit>
void for_each_device(DWORD flags, Visit visit)
{
    HDEVINFO set = get_class_devs(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | flags);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i)
        visit(set, &device);
    SetupDiDestroyDeviceInfoList(set);
}

// Removes the published INF, its .pnf, its oem<n>.cat and its store folder.
void remove_published(const std::wstring& name)
{
    DeleteFileW((inf_folder() + name).c_str());
    DeleteFileW((inf_folder() + stem(name) + L".pnf").c_str());
    DeleteFileW((windows_folder() + catalog_store + stem(name) + L".cat").c_str());
    std::wstring folder = store_folder(name);
    if (!folder.empty()) {
        WIN32_FIND_DATAW entry;
        HANDLE listing = FindFirstFileW((folder + L"*").c_str(), &entry);
        if (listing != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW((folder + entry.cFileName).c_str());
            } while (FindNextFileW(listing, &entry));
            FindClose(listing);
        }
        RemoveDirectoryW(folder.c_str());
    }
}

// The stand-in's own reading of a [Manufacturer] line's decorations, from
// the INF Manufacturer section page
// (learn.microsoft.com/windows-hardware/drivers/install/inf-manufacturer-section):
//   NT[Architecture][.[OSMajorVersion][.[OSMinorVersion][.[ProductType][.[SuiteMask][.[BuildNumber]]]]]]
// Architecture must be named for non-x86 (so amd64 here); ProductType is a
// VER_NT_xxx number and SuiteMask VER_SUITE_xxx bits, both written in hex
// on the page (0x0000001), all of which must be present; BuildNumber "is
// evaluated only when the OS major/minor version of the TargetOSVersion
// matches the current OS version exactly", a newer major.minor applies
// whatever the build.  Windows "selects the INF Models section that most
// closely matches" the running version.  It is written apart from the
// backend's own rules, so that where the two disagree a test shows it.
// Returns 0 where the decoration does not apply, else a rank (higher fits
// closer).  Fields that are no number make it not apply (assumed).
unsigned long long decoration_rank(const std::wstring& decoration)
{
    if (decoration.size() < 2 || _wcsnicmp(decoration.c_str(), L"nt", 2) != 0)
        return 0;
    std::vector<std::wstring> fields;
    size_t at = 2;
    for (;;) {
        size_t dot = decoration.find(L'.', at);
        fields.push_back(decoration.substr(at, dot == std::wstring::npos ? std::wstring::npos : dot - at));
        if (dot == std::wstring::npos)
            break;
        at = dot + 1;
    }
    if (_wcsicmp(fields[0].c_str(), L"amd64") != 0 || fields.size() > 6)
        return 0;
    unsigned long value[6] = {};
    bool given[6] = {};
    for (size_t i = 1; i < fields.size(); ++i) {
        if (fields[i].empty())
            continue;
        wchar_t* end = nullptr;
        bool hex_allowed = i == 3 || i == 4;  // product type, suite mask
        value[i] = wcstoul(fields[i].c_str(), &end, hex_allowed ? 0 : 10);
        if (end == fields[i].c_str() || *end != L'\0')
            return 0;
        given[i] = true;
    }
    OSVERSIONINFOEXW os = {};
    os.dwOSVersionInfoSize = sizeof os;
    get_version(&os);
    unsigned long major = given[1] ? value[1] : 0, minor = given[2] ? value[2] : 0;
    if (major > os.dwMajorVersion || (major == os.dwMajorVersion && minor > os.dwMinorVersion))
        return 0;
    bool same_version = major == os.dwMajorVersion && minor == os.dwMinorVersion;
    if (given[5] && same_version && value[5] > os.dwBuildNumber)
        return 0;
    if (given[3] && value[3] != os.wProductType)
        return 0;
    if (given[4] && (os.wSuiteMask & value[4]) != value[4])
        return 0;
    unsigned long build = given[5] && same_version ? value[5] : 0;
    return ((static_cast<unsigned long long>(major) << 56) | (static_cast<unsigned long long>(minor) << 48) |
            (static_cast<unsigned long long>(build) << 8) | (given[3] ? 2 : 0) | (given[4] ? 1 : 0)) + 4;
}

// The models section Windows reads for one [Manufacturer] line; the
// undecorated name where no decoration applies.
std::wstring models_section(PINFCONTEXT line, bool* decorated)
{
    wchar_t field[LINE_LEN];
    *decorated = false;
    if (!SetupGetStringFieldW(line, 1, field, LINE_LEN, nullptr))
        return std::wstring();
    std::wstring models = field, best;
    unsigned long long best_rank = 0;
    DWORD count = SetupGetFieldCount(line);
    for (DWORD i = 2; i <= count; ++i) {
        if (!SetupGetStringFieldW(line, i, field, LINE_LEN, nullptr))
            continue;
        unsigned long long rank = decoration_rank(field);
        if (rank > best_rank) {
            best_rank = rank;
            best = field;
        }
    }
    *decorated = best_rank != 0;
    return best_rank != 0 ? models + L"." + best : models;
}

// SetupDiGetActualModelsSectionW (learn.microsoft.com/windows/win32/api/setupapi/nf-setupapi-setupdigetactualmodelssectionw):
// the decorated models section of the [Manufacturer] line at Context that
// fits the running Windows.  Where none fits, the undecorated name is given
// back (assumed: the page does not say).
BOOL WINAPI actual_models_section(PINFCONTEXT context, PSP_ALTPLATFORM_INFO, PWSTR section, DWORD size,
                                  PDWORD needed, PVOID)
{
    if (context == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool decorated = false;
    std::wstring name = models_section(context, &decorated);
    if (needed != nullptr)
        *needed = static_cast<DWORD>(name.size() + 1);
    if (section == nullptr || size <= name.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy(section, name.c_str());
    return TRUE;
}

// Whether the device installer finds a driver for the ID in the INF: a line
// of a models section that it reads for this machine names it.  On x64 an
// undecorated section is not read (Manufacturer section page: the
// architecture "must be specified" for non-x86).
bool inf_has_driver_for(const std::wstring& inf, const std::wstring& id)
{
    if (scripted("unmatched", id))
        return false;
    UINT error_line = 0;
    HINF handle = SetupOpenInfFileW(inf.c_str(), nullptr, INF_STYLE_WIN4, &error_line);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    INFCONTEXT manufacturer;
    for (BOOL more = SetupFindFirstLineW(handle, L"Manufacturer", nullptr, &manufacturer); more && !found;
         more = SetupFindNextLine(&manufacturer, &manufacturer)) {
        bool decorated = false;
        std::wstring section = models_section(&manufacturer, &decorated);
        if (!decorated)
            continue;
        INFCONTEXT model;
        for (BOOL line = SetupFindFirstLineW(handle, section.c_str(), nullptr, &model); line && !found;
             line = SetupFindNextLine(&model, &model)) {
            DWORD count = SetupGetFieldCount(&model);
            for (DWORD i = 2; i <= count && !found; ++i) {
                wchar_t field[LINE_LEN];
                found = SetupGetStringFieldW(&model, i, field, LINE_LEN, nullptr) && _wcsicmp(field, id.c_str()) == 0;
            }
        }
    }
    SetupCloseInfFile(handle);
    return found;
}

// Whether the INF copies any file to DirId 13, the driver store folder the
// package runs from ([DestinationDirs] entries of 13).
bool copies_to_dirid_13(const std::wstring& inf)
{
    UINT error_line = 0;
    HINF handle = SetupOpenInfFileW(inf.c_str(), nullptr, INF_STYLE_WIN4, &error_line);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    INFCONTEXT line;
    for (BOOL more = SetupFindFirstLineW(handle, L"DestinationDirs", nullptr, &line); more && !found;
         more = SetupFindNextLine(&line, &line)) {
        INT dirid = 0;
        found = SetupGetIntField(&line, 1, &dirid) && dirid == 13;
    }
    SetupCloseInfFile(handle);
    return found;
}

// SetupCopyOEMInfW (learn.microsoft.com/windows/win32/api/setupapi/nf-setupapi-setupcopyoeminfw):
// copies the INF into %windir%\Inf under a name of the form oem<n>.inf and
// installs the catalog the INF names with it; an INF already there keeps
// its published name, and with SP_COPY_NOOVERWRITE the call fails with
// ERROR_FILE_EXISTS, giving that name.  The flags are SP_COPY_DELETESOURCE,
// SP_COPY_REPLACEONLY, SP_COPY_NOOVERWRITE and SP_COPY_OEMINF_CATALOG_ONLY;
// the page names no code for other bits, ERROR_INVALID_FLAGS is assumed.
// "Before a driver package is staged to the Driver Store, the operating
// system first verifies that the driver package is trusted. ... the INF
// file must have a CatalogFile directive in the Version section" (Driver
// Store, learn.microsoft.com/windows-hardware/drivers/install/driver-store):
// an INF that names no catalog is refused, with
// ERROR_NO_CATALOG_FOR_OEM_INF (assumed: the page gives no code).
BOOL WINAPI copy_oem_inf(PCWSTR source, PCWSTR, DWORD, DWORD style, PWSTR destination, DWORD size, PDWORD needed,
                         PWSTR* component)
{
    std::string call = "stage\t" + narrow(source ? base_name(source) : L"(null)") + "\t" + hex(style);
    constexpr DWORD known = SP_COPY_DELETESOURCE | SP_COPY_REPLACEONLY | SP_COPY_NOOVERWRITE | SP_COPY_OEMINF_CATALOG_ONLY;
    if (source == nullptr)
        return fail(ERROR_INVALID_PARAMETER, call);
    if (style & ~known)
        return fail(ERROR_INVALID_FLAGS, call);
    if (GetFileAttributesW(source) == INVALID_FILE_ATTRIBUTES)
        return fail(ERROR_FILE_NOT_FOUND, call);
    std::wstring name = published_copy(source);
    bool exists = !name.empty();
    if (!exists && (style & SP_COPY_REPLACEONLY))
        return fail(ERROR_FILE_NOT_FOUND, call);
    std::wstring catalog = named_catalog(source);
    std::wstring source_folder = std::wstring(source).substr(0, std::wstring(source).find_last_of(L'\\') + 1);
    if (catalog.empty())
        return fail(ERROR_NO_CATALOG_FOR_OEM_INF, call);
    if (GetFileAttributesW((source_folder + catalog).c_str()) == INVALID_FILE_ATTRIBUTES)
        return fail(0xE0000304, call);  // ERROR_INVALID_CATALOG_DATA
    if (!exists) {
        for (unsigned n = 0; name.empty() && n < 10000; ++n) {
            std::wstring candidate = L"oem" + std::to_wstring(n) + L".inf";
            if (CopyFileW(source, (inf_folder() + candidate).c_str(), TRUE))
                name = candidate;
        }
        std::wstring store = windows_folder() + file_repository + base_name(source) + L"_amd64_" + stem(name) + L"\\";
        CreateDirectoryW((windows_folder() + L"\\System32\\DriverStore").c_str(), nullptr);
        CreateDirectoryW((windows_folder() + file_repository).c_str(), nullptr);
        CreateDirectoryW(store.c_str(), nullptr);
        CopyFileW(source, (store + base_name(source)).c_str(), FALSE);
        if (!catalog.empty()) {
            CreateDirectoryW((windows_folder() + L"\\System32\\CatRoot").c_str(), nullptr);
            CreateDirectoryW((windows_folder() + catalog_store).c_str(), nullptr);
            CopyFileW((source_folder + catalog).c_str(), (windows_folder() + catalog_store + stem(name) + L".cat").c_str(),
                      FALSE);
            CopyFileW((source_folder + catalog).c_str(), (store + catalog).c_str(), FALSE);
        }
    }
    std::wstring full = inf_folder() + name;
    if (needed != nullptr)
        *needed = static_cast<DWORD>(full.size() + 1);
    if (destination != nullptr) {
        if (size <= full.size())
            return fail(ERROR_INSUFFICIENT_BUFFER, call);
        wcscpy(destination, full.c_str());
        if (component != nullptr)
            *component = destination + full.size() - name.size();
    }
    if (exists && (style & SP_COPY_NOOVERWRITE))
        return fail(ERROR_FILE_EXISTS, call);
    journal(call + "\t0x00000000\t" + narrow(name));
    return TRUE;
}

// SetupUninstallOEMInfW (learn.microsoft.com/windows/win32/api/setupapi/nf-setupapi-setupuninstalloeminfw):
// takes the file name, without path, of an .inf in the Windows Inf folder,
// that SetupCopyOEMInf published; removes it, its .pnf and its catalog.
// Without SUOI_FORCEDELETE an INF that any device was installed with,
// present or not, is kept; "If the driver package has any files that are
// copied to a DestinationDir using a DirId of 13, this force flag is
// ignored."  That a package kept so fails with ERROR_INF_IN_USE_BY_DEVICES
// is assumed.  The page names no codes for a name that
// SetupCopyOEMInf did not publish or for unknown flags: ERROR_INVALID_PARAMETER
// and ERROR_INVALID_FLAGS are assumed; what matters is that they fail.
BOOL WINAPI uninstall_oem_inf(PCWSTR name, DWORD flags, PVOID)
{
    std::string call = "uninstall\t" + narrow(name ? name : L"(null)") + "\t" + hex(flags);
    if (name == nullptr || wcschr(name, L'\\') != nullptr || !published_name(name))
        return fail(ERROR_INVALID_PARAMETER, call);
    if (flags & ~static_cast<DWORD>(SUOI_FORCEDELETE))
        return fail(ERROR_INVALID_FLAGS, call);
    if (scripted("gone", name))
        remove_published(name);
    if (GetFileAttributesW((inf_folder() + name).c_str()) == INVALID_FILE_ATTRIBUTES)
        return fail(ERROR_FILE_NOT_FOUND, call);
    bool used = false;
    for_each_device(0, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        used = used || _wcsicmp(driver_inf(set, device).c_str(), name) == 0;
    });
    bool forced = (flags & SUOI_FORCEDELETE) && !copies_to_dirid_13(inf_folder() + name);
    if (used && !forced)
        return fail(ERROR_INF_IN_USE_BY_DEVICES, call);
    remove_published(name);
    journal(call + "\t0x00000000");
    return TRUE;
}

// SetupGetInfDriverStoreLocationW (learn.microsoft.com/windows/win32/api/setupapi/nf-setupapi-setupgetinfdriverstorelocationw):
// the fully qualified name of the INF in the driver store that corresponds
// to a given INF (name, optionally with path) in the system INF folder;
// ERROR_INSUFFICIENT_BUFFER where ReturnBuffer is too small.
BOOL WINAPI inf_driver_store_location(PCWSTR file, PSP_ALTPLATFORM_INFO, PCWSTR, PWSTR location, DWORD size,
                                      PDWORD needed)
{
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring name = base_name(file);
    std::wstring folder = published_name(name) ? store_folder(name) : std::wstring();
    WIN32_FIND_DATAW entry;
    HANDLE listing = folder.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW((folder + L"*.inf").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    FindClose(listing);
    std::wstring full = folder + entry.cFileName;
    if (needed != nullptr)
        *needed = static_cast<DWORD>(full.size() + 1);
    if (location == nullptr || size <= full.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy(location, full.c_str());
    return TRUE;
}

// SetupSetNonInteractiveMode (learn.microsoft.com/windows/win32/api/setupapi/nf-setupapi-setupsetnoninteractivemode):
// with it set, a setup step that would show a dialog fails instead.
BOOL WINAPI set_non_interactive_mode(BOOL on)
{
    BOOL earlier = g_non_interactive;
    if (on != g_non_interactive)
        journal(std::string("silent\t") + (on ? "1" : "0"));
    g_non_interactive = on;
    return earlier;
}

BOOL WINAPI get_non_interactive_mode()
{
    return g_non_interactive;
}

// UpdateDriverForPlugAndPlayDevicesW (learn.microsoft.com/windows/win32/api/newdev/nf-newdev-updatedriverforplugandplaydevicesw):
// installs the INF on the present devices whose hardware or compatible ID
// is HardwareId (IDs compare without regard to case); ERROR_NO_SUCH_DEVINST
// when none matches; ERROR_NO_MORE_ITEMS when the driver is not a better
// match than the current one and INSTALLFLAG_FORCE is not set; FALSE when
// INSTALLFLAG_NONINTERACTIVE is set and UI would be shown;
// ERROR_INVALID_FLAGS for other flags; the package goes into the store.
// "TRUE: ... a device was upgraded to the specified driver": with several
// matching devices some may keep their driver.  Where the models sections
// it reads for this machine name no driver for the ID, nothing is
// installed and the answer is ERROR_NO_MORE_ITEMS (assumed: seen on
// Windows, no page gives it).
BOOL WINAPI update_driver(HWND, LPCWSTR hardware_id, LPCWSTR inf, DWORD flags, PBOOL reboot)
{
    std::string call = "update\t" + narrow(hardware_id ? hardware_id : L"(null)") + "\t" + hex(flags);
    if (hardware_id == nullptr || inf == nullptr)
        return fail(ERROR_INVALID_PARAMETER, call);
    if (flags & ~static_cast<DWORD>(INSTALLFLAG_BITS))
        return fail(ERROR_INVALID_FLAGS, call);
    if (GetFileAttributesW(inf) == INVALID_FILE_ATTRIBUTES)
        return fail(ERROR_FILE_NOT_FOUND, call);
    std::wstring package = base_name(inf);
    if (reboot != nullptr)
        *reboot = FALSE;
    bool matched = false;
    for_each_device(DIGCF_PRESENT, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        std::vector<std::wstring> ids = multi_sz(set, device, SPDRP_HARDWAREID);
        std::vector<std::wstring> more = multi_sz(set, device, SPDRP_COMPATIBLEIDS);
        ids.insert(ids.end(), more.begin(), more.end());
        for (const std::wstring& id : ids)
            matched = matched || _wcsicmp(id.c_str(), hardware_id) == 0;
    });
    if (!matched)
        return fail(ERROR_NO_SUCH_DEVINST, call);
    if (scripted("prompt", package) && ((flags & INSTALLFLAG_NONINTERACTIVE) || g_non_interactive))
        return fail(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION, call);
    wchar_t published[MAX_PATH];
    if (!copy_oem_inf(inf, nullptr, SPOST_PATH, 0, published, MAX_PATH, nullptr, nullptr))
        return fail(GetLastError(), call);
    std::wstring staged = base_name(published);
    if (!inf_has_driver_for(inf, hardware_id))
        return fail(ERROR_NO_MORE_ITEMS, call);
    std::string installed;
    for_each_device(DIGCF_PRESENT, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        std::vector<std::wstring> ids = multi_sz(set, device, SPDRP_HARDWAREID);
        std::vector<std::wstring> more = multi_sz(set, device, SPDRP_COMPATIBLEIDS);
        ids.insert(ids.end(), more.begin(), more.end());
        bool match = false, better = false;
        for (const std::wstring& id : ids) {
            match = match || _wcsicmp(id.c_str(), hardware_id) == 0;
            better = better || scripted("better", id);
        }
        if (!match)
            return;
        bool current = _wcsicmp(driver_inf(set, device).c_str(), staged.c_str()) == 0;
        // Without the force flag only a better match replaces a driver.
        if (!(flags & INSTALLFLAG_FORCE) && (current || better))
            return;
        set_driver_inf(set, device, staged);
        installed += " " + narrow(instance_id(set, device));
    });
    if (installed.empty())
        return fail(ERROR_NO_MORE_ITEMS, call);
    if (scripted("reboot", package) && reboot != nullptr)
        *reboot = TRUE;
    journal(call + "\t0x00000000\t" + installed.substr(1));
    return TRUE;
}

// DiUninstallDriverW (learn.microsoft.com/windows/win32/api/newdev/nf-newdev-diuninstalldriverw),
// Windows 10 version 1703 and later: moves every device the package is
// installed on to another matching driver, or the null driver, then removes
// the package from the store unless DIURFLAG_NO_REMOVE_INF is given;
// ERROR_FILE_NOT_FOUND when the INF path does not exist, ERROR_INVALID_FLAGS
// for flags other than zero or DIURFLAG_NO_REMOVE_INF; sets NeedReboot.
BOOL WINAPI uninstall_driver(HWND, LPCWSTR inf_path, DWORD flags, PBOOL reboot)
{
    std::string call = "remove\t" + narrow(inf_path ? base_name(inf_path) : L"(null)") + "\t" + hex(flags);
    if (inf_path == nullptr)
        return fail(ERROR_INVALID_PARAMETER, call);
    if (flags & ~no_remove_inf)
        return fail(ERROR_INVALID_FLAGS, call);
    if (scripted("gone", base_name(inf_path)))
        remove_published(base_name(inf_path));
    if (GetFileAttributesW(inf_path) == INVALID_FILE_ATTRIBUTES)
        return fail(ERROR_FILE_NOT_FOUND, call);
    std::wstring name = base_name(inf_path);
    // The page speaks of driver packages in the driver store only; an inbox
    // INF is refused here with an assumed ERROR_INVALID_PARAMETER.
    if (_wcsicmp((inf_folder() + name).c_str(), inf_path) != 0 || !published_name(name))
        return fail(ERROR_INVALID_PARAMETER, call);
    for_each_device(0, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        if (_wcsicmp(driver_inf(set, device).c_str(), name.c_str()) == 0)
            set_driver_inf(set, device, std::wstring());
    });
    if (!(flags & no_remove_inf))
        remove_published(name);
    if (reboot != nullptr)
        *reboot = FALSE;
    if (scripted("reboot", name) && reboot != nullptr)
        *reboot = TRUE;
    journal(call + "\t0x00000000");
    return TRUE;
}

// SetupDiCallClassInstaller with DIF_REMOVE ("How Devices and Driver
// Packages are Uninstalled", learn.microsoft.com/windows-hardware/drivers/install/how-devices-and-driver-packages-are-uninstalled):
// "the PnP manager removes the association between the driver binary
// files and the device.  The device remains in the kernel PnP tree and the
// driver package remains in the driver store."  Other requests go to the
// platform's own.
BOOL WINAPI call_class_installer(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA device)
{
    if (function != DIF_REMOVE)
        return SetupDiCallClassInstaller(function, set, device);
    std::string call = "remove-device\t" + narrow(instance_id(set, device));
    set_driver_inf(set, device, std::wstring());
    journal(call + "\t0x00000000");
    return TRUE;
}

// CM_Get_DevNode_Status (learn.microsoft.com/windows/win32/api/cfgmgr32/nf-cfgmgr32-cm_get_devnode_status):
// DN_xxx bits and a CM_PROB_xxx problem.  A device that runs a driver is
// DN_DRIVER_LOADED | DN_STARTED; one without is DN_HAS_PROBLEM with
// CM_PROB_FAILED_INSTALL ("The drivers for this device are not installed",
// learn.microsoft.com/windows-hardware/drivers/install/cm-prob-failed-install);
// one that is not present answers CR_NO_SUCH_DEVINST (assumed).
CONFIGRET WINAPI devnode_status(PULONG status, PULONG problem, DEVINST devinst, ULONG)
{
    wchar_t id[MAX_DEVICE_ID_LEN];
    if (status == nullptr || problem == nullptr)
        return CR_INVALID_POINTER;
    if (CM_Get_Device_IDW(devinst, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return CR_INVALID_DEVNODE;
    CONFIGRET result = CR_NO_SUCH_DEVINST;
    for_each_device(DIGCF_PRESENT, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        if (result != CR_NO_SUCH_DEVINST || _wcsicmp(instance_id(set, device).c_str(), id) != 0)
            return;
        bool driver = !driver_inf(set, device).empty();
        *status = driver ? DN_DRIVER_LOADED | DN_STARTED : DN_HAS_PROBLEM;
        *problem = driver ? 0 : CM_PROB_FAILED_INSTALL;
        result = CR_SUCCESS;
    });
    return result;
}

// IsWow64Process2 (learn.microsoft.com/windows/win32/api/wow64apiset/nf-wow64apiset-iswow64process2):
// IMAGE_FILE_MACHINE_UNKNOWN for a process that is not a WOW64 process (an
// x64 process is none, on ARM64 as well), and the host's native machine.
BOOL WINAPI is_wow64_process2(HANDLE, USHORT* process_machine, USHORT* native_machine)
{
    std::string machine;
    *process_machine = IMAGE_FILE_MACHINE_UNKNOWN;
    if (native_machine != nullptr)
        *native_machine = scripted("machine", L"", &machine) && machine == "arm64" ? IMAGE_FILE_MACHINE_ARM64
                                                                                  : IMAGE_FILE_MACHINE_AMD64;
    return TRUE;
}

// RtlGetVersion (learn.microsoft.com/windows-hardware/drivers/ddi/wdm/nf-wdm-rtlgetversion):
// the running version whatever the program's manifest says.  Windows 10
// and 11 are 10.0; the builds of 1607, 1703, 2004 (19041) and 22H2 (22621).
LONG WINAPI get_version(OSVERSIONINFOEXW* info)
{
    std::string release;
    unsigned build = 22621;
    if (scripted("version", L"", &release)) {
        if (release == "1607")
            build = 14393;
        else if (release == "1703")
            build = 15063;
        else if (release == "19041")
            build = 19041;
    }
    info->dwMajorVersion = 10;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = build;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->wProductType = VER_NT_WORKSTATION;
    info->wSuiteMask = VER_SUITE_SINGLEUSERTS;
    return 0;
}

PlatformCalls bind()
{
    PlatformCalls calls = {};
    calls.copy_oem_inf = copy_oem_inf;
    calls.uninstall_oem_inf = uninstall_oem_inf;
    calls.inf_driver_store_location = inf_driver_store_location;
    calls.set_non_interactive_mode = set_non_interactive_mode;
    calls.get_non_interactive_mode = get_non_interactive_mode;
    calls.get_class_devs = get_class_devs;
    calls.enum_device_info = SetupDiEnumDeviceInfo;
    calls.get_device_registry_property = SetupDiGetDeviceRegistryPropertyW;
    calls.get_device_instance_id = SetupDiGetDeviceInstanceIdW;
    calls.open_dev_reg_key = SetupDiOpenDevRegKey;
    calls.destroy_device_info_list = SetupDiDestroyDeviceInfoList;
    std::string unused;
    calls.actual_models_section = scripted("no-models-call", L"", &unused) ? nullptr : actual_models_section;
    calls.call_class_installer = call_class_installer;
    calls.get_device_install_params = SetupDiGetDeviceInstallParamsW;
    calls.devnode_status = devnode_status;
    calls.update_driver = update_driver;
    // DiUninstallDriver came with Windows 10 1703.
    std::string release;
    bool before_1703 = scripted("version", L"", &release) && release == "1607";
    calls.uninstall_driver = before_1703 ? nullptr : uninstall_driver;
    calls.get_version = get_version;
    calls.system_windows_directory = GetSystemWindowsDirectoryW;
    calls.is_wow64_process2 = is_wow64_process2;
    return calls;
}

} // namespace

const PlatformCalls& platform()
{
    static const PlatformCalls calls = bind();
    return calls;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_module = instance;
    return TRUE;
}
