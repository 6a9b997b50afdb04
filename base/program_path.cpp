#include "base/program_path.h"

#include <windows.h>

uint32_t get_module_file_path(void* module, char* buffer, uint32_t capacity)
{
    DWORD len = GetModuleFileNameA(static_cast<HMODULE>(module), buffer, capacity);
    // A full buffer means the path was cut (the platform then does not
    // always terminate it): a folder taken from it could be the wrong one.
    if (len == 0 || len >= capacity)
        return 0;
    return len;
}

namespace {

uint32_t module_file_path(char* buffer, uint32_t capacity)
{
    return get_module_file_path(GetModuleHandleA(nullptr), buffer, capacity);
}

} // namespace

program_path_function g_program_path = module_file_path;

uint32_t get_program_file_path(char* buffer, uint32_t capacity)
{
    return g_program_path(buffer, capacity);
}
