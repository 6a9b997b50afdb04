// Answers a message box as someone at the screen would: waits for a dialog
// whose text contains the given words, prints that text, and presses the
// given button (IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7).  Gives up after the
// given seconds, a bound only against a hang.
//
//   answer-box.exe <seconds> <button id> <words...>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct Search {
    const char* words;
    HWND found;
    char text[1024];
};

BOOL CALLBACK look_at_child(HWND child, LPARAM param)
{
    Search* s = reinterpret_cast<Search*>(param);
    char text[sizeof s->text];
    if (GetWindowTextA(child, text, sizeof text) > 0 && strstr(text, s->words)) {
        memcpy(s->text, text, sizeof text);
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK look_at_window(HWND window, LPARAM param)
{
    Search* s = reinterpret_cast<Search*>(param);
    char cls[16];
    if (!IsWindowVisible(window) || GetClassNameA(window, cls, sizeof cls) == 0 || strcmp(cls, "#32770") != 0)
        return TRUE;
    s->text[0] = 0;
    EnumChildWindows(window, look_at_child, param);
    if (s->text[0]) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return 64;
    const DWORD seconds = strtoul(argv[1], nullptr, 10);
    const int button = atoi(argv[2]);
    // The words may come as several arguments: join them with blanks.
    static char words[512];
    for (int i = 3; i < argc; ++i) {
        if (strlen(words) + strlen(argv[i]) + 2 > sizeof words)
            return 64;
        if (i > 3)
            strcat(words, " ");
        strcat(words, argv[i]);
    }
    Search s = {words, nullptr, {}};
    const DWORD start = GetTickCount();
    while (!s.found && GetTickCount() - start < seconds * 1000) {
        EnumWindows(look_at_window, reinterpret_cast<LPARAM>(&s));
        if (!s.found)
            Sleep(100);
    }
    if (!s.found) {
        printf("no-box\n");
        return 1;
    }
    printf("box=%s\n", s.text);
    fflush(stdout);
    PostMessageA(s.found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    return 0;
}
