// Reports go to the callback Tavenor registered, in the process code page.
#include "backend/backend_log.h"

#include <stdio.h>

namespace {

difx_log_callback g_callback = nullptr;
void* g_context = nullptr;

} // namespace

void set_log_callback(difx_log_callback callback, void* context)
{
    g_callback = callback;
    g_context = context;
}

void report(DWORD event, DWORD error, const char* format, ...)
{
    if (g_callback == nullptr)
        return;
    char text[2048];
    va_list args;
    va_start(args, format);
    int len = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (len < 0)
        text[0] = '\0';
    g_callback(event, error, text, g_context);
}

DWORD fail(DWORD error, const char* what, const std::wstring& path)
{
    report(difx_log_error, error, "%s: %s", what, narrow(path).c_str());
    return error;
}

std::wstring widen(const char* text)
{
    if (text == nullptr)
        return std::wstring();
    int len = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (len <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(len), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], len);
    out.resize(static_cast<size_t>(len - 1));
    return out;
}

std::string narrow(const std::wstring& text)
{
    int len = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (len <= 0)
        return std::string();
    std::string out(static_cast<size_t>(len), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], len, nullptr, nullptr);
    out.resize(static_cast<size_t>(len - 1));
    return out;
}

bool same_text(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}
