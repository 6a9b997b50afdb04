#include "app/run_log.h"

#include <stdarg.h>

#include "base/exit_codes.h"
#include "base/program_path.h"
#include "base/sizes.h"
#include "tavenor_version.h"
#include "tracelib/trace.h"
#include "tracelib/trace_format.h"
#include "tracelib/trace_log.h"

namespace {

void log_line(const char* format, ...) TRACE_PRINTF_FORMAT(1, 2);

void log_line(const char* format, ...)
{
    char line[trace_text_buffer_size];
    va_list args;
    va_start(args, format);
    size_t len = trace_format_line(line, sizeof line, format, args);
    va_end(args);
    trace_log_write(line, len);
}

// GetVersionEx answers what the manifest declares support for; the kernel's
// own call answers what the system is.
void log_windows_version()
{
    using rtl_get_version_function = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto rtl_get_version = reinterpret_cast<rtl_get_version_function>(
        reinterpret_cast<void*>(ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr));
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (rtl_get_version == nullptr || rtl_get_version(&info) != 0) {
        log_line("Windows version unknown");
        return;
    }
    log_line("Windows %lu.%lu build %lu", static_cast<unsigned long>(info.dwMajorVersion),
             static_cast<unsigned long>(info.dwMinorVersion), static_cast<unsigned long>(info.dwBuildNumber));
}

void log_elevation_and_account()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        log_line("Elevation and account unknown (error %lu)", static_cast<unsigned long>(GetLastError()));
        return;
    }
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const char* elevated = "elevation unknown";
    if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
        elevated = elevation.TokenIsElevated ? "Elevated" : "Not elevated";

    // TOKEN_USER with its SID: a SID takes at most 68 bytes.
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } user;
    char name[256];
    char domain[256];
    DWORD name_len = sizeof name;
    DWORD domain_len = sizeof domain;
    SID_NAME_USE use;
    bool known = GetTokenInformation(token, TokenUser, &user, sizeof user, &size) &&
                 LookupAccountSidA(nullptr, user.user.User.Sid, name, &name_len, domain, &domain_len, &use);
    DWORD error = known ? 0 : GetLastError();
    CloseHandle(token);
    if (known)
        log_line("%s, account %s\\%s", elevated, domain, name);
    else
        log_line("%s, account unknown (error %lu)", elevated, static_cast<unsigned long>(error));
}

} // namespace

int start_run_log(const char* path)
{
    if (!trace_log_open(path))
        return 0;
    log_line("Tavenor %s started", TAVENOR_VERSION_TEXT);
    log_line("Command line: %s", GetCommandLineA());
    log_windows_version();
    log_elevation_and_account();
    return 1;
}

void log_library(HMODULE library)
{
    char path[path_buffer_size];
    if (get_module_file_path(library, path, sizeof path) == 0)
        log_line("Library: path unknown");
    else
        log_line("Library: %s", path);
}

void end_run_log(int exit_code)
{
    const char* meaning = exit_code_meaning(static_cast<unsigned long>(exit_code));
    log_line("Exit code %d: %s", exit_code, meaning != nullptr ? meaning : "unknown");
    trace_log_close();
}
