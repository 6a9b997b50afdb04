#include "viewer/intake.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

std::string capped_text(const char* bytes, size_t size)
{
    size_t kept = size < message_bytes_max ? size : message_bytes_max;
    // A cut inside a UTF-8 character would leave the text not UTF-8, and
    // then taken for the ANSI code page: the character goes whole.
    for (int back = 0; kept < size && back < 3 && kept > 0 && (bytes[kept] & 0xC0) == 0x80; ++back)
        --kept;
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
        size_t stop = end == std::string::npos ? text.size() : end;
        size_t length = stop - start;
        if (length > 0 && text[stop - 1] == '\r')
            --length;
        rows.push_back(text.substr(start, length));
        if (end == std::string::npos)
            break;
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

Held* held_for(Joiner& joiner, uint32_t process, uint64_t now_ms, uint64_t stamp)
{
    for (Held& held : joiner.held) {
        if (held.process == process)
            return &held;
    }
    joiner.held.push_back(Held{process, std::string(), stamp, now_ms, false});
    return &joiner.held.back();
}

void take_held(Held* held, std::vector<JoinedRow>* rows)
{
    rows->push_back(JoinedRow{held->process, held->stamp, std::move(held->text)});
    held->text.clear();
    held->trailer_due = false;
}

} // namespace

std::vector<JoinedRow> join_piece(Joiner& joiner, uint32_t process, uint64_t now_ms, uint64_t stamp,
                                  const std::string& piece)
{
    Held* held = held_for(joiner, process, now_ms, stamp);
    std::vector<JoinedRow> rows;
    if (!held->text.empty() &&
        (now_ms - held->last_at >= piece_quiet_ms || held->text.size() + piece.size() > joined_row_max))
        take_held(held, &rows);
    held->last_at = now_ms;
    bool lone = piece == "\n" || piece == "\r\n";
    if (lone && held->text.empty() && held->trailer_due) {
        held->trailer_due = false;
        return rows;
    }
    if (held->text.empty())
        held->stamp = stamp;
    std::string text = held->text + piece;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        size_t length = end - start;
        if (length > 0 && text[end - 1] == '\r')
            --length;
        rows.push_back(JoinedRow{process, held->stamp, text.substr(start, length)});
        held->stamp = stamp;
    }
    held->text = text.substr(start);
    held->trailer_due = held->text.empty();
    // A cut message: what follows is another message, not the rest of it.
    if (!held->text.empty() && piece.size() >= debug_text_max)
        take_held(held, &rows);
    return rows;
}

std::vector<JoinedRow> join_due(Joiner& joiner, uint64_t now_ms)
{
    std::vector<JoinedRow> rows;
    for (Held& held : joiner.held) {
        if (!held.text.empty() && now_ms - held.last_at >= piece_quiet_ms)
            take_held(&held, &rows);
    }
    std::sort(rows.begin(), rows.end(), [](const JoinedRow& a, const JoinedRow& b) { return a.stamp < b.stamp; });
    return rows;
}

uint64_t join_wait_ms(const Joiner& joiner, uint64_t now_ms)
{
    uint64_t wait = UINT64_MAX;
    for (const Held& held : joiner.held) {
        if (held.text.empty())
            continue;
        uint64_t quiet = now_ms - held.last_at;
        wait = std::min(wait, quiet >= piece_quiet_ms ? 0 : piece_quiet_ms - quiet);
    }
    return wait;
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

Writer* writer_of(Writers& writers, uint32_t process)
{
    for (Writer& writer : writers.known) {
        if (writer.process == process)
            return &writer;
    }
    return nullptr;
}

Writer* add_writer(Writers& writers, uint32_t process, const std::string& name, void* handle, void* wait)
{
    writers.known.push_back(Writer{process, name, handle, wait});
    return &writers.known.back();
}

Writer end_writer(Writers& writers, uint32_t process)
{
    for (auto it = writers.known.begin(); it != writers.known.end(); ++it) {
        if (it->process == process) {
            Writer ended = std::move(*it);
            writers.known.erase(it);
            return ended;
        }
    }
    return Writer{process, std::string(), nullptr, nullptr};
}

ViewerOptions parse_options(const char* tail)
{
    std::vector<std::string> words;
    while (*tail != '\0') {
        while (*tail == ' ' || *tail == '\t')
            ++tail;
        if (*tail == '\0')
            break;
        std::string word;
        if (*tail == '"') {
            const char* end = strchr(tail + 1, '"');
            word.assign(tail + 1, end ? static_cast<size_t>(end - tail - 1) : strlen(tail + 1));
            tail = end ? end + 1 : tail + strlen(tail);
        } else {
            while (*tail != '\0' && *tail != ' ' && *tail != '\t')
                word += *tail++;
        }
        words.push_back(word);
    }
    ViewerOptions options;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        bool is_switch = word.size() > 1 && (word[0] == '/' || word[0] == '-');
        char letter = is_switch ? static_cast<char>(word[1] | 0x20) : 0;
        if (letter == 'l' && i + 1 < words.size())
            options.log = words[++i];
        else if (letter == 'e')
            options.elapsed = true;
        else if (letter == 'k' && i + 1 < words.size())
            options.keep = std::max(keep_min, strtoul(words[++i].c_str(), nullptr, 10));
        else if (!is_switch && options.open.empty())
            options.open = word;
    }
    return options;
}

std::string saved_row(const RowTime& time, uint64_t number, long long elapsed_ms, const std::string& source,
                      const std::string& text)
{
    char head[96];
    int length = snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u.%03u\t%llu\t", time.year % 10000,
                          time.month % 100, time.day % 100, time.hour % 100, time.minute % 100, time.second % 100,
                          time.ms % 1000, static_cast<unsigned long long>(number));
    if (elapsed_ms >= 0)
        snprintf(head + length, sizeof head - static_cast<size_t>(length), "+%lld.%03lld\t", elapsed_ms / 1000,
                 elapsed_ms % 1000);
    return head + source + "\t" + text + "\r\n";
}

namespace {

bool all_digits(const std::string& text)
{
    if (text.empty() || text.size() > 19)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// A source the viewer itself writes: "window message", "Corvane" or
// "<pid> <image name>".
bool is_source(const std::string& field)
{
    size_t blank = field.find(' ');
    return field == "window message" || field == "Corvane" ||
           (blank != std::string::npos && blank + 1 < field.size() && all_digits(field.substr(0, blank)));
}

} // namespace

bool parse_saved_row(const std::string& line, SavedRow* row)
{
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            break;
        start = tab + 1;
    }
    RowTime& t = row->time;
    char end = 0;
    if (fields.size() < 3 || fields[0].size() != 23 ||
        sscanf(fields[0].c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%3u%c", &t.year, &t.month, &t.day, &t.hour, &t.minute,
               &t.second, &t.ms, &end) != 7 ||
        fields[0][4] != '-' || fields[0][10] != ' ' || fields[0][19] != '.' || !all_digits(fields[1]))
        return false;
    size_t source = fields.size() >= 5 && fields[2].size() > 1 && fields[2][0] == '+' && is_source(fields[3]) ? 3
                    : fields.size() >= 4 && is_source(fields[2])                                                ? 2
                                                                                                                : 0;
    size_t text = source + 1;
    if (source == 0) {
        // Tavenor's own file: the process, then the text.
        row->source = fields[1] + " Tavenor.exe";
        text = 2;
    } else {
        row->source = fields[source];
    }
    row->text = fields[text];
    for (size_t i = text + 1; i < fields.size(); ++i)
        row->text += "\t" + fields[i];
    return true;
}

uint32_t tavenor_process(const std::string& source)
{
    static const char name[] = " Tavenor.exe";
    const size_t name_length = sizeof name - 1;
    if (source.size() <= name_length || source.compare(source.size() - name_length, name_length, name) != 0)
        return 0;
    std::string id = source.substr(0, source.size() - name_length);
    return all_digits(id) ? static_cast<uint32_t>(strtoul(id.c_str(), nullptr, 10)) : 0;
}

bool is_run_start(const std::string& text)
{
    return text.compare(0, 8, "Tavenor ") == 0 && text.size() > 16 &&
           text.compare(text.size() - 8, 8, " started") == 0;
}

bool is_run_end(const std::string& text)
{
    return text.compare(0, 21, "ended with exit code ") == 0 || text.compare(0, 10, "Exit code ") == 0;
}
