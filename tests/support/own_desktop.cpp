// tavenor-test-desktop <program> [arguments...]: runs a test program on a
// desktop of its own and in a job that ends everything it started when it
// ends (or when CTest ends this launcher).
//
// Tavenor finds the viewer by its window title, and FindWindowA sees only
// the windows of the caller's desktop; Corvane keeps one viewer per
// desktop.  So a test's Tavenor reaches only the test's own viewer, and a
// viewer the developer has open (or one a failed test left) is never met.
// Children inherit the desktop (checked under Wine: a grandchild started
// without a desktop of its own finds the test's window and not one of the
// same title on the default desktop).
//
// Wine 8 puts only the test's first thread on the desktop named in
// STARTUPINFO: the threads the test starts later land on the desktop of the
// thread that started the test, this launcher's.  A stand-in viewer window
// made on such a thread was on the default desktop, out of the test's
// Tavenor's sight and beside the developer's Corvane.  So this thread moves
// to the test's desktop before starting the test.  On Windows every thread
// of the test is on the named desktop anyway ("Thread Connection to a
// Desktop", Microsoft Learn: a thread is assigned the desktop its process
// connected to), and this launcher makes no windows on its own.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

namespace {

// The command line after this program's own name, as it was given.
const char* rest_of_command_line()
{
    const char* line = GetCommandLineA();
    bool quoted = false;
    for (; *line != '\0'; ++line) {
        if (*line == '"')
            quoted = !quoted;
        else if (!quoted && (*line == ' ' || *line == '\t'))
            break;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

} // namespace

int main(int argc, char**)
{
    if (argc < 2) {
        fprintf(stderr, "usage: tavenor-test-desktop <program> [arguments...]\n");
        return 64;
    }
    // CTest names the program by its host path: under Wine that is drive Z:.
    std::string command = rest_of_command_line();
    if (!command.empty() && command[0] == '/') {
        size_t end = command.find(' ');
        for (size_t i = 0; i < command.size() && i < end; ++i) {
            if (command[i] == '/')
                command[i] = '\\';
        }
        command = "Z:" + command;
    }
    char desktop[64];
    snprintf(desktop, sizeof desktop, "tavenor-test-%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    HDESK own = CreateDesktopA(desktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (own == nullptr) {
        fprintf(stderr, "tavenor-test-desktop: no desktop of its own (error %lu)\n", GetLastError());
        return 70;
    }
    if (!SetThreadDesktop(own)) {
        fprintf(stderr, "tavenor-test-desktop: cannot move to its desktop (error %lu)\n", GetLastError());
        CloseDesktop(own);
        return 70;
    }
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job == nullptr ||
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        fprintf(stderr, "tavenor-test-desktop: no job (error %lu)\n", GetLastError());
        return 70;
    }
    std::string writable_desktop = desktop;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = &writable_desktop[0];
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    // Wine now and then refuses a start with ERROR_INTERNAL_ERROR before
    // the test has run a line; the same start a moment later goes through.
    // That error alone is tried once more, and said: any other is real.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string writable_command = command;
        if (CreateProcessA(nullptr, &writable_command[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                           &startup, &process)) {
            error = ERROR_SUCCESS;
            break;
        }
        error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt > 0)
            break;
        fprintf(stderr, "tavenor-test-desktop: starting %s failed with error %lu, trying once more\n",
                command.c_str(), error);
        Sleep(500);
    }
    if (error != ERROR_SUCCESS) {
        fprintf(stderr, "tavenor-test-desktop: cannot start %s (error %lu)\n", command.c_str(), error);
        return 70;
    }
    if (!AssignProcessToJobObject(job, process.hProcess)) {
        fprintf(stderr, "tavenor-test-desktop: cannot put the test in a job (error %lu)\n", GetLastError());
        TerminateProcess(process.hProcess, 70);
        return 70;
    }
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 70;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // Whatever the test left running ends here.
    CloseHandle(job);
    CloseDesktop(own);
    return static_cast<int>(code);
}
