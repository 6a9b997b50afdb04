#include "app/usage.h"

#include <windows.h>

#include "base/window_station.h"

void show_usage()
{
    if (!someone_can_answer())
        return;
    char text[usage_buffer_size];
    if (build_usage_text(text, sizeof text) == 0)
        text[0] = '\0';
    MessageBoxA(nullptr, text, usage_caption, MB_OK | MB_ICONINFORMATION);
}
