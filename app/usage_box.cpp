#include "app/usage.h"

#include <windows.h>

namespace {

// A box on a window station nobody sees (a service's, or SYSTEM's in
// session 0 under a deployment agent) would wait for ever for its OK.
bool someone_can_answer()
{
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return station != nullptr && GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

} // namespace

void show_usage()
{
    if (!someone_can_answer())
        return;
    char text[usage_buffer_size];
    if (build_usage_text(text, sizeof text) == 0)
        text[0] = '\0';
    MessageBoxA(nullptr, text, usage_caption, MB_OK | MB_ICONINFORMATION);
}
