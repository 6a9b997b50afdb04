#include "viewer/row_style.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "difx/result_names.h"
#include "viewer/trace_store.h"

namespace {

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool starts_with(const std::string& text, const char* prefix)
{
    return text.compare(0, strlen(prefix), prefix) == 0;
}

// The results after which difx/install.cpp's retry rules call again, by
// the entry point's trace name: its table of retry rules (staging clears
// and stages again after ERROR_ALREADY_EXISTS; installing repairs after
// ERROR_ALREADY_EXISTS and ERROR_NO_SUCH_DEVINST).  Signature failures
// are looked up in the result names' own table.
struct Retried {
    const char* line;
};
constexpr Retried retried[] = {
    {"DriverPackagePreinstall returned ERROR_ALREADY_EXISTS"},
    {"DriverPackageInstall returned ERROR_ALREADY_EXISTS"},
    {"DriverPackageInstall returned ERROR_NO_SUCH_DEVINST"},
    // difx/uninstall.cpp: a missing file is repaired, then uninstalled again.
    {"Uninstall failed because file missing, now try to install/repare it first."},
    // Staging's retries ran out on ERROR_ALREADY_EXISTS, which counts as
    // success.
    {"After retry, Previnstall failed with ERROR_ALREADY_EXISTS, assume it success"},
};

} // namespace

RunOutcome run_outcome(const std::string& end_line)
{
    const char* numbers = nullptr;
    if (starts_with(end_line, "Exit code "))
        numbers = end_line.c_str() + 10;
    else if (starts_with(end_line, "ended with exit code "))
        numbers = end_line.c_str() + 21;
    if (numbers == nullptr)
        return RunOutcome::running;
    char* end = nullptr;
    unsigned long code = strtoul(numbers, &end, 10);
    if (end == numbers)
        return RunOutcome::running;
    // 0 and 1 (a restart needed) are success in the README's exit-code table.
    return code <= 1 ? RunOutcome::succeeded : RunOutcome::failed;
}

std::string run_command(const std::string& line)
{
    static const char prefix[] = "Command line: ";
    return starts_with(line, prefix) ? line.substr(sizeof prefix - 1) : line;
}

bool is_expected_retry_line(const char* text, size_t length)
{
    std::string line(text, length);
    for (const Retried& entry : retried) {
        if (line == entry.line)
            return true;
    }
    // "<entry point> returned <signature failure>": legacy mode next.
    for (const char* entry : {"DriverPackagePreinstall returned ", "DriverPackageInstall returned "}) {
        if (starts_with(line, entry))
            return is_signature_failure_name(line.c_str() + strlen(entry));
    }
    return false;
}

std::vector<Highlight> parse_highlights(const std::string& text, size_t* skipped)
{
    std::vector<Highlight> rules;
    size_t left_out = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty())
            continue;
        unsigned red = 0, green = 0, blue = 0;
        int used = 0;
        bool shaped = line.size() > 8 && line[0] == '#' && line[7] == ' ' &&
                      sscanf(line.c_str(), "#%2x%2x%2x %n", &red, &green, &blue, &used) == 3 && used >= 8 &&
                      static_cast<size_t>(used) < line.size() &&
                      line.size() - static_cast<size_t>(used) <= highlight_text_max;
        if (!shaped || rules.size() >= highlights_max) {
            ++left_out;
            continue;
        }
        std::string needle = line.substr(static_cast<size_t>(used));
        for (char& c : needle)
            c = lower(c);
        rules.push_back(Highlight{needle, red | (green << 8) | (blue << 16)});
    }
    if (skipped != nullptr)
        *skipped = left_out;
    return rules;
}

std::string format_highlights(const std::vector<Highlight>& rules)
{
    std::string text;
    for (const Highlight& rule : rules) {
        char colour[16];
        snprintf(colour, sizeof colour, "#%02x%02x%02x ", static_cast<unsigned>(rule.colour & 0xFF),
                 static_cast<unsigned>((rule.colour >> 8) & 0xFF), static_cast<unsigned>((rule.colour >> 16) & 0xFF));
        text += colour + rule.text + "\r\n";
    }
    return text;
}

int highlight_of(const std::vector<Highlight>& rules, const char* text, size_t length)
{
    for (size_t i = 0; i < rules.size(); ++i) {
        if (text_holds(text, length, rules[i].text))
            return static_cast<int>(i);
    }
    return -1;
}
