// A stand-in for the platform's device installer (newdev.dll) where Wine's
// is a stub: it answers as Microsoft's documentation of each function says,
// over the devices and the INF folder Wine really has.  Loaded for real by
// the backend in tests, through a native override of newdev for those runs.
//
// A script beside the DLL says what "Windows" decides per case, one
// directive a line:
//   better <hardware id>   devices with this ID run a driver the package does not beat
//   prompt <inf name>      installing this package asks the user (an untrusted publisher)
//   reboot <inf name>      installing this package needs a reboot
// and a journal beside it records every call: "update <id> <flags> <result>
// <device instance ids installed>" and "uninstall <inf> <flags> <result>".
#include <windows.h>
#include <newdev.h>
#include <setupapi.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// A device instance ID's longest text and its NUL.
constexpr DWORD device_instance_id_max = 200;

constexpr char script_name[] = "newdev-script.txt";
constexpr char journal_name[] = "newdev-journal.txt";
constexpr DWORD no_remove_inf = 0x1;  // DIURFLAG_NO_REMOVE_INF

HMODULE g_module = nullptr;

std::string beside_module(const char* name)
{
    char path[MAX_PATH * 2];
    DWORD len = GetModuleFileNameA(g_module, path, sizeof path);
    std::string folder(path, len);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

std::string read_all(const std::string& path)
{
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

bool scripted(const char* directive, const std::string& value)
{
    std::string script = read_all(beside_module(script_name));
    size_t at = 0;
    while (at < script.size()) {
        size_t end = script.find('\n', at);
        std::string line = script.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? script.size() : end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        std::string prefix = std::string(directive) + " ";
        if (line.compare(0, prefix.size(), prefix) == 0 && lstrcmpiA(line.c_str() + prefix.size(), value.c_str()) == 0)
            return true;
    }
    return false;
}

void journal(const std::string& line)
{
    HANDLE file = CreateFileA(beside_module(journal_name).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string narrow(const wchar_t* text)
{
    char out[2048];
    int len = WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, nullptr);
    return len > 0 ? std::string(out, static_cast<size_t>(len - 1)) : std::string();
}

std::string base_name(const std::string& path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

// The staged copy's file name in the INF folder: Windows names it
// oem<n>.inf, Wine keeps the package's name; found by its bytes.
std::string staged_name(const std::string& inf)
{
    std::string wanted = read_all(inf);
    char windows[MAX_PATH];
    UINT len = GetSystemWindowsDirectoryA(windows, sizeof windows);
    std::string folder = std::string(windows, len) + "\\inf\\";
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((folder + "*.inf").c_str(), &entry);
    std::string found;
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            if (read_all(folder + entry.cFileName) == wanted) {
                found = entry.cFileName;
                break;
            }
        } while (FindNextFileA(listing, &entry));
        FindClose(listing);
    }
    return found;
}

std::vector<std::string> multi_sz(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property)
{
    std::vector<std::string> out;
    char value[4096] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr, reinterpret_cast<BYTE*>(value),
                                           sizeof value - 2, nullptr))
        return out;
    for (const char* p = value; *p != '\0'; p += strlen(p) + 1)
        out.push_back(p);
    return out;
}

std::string driver_inf(HDEVINFO set, SP_DEVINFO_DATA* device)
{
    HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return std::string();
    char value[MAX_PATH] = "";
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    std::string out;
    if (RegQueryValueExA(key, "InfPath", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
        type == REG_SZ)
        out = value;
    RegCloseKey(key);
    return out;
}

void set_driver_inf(HDEVINFO set, SP_DEVINFO_DATA* device, const std::string& name)
{
    HKEY key = SetupDiCreateDevRegKeyA(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE)
        return;
    if (name.empty())
        RegDeleteValueA(key, "InfPath");
    else
        RegSetValueExA(key, "InfPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                       static_cast<DWORD>(name.size() + 1));
    RegCloseKey(key);
}

std::string instance_id(HDEVINFO set, SP_DEVINFO_DATA* device)
{
    char id[device_instance_id_max] = "";
    SetupDiGetDeviceInstanceIdA(set, device, id, sizeof id, nullptr);
    return id;
}

BOOL fail(DWORD error, const std::string& journal_line)
{
    char code[16];
    snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(error));
    journal(journal_line + "\t" + code);
    SetLastError(error);
    return FALSE;
}

} // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND, const char* hardware_id,
                                                                      const char* inf, DWORD flags, BOOL* reboot)
{
    std::string call = std::string("update\t") + (hardware_id ? hardware_id : "(null)");
    char flag_text[16];
    snprintf(flag_text, sizeof flag_text, "\t%lX", static_cast<unsigned long>(flags));
    call += flag_text;
    if (hardware_id == nullptr || inf == nullptr)
        return fail(ERROR_INVALID_PARAMETER, call);
    if (flags & ~static_cast<DWORD>(INSTALLFLAG_BITS))
        return fail(ERROR_INVALID_FLAGS, call);
    if (GetFileAttributesA(inf) == INVALID_FILE_ATTRIBUTES)
        return fail(ERROR_FILE_NOT_FOUND, call);

    // Matched against hardware and compatible IDs, letter case aside.
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return fail(GetLastError(), call);
    std::vector<SP_DEVINFO_DATA> matched;
    std::vector<bool> better_there;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        std::vector<std::string> ids = multi_sz(set, &device, SPDRP_HARDWAREID);
        std::vector<std::string> compatible = multi_sz(set, &device, SPDRP_COMPATIBLEIDS);
        ids.insert(ids.end(), compatible.begin(), compatible.end());
        bool match = false, better = false;
        for (const std::string& id : ids) {
            match = match || lstrcmpiA(id.c_str(), hardware_id) == 0;
            better = better || scripted("better", id);
        }
        if (match) {
            matched.push_back(device);
            better_there.push_back(better);
        }
    }
    std::string installed;
    std::string package = base_name(inf);
    if (matched.empty()) {
        SetupDiDestroyDeviceInfoList(set);
        return fail(ERROR_NO_SUCH_DEVINST, call);
    }
    if (scripted("prompt", package) && (flags & INSTALLFLAG_NONINTERACTIVE)) {
        SetupDiDestroyDeviceInfoList(set);
        return fail(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION, call);
    }
    // The package goes into the store as part of the update.
    std::string staged = staged_name(inf);
    if (staged.empty()) {
        char dest[MAX_PATH];
        SetupCopyOEMInfA(inf, nullptr, SPOST_PATH, 0, dest, sizeof dest, nullptr, nullptr);
        staged = staged_name(inf);
    }
    for (size_t i = 0; i < matched.size(); ++i) {
        bool current = lstrcmpiA(driver_inf(set, &matched[i]).c_str(), staged.c_str()) == 0;
        // Without the force flag only a better match replaces a device's driver.
        if (!(flags & INSTALLFLAG_FORCE) && (current || better_there[i]))
            continue;
        set_driver_inf(set, &matched[i], staged);
        installed += " " + instance_id(set, &matched[i]);
    }
    SetupDiDestroyDeviceInfoList(set);
    if (installed.empty())
        return fail(ERROR_NO_MORE_ITEMS, call);
    if (scripted("reboot", package) && reboot != nullptr)
        *reboot = TRUE;
    journal(call + "\t0x00000000\t" + installed.substr(1));
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND window, const wchar_t* hardware_id,
                                                                      const wchar_t* inf, DWORD flags, BOOL* reboot)
{
    if (hardware_id == nullptr || inf == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return UpdateDriverForPlugAndPlayDevicesA(window, narrow(hardware_id).c_str(), narrow(inf).c_str(), flags,
                                              reboot);
}

// Moves every device off the package (here: to no driver) and removes the
// package from the store unless asked to keep it.
__declspec(dllexport) BOOL WINAPI DiUninstallDriverW(HWND, const wchar_t* inf_path, DWORD flags, BOOL* reboot)
{
    if (inf_path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string inf = narrow(inf_path);
    char flag_text[16];
    snprintf(flag_text, sizeof flag_text, "\t%lX", static_cast<unsigned long>(flags));
    std::string call = "uninstall\t" + base_name(inf) + flag_text;
    if (GetFileAttributesA(inf.c_str()) == INVALID_FILE_ATTRIBUTES)
        return fail(ERROR_FILE_NOT_FOUND, call);
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; set != INVALID_HANDLE_VALUE && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        if (lstrcmpiA(driver_inf(set, &device).c_str(), base_name(inf).c_str()) == 0)
            set_driver_inf(set, &device, std::string());
    }
    if (set != INVALID_HANDLE_VALUE)
        SetupDiDestroyDeviceInfoList(set);
    if (!(flags & no_remove_inf) && !SetupUninstallOEMInfA(base_name(inf).c_str(), SUOI_FORCEDELETE, nullptr))
        return fail(GetLastError(), call);
    if (reboot != nullptr)
        *reboot = FALSE;
    journal(call + "\t0x00000000");
    return TRUE;
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_module = instance;
    return TRUE;
}
