// The viewer's intake rules on scripted input: the cap on one message,
// pieces of debugger output joined per process, which text is UTF-8, and
// which debugger-output row is the copy of a window message's row.
#include <gtest/gtest.h>

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

TEST(Intake, PiecesAreJoinedPerProcessUntilTheirLineFeed)
{
    Joiner joiner;
    EXPECT_EQ(join_piece(joiner, 7, "Installing "), Rows{});
    EXPECT_EQ(join_piece(joiner, 9, "other\r\n"), Rows{"other"});  // another process's line between
    EXPECT_EQ(join_piece(joiner, 7, "x.inf: "), Rows{});
    EXPECT_EQ(join_piece(joiner, 7, "done\nnext "), Rows{"Installing x.inf: done"});
    EXPECT_EQ(join_rest(joiner, 7), "next ");  // the process ended
    EXPECT_EQ(join_rest(joiner, 7), "");
    // Tavenor writes each line with its line feed, then one more; its
    // blank line is a line feed and then one more.
    EXPECT_EQ(join_piece(joiner, 7, "Call DriverPackageInstall\n"), Rows{"Call DriverPackageInstall"});
    EXPECT_EQ(join_piece(joiner, 7, "\n"), Rows{});
    EXPECT_EQ(join_piece(joiner, 7, "\n"), Rows{""});
    EXPECT_EQ(join_piece(joiner, 7, "\n"), Rows{});
    EXPECT_EQ(join_piece(joiner, 7, "a\n\nb\n"), (Rows{"a", "", "b"}));
    // A process that never ends its line cannot hold more than a message.
    std::string endless(message_bytes_max - 1, 'e');
    EXPECT_EQ(join_piece(joiner, 7, endless), Rows{});
    EXPECT_EQ(join_piece(joiner, 7, "ee"), Rows{endless + "ee"});
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
