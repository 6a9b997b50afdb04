#include "app/options.h"

#include <windows.h>

uint32_t get_program_file_path(char* buffer, uint32_t capacity)
{
    DWORD len = GetModuleFileNameA(GetModuleHandleA(nullptr), buffer, capacity);
    // A full buffer means the path was cut (the platform then does not
    // always terminate it): a folder taken from it could be the wrong one.
    if (len == 0 || len >= capacity)
        return 0;
    return len;
}
