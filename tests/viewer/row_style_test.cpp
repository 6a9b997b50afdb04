// What a row means for its colours: the lines a run's retry rules expect,
// a run's outcome from its end line, the command line a head row names,
// and the user's highlight rules as they are kept.
#include <gtest/gtest.h>

#include <string.h>

#include "viewer/row_style.h"
#include "viewer/trace_store.h"

namespace {

bool expected(const char* line)
{
    return is_expected_retry_line(line, strlen(line));
}

// Lines of successful runs that tell of a result the install's and the
// uninstall's retry rules answer by calling again, against failures that
// end a run.
TEST(RowStyle, RetriedResultsAreExpectedOtherFailuresAreNot)
{
    const struct {
        const char* line;
        bool expected;
    } cases[] = {
        {"DriverPackagePreinstall returned ERROR_ALREADY_EXISTS", true},
        {"DriverPackageInstall returned ERROR_ALREADY_EXISTS", true},
        {"DriverPackageInstall returned ERROR_NO_SUCH_DEVINST", true},
        {"DriverPackagePreinstall returned TRUST_E_NOSIGNATURE", true},  // legacy mode next
        {"Uninstall failed because file missing, now try to install/repare it first.", true},
        {"After retry, Previnstall failed with ERROR_ALREADY_EXISTS, assume it success", true},
        // The phase's own verdict, and results no rule retries.
        {"Call DriverPackagePreinstall failed: ERROR_ALREADY_EXISTS", false},
        {"DriverPackagePreinstall returned ERROR_NO_SUCH_DEVINST", false},
        {"DriverPackageInstall returned ERROR_ACCESS_DENIED", false},
        {"DriverPackageUninstall returned ERROR_ALREADY_EXISTS", false},
        {"DriverPackagePreinstall returned ERROR_ALREADY_EXISTS and more", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(expected(c.line), c.expected) << c.line;
        // Every one of them still reads as a failure line on its own.
        EXPECT_TRUE(is_failure_line(c.line, strlen(c.line))) << c.line;
    }
}

// The README's exit-code table: 0 and 1 succeed, anything else fails; a
// run without its end line is running.
TEST(RowStyle, ARunsOutcomeComesFromItsEndLine)
{
    const struct {
        const char* end;
        RunOutcome outcome;
    } cases[] = {
        {"Exit code 0: success", RunOutcome::succeeded},
        {"Exit code 1: success, a reboot is needed", RunOutcome::succeeded},
        {"Exit code 2: the operation failed", RunOutcome::failed},
        {"ended with exit code 0: success", RunOutcome::succeeded},
        {"ended with exit code 4: DifxApix64.dll could not be loaded", RunOutcome::failed},
        {"ended with exit code 3221225477", RunOutcome::failed},  // 0xC0000005
        {"ended with exit code 10: ", RunOutcome::failed},
        {"", RunOutcome::running},
        {"Exit code ", RunOutcome::running},
    };
    for (const auto& c : cases)
        EXPECT_EQ(run_outcome(c.end), c.outcome) << c.end;
    EXPECT_EQ(run_command("Command line: /i x.inf /d"), "/i x.inf /d");
    EXPECT_EQ(run_command("/u y.inf"), "/u y.inf");
}

// Rules are kept as text: good rules come back as written, lines of
// another shape are left out and counted, and the number is bounded.
TEST(RowStyle, HighlightRulesReadBackAndBadLinesAreLeftOut)
{
    size_t skipped = 0;
    std::vector<Highlight> rules = parse_highlights(
        "#ff0000 Access Denied\r\n\r\nred timeout\n#12345 short\n#00ff80 retry \n#zzzzzz x\n", &skipped);
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[0].text, "access denied");
    EXPECT_EQ(rules[0].colour, 0x0000FFu);  // red in COLORREF's order
    EXPECT_EQ(rules[1].text, "retry");
    EXPECT_EQ(skipped, 3u);
    EXPECT_EQ(parse_highlights(format_highlights(rules)).size(), 2u);
    EXPECT_EQ(format_highlights(rules), "#ff0000 access denied\r\n#00ff80 retry\r\n");
    const char line[] = "DriverPackageInstall: RETRY in legacy mode";
    EXPECT_EQ(highlight_of(rules, line, sizeof line - 1), 1);
    EXPECT_EQ(highlight_of(rules, "nothing", 7), -1);

    std::string many;
    for (int i = 0; i < 40; ++i)
        many += "#000000 term" + std::to_string(i) + "\n";
    many += "#000000 " + std::string(highlight_text_max + 1, 'x') + "\n";
    EXPECT_EQ(parse_highlights(many, &skipped).size(), highlights_max);
    EXPECT_EQ(skipped, 40 - highlights_max + 1);
}

// A filter box holds several terms apart by ";": shown lines hold any of
// the include terms and none of the exclude terms.
TEST(RowStyle, FilterBoxesTakeSeveralTerms)
{
    EXPECT_EQ(filter_terms(" Install ; ERROR_;;  "), (std::vector<std::string>{"install", "error_"}));
    EXPECT_TRUE(filter_terms(" ; ").empty());
    TraceStore store;
    for (const char* text : {"Call DriverPackageInstall failed", "Preinstall returned ERROR_ALREADY_EXISTS",
                             "Windows 10 build 19045", "Exit code 0: success"})
        store_add(store, 0, "1 Tavenor.exe", text, strlen(text), false);
    store_set_filter(store, "install; exit code", "already;");
    ASSERT_EQ(view_count(store), 2u);
    EXPECT_EQ(row_text(store, view_row(store, 0)), "Call DriverPackageInstall failed");
    EXPECT_EQ(row_text(store, view_row(store, 1)), "Exit code 0: success");
    store_set_filter(store, " ; ", "");
    EXPECT_EQ(view_count(store), 4u);
}

} // namespace
