// The backend's reports through the log callback Tavenor registers, and
// the text conversions they need.
#pragma once

#include <windows.h>

#include <string>

#include "difx/difx_interface.h"

void set_log_callback(difx_log_callback callback, void* context);

#if defined(__GNUC__)
#define BACKEND_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define BACKEND_PRINTF_FORMAT(fmt, first)
#endif

// One event (difx_log_*) with its Win32 error and a printf-style text.
void report(DWORD event, DWORD error, const char* format, ...) BACKEND_PRINTF_FORMAT(3, 4);

// Reports error with what went wrong and for which path; returns error.
DWORD fail(DWORD error, const char* what, const std::wstring& path);

// Text between the callers' code page and the wide calls inside.
std::wstring widen(const char* text);
std::string narrow(const std::wstring& text);

// IDs, file names and paths compared as Windows compares them: ordinally,
// letter case aside, never by the user's locale.
bool same_text(const std::wstring& a, const std::wstring& b);
