#include "clean/inf_match.h"

#include <string.h>

int inf_match_init(InfMatcher* matcher, const char* text)
{
    size_t len = strlen(text);
    if (len > inf_match_text_max)
        return 0;
    matcher->text = reinterpret_cast<const unsigned char*>(text);
    matcher->text_len = static_cast<uint32_t>(len);

    memset(matcher->wakes, len == 0 ? 1 : 0, sizeof matcher->wakes);
    static constexpr unsigned char line_bytes[] = {'\n', '\r', '\0'};
    for (unsigned char c : line_bytes)
        matcher->wakes[c] = 1;
    if (len > 0)
        matcher->wakes[matcher->text[0]] = 1;

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
    return 1;
}

int inf_match_bytes(const InfMatcher* matcher, const unsigned char* bytes, size_t count)
{
    size_t i = 0;
    return inf_match_run(matcher, [&]() { return i < count ? static_cast<int>(bytes[i++]) : -1; });
}
