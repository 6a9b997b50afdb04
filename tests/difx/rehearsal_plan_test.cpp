// The rehearsal backend loaded into this process for real, with a plan
// beside it: how it reads its plan, and that a plan it cannot place is a
// failure, never "no plan, every call succeeds".
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "difx/difx_interface.h"
#include "e2e/drive.h"
#include "support/test_files.h"

namespace {

// Copies the double into folder (wide, so any name will do), writes the
// plan, loads it and answers one preinstall call.
uint32_t first_answer(const std::wstring& folder, const std::string& plan)
{
    std::string bin = program_folder() + "double\\DifxApix64.dll";
    std::wstring source(bin.begin(), bin.end());
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring dll = folder + L"\\DifxApix64.dll";
    std::wstring plan_path = folder + L"\\difx-plan.txt";
    EXPECT_TRUE(CopyFileW(source.c_str(), dll.c_str(), FALSE));
    DeleteFileW(plan_path.c_str());
    DeleteFileW((folder + L"\\difx-journal.txt").c_str());
    if (!plan.empty()) {
        HANDLE file = CreateFileW(plan_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, plan.data(), static_cast<DWORD>(plan.size()), &written, nullptr);
        CloseHandle(file);
    }
    HMODULE module = LoadLibraryW(dll.c_str());
    EXPECT_NE(module, nullptr);
    if (module == nullptr)
        return 0xFFFFFFFF;
    auto preinstall = reinterpret_cast<difx_preinstall_entry>(
        reinterpret_cast<void*>(GetProcAddress(module, difx_preinstall_name)));
    uint32_t result = preinstall("C:\\x.inf", 0);
    FreeLibrary(module);
    return result;
}

std::wstring work_folder(const std::string& name)
{
    std::string folder = fresh_work_folder(name);
    return std::wstring(folder.begin(), folder.end());
}

struct PlanCase {
    const char* what;
    std::string plan;
    uint32_t result;  // of the first preinstall call; 13 is a refused plan
};

TEST(RehearsalPlan, LinesNumbersAndBrokenPlans)
{
    const std::string comment_1023 = "#" + std::string(1022, 'c');
    const PlanCase cases[] = {
        {"no plan", "", 0},
        {"decimal with a leading zero", "preinstall 010\n", 10},
        {"hexadecimal", "preinstall 0x10\n", 16},
        {"a line of 1023 characters", comment_1023 + "\npreinstall 7\n", 7},
        {"the same with CR LF", comment_1023 + "\r\npreinstall 7\r\n", 7},
        {"a line of 1024 characters", comment_1023 + "c\npreinstall 7\n", ERROR_INVALID_DATA},
        {"a long comment hiding a step behind a NUL",
         std::string("#\0", 2) + std::string(1100, 'c') + "\npreinstall 7\n", ERROR_INVALID_DATA},
        {"a short line with a NUL", std::string("preinstall 7\0 5\n", 16), ERROR_INVALID_DATA},
        {"last line without a line feed", "preinstall 9", 9},
    };
    int row = 0;
    for (const PlanCase& c : cases) {
        EXPECT_EQ(first_answer(work_folder(test_name() + std::to_string(row++)), c.plan), c.result) << c.what;
    }
}

TEST(RehearsalPlan, AFolderTheCodePageCannotNameIsABrokenPlan)
{
    // This test program keeps the system's code page, which has no Cyrillic:
    // the library's path comes back with '?' and names no folder.
    if (GetACP() == CP_UTF8)
        GTEST_SKIP() << "the process code page holds every character";
    std::wstring folder = work_folder(test_name()) + L"\\\x0414\x0440\x0430\x0439\x0432\x0435\x0440";
    EXPECT_EQ(first_answer(folder, "preinstall 0\n"), static_cast<uint32_t>(ERROR_INVALID_DATA));
}

// One call to the library: what it is asked and what it must answer.
struct MachineCall {
    char entry;         // 'i' install, 'u' uninstall, 'r' a fresh load of the library (nothing asked)
    const char* inf;    // "a" the package, "b" the same bytes in another folder
    uint32_t flags;
    uint32_t result;
};

struct MachineCase {
    const char* what;
    const char* plan;
    MachineCall calls[4];
};

// The rehearsed machine remembers, in the plan's folder and across loads,
// what it installed on a device, and an uninstall nobody scripted answers as
// our backend does.
TEST(RehearsalPlan, RemembersWhatItInstalled)
{
    constexpr uint32_t in_use = 0xE000023D;  // ERROR_INF_IN_USE_BY_DEVICES
    constexpr uint32_t force = DRIVER_PACKAGE_FORCE;
    const MachineCase cases[] = {
        {"a device keeps its package unless forced", "",
         {{'i', "a", 0, 0}, {'u', "a", 0, in_use}, {'u', "a", force, 0}, {'u', "a", 0, 0}}},
        {"the package named by another path, after a fresh load", "",
         {{'i', "a", 0, 0}, {'r', "", 0, 0}, {'u', "b", 0, in_use}, {'u', "b", force, 0}}},
        {"an unplugged device neither gets nor keeps it", "device absent\n",
         {{'i', "a", 0, difx_no_such_devinst}, {'u', "a", 0, 0}, {'r', "", 0, 0}, {'r', "", 0, 0}}},
        {"a scripted uninstall answers as scripted", "uninstall 5 0\n",
         {{'i', "a", 0, 0}, {'u', "a", 0, 5}, {'u', "a", 0, 0}, {'u', "a", 0, 0}}},
    };
    int row = 0;
    for (const MachineCase& c : cases) {
        std::string folder = fresh_work_folder(test_name() + std::to_string(row++));
        make_dirs(folder + "\\a");
        make_dirs(folder + "\\b");
        const std::string inf = "[Version]\r\nSignature = \"$Windows NT$\"\r\n";
        write_file(folder + "\\a\\Pkg.inf", inf);
        write_file(folder + "\\b\\pkg.INF", inf);
        write_file(folder + "\\difx-plan.txt", c.plan);
        std::string dll = folder + "\\DifxApix64.dll";
        ASSERT_TRUE(CopyFileA((program_folder() + "double\\DifxApix64.dll").c_str(), dll.c_str(), FALSE));
        HMODULE module = LoadLibraryA(dll.c_str());
        ASSERT_NE(module, nullptr);
        int step = 0;
        for (const MachineCall& call : c.calls) {
            ++step;
            if (call.entry == 'r') {
                FreeLibrary(module);
                module = LoadLibraryA(dll.c_str());
                ASSERT_NE(module, nullptr);
                continue;
            }
            std::string path = folder + (call.inf[0] == 'a' ? "\\a\\Pkg.inf" : "\\b\\pkg.INF");
            int32_t reboot = 0;
            uint32_t got = call.entry == 'i'
                ? reinterpret_cast<difx_install_entry>(reinterpret_cast<void*>(
                      GetProcAddress(module, difx_install_name)))(path.c_str(), call.flags, nullptr, &reboot)
                : reinterpret_cast<difx_uninstall_entry>(reinterpret_cast<void*>(
                      GetProcAddress(module, difx_uninstall_name)))(path.c_str(), call.flags, nullptr, &reboot);
            EXPECT_EQ(got, call.result) << c.what << ", call " << step;
        }
        FreeLibrary(module);
    }
}

} // namespace
