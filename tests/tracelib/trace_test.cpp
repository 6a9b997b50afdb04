#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/viewer_window.h"
#include "tracelib/trace.h"
#include "tracelib/trace_format.h"
#include "tracelib/viewer_channel.h"

namespace {

// A viewer window on the test's own thread: each send reaches it at once.
class TraceTest : public testing::Test {
protected:
    ViewerWindow viewer{ViewerMode::same_thread};

    std::vector<std::string> texts()
    {
        std::vector<std::string> out;
        for (const ViewerMessage& m : viewer.messages()) {
            EXPECT_EQ(m.tag, trace_viewer_tag);
            EXPECT_EQ(m.size, m.bytes.size());
            out.push_back(m.bytes);
        }
        return out;
    }
};

struct LineCase {
    std::string line;
    std::string delivered;
};

TEST_F(TraceTest, ViewerGetsExactlyTheLineBytes)
{
    const std::string long_line(1022, 'L');
    const std::string longest(trace_line_max, 'M');
    const LineCase cases[] = {
        {"", ""},
        {"\n", "\n"},
        {"abc", "abc"},
        {"two\nlines", "two\nlines"},
        {long_line, long_line},
        {longest, longest},
        {longest + "cut off", longest},
        {std::string(10000, 'N'), std::string(trace_line_max, 'N')},
    };
    for (const LineCase& c : cases) {
        viewer.clear();
        trace_message("%s", c.line.c_str());
        std::vector<std::string> got = texts();
        ASSERT_EQ(got.size(), 1u) << "line of " << c.line.size();
        EXPECT_EQ(got[0], c.delivered) << "line of " << c.line.size();
    }
}

TEST_F(TraceTest, LinesWithTwoFullPathsArriveWhole)
{
    const std::string a(1023, 'a');
    const std::string b(1023, 'b');
    trace_message("Copy from %s to %s failed", a.c_str(), b.c_str());
    std::vector<std::string> got = texts();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], "Copy from " + a + " to " + b + " failed");
}

TEST_F(TraceTest, TextIsDeliveredAsItStands)
{
    trace_text("100%s done %d");
    trace_text("");
    // Longer than a line holds: cut at 4094 characters, never past them.
    const std::string long_text = std::string(4094, 't') + "beyond";
    trace_text(long_text.c_str());
    trace_hex_dump(long_text.c_str(), "\x01", 1);
    std::vector<std::string> got = texts();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0], "100%s done %d");
    EXPECT_EQ(got[1], "");
    EXPECT_EQ(got[2], long_text.substr(0, 4094));
    EXPECT_EQ(got[3], long_text.substr(0, 4094));
    EXPECT_EQ(got[4], "01 ");
}

TEST_F(TraceTest, HexDumpLayout)
{
    unsigned char bytes[20];
    for (int i = 0; i < 20; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    trace_hex_dump("caption %s", bytes, 20);
    std::vector<std::string> got = texts();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], "caption %s");
    EXPECT_EQ(got[1], "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ");
    EXPECT_EQ(got[1].size(), 48u);
    EXPECT_EQ(got[2], "10 11 12 13 ");

    viewer.clear();
    trace_hex_dump("empty", bytes, 0);
    EXPECT_EQ(texts(), std::vector<std::string>{"empty"});

    viewer.clear();
    const unsigned char high[] = {0xFF, 0xA0, 0x7F};
    trace_hex_dump("high", high, 3);
    EXPECT_EQ(texts(), (std::vector<std::string>{"high", "FF A0 7F "}));
}

TEST(TraceLevel, StartsAtOneAndKeepsWhatIsSet)
{
    EXPECT_EQ(get_trace_level(), 1);
    set_trace_level(-5);
    EXPECT_EQ(get_trace_level(), -5);
    set_trace_level(21);
    EXPECT_EQ(get_trace_level(), 21);
}

TEST(TraceFormat, NeverWritesPastTheBuffer)
{
    char buffer[16];
    memset(buffer, 'Z', sizeof buffer);
    va_list none{};
    (void)none;
    auto format = [&](size_t capacity, const char* fmt, ...) {
        va_list args;
        va_start(args, fmt);
        size_t len = trace_format_line(buffer, capacity, fmt, args);
        va_end(args);
        return len;
    };
    EXPECT_EQ(format(8, "%s", "0123456789"), 7u);
    EXPECT_STREQ(buffer, "0123456");
    EXPECT_EQ(buffer[8], 'Z');
    EXPECT_EQ(format(8, "%u", 42u), 2u);
    EXPECT_STREQ(buffer, "42");
}

// The viewer gets 5 s of a process's sends in all, by the trace clock: with
// every send taking 1 s by that clock, the sixth and later lines go only to
// the debugger output, and a fresh budget serves the viewer again.
TEST_F(TraceTest, ViewerBudgetEndsTheSends)
{
    static unsigned long long now = 0;
    g_trace_clock = []() -> unsigned long long { return now += 1000; };
    trace_reset_viewer_budget();
    for (int i = 0; i < 8; ++i)
        trace_message("line %d", i);
    std::vector<std::string> got = texts();
    trace_reset_viewer_budget();
    trace_text("again");
    std::vector<std::string> after = texts();
    g_trace_clock = GetTickCount64;
    trace_reset_viewer_budget();
    EXPECT_EQ(got, (std::vector<std::string>{"line 0", "line 1", "line 2", "line 3", "line 4"}));
    ASSERT_EQ(after.size(), 6u);
    EXPECT_EQ(after.back(), "again");
}

} // namespace
