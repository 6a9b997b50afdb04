// /c for real: a driver store in the prefix, the test double's uninstall,
// and the store layout picked by the Windows version Wine reports.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "e2e/stage.h"
#include "support/test_files.h"

namespace {

const std::string device_id = "USB\\VID_1234&PID_5678";

class CleanEndToEnd : public testing::Test {
protected:
    void SetUp() override
    {
        remove_tree(system_dir() + "\\DriverStore");
        remove_tree(system_dir() + "\\DRVSTORE");
        before_ = dev_temp_entries();
    }
    void TearDown() override
    {
        set_windows_version(nullptr);
        EXPECT_EQ(dev_temp_entries(), before_) << "a temporary file or folder was left behind";
        remove_tree(system_dir() + "\\DriverStore");
        remove_tree(system_dir() + "\\DRVSTORE");
    }
    // Fills a store folder with two matching packages and one other.
    std::string fill_store(const std::string& store)
    {
        for (const char* name : {"usbcam_1", "usbcam_2"}) {
            make_dirs(store + "\\" + name);
            write_file(store + "\\" + name + "\\usbcam.inf", "[Models]\r\n%Cam% = Install, " + device_id + "\r\n");
            write_file(store + "\\" + name + "\\usbcam.sys", "binary");
        }
        make_dirs(store + "\\other_3");
        write_file(store + "\\other_3\\other.inf", "[Models]\r\n%X% = Install, PCI\\VEN_0001\r\n");
        return tree_snapshot(store);
    }
    // Wine's version for Tavenor.exe alone; nullptr restores the default.
    static void set_windows_version(const char* version)
    {
        const char key[] = "Software\\Wine\\AppDefaults\\Tavenor.exe";
        if (version == nullptr) {
            RegDeleteKeyA(HKEY_CURRENT_USER, key);
            return;
        }
        HKEY handle;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>(strlen(version) + 1));
        RegCloseKey(handle);
    }

private:
    std::vector<std::string> before_;
};

TEST_F(CleanEndToEnd, UninstallsFromTheCopyWithForceSilentDeleteFiles)
{
    std::string store = system_dir() + "\\DriverStore\\FileRepository";
    std::string snapshot = fill_store(store);
    const char* tails[] = {"/c USB\\VID_1234&PID_5678", "/c USB\\VID_1234&PID_5678 /f /s /n",
                           "/n /c *:USB\\VID_1234&PID_5678 /s"};
    int row = 0;
    for (const char* tail : tails) {
        Stage stage = make_stage(test_name() + std::to_string(row++), Library::full, "uninstall 0+reboot 5\n");
        DriveResult r = run(stage, tail);
        EXPECT_EQ(r.exit_code, 0u) << tail;  // a reboot request and a failure alike
        std::vector<JournalEntry> journal = read_journal(stage);
        EXPECT_EQ(journal_calls(journal), (std::vector<std::string>{"uninstall 26", "uninstall 26"})) << tail;
        std::string temp = temp_folder();
        for (const JournalEntry& entry : journal) {
            if (entry.what != "uninstall")
                continue;
            EXPECT_EQ(entry.inf.compare(0, temp.size() + 3, temp + "Dev"), 0) << entry.inf;
            EXPECT_EQ(entry.inf.substr(entry.inf.size() - 11), "\\usbcam.inf");
        }
        EXPECT_EQ(tree_snapshot(store), snapshot) << tail;
    }
}

struct LayoutCase {
    const char* version;
    const char* version_line;
    const char* store;
};

TEST_F(CleanEndToEnd, StoreLayoutFollowsTheWindowsVersion)
{
    const LayoutCase cases[] = {
        {"winxp64", "Windows Version = 0502", "\\DRVSTORE"},
        {"winxp", "Windows Version = 0501", "\\DRVSTORE"},
        {"vista", "Windows Version = 0600", "\\DriverStore\\FileRepository"},
        {"win7", "Windows Version = 0601", "\\DriverStore\\FileRepository"},
        {"win10", "Windows Version = 0A00", "\\DriverStore\\FileRepository"},
    };
    int row = 0;
    for (const LayoutCase& c : cases) {
        remove_tree(system_dir() + "\\DriverStore");
        remove_tree(system_dir() + "\\DRVSTORE");
        std::string store = system_dir() + c.store;
        fill_store(store);
        set_windows_version(c.version);
        Stage stage = make_stage(test_name() + std::to_string(row++), Library::full);
        DriveResult r = run(stage, "/d /c usbcam*:" + device_id);
        EXPECT_EQ(r.exit_code, 0u) << c.version;
        bool paired = false;
        std::vector<std::string> lines = trace_lines(r, &paired);
        ASSERT_GE(lines.size(), 4u) << c.version;
        EXPECT_EQ(lines[2], "Now clean device driver:" + device_id + " in usbcam*");
        EXPECT_EQ(lines[3], c.version_line);
        EXPECT_EQ(lines.back(), "Clean finished!") << c.version;
        EXPECT_EQ(journal_calls(read_journal(stage)).size(), 2u) << c.version;
    }
}

TEST_F(CleanEndToEnd, NoStoreAtAll)
{
    Stage stage = make_stage(test_name(), Library::full);
    DriveResult r = run(stage, "/c X /d");
    EXPECT_EQ(r.exit_code, 0u);
    bool paired = false;
    std::vector<std::string> lines = trace_lines(r, &paired);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "Find " + system_dir() + "\\DriverStore\\FileRepository\\*.* failed");
    EXPECT_EQ(lines[5].substr(0, 24), "GetLastError() returns:0");
    EXPECT_TRUE(journal_calls(read_journal(stage)).empty());
}

// A batch variable that expands to nothing must not make the next switch
// the device ID: "/d" is in every INF that names a download URL.
TEST_F(CleanEndToEnd, AnEmptyOperandBeforeASwitchCallsNothing)
{
    std::string store = system_dir() + "\\DriverStore\\FileRepository";
    make_dirs(store + "\\vendor_1");
    write_file(store + "\\vendor_1\\vendor.inf",
               "[Strings]\r\nSupport = \"https://example.com/drivers/download\"\r\nSilent = \"/s\"\r\n");
    std::string snapshot = tree_snapshot(store);
    const char* tails[] = {"/c \"\" /d", "/c \"\" /s", "/i \"\" /s"};
    for (const char* tail : tails) {
        Stage stage = make_stage(test_name(), Library::full);
        DriveResult r = run(stage, tail);
        EXPECT_EQ(r.exit_code, 3u) << tail;
        EXPECT_EQ(r.usage_boxes, 1) << tail;
        EXPECT_TRUE(read_journal(stage).empty()) << tail << ": the library was called";
        EXPECT_EQ(tree_snapshot(store), snapshot) << tail;
    }
}

} // namespace
