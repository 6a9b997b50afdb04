// Binding the library for real: which DLL is loaded from where, what is
// traced when it cannot be bound, the log callback, and the exit codes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/stage.h"
#include "support/test_files.h"

namespace {

std::vector<std::string> journal_words(const Stage& stage)
{
    std::vector<std::string> words;
    for (const JournalEntry& entry : read_journal(stage))
        words.push_back(entry.fields.empty() ? entry.what : entry.what + " " + entry.fields[0]);
    return words;
}

const char load_failed[] = "Load library failed, make sure DifxApix64.dll is in the same directory";
const char wrong_library[] = "Get ProcAddr failed, you may get the wrong DifxApix64.dll";

struct NotBoundCase {
    Library library;
    const char* tail;
    std::vector<std::string> lines;  // after the echo
};

TEST(Binding, NotBoundGivesExitFourWithOneLineUnderDebug)
{
    const NotBoundCase cases[] = {
        {Library::none, "/i x.inf", {}},
        {Library::none, "/i x.inf /d", {load_failed}},
        {Library::without_log_callback, "/u x.inf", {}},
        {Library::without_log_callback, "/u x.inf /d", {wrong_library}},
        {Library::without_log_callback, "/d /c PCI\\X", {wrong_library}},
    };
    int row = 0;
    for (const NotBoundCase& c : cases) {
        Stage stage = make_stage(test_name() + std::to_string(row), c.library);
        DriveResult r = run(stage, c.tail);
        EXPECT_EQ(r.exit_code, 4u) << "row " << row;
        EXPECT_EQ(r.usage_boxes, 0) << "row " << row;
        bool paired = false;
        std::vector<std::string> expected = {c.tail, "\n"};
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        EXPECT_EQ(trace_lines(r, &paired), expected) << "row " << row;
        EXPECT_TRUE(paired);
        if (c.library == Library::without_log_callback) {
            // Loaded, refused and unloaded again before the process ends.
            EXPECT_EQ(journal_words(stage), (std::vector<std::string>{"load", "unload freelibrary"})) << "row " << row;
        }
        ++row;
    }
}

TEST(Binding, NeverLoadsFromTheCurrentDirectory)
{
    // The DLL stands only in the current directory, not beside the program.
    Stage stage = make_stage(test_name(), Library::none);
    std::string elsewhere = fresh_work_folder(test_name() + "-cwd");
    CopyFileA((program_folder() + "double\\DifxApix64.dll").c_str(), (elsewhere + "\\DifxApix64.dll").c_str(), FALSE);
    DriveOptions options;
    options.exe = stage.exe;
    options.arguments = "/i x.inf /d";
    options.directory = elsewhere;
    DriveResult r = drive(options);
    EXPECT_EQ(r.exit_code, 4u);
    bool paired = false;
    EXPECT_EQ(trace_lines(r, &paired), (std::vector<std::string>{"/i x.inf /d", "\n", load_failed}));
    EXPECT_FALSE(file_exists(elsewhere + "\\difx-journal.txt"));
}

TEST(Binding, RegistersTheCallbackOnceWithTheOptionsRecord)
{
    Stage stage = make_stage(test_name(), Library::full);
    DriveResult r = run(stage, "/u pkg\\x.inf");
    EXPECT_EQ(r.exit_code, 0u);
    std::vector<JournalEntry> journal = read_journal(stage);
    int registrations = 0;
    for (const JournalEntry& entry : journal) {
        if (entry.what != "set_log_callback")
            continue;
        ++registrations;
        ASSERT_EQ(entry.fields.size(), 3u);
        EXPECT_EQ(entry.fields[0], "callback=set");
        EXPECT_EQ(entry.fields[1], "context=set");
        // The context is the options record: its target is the INF path.
        EXPECT_EQ(entry.fields[2], "target=" + stage.folder + "\\pkg\\x.inf");
    }
    EXPECT_EQ(registrations, 1);
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.front().what, "load");
    EXPECT_EQ(journal.back().what + " " + journal.back().fields[0], "unload freelibrary");
}

TEST(Binding, LibraryLogEventsJoinTheTraceUnderDebug)
{
    const std::string plan =
        "# log events during the first uninstall call\n"
        "log uninstall 1 1 0 Removing package files\n"
        "log uninstall 1 3 5 Access to %s denied\n";
    Stage stage = make_stage(test_name(), Library::full, plan);
    DriveResult traced = run(stage, "/u x.inf /d");
    EXPECT_EQ(traced.exit_code, 0u);
    bool paired = false;
    std::vector<std::string> lines = trace_lines(traced, &paired);
    auto at = std::find(lines.begin(), lines.end(), "LOG Event: 1, Removing package files");
    ASSERT_NE(at, lines.end());
    ASSERT_NE(at + 1, lines.end());
    EXPECT_EQ(*(at + 1), "LOG Event: 3, Error = 5, Access to %s denied");
    EXPECT_EQ(viewer_lines(traced), lines);

    DriveResult quiet = run(stage, "/u x.inf");
    EXPECT_EQ(trace_lines(quiet, &paired), (std::vector<std::string>{"/u x.inf", "\n"}));
}

struct ExitCase {
    const char* tail;
    const char* plan;
    DWORD exit_code;
};

TEST(Binding, ExitCodesFromResultAndRebootFlag)
{
    const ExitCase cases[] = {
        {"/u x.inf", "uninstall 0\n", 0},
        {"/u x.inf", "uninstall 0+reboot\n", 1},
        {"/u x.inf", "uninstall 5\n", 2},
        {"/u x.inf", "uninstall 2+reboot 5\n", 2},
        // Not in the driver store: what /u is for already holds.
        {"/u x.inf", "uninstall 0xE0000302\n", 0},
        {"/i x.inf", "install 0+reboot 0\n", 1},
        {"/i x.inf", "install 0+reboot 5\n", 2},
        {"/i x.inf", "preinstall 0x800B0100\n", 2},
        {"/c PCI\\X", "uninstall 0+reboot\n", 0},
    };
    int row = 0;
    for (const ExitCase& c : cases) {
        Stage stage = make_stage(test_name() + std::to_string(row), Library::full, c.plan);
        DriveResult r = run(stage, c.tail);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.tail << " with " << c.plan;
        EXPECT_FALSE(r.crashed);
        ++row;
    }
}

} // namespace
