#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "difx/difx_api.h"
#include "support/viewer_window.h"
#include "tracelib/trace.h"

namespace {

std::vector<std::string> sink_lines(int32_t tracing, uint32_t event, uint32_t error, const char* text, void* context)
{
    ViewerWindow viewer;
    g_debug_trace = tracing;
    difx_log_sink(event, error, text, context);
    g_debug_trace = 0;
    std::vector<std::string> lines;
    for (const ViewerMessage& m : viewer.messages())
        lines.push_back(m.bytes);
    return lines;
}

TEST(LogSink, ShortAndLongLines)
{
    int context = 0;
    EXPECT_EQ(sink_lines(1, 1, 0, "Installing", nullptr), std::vector<std::string>{"LOG Event: 1, Installing"});
    EXPECT_EQ(sink_lines(1, 3, 5, "Denied", &context), std::vector<std::string>{"LOG Event: 3, Error = 5, Denied"});
    EXPECT_EQ(sink_lines(1, 4294967295u, 3758096907u, "big", nullptr),
              std::vector<std::string>{"LOG Event: 4294967295, Error = 3758096907, big"});
    EXPECT_EQ(sink_lines(1, 2, 0, "100%s", nullptr), std::vector<std::string>{"LOG Event: 2, 100%s"});
}

TEST(LogSink, NothingWithoutTracing)
{
    EXPECT_TRUE(sink_lines(0, 3, 5, "Denied", nullptr).empty());
    EXPECT_TRUE(sink_lines(0, 0, 0, "fine", nullptr).empty());
}

TEST(LogSink, NullDescriptionIsEmptyText)
{
    EXPECT_EQ(sink_lines(1, 1, 0, nullptr, nullptr), std::vector<std::string>{"LOG Event: 1, "});
    EXPECT_EQ(sink_lines(1, 3, 2, nullptr, nullptr), std::vector<std::string>{"LOG Event: 3, Error = 2, "});
}

} // namespace
