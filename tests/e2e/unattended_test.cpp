// Runs as deployment systems start Tavenor: on a window station nobody
// sees, from folders named in any language, started unquoted, with a viewer
// that is slow or stalls.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/stage.h"
#include "support/test_files.h"

namespace {

TEST(Unattended, NoUsageBoxWhereNobodyCanAnswerIt)
{
    Stage stage = make_stage(test_name(), Library::full);
    DriveOptions options;
    options.exe = stage.exe;
    options.arguments = "/x";
    options.hidden_station = true;
    options.timeout_ms = 10000;
    DriveResult r = drive(options);
    if (r.no_hidden_station)
        GTEST_SKIP() << "no window station of our own here: " << r.not_started;
    ASSERT_TRUE(r.started) << r.not_started;
    EXPECT_EQ(r.exit_code, 3u);
    EXPECT_FALSE(r.timed_out);  // a usage box would hold the run until it is ended
    EXPECT_EQ(r.usage_boxes, 0);
}

struct FolderCase {
    const char* what;
    const char* folder;  // UTF-8, as the test program's code page has it
    bool quoted;
};

TEST(Unattended, ProgramFoldersInAnyLanguageQuotedOrNot)
{
    const FolderCase cases[] = {
        {"Latin letters, unquoted", "stage-J\xC3\xBCrgen-\xC3\x84\xC3\x96\xC3\x9F", false},
        {"Latin letters, quoted", "stage-J\xC3\xBCrgen-\xC3\x84\xC3\x96\xC3\x9F", true},
        {"Cyrillic, unquoted", "stage-\xD0\x94\xD1\x80\xD0\xB0\xD0\xB9\xD0\xB2\xD0\xB5\xD1\x80", false},
        {"CJK, quoted", "stage-\xE9\xA9\xB1\xE5\x8A\xA8\xE7\xA8\x8B\xE5\xBA\x8F", true},
    };
    int row = 0;
    for (const FolderCase& c : cases) {
        // A planned reboot shows that the plan beside the library was read.
        Stage stage = make_stage(test_name() + std::to_string(row++) + "\\" + c.folder, Library::full,
                                 "install 0+reboot 0\n");
        ASSERT_TRUE(file_exists(stage.exe)) << c.what;
        DriveOptions options;
        options.exe = stage.exe;
        options.arguments = "/i pkg\\x.inf /d";
        options.quote_program = c.quoted;
        DriveResult r = drive(options);
        EXPECT_EQ(r.exit_code, 1u) << c.what;
        bool paired = false;
        std::vector<std::string> lines = trace_lines(r, &paired);
        ASSERT_FALSE(lines.empty()) << c.what;
        EXPECT_EQ(lines[0], "/i pkg\\x.inf /d") << c.what;
        std::vector<JournalEntry> journal = read_journal(stage);
        auto install = std::find_if(journal.begin(), journal.end(),
                                    [](const JournalEntry& e) { return e.what == "install"; });
        ASSERT_NE(install, journal.end()) << c.what;
        EXPECT_EQ(install->inf, stage.folder + "\\pkg\\x.inf") << c.what;
    }
}

struct ViewerCase {
    const char* what;
    ViewerKind viewer;
};

TEST(Unattended, AHungOrSlowViewerNeitherHoldsTheRunNorLosesLines)
{
    const ViewerCase cases[] = {
        {"never answers", ViewerKind::never_pumps},
        {"answers every line after 1.9 s", ViewerKind::slow},
        {"stalls 2.5 s on its first line", ViewerKind::stalls_once},
    };
    for (const ViewerCase& c : cases) {
        Stage stage = make_stage(test_name(), Library::full);
        DriveResult r = run(stage, "/i x.inf /d", c.viewer);
        EXPECT_EQ(r.exit_code, 0u) << c.what;
        EXPECT_FALSE(r.timed_out) << c.what;
        bool paired = false;
        std::vector<std::string> lines = trace_lines(r, &paired);
        EXPECT_TRUE(paired) << c.what;
        ASSERT_FALSE(lines.empty()) << c.what;
        EXPECT_EQ(lines.back(), "Call DriverPackageInstall Succeed.") << c.what;
        if (c.viewer == ViewerKind::stalls_once) {
            // Every line after the one it stalled on reaches it, in order.
            std::vector<std::string> seen = viewer_lines(r);
            std::vector<std::string> later(lines.begin() + 1, lines.end());
            ASSERT_GE(seen.size(), later.size()) << c.what;
            EXPECT_EQ(std::vector<std::string>(seen.end() - static_cast<std::ptrdiff_t>(later.size()), seen.end()),
                      later)
                << c.what;
        }
    }
}

} // namespace
