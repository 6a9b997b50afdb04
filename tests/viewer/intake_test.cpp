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

TEST(Intake, TheLogOption)
{
    const struct {
        const char* tail;
        const char* path;
    } cases[] = {
        {"/log x.log", "x.log"},
        {"  -LOG \"C:\\with blanks\\x.log\"  ", "C:\\with blanks\\x.log"},
        {"/l trailing.log   ", "trailing.log"},
        {"x.log", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(log_option(c.tail), c.path) << c.tail;
}

} // namespace
