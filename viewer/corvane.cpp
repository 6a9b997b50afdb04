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
// the list and the log file are brought up to date afterwards, by a timer
// that ticks while rows come in.  This file is the window: its controls, layout, menus,
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
        show_file(path);
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wparam);
        char path[MAX_PATH];
        if (DragQueryFileA(drop, 0, path, sizeof path) > 0)
            show_file(path);
        DragFinish(drop);
        return 0;
    }
    case WM_CREATE:
        g_viewer.window = window;
        g_viewer.dpi = window_dpi(window);
        create_controls(window, reinterpret_cast<CREATESTRUCTA*>(lparam)->hInstance);
        return 0;
    case WM_GETMINMAXINFO:
        // Narrow enough for a corner of the screen; the toolbar wraps.
        reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize.x = 320;
        reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize.y = 240;
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
            if (!open_log(path))
                return FALSE;
            // Said in the list (and so at the head of the new log) and in
            // the status bar, whose log part names the file from now on.
            g_viewer.pending.push_back(
                own_line("[Corvane] logging to " + path + " from now on (handed over by a second start)", false));
            g_viewer.note = "Logging began: " + path;
            if (!g_viewer.drain_posted) {
                g_viewer.drain_posted = true;
                PostMessageA(window, drain_message, 0, 0);
            }
            update_status();
            return TRUE;
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
        // Brought in by the next tick: during a burst the thread answers
        // the senders rather than the list and the log.
        keep_ticking();
        return TRUE;
    }
    case drain_message:
        drain();
        return 0;
    case open_message:
        if (!g_viewer.open_later.empty())
            show_file(g_viewer.open_later);
        g_viewer.open_later.clear();
        return 0;
    case capture_message:
        take_captured();
        return 0;
    case log_failed_message:
        report_log_write_failure(static_cast<DWORD>(wparam));
        return 0;
    case WM_TIMER:
        if (wparam == tick_timer)
            tick();
        else if (wparam == filter_timer)
            apply_filter();
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
        case id_capture:
            if (!g_viewer.file_view)
                set_capture(!capture_is_on());
            return 0;
        case id_font:
            choose_font();
            return 0;
        case id_highlights:
            edit_highlights();
            return 0;
        case id_help:
            show_help();
            return 0;
        case id_about:
            show_about();
            return 0;
        default:
            break;
        }
        break;
    }
    case WM_CLOSE:
        if (!g_viewer.file_view) {
            save_settings();
            take_captured();
        }
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

// "/view <file>" as the first word: a file window.
bool is_file_window_start(const char* tail)
{
    while (*tail == ' ' || *tail == '\t')
        ++tail;
    size_t length = sizeof file_window_switch - 1;
    return _strnicmp(tail, file_window_switch, length) == 0 && (tail[length] == ' ' || tail[length] == '\t');
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int show)
{
    // An elevated viewer follows no junction another account made.
    enforce_redirection_trust();
    ViewerOptions options = parse_options(tail ? tail : "");
    g_viewer.file_view = tail != nullptr && is_file_window_start(tail) && !options.open.empty();
    std::string log_path = g_viewer.file_view ? std::string() : full_path(options.log);
    g_viewer.elapsed = options.elapsed;
    if (options.keep != 0 && options.keep < g_viewer.store.rows_max)
        g_viewer.store.rows_max = options.keep;
    bool log_taken = false;
    // A file the running viewer cannot open is said in its list.
    std::string refused;
    if (!g_viewer.file_view &&
        hand_over_to_running(window_class, log_path, full_path(options.open), &log_taken, &refused))
        return log_taken ? 0 : 2;
    if (!refused.empty())
        g_viewer.pending.push_back(own_line(refused, true));
    // The viewer runs on without the file, and ends with 2.
    if (!open_log(log_path))
        g_viewer.log_failed = true;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    load_settings();

    WNDCLASSA wc = {};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = g_viewer.file_view ? file_window_class : window_class;
    RegisterClassA(&wc);
    // The debugger output of this session and, when elevated, of the
    // machine (runs started as SYSTEM by a deployment agent).
    if (!g_viewer.file_view)
        capture_open();
    HACCEL keys = make_keys();
    std::string title = g_viewer.file_view ? "Corvane - " + options.open : std::string(trace_viewer_title);
    g_viewer.window = CreateWindowExA(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                      CW_USEDEFAULT, 900, 560, nullptr, make_menu(), instance, nullptr);
    if (g_viewer.window == nullptr) {
        if (!g_viewer.file_view)
            capture_stop();
        return 1;
    }
    // Created at 96 DPI's size; a window on a scaled monitor grows to match.
    if (g_viewer.dpi != USER_DEFAULT_SCREEN_DPI)
        SetWindowPos(g_viewer.window, nullptr, 0, 0, scaled(900), scaled(560), SWP_NOMOVE | SWP_NOZORDER);
    // A file window takes the look but not the place, filters or find text.
    if (!g_viewer.file_view)
        apply_loaded_settings();
    else if (g_viewer.list_face.lfFaceName[0] != '\0')
        set_fonts();
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    bool maximized = GetWindowPlacement(g_viewer.window, &placement) && placement.showCmd == SW_SHOWMAXIMIZED;
    ShowWindow(g_viewer.window, maximized && show == SW_SHOWNORMAL ? SW_SHOWMAXIMIZED : show);

    DragAcceptFiles(g_viewer.window, TRUE);
    if (g_viewer.elapsed)
        CheckMenuItem(GetMenu(g_viewer.window), id_elapsed, MF_CHECKED);
    if (g_viewer.file_view) {
        EnableMenuItem(GetMenu(g_viewer.window), id_capture, MF_GRAYED);
        g_viewer.file_path = options.open;
        ShowWindow(GetDlgItem(g_viewer.window, id_pause), SW_HIDE);
        lay_out(g_viewer.window);
    } else {
        capture_start(g_viewer.window, capture_message);
        CheckMenuItem(GetMenu(g_viewer.window), id_capture, capture_is_on() ? MF_CHECKED : MF_UNCHECKED);
    }
    if (!options.open.empty())
        open_file(options.open);
    if (g_viewer.file_view && view_count(g_viewer.store) > 0)
        SendMessageA(g_viewer.list, LVM_ENSUREVISIBLE, 0, FALSE);
    if (!g_viewer.pending.empty()) {
        g_viewer.drain_posted = true;
        PostMessageA(g_viewer.window, drain_message, 0, 0);
    }
    update_status();

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
    if (g_viewer.list_font != nullptr)
        DeleteObject(g_viewer.list_font);
    if (!g_viewer.file_view)
        capture_stop();
    close_log();
    return g_viewer.log_failed ? 2 : 0;
}
