// Our own DifxApix64.dll over the platform's driver-setup functions, run
// end to end with Tavenor in the Wine prefix: small null-service packages
// staged into the INF folder by Wine's real setup functions and installed
// on a root device the test makes.  Wine's device installer is a stub, so
// the runs load the stand-in built from Microsoft's documentation of it
// (newdev_standin.cpp) through a native override, scripted per case.
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

// A package whose models section, decorated as given, names the IDs.
std::string package_inf(const std::string& ids, const std::string& decoration = "NTamd64")
{
    std::string models = decoration.empty() ? "Models" : "Models." + decoration;
    return "[Version]\r\n"
           "Signature = \"$Windows NT$\"\r\n"
           "Class = System\r\n"
           "ClassGuid = {4d36e97d-e325-11ce-bfc1-08002be10318}\r\n"
           "Provider = %Vendor%\r\n"
           "DriverVer = 12/08/2026,1.0.0.12\r\n"
           "\r\n"
           "[Manufacturer]\r\n"
           "%Vendor% = Models" + (decoration.empty() ? std::string() : ", " + decoration) + "\r\n"
           "\r\n"
           "[" + models + "]\r\n"
           "%Device% = Install, " + ids + "\r\n"
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
    UINT len = GetSystemWindowsDirectoryA(windows, sizeof windows);
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

std::string multi_sz(const std::vector<std::string>& ids)
{
    std::string out;
    for (const std::string& id : ids)
        out += id + '\0';
    return out + '\0';
}

class Backend : public testing::Test {
protected:
    Stage stage;
    std::vector<std::string> packages;  // INF texts the test stages, removed again after it
    HDEVINFO devices = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device = {};

    void SetUp() override
    {
        stage = make_stage(testing::UnitTest::GetInstance()->current_test_info()->name(), Library::none);
        ASSERT_TRUE(CopyFileA((program_folder() + "backend\\DifxApix64.dll").c_str(),
                              (stage.folder + "\\DifxApix64.dll").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((program_folder() + "newdev-standin\\newdev.dll").c_str(),
                              (stage.folder + "\\newdev.dll").c_str(), FALSE));
        make_dirs(stage.folder + "\\pkg");
        add_package("tavtest.inf", package_inf("ROOT\\TAVENOR_TEST"));
        // Tavenor.exe loads the stand-in beside it instead of Wine's own
        // newdev, for this test's runs only.
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, override_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        static const char native_first[] = "native,builtin";
        RegSetValueExA(key, "newdev", 0, REG_SZ, reinterpret_cast<const BYTE*>(native_first), sizeof native_first);
        RegCloseKey(key);
    }
    void TearDown() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, override_key);
        remove_device();
        remove_staged();
    }
    static constexpr char override_key[] = "Software\\Wine\\AppDefaults\\Tavenor.exe\\DllOverrides";
    void add_package(const std::string& name, const std::string& text)
    {
        write_file(stage.folder + "\\pkg\\" + name, text);
        packages.push_back(text);
        remove_staged();
    }
    void make_device(const std::vector<std::string>& hardware, const std::vector<std::string>& compatible = {})
    {
        remove_device();
        devices = SetupDiCreateDeviceInfoList(&system_class, nullptr);
        ASSERT_NE(devices, INVALID_HANDLE_VALUE);
        device.cbSize = sizeof device;
        ASSERT_TRUE(SetupDiCreateDeviceInfoA(devices, "System", &system_class, nullptr, nullptr, DICD_GENERATE_ID,
                                             &device));
        std::string ids = multi_sz(hardware);
        ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID,
                                                      reinterpret_cast<const BYTE*>(ids.data()),
                                                      static_cast<DWORD>(ids.size())));
        if (!compatible.empty()) {
            std::string more = multi_sz(compatible);
            ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(devices, &device, SPDRP_COMPATIBLEIDS,
                                                          reinterpret_cast<const BYTE*>(more.data()),
                                                          static_cast<DWORD>(more.size())));
        }
        ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, devices, &device));
    }
    void remove_device()
    {
        if (devices != INVALID_HANDLE_VALUE) {
            SetupDiCallClassInstaller(DIF_REMOVE, devices, &device);
            SetupDiDestroyDeviceInfoList(devices);
            devices = INVALID_HANDLE_VALUE;
        }
    }
    void remove_staged()
    {
        for (const std::string& text : packages) {
            for (const std::string& name : staged_copies(text))
                SetupUninstallOEMInfA(name.c_str(), SUOI_FORCEDELETE, nullptr);
        }
    }
    // The device's driver, as its driver key records it.
    std::string device_driver()
    {
        HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            return std::string();
        char value[MAX_PATH] = "";
        DWORD size = sizeof value - 1;
        RegQueryValueExA(key, "InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
        return value;
    }
    DriveResult tavenor(const std::string& tail, const std::string& script = std::string())
    {
        write_file(stage.folder + "\\newdev-script.txt", script);
        DeleteFileA((stage.folder + "\\newdev-journal.txt").c_str());
        DriveOptions options;
        options.exe = stage.exe;
        options.arguments = tail;
        DriveResult r = drive(options);
        EXPECT_FALSE(r.crashed) << tail;
        return r;
    }
    // The stand-in's journal: "update <id> <flags> <result> [devices]".
    std::vector<std::string> device_calls()
    {
        return split_lines(read_file(stage.folder + "\\newdev-journal.txt"));
    }
    static std::vector<std::string> lines(const DriveResult& r)
    {
        bool paired = false;
        return trace_lines(r, &paired);
    }
    // The run's trace as one text, for failure messages.
    static std::string shown(const DriveResult& r)
    {
        std::string text;
        for (const std::string& line : lines(r))
            text += "\n  " + line;
        return text;
    }
    static bool has_line_starting(const std::vector<std::string>& lines, const std::string& start)
    {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.compare(0, start.size(), start) == 0; });
    }
};

TEST_F(Backend, InstallTwiceInARowRepairsWithForce)
{
    make_device({"ROOT\\TAVENOR_TEST"});
    DriveResult first = tavenor("/i pkg\\tavtest.inf /d");
    EXPECT_EQ(first.exit_code, 0u) << shown(first);
    std::vector<std::string> copies = staged_copies(packages[0]);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(device_driver(), copies[0]);
    // The install, then the repair, which must force a driver that is current.
    std::vector<std::string> calls = device_calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(split_tabs(calls[0])[2], "0");
    EXPECT_EQ(split_tabs(calls[1])[2], "1");
    EXPECT_EQ(split_tabs(calls[1])[3], "0x00000000");

    // Again: staging finds it, the package is cleared and staged anew.
    DriveResult again = tavenor("/i pkg\\tavtest.inf /d");
    EXPECT_EQ(again.exit_code, 0u);
    std::vector<std::string> again_lines = lines(again);
    EXPECT_NE(std::find(again_lines.begin(), again_lines.end(),
                        "DriverPackagePreinstall returned ERROR_ALREADY_EXISTS"),
              again_lines.end());
    EXPECT_TRUE(has_line_starting(again_lines, "LOG Event: 0, removed "));
    EXPECT_EQ(staged_copies(packages[0]).size(), 1u);
    EXPECT_EQ(device_driver(), copies[0]);
}

struct DeviceCase {
    const char* what;
    std::vector<std::string> hardware;
    std::vector<std::string> compatible;
    std::string inf_ids;
    std::string script;
    const char* tail;
    DWORD exit_code;
    const char* installed_by;  // the ID of each device call; empty: none succeeds
};

TEST_F(Backend, WhichDevicesGetTheDriver)
{
    const DeviceCase cases[] = {
        {"REV and generic ID on one device: one call per install", {"ROOT\\TAVENOR_TEST&REV_01", "ROOT\\TAVENOR_TEST"},
         {}, "ROOT\\TAVENOR_TEST&REV_01, ROOT\\TAVENOR_TEST", "", "/i pkg\\case.inf", 0, "ROOT\\TAVENOR_TEST&REV_01"},
        {"found by a compatible ID", {"ROOT\\TAVENOR_OTHER"}, {"ROOT\\TAVENOR_TEST"}, "ROOT\\TAVENOR_TEST", "",
         "/i pkg\\case.inf", 0, "ROOT\\TAVENOR_TEST"},
        {"the device spells the ID in other letter case", {"root\\tavenor_test"}, {}, "ROOT\\TAVENOR_TEST", "",
         "/i pkg\\case.inf", 0, "root\\tavenor_test"},
        {"a better driver stays", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST", "better ROOT\\TAVENOR_TEST\n",
         "/i pkg\\case.inf", 2, ""},
        {"a better driver is replaced by force", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST",
         "better ROOT\\TAVENOR_TEST\n", "/i pkg\\case.inf /f", 0, "ROOT\\TAVENOR_TEST"},
        {"a publisher prompt under /s fails", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST", "prompt case.inf\n",
         "/i pkg\\case.inf /s", 2, ""},
        {"a publisher prompt is answered without /s", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST",
         "prompt case.inf\n", "/i pkg\\case.inf", 0, "ROOT\\TAVENOR_TEST"},
        {"a reboot request", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST", "reboot case.inf\n",
         "/i pkg\\case.inf", 1, "ROOT\\TAVENOR_TEST"},
    };
    for (const DeviceCase& c : cases) {
        add_package("case.inf", package_inf(c.inf_ids));
        make_device(c.hardware, c.compatible);
        DriveResult r = tavenor(std::string(c.tail) + " /d", c.script);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.what << shown(r);
        std::vector<std::string> staged = staged_copies(package_inf(c.inf_ids));
        bool installs = c.installed_by[0] != '\0';
        EXPECT_EQ(device_driver(), installs && !staged.empty() ? staged[0] : std::string()) << c.what;
        for (const std::string& call : device_calls()) {
            std::vector<std::string> fields = split_tabs(call);
            ASSERT_GE(fields.size(), 4u) << c.what;
            if (fields[3] != "0x00000000")
                continue;
            EXPECT_EQ(fields[1], c.installed_by) << c.what;
            ASSERT_EQ(fields.size(), 5u) << c.what;
            EXPECT_EQ(fields[4].find(' '), std::string::npos) << c.what << ": one device per call";
        }
        remove_staged();
    }
}

struct RefusedCase {
    const char* what;
    std::string inf;
    const char* last_line;
};

TEST_F(Backend, PackagesRefusedBeforeStaging)
{
    make_device({"ROOT\\TAVENOR_TEST"});
    std::string with_catalog = package_inf("ROOT\\TAVENOR_TEST");
    with_catalog.insert(with_catalog.find("DriverVer"), "CatalogFile = missing.cat\r\n");
    const RefusedCase cases[] = {
        {"models for another architecture only", package_inf("ROOT\\TAVENOR_TEST", "NTarm64"),
         "Call DriverPackagePreinstall failed: ERROR_NO_DEVICE_ID"},
        {"models for a newer Windows only", package_inf("ROOT\\TAVENOR_TEST", "NTamd64.99.0"),
         "Call DriverPackagePreinstall failed: ERROR_NO_DEVICE_ID"},
        // A signature-class code: Tavenor tries legacy mode, then gives up.
        {"a catalog that is not there", with_catalog, "Call DriverPackagePreinstall failed: ERROR_INVALID_CATALOG_DATA"},
    };
    for (const RefusedCase& c : cases) {
        add_package("refused.inf", c.inf);
        DriveResult r = tavenor("/i pkg\\refused.inf /d");
        EXPECT_EQ(r.exit_code, 2u) << c.what;
        EXPECT_EQ(lines(r).back(), c.last_line) << c.what;
        EXPECT_TRUE(staged_copies(c.inf).empty()) << c.what;
        EXPECT_TRUE(device_calls().empty()) << c.what;
    }
}

TEST_F(Backend, InstallWithoutAMatchingDevice)
{
    add_package("nodev.inf", package_inf("ROOT\\TAVENOR_NO_SUCH_DEVICE"));
    DriveResult r = tavenor("/i pkg\\nodev.inf /d");
    EXPECT_EQ(r.exit_code, 2u);
    std::vector<std::string> got = lines(r);
    EXPECT_NE(std::find(got.begin(), got.end(), "DriverPackageInstall returned ERROR_NO_SUCH_DEVINST"), got.end());
    EXPECT_EQ(got.back(), "Call DriverPackageInstall failed: ERROR_NO_SUCH_DEVINST");
}

TEST_F(Backend, UninstallKeepsAPackageInUseUnlessForced)
{
    make_device({"ROOT\\TAVENOR_TEST"});
    ASSERT_EQ(tavenor("/i pkg\\tavtest.inf").exit_code, 0u);
    ASSERT_EQ(staged_copies(packages[0]).size(), 1u);

    DriveResult kept = tavenor("/u pkg\\tavtest.inf /d");
    EXPECT_EQ(kept.exit_code, 2u);
    EXPECT_TRUE(has_line_starting(lines(kept), "LOG Event: 3, Error = 3758096957, "));
    EXPECT_EQ(lines(kept).back(), "Call DriverPackageUninstall failed: ERROR_INF_IN_USE_BY_DEVICES");
    EXPECT_EQ(staged_copies(packages[0]).size(), 1u);
    EXPECT_FALSE(device_driver().empty());

    DriveResult removed = tavenor("/u pkg\\tavtest.inf /f /d");
    EXPECT_EQ(removed.exit_code, 0u);
    EXPECT_TRUE(staged_copies(packages[0]).empty());
    EXPECT_TRUE(device_driver().empty());
    EXPECT_TRUE(has_line_starting(lines(removed), "LOG Event: 0, removed "));

    DriveResult second = tavenor("/u pkg\\tavtest.inf /f /d");
    EXPECT_EQ(second.exit_code, 2u);
    EXPECT_EQ(lines(second).back(), "Call DriverPackageUninstall failed: ERROR_DRIVER_PACKAGE_NOT_IN_STORE");
}

// Two staged copies of one INF differ only in their catalogs.  Where the
// store's catalog cannot be compared (Wine has no store locations), none is
// removed: removing the wrong one and answering success would be worse.
TEST_F(Backend, TwoStagedCopiesThatCannotBeToldApartStay)
{
    const std::string copies[] = {inf_folder() + "oem9701.inf", inf_folder() + "oem9702.inf"};
    for (const std::string& copy : copies)
        ASSERT_TRUE(write_file(copy, packages[0]));
    DriveResult r = tavenor("/u pkg\\tavtest.inf /f /d");
    EXPECT_EQ(r.exit_code, 2u);
    std::vector<std::string> got = lines(r);
    EXPECT_TRUE(has_line_starting(got, "LOG Event: 2, 2 staged copies of ")) << shown(r);
    EXPECT_EQ(got.back(), "Call DriverPackageUninstall failed: ERROR_DRIVER_PACKAGE_NOT_IN_STORE");
    for (const std::string& copy : copies) {
        EXPECT_TRUE(file_exists(copy)) << copy;
        DeleteFileA(copy.c_str());
    }
}

TEST_F(Backend, RefusesRelativeMissingLongAndSystemInfs)
{
    HMODULE backend = LoadLibraryA((stage.folder + "\\DifxApix64.dll").c_str());
    ASSERT_NE(backend, nullptr);
    using preinstall_entry = DWORD(WINAPI*)(const char*, DWORD);
    using uninstall_entry = DWORD(WINAPI*)(const char*, DWORD, const void*, BOOL*);
    auto preinstall = reinterpret_cast<preinstall_entry>(
        reinterpret_cast<void*>(GetProcAddress(backend, "DriverPackagePreinstallA")));
    auto uninstall = reinterpret_cast<uninstall_entry>(
        reinterpret_cast<void*>(GetProcAddress(backend, "DriverPackageUninstallA")));
    ASSERT_NE(preinstall, nullptr);
    ASSERT_NE(uninstall, nullptr);
    EXPECT_EQ(preinstall("pkg\\tavtest.inf", 0), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(preinstall((stage.folder + "\\pkg\\missing.inf").c_str(), 0), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(preinstall(("C:\\" + std::string(300, 'x') + "\\x.inf").c_str(), 0),
              static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));

    // Every spelling of a file in the system INF folder is refused, and
    // nothing is deleted there.
    std::string system_inf = inf_folder() + "tavenor-system-test.inf";
    write_file(system_inf, packages[0]);
    std::string windows = inf_folder().substr(0, inf_folder().size() - 5);
    const std::string spellings[] = {
        system_inf,
        "\\\\?\\" + system_inf,
        windows + "/INF/tavenor-system-test.inf",
        windows + "\\system32\\..\\inf\\tavenor-system-test.inf",
    };
    for (const std::string& spelling : spellings) {
        EXPECT_EQ(preinstall(spelling.c_str(), 0), static_cast<DWORD>(ERROR_CANT_ACCESS_FILE)) << spelling;
        BOOL reboot = FALSE;
        EXPECT_EQ(uninstall(spelling.c_str(), 0x24, nullptr, &reboot), static_cast<DWORD>(ERROR_CANT_ACCESS_FILE))
            << spelling;
        EXPECT_TRUE(file_exists(system_inf)) << spelling;
    }
    DeleteFileA(system_inf.c_str());
    FreeLibrary(backend);
}

TEST_F(Backend, InstallerInformationNeedsOnlyTheApplication)
{
    HMODULE backend = LoadLibraryA((stage.folder + "\\DifxApix64.dll").c_str());
    ASSERT_NE(backend, nullptr);
    using install_entry = DWORD(WINAPI*)(const char*, DWORD, const void*, BOOL*);
    auto install = reinterpret_cast<install_entry>(
        reinterpret_cast<void*>(GetProcAddress(backend, "DriverPackageInstallA")));
    struct {
        const char *application, *display, *product, *maker;
    } without_application = {"", "Display", "Product", "Maker"}, application_only = {"app", nullptr, "", nullptr};
    BOOL reboot = FALSE;
    std::string inf = stage.folder + "\\pkg\\tavtest.inf";
    EXPECT_EQ(install(inf.c_str(), 0, &without_application, &reboot), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // Past the record's check: no device is there to install on.
    EXPECT_EQ(install(inf.c_str(), 0, &application_only, &reboot), 0xE000020Bu);
    FreeLibrary(backend);
}

} // namespace
