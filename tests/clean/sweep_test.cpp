#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "clean/clean.h"
#include "difx/scripted_library.h"
#include "support/test_files.h"
#include "support/viewer_window.h"
#include "tracelib/trace.h"

namespace {

const std::string device_id = "PCI\\VEN_8086&DEV_1234";

std::string version_line()
{
    DWORD version = GetVersion();
    char line[64];
    snprintf(line, sizeof line, "Windows Version = %02X%02X", static_cast<unsigned>(version & 0xFF),
             static_cast<unsigned>((version >> 8) & 0xFF));
    return line;
}

// A driver store in the prefix's system folder, made for each test and
// removed after it.
class Sweep : public testing::Test {
protected:
    std::string store = system_dir() + "\\DriverStore\\FileRepository";
    ScriptedLibrary script;
    DifxEntryPoints entry_points{};
    int32_t unused_reboot = 0;
    std::vector<std::vector<std::string>> copies_seen;  // files in the copy at each uninstall
    std::unique_ptr<ViewerWindow> viewer;

    void SetUp() override
    {
        remove_tree(system_dir() + "\\DriverStore");
        ASSERT_TRUE(make_dirs(store));
        before_ = dev_temp_entries();
        entry_points = use_script(&script);
        script.on_uninstall = [this](const char* inf) {
            std::string path = inf;
            copies_seen.push_back(list_names(path.substr(0, path.find_last_of('\\')) + "\\*"));
        };
        viewer.reset(new ViewerWindow());
    }
    void TearDown() override
    {
        viewer.reset();
        end_script();
        EXPECT_EQ(script.bad_arguments, 0) << "every uninstall gets no information and a reboot flag";
        g_debug_trace = 0;
        EXPECT_EQ(dev_temp_entries(), before_) << "a temporary file or folder was left behind";
        remove_tree(system_dir() + "\\DriverStore");
    }
    void add_package(const std::string& name, const std::string& inf_text)
    {
        std::string folder = store + "\\" + name;
        ASSERT_TRUE(make_dirs(folder));
        ASSERT_TRUE(write_file(folder + "\\" + name.substr(0, name.find('_')) + ".inf", inf_text));
        ASSERT_TRUE(write_file(folder + "\\driver.sys", std::string(3000, '\x90')));
        ASSERT_TRUE(write_file(folder + "\\driver.cat", "catalog"));
    }
    std::vector<std::string> lines()
    {
        std::vector<std::string> out;
        for (const ViewerMessage& m : viewer->messages())
            out.push_back(m.bytes);
        return out;
    }
    int sweep(const char* pattern, const std::string& id, bool tracing = true)
    {
        g_debug_trace = tracing ? 1 : 0;
        int result = clean_driver_store(pattern, id.c_str(), &entry_points);
        g_debug_trace = 0;
        return result;
    }

private:
    std::vector<std::string> before_;
};

std::string matching_inf()
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\n\r\n[Models]\r\n%Dev% = Install, " + device_id + "\r\n";
}

TEST_F(Sweep, CleansEveryMatchingPackageThroughItsOwnCopy)
{
    add_package("alpha_1", matching_inf());
    add_package("beta_2", "[Models]\r\n%Dev% = Install, PCI\\VEN_10DE&DEV_0001\r\n");
    add_package("gamma_3", matching_inf());
    make_dirs(store + "\\gamma_3\\sub");
    write_file(store + "\\gamma_3\\sub\\deep.inf", matching_inf());
    write_file(store + "\\plain.inf", matching_inf());
    std::string snapshot = tree_snapshot(store);

    EXPECT_EQ(sweep("*.*", device_id), 0);

    EXPECT_EQ(join_calls(script.calls), "U26 P U26 P");
    ASSERT_EQ(script.inf_paths.size(), 2u);
    std::string temp = temp_folder();
    std::vector<std::string> copy_dirs;
    for (size_t i = 0; i < 2; ++i) {
        const std::string& path = script.inf_paths[i];
        EXPECT_EQ(path.compare(0, temp.size() + 3, temp + "Dev"), 0) << path;
        copy_dirs.push_back(path.substr(0, path.find_last_of('\\')));
        std::vector<std::string> seen = copies_seen[i];
        std::sort(seen.begin(), seen.end());
        std::vector<std::string> expected = {i == 0 ? "alpha.inf" : "gamma.inf", "driver.cat", "driver.sys"};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(seen, expected);
    }
    EXPECT_NE(copy_dirs[0], copy_dirs[1]);
    EXPECT_EQ(script.inf_paths[0].substr(script.inf_paths[0].size() - 10), "\\alpha.inf");
    EXPECT_EQ(tree_snapshot(store), snapshot) << "the store itself is never written";

    std::vector<std::string> got = lines();
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(got[0], "Now clean device driver:" + device_id + " in *.*");
    EXPECT_EQ(got[1], version_line());
    EXPECT_EQ(got.back(), "Clean finished!");
    auto count = [&](const std::string& line) { return std::count(got.begin(), got.end(), line); };
    EXPECT_EQ(count("Clean dev in dir:" + store + "\\alpha_1"), 1);
    EXPECT_EQ(count("Clean dev in dir:" + store + "\\beta_2"), 1);
    EXPECT_EQ(count("Clean dev in dir:" + store + "\\gamma_3"), 1);
    EXPECT_EQ(count("Not found"), 1);
    EXPECT_EQ(count("clean_dev_in_dir succed!"), 2);
    // Only folders are swept: the plain file is passed over without a line.
    for (const std::string& line : got)
        EXPECT_EQ(line.find("plain.inf"), std::string::npos) << line;
}

TEST_F(Sweep, AFailedUninstallDoesNotStopTheSweep)
{
    add_package("alpha_1", matching_inf());
    add_package("gamma_3", matching_inf());
    script.uninstall_results = {5, 0};
    EXPECT_EQ(sweep("*.*", device_id), 0);
    EXPECT_EQ(join_calls(script.calls), "U26 U26 P");
    std::vector<std::string> got = lines();
    EXPECT_EQ(std::count(got.begin(), got.end(), "CLEAN: failed to uninstall " + script.inf_paths[0]), 1);
    EXPECT_EQ(std::count(got.begin(), got.end(), "clean_dev_in_dir succed!"), 1);
    EXPECT_FALSE(dir_exists(script.inf_paths[0].substr(0, script.inf_paths[0].find_last_of('\\'))));
}

TEST_F(Sweep, PatternsThatListNothing)
{
    add_package("alpha_1", matching_inf());
    struct {
        const char* pattern;
        const char* listed;
    } cases[] = {{"nomatch*", "nomatch*"}, {"", ""}};
    for (const auto& c : cases) {
        viewer->clear();
        EXPECT_EQ(sweep(c.pattern, device_id), 0);
        EXPECT_EQ(lines(), (std::vector<std::string>{"Now clean device driver:" + device_id + " in " + c.pattern,
                                                      version_line(), "Find " + store + "\\" + c.listed + " failed",
                                                      "GetLastError() returns:00000002"}))
            << "pattern [" << c.pattern << "]";
    }
    EXPECT_TRUE(script.calls.empty());
}

TEST_F(Sweep, FolderPatternAndLetterCase)
{
    add_package("alpha_1", matching_inf());
    add_package("gamma_3", matching_inf());
    EXPECT_EQ(sweep("gam*", device_id), 0);
    ASSERT_EQ(script.inf_paths.size(), 1u);
    EXPECT_NE(script.inf_paths[0].find("gamma.inf"), std::string::npos);

    script.calls.clear();
    std::string lower = device_id;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    EXPECT_EQ(sweep("*.*", lower), 0);
    EXPECT_TRUE(script.calls.empty());
}

TEST_F(Sweep, ADeviceIdOfMoreThan127CharactersIsFoundWhole)
{
    const std::string long_id = "ROOT\\" + std::string(300, 'L') + "_END";
    add_package("long_1", "[Models]\r\n%Dev% = Install, " + long_id + "\r\n");
    add_package("short_2", "[Models]\r\n%Dev% = Install, ROOT\\" + std::string(300, 'L') + "\r\n");
    EXPECT_EQ(sweep("*.*", long_id, false), 0);
    ASSERT_EQ(script.inf_paths.size(), 1u);
    EXPECT_NE(script.inf_paths[0].find("long.inf"), std::string::npos);
}

TEST_F(Sweep, SilentWithoutTracing)
{
    add_package("alpha_1", matching_inf());
    EXPECT_EQ(sweep("*.*", device_id, false), 0);
    EXPECT_EQ(join_calls(script.calls), "U26 P");
    EXPECT_TRUE(lines().empty());
}

} // namespace
