// Our own DifxApix64.dll run end to end with Tavenor in the Wine prefix.
// Paths, identity and the packages refused before staging run against the
// shipped build over Wine's real functions; installs and removals run
// against the tests' build, whose driver store and device installer are the
// stand-in written from Microsoft's documentation (platform_standin.cpp),
// over Wine's real INF folder, devices and driver keys.
#include <gtest/gtest.h>

#include <windows.h>
#include <newdev.h>
#include <setupapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/stage.h"
#include "support/test_files.h"

namespace {

const GUID system_class = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// A package whose models section, decorated as given, names the IDs.  It
// names the catalog tavtest.cat (which Backend::add_package puts beside
// it) unless version_lines name one, or with_catalog is false: Windows
// stages only a package with a catalog.
std::string package_inf(const std::string& ids, const std::string& decoration = "NTamd64",
                        std::string version_lines = std::string(), bool with_catalog = true)
{
    if (with_catalog && version_lines.find("CatalogFile") == std::string::npos)
        version_lines += "CatalogFile = tavtest.cat\r\n";
    std::string models = decoration.empty() ? "Models" : "Models." + decoration;
    return "[Version]\r\n"
           "Signature = \"$Windows NT$\"\r\n"
           "Class = System\r\n"
           "ClassGuid = {4d36e97d-e325-11ce-bfc1-08002be10318}\r\n"
           "Provider = %Vendor%\r\n" +
           version_lines +
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

std::string windows_folder()
{
    char windows[MAX_PATH];
    UINT len = GetSystemWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows, len);
}

std::string inf_folder()
{
    return windows_folder() + "\\inf\\";
}

std::string catalog_store()
{
    return windows_folder() + "\\System32\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\";
}

// Published copies (oem<n>.inf) of the given INF text in the INF folder.
std::vector<std::string> staged_copies(const std::string& text)
{
    std::vector<std::string> copies;
    for (const std::string& name : list_names(inf_folder() + "oem*.inf")) {
        if (read_file(inf_folder() + name) == text)
            copies.push_back(name);
    }
    return copies;
}

// Takes a published package out of the prefix: its INF, catalog and store folder.
void unpublish(const std::string& name)
{
    std::string stem = name.substr(0, name.size() - 4);
    DeleteFileA((inf_folder() + name).c_str());
    DeleteFileA((inf_folder() + stem + ".pnf").c_str());
    DeleteFileA((catalog_store() + stem + ".cat").c_str());
    std::string repository = windows_folder() + "\\System32\\DriverStore\\FileRepository\\";
    for (const std::string& folder : list_names(repository + "*_" + stem))
        remove_tree(repository + folder);
}

std::string multi_sz(const std::vector<std::string>& ids)
{
    std::string out;
    for (const std::string& id : ids)
        out += id + '\0';
    return out + '\0';
}

// Tavenor's last line where /u finds nothing to remove (exit 0).
const char goal_line[] = "The package was not in the driver store: nothing left to uninstall.";

// Which build of the backend a run loads.
enum class Build { shipped, standin };

class Backend : public testing::Test {
protected:
    Stage stage;
    std::vector<std::string> packages;  // INF texts the test stages, removed again after it
    HDEVINFO devices = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device = {};

    void SetUp() override
    {
        stage = make_stage(testing::UnitTest::GetInstance()->current_test_info()->name(), Library::none);
        use(Build::standin);
        make_dirs(stage.folder + "\\pkg");
        add_package("tavtest.inf", package_inf("ROOT\\TAVENOR_TEST"));
    }
    void TearDown() override
    {
        remove_device();
        remove_staged();
    }
    void use(Build build)
    {
        std::string folder = build == Build::shipped ? "backend\\" : "backend-standin\\";
        ASSERT_TRUE(CopyFileA((program_folder() + folder + "DifxApix64.dll").c_str(),
                              (stage.folder + "\\DifxApix64.dll").c_str(), FALSE));
    }
    void add_package(const std::string& name, const std::string& text)
    {
        write_file(stage.folder + "\\pkg\\" + name, text);
        if (!file_exists(stage.folder + "\\pkg\\tavtest.cat"))
            write_file(stage.folder + "\\pkg\\tavtest.cat", "the package's catalog");
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
                unpublish(name);
        }
    }
    // Gives the device a driver, as if an install had put it there.
    void set_device_driver(const std::string& inf)
    {
        set_driver_of(devices, &device, inf);
    }
    static void set_driver_of(HDEVINFO set, SP_DEVINFO_DATA* one, const std::string& inf)
    {
        HKEY key = SetupDiCreateDevRegKeyA(set, one, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr, nullptr);
        ASSERT_NE(key, INVALID_HANDLE_VALUE);
        RegSetValueExA(key, "InfPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(inf.c_str()),
                       static_cast<DWORD>(inf.size() + 1));
        RegCloseKey(key);
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
    DriveResult tavenor(const std::string& tail, const std::string& script = std::string(), bool hidden = false)
    {
        write_file(stage.folder + "\\standin-script.txt", script);
        DeleteFileA((stage.folder + "\\standin-journal.txt").c_str());
        DriveOptions options;
        options.exe = stage.exe;
        options.arguments = tail;
        options.hidden_station = hidden;
        DriveResult r = drive(options);
        EXPECT_FALSE(r.crashed) << tail;
        return r;
    }
    // The stand-in's journal lines of one kind ("update", "remove", ...), split at tabs.
    std::vector<std::vector<std::string>> calls(const std::string& kind)
    {
        std::vector<std::vector<std::string>> out;
        for (const std::string& line : split_lines(read_file(stage.folder + "\\standin-journal.txt"))) {
            std::vector<std::string> fields = split_tabs(line);
            if (!fields.empty() && fields[0] == kind)
                out.push_back(fields);
        }
        return out;
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
    // The install; the repair asks without force, is told the driver is
    // current, and reinstalls it with force.
    std::vector<std::vector<std::string>> updates = calls("update");
    ASSERT_EQ(updates.size(), 3u) << shown(first);
    EXPECT_EQ(updates[0][2], "0x00000000");
    EXPECT_EQ(updates[1][3], "0x00000103");  // ERROR_NO_MORE_ITEMS
    EXPECT_EQ(updates[2][2], "0x00000001");  // INSTALLFLAG_FORCE
    EXPECT_EQ(updates[2][3], "0x00000000");

    // Again: staging finds it, the package is cleared and staged anew.
    DriveResult again = tavenor("/i pkg\\tavtest.inf /d");
    EXPECT_EQ(again.exit_code, 0u) << shown(again);
    std::vector<std::string> again_lines = lines(again);
    EXPECT_NE(std::find(again_lines.begin(), again_lines.end(),
                        "DriverPackagePreinstall returned ERROR_ALREADY_EXISTS"),
              again_lines.end());
    EXPECT_TRUE(has_line_starting(again_lines, "LOG Event: 0, removed "));
    EXPECT_EQ(staged_copies(packages[0]).size(), 1u);
    EXPECT_EQ(device_driver(), staged_copies(packages[0]).front());
}

struct DeviceCase {
    const char* what;
    std::vector<std::string> hardware;
    std::vector<std::string> compatible;
    std::string inf_ids;
    std::string script;
    const char* tail;
    bool hidden_station;
    DWORD exit_code;
    bool gets_driver;
    std::string decoration = "NTamd64";
    std::string driver_before;  // the driver the device runs before the run; empty for none
};

TEST_F(Backend, WhichDevicesGetTheDriver)
{
    const DeviceCase cases[] = {
        {"REV and generic ID on one device", {"ROOT\\TAVENOR_TEST&REV_01", "ROOT\\TAVENOR_TEST"}, {},
         "ROOT\\TAVENOR_TEST&REV_01, ROOT\\TAVENOR_TEST", "", "/i pkg\\case.inf", false, 0, true, "NTamd64", ""},
        {"found by a compatible ID", {"ROOT\\TAVENOR_OTHER"}, {"ROOT\\TAVENOR_TEST"}, "ROOT\\TAVENOR_TEST", "",
         "/i pkg\\case.inf", false, 0, true, "NTamd64", ""},
        {"the device spells the ID in other letter case", {"root\\tavenor_test"}, {}, "ROOT\\TAVENOR_TEST", "",
         "/i pkg\\case.inf", false, 0, true, "NTamd64", ""},
        // Windows keeping a better-ranked driver that works is no failure of
        // the package; "not better" for a device left without any driver,
        // or under force, is.
        {"a better driver stays", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST", "better ROOT\\TAVENOR_TEST\n",
         "/i pkg\\case.inf", false, 0, false, "NTamd64", "machine.inf"},
        {"'not better' for a device without a driver", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST",
         "better ROOT\\TAVENOR_TEST\n", "/i pkg\\case.inf", false, 2, false, "NTamd64", ""},
        {"Windows finds no driver for the device under force", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST",
         "unmatched ROOT\\TAVENOR_TEST\n", "/i pkg\\case.inf /f", false, 2, false, "NTamd64", "machine.inf"},
        // Product types are hex on the INF Manufacturer section page; a build
        // number counts only where major.minor are the running ones.  Read
        // by SetupDiGetActualModelsSection, or by our rules where it is
        // missing (Wine).
        {"a product type in hex", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST", "", "/i pkg\\case.inf", false, 0,
         true, "NTamd64.10.0.0x0000001", ""},
        {"a product type in hex, no models call", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST",
         "no-models-call\n", "/i pkg\\case.inf", false, 0, true, "NTamd64.10.0.0x0000001", ""},
        {"an older version's build, no models call", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST",
         "no-models-call\n", "/i pkg\\case.inf", false, 0, true, "NTamd64.6.3...99999", ""},
        {"a better driver is replaced by force", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST",
         "better ROOT\\TAVENOR_TEST\n", "/i pkg\\case.inf /f", false, 0, true, "NTamd64", ""},
        {"a publisher prompt under /s fails", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST", "prompt case.inf\n",
         "/i pkg\\case.inf /s", false, 2, false, "NTamd64", ""},
        {"a publisher prompt is answered without /s", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST",
         "prompt case.inf\n", "/i pkg\\case.inf", false, 0, true, "NTamd64", ""},
        // Nobody sees the station: no dialog even without /s.
        {"a publisher prompt where nobody can answer", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST",
         "prompt case.inf\n", "/i pkg\\case.inf", true, 2, false, "NTamd64", ""},
        {"a reboot request", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST", "reboot case.inf\n",
         "/i pkg\\case.inf", false, 1, true, "NTamd64", ""},
        // The running version comes from RtlGetVersion: a build decoration
        // newer than it is not taken, one it has is.
        {"a models section for a newer build", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST",
         "version 1703\n", "/i pkg\\build.inf", false, 2, false, "NTamd64", ""},
        {"a models section for this build", {"ROOT\\TAVENOR_TEST"}, {}, "ROOT\\TAVENOR_TEST", "version 19041\n",
         "/i pkg\\build.inf", false, 0, true, "NTamd64", ""},
    };
    for (const DeviceCase& c : cases) {
        bool by_build = std::string(c.tail).find("build.inf") != std::string::npos;
        std::string text = package_inf(c.inf_ids, by_build ? "NTamd64.10.0...19041" : c.decoration);
        add_package(by_build ? "build.inf" : "case.inf", text);
        make_device(c.hardware, c.compatible);
        if (!c.driver_before.empty())
            set_device_driver(c.driver_before);
        DriveResult r = tavenor(std::string(c.tail) + " /d", c.script, c.hidden_station);
        if (c.hidden_station && r.no_hidden_station) {
            ADD_FAILURE() << c.what << ": no window station of our own here";
            continue;
        }
        EXPECT_EQ(r.exit_code, c.exit_code) << c.what << shown(r);
        std::vector<std::string> staged = staged_copies(text);
        EXPECT_EQ(device_driver(), c.gets_driver && !staged.empty() ? staged[0] : c.driver_before) << c.what;
        for (const std::vector<std::string>& call : calls("update")) {
            ASSERT_GE(call.size(), 4u) << c.what;
            if (c.hidden_station || std::string(c.tail).find("/s") != std::string::npos) {
                EXPECT_NE(std::stoul(call[2], nullptr, 16) & INSTALLFLAG_NONINTERACTIVE, 0u) << c.what;
            }
            if (call[3] == "0x00000000") {
                ASSERT_EQ(call.size(), 5u) << c.what;
                EXPECT_EQ(call[4].find(' '), std::string::npos) << c.what << ": one device per call";
            }
        }
        remove_staged();
    }
}

struct RefusedCase {
    const char* what;
    std::string inf;
    const char* last_line;
};

// Refused before anything is staged, by the shipped build over Wine.
TEST_F(Backend, PackagesRefusedBeforeStaging)
{
    use(Build::shipped);
    make_device({"ROOT\\TAVENOR_TEST"});
    const RefusedCase cases[] = {
        {"models for another architecture only", package_inf("ROOT\\TAVENOR_TEST", "NTarm64"),
         "Call DriverPackagePreinstall failed: ERROR_NO_DEVICE_ID"},
        {"models for a newer Windows only", package_inf("ROOT\\TAVENOR_TEST", "NTamd64.99.0"),
         "Call DriverPackagePreinstall failed: ERROR_NO_DEVICE_ID"},
        // Windows reads neither on x64: the architecture must be named.
        {"only an undecorated models section", package_inf("ROOT\\TAVENOR_TEST", ""),
         "Call DriverPackagePreinstall failed: ERROR_NO_DEVICE_ID"},
        {"only a [Models.NT] section", package_inf("ROOT\\TAVENOR_TEST", "NT"),
         "Call DriverPackagePreinstall failed: ERROR_NO_DEVICE_ID"},
        // A signature-class code: Tavenor tries legacy mode, then gives up.
        // The x64 key names the missing catalog; the plain one would be there.
        {"a catalog that is not there",
         package_inf("ROOT\\TAVENOR_TEST", "NTamd64", "CatalogFile = there.cat\r\nCatalogFile.NTamd64 = missing.cat\r\n"),
         "Call DriverPackagePreinstall failed: ERROR_INVALID_CATALOG_DATA"},
    };
    write_file(stage.folder + "\\pkg\\there.cat", "catalog");
    for (const RefusedCase& c : cases) {
        add_package("refused.inf", c.inf);
        DriveResult r = tavenor("/i pkg\\refused.inf /d");
        EXPECT_EQ(r.exit_code, 2u) << c.what;
        ASSERT_FALSE(lines(r).empty()) << c.what;
        EXPECT_EQ(lines(r).back(), c.last_line) << c.what << shown(r);
        for (const std::string& name : list_names(inf_folder() + "*.inf"))
            EXPECT_NE(read_file(inf_folder() + name), c.inf) << c.what << ": staged as " << name;
        remove_staged();
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

struct RemovalCase {
    const char* what;
    const char* version;
    bool scripted_reboot;
    DWORD exit_code;
};

// A package in use is kept without /f; with it, removal takes the device
// off it.  Windows 10 before 1703 has no DiUninstallDriver: the device is
// uninstalled (DIF_REMOVE) before the package is removed, never left on a
// package that is gone.
TEST_F(Backend, UninstallKeepsAPackageInUseUnlessForced)
{
    const RemovalCase cases[] = {
        {"DiUninstallDriver", "22621", false, 0},
        {"DiUninstallDriver asking for a reboot", "19041", true, 1},
        {"before 1703", "1607", false, 0},
    };
    // A signed package: staging installs its catalog as oem<n>.cat, and the
    // removal finds the package by its bytes and that catalog.
    std::string text = package_inf("ROOT\\TAVENOR_TEST", "NTamd64", "CatalogFile = tavtest.cat\r\n");
    add_package("tavtest.inf", text);
    write_file(stage.folder + "\\pkg\\tavtest.cat", "the package's catalog");
    for (const RemovalCase& c : cases) {
        std::string version = std::string("version ") + c.version + "\n";
        make_device({"ROOT\\TAVENOR_TEST"});
        ASSERT_EQ(tavenor("/i pkg\\tavtest.inf", version).exit_code, 0u) << c.what;
        ASSERT_EQ(staged_copies(text).size(), 1u) << c.what;
        std::string published = staged_copies(text).front();
        std::string catalog = catalog_store() + published.substr(0, published.size() - 4) + ".cat";
        EXPECT_EQ(read_file(catalog), "the package's catalog") << c.what;
        if (c.scripted_reboot)
            version += "reboot " + published + "\n";

        DriveResult kept = tavenor("/u pkg\\tavtest.inf /d", version);
        EXPECT_EQ(kept.exit_code, 2u) << c.what;
        EXPECT_TRUE(has_line_starting(lines(kept), "LOG Event: 3, Error = 3758096957, ")) << c.what << shown(kept);
        EXPECT_EQ(lines(kept).back(), "Call DriverPackageUninstall failed: ERROR_INF_IN_USE_BY_DEVICES") << c.what;
        EXPECT_EQ(staged_copies(text).size(), 1u) << c.what;
        EXPECT_FALSE(device_driver().empty()) << c.what;

        DriveResult removed = tavenor("/u pkg\\tavtest.inf /f /d", version);
        EXPECT_EQ(removed.exit_code, c.exit_code) << c.what << shown(removed);
        EXPECT_TRUE(staged_copies(text).empty()) << c.what;
        EXPECT_TRUE(device_driver().empty()) << c.what;
        EXPECT_TRUE(has_line_starting(lines(removed), "LOG Event: 0, removed ")) << c.what;
        EXPECT_FALSE(file_exists(catalog)) << c.what;

        // Nothing is left to do: the goal of /u holds.
        DriveResult second = tavenor("/u pkg\\tavtest.inf /f /d", version);
        EXPECT_EQ(second.exit_code, 0u) << c.what;
        std::vector<std::string> second_lines = lines(second);
        ASSERT_GE(second_lines.size(), 2u) << c.what;
        EXPECT_EQ(second_lines[second_lines.size() - 2],
                  "Call DriverPackageUninstall failed: ERROR_DRIVER_PACKAGE_NOT_IN_STORE")
            << c.what;
        EXPECT_EQ(second_lines.back(), goal_line) << c.what;
        remove_device();
    }
}

// A staged copy that vanishes just before it is removed is "not in the
// store", the goal of /u: ERROR_FILE_NOT_FOUND would send Tavenor into a
// repair install.
TEST_F(Backend, AStagedCopyGoneMeanwhileIsNotInTheStore)
{
    ASSERT_EQ(tavenor("/i pkg\\tavtest.inf").exit_code, 2u);  // staged, no device to install on
    ASSERT_EQ(staged_copies(packages[0]).size(), 1u);
    DriveResult r = tavenor("/u pkg\\tavtest.inf /d", "gone " + staged_copies(packages[0]).front() + "\n");
    EXPECT_EQ(r.exit_code, 0u);
    std::vector<std::string> got = lines(r);
    EXPECT_FALSE(has_line_starting(got, "Uninstall failed because file missing")) << shown(r);
    EXPECT_EQ(got.back(), goal_line);
}

// Two published copies of one INF that cannot be told apart stay: removing
// the wrong one, or answering "not in the store" (which /u takes for done),
// would be worse.
TEST_F(Backend, TwoStagedCopiesThatCannotBeToldApartStay)
{
    const std::string copies[] = {inf_folder() + "oem9701.inf", inf_folder() + "oem9702.inf"};
    make_dirs(catalog_store());
    for (const std::string& copy : copies) {
        ASSERT_TRUE(write_file(copy, packages[0]));
        std::string name = copy.substr(copy.find_last_of('\\') + 1);
        write_file(catalog_store() + name.substr(0, name.size() - 4) + ".cat", read_file(stage.folder + "\\pkg\\tavtest.cat"));
    }
    DriveResult r = tavenor("/u pkg\\tavtest.inf /f /d");
    EXPECT_EQ(r.exit_code, 2u);
    std::vector<std::string> got = lines(r);
    EXPECT_TRUE(has_line_starting(got, "LOG Event: 2, 2 staged copies of ")) << shown(r);
    EXPECT_EQ(got.back(), "Call DriverPackageUninstall failed: ERROR_ALREADY_EXISTS");
    for (const std::string& copy : copies) {
        EXPECT_TRUE(file_exists(copy)) << copy;
        std::string name = copy.substr(copy.find_last_of('\\') + 1);
        unpublish(name);
    }
}

struct InboxCase {
    const char* what;
    std::string in_inf_folder;  // the file the run must leave alone
    std::string catalog;        // beside the package, where it names one
    std::string installed_catalog;  // what Windows installed for the published copy
};

// Nothing but a published package whose bytes and catalog are the
// package's is ever removed, by /u or by the clean's store walk.
TEST_F(Backend, InboxAndForeignInfsAreNeverRemoved)
{
    use(Build::shipped);
    std::string with_catalog = package_inf("ROOT\\TAVENOR_TEST", "NTamd64", "CatalogFile = tavtest.cat\r\n");
    const InboxCase cases[] = {
        {"an inbox INF's copy", inf_folder() + "winexinput.inf", "", ""},
        {"a file of the same name", inf_folder() + "tavinbox.inf", "", ""},
        {"a published copy with another catalog", inf_folder() + "oem9703.inf", "ours", "theirs"},
    };
    for (const InboxCase& c : cases) {
        std::string name = c.in_inf_folder.substr(c.in_inf_folder.find_last_of('\\') + 1);
        std::string kept = file_exists(c.in_inf_folder) ? read_file(c.in_inf_folder)
                                                        : (c.catalog.empty() ? packages[0] : with_catalog);
        ASSERT_TRUE(write_file(c.in_inf_folder, kept)) << c.what;
        std::string stem = name.substr(0, name.size() - 4);
        if (!c.installed_catalog.empty()) {
            make_dirs(catalog_store());
            write_file(catalog_store() + stem + ".cat", c.installed_catalog);
            write_file(stage.folder + "\\pkg\\tavtest.cat", c.catalog);
        }
        write_file(stage.folder + "\\pkg\\" + name, kept);
        // Not the package's: nothing of it is in the store, /u is done.
        DriveResult r = tavenor("/u pkg\\" + name + " /f /s /d");
        EXPECT_EQ(r.exit_code, 0u) << c.what << shown(r);
        EXPECT_EQ(lines(r).back(), goal_line) << c.what;
        EXPECT_EQ(read_file(c.in_inf_folder), kept) << c.what;
        if (!file_exists(c.in_inf_folder))
            write_file(c.in_inf_folder, kept);  // put the prefix right for the next runs
        if (!c.installed_catalog.empty()) {
            EXPECT_EQ(read_file(catalog_store() + stem + ".cat"), c.installed_catalog) << c.what;
            unpublish(name);
        } else if (name == "tavinbox.inf") {
            DeleteFileA(c.in_inf_folder.c_str());
        }
    }

    // The clean walks every store folder, inbox packages included; an ID
    // that an inbox INF names as well leaves that INF in place.
    std::string repository = system_dir() + "\\DriverStore\\FileRepository\\";
    std::string folder = repository + "tavinbox.inf_amd64_0123456789abcdef";
    std::string inbox = package_inf("ROOT\\TAVENOR_INBOX_TEST");
    ASSERT_TRUE(make_dirs(folder));
    write_file(folder + "\\tavinbox.inf", inbox);
    write_file(inf_folder() + "tavinbox.inf", inbox);
    DriveResult clean = tavenor("/c ROOT\\TAVENOR_INBOX_TEST /d");
    EXPECT_EQ(clean.exit_code, 0u);
    EXPECT_EQ(read_file(inf_folder() + "tavinbox.inf"), inbox) << shown(clean);
    DeleteFileA((inf_folder() + "tavinbox.inf").c_str());
    remove_tree(folder);
}

// Makes a link or mapped drive through the host, as a user would with
// ln -s or winecfg, and waits for it to show: host_shell tells no end.
bool host_link(const std::string& target, const std::string& link, const std::string& probe)
{
    std::string unix_target = host_path(target);
    std::string unix_link = host_path(link);
    if (unix_target.empty() || unix_link.empty() || !host_shell("ln -sfn '" + unix_target + "' '" + unix_link + "'"))
        return false;
    for (int i = 0; i < 100 && !file_exists(probe); ++i)
        Sleep(100);  // bounds a hang only
    return file_exists(probe);
}

// Every spelling of a file in the system INF folder that Wine can open is
// refused, by /i and by /u /f, and nothing there is touched.
TEST_F(Backend, InfFolderSpellingsAreRefused)
{
    use(Build::shipped);
    std::string system_inf = inf_folder() + "tavenor-system-test.inf";
    ASSERT_TRUE(write_file(system_inf, packages[0]));
    std::string windows = windows_folder();
    char short_name[MAX_PATH] = "";
    GetShortPathNameA(system_inf.c_str(), short_name, sizeof short_name);
    std::vector<std::string> spellings = {
        system_inf,
        "\\\\?\\" + system_inf,
        "\\\\.\\" + system_inf,
        "\\\\?\\GLOBALROOT\\??\\" + system_inf,
        windows + "/INF/tavenor-system-test.inf",
        windows + "\\system32\\..\\inf\\tavenor-system-test.inf",
        short_name,
    };
    // Wine's drive Z: is the host's root: the same file by another drive.
    std::string unix_name = host_path(system_inf);
    if (!unix_name.empty()) {
        std::replace(unix_name.begin(), unix_name.end(), '/', '\\');
        spellings.push_back("Z:" + unix_name);
    }
    // A folder link into the INF folder, and a drive letter mapped to the
    // Windows folder (the prefix's dosdevices, as winecfg makes it).
    std::string link = "C:\\tavenor-inf-link";
    if (host_link(inf_folder(), link, link + "\\tavenor-system-test.inf"))
        spellings.push_back(link + "\\tavenor-system-test.inf");
    else
        ADD_FAILURE() << "no folder link could be made";
    // Wine names the prefix's files through dosdevices/c: or drive_c.
    std::string dosdevices = host_path(windows);
    size_t prefix_end = std::min(dosdevices.rfind("/dosdevices/"), dosdevices.rfind("/drive_c/"));
    dosdevices = dosdevices.substr(0, prefix_end) + "/dosdevices/t:";
    if (host_shell("ln -sfn ../drive_c/windows '" + dosdevices + "'")) {
        for (int i = 0; i < 100 && !file_exists("T:\\inf\\tavenor-system-test.inf"); ++i)
            Sleep(100);  // bounds a hang only
    }
    if (file_exists("T:\\inf\\tavenor-system-test.inf"))
        spellings.push_back("T:\\inf\\tavenor-system-test.inf");
    else
        ADD_FAILURE() << "no mapped drive could be made";

    for (const std::string& spelling : spellings) {
        DriveResult install = tavenor("/i \"" + spelling + "\" /d");
        EXPECT_EQ(install.exit_code, 2u) << spelling << shown(install);
        EXPECT_EQ(read_file(system_inf), packages[0]) << "/i " << spelling;
        DriveResult uninstall = tavenor("/u \"" + spelling + "\" /f /d");
        EXPECT_EQ(uninstall.exit_code, 2u) << spelling << shown(uninstall);
        EXPECT_EQ(read_file(system_inf), packages[0]) << "/u " << spelling;
        if (!file_exists(system_inf))
            write_file(system_inf, packages[0]);
    }
    host_shell("rm -f '" + host_path(link) + "' '" + dosdevices + "'");
    DeleteFileA(system_inf.c_str());
}

TEST_F(Backend, RefusesRelativeAndMissingInfs)
{
    HMODULE backend = LoadLibraryA((stage.folder + "\\DifxApix64.dll").c_str());
    ASSERT_NE(backend, nullptr);
    using preinstall_entry = DWORD(WINAPI*)(const char*, DWORD);
    auto preinstall = reinterpret_cast<preinstall_entry>(
        reinterpret_cast<void*>(GetProcAddress(backend, "DriverPackagePreinstallA")));
    ASSERT_NE(preinstall, nullptr);
    EXPECT_EQ(preinstall("pkg\\tavtest.inf", 0), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(preinstall((stage.folder + "\\pkg\\missing.inf").c_str(), 0), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    FreeLibrary(backend);
}

// A package folder whose path is past 260 bytes of UTF-8 (and within 260
// characters) is staged and installed: the backend's calls are wide.
TEST_F(Backend, APathPastMaxPathBytesInstalls)
{
    // As many folders as take the path past 260 bytes wherever the build is.
    std::string folder = "pkg";
    while ((stage.folder + "\\" + folder + "\\long.inf").size() <= 260)
        folder += "\\\xc3\xa9t\xc3\xa9-\xe2\x82\xac-\xc3\xa9t\xc3\xa9";  // "été-€-été", 17 bytes, 9 characters
    std::wstring wide_folder;
    {
        wchar_t wide[1024];
        MultiByteToWideChar(CP_UTF8, 0, (stage.folder + "\\" + folder).c_str(), -1, wide, 1024);
        wide_folder = wide;
    }
    for (size_t at = wide_folder.find(L'\\', 3); at != std::wstring::npos; at = wide_folder.find(L'\\', at + 1))
        CreateDirectoryW(wide_folder.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(wide_folder.c_str(), nullptr);
    std::string text = package_inf("ROOT\\TAVENOR_TEST");
    {
        wchar_t catalog[1024];
        MultiByteToWideChar(CP_UTF8, 0, (stage.folder + "\\pkg\\tavtest.cat").c_str(), -1, catalog, 1024);
        ASSERT_TRUE(CopyFileW(catalog, (wide_folder + L"\\tavtest.cat").c_str(), FALSE));
    }
    HANDLE file = CreateFileW((wide_folder + L"\\long.inf").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                              nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    packages.push_back(text);
    std::string inf = folder + "\\long.inf";
    ASSERT_GT((stage.folder + "\\" + inf).size(), 260u);
    make_device({"ROOT\\TAVENOR_TEST"});
    DriveResult r = tavenor("/i \"" + inf + "\" /d");
    EXPECT_EQ(r.exit_code, 0u) << shown(r);
    ASSERT_EQ(staged_copies(text).size(), 1u);
    EXPECT_EQ(device_driver(), staged_copies(text).front());
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

// The device installer's TRUE means that a device was updated, not every
// one: a second device that Windows keeps on a better driver that works is
// no failure.
TEST_F(Backend, EachDeviceIsJudgedAfterTheCall)
{
    make_device({"ROOT\\TAVENOR_TEST"});
    HDEVINFO second_set = SetupDiCreateDeviceInfoList(&system_class, nullptr);
    ASSERT_NE(second_set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA second = {};
    second.cbSize = sizeof second;
    ASSERT_TRUE(SetupDiCreateDeviceInfoA(second_set, "System", &system_class, nullptr, nullptr, DICD_GENERATE_ID,
                                         &second));
    std::string ids = multi_sz({"ROOT\\TAVENOR_TEST_B", "ROOT\\TAVENOR_TEST"});
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(second_set, &second, SPDRP_HARDWAREID,
                                                  reinterpret_cast<const BYTE*>(ids.data()),
                                                  static_cast<DWORD>(ids.size())));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, second_set, &second));
    set_driver_of(second_set, &second, "machine.inf");

    DriveResult r = tavenor("/i pkg\\tavtest.inf /d", "better ROOT\\TAVENOR_TEST_B\n");
    EXPECT_EQ(r.exit_code, 0u) << shown(r);
    ASSERT_EQ(staged_copies(packages[0]).size(), 1u);
    EXPECT_EQ(device_driver(), staged_copies(packages[0]).front());
    EXPECT_TRUE(has_line_starting(lines(r), "LOG Event: 2, device ")) << shown(r);
    SetupDiCallClassInstaller(DIF_REMOVE, second_set, &second);
    SetupDiDestroyDeviceInfoList(second_set);
}

struct PresenceCase {
    const char* what;
    const char* version;
    bool unplugged;  // the device is registered but not present when /u runs
    bool dirid_13;   // the package copies files to DirId 13
    const char* tail;
    bool devices_uninstalled_first;  // DIF_REMOVE before the package's removal (before 1703)
};

// Only devices in the device tree keep a package from /u without /f; an
// unplugged device never does.  Before 1703 the devices using the package
// are uninstalled first, then the package is removed, whatever its files.
TEST_F(Backend, AbsentDevicesNeverBlockAndDevicesGoFirstBefore1703)
{
    const PresenceCase cases[] = {
        {"an unplugged device, DiUninstallDriver", "22621", true, false, "/u pkg\\tavtest.inf /d", false},
        {"an unplugged device before 1703", "1607", true, false, "/u pkg\\tavtest.inf /d", true},
        {"files to DirId 13 before 1703, forced", "1607", false, true, "/u pkg\\tavtest.inf /f /d", true},
    };
    for (const PresenceCase& c : cases) {
        std::string text = package_inf("ROOT\\TAVENOR_TEST");
        if (c.dirid_13)
            text += "\r\n[DestinationDirs]\r\nDefaultDestDir = 13\r\n";
        add_package("tavtest.inf", text);
        make_device({"ROOT\\TAVENOR_TEST"});
        std::string version = std::string("version ") + c.version + "\n";
        ASSERT_EQ(tavenor("/i pkg\\tavtest.inf", version).exit_code, 0u) << c.what;
        ASSERT_FALSE(device_driver().empty()) << c.what;

        std::string script = version + (c.unplugged ? "absent ROOT\\TAVENOR_TEST\n" : "");
        DriveResult r = tavenor(c.tail, script);
        EXPECT_EQ(r.exit_code, 0u) << c.what << shown(r);
        EXPECT_TRUE(staged_copies(text).empty()) << c.what;
        EXPECT_TRUE(device_driver().empty()) << c.what;
        // The journal's order: devices uninstalled, then the package.
        std::vector<std::string> kinds;
        for (const std::string& line : split_lines(read_file(stage.folder + "\\standin-journal.txt")))
            kinds.push_back(split_tabs(line).front());
        auto device_step = std::find(kinds.begin(), kinds.end(), "remove-device");
        auto package_step = std::find(kinds.begin(), kinds.end(), "uninstall");
        if (c.devices_uninstalled_first) {
            ASSERT_NE(device_step, kinds.end()) << c.what;
            EXPECT_LT(device_step - kinds.begin(), package_step - kinds.begin()) << c.what;
        } else {
            EXPECT_EQ(device_step, kinds.end()) << c.what;
        }
        remove_staged();
    }
}

struct GuardCase {
    const char* what;
    std::string host_command;  // makes the link or folder, from pkg\ on the host side
    std::string made;          // what the command makes, to wait for
    const char* inf;           // as /i is given it
    const char* last_line;
};

// The backend's own path guard: an INF with a second name, a symbolic
// link and a folder are refused before anything is staged.
TEST_F(Backend, LinkedAndFolderInfsAreRefused)
{
    use(Build::shipped);
    std::string pkg = host_path(stage.folder + "\\pkg");
    ASSERT_FALSE(pkg.empty());
    const GuardCase cases[] = {
        {"a second hard link", "ln '" + pkg + "/tavtest.inf' '" + pkg + "/second-name.inf'",
         stage.folder + "\\pkg\\second-name.inf", "pkg\\tavtest.inf",
         "Call DriverPackagePreinstall failed: ERROR_CANT_ACCESS_FILE"},
        {"a symbolic link", "ln -s tavtest.inf '" + pkg + "/symbolic.inf'", stage.folder + "\\pkg\\symbolic.inf",
         "pkg\\symbolic.inf", "Call DriverPackagePreinstall failed: ERROR_CANT_ACCESS_FILE"},
        {"a folder", "mkdir '" + pkg + "/folder.inf'", stage.folder + "\\pkg\\folder.inf", "pkg\\folder.inf",
         "Call DriverPackagePreinstall failed: ERROR_FILE_NOT_FOUND"},
    };
    for (const GuardCase& c : cases) {
        ASSERT_TRUE(host_shell(c.host_command)) << c.what;
        for (int i = 0; i < 100 && GetFileAttributesA(c.made.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
            Sleep(100);  // bounds a hang only
        ASSERT_NE(GetFileAttributesA(c.made.c_str()), INVALID_FILE_ATTRIBUTES) << c.what;
        DriveResult r = tavenor(std::string("/i ") + c.inf + " /d");
        EXPECT_EQ(r.exit_code, 2u) << c.what;
        ASSERT_FALSE(lines(r).empty()) << c.what;
        EXPECT_EQ(lines(r).back(), c.last_line) << c.what << shown(r);
        for (const std::string& name : list_names(inf_folder() + "*.inf"))
            EXPECT_NE(read_file(inf_folder() + name), packages[0]) << c.what << ": staged as " << name;
        host_shell("rm -rf '" + host_path(c.made) + "'");
        for (int i = 0; i < 100 && GetFileAttributesA(c.made.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
            Sleep(100);  // bounds a hang only
        remove_staged();
    }
}

// An x64 build emulated on an ARM64 machine cannot judge that machine's
// models sections and catalogs: it refuses, and says why.
TEST_F(Backend, EmulatedOnArm64Refuses)
{
    make_device({"ROOT\\TAVENOR_TEST"});
    DriveResult install = tavenor("/i pkg\\tavtest.inf /d", "machine arm64\n");
    EXPECT_EQ(install.exit_code, 2u);
    EXPECT_TRUE(staged_copies(packages[0]).empty());
    EXPECT_TRUE(has_line_starting(lines(install), "LOG Event: 3, Error = 10, this x64 library runs emulated"))
        << shown(install);

    ASSERT_EQ(tavenor("/i pkg\\tavtest.inf").exit_code, 0u);
    DriveResult uninstall = tavenor("/u pkg\\tavtest.inf /f /d", "machine arm64\n");
    EXPECT_EQ(uninstall.exit_code, 2u);
    EXPECT_EQ(lines(uninstall).back(), "Call DriverPackageUninstall failed: ERROR_BAD_ENVIRONMENT") << shown(uninstall);
    EXPECT_EQ(staged_copies(packages[0]).size(), 1u);
}

// A published copy with the INF's bytes but another installed catalog is
// not the package (SetupCopyOEMInf's remarks): it is staged anew beside
// it, and the other stays.
TEST_F(Backend, APublishedCopyWithAnotherCatalogIsStagedAnew)
{
    std::string text = package_inf("ROOT\\TAVENOR_TEST", "NTamd64", "CatalogFile = tavtest.cat\r\n");
    add_package("tavtest.inf", text);
    write_file(stage.folder + "\\pkg\\tavtest.cat", "ours");
    std::string theirs = inf_folder() + "oem9704.inf";
    ASSERT_TRUE(write_file(theirs, text));
    make_dirs(catalog_store());
    write_file(catalog_store() + "oem9704.cat", "theirs");
    make_device({"ROOT\\TAVENOR_TEST"});
    DriveResult r = tavenor("/i pkg\\tavtest.inf /d");
    EXPECT_EQ(r.exit_code, 0u) << shown(r);
    std::string driver = device_driver();
    EXPECT_FALSE(driver.empty());
    EXPECT_NE(driver, "oem9704.inf");
    EXPECT_EQ(read_file(theirs), text);
    EXPECT_EQ(read_file(catalog_store() + "oem9704.cat"), "theirs");
    unpublish("oem9704.inf");
}

// Windows stages only a package it can trust, and that needs a catalog
// named in the INF ("Driver Store" page): one without is refused, nothing
// staged.
TEST_F(Backend, AnInfWithoutACatalogIsNotStaged)
{
    std::string text = package_inf("ROOT\\TAVENOR_TEST", "NTamd64", "", false);
    add_package("nocat.inf", text);
    make_device({"ROOT\\TAVENOR_TEST"});
    DriveResult r = tavenor("/i pkg\\nocat.inf /d");
    EXPECT_EQ(r.exit_code, 2u);
    EXPECT_EQ(lines(r).back(), "Call DriverPackagePreinstall failed: ERROR_NO_CATALOG_FOR_OEM_INF") << shown(r);
    EXPECT_TRUE(staged_copies(text).empty());
    EXPECT_TRUE(device_driver().empty());
}

// Where our reading of the INF and Windows' differ, the device installer
// finds no driver for the ID we ask for and answers ERROR_NO_MORE_ITEMS:
// that must not pass for a better driver kept.  Here Windows reads the
// section decorated with the workstation product type (in hex), which
// names another ID than the plain x64 one; the backend, without the models
// call as under Wine, must read the same section and find no device.
TEST_F(Backend, WindowsAndOurReadingOfTheModelsAgree)
{
    std::string text = package_inf("ROOT\\TAVENOR_TEST", "NTamd64.10.0.0x0000001");
    size_t manufacturer = text.find("= Models, NTamd64.10.0.0x0000001");
    ASSERT_NE(manufacturer, std::string::npos);
    text.insert(manufacturer + std::string("= Models").size(), ", NTamd64");
    text += "\r\n[Models.NTamd64]\r\n%Device% = Install, ROOT\\TAVENOR_OLD\r\n";
    add_package("tavtest.inf", text);
    make_device({"ROOT\\TAVENOR_OLD"});
    DriveResult r = tavenor("/i pkg\\tavtest.inf /d", "no-models-call\n");
    EXPECT_EQ(r.exit_code, 2u) << shown(r);
    EXPECT_EQ(lines(r).back(), "Call DriverPackageInstall failed: ERROR_NO_SUCH_DEVINST") << shown(r);
    EXPECT_TRUE(device_driver().empty());
}

} // namespace
