// What a row means, for its colours: a run's outcome, the lines a run's
// own retry rules expect, and the user's highlight rules.  Plain rules on
// text, apart from the window so that their tests need none.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// How a run ended, told by its end line ("Exit code <n>: ..." in Tavenor's
// own trace file, "ended with exit code <n>..." from the viewer).
enum class RunOutcome { running, succeeded, failed };
RunOutcome run_outcome(const std::string& end_line);

// A run's command line as its head row names it: Tavenor's trace file says
// "Command line: <line>", the debugger output the line alone.
std::string run_command(const std::string& line);

// A line that tells of a failure Tavenor's retry rules expect and answer
// themselves (staging again after ERROR_ALREADY_EXISTS, a repair after
// ERROR_NO_SUCH_DEVINST, legacy mode after a signature failure, a repair
// before uninstalling again when a file is missing): a step of a run that
// may still succeed, not a failure of its own.
bool is_expected_retry_line(const char* text, size_t length);

// A highlight rule: lines holding text (letter case aside) are drawn on
// colour.  Rules are kept as text, one a line: "#rrggbb text".
struct Highlight {
    std::string text;  // lower case
    uint32_t colour;   // 0x00bbggrr, as COLORREF
};
constexpr size_t highlights_max = 32;
constexpr size_t highlight_text_max = 200;
// The rules a text holds; a line not of that shape is left out (and
// counted in *skipped when given), and at most highlights_max are taken.
std::vector<Highlight> parse_highlights(const std::string& text, size_t* skipped = nullptr);
std::string format_highlights(const std::vector<Highlight>& rules);
// The index of the first rule the line's text holds, or -1.
int highlight_of(const std::vector<Highlight>& rules, const char* text, size_t length);
