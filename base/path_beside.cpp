#include "base/program_path.h"

#include <string.h>

int path_beside(const char* file_path, const char* name, char* out, size_t capacity)
{
    const char* separator = strrchr(file_path, '\\');
    if (separator == nullptr)
        return 0;
    size_t folder_len = static_cast<size_t>(separator + 1 - file_path);
    size_t name_len = strlen(name);
    if (folder_len + name_len >= capacity)
        return 0;
    // name may lie in out when it is file_path itself.
    memmove(out + folder_len, name, name_len + 1);
    if (out != file_path)
        memcpy(out, file_path, folder_len);
    return 1;
}
