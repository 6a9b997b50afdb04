// Runs the command line it is given and prints the program's whole exit
// code ("exit=<decimal>"): Wine hands a Windows exit code to the Unix side
// cut to 8 bits, so 3010 or 0xC0000005 would not reach a test script whole.
// "@<file>" takes the command line from the file's first line instead, as
// written: a command line from the Unix side reaches Windows with its
// quotes escaped, and an installer's command line is all about its quotes.
#include "app/tokens.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

int main()
{
    // Our own command-line tail is the command to run (CreateProcessA
    // needs it writable, as GetCommandLineA's buffer is).
    char* line = GetCommandLineA();
    char* p = line + (skip_program_name(line) - line);
    static char from_file[4096];
    if (*p == '@') {
        FILE* f = fopen(p + 1, "rb");
        if (!f || !fgets(from_file, sizeof from_file, f)) {
            printf("no-command-in=%s\n", p + 1);
            return 1;
        }
        fclose(f);
        from_file[strcspn(from_file, "\r\n")] = 0;
        p = from_file;
    }
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, p, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        printf("start-failed=%lu\n", GetLastError());
        return 1;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    printf("exit=%lu\n", code);
    return 0;
}
