// Whether anybody can answer a message box from this process.
#pragma once

#include <windows.h>

// A box on a window station nobody sees (a service's, or SYSTEM's in
// session 0 under a deployment agent) would wait for ever for its OK: true
// only for a visible station.
inline bool someone_can_answer()
{
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return station != nullptr && GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}
