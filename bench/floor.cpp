// The least any driver-store sweep must do on this platform: list the store,
// list each folder's *.inf, open each and read every byte.  Two ways:
//
//   text: the buffered stream in text mode, every byte with the unlocked
//         byte read (what a sweep built on the stream costs at least);
//   raw:  binary reads of 1 MiB blocks, memchr over each block (what
//         reading the bytes costs at all).
//
//   tavenor-floor.exe text|raw <store folder>
// prints: folders=<n> files=<n> bytes=<n> us=<elapsed microseconds>
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv)
{
    if (argc != 3 || (strcmp(argv[1], "text") != 0 && strcmp(argv[1], "raw") != 0)) {
        fprintf(stderr, "usage: tavenor-floor text|raw <store folder>\n");
        return 64;
    }
    const bool raw = strcmp(argv[1], "raw") == 0;
    const char* const root = argv[2];
    static char block[1 << 20];
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);

    char pattern[1024];
    snprintf(pattern, sizeof pattern, "%s\\*.*", root);
    unsigned long long folders = 0, files = 0, bytes = 0;
    unsigned checksum = 0;
    WIN32_FIND_DATAA entry;
    HANDLE store = FindFirstFileA(pattern, &entry);
    if (store == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "tavenor-floor: cannot list %s\n", pattern);
        return 66;
    }
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || strcmp(entry.cFileName, ".") == 0 ||
            strcmp(entry.cFileName, "..") == 0)
            continue;
        ++folders;
        char inf_pattern[1024];
        snprintf(inf_pattern, sizeof inf_pattern, "%s\\%s\\*.inf", root, entry.cFileName);
        WIN32_FIND_DATAA inf;
        HANDLE listing = FindFirstFileA(inf_pattern, &inf);
        if (listing == INVALID_HANDLE_VALUE)
            continue;
        do {
            char path[1024];
            snprintf(path, sizeof path, "%s\\%s\\%s", root, entry.cFileName, inf.cFileName);
            if (raw) {
                HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
                if (file == INVALID_HANDLE_VALUE)
                    continue;
                ++files;
                DWORD read = 0;
                while (ReadFile(file, block, sizeof block, &read, nullptr) && read > 0) {
                    // A byte no INF holds: memchr looks at every byte.
                    checksum += memchr(block, 0x01, read) != nullptr ? 1u : 0u;
                    bytes += read;
                }
                CloseHandle(file);
                continue;
            }
            FILE* file = fopen(path, "rt");
            if (file == nullptr)
                continue;
            ++files;
            int c;
            while ((c = _fgetc_nolock(file)) != EOF) {
                checksum += static_cast<unsigned>(c);  // keeps the loop from being optimised away
                ++bytes;
            }
            fclose(file);
        } while (FindNextFileA(listing, &inf));
        FindClose(listing);
    } while (FindNextFileA(store, &entry));
    FindClose(store);

    QueryPerformanceCounter(&end);
    unsigned long long us = static_cast<unsigned long long>(end.QuadPart - start.QuadPart) * 1000000ULL /
                            static_cast<unsigned long long>(frequency.QuadPart);
    printf("folders=%llu files=%llu bytes=%llu us=%llu checksum=%u\n", folders, files, bytes, us, checksum);
    return 0;
}
