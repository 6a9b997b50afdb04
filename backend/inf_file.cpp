// The package's INF read with the platform's INF parser, the rules of
// inf_rules applied to what it finds.
#include "backend/inf_file.h"

#include <windows.h>
#include <setupapi.h>

#include "backend/backend_log.h"
#include "backend/package_paths.h"
#include "backend/platform.h"

namespace {

// A package may name at most this many device IDs for this machine.
constexpr size_t device_id_max = 4096;

HINF open_inf(const std::wstring& inf)
{
    UINT error_line = 0;
    std::wstring path = inf.size() < MAX_PATH ? inf : extended(inf);
    return SetupOpenInfFileW(path.c_str(), nullptr, INF_STYLE_WIN4, &error_line);
}

void add_section_ids(HINF handle, const std::wstring& section, std::vector<std::wstring>* ids)
{
    INFCONTEXT model;
    for (BOOL line = SetupFindFirstLineW(handle, section.c_str(), nullptr, &model); line && ids->size() < device_id_max;
         line = SetupFindNextLine(&model, &model)) {
        DWORD count = SetupGetFieldCount(&model);
        for (DWORD f = 2; f <= count; ++f) {
            wchar_t id[512];  // device IDs are at most 200 characters
            if (SetupGetStringFieldW(&model, f, id, 512, nullptr) && id[0] != L'\0')
                ids->push_back(id);
        }
    }
}

} // namespace

Architecture machine_architecture()
{
    // IsWow64Process2 (learn.microsoft.com/windows/win32/api/wow64apiset/nf-wow64apiset-iswow64process2)
    // names the host's native machine even to x64 code emulated on ARM64,
    // where GetNativeSystemInfo answers x64.
    USHORT process_machine = 0, native_machine = 0;
    if (platform().is_wow64_process2 != nullptr &&
        platform().is_wow64_process2(GetCurrentProcess(), &process_machine, &native_machine)) {
        switch (native_machine) {
        case IMAGE_FILE_MACHINE_AMD64:
            return Architecture::amd64;
        case IMAGE_FILE_MACHINE_ARM64:
            return Architecture::arm64;
        case IMAGE_FILE_MACHINE_I386:
            return Architecture::x86;
        default:
            return Architecture::other;
        }
    }
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        return Architecture::amd64;
    case PROCESSOR_ARCHITECTURE_ARM64:
        return Architecture::arm64;
    case PROCESSOR_ARCHITECTURE_INTEL:
        return Architecture::x86;
    default:
        return Architecture::other;
    }
}

OsVersion running_version()
{
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    OsVersion os = {0, 0, 0, 0, 0};
    if (platform().get_version == nullptr || platform().get_version(&info) != 0)
        return os;
    os.major = info.dwMajorVersion;
    os.minor = info.dwMinorVersion;
    os.build = info.dwBuildNumber;
    os.product_type = info.wProductType;
    os.suite_mask = info.wSuiteMask;
    return os;
}

bool runs_emulated()
{
#if defined(__x86_64__) || defined(_M_X64)
    return machine_architecture() != Architecture::amd64;
#else
    return false;
#endif
}

namespace {

// The models section Windows reads for one [Manufacturer] line, as
// SetupDiGetActualModelsSectionW answers: true with the section (empty
// for none), false where the call is not usable here (missing, as in
// Wine, or a stub that answers ERROR_CALL_NOT_IMPLEMENTED) and the
// backend's own rules decide.
bool platform_models_section(INFCONTEXT* line, Architecture machine, std::wstring* section)
{
    if (platform().actual_models_section == nullptr)
        return false;
    wchar_t name[MAX_INF_SECTION_NAME_LENGTH] = L"";
    if (!platform().actual_models_section(line, nullptr, name, MAX_INF_SECTION_NAME_LENGTH, nullptr, nullptr)) {
        if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED)
            return false;
        section->clear();
        return true;
    }
    // An undecorated name comes back where no decoration fits; off x86
    // Windows reads no undecorated section.
    wchar_t models[MAX_INF_SECTION_NAME_LENGTH] = L"";
    SetupGetStringFieldW(line, 1, models, MAX_INF_SECTION_NAME_LENGTH, nullptr);
    *section = name;
    if (same_text(*section, models) && !undecorated_models_apply(machine))
        section->clear();
    return true;
}

// The same, by the backend's own rules (inf_rules).
std::wstring own_models_section(INFCONTEXT* line, Architecture machine, const OsVersion& os)
{
    wchar_t models[256];
    if (!SetupGetStringFieldW(line, 1, models, 256, nullptr))
        return std::wstring();
    DecorationFit best = {false, 0, 0, 0, 0};
    std::wstring section;
    DWORD fields = SetupGetFieldCount(line);
    for (DWORD f = 2; f <= fields; ++f) {
        wchar_t decoration[256];
        if (!SetupGetStringFieldW(line, f, decoration, 256, nullptr))
            continue;
        DecorationFit fit = decoration_fit(decoration, machine, os);
        if (fit_better(fit, best)) {
            best = fit;
            section = std::wstring(models) + L"." + decoration;
        }
    }
    if (!best.applies && undecorated_models_apply(machine))
        section = models;
    return section;
}

} // namespace

std::vector<std::wstring> inf_device_ids(const std::wstring& inf)
{
    std::vector<std::wstring> ids;
    HINF handle = open_inf(inf);
    if (handle == INVALID_HANDLE_VALUE)
        return ids;
    Architecture machine = machine_architecture();
    OsVersion os = running_version();
    INFCONTEXT manufacturer;
    for (BOOL more = SetupFindFirstLineW(handle, L"Manufacturer", nullptr, &manufacturer); more;
         more = SetupFindNextLine(&manufacturer, &manufacturer)) {
        // On Windows the platform's own choice holds; the backend's rules
        // stand in only where that call is not usable.
        std::wstring section;
        if (!platform_models_section(&manufacturer, machine, &section))
            section = own_models_section(&manufacturer, machine, os);
        if (!section.empty())
            add_section_ids(handle, section, &ids);
    }
    SetupCloseInfFile(handle);
    return ids;
}

std::wstring catalog_name(const std::wstring& inf)
{
    std::wstring name;
    HINF handle = open_inf(inf);
    if (handle == INVALID_HANDLE_VALUE)
        return name;
    const wchar_t* keys[catalog_key_count];
    catalog_keys(machine_architecture(), keys);
    for (const wchar_t* key : keys) {
        wchar_t value[MAX_PATH];
        if (SetupGetLineTextW(nullptr, handle, L"Version", key, value, MAX_PATH, nullptr)) {
            name = value;
            break;
        }
    }
    SetupCloseInfFile(handle);
    return name;
}
