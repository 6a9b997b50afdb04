// Which paths Tavenor and its backend take as naming a file on their own.
#pragma once

// A drive letter with its root ("D:\x.inf", "D:/x.inf") or a network path
// ("\\srv\x").
inline bool is_absolute_path(const char* path)
{
    if (path[0] != '\0' && path[1] == ':' && (path[2] == '\\' || path[2] == '/'))
        return true;
    return path[0] == '\\' && path[1] == '\\';
}
