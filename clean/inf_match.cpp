#include "clean/inf_match.h"

#include <string.h>

int inf_match_init(InfMatcher* matcher, const char* text)
{
    size_t len = strlen(text);
    if (len > inf_match_text_max)
        return 0;
    matcher->text = reinterpret_cast<const unsigned char*>(text);
    matcher->text_len = static_cast<uint32_t>(len);

    // Knuth-Morris-Pratt borders: where to go on after a mismatch without
    // reading any byte again.
    if (len > 0)
        matcher->fallback[0] = 0;
    uint32_t k = 0;
    for (uint32_t i = 1; i < len; ++i) {
        while (k > 0 && matcher->text[i] != matcher->text[k])
            k = matcher->fallback[k - 1];
        if (matcher->text[i] == matcher->text[k])
            ++k;
        matcher->fallback[i] = static_cast<uint16_t>(k);
    }
    inf_match_reset(matcher);
    return 1;
}

void inf_match_reset(InfMatcher* matcher)
{
    matcher->matched = 0;
    matcher->line_has_bytes = false;
    matcher->line_ended_by_nul = false;
}

int inf_match_bytes(InfMatcher* matcher, const unsigned char* bytes, size_t count)
{
    inf_match_reset(matcher);
    for (size_t i = 0; i < count; ++i) {
        if (inf_match_feed(matcher, bytes[i]))
            return 1;
    }
    return inf_match_end(matcher);
}
