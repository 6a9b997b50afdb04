// tavenor-debug-writer <exit code> <piece>...: writes each piece to the
// debugger output in a call of its own, as any program might, and ends
// with the exit code.  "\xHH" in a piece is that byte, so that a test can
// write text in any code page; "\n" is a line feed.  Between pieces,
// "@<ms>" sleeps, "=<name>" waits (a minute at most) for the named event to
// be set, and "#<n>" writes the next piece n times.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

std::string unescaped(const char* piece)
{
    std::string bytes;
    for (const char* c = piece; *c != '\0'; ++c) {
        if (c[0] == '\\' && c[1] == 'x' && c[2] != '\0' && c[3] != '\0') {
            char hex[3] = {c[2], c[3], '\0'};
            bytes += static_cast<char>(strtoul(hex, nullptr, 16));
            c += 3;
        } else if (c[0] == '\\' && c[1] == 'n') {
            bytes += '\n';
            ++c;
        } else {
            bytes += *c;
        }
    }
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 64;
    int repeat = 1;
    for (int i = 2; i < argc; ++i) {
        const char* piece = argv[i];
        if (piece[0] == '@') {
            Sleep(static_cast<DWORD>(strtoul(piece + 1, nullptr, 10)));
        } else if (piece[0] == '=') {
            HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, piece + 1);
            if (event != nullptr) {
                WaitForSingleObject(event, 60000);
                CloseHandle(event);
            }
        } else if (piece[0] == '#') {
            repeat = atoi(piece + 1);
        } else {
            std::string bytes = unescaped(piece);
            for (; repeat > 0; --repeat)
                OutputDebugStringA(bytes.c_str());
            repeat = 1;
        }
    }
    return atoi(argv[1]);
}
