// The INF line matcher over arbitrary bytes and texts, checked against the
// plain line-buffer search.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "clean/inf_match.h"
#include "tests/support/reference_match.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // Two bytes of text length (up to 1100, past the matcher's limit), the
    // text (NULs end it, as in a C string), then the file's bytes.
    size_t text_len = ((static_cast<size_t>(data[0]) << 8) | data[1]) % 1101;
    data += 2;
    size -= 2;
    if (text_len > size)
        text_len = size;
    std::string text(reinterpret_cast<const char*>(data), text_len);
    text = text.c_str();
    const uint8_t* bytes = data + text_len;
    size_t count = size - text_len;

    static InfMatcher matcher;
    if (!inf_match_init(&matcher, text.c_str())) {
        if (text.size() <= inf_match_text_max)
            abort();
        return 0;
    }
    bool got = inf_match_bytes(&matcher, bytes, count) != 0;
    if (got != reference_match(bytes, count, text.c_str()))
        abort();
    return 0;
}
