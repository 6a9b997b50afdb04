#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "app/tokens.h"

namespace {

struct TokenCase {
    const char* tail;
    std::vector<std::string> tokens;
    int result;
};

std::vector<std::string> tokens_of(const char* buffer)
{
    std::vector<std::string> tokens;
    for (const char* token = buffer; *token != '\0'; token += strlen(token) + 1)
        tokens.push_back(token);
    return tokens;
}

// tail, tokens, result
const TokenCase token_cases[] = {
    {"/i x.inf /s", {"/i", "x.inf", "/s"}, 1},
    {"   /i    'D:\\My Drivers\\x.inf'   /s  ", {"/i", "D:\\My Drivers\\x.inf", "/s"}, 1},
    {"/c 'mydrv*':PCI\\VEN_1234", {"/c", "mydrv*:PCI\\VEN_1234"}, 1},
    {"ab'c d'e", {"abc de"}, 1},
    {"\"it's here\"", {"it's here"}, 1},
    {"'say \"hi\"'", {"say \"hi\""}, 1},
    {"/i '' x", {"/i", "x"}, 1},
    {"x  ''  y", {"x", "y"}, 1},
    {"x  \"\"  y", {"x", "y"}, 1},
    {"/i\tx.inf", {"/i\tx.inf"}, 1},
    {"", {}, 1},
    {"     ", {}, 1},
    {"''", {}, 1},
    {"\"\"", {}, 1},
    {"a\\'b c'", {"a\\b c"}, 1},
    {"/i 'x.inf", {"/i", "x.inf"}, 0},
    {"/i \"x.inf", {"/i", "x.inf"}, 0},
    {"'", {}, 0},
    {"a 'b\" c", {"a", "b\" c"}, 0},
};

class TokenizerTable : public testing::TestWithParam<TokenCase> {};

TEST_P(TokenizerTable, SplitsInPlace)
{
    const TokenCase& c = GetParam();
    char buffer[command_buffer_size];
    memset(buffer, 'Z', sizeof buffer);
    strcpy(buffer, c.tail);
    EXPECT_EQ(tokenize_command_line(buffer), c.result) << "tail [" << c.tail << "]";
    EXPECT_EQ(tokens_of(buffer), c.tokens) << "tail [" << c.tail << "]";
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, TokenizerTable, testing::ValuesIn(token_cases));

TEST(Tokenizer, LongestTailStaysInsideTheBuffer)
{
    // 510 characters ending in a blank-closed token: the list's two NULs
    // are the last bytes of the buffer, and nothing beyond is written.
    char buffer[command_buffer_size + 16];
    memset(buffer, 'Z', sizeof buffer);
    std::string tail(command_tail_max - 1, 'a');
    tail += ' ';
    memcpy(buffer, tail.c_str(), tail.size() + 1);
    EXPECT_EQ(tokenize_command_line(buffer), 1);
    EXPECT_EQ(tokens_of(buffer), std::vector<std::string>{std::string(command_tail_max - 1, 'a')});
    for (size_t i = command_buffer_size; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], 'Z') << "byte " << i;
}

// command line, the tail WinMain takes from it
const std::pair<const char*, const char*> program_name_cases[] = {
    {"C:\\stage\\Tavenor.exe /i x.inf", "/i x.inf"},
    {"\"C:\\My Stage\\Tavenor.exe\" /i x.inf", "/i x.inf"},
    {"C:\\stage\xC3\xBC\\Tavenor.exe /i x.inf /d", "/i x.inf /d"},
    {"\"C:\\st\xE4ge \xFF\\Tavenor.exe\"\t /u 'a b.inf'", "/u 'a b.inf'"},
    {"C:\\\x80\xA0\xFE\\Tavenor.exe\t/d", "/d"},
    {"Tavenor.exe", ""},
    {"\"C:\\unclosed /i x.inf", ""},
    {"\"\"/i x.inf", "/i x.inf"},
    {"", ""},
};

TEST(ProgramName, TheTailStartsAfterTheNameAndItsBlanks)
{
    for (const auto& c : program_name_cases)
        EXPECT_STREQ(skip_program_name(c.first), c.second) << c.first;
}

} // namespace
