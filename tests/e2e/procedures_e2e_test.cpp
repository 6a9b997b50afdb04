// The procedures through the test double, with their real pauses read off
// the journal's time stamps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/stage.h"
#include "support/test_files.h"

namespace {

// Gaps in ms between the journal's entry-point calls, and from the last
// call to the unload.
std::vector<long long> gaps(const std::vector<JournalEntry>& journal)
{
    std::vector<unsigned long long> times;
    for (const JournalEntry& entry : journal) {
        if (entry.what == "preinstall" || entry.what == "install" || entry.what == "uninstall" ||
            entry.what == "unload")
            times.push_back(entry.ms);
    }
    std::vector<long long> out;
    for (size_t i = 1; i < times.size(); ++i)
        out.push_back(static_cast<long long>(times[i] - times[i - 1]));
    return out;
}

struct TimedCase {
    const char* what;
    const char* tail;
    const char* plan;
    DWORD exit_code;
    std::vector<std::string> calls;
    std::vector<bool> paused;  // a pause of 1000 ms after each call
};

TEST(ProceduresEndToEnd, CallsFlagsAndRealPauses)
{
    const TimedCase cases[] = {
        {"uninstall succeeds", "/u x.inf", "", 0, {"uninstall 22"}, {true}},
        {"uninstall asks for a reboot", "/u x.inf /f", "uninstall 0+reboot\n", 1, {"uninstall 26"}, {true}},
        {"uninstall fails", "/u x.inf", "uninstall 5\n", 2, {"uninstall 22"}, {false}},
        {"uninstall repairs a missing file", "/u x.inf /s", "uninstall 2 0\ninstall 0\n", 0,
         {"uninstall 22", "install 3", "uninstall 22"}, {false, true, true}},
        {"install succeeds", "/i x.inf", "", 0, {"preinstall 0", "install 0", "install 1"}, {false, true, true}},
        {"install asks for a reboot", "/i x.inf /s", "install 0+reboot 0\n", 1,
         {"preinstall 2", "install 2", "install 3"}, {false, true, true}},
        {"install fails in staging", "/i x.inf", "preinstall 0xE000020B\n", 2, {"preinstall 0"}, {false}},
        {"repair fails after a reboot request", "/i x.inf", "install 0+reboot 5\n", 2,
         {"preinstall 0", "install 0", "install 1"}, {false, true, true}},
    };
    int row = 0;
    for (const TimedCase& c : cases) {
        Stage stage = make_stage(test_name() + std::to_string(row++), Library::full, c.plan);
        DriveResult r = run(stage, c.tail);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.what;
        std::vector<JournalEntry> journal = read_journal(stage);
        EXPECT_EQ(journal_calls(journal), c.calls) << c.what;
        for (const JournalEntry& entry : journal) {
            if (entry.what == "install" || entry.what == "uninstall") {
                EXPECT_EQ(entry.fields[1], "info=null") << c.what;
                EXPECT_EQ(entry.fields[2], "reboot=set") << c.what;
            }
            if (!entry.inf.empty()) {
                EXPECT_EQ(entry.inf, stage.folder + "\\x.inf") << c.what;
            }
        }
        std::vector<long long> measured = gaps(journal);
        ASSERT_EQ(measured.size(), c.paused.size()) << c.what;
        for (size_t i = 0; i < measured.size(); ++i) {
            if (c.paused[i])
                EXPECT_GE(measured[i], 950) << c.what << ", after call " << i;
            else
                EXPECT_LT(measured[i], 900) << c.what << ", after call " << i;
        }
    }
}

TEST(ProceduresEndToEnd, TraceOfAWholeInstall)
{
    Stage stage = make_stage(test_name(), Library::full, "log install 1 1 0 Installing on ROOT\\X\n");
    DriveResult r = run(stage, "/i x.inf /d /n");
    EXPECT_EQ(r.exit_code, 0u);
    bool paired = false;
    std::vector<std::string> lines = trace_lines(r, &paired);
    EXPECT_TRUE(paired);
    const std::string inf = stage.folder + "\\x.inf";
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "/i x.inf /d /n",
                         "\n",
                         "Calling DriverPackagePreinstall with path:" + inf + ", flag = 00000010",
                         "DriverPackagePreinstall returned Success",
                         "Call DriverPackagePreinstall succeed",
                         "Calling DriverPackageInstall with path:" + inf + ", flag = 00000010",
                         "LOG Event: 1, Installing on ROOT\\X",
                         "DriverPackageInstall returned Success",
                         "Call DriverPackageInstall Succeed.",
                     }));
    EXPECT_EQ(viewer_lines(r), lines);
}

} // namespace
