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
    // Bytes that can change the state when nothing is matched yet: line
    // feed, carriage return, NUL and the text's first byte (every byte for
    // an empty text, where only whether a line holds bytes counts).
    uint8_t wakes[256];
    uint16_t fallback[inf_match_text_max];  // longest proper border of text[0..i]
};

// Prepares the matcher for text; 0 when text is longer than inf_match_text_max.
int inf_match_init(InfMatcher* matcher, const char* text);

// Runs the matcher over one file's bytes.  next() gives the next byte
// (0..255) or a negative value at the end.  Returns 1 as soon as the text is
// found; the rest of the file is then not read.
template <typename NextByte>
inline int inf_match_run(const InfMatcher* m, NextByte next)
{
    const unsigned char* const text = m->text;
    const uint32_t len = m->text_len;
    const uint8_t* const wakes = m->wakes;
    uint32_t k = 0;          // bytes of text matched at the end of the line so far
    bool has_bytes = false;  // the line holds a byte other than CR
    bool dead = false;       // a NUL ended the line's text; wait for its line feed
    for (;;) {
        int c = next();
        if (c < 0)
            return len == 0 && has_bytes ? 1 : 0;
        // Most bytes: nothing matched and a byte that cannot start a match.
        if (k == 0 && !wakes[c])
            continue;
        if (c == '\n') {
            if (len == 0 && has_bytes)
                return 1;
            k = 0;
            has_bytes = false;
            dead = false;
            continue;
        }
        if (c == '\r')
            continue;
        has_bytes = true;
        if (dead || len == 0)
            continue;
        if (c == '\0') {
            dead = true;
            k = 0;
            continue;
        }
        while (k > 0 && text[k] != c)
            k = m->fallback[k - 1];
        if (text[k] == c && ++k == len)
            return 1;
    }
}

// The whole of a file's bytes at once; 1 when the text is found.
int inf_match_bytes(const InfMatcher* matcher, const unsigned char* bytes, size_t count);
