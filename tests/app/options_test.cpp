#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "app/options.h"
#include "base/program_path.h"
#include "app/tokens.h"

namespace {

std::string program_dir()
{
    char path[1024];
    uint32_t len = get_program_file_path(path, sizeof path);
    std::string full(path, len);
    return full.substr(0, full.find_last_of('\\') + 1);
}

struct ParseResult {
    int ok;
    CommandOptions options;
};

ParseResult parse(const std::string& tail)
{
    char buffer[command_buffer_size + 1024];
    memcpy(buffer, tail.c_str(), tail.size() + 1);
    ParseResult result;
    memset(&result.options, 0x5A, sizeof result.options);
    int closed = tokenize_command_line(buffer);
    result.ok = closed ? parse_options(buffer, &result.options) : 0;
    return result;
}

struct AcceptedCase {
    const char* tail;
    int32_t operation;
    uint32_t flags;
    bool beside_program;  // target is the program folder + expected_target
    const char* target;
    const char* pattern;
    int32_t debug;
};

// tail, operation, flag word, relative?, target, folder pattern, /d
const AcceptedCase accepted_cases[] = {
    {"/i x.inf /s", 1, 0x2, true, "x.inf", "*.*", 0},
    {"/u D:\\drv\\x.inf", 2, 0x20, false, "D:\\drv\\x.inf", "*.*", 0},
    {"/u \\\\srv\\share\\x.inf /f", 2, 0x24, false, "\\\\srv\\share\\x.inf", "*.*", 0},
    {"/s /n /i x.inf", 1, 0x10, true, "x.inf", "*.*", 0},
    {"/n /s /i x.inf", 1, 0x12, true, "x.inf", "*.*", 0},
    {"/install x.inf", 1, 0, true, "x.inf", "*.*", 0},
    {"-I x.inf", 1, 0, true, "x.inf", "*.*", 0},
    {"/I D:/x.inf /D", 1, 0, false, "D:/x.inf", "*.*", 1},
    {"/i \\pkg\\x.inf", 1, 0, true, "\\pkg\\x.inf", "*.*", 0},
    {"/i pkg/x.inf", 1, 0, true, "pkg/x.inf", "*.*", 0},
    {"/dump /i x.inf /f /f", 1, 0x4, true, "x.inf", "*.*", 1},
    {"/c PCI\\VEN_1234", 3, 0, false, "PCI\\VEN_1234", "*.*", 0},
    {"/c mydrv*:PCI\\VEN_1234", 3, 0, false, "PCI\\VEN_1234", "mydrv*", 0},
    {"/c :PCI\\VEN_1234", 3, 0, false, "PCI\\VEN_1234", "", 0},
    {"/c a:b:c", 3, 0, false, "b:c", "a", 0},
    {"/c X /s /n /f /d", 3, 0x14, false, "X", "*.*", 1},
    {"/i 'D:\\My Drivers\\x.inf'", 1, 0, false, "D:\\My Drivers\\x.inf", "*.*", 0},
    {"/c 1234567890123456789012345678901:X", 3, 0, false, "X", "1234567890123456789012345678901", 0},
    {"/c oem.*:X", 3, 0, false, "X", "oem.*", 0},
};

class AcceptedTable : public testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedTable, FillsTheRecord)
{
    const AcceptedCase& c = GetParam();
    ParseResult r = parse(c.tail);
    ASSERT_EQ(r.ok, 1) << c.tail;
    EXPECT_EQ(r.options.operation, c.operation) << c.tail;
    EXPECT_EQ(r.options.difx_flags, c.flags) << c.tail;
    EXPECT_EQ(r.options.debug_trace, c.debug) << c.tail;
    std::string expected = c.beside_program ? program_dir() + c.target : c.target;
    EXPECT_EQ(std::string(r.options.target), expected) << c.tail;
    EXPECT_STREQ(r.options.folder_pattern, c.pattern) << c.tail;
    // The rest of target is zero after the reset.
    for (size_t i = strlen(r.options.target); i < sizeof r.options.target; ++i)
        ASSERT_EQ(r.options.target[i], '\0') << c.tail << " byte " << i;
}

INSTANTIATE_TEST_SUITE_P(Parser, AcceptedTable, testing::ValuesIn(accepted_cases));

const char* const refused_cases[] = {
    "",
    "/d",
    "/s /f",
    "/s /d",
    "x.inf",
    "/i a.inf extra",
    "/",
    "-",
    "/?",
    "/h",
    "/x x.inf",
    "/i",
    "/i a.inf /u b.inf",
    "/i a.inf /i b.inf",
    "/c X /i a.inf",
    "/c mydrv*:",
    "/c mydrv*:PCI\\X /i a.inf",
    "/i x.inf /z",
    // Drive-relative paths name the drive's current directory.
    "/I D:x.inf",
    "/u C:",
    // A device ID of blanks only would match nearly everything.
    "/c \" \"",
    "/c 'mydrv*: \t'",
    "/i D:\\My Drivers\\x.inf",
    "/i\tx.inf",
    "/i 'x.inf",
    // A folder pattern of 32 characters does not fit its 32 bytes.
    "/c 12345678901234567890123456789012:X",
    // An operand that is missing, empty or a switch: an empty batch variable
    // must not make the next switch the INF path, device ID or log path.
    "/i /s",
    "/c \"\" -d",
    "/c mydrv*:-d",
    "/i x.inf /l",
    "/i x.inf /l /d",
    "/i x.inf /l a.log /l b.log",
    // A folder pattern names store folders: no separators, no way up.
    "/c sub\\*:X",
    "/c a/b:X",
    "/c ..:X",
};

class RefusedTable : public testing::TestWithParam<const char*> {};

TEST_P(RefusedTable, Fails)
{
    EXPECT_EQ(parse(GetParam()).ok, 0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Parser, RefusedTable, testing::ValuesIn(refused_cases));

// The tokens as the tokenizer leaves them: each with its NUL, the list
// closed by one more.
int parse_tokens(const std::vector<std::string>& tokens, CommandOptions* options)
{
    std::string list;
    for (const std::string& token : tokens) {
        list += token;
        list += '\0';
    }
    list += '\0';
    return parse_options(list.data(), options);
}

struct EdgeCase {
    const char* what;
    std::vector<std::string> tokens;
    int ok;
    bool log;           // the field is log_path, else target
    std::string field;  // its text when accepted
};

// The longest operand each field takes, and one character more.
TEST(Parser, OperandsAtTheEdgeOfTheirFields)
{
    // Program folder + relative path + NUL: exactly 1024 bytes fit, 1025 do not.
    std::string inf(target_size - 1 - program_dir().size(), 'p');
    std::string device = "D:\\" + std::string(1020, 'x');  // 1023 characters
    // The log's name and its ".1" must fit a path buffer: 1021 characters do.
    std::string log = "D:\\" + std::string(1018, 'l');
    const EdgeCase cases[] = {
        {"relative INF path filling the target", {"/i", inf}, 1, false, program_dir() + inf},
        {"relative INF path one past the target", {"/i", inf + "p"}, 0, false, ""},
        {"operand of 1023 characters", {"/u", device}, 1, false, device},
        {"operand of 1024 characters", {"/c", std::string(1024, 'x')}, 0, false, ""},
        {"log path with room for its suffix", {"/i", "x.inf", "/l", log}, 1, true, log},
        {"log path without room for its suffix", {"/i", "x.inf", "/l", log + "l"}, 0, true, ""},
    };
    for (const EdgeCase& c : cases) {
        CommandOptions options;
        ASSERT_EQ(parse_tokens(c.tokens, &options), c.ok) << c.what;
        if (c.ok) {
            EXPECT_EQ(std::string(c.log ? options.log_path : options.target), c.field) << c.what;
        }
    }
}

TEST(Parser, LogPathIsPlacedBesideTheProgram)
{
    ParseResult relative = parse("/LOG logs\\run.log /i x.inf");
    ASSERT_EQ(relative.ok, 1);
    EXPECT_EQ(std::string(relative.options.log_path), program_dir() + "logs\\run.log");
    EXPECT_EQ(std::string(parse("/i x.inf").options.log_path), "");
}

TEST(ProgramPath, CutPathIsNotUsed)
{
    char path[1024];
    uint32_t len = get_program_file_path(path, sizeof path);
    ASSERT_GT(len, 0u);
    // A buffer the path does not fit whole gives no path at all.
    EXPECT_EQ(get_program_file_path(path, len), 0u);
    EXPECT_EQ(get_program_file_path(path, len + 1), len);
}

TEST(ProgramPath, ResolveLeavesAbsolutePathsAndMendsRelativeOnes)
{
    char path[target_size] = "\\\\srv\\x.inf";
    EXPECT_EQ(resolve_beside_program(path, sizeof path), 1);
    EXPECT_STREQ(path, "\\\\srv\\x.inf");

    strcpy(path, "\\pkg\\x.inf");
    EXPECT_EQ(resolve_beside_program(path, sizeof path), 1);
    EXPECT_EQ(std::string(path), program_dir() + "\\pkg\\x.inf");  // doubled backslash, as intended
}

uint32_t unknown_program_path(char*, uint32_t)
{
    return 0;
}

TEST(ProgramPath, UnknownProgramPathRefusesARelativeInfOnly)
{
    program_path_function platform = g_program_path;
    g_program_path = unknown_program_path;
    ParseResult relative = parse("/i x.inf");
    ParseResult absolute = parse("/u C:\\x.inf");
    ParseResult clean = parse("/c PCI\\X");
    g_program_path = platform;
    EXPECT_EQ(relative.ok, 0);
    EXPECT_EQ(absolute.ok, 1);
    EXPECT_EQ(clean.ok, 1);
}

} // namespace
