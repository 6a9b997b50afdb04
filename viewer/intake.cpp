#include "viewer/intake.h"

#include <stdio.h>
#include <string.h>

std::string capped_text(const char* bytes, size_t size)
{
    size_t kept = size < message_bytes_max ? size : message_bytes_max;
    int rows = 0;
    for (size_t i = 0; i < kept; ++i) {
        if (bytes[i] == '\n' && ++rows == message_rows_max) {
            kept = i;
            break;
        }
    }
    std::string text(bytes, kept);
    if (kept < size) {
        char note[64];
        snprintf(note, sizeof note, "\n[Corvane] %lu more bytes of this message cut",
                 static_cast<unsigned long>(size - kept));
        text += note;
    }
    return text;
}

std::vector<std::string> rows_of(const std::string& text)
{
    std::vector<std::string> rows;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            size_t length = text.size() - start;
            if (length > 0 && text.back() == '\r')
                --length;
            rows.push_back(text.substr(start, length));
            break;
        }
        size_t length = end - start;
        if (length > 0 && text[end - 1] == '\r')
            --length;
        rows.push_back(text.substr(start, length));
        start = end + 1;
    }
    if (rows.size() > 1 && rows.back().empty())
        rows.pop_back();
    return rows;
}

std::string without_line_ends(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

void remember_window_line(RecentLines& recent, uint64_t now_ms, const std::string& text)
{
    auto& lines = recent.lines;
    while (!lines.empty() && (now_ms - lines.front().first > same_line_ms || lines.size() >= recent_max))
        lines.pop_front();
    lines.emplace_back(now_ms, without_line_ends(text));
}

bool seen_as_window_line(RecentLines& recent, uint64_t now_ms, const std::string& text)
{
    for (auto it = recent.lines.begin(); it != recent.lines.end(); ++it) {
        if (now_ms - it->first <= same_line_ms && it->second == text) {
            recent.lines.erase(it);
            return true;
        }
    }
    return false;
}

std::string log_option(const char* tail)
{
    while (*tail == ' ')
        ++tail;
    if (!((tail[0] == '/' || tail[0] == '-') && (tail[1] == 'l' || tail[1] == 'L')))
        return std::string();
    tail += 2;
    while (*tail != '\0' && *tail != ' ')
        ++tail;  // rest of the switch word
    while (*tail == ' ')
        ++tail;
    std::string path;
    if (*tail == '"') {
        const char* end = strchr(tail + 1, '"');
        path.assign(tail + 1, end ? static_cast<size_t>(end - tail - 1) : strlen(tail + 1));
    } else {
        path = tail;
        while (!path.empty() && path.back() == ' ')
            path.pop_back();
    }
    return path;
}

const char* tavenor_outcome(unsigned long code)
{
    static const char* const meanings[] = {"success", "success, a reboot is needed", "the operation failed",
                                           "usage error: the command line was refused",
                                           "DifxApix64.dll could not be loaded or lacks an entry point"};
    return code < sizeof meanings / sizeof meanings[0] ? meanings[code] : nullptr;
}
