#include "app/options.h"

#include <string.h>

#include "base/path_kind.h"
#include "base/program_path.h"
#include "difx/difx_codes.h"

namespace {

constexpr char default_folder_pattern[] = "*.*";

// "D:x.inf" names a file in the current directory of drive D, which the
// command line never uses, and cannot be placed beside the program either.
bool is_drive_relative_path(const char* path)
{
    return path[0] != '\0' && path[1] == ':' && !is_absolute_path(path);
}

// A device ID of blanks only would match nearly every line of every INF.
bool is_blank(const char* text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    return *text == '\0';
}

// Copies text into a field of capacity bytes; 0 when it would not fit.
int copy_field(char* field, size_t capacity, const char* text, size_t len)
{
    if (len >= capacity)
        return 0;
    memcpy(field, text, len);
    field[len] = '\0';
    return 1;
}

// The word after a switch that takes one.  A batch variable that expands to
// nothing leaves the switch without its word, and the next switch would be
// taken for it: no INF path, device ID or log path begins with '/' or '-'.
bool is_operand(const char* token)
{
    return token[0] != '\0' && token[0] != '/' && token[0] != '-';
}

// A folder pattern names folders in the store itself: a separator or ".."
// would list one folder and open another.
bool is_store_folder_pattern(const char* pattern, size_t len)
{
    for (size_t i = 0; i < len; ++i) {
        if (pattern[i] == '\\' || pattern[i] == '/')
            return false;
        if (pattern[i] == '.' && i + 1 < len && pattern[i + 1] == '.')
            return false;
    }
    return true;
}

// /c [pattern:]device-id: the part before the first ':' replaces the folder
// pattern, the rest is the device ID.
int take_clean_argument(CommandOptions* options, const char* argument)
{
    const char* colon = strchr(argument, ':');
    const char* dev_id = colon == nullptr ? argument : colon + 1;
    if (is_blank(dev_id) || !is_operand(dev_id))
        return 0;
    if (colon != nullptr) {
        size_t pattern_len = static_cast<size_t>(colon - argument);
        if (!is_store_folder_pattern(argument, pattern_len) ||
            !copy_field(options->folder_pattern, sizeof options->folder_pattern, argument, pattern_len))
            return 0;
    }
    return copy_field(options->target, sizeof options->target, dev_id, strlen(dev_id));
}

// A path operand: copied into field and made absolute beside the program.
int take_path_argument(char* field, size_t capacity, const char* argument)
{
    return copy_field(field, capacity, argument, strlen(argument)) && resolve_beside_program(field, capacity);
}

} // namespace

int resolve_beside_program(char* path, size_t capacity)
{
    if (is_absolute_path(path))
        return 1;
    if (is_drive_relative_path(path))
        return 0;

    char program[path_buffer_size];
    uint32_t len = get_program_file_path(program, sizeof program);
    if (len == 0 || len >= sizeof program)
        return 0;
    program[len] = '\0';
    return path_beside(program, path, path, capacity);
}

int parse_options(const char* tokens, CommandOptions* options)
{
    options->operation = operation_none;
    options->difx_flags = 0;
    options->debug_trace = 0;
    memset(options->target, 0, sizeof options->target);
    memset(options->folder_pattern, 0, sizeof options->folder_pattern);
    memcpy(options->folder_pattern, default_folder_pattern, sizeof default_folder_pattern);
    memset(options->log_path, 0, sizeof options->log_path);

    const char* token = tokens;
    while (*token != '\0') {
        if (token[0] != '/' && token[0] != '-')
            return 0;
        char letter = token[1];
        if (letter >= 'A' && letter <= 'Z')
            letter = static_cast<char>(letter - 'A' + 'a');
        const char* next = token + strlen(token) + 1;

        switch (letter) {
        case 'i':
        case 'u':
        case 'c': {
            if (options->operation != operation_none || options->target[0] != '\0' || !is_operand(next))
                return 0;
            const char* argument = next;
            next = argument + strlen(argument) + 1;
            if (letter == 'c') {
                options->operation = operation_clean;
                if (!take_clean_argument(options, argument))
                    return 0;
                break;
            }
            if (letter == 'u') {
                options->difx_flags |= DRIVER_PACKAGE_DELETE_FILES;
                options->operation = operation_uninstall;
            } else {
                options->operation = operation_install;
            }
            if (!take_path_argument(options->target, sizeof options->target, argument))
                return 0;
            break;
        }
        case 'l':
            if (options->log_path[0] != '\0' || !is_operand(next) ||
                !take_path_argument(options->log_path, sizeof options->log_path, next))
                return 0;
            next += strlen(next) + 1;
            break;
        case 's':
            options->difx_flags |= DRIVER_PACKAGE_SILENT;
            break;
        case 'n':
            options->difx_flags = (options->difx_flags & ~DRIVER_PACKAGE_SILENT) | DRIVER_PACKAGE_LEGACY_MODE;
            break;
        case 'f':
            options->difx_flags |= DRIVER_PACKAGE_FORCE;
            break;
        case 'd':
            options->debug_trace = 1;
            break;
        default:
            return 0;
        }
        token = next;
    }

    return options->target[0] != '\0' ? 1 : 0;
}
