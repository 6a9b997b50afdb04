// Finding a text in the lines of a file as its bytes arrive.
//
// A line ends at a line feed; carriage returns are dropped wherever they
// stand; a line is read as text up to its first NUL byte; the text must
// stand whole inside one line, bytes compared exactly.  The matcher keeps no
// line: it follows the text with a prefix automaton and starts over at each
// line feed, so a line of any length is searched in full, no byte is looked
// at twice, and nothing is allocated.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Longest text the matcher takes: a device ID fits the 1024-byte target.
constexpr size_t inf_match_text_max = 1023;

struct InfMatcher {
    const unsigned char* text;
    uint32_t text_len;
    uint32_t matched;       // bytes of text matched at the end of the line so far
    bool line_has_bytes;    // the current line holds a byte other than CR
    bool line_ended_by_nul; // the rest of the current line is not text
    uint16_t fallback[inf_match_text_max]; // longest proper border of text[0..i]
};

// Prepares the matcher for text; 0 when text is longer than inf_match_text_max.
int inf_match_init(InfMatcher* matcher, const char* text);

// Starts a new file.
void inf_match_reset(InfMatcher* matcher);

// Feeds one byte; 1 when the text has now been found.
inline int inf_match_feed(InfMatcher* m, unsigned char c)
{
    if (c == '\n') {
        // An empty text is found in any line that holds a byte.
        int found = m->text_len == 0 && m->line_has_bytes;
        m->matched = 0;
        m->line_has_bytes = false;
        m->line_ended_by_nul = false;
        return found;
    }
    if (c == '\r')
        return 0;
    m->line_has_bytes = true;
    if (m->line_ended_by_nul)
        return 0;
    if (c == '\0') {
        m->line_ended_by_nul = true;
        return 0;
    }
    if (m->text_len == 0)
        return 0;
    uint32_t k = m->matched;
    while (k > 0 && m->text[k] != c)
        k = m->fallback[k - 1];
    if (m->text[k] == c)
        ++k;
    if (k == m->text_len)
        return 1;
    m->matched = k;
    return 0;
}

// Ends the file: its last line, if it holds bytes, is complete.
inline int inf_match_end(InfMatcher* m)
{
    return inf_match_feed(m, '\n');
}

// The whole of a file's bytes at once; 1 when the text is found.
int inf_match_bytes(InfMatcher* matcher, const unsigned char* bytes, size_t count);
