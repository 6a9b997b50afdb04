// A stand-in for Tavenor.exe in the installer recipes' tests: it ends with
// the exit code named by TAVENOR_STANDIN_EXIT (decimal or 0x hexadecimal;
// 0 when unset), so a wrapper can be run against every code Tavenor gives
// and a crash's code, which Tavenor itself cannot be made to produce.  Each
// start appends its command-line tail to standin-calls.txt beside it, so a
// test sees what the wrapper passed on.
#include "app/tokens.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

void record_call()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return;
    char* slash = strrchr(path, '\\');
    static constexpr char name[] = "standin-calls.txt";
    if (!slash || static_cast<size_t>(slash + 1 - path) + sizeof name > sizeof path)
        return;
    memcpy(slash + 1, name, sizeof name);
    FILE* f = fopen(path, "ab");
    if (!f)
        return;
    fprintf(f, "%s\r\n", skip_program_name(GetCommandLineA()));
    fclose(f);
}

} // namespace

int main()
{
    record_call();
    char value[32];
    DWORD n = GetEnvironmentVariableA("TAVENOR_STANDIN_EXIT", value, sizeof value);
    UINT code = n > 0 && n < sizeof value ? static_cast<UINT>(strtoul(value, nullptr, 0)) : 0;
    ExitProcess(code);
}
