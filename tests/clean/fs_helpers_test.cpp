#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "clean/fs_helpers.h"
#include "support/test_files.h"
#include "support/viewer_window.h"
#include "tracelib/trace.h"

namespace {

class FsHelpers : public testing::Test {
protected:
    std::string dir;
    std::unique_ptr<ViewerWindow> viewer;

    void SetUp() override
    {
        dir = fresh_work_folder(testing::UnitTest::GetInstance()->current_test_info()->name());
        before_ = dev_temp_entries();
        viewer.reset(new ViewerWindow());
        g_debug_trace = 1;
    }
    void TearDown() override
    {
        g_debug_trace = 0;
        viewer.reset();
        EXPECT_EQ(dev_temp_entries(), before_) << "a temporary file or folder was left behind";
        remove_tree(dir);
    }
    std::vector<std::string> lines()
    {
        std::vector<std::string> out;
        for (const ViewerMessage& m : viewer->messages())
            out.push_back(m.bytes);
        viewer->clear();
        return out;
    }
    std::string find(const std::string& folder, const std::string& text, uint32_t capacity = 1024)
    {
        char output[1024];
        strcpy(output, "untouched");
        int found = find_inf_containing(folder.c_str(), "*.inf", text.c_str(), output, capacity);
        return found ? std::string(output) : (strcmp(output, "untouched") == 0 ? "-" : "!changed");
    }

private:
    std::vector<std::string> before_;
};

// A UTF-16LE file: the byte-order mark, then the characters.
std::string utf16_file(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

struct FileCase {
    const char* what;
    std::string bytes;
    bool found;  // contains PCI\VEN_1234 as the stream reads it
};

TEST_F(FsHelpers, FindReadsAsTheTextModeStreamAndUtf16)
{
    const std::string id = "PCI\\VEN_1234";
    const std::string utf16 = std::string("H\0W\0=\0P\0C\0I\0\\\0V\0E\0N\0_\0001\0002\0003\0004\0\r\0\n\0", 36);
    const FileCase cases[] = {
        {"CR LF", "[Dev]\r\nHW=" + id + "\r\n", true},
        {"LF only", "[Dev]\nHW=" + id + "\n", true},
        {"no final line feed", "HW=" + id, true},
        {"other letter case", "HW=pci\\ven_1234\r\n", false},
        {"0x1A before the ID", "[Dev]\r\n\x1A" "HW=" + id + "\r\n", false},
        {"0x1A after the ID", "HW=" + id + "\r\n\x1A junk", true},
        {"UTF-16", utf16, false},
        {"CR inside the ID", "HW=PCI\\VEN\r_1234\r\n", true},
        {"line feed inside the ID", "HW=PCI\\VEN\n_1234\r\n", false},
        {"very long line", std::string(100000, 'x') + id + std::string(50000, 'y') + "\r\n", true},
        {"ID across the 1024-byte mark", std::string(1018, 'x') + id + "\r\n", true},
        {"empty", "", false},
        {"only line ends", "\r\n\n\r\r\n", false},
        {"NUL before the ID", std::string("HW=\0", 4) + id + "\r\n", false},
        {"ID across the read block's edge", std::string(262140, 'x') + id + "\r\n", true},
        {"8-bit, starting like no mark", "\xFF\xFDHW=" + id + "\r\n", true},
        {"8-bit, the mark's first byte only", "\xFFHW=" + id + "\r\n", true},
        // UTF-16LE with its byte-order mark: the same rules per character.
        {"UTF-16 with the mark", utf16_file(u"[Dev]\r\nHW=PCI\\VEN_1234\r\n"), true},
        {"UTF-16, LF only", utf16_file(u"HW=PCI\\VEN_1234\n"), true},
        {"UTF-16, non-ASCII elsewhere", utf16_file(u"Name=\u0414\u0440\u00fc\u9a71\r\nHW=PCI\\VEN_1234\r\n"), true},
        {"UTF-16, ID across the read block's edge",
         utf16_file(std::u16string(131065, u'x') + u"PCI\\VEN_1234\r\n"), true},
        {"UTF-16, NUL before the ID", utf16_file(std::u16string(u"HW=\0PCI\\VEN_1234\r\n", 19)), false},
        {"UTF-16, U+001A before the ID", utf16_file(u"[Dev]\r\n\x1a" u"HW=PCI\\VEN_1234\r\n"), false},
        {"UTF-16, other letter case", utf16_file(u"HW=pci\\ven_1234\r\n"), false},
        {"UTF-16, ID split over two lines", utf16_file(u"HW=PCI\\VEN\n_1234\r\n"), false},
        {"UTF-16, an odd last byte", utf16_file(u"HW=PCI\\VEN_1234") + "\x0A", true},
    };
    for (const FileCase& c : cases) {
        std::string folder = dir + "\\case";
        remove_tree(folder);
        make_dirs(folder);
        ASSERT_TRUE(write_file(folder + "\\oem1.inf", c.bytes));
        EXPECT_EQ(find(folder, id), c.found ? "oem1.inf" : "-") << c.what;
    }
}

TEST_F(FsHelpers, FindTakesTheFirstMatchingFileAndItsBareName)
{
    write_file(dir + "\\a.inf", "nothing here\r\n");
    write_file(dir + "\\b.inf", "HW=ABC\r\n");
    write_file(dir + "\\c.inf", "HW=ABC\r\n");
    write_file(dir + "\\d.txt", "HW=ABC\r\n");
    make_dirs(dir + "\\sub.inf");
    lines();
    // Wine lists names sorted without regard to case; Windows promises no
    // order, so only here is the order relied on.
    EXPECT_EQ(find(dir, "ABC"), "b.inf");
    std::vector<std::string> got = lines();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "Now search in dir:" + dir);
    EXPECT_EQ(got[1], "Find dev_id in file: " + dir + "\\b.inf");
    EXPECT_EQ(find(dir, "ABC", 3), "b.");  // cut to the capacity, NUL-terminated
    EXPECT_EQ(find(dir, "XYZ"), "-");
}

TEST_F(FsHelpers, FindWithAPatternThatListsNothing)
{
    EXPECT_EQ(find(dir, "ABC"), "-");
    EXPECT_EQ(lines(), (std::vector<std::string>{"Now search in dir:" + dir, "Find " + dir + "\\*.inf failed"}));
}

TEST_F(FsHelpers, MakeTempDir)
{
    char path[1024];
    ASSERT_EQ(make_temp_dir(path, sizeof path), 1);
    std::string made = path;
    std::string temp = temp_folder();
    ASSERT_EQ(made.compare(0, temp.size(), temp), 0) << made;
    std::string name = made.substr(temp.size());
    EXPECT_EQ(name.compare(0, 3, "Dev"), 0) << name;
    EXPECT_TRUE(dir_exists(made));
    EXPECT_TRUE(list_names(made + "\\*").empty());
    EXPECT_EQ(lines(), (std::vector<std::string>{"Create temp path...", "Createed: " + made}));

    // The descriptor the folder is made with: protected, three principals.
    // Wine keeps no descriptors of its own on files, so only this and the
    // access it maps to file modes can be read back here.
    void* descriptor = private_folder_descriptor();
    ASSERT_NE(descriptor, nullptr);
    char* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &text, nullptr));
    std::string sddl = text;
    LocalFree(text);
    LocalFree(descriptor);
    EXPECT_EQ(sddl.compare(0, 4, "D:P("), 0) << sddl;
    EXPECT_EQ(std::count(sddl.begin(), sddl.end(), '('), 3) << sddl;
    EXPECT_NE(sddl.find("(A;OICI;FA;;;SY)"), std::string::npos) << sddl;
    EXPECT_NE(sddl.find("(A;OICI;FA;;;BA)"), std::string::npos) << sddl;
    EXPECT_EQ(sddl.find(";ID;"), std::string::npos) << sddl;

    PSECURITY_DESCRIPTOR read_back = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                    nullptr, &read_back), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(read_back, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &text, nullptr));
    std::string on_disk = text;
    LocalFree(text);
    LocalFree(read_back);
    EXPECT_EQ(on_disk.find(";;;WD)"), std::string::npos) << "everyone has access: " << on_disk;
    EXPECT_EQ(on_disk.find(";;;BU)"), std::string::npos) << "users have access: " << on_disk;
    RemoveDirectoryA(path);
}

TEST_F(FsHelpers, MakeTempDirRefusesATempPathLongerThanTheBuffer)
{
    char path[1024];
    memset(path, 'Z', sizeof path);
    // The platform answers with the length it needs, which is no path.
    EXPECT_EQ(make_temp_dir(path, 8), 0);
    EXPECT_EQ(lines(), (std::vector<std::string>{"Create temp path...", "Cannot get temp path"}));
    EXPECT_EQ(path[8], 'Z');
}

TEST_F(FsHelpers, CopyFolderFiles)
{
    std::string source = dir + "\\src";
    std::string target = dir + "\\dst";
    make_dirs(source + "\\sub");
    make_dirs(target);
    write_file(source + "\\a.inf", "aaa");
    write_file(source + "\\b.sys", "bbbb");
    write_file(source + "\\c.cat", "c");
    write_file(source + "\\sub\\inner.txt", "inner");
    EXPECT_EQ(copy_folder_files(source.c_str(), target.c_str()), 1);
    EXPECT_EQ(list_names(target + "\\*"), (std::vector<std::string>{"a.inf", "b.sys", "c.cat"}));
    EXPECT_EQ(read_file(target + "\\a.inf"), "aaa");
    EXPECT_EQ(read_file(target + "\\b.sys"), "bbbb");
    // An uninstall from the copy lacks what the subfolder holds: said.
    EXPECT_EQ(lines(), std::vector<std::string>{"Subfolder " + source + "\\sub left out of the copy"});
}

// A file that cannot be read, and one already standing in the target (in
// a fresh folder of ours, someone else put it there): both fail the copy,
// the others are copied, the planted file is never written.
TEST_F(FsHelpers, CopyGoesOnAfterAFailedCopyAndNeverOverwrites)
{
    std::string source = dir + "\\src";
    std::string target = dir + "\\dst";
    make_dirs(source);
    make_dirs(target);
    write_file(source + "\\a.inf", "aaa");
    write_file(source + "\\b.sys", "bbbb");
    write_file(source + "\\c.cat", "c");
    write_file(target + "\\c.cat", "planted");
    // Held open without sharing: it cannot be read for the copy.
    HANDLE held = CreateFileA((source + "\\b.sys").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(copy_folder_files(source.c_str(), target.c_str()), 0);
    CloseHandle(held);
    EXPECT_EQ(list_names(target + "\\*"), (std::vector<std::string>{"a.inf", "c.cat"}));
    EXPECT_EQ(read_file(target + "\\c.cat"), "planted");
    EXPECT_EQ(lines(), (std::vector<std::string>{"Copy from " + source + "\\b.sys to " + target + "\\b.sys failed",
                                                  "Copy from " + source + "\\c.cat to " + target + "\\c.cat failed"}));
}

TEST_F(FsHelpers, CopyFromAFolderThatCannotBeListed)
{
    std::string missing = dir + "\\missing";
    EXPECT_EQ(copy_folder_files(missing.c_str(), dir.c_str()), 0);
    EXPECT_EQ(lines(), std::vector<std::string>{"Find " + missing + "\\*.* failed"});
}

TEST_F(FsHelpers, DestroyDeletesThePlainFilesOfTheCopy)
{
    std::string top = dir + "\\top";
    make_dirs(top);
    write_file(top + "\\f1", "1");
    write_file(top + "\\.hidden", "h");
    write_file(top + "\\ro.sys", "x");
    SetFileAttributesA((top + "\\ro.sys").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(destroy_path(top.c_str()), 1);
    EXPECT_FALSE(dir_exists(top));
}

TEST_F(FsHelpers, DestroyOfAMissingPathOrAPlainFile)
{
    std::string missing = dir + "\\missing";
    EXPECT_EQ(destroy_path(missing.c_str()), 0);
    EXPECT_EQ(lines(), (std::vector<std::string>{"Destroy path: " + missing, "Find " + missing + "\\*.* failed"}));
    std::string file = dir + "\\plain";
    write_file(file, "keep");
    EXPECT_EQ(destroy_path(file.c_str()), 0);
    EXPECT_EQ(read_file(file), "keep");
}

// A link at link_path to target: the platform's own where it makes them,
// else a host link (Wine's CreateSymbolicLinkA answers TRUE and makes none).
bool make_link(const std::string& link_path, const std::string& target, bool directory)
{
    if (CreateSymbolicLinkA(link_path.c_str(), target.c_str(), directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) &&
        GetFileAttributesA(link_path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    std::string folder = link_path.substr(0, link_path.find_last_of('\\'));
    std::string leaf = link_path.substr(link_path.find_last_of('\\') + 1);
    host_shell("ln -s '" + host_path(target) + "' '" + host_path(folder) + "/" + leaf + "'");
    return GetFileAttributesA(link_path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST_F(FsHelpers, DestroyLeavesWhatIsNotAPlainFileOfTheCopy)
{
    std::string top = dir + "\\top";
    std::string outside = dir + "\\outside";
    make_dirs(top + "\\sub");
    make_dirs(outside);
    write_file(outside + "\\victim.txt", "victim");
    write_file(top + "\\ours.inf", "x");
    write_file(top + "\\sub\\inner.txt", "inner");
    bool dir_link = make_link(top + "\\dirlink", outside, true);
    make_link(top + "\\filelink", outside + "\\victim.txt", false);
    std::string before = tree_snapshot(outside);
    lines();

    EXPECT_EQ(destroy_path(top.c_str()), 0);
    EXPECT_EQ(tree_snapshot(outside), before) << "nothing outside the copy changes";
    EXPECT_FALSE(file_exists(top + "\\ours.inf"));
    EXPECT_EQ(read_file(top + "\\sub\\inner.txt"), "inner");
    std::vector<std::string> got = lines();
    EXPECT_NE(std::find(got.begin(), got.end(), "Delete file " + top + "\\sub failed"), got.end());
    // A link to a folder is left; a link to a file may go, its target never.
    if (dir_link) {
        EXPECT_TRUE(dir_exists(top + "\\dirlink"));
    }
}

TEST_F(FsHelpers, DestroyReportsAFileItCannotDeleteAndGoesOn)
{
    std::string top = dir + "\\top";
    make_dirs(top);
    write_file(top + "\\a.cat", "x");
    write_file(top + "\\held", "x");
    write_file(top + "\\z.sys", "x");
    HANDLE held = CreateFileA((top + "\\held").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    lines();
    EXPECT_EQ(destroy_path(top.c_str()), 0);
    CloseHandle(held);
    EXPECT_EQ(lines(), (std::vector<std::string>{"Destroy path: " + top, "Delete file " + top + "\\held failed"}));
    EXPECT_EQ(list_names(top + "\\*"), (std::vector<std::string>{"held"}));
}

TEST_F(FsHelpers, DestroyReturnsOneWhenOnlyTheDirectoryItselfStays)
{
    std::string top = dir + "\\top";
    make_dirs(top);
    write_file(top + "\\f", "x");
    // An open handle to the directory keeps Windows from removing it; Wine
    // may remove it all the same, and either way its files are gone.
    HANDLE open_dir = CreateFileA(top.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_EQ(destroy_path(top.c_str()), 1);
    CloseHandle(open_dir);
    EXPECT_FALSE(file_exists(top + "\\f"));
    remove_tree(top);
}

// Another process swaps a subfolder of the copy for a folder of its own at
// the copy's first deletion: the delete must not reach into it.
TEST_F(FsHelpers, DestroyIsNotRedirectedByASwapAtTheFirstDeletion)
{
    g_debug_trace = 0;
    int swapped_runs = 0;
    for (int run = 0; run < 20; ++run) {
        std::string top = dir + "\\copy";
        std::string victim = dir + "\\victim";
        std::string parked = dir + "\\parked";
        remove_tree(top);
        remove_tree(victim);
        remove_tree(parked);
        make_dirs(top + "\\sub");
        make_dirs(victim);
        for (int i = 0; i < 7; ++i) {
            write_file(top + "\\f" + std::to_string(i) + ".sys", "ours");
            write_file(victim + "\\v" + std::to_string(i) + ".txt", "victim");
        }
        HANDLE change = FindFirstChangeNotificationA(top.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
        ASSERT_NE(change, INVALID_HANDLE_VALUE);
        bool swapped = false;
        std::thread watcher([&] {
            if (WaitForSingleObject(change, 5000) != WAIT_OBJECT_0)
                return;
            swapped = MoveFileA((top + "\\sub").c_str(), parked.c_str()) &&
                      MoveFileA(victim.c_str(), (top + "\\sub").c_str());
        });
        destroy_path(top.c_str());
        watcher.join();
        FindCloseChangeNotification(change);
        swapped_runs += swapped ? 1 : 0;
        std::string where = swapped ? top + "\\sub" : victim;
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(read_file(where + "\\v" + std::to_string(i) + ".txt"), "victim") << "run " << run;
        remove_tree(top);
        remove_tree(victim);
        remove_tree(parked);
    }
    EXPECT_GT(swapped_runs, 0) << "the swap never happened";
}

TEST_F(FsHelpers, JoinRefusesWhatDoesNotFit)
{
    char out[path_buffer_size];
    std::string folder(1000, 'f');
    EXPECT_EQ(join_path(out, folder.c_str(), "\\", std::string(22, 'n').c_str()), 1);
    EXPECT_EQ(strlen(out), 1023u);
    EXPECT_EQ(join_path(out, folder.c_str(), "\\", std::string(23, 'n').c_str()), 0);
    EXPECT_EQ(strlen(out), 1023u);
}

} // namespace
