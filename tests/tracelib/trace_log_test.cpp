// The /l file when its folder is swapped for a link while a run writes:
// the run's later reopening is judged like its first, so the lines never
// reach the folder the link leads to (the links are made on the host side
// of Wine's prefix, which Windows programs see as links).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/test_files.h"
#include "tracelib/trace_log.h"

namespace {

TEST(TraceLog, AFolderSwappedForALinkMidRunLeadsNoLineElsewhere)
{
    std::string root = fresh_work_folder(test_name());
    std::string logs = root + "\\logs";
    std::string target = root + "\\target";
    ASSERT_TRUE(make_dirs(logs));
    ASSERT_TRUE(make_dirs(target));
    ASSERT_TRUE(write_file(target + "\\run.log", "theirs\r\n"));
    ASSERT_TRUE(write_file(target + "\\run.log.1", "kept\r\n"));
    // Full but for one short line: the next long one wants a rollover.
    std::string old_bytes(static_cast<size_t>(trace_log_max_bytes) - 100, 'o');
    ASSERT_TRUE(write_file(logs + "\\run.log", old_bytes));

    ASSERT_EQ(trace_log_open((logs + "\\run.log").c_str()), 1);
    trace_log_write("first", 5);
    std::string host_root = host_path(root);
    ASSERT_FALSE(host_root.empty());
    ASSERT_TRUE(host_shell("mv '" + host_root + "/logs' '" + host_root + "/moved' && ln -s '" + host_root +
                           "/target' '" + host_root + "/logs'"));
    for (int i = 0; i < 500 && !file_exists(logs + "\\run.log.1"); ++i)
        Sleep(20);
    ASSERT_TRUE(file_exists(logs + "\\run.log.1"));

    std::string second(200, 's');
    trace_log_write(second.data(), second.size());
    trace_log_close();
    EXPECT_EQ(read_file(target + "\\run.log"), "theirs\r\n");
    EXPECT_EQ(read_file(target + "\\run.log.1"), "kept\r\n");
    std::string moved = read_file(root + "\\moved\\run.log");
    EXPECT_EQ(moved.compare(0, old_bytes.size(), old_bytes), 0);
    EXPECT_EQ(moved.substr(moved.size() - 7), "first\r\n");
    host_shell("rm -f '" + host_root + "/logs'");
}

} // namespace
