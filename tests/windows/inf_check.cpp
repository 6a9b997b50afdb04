// Checks the acceptance kit's null-driver package as the platform's INF
// parser reads it (Wine's SetupAPI under the suite) and as our backend's
// rules pick its models section, so that a package the kit stages on
// Windows cannot be one the backend would refuse before staging:
//   - [Version]: Class=System with its class GUID, PnpLockdown=1, a catalog
//     named by the key our backend reads for the machine;
//   - for x64 and ARM64 on Windows 10 (1607, 2004), Server 2022, Server 2025
//     and Windows 11, the decorated models section our rules choose names
//     the test hardware ID, and an undecorated one is never the choice;
//   - the install section copies nothing and its .Services section holds
//     exactly "AddService = ,2" ("Installing a null driver").
//   inf_check <inf> <hardware id>   prints one line per fault; exit 0 when none
#include <windows.h>
#include <setupapi.h>

#include <stdio.h>
#include <wchar.h>

#include "backend/inf_rules.h"

namespace {

int g_faults = 0;

void fault(const char* what, const wchar_t* detail)
{
    printf("FAIL %s: %ls\n", what, detail);
    ++g_faults;
}

bool version_value(HINF inf, const wchar_t* key, wchar_t* out, DWORD capacity)
{
    return SetupGetLineTextW(nullptr, inf, L"Version", key, out, capacity, nullptr) != FALSE;
}

// The models section our rules pick for the first manufacturer line; "" for none.
void chosen_models(HINF inf, Architecture machine, const OsVersion& os, wchar_t* out, size_t capacity)
{
    out[0] = L'\0';
    INFCONTEXT line;
    if (!SetupFindFirstLineW(inf, L"Manufacturer", nullptr, &line))
        return;
    wchar_t models[128];
    if (!SetupGetStringFieldW(&line, 1, models, 128, nullptr))
        return;
    DecorationFit best = {false, 0, 0, 0, 0};
    for (DWORD f = 2; f <= SetupGetFieldCount(&line); ++f) {
        wchar_t decoration[128];
        if (!SetupGetStringFieldW(&line, f, decoration, 128, nullptr))
            continue;
        DecorationFit fit = decoration_fit(decoration, machine, os);
        if (fit_better(fit, best)) {
            best = fit;
            swprintf(out, capacity, L"%ls.%ls", models, decoration);
        }
    }
    if (!best.applies && undecorated_models_apply(machine))
        swprintf(out, capacity, L"%ls", models);
}

// The install section of the model line naming id, or "" when none does.
void install_section_for(HINF inf, const wchar_t* models, const wchar_t* id, wchar_t* out, DWORD capacity)
{
    out[0] = L'\0';
    INFCONTEXT line;
    for (BOOL more = SetupFindFirstLineW(inf, models, nullptr, &line); more; more = SetupFindNextLine(&line, &line)) {
        for (DWORD f = 2; f <= SetupGetFieldCount(&line); ++f) {
            wchar_t named[256];
            if (SetupGetStringFieldW(&line, f, named, 256, nullptr) && _wcsicmp(named, id) == 0) {
                if (!SetupGetStringFieldW(&line, 1, out, capacity, nullptr))
                    out[0] = L'\0';
                return;
            }
        }
    }
}

void check_null_install(HINF inf, const wchar_t* section)
{
    // The NT-decorated install section Windows uses on every NT machine.
    wchar_t install[300];
    swprintf(install, 300, L"%ls.NT", section);
    if (SetupGetLineCountW(inf, install) < 0)
        swprintf(install, 300, L"%ls", section);
    if (SetupGetLineCountW(inf, install) > 0)
        fault("the install section is not empty", install);
    wchar_t services[320];
    swprintf(services, 320, L"%ls.Services", install);
    INFCONTEXT line;
    if (SetupGetLineCountW(inf, services) != 1 || !SetupFindFirstLineW(inf, services, L"AddService", &line)) {
        fault("no single AddService line in", services);
        return;
    }
    wchar_t name[64] = L"";
    INT flags = 0;
    SetupGetStringFieldW(&line, 1, name, 64, nullptr);
    if (name[0] != L'\0' || !SetupGetIntField(&line, 2, &flags) || flags != SPSVCINST_ASSOCSERVICE)
        fault("AddService is not the null driver (AddService = ,2)", services);
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 3) {
        printf("usage: inf_check <inf> <hardware id>\n");
        return 3;
    }
    UINT error_line = 0;
    HINF inf = SetupOpenInfFileW(argv[1], nullptr, INF_STYLE_WIN4, &error_line);
    if (inf == INVALID_HANDLE_VALUE) {
        printf("FAIL the INF parser refused the file (line %u)\n", error_line);
        return 1;
    }
    wchar_t value[MAX_PATH];
    if (!version_value(inf, L"Class", value, MAX_PATH) || _wcsicmp(value, L"System") != 0)
        fault("Class is not System", value);
    if (!version_value(inf, L"ClassGuid", value, MAX_PATH) ||
        _wcsicmp(value, L"{4d36e97d-e325-11ce-bfc1-08002be10318}") != 0)
        fault("ClassGuid is not the System class", value);
    if (!version_value(inf, L"PnpLockdown", value, MAX_PATH) || wcscmp(value, L"1") != 0)
        fault("PnpLockdown is not 1", value);

    struct Machine {
        Architecture architecture;
        const wchar_t* name;
    };
    const Machine machines[] = {{Architecture::amd64, L"x64"}, {Architecture::arm64, L"ARM64"}};
    // Windows 10 1607, 2004 (workstation), Server 2022, Server 2025, Windows 11 24H2.
    const OsVersion systems[] = {
        {10, 0, 14393, 1, 0x100}, {10, 0, 19041, 1, 0x100}, {10, 0, 20348, 3, 0x110},
        {10, 0, 26100, 3, 0x110}, {10, 0, 26100, 1, 0x100},
    };
    for (const Machine& machine : machines) {
        const wchar_t* keys[catalog_key_count];
        catalog_keys(machine.architecture, keys);
        bool catalog = false;
        for (const wchar_t* key : keys)
            catalog = catalog || (version_value(inf, key, value, MAX_PATH) && value[0] != L'\0');
        if (!catalog)
            fault("no catalog named for", machine.name);
        for (const OsVersion& os : systems) {
            wchar_t models[300];
            chosen_models(inf, machine.architecture, os, models, 300);
            wchar_t where[400];
            swprintf(where, 400, L"%ls on build %u (%ls)", machine.name, os.build, models);
            wchar_t section[256];
            install_section_for(inf, models, argv[2], section, 256);
            if (models[0] == L'\0' || wcschr(models, L'.') == nullptr)
                fault("no decorated models section chosen", where);
            else if (section[0] == L'\0')
                fault("the chosen models section does not name the hardware ID", where);
            else
                check_null_install(inf, section);
        }
    }
    SetupCloseInfFile(inf);
    LocalFree(argv);
    if (g_faults == 0)
        printf("ok the package is a null-driver package for x64 and ARM64\n");
    return g_faults == 0 ? 0 : 1;
}
