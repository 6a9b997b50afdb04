#include "viewer/intake.h"

#include <stdio.h>
#include <string.h>

std::string capped_text(const char* bytes, size_t size)
{
    size_t kept = size < message_bytes_max ? size : message_bytes_max;
    int rows = 0;
    for (size_t i = 0; i < kept; ++i) {
        if (bytes[i] == '\n' && ++rows == message_rows_max) {
            kept = i + 1;
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

bool is_utf8(const std::string& text)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned c = s[i];
        size_t more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
        if (more == 4 || (more > 0 && i + more >= n))
            return false;
        uint32_t code = more == 0 ? c : c & (0x3F >> more);
        for (size_t k = 1; k <= more; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            code = code << 6 | (s[i + k] & 0x3F);
        }
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

void remember_window_row(RecentLines& recent, uint64_t now_ms, const std::string& text, uint64_t line)
{
    auto& rows = recent.rows;
    while (!rows.empty() && (now_ms - rows.front().at > same_line_ms || rows.size() >= recent_max))
        rows.pop_front();
    rows.push_back(RecentRow{now_ms, line, text});
}

uint64_t window_row_copied(RecentLines& recent, uint64_t now_ms, const std::string& text)
{
    for (auto it = recent.rows.begin(); it != recent.rows.end(); ++it) {
        if (now_ms - it->at <= same_line_ms && it->text == text) {
            uint64_t line = it->line;
            recent.rows.erase(it);
            return line;
        }
    }
    return no_line;
}

namespace {

Held* held_for(Joiner& joiner, uint32_t process)
{
    for (Held& held : joiner.held) {
        if (held.process == process)
            return &held;
    }
    joiner.held.push_back(Held{process, std::string(), false});
    return &joiner.held.back();
}

} // namespace

std::vector<std::string> join_piece(Joiner& joiner, uint32_t process, const std::string& piece)
{
    Held* held = held_for(joiner, process);
    bool lone = piece == "\n" || piece == "\r\n";
    if (lone && held->text.empty() && held->trailer_due) {
        held->trailer_due = false;
        return {};
    }
    std::string text = held->text + piece;
    std::vector<std::string> rows;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        size_t length = end - start;
        if (length > 0 && text[end - 1] == '\r')
            --length;
        rows.push_back(text.substr(start, length));
    }
    held->text = text.substr(start);
    held->trailer_due = held->text.empty();
    if (held->text.size() >= message_bytes_max) {
        rows.push_back(held->text);
        held->text.clear();
    }
    return rows;
}

std::string join_rest(Joiner& joiner, uint32_t process)
{
    for (auto it = joiner.held.begin(); it != joiner.held.end(); ++it) {
        if (it->process == process) {
            std::string rest = std::move(it->text);
            joiner.held.erase(it);
            return rest;
        }
    }
    return std::string();
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
