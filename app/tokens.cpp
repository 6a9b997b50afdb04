#include "app/tokens.h"

const char* skip_program_name(const char* command_line)
{
    const char* p = command_line;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

int tokenize_command_line(char* buffer)
{
    char quote = ' ';
    const char* read = buffer;
    char* write = buffer;

    for (; *read != '\0'; ++read) {
        char c = *read;
        if (quote != ' ') {
            if (c == quote)
                quote = ' ';
            else
                *write++ = c;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ' ') {
            if (write != buffer && write[-1] != '\0')
                *write++ = '\0';
        } else {
            *write++ = c;
        }
    }

    // Close the last token and the list.  The write position never passed
    // the read position, which stands on the tail's NUL, so the two NULs
    // need at most one byte beyond it.
    write[0] = '\0';
    write[1] = '\0';
    return quote == ' ' ? 1 : 0;
}
