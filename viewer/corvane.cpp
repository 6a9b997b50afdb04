// Corvane: the trace viewer's window.  Its top-level window, titled "Corvane By
// Ledrik", receives Tavenor's trace lines as WM_COPYDATA messages tagged
// 'CRVN', and it captures the debugger output of the session (and of the
// machine when elevated).  It lists every line with its time and source in
// a virtual list that holds up to a million lines, with a filter, a search,
// failure lines highlighted, paused scrolling and the usual shortcuts;
// "/log <file>" appends every line to a file for unattended runs.  Only one
// viewer runs: a second start hands its /log file to the first and ends, so
// no window takes lines away from another.
//
// A sender waits while its message is handled, so the handler only copies
// the bytes (at most message_bytes_max of them) into a queue and returns;
// the list and the log file are brought up to date afterwards, from a
// posted message.  This file is the window: its controls, layout, menus,
// keys and messages.  The list (list_view.cpp), the flow of rows into the
// list and the log (rows.cpp), the capture of the debugger output, the
// log's writer, the single-instance claim and the intake rules are units
// of their own.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <stdio.h>
#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "base/redirection_trust.h"
#include "tracelib/viewer_channel.h"
#include "viewer/capture.h"
#include "viewer/commands.h"
#include "viewer/single_instance.h"
#include "viewer/trace_store.h"
#include "viewer/viewer.h"

Viewer g_viewer;

// A message box of the viewer's own, titled apart from its window, which a
// sender looks for by its title.
void tell(const std::string& text)
{
    MessageBoxA(g_viewer.window, text.c_str(), "Corvane", MB_OK | MB_ICONWARNING);
}

namespace {

// Sizes are given for 96 dots per inch and scaled to the window's monitor.
int scaled(int size)
{
    return MulDiv(size, static_cast<int>(g_viewer.dpi), USER_DEFAULT_SCREEN_DPI);
}

UINT window_dpi(HWND window)
{
    // Windows 10 1607 and later; older systems have one DPI for all.
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const DpiForWindow dpi_for_window = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    UINT dpi = dpi_for_window != nullptr ? dpi_for_window(window) : 0;
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(nullptr, screen);
    }
    return dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

void save_as()
{
    char path[MAX_PATH] = "trace.txt";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = g_viewer.window;
    dialog.lpstrFilter = "Text files (*.txt)\0*.txt\0All files\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    dialog.lpstrDefExt = "txt";
    if (!GetSaveFileNameA(&dialog))
        return;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        tell(std::string("Cannot write ") + path + ": " + system_reason(GetLastError()));
        return;
    }
    bool written = write_all(file, saved_text());
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!written)
        tell(std::string("Writing ") + path + " failed: " + system_reason(error));
    else
        g_viewer.note = std::string("Saved: ") + path;
    update_status();
}

void open_dialog()
{
    char path[MAX_PATH] = "";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = g_viewer.window;
    dialog.lpstrFilter = "Logs and traces (*.log;*.txt)\0*.log;*.txt\0All files\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    if (GetOpenFileNameA(&dialog))
        open_file(path);
}

void set_on_top(bool on_top)
{
    SetWindowPos(g_viewer.window, on_top ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageA(GetDlgItem(g_viewer.window, id_on_top), BM_SETCHECK, on_top ? BST_CHECKED : BST_UNCHECKED, 0);
    CheckMenuItem(GetMenu(g_viewer.window), id_on_top, on_top ? MF_CHECKED : MF_UNCHECKED);
}

// The system's message font at the window's DPI, for every control.
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
    for (HWND child = GetWindow(g_viewer.window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (g_viewer.font != nullptr)
        DeleteObject(g_viewer.font);
    g_viewer.font = font;
}

void lay_out(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    SendMessageA(g_viewer.status, WM_SIZE, 0, 0);
    RECT status;
    GetWindowRect(g_viewer.status, &status);
    int status_height = status.bottom - status.top;
    int status_parts[] = {scaled(360), scaled(580), -1};
    SendMessageA(g_viewer.status, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(status_parts));

    const struct {
        int id;
        int width;
    } row[] = {{id_include, 170}, {id_exclude, 130}, {id_find, 130}, {id_find_previous, 70},
               {id_find_next, 60},  {id_pause, 70},    {id_on_top, 80}};
    const int bar = scaled(32);
    int x = scaled(4);
    for (const auto& control : row) {
        MoveWindow(GetDlgItem(window, control.id), x, scaled(4), scaled(control.width), bar - scaled(8), TRUE);
        x += scaled(control.width + 4);
    }
    MoveWindow(g_viewer.list, 0, bar, client.right, client.bottom - bar - status_height, TRUE);
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
    } hints[] = {{g_viewer.include, L"Show lines with..."},
                 {g_viewer.exclude, L"Hide lines with..."},
                 {g_viewer.find, L"Find..."}};
    for (const auto& hint : hints)
        SendMessageW(hint.edit, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(hint.hint));
    child(0, "BUTTON", "Previous", WS_TABSTOP | BS_PUSHBUTTON, id_find_previous);
    child(0, "BUTTON", "Next", WS_TABSTOP | BS_PUSHBUTTON, id_find_next);
    child(0, "BUTTON", "Pause", WS_TABSTOP | BS_AUTOCHECKBOX, id_pause);
    child(0, "BUTTON", "On top", WS_TABSTOP | BS_AUTOCHECKBOX, id_on_top);

    g_viewer.list = child(0, WC_LISTVIEWA, "", WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, id_list);
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
    g_viewer.status = child(0, STATUSCLASSNAMEA, "", SBARS_SIZEGRIP, id_status);
    set_fonts();
    update_status();
}

// The menu names every command with its key.
HMENU make_menu()
{
    struct Item {
        int id;  // 0: a separator
        const char* text;
    };
    const Item file[] = {{id_open, "&Open...\tCtrl+O"}, {id_save, "&Save As...\tCtrl+S"}, {0, nullptr},
                         {id_exit, "E&xit"}};
    const Item edit[] = {{id_copy, "&Copy\tCtrl+C"},
                         {id_copy_run, "Copy This &Run\tCtrl+R"},
                         {id_select_all, "Select &All\tCtrl+A"},
                         {0, nullptr},
                         {id_find_box, "&Find...\tCtrl+F"},
                         {id_find_next, "Find &Next\tF3"},
                         {id_find_previous, "Find &Previous\tShift+F3"},
                         {0, nullptr},
                         {id_clear, "C&lear\tCtrl+L"}};
    const Item view[] = {{id_pause, "&Pause Scrolling\tScroll Lock, Ctrl+P"},
                         {id_on_top, "Always on &Top\tCtrl+T"},
                         {id_elapsed, "&Elapsed Time in Log and Save"}};
    HMENU bar = CreateMenu();
    auto add = [&](const char* title, const Item* items, size_t count) {
        HMENU popup = CreatePopupMenu();
        for (size_t i = 0; i < count; ++i)
            AppendMenuA(popup, items[i].id ? MF_STRING : MF_SEPARATOR, static_cast<UINT_PTR>(items[i].id), items[i].text);
        AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), title);
    };
    add("&File", file, sizeof file / sizeof file[0]);
    add("&Edit", edit, sizeof edit / sizeof edit[0]);
    add("&View", view, sizeof view / sizeof view[0]);
    return bar;
}

HACCEL make_keys()
{
    ACCEL keys[] = {
        {FCONTROL | FVIRTKEY, 'C', id_copy},      {FCONTROL | FVIRTKEY, 'A', id_select_all},
        {FCONTROL | FVIRTKEY, 'S', id_save},      {FCONTROL | FVIRTKEY, 'L', id_clear},
        {FCONTROL | FVIRTKEY, 'F', id_find_box},  {FVIRTKEY, VK_F3, id_find_next},
        {FSHIFT | FVIRTKEY, VK_F3, id_find_previous}, {FVIRTKEY, VK_SCROLL, id_pause},
        {FCONTROL | FVIRTKEY, 'P', id_pause},     {FCONTROL | FVIRTKEY, 'T', id_on_top},
        {FCONTROL | FVIRTKEY, 'O', id_open},      {FCONTROL | FVIRTKEY, 'R', id_copy_run},
    };
    return CreateAcceleratorTableA(keys, static_cast<int>(sizeof keys / sizeof keys[0]));
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wparam);
        char path[MAX_PATH];
        if (DragQueryFileA(drop, 0, path, sizeof path) > 0)
            open_file(path);
        DragFinish(drop);
        return 0;
    }
    case WM_CREATE:
        g_viewer.window = window;
        g_viewer.dpi = window_dpi(window);
        create_controls(window, reinterpret_cast<CREATESTRUCTA*>(lparam)->hInstance);
        return 0;
    case WM_SIZE:
        lay_out(window);
        return 0;
    case WM_DPICHANGED: {
        // Moved to a monitor of another scale: sizes, fonts and columns follow.
        UINT old_dpi = g_viewer.dpi;
        g_viewer.dpi = HIWORD(wparam);
        for (int i = 0; i < 3; ++i) {
            int width = static_cast<int>(SendMessageA(g_viewer.list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i), 0));
            SendMessageA(g_viewer.list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i),
                         MulDiv(width, static_cast<int>(g_viewer.dpi), static_cast<int>(old_dpi)));
        }
        set_fonts();
        const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        lay_out(window);
        return 0;
    }
    case WM_COPYDATA: {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        if (data != nullptr && data->dwData == log_file_tag) {
            std::string path;
            if (data->cbData > 0 && data->lpData != nullptr)
                path.assign(static_cast<const char*>(data->lpData), data->cbData);
            return open_log(path) ? TRUE : FALSE;
        }
        if (data != nullptr && data->dwData == open_file_tag && data->cbData > 0 && data->lpData != nullptr) {
            // Opened once the sender has its answer: a box may ask the user.
            g_viewer.open_later.assign(static_cast<const char*>(data->lpData), data->cbData);
            PostMessageA(window, open_message, 0, 0);
            return TRUE;
        }
        if (data == nullptr || data->dwData != trace_viewer_tag)
            return FALSE;
        // Exactly cbData bytes (the sender appends no NUL), up to the cap.
        Line line;
        GetLocalTime(&line.time);
        line.source = window_source;
        if (data->cbData > 0 && data->lpData != nullptr)
            line.text = as_utf8(capped_text(static_cast<const char*>(data->lpData), data->cbData));
        g_viewer.pending.push_back(std::move(line));
        // Brought in by the batch a moment later: during a burst the
        // thread answers the senders rather than the list and the log.
        if (!g_viewer.drain_posted) {
            g_viewer.drain_posted = true;
            SetTimer(window, drain_timer, drain_delay_ms, nullptr);
        }
        return TRUE;
    }
    case drain_message:
        drain();
        return 0;
    case open_message:
        if (!g_viewer.open_later.empty())
            open_file(g_viewer.open_later);
        g_viewer.open_later.clear();
        return 0;
    case capture_message:
        take_captured();
        return 0;
    case log_failed_message:
        report_log_write_failure(static_cast<DWORD>(wparam));
        return 0;
    case WM_TIMER:
        if (wparam == drain_timer) {
            KillTimer(window, drain_timer);
            drain();
        } else if (wparam == filter_timer)
            apply_filter();
        else if (wparam == refresh_timer)
            refresh_list();
        else if (wparam == settle_timer) {
            KillTimer(window, settle_timer);
            g_viewer.settle_due = false;
            settle(false);
        }
        return 0;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header->idFrom != id_list)
            break;
        if (header->code == LVN_GETDISPINFOA) {
            fill_cell(reinterpret_cast<NMLVDISPINFOA*>(lparam));
            return 0;
        }
        if (header->code == NM_CUSTOMDRAW)
            return draw_row(reinterpret_cast<NMLVCUSTOMDRAW*>(lparam));
        if (header->code == LVN_ITEMCHANGED) {
            const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(lparam);
            if (change->uChanged & LVIF_STATE)
                selection_changed(change->iItem, change->iItem, change->uOldState, change->uNewState);
            return 0;
        }
        if (header->code == LVN_ODSTATECHANGED) {
            const NMLVODSTATECHANGE* change = reinterpret_cast<const NMLVODSTATECHANGE*>(lparam);
            selection_changed(change->iFrom, change->iTo, change->uOldState, change->uNewState);
            return 0;
        }
        break;
    }
    case WM_COMMAND: {
        // A button click, a menu item (0) or a key (1); Enter in a box comes
        // as IDOK.
        WORD id = LOWORD(wparam);
        bool from_button = lparam != 0;
        switch (id) {
        case IDOK:
            if (GetFocus() == g_viewer.find)
                find(false);
            else if (GetFocus() == g_viewer.include || GetFocus() == g_viewer.exclude)
                apply_filter();
            return 0;
        case id_include:
        case id_exclude:
            if (HIWORD(wparam) == EN_CHANGE)
                SetTimer(window, filter_timer, filter_delay_ms, nullptr);
            return 0;
        case id_copy:
            if (HWND box = focused_box())
                SendMessageA(box, WM_COPY, 0, 0);
            else
                copy_to_clipboard();
            return 0;
        case id_select_all:
            select_all();
            return 0;
        case id_clear:
            clear();
            return 0;
        case id_open:
            open_dialog();
            return 0;
        case id_copy_run:
            copy_run();
            return 0;
        case id_elapsed:
            g_viewer.elapsed = !g_viewer.elapsed;
            CheckMenuItem(GetMenu(window), id_elapsed, g_viewer.elapsed ? MF_CHECKED : MF_UNCHECKED);
            return 0;
        case id_save:
            save_as();
            return 0;
        case id_find_box:
            SetFocus(g_viewer.find);
            SendMessageA(g_viewer.find, EM_SETSEL, 0, -1);
            return 0;
        case id_find_next:
        case id_find_previous:
            find(id == id_find_previous);
            return 0;
        case id_pause:
            // A click has set the box already; a key or the menu turns it over.
            set_paused(from_button ? SendMessageA(reinterpret_cast<HWND>(lparam), BM_GETCHECK, 0, 0) == BST_CHECKED
                                   : !g_viewer.paused);
            return 0;
        case id_on_top:
            set_on_top(from_button ? SendMessageA(reinterpret_cast<HWND>(lparam), BM_GETCHECK, 0, 0) == BST_CHECKED
                                   : (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) == 0);
            return 0;
        case id_exit:
            PostMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        default:
            break;
        }
        break;
    }
    case WM_CLOSE:
        take_captured();
        settle(true);
        close_log();
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

} // namespace

// The path made absolute here, in this start's own folder, before another
// viewer (in a folder of its own) is handed it.
std::string full_path(const std::string& path)
{
    char full[MAX_PATH];
    DWORD length = path.empty() ? 0 : GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : path;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int show)
{
    // An elevated viewer follows no junction another account made.
    enforce_redirection_trust();
    ViewerOptions options = parse_options(tail ? tail : "");
    std::string log_path = full_path(options.log);
    g_viewer.elapsed = options.elapsed;
    if (options.keep != 0 && options.keep < g_viewer.store.rows_max)
        g_viewer.store.rows_max = options.keep;
    bool log_taken = false;
    // A file the running viewer cannot open is said in its list.
    std::string refused;
    if (hand_over_to_running(window_class, log_path, full_path(options.open), &log_taken, &refused))
        return log_taken ? 0 : 2;
    if (!refused.empty())
        g_viewer.pending.push_back(own_line(refused, true));
    // The viewer runs on without the file, and ends with 2.
    if (!open_log(log_path))
        g_viewer.log_failed = true;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = window_class;
    RegisterClassA(&wc);
    // The debugger output of this session and, when elevated, of the
    // machine (runs started as SYSTEM by a deployment agent).
    capture_open();
    HACCEL keys = make_keys();
    g_viewer.window = CreateWindowExA(0, window_class, trace_viewer_title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                      CW_USEDEFAULT, 900, 560, nullptr, make_menu(), instance, nullptr);
    if (g_viewer.window == nullptr) {
        capture_stop();
        return 1;
    }
    // Created at 96 DPI's size; a window on a scaled monitor grows to match.
    if (g_viewer.dpi != USER_DEFAULT_SCREEN_DPI)
        SetWindowPos(g_viewer.window, nullptr, 0, 0, scaled(900), scaled(560), SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(g_viewer.window, show);

    DragAcceptFiles(g_viewer.window, TRUE);
    if (g_viewer.elapsed)
        CheckMenuItem(GetMenu(g_viewer.window), id_elapsed, MF_CHECKED);
    capture_start(g_viewer.window, capture_message);
    if (!options.open.empty())
        open_file(options.open);
    if (!g_viewer.pending.empty()) {
        g_viewer.drain_posted = true;
        PostMessageA(g_viewer.window, drain_message, 0, 0);
    }

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorA(g_viewer.window, keys, &msg) || IsDialogMessageA(g_viewer.window, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (keys != nullptr)
        DestroyAcceleratorTable(keys);
    if (g_viewer.font != nullptr)
        DeleteObject(g_viewer.font);
    capture_stop();
    close_log();
    return g_viewer.log_failed ? 2 : 0;
}
