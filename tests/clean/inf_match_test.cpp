#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <random>
#include <string>

#include "clean/inf_match.h"
#include "support/reference_match.h"

namespace {

bool reference_match(const std::string& bytes, const std::string& text)
{
    return ::reference_match(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), text.c_str());
}

// The whole file at once, and again in blocks of block bytes: both must agree.
bool matcher_match(const std::string& bytes, const std::string& text, size_t block = 3)
{
    InfMatcher matcher;
    EXPECT_EQ(inf_match_init(&matcher, text.c_str()), 1);
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    bool whole = inf_match_bytes(&matcher, data, bytes.size()) != 0;
    InfMatchState state;
    inf_match_start(&state);
    bool found = false;
    for (size_t at = 0; at < bytes.size() && !found; at += block)
        found = inf_match_block(&matcher, &state, data + at, std::min(block, bytes.size() - at)) != 0;
    found = found || inf_match_end(matcher.text_len, &state);
    EXPECT_EQ(whole, found) << "in blocks of " << block;
    return whole;
}

struct MatchCase {
    std::string bytes;
    std::string text;
    bool found;
};

TEST(InfMatch, Cases)
{
    const MatchCase cases[] = {
        {"xxABCyy\n", "ABC", true},
        {"xxabcyy\n", "ABC", false},
        {"HW=ABC", "ABC", true},
        {"", "ABC", false},
        {"\n\r\n\r\r\n", "ABC", false},
        {"\n\r\n", "", false},
        {"x\n", "", true},
        {std::string("\0x", 2), "", true},
        {"A\rBC\n", "ABC", true},
        {"AB\nC\n", "ABC", false},
        {std::string("A\0B\0C\0", 6), "ABC", false},
        {std::string("x\0ABC\nABC", 9), "ABC", true},
        {std::string("x\0ABC\n", 6), "ABC", false},
        {"AAAB", "AAB", true},
        {"ABABAC", "ABAC", true},
        {"ABABAB", "ABAC", false},
        {std::string(5000, 'x') + "PCI\\VEN_1234" + std::string(3000, 'y'), "PCI\\VEN_1234", true},
        {std::string(1023, 'x') + "PCI\\VEN" + "\n_1234", "PCI\\VEN_1234", false},
        {std::string(1020, 'x') + "PCI\\VEN_1234", "PCI\\VEN_1234", true},
        {"x\x1A" "ABC\n", "ABC", false},
        {"ABC\n\x1A" "ABC\n", "ABC", true},
        {std::string("AB\0\x1A" "C\nABC", 8), "ABC", false},
        {std::string(40, 'x') + "\0" + std::string(40, 'A') + "BC\nxABC", "ABC", true},
    };
    int row = 0;
    for (const MatchCase& c : cases) {
        EXPECT_EQ(matcher_match(c.bytes, c.text), c.found) << "row " << row;
        EXPECT_EQ(reference_match(c.bytes, c.text), c.found) << "row " << row << " (reference)";
        ++row;
    }
}

TEST(InfMatch, RefusesTextLongerThanATarget)
{
    InfMatcher matcher;
    EXPECT_EQ(inf_match_init(&matcher, std::string(inf_match_text_max, 'a').c_str()), 1);
    EXPECT_EQ(inf_match_init(&matcher, std::string(inf_match_text_max + 1, 'a').c_str()), 0);
}

TEST(InfMatch, AgreesWithTheReferenceOnRandomInput)
{
    // Small alphabets make partial matches, borders and line breaks common.
    std::mt19937 random(20261208);
    const char alphabet[] = {'A', 'B', 'A', 'B', 'C', '\n', '\r', '\0', '\x1A'};
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        size_t text_len = random() % 6;
        for (size_t i = 0; i < text_len; ++i)
            text += alphabet[random() % 3];
        std::string bytes;
        size_t len = random() % 40;
        for (size_t i = 0; i < len; ++i)
            bytes += alphabet[random() % sizeof alphabet];
        ASSERT_EQ(matcher_match(bytes, text, 1 + random() % 7), reference_match(bytes, text))
            << "round " << round << " text [" << text << "]";
    }
}

} // namespace
