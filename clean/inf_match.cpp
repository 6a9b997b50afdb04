#include "clean/inf_match.h"

#include <string.h>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define INF_MATCH_SSE2 1
#endif
#if defined(_MSC_VER)
#include <intrin.h>
#endif

namespace {

constexpr unsigned line_feed = '\n';
constexpr unsigned carriage_return = '\r';
constexpr unsigned end_of_file = 0x1A;

// Knuth-Morris-Pratt borders: where to go on after a mismatch without
// reading any character again.
template <typename Char>
void make_fallback(const Char* text, uint32_t len, uint16_t* fallback)
{
    if (len > 0)
        fallback[0] = 0;
    uint32_t k = 0;
    for (uint32_t i = 1; i < len; ++i) {
        while (k > 0 && text[i] != text[k])
            k = fallback[k - 1];
        if (text[i] == text[k])
            ++k;
        fallback[i] = static_cast<uint16_t>(k);
    }
}

// One character of the file.  Returns true when the text is found.
template <typename Char>
inline bool step(const Char* text, uint32_t len, const uint16_t* fallback, InfMatchState* s, unsigned c)
{
    if (c == line_feed) {
        if (len == 0 && s->has_chars)
            return true;
        s->k = 0;
        s->has_chars = false;
        s->dead = false;
        return false;
    }
    if (c == carriage_return)
        return false;
    if (c == end_of_file) {
        s->ended = true;
        return false;
    }
    s->has_chars = true;
    if (s->dead || len == 0)
        return false;
    if (c == 0) {
        s->dead = true;
        s->k = 0;
        return false;
    }
    uint32_t k = s->k;
    while (k > 0 && text[k] != c)
        k = fallback[k - 1];
    if (text[k] == c && ++k == len)
        return true;
    s->k = k;
    return false;
}

unsigned lowest_bit(uint64_t bits)
{
#if defined(_MSC_VER)
    unsigned long index;
    _BitScanForward64(&index, bits);
    return static_cast<unsigned>(index);
#else
    return static_cast<unsigned>(__builtin_ctzll(bits));
#endif
}

// The first byte in [p, end) equal to a, b or c; end when there is none.
const unsigned char* find_any(const unsigned char* p, const unsigned char* end, unsigned char a, unsigned char b,
                              unsigned char c)
{
#if INF_MATCH_SSE2
    const __m128i va = _mm_set1_epi8(static_cast<char>(a));
    const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
    const __m128i vc = _mm_set1_epi8(static_cast<char>(c));
    while (end - p >= 16) {
        __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(w, va), _mm_cmpeq_epi8(w, vb)),
                                    _mm_cmpeq_epi8(w, vc));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (mask != 0)
            return p + lowest_bit(mask);
        p += 16;
    }
#else
    // Eight bytes at a time: a byte of w ^ repeat(x) is zero where w holds
    // x, and the lowest flagged byte of the zero test is always a true one
    // (the platforms this runs on are little-endian).
    constexpr uint64_t ones = 0x0101010101010101ULL;
    constexpr uint64_t highs = 0x8080808080808080ULL;
    const uint64_t ra = ones * a, rb = ones * b, rc = ones * c;
    while (end - p >= 8) {
        uint64_t w;
        memcpy(&w, p, sizeof w);
        uint64_t xa = w ^ ra, xb = w ^ rb, xc = w ^ rc;
        uint64_t hits = ((xa - ones) & ~xa) | ((xb - ones) & ~xb) | ((xc - ones) & ~xc);
        hits &= highs;
        if (hits != 0)
            return p + (lowest_bit(hits) >> 3);
        p += 8;
    }
#endif
    while (p < end && *p != a && *p != b && *p != c)
        ++p;
    return p;
}

} // namespace

int inf_match_init(InfMatcher* matcher, const char* text)
{
    size_t len = strlen(text);
    if (len > inf_match_text_max)
        return 0;
    matcher->text = reinterpret_cast<const unsigned char*>(text);
    matcher->text_len = static_cast<uint32_t>(len);
    make_fallback(matcher->text, matcher->text_len, matcher->fallback);
    return 1;
}

int inf_match16_init(InfMatcher16* matcher, const uint16_t* text, size_t len)
{
    if (len > inf_match_text_max)
        return 0;
    if (len > 0)
        memcpy(matcher->text, text, len * sizeof text[0]);
    matcher->text_len = static_cast<uint32_t>(len);
    make_fallback(matcher->text, matcher->text_len, matcher->fallback);
    return 1;
}

void inf_match_start(InfMatchState* state)
{
    state->k = 0;
    state->has_chars = false;
    state->dead = false;
    state->ended = false;
}

int inf_match_block(const InfMatcher* m, InfMatchState* s, const unsigned char* p, size_t count)
{
    const unsigned char* const end = p + count;
    const uint32_t len = m->text_len;
    while (p < end && !s->ended) {
        if (s->k == 0 && len > 0) {
            // Nothing matched: only the text's first byte, a NUL or 0x1A can
            // change that, and in a line whose text a NUL ended only its
            // line feed or 0x1A.
            p = s->dead ? find_any(p, end, line_feed, end_of_file, line_feed)
                        : find_any(p, end, m->text[0], 0, end_of_file);
            if (p == end)
                break;
        }
        if (step(m->text, len, m->fallback, s, *p++))
            return 1;
    }
    return 0;
}

int inf_match16_block(const InfMatcher16* m, InfMatchState* s, const unsigned char* p, size_t count)
{
    const unsigned char* const end = p + (count & ~static_cast<size_t>(1));
    const uint32_t len = m->text_len;
    const unsigned first = len > 0 ? m->text[0] : 0;
    for (; p < end && !s->ended; p += 2) {
        unsigned c = static_cast<unsigned>(p[0]) | (static_cast<unsigned>(p[1]) << 8);
        // Nothing matched and a character that cannot change that.
        if (s->k == 0 && len > 0 && !s->dead && c != first && c != 0 && c != end_of_file)
            continue;
        if (step(m->text, len, m->fallback, s, c))
            return 1;
    }
    return 0;
}

int inf_match_end(uint32_t text_len, const InfMatchState* state)
{
    return text_len == 0 && state->has_chars ? 1 : 0;
}

int inf_match_bytes(const InfMatcher* matcher, const unsigned char* bytes, size_t count)
{
    InfMatchState state;
    inf_match_start(&state);
    if (inf_match_block(matcher, &state, bytes, count))
        return 1;
    return inf_match_end(matcher->text_len, &state);
}
