// Where the binding looks for the library when the platform's loader lacks
// the safe search flags: beside the program, then System32, each by its
// full name.  The loader is played by a recorder.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "base/program_path.h"
#include "difx/difx_api.h"

namespace {

struct LoadCall {
    std::string file;
    DWORD flags;
};

std::vector<LoadCall> g_loads;
std::string g_loadable;  // the one name the recorder loads (kernel32 in its place)

HMODULE WINAPI old_loader(const char* file, HANDLE, DWORD flags)
{
    g_loads.push_back({file, flags});
    if (flags & ~static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (file == g_loadable)
        return LoadLibraryA("kernel32.dll");
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

uint32_t unknown_program_path(char*, uint32_t)
{
    return 0;
}

std::string beside_program()
{
    char path[1024];
    uint32_t len = get_program_file_path(path, sizeof path);
    std::string full(path, len);
    return full.substr(0, full.find_last_of('\\') + 1) + "DifxApix64.dll";
}

std::string in_system32()
{
    char path[MAX_PATH];
    UINT len = GetSystemDirectoryA(path, sizeof path);
    return std::string(path, len) + "\\DifxApix64.dll";
}

struct FallbackCase {
    const char* what;
    bool program_path_known;
    std::string loadable;
    std::vector<std::string> files;  // after the first call with the search flags
};

TEST(Binding, LoaderWithoutSearchFlagsTriesTheProgramFolderThenSystem32)
{
    const FallbackCase cases[] = {
        {"beside the program", true, beside_program(), {beside_program()}},
        {"in System32", true, in_system32(), {beside_program(), in_system32()}},
        {"nowhere", true, "", {beside_program(), in_system32()}},
        {"program path unknown", false, in_system32(), {in_system32()}},
    };
    for (const FallbackCase& c : cases) {
        g_loads.clear();
        g_loadable = c.loadable;
        program_path_function platform = g_program_path;
        if (!c.program_path_known)
            g_program_path = unknown_program_path;
        g_load_library = old_loader;
        DifxEntryPoints entry_points{};
        HMODULE module = bind_difx_library(&entry_points);
        g_load_library = LoadLibraryExA;
        g_program_path = platform;

        // kernel32 has none of the entry points: found, then refused.
        EXPECT_EQ(module, nullptr) << c.what;
        ASSERT_EQ(g_loads.size(), c.files.size() + 1) << c.what;
        EXPECT_EQ(g_loads[0].file, "DifxApix64.dll") << c.what;
        EXPECT_EQ(g_loads[0].flags, 0xA00u) << c.what;
        for (size_t i = 0; i < c.files.size(); ++i) {
            EXPECT_EQ(g_loads[i + 1].file, c.files[i]) << c.what;
            EXPECT_EQ(g_loads[i + 1].flags, static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH)) << c.what;
        }
    }
}

} // namespace
