// The plain way to find a text in a file's lines: assemble each line (CRs
// dropped), read it up to its first NUL, search it with strstr.  Obviously
// right; the streaming matcher must agree with it.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

inline bool reference_match(const unsigned char* bytes, size_t count, const char* text)
{
    std::string line;
    auto line_matches = [&]() { return !line.empty() && strstr(line.c_str(), text) != nullptr; };
    for (size_t i = 0; i < count; ++i) {
        char c = static_cast<char>(bytes[i]);
        if (c == '\n') {
            if (line_matches())
                return true;
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    return line_matches();
}
