#include <gtest/gtest.h>

#include <string.h>

#include "difx/named_results.h"
#include "difx/result_names.h"

namespace {

struct NameCase {
    uint32_t code;
    const char* name;
};

TEST(ResultNames, EveryNamedCodeWithItsSignatureClass)
{
    for (const NamedResult& c : named_results) {
        EXPECT_STREQ(result_code_name(c.code), c.name) << std::hex << c.code;
        EXPECT_EQ(is_signature_failure(c.code), c.signature) << c.name;
    }
}

// Codes without a name, near the named ones.
const NameCase name_cases[] = {
    {3, "Unknown:0x00000003"},
    {0xFFFFFFFF, "Unknown:0xFFFFFFFF"},
    {0xE0000300, "Unknown:0xE0000300"},
    {0x800B0102, "Unknown:0x800B0102"},
    {0xabcdef01, "Unknown:0xABCDEF01"},
};

TEST(ResultNames, UnknownText)
{
    for (const NameCase& c : name_cases) {
        const char* name = result_code_name(c.code);
        EXPECT_STREQ(name, c.name) << std::hex << c.code;
        EXPECT_EQ(strlen(name), 18u) << std::hex << c.code;
        EXPECT_FALSE(is_signature_failure(c.code)) << std::hex << c.code;
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
