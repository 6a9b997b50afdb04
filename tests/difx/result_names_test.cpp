#include <gtest/gtest.h>

#include <string.h>

#include "difx/result_names.h"

namespace {

struct NameCase {
    uint32_t code;
    const char* name;
};

const NameCase name_cases[] = {
    {0, "Success"},
    {2, "ERROR_FILE_NOT_FOUND"},
    {183, "ERROR_ALREADY_EXISTS"},
    {206, "ERROR_FILENAME_EXCED_RANGE"},
    {1920, "ERROR_CANT_ACCESS_FILE"},
    {0x800B0101, "CERT_E_EXPIRED"},
    {0xE000020B, "ERROR_NO_SUCH_DEVINST"},
    {0xE0000304, "ERROR_INVALID_CATALOG_DATA"},
    {3, "Unknown:0x00000003"},
    {0xFFFFFFFF, "Unknown:0xFFFFFFFF"},
    {0xE0000302, "Unknown:0xE0000302"},
    {0x800B0102, "Unknown:0x800B0102"},
    {0xabcdef01, "Unknown:0xABCDEF01"},
};

TEST(ResultNames, NamesAndUnknownText)
{
    for (const NameCase& c : name_cases) {
        const char* name = result_code_name(c.code);
        EXPECT_STREQ(name, c.name) << std::hex << c.code;
        if (strncmp(c.name, "Unknown", 7) == 0) {
            EXPECT_EQ(strlen(name), 18u) << std::hex << c.code;
        }
    }
}

TEST(ResultNames, NextUnknownCodeOverwritesTheText)
{
    const char* first = result_code_name(3);
    const char* named = result_code_name(5);
    const char* second = result_code_name(4);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "Unknown:0x00000004");
    EXPECT_STREQ(named, "ERROR_ACCESS_DENIED");
}

} // namespace
