// tavenor-debug-writer: writes its first argument to the debugger output,
// as any program might, and ends with the exit code its second gives.
#include <windows.h>

#include <stdlib.h>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 64;
    OutputDebugStringA(argv[1]);
    return atoi(argv[2]);
}
