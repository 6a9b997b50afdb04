// tavenor-drive: runs a program as Tavenor's tests do and prints what it
// showed: its trace (the debugger strings, joined), the viewer messages,
// the usage box and the exit code.
//
//   tavenor-drive.exe [--no-viewer] <program.exe> "<tail>"
#include <stdio.h>
#include <string.h>

#include "e2e/drive.h"

int main(int argc, char** argv)
{
    int next = 1;
    DriveOptions options;
    if (next < argc && strcmp(argv[next], "--no-viewer") == 0) {
        options.viewer = ViewerKind::none;
        ++next;
    }
    if (next >= argc) {
        fprintf(stderr, "usage: tavenor-drive [--no-viewer] program.exe \"tail\"\n");
        return 64;
    }
    options.exe = argv[next++];
    for (; next < argc; ++next) {
        if (!options.arguments.empty())
            options.arguments += ' ';
        options.arguments += argv[next];
    }

    DriveResult result = drive(options);
    if (!result.started) {
        fprintf(stderr, "tavenor-drive: cannot start %s (error %lu)\n", options.exe.c_str(), GetLastError());
        return 70;
    }
    printf("---- trace (debugger output) ----\n");
    for (const std::string& text : result.debug_strings)
        fputs(text.c_str(), stdout);
    printf("---- %u viewer message(s)\n", static_cast<unsigned>(result.viewer_messages.size()));
    if (result.usage_boxes > 0)
        printf("---- usage box \"%s\":\n%s\n", result.usage_caption.c_str(), result.usage_text.c_str());
    if (result.crashed)
        printf("---- crashed with exception 0x%08lX\n", result.exception_code);
    if (result.timed_out)
        printf("---- timed out\n");
    printf("---- exit code %lu\n", result.exit_code);
    return 0;
}
