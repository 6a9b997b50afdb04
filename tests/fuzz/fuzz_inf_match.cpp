// The INF line matcher over arbitrary bytes, texts and block boundaries,
// 8-bit and UTF-16, checked against the plain line-buffer search.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "clean/inf_match.h"
#include "tests/support/reference_match.h"

namespace {

// Feeds the file in blocks whose sizes come from the fuzz input, as reads
// of a file would cut it; UTF-16 blocks keep whole characters.
template <typename Feed>
bool run_in_blocks(const uint8_t* bytes, size_t count, const uint8_t* sizes, size_t size_count, bool pairs,
                   Feed feed, InfMatchState* state)
{
    inf_match_start(state);
    size_t at = 0;
    for (size_t i = 0; at < count; ++i) {
        size_t block = size_count > 0 ? 1 + sizes[i % size_count] % 64 : count;
        size_t left = count - at;
        if (pairs) {
            block = (block + 1) & ~static_cast<size_t>(1);
            left &= ~static_cast<size_t>(1);
        }
        if (block > left)
            block = left;
        if (block == 0)
            break;
        if (feed(bytes + at, block))
            return true;
        at += block;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    // Two bytes of text length (up to 1100, past the matcher's limit), a
    // byte choosing 8-bit or UTF-16 and how many block sizes follow, the
    // block sizes, the text (NULs end it, as in a C string), then the file.
    size_t text_len = ((static_cast<size_t>(data[0]) << 8) | data[1]) % 1101;
    bool wide = (data[2] & 0x80) != 0;
    size_t size_count = data[2] & 0x0F;
    data += 3;
    size -= 3;
    if (size_count > size)
        size_count = size;
    const uint8_t* sizes = data;
    data += size_count;
    size -= size_count;
    if (text_len > size)
        text_len = size;
    std::string text(reinterpret_cast<const char*>(data), text_len);
    text = text.c_str();
    const uint8_t* bytes = data + text_len;
    size_t count = size - text_len;

    InfMatchState state;
    if (!wide) {
        static InfMatcher matcher;
        if (!inf_match_init(&matcher, text.c_str())) {
            if (text.size() <= inf_match_text_max)
                abort();
            return 0;
        }
        bool got = run_in_blocks(bytes, count, sizes, size_count, false,
                                 [&](const uint8_t* p, size_t n) { return inf_match_block(&matcher, &state, p, n) != 0; },
                                 &state) ||
                   inf_match_end(matcher.text_len, &state);
        if (got != reference_match(bytes, count, text.c_str()) ||
            got != (inf_match_bytes(&matcher, bytes, count) != 0))
            abort();
        return 0;
    }

    // The text's bytes taken pairwise as UTF-16 characters, up to a NUL one.
    std::u16string text16;
    for (size_t i = 0; i + 1 < text_len; i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == 0)
            break;
        text16 += c;
    }
    static InfMatcher16 matcher16;
    std::vector<uint16_t> units(text16.begin(), text16.end());
    if (!inf_match16_init(&matcher16, units.data(), units.size()))
        return 0;
    bool got = run_in_blocks(bytes, count, sizes, size_count, true,
                             [&](const uint8_t* p, size_t n) { return inf_match16_block(&matcher16, &state, p, n) != 0; },
                             &state) ||
               inf_match_end(matcher16.text_len, &state);
    if (got != reference_match16(bytes, count, text16))
        abort();
    return 0;
}
