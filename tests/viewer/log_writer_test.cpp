// The log's writer on a real file: its size bounded by a rollover to one
// predecessor.
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
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
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
    EXPECT_EQ(read_file(path), d + c);
    EXPECT_EQ(g_failures, 0);
}

} // namespace
