// The window's controls and their layout: a toolbar whose controls wrap
// onto more rows when the window is narrow, the list, a pane below it with
// the focused line whole (the list's cells stop at 260 characters), a hint
// over the empty list, and a status bar of four parts.
#include "viewer/viewer.h"

#include "viewer/commands.h"

namespace {

// The toolbar in its order, widths at 96 dots per inch.
struct BarControl {
    int id;
    int width;
};
constexpr BarControl bar_controls[] = {{id_include, 170}, {id_exclude, 130}, {id_find, 130}, {id_find_previous, 70},
                                       {id_find_next, 60},  {id_pause, 70},    {id_on_top, 80}};
constexpr int bar_row_height = 32;
constexpr int detail_height = 58;

// The hint over the empty list.
constexpr char empty_hint[] =
    "No lines yet.\r\nTavenor sends its trace here when started with /d (\"Tavenor.exe /i x.inf /d\"); "
    "with /l <file> it writes it to a file, which File > Open shows.";

} // namespace

// Sizes are given for 96 dots per inch and scaled to the window's monitor.
int scaled(int size)
{
    return MulDiv(size, static_cast<int>(g_viewer.dpi), USER_DEFAULT_SCREEN_DPI);
}

// The system's message font at the window's DPI, for every control; the
// list and the detail pane take the user's font when one was chosen.
void set_fonts()
{
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    LOGFONTA face = {};
    HDC screen = GetDC(nullptr);
    int system_dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        face = metrics.lfMessageFont;
        face.lfHeight = MulDiv(face.lfHeight, static_cast<int>(g_viewer.dpi), system_dpi > 0 ? system_dpi : 96);
    } else {
        face.lfHeight = -MulDiv(9, static_cast<int>(g_viewer.dpi), 72);
        lstrcpynA(face.lfFaceName, "Segoe UI", LF_FACESIZE);
    }
    HFONT font = CreateFontIndirectA(&face);
    if (font == nullptr)
        return;
    HFONT list_font = nullptr;
    if (g_viewer.list_face.lfFaceName[0] != '\0') {
        // The chosen size is kept at 96 dots per inch.
        LOGFONTA chosen = g_viewer.list_face;
        chosen.lfHeight = MulDiv(chosen.lfHeight, static_cast<int>(g_viewer.dpi), USER_DEFAULT_SCREEN_DPI);
        list_font = CreateFontIndirectA(&chosen);
    }
    for (HWND child = GetWindow(g_viewer.window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        bool takes_chosen = child == g_viewer.list || child == g_viewer.detail;
        HFONT used = takes_chosen && list_font != nullptr ? list_font : font;
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(used), TRUE);
    }
    if (g_viewer.font != nullptr)
        DeleteObject(g_viewer.font);
    if (g_viewer.list_font != nullptr)
        DeleteObject(g_viewer.list_font);
    g_viewer.font = font;
    g_viewer.list_font = list_font;
}

void lay_out(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    SendMessageA(g_viewer.status, WM_SIZE, 0, 0);
    RECT status;
    GetWindowRect(g_viewer.status, &status);
    int status_height = status.bottom - status.top;
    // Lines, scrolling, the log, a note: the log's part is never taken by
    // a note.
    int width = client.right;
    int lines_part = scaled(150) < width / 4 ? scaled(150) : width / 4;
    int scrolling_part = lines_part + (scaled(190) < width / 4 ? scaled(190) : width / 4);
    int log_part = scrolling_part + (width - scrolling_part) * 3 / 5;
    int status_parts[] = {lines_part, scrolling_part, log_part, -1};
    SendMessageA(g_viewer.status, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(status_parts));

    // The toolbar's controls in rows: one that does not fit goes to the
    // next row, so that every one stays whole and usable at any width.
    const int gap = scaled(4);
    const int row = scaled(bar_row_height);
    int x = gap;
    int y = 0;
    for (const BarControl& control : bar_controls) {
        HWND child = GetDlgItem(window, control.id);
        // A control a file window hides (Pause) takes no room.
        if ((GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE) == 0)
            continue;
        int control_width = scaled(control.width);
        if (x > gap && x + control_width + gap > width) {
            x = gap;
            y += row;
        }
        MoveWindow(child, x, y + gap, control_width, row - 2 * gap, TRUE);
        x += control_width + gap;
    }
    int bar = y + row;
    g_viewer.bar_height = bar;
    int detail = scaled(detail_height);
    int list_height = client.bottom - bar - status_height - detail;
    if (list_height < 0)
        list_height = 0;
    MoveWindow(g_viewer.list, 0, bar, width, list_height, TRUE);
    MoveWindow(g_viewer.detail, 0, bar + list_height, width, detail, TRUE);
    MoveWindow(g_viewer.hint, scaled(16), bar + scaled(40), width > scaled(32) ? width - scaled(32) : 0, scaled(64),
               TRUE);
    SetWindowPos(g_viewer.hint, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // The parts' texts are set again once the parts exist.
    update_status();
    follow_newest();
}

void create_controls(HWND window, HINSTANCE instance)
{
    auto child = [&](DWORD ex_style, const char* kind, const char* text, DWORD style, int id) {
        return CreateWindowExA(ex_style, kind, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    };
    g_viewer.include = child(WS_EX_CLIENTEDGE, "EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, id_include);
    g_viewer.exclude = child(WS_EX_CLIENTEDGE, "EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, id_exclude);
    g_viewer.find = child(WS_EX_CLIENTEDGE, "EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, id_find);
    const struct {
        HWND edit;
        const wchar_t* hint;
    } hints[] = {{g_viewer.include, L"Show lines with (a; b)..."},
                 {g_viewer.exclude, L"Hide lines with (a; b)..."},
                 {g_viewer.find, L"Find..."}};
    for (const auto& hint : hints)
        SendMessageW(hint.edit, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(hint.hint));
    child(0, "BUTTON", "Previous", WS_TABSTOP | BS_PUSHBUTTON, id_find_previous);
    child(0, "BUTTON", "Next", WS_TABSTOP | BS_PUSHBUTTON, id_find_next);
    child(0, "BUTTON", "Pause", WS_TABSTOP | BS_AUTOCHECKBOX, id_pause);
    child(0, "BUTTON", "On top", WS_TABSTOP | BS_AUTOCHECKBOX, id_on_top);

    g_viewer.hint = child(0, "STATIC", empty_hint, SS_CENTER | SS_NOPREFIX, id_hint);
    // Clipped by its siblings: the hint lies over it.
    g_viewer.list = child(0, WC_LISTVIEWA, "",
                          WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, id_list);
    SendMessageA(g_viewer.list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    const struct {
        const char* title;
        int width;
    } columns[] = {{"Time", 90}, {"Source", 170}, {"Text", 1400}};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = const_cast<char*>(columns[i].title);
        column.cx = scaled(columns[i].width);
        SendMessageA(g_viewer.list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
    g_viewer.detail = child(WS_EX_CLIENTEDGE, "EDIT", "",
                            WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, id_detail);
    g_viewer.status = child(0, STATUSCLASSNAMEA, "", SBARS_SIZEGRIP, id_status);
    set_fonts();
}
