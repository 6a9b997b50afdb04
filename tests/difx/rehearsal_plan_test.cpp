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

} // namespace
