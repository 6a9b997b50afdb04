// The viewer's intake rules on scripted input: the cap on one message,
// pieces of debugger output joined per process, which text is UTF-8, and
// which debugger-output row is the copy of a window message's row.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "viewer/intake.h"

namespace {

using Rows = std::vector<std::string>;

TEST(Intake, AMessageIsCutAfterItsThousandthRowOnlyWhenMoreFollows)
{
    std::string thousand;
    for (int i = 0; i < message_rows_max; ++i)
        thousand += "row\n";
    // A closing line feed is part of the thousandth row, not a byte cut.
    EXPECT_EQ(capped_text(thousand.data(), thousand.size()), thousand);
    std::string more = thousand + "x";
    EXPECT_EQ(capped_text(more.data(), more.size()), thousand + "\n[Corvane] 1 more bytes of this message cut");
    // The byte cap falls inside a UTF-8 character: the character goes whole,
    // so that the rest is still UTF-8.
    std::string wide = std::string(message_bytes_max - 1, 'w') + "\xE2\x82\xAC";
    std::string cut = capped_text(wide.data(), wide.size());
    EXPECT_EQ(cut, std::string(message_bytes_max - 1, 'w') + "\n[Corvane] 3 more bytes of this message cut");
    EXPECT_TRUE(is_utf8(cut));
}

// One step of a writer's debugger output as the intake thread sees it: a
// piece of process at ms, or (process 0) the thread waking at ms with no
// piece, or (piece nullptr) the process's end.
struct Step {
    uint32_t process;
    uint64_t ms;
    const char* piece;
};

// The rows the steps give, as "process:text", in the order they are let go.
Rows joined(const std::vector<Step>& steps)
{
    Joiner joiner;
    Rows rows;
    auto take = [&](const std::vector<JoinedRow>& done) {
        for (const JoinedRow& row : done)
            rows.push_back(std::to_string(row.process) + ":" + row.text);
    };
    for (const Step& step : steps) {
        if (step.process == 0)
            take(join_due(joiner, step.ms));
        else if (step.piece == nullptr)
            rows.push_back(std::to_string(step.process) + ":" + join_rest(joiner, step.process) + "|end");
        else
            take(join_piece(joiner, step.process, step.ms, step.ms, step.piece));
    }
    return rows;
}

TEST(Intake, DebuggerPiecesAreJoinedOnlyWhileMoreFollowSoon)
{
    const std::string cut(debug_text_max, 'c');
    const std::string cut_after_a_line = "x\n" + cut.substr(2);
    const struct {
        const char* what;
        std::vector<Step> steps;
        Rows rows;
    } cases[] = {
        {"a line in pieces, another process's line between",
         {{7, 0, "Installing "}, {9, 1, "other\r\n"}, {7, 2, "x.inf: "}, {7, 3, "done\nnext "}, {7, 4, nullptr}},
         {"9:other", "7:Installing x.inf: done", "7:next |end"}},
        {"Tavenor's closing line feed adds no row, its blank line is one",
         {{7, 0, "Call DriverPackageInstall\n"}, {7, 0, "\n"}, {7, 0, "\n"}, {7, 0, "\n"}, {7, 0, "a\n\nb\n"}},
         {"7:Call DriverPackageInstall", "7:", "7:a", "7:", "7:b"}},
        {"messages without a line feed, 200 ms apart, each shown once quiet",
         {{7, 0, "nonl message 1"}, {0, piece_quiet_ms - 1, ""}, {0, piece_quiet_ms, ""}, {7, 200, "nonl message 2"},
          {7, 400, "nonl message 3"}, {0, 400 + piece_quiet_ms, ""}, {7, 3000, nullptr}},
         {"7:nonl message 1", "7:nonl message 2", "7:nonl message 3", "7:|end"}},
        {"after a whole line, pieces are not kept for the process's end",
         {{7, 0, "whole\n"}, {7, 10, "a"}, {0, 10 + piece_quiet_ms, ""}, {7, 500, "b"}},
         {"7:whole", "7:a"}},
        {"a quiet process is let go while another goes on writing",
         {{7, 0, "seven"}, {9, 100, "nine "}, {9, 200, "more"}, {0, 200, ""}, {9, 250, "\n"}},
         {"7:seven", "9:nine more"}},
        {"a message cut at the buffer's size does not swallow the next",
         {{7, 0, cut.c_str()}, {7, 1, "next\n"}, {7, 2, cut_after_a_line.c_str()}, {7, 3, "after\n"}},
         {"7:" + cut, "7:next", "7:x", "7:" + cut.substr(2), "7:after"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(joined(c.steps), c.rows) << c.what;
}

// A program writing messages without line feeds as fast as it can: no row
// grows past a line's size, and nothing is lost.
TEST(Intake, ARunOfPiecesMakesNoEndlessRow)
{
    Joiner joiner;
    std::string written;
    std::string shown;
    size_t longest = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string piece = "nonl message " + std::to_string(i);
        written += piece;
        for (const JoinedRow& row : join_piece(joiner, 7, 0, 0, piece)) {
            longest = std::max(longest, row.text.size());
            shown += row.text;
        }
    }
    EXPECT_LE(longest, joined_row_max);
    EXPECT_EQ(join_wait_ms(joiner, 0), piece_quiet_ms);
    for (const JoinedRow& row : join_due(joiner, piece_quiet_ms))
        shown += row.text;
    EXPECT_EQ(shown, written);
    EXPECT_EQ(join_wait_ms(joiner, piece_quiet_ms), UINT64_MAX);
}

// Windows gives an ended process's id to a new process: the new one is
// looked up afresh, not shown under the old name without an end line.
TEST(Intake, AnEndedWritersIdIsANewProcessNextTime)
{
    Writers writers;
    int handle = 0;
    add_writer(writers, 5, "old.exe", &handle, nullptr);
    ASSERT_NE(writer_of(writers, 5), nullptr);
    EXPECT_EQ(end_writer(writers, 5).name, "old.exe");
    EXPECT_EQ(writer_of(writers, 5), nullptr);
    add_writer(writers, 5, "new.exe", &handle, nullptr);
    EXPECT_EQ(writer_of(writers, 5)->name, "new.exe");
}

TEST(Intake, Utf8IsToldFromAnsiText)
{
    const struct {
        const char* text;
        bool utf8;
    } cases[] = {
        {"plain", true},
        {"Ger\xC3\xA4t \xE2\x82\xAC \xF0\x9F\x98\x80", true},
        {"Ger\xE4t", false},            // Windows-1252
        {"\xC3", false},                // cut short
        {"\xE2\x82", false},            // cut short
        {"\xC0\xAF", false},            // overlong
        {"\xED\xA0\x80", false},        // a surrogate
        {"\xF4\x90\x80\x80", false},    // past U+10FFFF
        {"\x80", false},                // a continuation byte first
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(is_utf8(cases[i].text), cases[i].utf8) << "case " << i;
}

TEST(Intake, EachWindowRowTakesOneCopyInTime)
{
    RecentLines recent;
    remember_window_row(recent, 1000, "same", 5);
    remember_window_row(recent, 1010, "same", 6);
    remember_window_row(recent, 1020, "other", 7);
    EXPECT_EQ(window_row_copied(recent, 1030, "same"), 5u);
    EXPECT_EQ(window_row_copied(recent, 1040, "same"), 6u);
    // A third process's line with the same text is a line of its own.
    EXPECT_EQ(window_row_copied(recent, 1050, "same"), no_line);
    EXPECT_EQ(window_row_copied(recent, 1020 + same_line_ms + 1, "other"), no_line);
}

TEST(Intake, TheCommandLine)
{
    const struct {
        const char* tail;
        const char* log;
        const char* open;
        bool elapsed;
        unsigned long keep;
    } cases[] = {
        {"/log x.log /keep 5000", "x.log", "", false, 5000},
        {"  -LOG \"C:\\with blanks\\x.log\"  /elapsed", "C:\\with blanks\\x.log", "", true, 0},
        {"\"C:\\saved run.txt\" /l trailing.log /keep 10", "trailing.log", "C:\\saved run.txt", false, keep_min},
        {"/log", "", "", false, 0},
    };
    for (const auto& c : cases) {
        ViewerOptions options = parse_options(c.tail);
        EXPECT_EQ(options.log, c.log) << c.tail;
        EXPECT_EQ(options.open, c.open) << c.tail;
        EXPECT_EQ(options.elapsed, c.elapsed) << c.tail;
        EXPECT_EQ(options.keep, c.keep) << c.tail;
    }
}

// The viewer reads back what it logged or saved (with or without the
// elapsed column) and Tavenor's own trace file; other lines are refused.
TEST(Intake, SavedRowsReadBack)
{
    const RowTime at = {2026, 12, 8, 18, 20, 17, 123};
    const struct {
        std::string line;
        bool read;
        const char* source;
        const char* text;
    } cases[] = {
        {saved_row(at, 12, -1, "window message", "a\tb"), true, "window message", "a\tb"},
        {saved_row(at, 13, 1500, "4242 Tavenor.exe", "/i x.inf /d"), true, "4242 Tavenor.exe", "/i x.inf /d"},
        {"2026-12-08 18:20:17.123\t4242\t/i x.inf /d", true, "4242 Tavenor.exe", "/i x.inf /d"},
        {"2026-12-08 18:20:17.123\t4242\tpath\twith a tab", true, "4242 Tavenor.exe", "path\twith a tab"},
        {"18:20:17.123\twindow message\told format", false, "", ""},
        {"2026-12-08 18:20:17.123\tx42\ttext", false, "", ""},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        std::string line = cases[i].line;
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
            line.resize(line.size() - 2);
        SavedRow row;
        ASSERT_EQ(parse_saved_row(line, &row), cases[i].read) << "case " << i;
        if (!cases[i].read)
            continue;
        EXPECT_EQ(row.source, cases[i].source) << "case " << i;
        EXPECT_EQ(row.text, cases[i].text) << "case " << i;
        EXPECT_EQ(row.time.ms, 123u) << "case " << i;
        EXPECT_EQ(row.time.day, 8u) << "case " << i;
    }
    EXPECT_EQ(saved_row(at, 13, 61005, "s", "t"), "2026-12-08 18:20:17.123\t13\t+61.005\ts\tt\r\n");
}

} // namespace
