// Our own DifxApix64.dll over the platform's driver-setup functions, run
// end to end with Tavenor in the Wine prefix: a small null-service package
// staged into the INF folder and installed on a root device the test makes.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/stage.h"
#include "support/test_files.h"

namespace {

const GUID system_class = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string package_inf(const char* hardware_id)
{
    return std::string("[Version]\r\n"
                       "Signature = \"$Windows NT$\"\r\n"
                       "Class = System\r\n"
                       "ClassGuid = {4d36e97d-e325-11ce-bfc1-08002be10318}\r\n"
                       "Provider = %Vendor%\r\n"
                       "DriverVer = 12/08/2026,1.0.0.12\r\n"
                       "\r\n"
                       "[Manufacturer]\r\n"
                       "%Vendor% = Models, NTamd64\r\n"
                       "\r\n"
                       "[Models.NTamd64]\r\n"
                       "%Device% = Install, ") +
           hardware_id +
           "\r\n"
           "\r\n"
           "[Install.NT]\r\n"
           "\r\n"
           "[Install.NT.Services]\r\n"
           "AddService = , 0x00000002\r\n"
           "\r\n"
           "[Strings]\r\n"
           "Vendor = \"Tavenor tests\"\r\n"
           "Device = \"Tavenor test device\"\r\n";
}

std::string inf_folder()
{
    char windows[MAX_PATH];
    UINT len = GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows, len) + "\\inf\\";
}

// Staged copies of the given INF text in the system INF folder.
std::vector<std::string> staged_copies(const std::string& text)
{
    std::vector<std::string> copies;
    // Windows names them oem*.inf; Wine keeps the package's own name.
    for (const std::string& name : list_names(inf_folder() + "*.inf")) {
        if (read_file(inf_folder() + name) == text)
            copies.push_back(name);
    }
    return copies;
}

class Backend : public testing::Test {
protected:
    Stage stage;
    std::string inf_text = package_inf("ROOT\\TAVENOR_TEST");
    HDEVINFO devices = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device = {};

    void SetUp() override
    {
        stage = make_stage(testing::UnitTest::GetInstance()->current_test_info()->name(), Library::none);
        ASSERT_TRUE(CopyFileA((program_folder() + "backend\\DifxApix64.dll").c_str(),
                              (stage.folder + "\\DifxApix64.dll").c_str(), FALSE));
        make_dirs(stage.folder + "\\pkg");
        write_file(stage.folder + "\\pkg\\tavtest.inf", inf_text);
        write_file(stage.folder + "\\pkg\\nodev.inf", package_inf("ROOT\\TAVENOR_NO_SUCH_DEVICE"));
        remove_staged();
        make_root_device();
    }
    void TearDown() override
    {
        if (devices != INVALID_HANDLE_VALUE) {
            SetupDiCallClassInstaller(DIF_REMOVE, devices, &device);
            SetupDiDestroyDeviceInfoList(devices);
        }
        remove_staged();
    }
    void make_root_device()
    {
        devices = SetupDiCreateDeviceInfoList(&system_class, nullptr);
        ASSERT_NE(devices, INVALID_HANDLE_VALUE);
        device.cbSize = sizeof device;
        ASSERT_TRUE(SetupDiCreateDeviceInfoA(devices, "System", &system_class, nullptr, nullptr, DICD_GENERATE_ID,
                                             &device));
        static const char ids[] = "ROOT\\TAVENOR_TEST\0";
        ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID,
                                                      reinterpret_cast<const BYTE*>(ids), sizeof ids));
        ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, devices, &device));
    }
    void remove_staged()
    {
        for (const std::string& text : {inf_text, package_inf("ROOT\\TAVENOR_NO_SUCH_DEVICE")}) {
            for (const std::string& name : staged_copies(text))
                SetupUninstallOEMInfA(name.c_str(), SUOI_FORCEDELETE, nullptr);
        }
    }
    std::vector<std::string> lines(const DriveResult& r)
    {
        bool paired = false;
        return trace_lines(r, &paired);
    }
    static bool has_line_starting(const std::vector<std::string>& lines, const std::string& start)
    {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.compare(0, start.size(), start) == 0; });
    }
};

TEST_F(Backend, InstallStagesAndInstallsOnTheDevice)
{
    DriveResult r = run(stage, "/i pkg\\tavtest.inf /d");
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.exit_code, 0u);
    std::vector<std::string> copies = staged_copies(inf_text);
    ASSERT_EQ(copies.size(), 1u);
    std::vector<std::string> got = lines(r);
    EXPECT_TRUE(has_line_starting(got, "LOG Event: 0, staged " + stage.folder + "\\pkg\\tavtest.inf as "));
    EXPECT_TRUE(has_line_starting(got, "LOG Event: 0, installed " + stage.folder + "\\pkg\\tavtest.inf on devices with ID ROOT\\TAVENOR_TEST"));
    EXPECT_EQ(got.back(), "Call DriverPackageInstall Succeed.");
    // The device now runs the package's driver: its description is the INF's.
    char description[256] = "";
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_DEVICEDESC, nullptr,
                                                  reinterpret_cast<BYTE*>(description), sizeof description, nullptr));
    EXPECT_STREQ(description, "Tavenor test device");

    // Again: staging finds it, the package is cleared and staged anew.
    DriveResult again = run(stage, "/i pkg\\tavtest.inf /d");
    EXPECT_EQ(again.exit_code, 0u);
    std::vector<std::string> again_lines = lines(again);
    EXPECT_TRUE(std::find(again_lines.begin(), again_lines.end(), "DriverPackagePreinstall returned ERROR_ALREADY_EXISTS") !=
                again_lines.end());
    EXPECT_TRUE(has_line_starting(again_lines, "LOG Event: 0, removed "));
    EXPECT_EQ(staged_copies(inf_text).size(), 1u);
}

TEST_F(Backend, InstallWithoutAMatchingDevice)
{
    DriveResult r = run(stage, "/i pkg\\nodev.inf /d");
    EXPECT_EQ(r.exit_code, 2u);
    std::vector<std::string> got = lines(r);
    EXPECT_TRUE(std::find(got.begin(), got.end(), "DriverPackageInstall returned ERROR_NO_SUCH_DEVINST") != got.end());
    EXPECT_EQ(got.back(), "Call DriverPackageInstall failed: ERROR_NO_SUCH_DEVINST");
}

TEST_F(Backend, UninstallRemovesTheStagedCopyOnce)
{
    ASSERT_EQ(run(stage, "/i pkg\\tavtest.inf").exit_code, 0u);
    ASSERT_EQ(staged_copies(inf_text).size(), 1u);
    // Without /f, Wine's platform call answers success but keeps the file;
    // the backend says so instead of reporting a removal.
    DriveResult kept = run(stage, "/u pkg\\tavtest.inf /d");
    EXPECT_EQ(kept.exit_code, 2u);
    EXPECT_TRUE(has_line_starting(lines(kept), "LOG Event: 3, Error = 3758096957, the platform kept the staged copy"));
    EXPECT_EQ(staged_copies(inf_text).size(), 1u);

    DriveResult removed = run(stage, "/u pkg\\tavtest.inf /f /d");
    EXPECT_EQ(removed.exit_code, 0u);
    EXPECT_TRUE(staged_copies(inf_text).empty());
    EXPECT_TRUE(has_line_starting(lines(removed), "LOG Event: 0, removed "));

    DriveResult second = run(stage, "/u pkg\\tavtest.inf /f /d");
    EXPECT_EQ(second.exit_code, 2u);
    std::vector<std::string> got = lines(second);
    EXPECT_TRUE(has_line_starting(got, "LOG Event: 3, Error = 3758097154, the driver package is not in the store: "));
    EXPECT_EQ(got.back(), "Call DriverPackageUninstall failed: Unknown:0xE0000302");
}

TEST_F(Backend, RefusesRelativeMissingAndSystemInfs)
{
    HMODULE backend = LoadLibraryA((stage.folder + "\\DifxApix64.dll").c_str());
    ASSERT_NE(backend, nullptr);
    using preinstall_entry = DWORD(WINAPI*)(const char*, DWORD);
    using install_entry = DWORD(WINAPI*)(const char*, DWORD, const void*, BOOL*);
    auto preinstall = reinterpret_cast<preinstall_entry>(
        reinterpret_cast<void*>(GetProcAddress(backend, "DriverPackagePreinstallA")));
    auto install = reinterpret_cast<install_entry>(
        reinterpret_cast<void*>(GetProcAddress(backend, "DriverPackageInstallA")));
    ASSERT_NE(preinstall, nullptr);
    ASSERT_NE(install, nullptr);
    EXPECT_EQ(preinstall("pkg\\tavtest.inf", 0), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(preinstall((stage.folder + "\\pkg\\missing.inf").c_str(), 0), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    write_file(inf_folder() + "tavenor-system-test.inf", inf_text);
    EXPECT_EQ(preinstall((inf_folder() + "tavenor-system-test.inf").c_str(), 0),
              static_cast<DWORD>(ERROR_CANT_ACCESS_FILE));
    DeleteFileA((inf_folder() + "tavenor-system-test.inf").c_str());
    struct {
        const char *a, *b, *c, *d;
    } info = {"app", "", "product", "maker"};
    BOOL reboot = FALSE;
    EXPECT_EQ(install((stage.folder + "\\pkg\\tavtest.inf").c_str(), 0, &info, &reboot),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(staged_copies(inf_text).empty());
    FreeLibrary(backend);
}

} // namespace
