// Finding a text in the lines of an INF file as its blocks arrive.
//
// A line ends at a line feed; carriage returns are dropped wherever they
// stand; a line is read as text up to its first NUL; a 0x1A ends the file
// (so an 8-bit file reads as the text-mode stream would read it); the text
// must stand whole inside one line, compared exactly.  The same rules hold
// per character for UTF-16LE files.  The matcher keeps no line: it follows
// the text with a prefix automaton that starts over at each line feed, so a
// line of any length is searched in full, and it skips ahead to the next
// character that can start a match or change the line's state, so most of
// a file is only looked at in wide strides.  Nothing is allocated.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Longest text the matcher takes: a device ID fits the 1024-byte target.
constexpr size_t inf_match_text_max = 1023;

// Where the reading of one file stands between its blocks.
struct InfMatchState {
    uint32_t k;       // characters of the text matched at the end of the line so far
    bool has_chars;   // the line holds a character other than CR
    bool dead;        // a NUL ended the line's text; wait for its line feed
    bool ended;       // a 0x1A ended the file
};

// The text for 8-bit files: its bytes as given.
struct InfMatcher {
    const unsigned char* text;
    uint32_t text_len;
    uint16_t fallback[inf_match_text_max];  // longest proper border of text[0..i]
};

// The text for UTF-16LE files: its characters.
struct InfMatcher16 {
    uint16_t text[inf_match_text_max];
    uint32_t text_len;
    uint16_t fallback[inf_match_text_max];
};

// Prepares the matcher for text; 0 when text is longer than inf_match_text_max.
int inf_match_init(InfMatcher* matcher, const char* text);
int inf_match16_init(InfMatcher16* matcher, const uint16_t* text, size_t len);

// A new file.
void inf_match_start(InfMatchState* state);

// The file's next block.  Returns 1 as soon as the text is found; nothing
// after a 0x1A counts.  UTF-16 blocks are byte pairs, low byte first (count
// even).
int inf_match_block(const InfMatcher* matcher, InfMatchState* state, const unsigned char* bytes, size_t count);
int inf_match16_block(const InfMatcher16* matcher, InfMatchState* state, const unsigned char* bytes,
                      size_t count);

// The end of the file: 1 when its last line matches (only an empty text,
// which matches any line holding a character, can match there).
int inf_match_end(uint32_t text_len, const InfMatchState* state);

// A whole 8-bit file at once; 1 when the text is found.
int inf_match_bytes(const InfMatcher* matcher, const unsigned char* bytes, size_t count);
