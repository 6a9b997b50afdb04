// Tokenizer and option parser over arbitrary tails.  The first byte picks
// how the program's own path looks and whether the rest is the tail or a
// whole command line, whose program name is skipped first.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "app/command_options.h"
#include "app/options.h"
#include "base/path_kind.h"
#include "base/program_path.h"
#include "app/tokens.h"

namespace {
uint8_t g_path_mode = 0;
}

// The parser's one platform call, as the fuzzer wants it.
uint32_t get_program_file_path(char* buffer, uint32_t capacity)
{
    static const char* const paths[] = {
        "C:\\Tools\\Tavenor.exe",
        "Tavenor.exe",  // no backslash
        "",             // not known
        nullptr,        // long: nearly fills the buffer
    };
    const char* path = paths[g_path_mode % 4];
    char long_path[1024];
    if (path == nullptr) {
        memset(long_path, 'p', 1000);
        memcpy(long_path, "C:\\", 3);
        memcpy(long_path + 990, "\\Tavenor.exe", 13);
        path = long_path;
    }
    size_t len = strlen(path);
    if (len == 0 || len >= capacity)
        return 0;
    memcpy(buffer, path, len + 1);
    return static_cast<uint32_t>(len);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    g_path_mode = data[0];
    bool whole_line = (data[0] & 0x80) != 0;
    ++data;
    --size;

    // The tail is a C string: it ends at its first NUL.  The buffer is
    // exactly as large as the tokenizer may need, so ASan sees any write
    // past it.
    size_t line_len = strnlen(reinterpret_cast<const char*>(data), size);
    char* line = static_cast<char*>(malloc(line_len + 1));
    memcpy(line, data, line_len);
    line[line_len] = '\0';
    const char* tail = line;
    if (whole_line) {
        tail = skip_program_name(line);
        if (tail < line || tail > line + line_len || *tail == ' ' || *tail == '\t')
            abort();
    }
    size_t len = strlen(tail);
    char* buffer = static_cast<char*>(malloc(len + 2));
    memcpy(buffer, tail, len);
    free(line);
    buffer[len] = '\0';
    buffer[len + 1] = 0x55;

    int closed = tokenize_command_line(buffer);
    if (closed != 0 && closed != 1)
        abort();
    // No empty token inside the list, and the list ends within the buffer.
    size_t pos = 0;
    while (buffer[pos] != '\0') {
        pos += strlen(buffer + pos) + 1;
        if (pos > len + 1)
            abort();
    }

    CommandOptions options;
    memset(&options, 0xA5, sizeof options);
    if (parse_options(buffer, &options) == 1) {
        if (options.operation < 1 || options.operation > 3)
            abort();
        if (options.target[0] == '\0' || memchr(options.target, '\0', sizeof options.target) == nullptr)
            abort();
        if (memchr(options.folder_pattern, '\0', sizeof options.folder_pattern) == nullptr)
            abort();
        if (options.difx_flags & ~(0x2u | 0x4u | 0x10u | 0x20u))
            abort();
        bool drive_root = options.target[1] == ':' && (options.target[2] == '\\' || options.target[2] == '/');
        bool network = options.target[0] == '\\' && options.target[1] == '\\';
        if ((options.operation == 1 || options.operation == 2) && !drive_root && !network)
            abort();  // every INF path is absolute after the parse
        // The log path fits with its older generation's suffix and is
        // absolute, or there is none.
        if (memchr(options.log_path, '\0', sizeof options.log_path) == nullptr)
            abort();
        if (options.log_path[0] != '\0' && !is_absolute_path(options.log_path))
            abort();
        // No switch is ever taken for a word.
        if (options.target[0] == '/' || options.target[0] == '-' || strstr(options.folder_pattern, "..") != nullptr)
            abort();
    }
    free(buffer);
    return 0;
}
