// Settings remembered per user under HKCU\Software\Ledrik\Corvane: the
// window's place, the columns, the filters, the find text, on top, the
// highlight rules and the font.  Every value is read with its type and
// size checked; one that is missing or out of shape leaves that setting at
// its default.  The environment's CORVANE_SETTINGS names another key under
// HKCU instead (the tests keep one per test).
#include "viewer/viewer.h"

#include <string.h>

#include "viewer/commands.h"

namespace {

constexpr char settings_key[] = "Software\\Ledrik\\Corvane";
constexpr char settings_variable[] = "CORVANE_SETTINGS";
constexpr DWORD text_max = 1024;            // a filter's or the find text's bytes
constexpr DWORD highlights_text_max = 8192; // the rules' bytes
constexpr int column_count = 3;
constexpr int column_min = 16;
constexpr int column_max = 4000;
constexpr int window_min = 120;
constexpr int window_max = 20000;

struct Settings {
    bool placed = false;
    WINDOWPLACEMENT placement = {};
    bool columns_set = false;
    int columns[column_count] = {};
    std::string include, exclude, find;
    bool on_top = false;
    std::string highlights;
    bool font_set = false;
    LOGFONTA font = {};
};
Settings g_loaded;

std::string key_path()
{
    char path[256];
    DWORD length = GetEnvironmentVariableA(settings_variable, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string(settings_key);
}

// A value of exactly size bytes of type kind.
bool read_exact(HKEY key, const char* name, DWORD kind, void* value, DWORD size)
{
    DWORD type = 0;
    DWORD got = size;
    return RegQueryValueExA(key, name, nullptr, &type, static_cast<BYTE*>(value), &got) == ERROR_SUCCESS &&
           type == kind && got == size;
}

// A string value of at most max bytes; anything else reads as empty.
std::string read_text(HKEY key, const char* name, DWORD max)
{
    std::vector<char> buffer(max + 1, '\0');
    DWORD type = 0;
    DWORD got = max;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) != ERROR_SUCCESS ||
        type != REG_SZ || got > max)
        return std::string();
    // The value need not end with its NUL: the buffer's spare byte ends it.
    return std::string(buffer.data(), strnlen(buffer.data(), got));
}

bool placement_sound(const WINDOWPLACEMENT& placement)
{
    const RECT& r = placement.rcNormalPosition;
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    return placement.length == sizeof placement && width >= window_min && width <= window_max &&
           height >= window_min && height <= window_max &&
           // Somewhere on a monitor there is now, not on one since removed.
           MonitorFromRect(&r, MONITOR_DEFAULTTONULL) != nullptr;
}

bool font_sound(const LOGFONTA& font)
{
    return font.lfHeight != 0 && font.lfHeight > -200 && font.lfHeight < 200 &&
           memchr(font.lfFaceName, '\0', LF_FACESIZE) != nullptr && font.lfFaceName[0] != '\0';
}

void write_text(HKEY key, const char* name, const std::string& text, DWORD max)
{
    std::string kept = text.size() > max ? text.substr(0, max) : text;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(kept.c_str()),
                   static_cast<DWORD>(kept.size() + 1));
}

std::string box_text(HWND box)
{
    char text[text_max + 1] = "";
    GetWindowTextA(box, text, sizeof text);
    return text;
}

} // namespace

// Read before the window is made.
void load_settings()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key_path().c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    Settings& s = g_loaded;
    s.placed = read_exact(key, "Placement", REG_BINARY, &s.placement, sizeof s.placement) &&
               placement_sound(s.placement);
    s.columns_set = read_exact(key, "Columns", REG_BINARY, s.columns, sizeof s.columns);
    for (int width : s.columns)
        s.columns_set = s.columns_set && width >= column_min && width <= column_max;
    s.include = read_text(key, "Include", text_max);
    s.exclude = read_text(key, "Exclude", text_max);
    s.find = read_text(key, "Find", text_max);
    DWORD on_top = 0;
    s.on_top = read_exact(key, "OnTop", REG_DWORD, &on_top, sizeof on_top) && on_top == 1;
    s.highlights = read_text(key, "Highlights", highlights_text_max);
    s.font_set = read_exact(key, "Font", REG_BINARY, &s.font, sizeof s.font) && font_sound(s.font);
    RegCloseKey(key);
    g_viewer.highlights = parse_highlights(s.highlights);
    if (s.font_set)
        g_viewer.list_face = s.font;
}

// Given to the window once its controls are made.
void apply_loaded_settings()
{
    const Settings& s = g_loaded;
    if (s.placed) {
        WINDOWPLACEMENT placement = s.placement;
        // Shown by the caller: a window that was minimised opens restored.
        placement.showCmd = placement.showCmd == SW_SHOWMAXIMIZED ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
        placement.flags = 0;
        SetWindowPlacement(g_viewer.window, &placement);
    }
    if (s.columns_set) {
        for (int i = 0; i < column_count; ++i)
            SendMessageA(g_viewer.list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i),
                         MulDiv(s.columns[i], static_cast<int>(g_viewer.dpi), USER_DEFAULT_SCREEN_DPI));
    }
    SetWindowTextA(g_viewer.include, s.include.c_str());
    SetWindowTextA(g_viewer.exclude, s.exclude.c_str());
    SetWindowTextA(g_viewer.find, s.find.c_str());
    if (!s.include.empty() || !s.exclude.empty())
        apply_filter();
    if (s.on_top)
        set_on_top(true);
    if (s.font_set)
        set_fonts();
}

void save_settings()
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_path().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (GetWindowPlacement(g_viewer.window, &placement))
        RegSetValueExA(key, "Placement", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&placement), sizeof placement);
    int columns[column_count];
    for (int i = 0; i < column_count; ++i) {
        int width = static_cast<int>(SendMessageA(g_viewer.list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i), 0));
        columns[i] = MulDiv(width, USER_DEFAULT_SCREEN_DPI, static_cast<int>(g_viewer.dpi));
    }
    RegSetValueExA(key, "Columns", 0, REG_BINARY, reinterpret_cast<const BYTE*>(columns), sizeof columns);
    write_text(key, "Include", box_text(g_viewer.include), text_max);
    write_text(key, "Exclude", box_text(g_viewer.exclude), text_max);
    write_text(key, "Find", box_text(g_viewer.find), text_max);
    DWORD on_top = (GetWindowLongA(g_viewer.window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0 ? 1 : 0;
    RegSetValueExA(key, "OnTop", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on_top), sizeof on_top);
    write_text(key, "Highlights", format_highlights(g_viewer.highlights), highlights_text_max);
    if (g_viewer.list_face.lfFaceName[0] != '\0')
        RegSetValueExA(key, "Font", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&g_viewer.list_face),
                       sizeof g_viewer.list_face);
    RegCloseKey(key);
}
