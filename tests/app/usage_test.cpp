#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "app/usage.h"

namespace {

const char expected_usage[] =
    "USAGE: Tavenor [/i <inf filename>] [/u <inf filename>] [/c <DEVID>] [/s] [/n] [/f] [/d] [/l <log file>]\n"
    "\n"
    "Options:\n"
    "/c : Clean drivers with specified DEVID\n"
    "/i : Install driver package. can not be used together with /u.\n"
    "/u : Uninstall driver package.can not be used together with /i\n"
    "/s : Silent mode.\n"
    "/n : driver to be installed is Not signed.only used together with /i\n"
    "/f : Force to install the driver even if the new driver is not\n"
    "     better than the old one, or Force to uninstall driver and its files.\n"
    "/d : Debug mode, with message traced out\n"
    "/l : Log every step, the run's start and its exit code to the file\n";

TEST(UsageText, IsTheWholeText)
{
    char text[usage_buffer_size];
    size_t len = build_usage_text(text, sizeof text);
    EXPECT_EQ(len, 612u);
    EXPECT_STREQ(text, expected_usage);
}

TEST(UsageText, RefusesABufferItDoesNotFit)
{
    char text[613];
    EXPECT_EQ(build_usage_text(text, sizeof text), 612u);
    char small[612];
    memset(small, 'Z', sizeof small);
    EXPECT_EQ(build_usage_text(small, sizeof small), 0u);
}

} // namespace
