// The log's writer on a real file: its size bounded by a rollover to one
// predecessor that no flood of output can force at will, and the checked
// opening that writes nowhere but the file the administrator named (links
// made on the host side of Wine's prefix, which Windows programs see as
// links).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/test_files.h"
#include "viewer/log_writer.h"

namespace {

LONG g_failures = 0;

void count_failure(DWORD)
{
    InterlockedIncrement(&g_failures);
}

// Appends bytes through a writer of its own, as a viewer started with
// /log does; true when all went well.
bool append(const std::string& path, unsigned long long bytes_max, const std::string& bytes)
{
    std::string why;
    HANDLE file = open_log_file(path, &why);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LogWriter* writer = start_writer(file, path, bytes_max, count_failure);
    if (writer == nullptr)
        return false;
    writer_queue(writer, bytes);
    return stop_writer(writer);
}

TEST(LogWriter, AFullLogRollsOverToOnePredecessor)
{
    g_failures = 0;
    std::string path = fresh_work_folder(test_name()) + "\\corvane.log";
    const std::string a(60, 'a'), b(40, 'b'), c(20, 'c'), d(90, 'd');
    ASSERT_TRUE(append(path, 100, a));
    ASSERT_TRUE(append(path, 100, b));  // exactly the bound: still one file
    EXPECT_FALSE(file_exists(path + ".1"));
    ASSERT_TRUE(append(path, 100, c));  // past it: the full file steps aside
    EXPECT_EQ(read_file(path + ".1"), a + b);
    EXPECT_EQ(read_file(path), c);
    ASSERT_TRUE(append(path, 100, d));  // and replaces the older one
    EXPECT_EQ(read_file(path + ".1"), c);
    EXPECT_EQ(read_file(path), d);
    EXPECT_EQ(g_failures, 0);

    // A reader that holds the file without letting it be renamed: the log
    // goes on growing rather than stopping.
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(append(path, 100, c));
    CloseHandle(reader);
    std::string grown = read_file(path);
    EXPECT_EQ(grown.compare(0, d.size(), d), 0);
    EXPECT_EQ(grown.compare(grown.size() - c.size(), c.size(), c), 0);
    EXPECT_NE(grown.find("[Corvane] the log file cannot move to its older generation"), std::string::npos) << grown;
    EXPECT_EQ(g_failures, 0);
}

// A folder planted at "<file>.1" neither silences nor moves the log: it
// grows on in its file and says so there.
TEST(LogWriter, AFolderAtTheOlderGenerationLeavesTheLogGrowingInItsFile)
{
    g_failures = 0;
    std::string path = fresh_work_folder(test_name()) + "\\corvane.log";
    ASSERT_TRUE(make_dirs(path + ".1"));
    const std::string a(60, 'a'), b(60, 'b');
    ASSERT_TRUE(append(path, 100, a));
    ASSERT_TRUE(append(path, 100, b));
    std::string grown = read_file(path);
    EXPECT_EQ(grown.compare(0, a.size(), a), 0);
    EXPECT_EQ(grown.compare(grown.size() - b.size(), b.size(), b), 0);
    EXPECT_NE(grown.find("older generation, which is a folder"), std::string::npos) << grown;
    EXPECT_TRUE(dir_exists(path + ".1"));
    EXPECT_EQ(g_failures, 0);
}

// Waits until the file at path holds size bytes (the writer's thread
// writes on its own time); false when it never does.
bool holds(const std::string& path, size_t size)
{
    for (int i = 0; i < 1000; ++i) {
        if (read_file(path).size() == size)
            return true;
        Sleep(10);
    }
    return false;
}

// One viewer's writer under a flood: the first rollover comes when the
// size says, the next not before minutes have passed unless the file
// reaches four times its bound.
TEST(LogWriter, AFloodOfOutputCannotForceRolloversAtWill)
{
    g_failures = 0;
    std::string path = fresh_work_folder(test_name()) + "\\corvane.log";
    std::string why;
    HANDLE file = open_log_file(path, &why);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << why;
    LogWriter* writer = start_writer(file, path, 100, count_failure);
    ASSERT_NE(writer, nullptr);
    const std::string first(90, 'f');
    writer_queue(writer, first);
    ASSERT_TRUE(holds(path, 90));
    for (char c = 'a'; c <= 'e'; ++c) {  // 5 x 60 bytes: past the bound, short of four times it
        writer_queue(writer, std::string(60, c));
        ASSERT_TRUE(holds(path, c == 'a' ? 60 : 60 * static_cast<size_t>(c - 'a' + 1))) << c;
    }
    EXPECT_EQ(read_file(path + ".1"), first);
    writer_queue(writer, std::string(150, 'z'));  // 450 bytes: past four times the bound
    EXPECT_TRUE(stop_writer(writer));
    EXPECT_EQ(read_file(path), std::string(150, 'z'));
    EXPECT_EQ(read_file(path + ".1").size(), 300u);
    EXPECT_EQ(g_failures, 0);
}

// The log's name made a second name of a .cmd file (a hard link made on the
// host side): the file is refused, so what any process writes to the
// debugger output never becomes a line of the .cmd.  The other kinds of
// link are Tavenor's /l cases: the same opening judges them.
TEST(LogWriter, ALogThatIsASecondNameOfAnotherFileIsRefused)
{
    std::string folder = fresh_work_folder(test_name());
    std::string target = folder + "\\job.cmd";
    std::string log = folder + "\\corvane.log";
    ASSERT_TRUE(write_file(target, "@echo off\r\n"));
    ASSERT_TRUE(host_shell("ln '" + host_path(target) + "' '" + host_path(log) + "'"));
    for (int i = 0; i < 500 && !file_exists(log); ++i)
        Sleep(20);
    ASSERT_TRUE(file_exists(log));

    std::string why;
    HANDLE file = open_log_file(log, &why);
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, "& calc.exe & rem\r\n", 18, &written, nullptr);
        CloseHandle(file);
    }
    EXPECT_EQ(why, "it has more than one name (a hard link)");
    EXPECT_EQ(read_file(target), "@echo off\r\n");
}

} // namespace
