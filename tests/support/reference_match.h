// The plain way to find a text in a file's lines: assemble each line (CRs
// dropped, 0x1A ending the file), read it up to its first NUL, search it
// with a substring search.  Obviously right; the matcher must agree with it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

template <typename Char>
bool reference_match_chars(const Char* chars, size_t count, const std::basic_string<Char>& text)
{
    std::basic_string<Char> line;
    auto line_matches = [&]() {
        if (line.empty())
            return false;
        std::basic_string<Char> until_nul = line.substr(0, line.find(Char(0)));
        return until_nul.find(text) != std::basic_string<Char>::npos;
    };
    for (size_t i = 0; i < count; ++i) {
        Char c = chars[i];
        if (c == Char(0x1A))
            break;
        if (c == Char('\n')) {
            if (line_matches())
                return true;
            line.clear();
        } else if (c != Char('\r')) {
            line += c;
        }
    }
    return line_matches();
}

inline bool reference_match(const unsigned char* bytes, size_t count, const char* text)
{
    return reference_match_chars(reinterpret_cast<const char*>(bytes), count, std::string(text));
}

// UTF-16LE bytes (an odd last byte is not a character).
inline bool reference_match16(const unsigned char* bytes, size_t count, const std::u16string& text)
{
    std::u16string chars;
    for (size_t i = 0; i + 1 < count; i += 2)
        chars += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    return reference_match_chars(chars.data(), chars.size(), text);
}
