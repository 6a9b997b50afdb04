// Corvane: the trace viewer.  Its top-level window, titled "Corvane By
// Ledrik", receives Tavenor's trace lines as WM_COPYDATA messages tagged
// 'CRVN' and lists them with a time stamp; Copy, Clear and Save As work on
// the list, and "/log <file>" appends every line to a file for unattended
// runs.
//
// A sender waits while its message is handled, so the handler only copies
// the bytes into a queue and returns; the list and the log file are brought
// up to date afterwards, from a posted message.
#include <windows.h>
#include <commdlg.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tracelib/viewer_channel.h"

namespace {

constexpr char window_class[] = "CorvaneViewer";
constexpr UINT drain_message = WM_APP + 1;

enum ControlId { id_list = 100, id_copy, id_clear, id_save };

struct Line {
    SYSTEMTIME time;
    std::string text;
};

struct Viewer {
    HWND window = nullptr;
    HWND list = nullptr;
    std::vector<Line> lines;     // everything shown
    std::vector<Line> pending;   // received, not yet shown or logged
    bool drain_posted = false;
    HANDLE log = INVALID_HANDLE_VALUE;
};

Viewer g_viewer;

std::string stamp(const SYSTEMTIME& t)
{
    char text[32];
    snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

// One list row per text line; the stamp stands on the first.
void show_line(const Line& line)
{
    std::vector<std::string> rows;
    size_t start = 0;
    for (;;) {
        size_t end = line.text.find('\n', start);
        if (end == std::string::npos) {
            rows.push_back(line.text.substr(start));
            break;
        }
        rows.push_back(line.text.substr(start, end - start));
        start = end + 1;
    }
    if (rows.size() > 1 && rows.back().empty())
        rows.pop_back();  // a closing line feed adds no row
    std::string prefix = stamp(line.time) + "  ";
    std::string indent(prefix.size(), ' ');
    for (size_t i = 0; i < rows.size(); ++i) {
        std::string row = (i == 0 ? prefix : indent) + rows[i];
        SendMessageA(g_viewer.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    }
}

void write_all(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void drain()
{
    g_viewer.drain_posted = false;
    std::vector<Line> batch;
    batch.swap(g_viewer.pending);
    if (batch.empty())
        return;
    if (g_viewer.log != INVALID_HANDLE_VALUE) {
        // The log holds the trace text exactly: each line and a line feed.
        std::string bytes;
        for (const Line& line : batch)
            bytes += line.text + "\n";
        write_all(g_viewer.log, bytes);
    }
    SendMessageA(g_viewer.list, WM_SETREDRAW, FALSE, 0);
    for (const Line& line : batch)
        show_line(line);
    SendMessageA(g_viewer.list, WM_SETREDRAW, TRUE, 0);
    LRESULT count = SendMessageA(g_viewer.list, LB_GETCOUNT, 0, 0);
    if (count > 0)
        SendMessageA(g_viewer.list, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
    for (Line& line : batch)
        g_viewer.lines.push_back(std::move(line));
}

std::string all_text()
{
    std::string text;
    for (const Line& line : g_viewer.lines)
        text += stamp(line.time) + "  " + line.text + "\r\n";
    return text;
}

void copy_to_clipboard()
{
    // The selected rows, or everything when nothing is selected.
    std::string text;
    LRESULT selected = SendMessageA(g_viewer.list, LB_GETSELCOUNT, 0, 0);
    if (selected > 0) {
        std::vector<int> rows(static_cast<size_t>(selected));
        SendMessageA(g_viewer.list, LB_GETSELITEMS, rows.size(), reinterpret_cast<LPARAM>(rows.data()));
        for (int row : rows) {
            LRESULT len = SendMessageA(g_viewer.list, LB_GETTEXTLEN, row, 0);
            std::string item(static_cast<size_t>(len) + 1, '\0');
            SendMessageA(g_viewer.list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(&item[0]));
            item.resize(static_cast<size_t>(len));
            text += item + "\r\n";
        }
    } else {
        text = all_text();
    }
    if (!OpenClipboard(g_viewer.window))
        return;
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (memory != nullptr) {
        memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
        GlobalUnlock(memory);
        if (SetClipboardData(CF_TEXT, memory) == nullptr)
            GlobalFree(memory);
    }
    CloseClipboard();
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
        MessageBoxA(g_viewer.window, "The file cannot be written.", trace_viewer_title, MB_OK | MB_ICONWARNING);
        return;
    }
    write_all(file, all_text());
    CloseHandle(file);
}

void lay_out(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    const int bar = 32;
    int x = 4;
    for (int id : {id_copy, id_clear, id_save}) {
        MoveWindow(GetDlgItem(window, id), x, 4, 80, bar - 8, TRUE);
        x += 84;
    }
    MoveWindow(g_viewer.list, 0, bar, client.right, client.bottom - bar, TRUE);
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE: {
        HINSTANCE instance = reinterpret_cast<CREATESTRUCTA*>(lparam)->hInstance;
        g_viewer.list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", nullptr,
                                        WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT |
                                            LBS_EXTENDEDSEL,
                                        0, 0, 0, 0, window, reinterpret_cast<HMENU>(id_list), instance, nullptr);
        SendMessageA(g_viewer.list, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), TRUE);
        SendMessageA(g_viewer.list, LB_SETHORIZONTALEXTENT, 4000, 0);
        const struct {
            int id;
            const char* text;
        } buttons[] = {{id_copy, "&Copy"}, {id_clear, "C&lear"}, {id_save, "&Save As..."}};
        for (const auto& b : buttons)
            CreateWindowExA(0, "BUTTON", b.text, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 0, 0, window,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)), instance, nullptr);
        return 0;
    }
    case WM_SIZE:
        lay_out(window);
        return 0;
    case WM_COPYDATA: {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        if (data == nullptr || data->dwData != trace_viewer_tag)
            return FALSE;
        // Exactly cbData bytes: the sender appends no NUL.
        Line line;
        GetLocalTime(&line.time);
        if (data->cbData > 0 && data->lpData != nullptr)
            line.text.assign(static_cast<const char*>(data->lpData), data->cbData);
        g_viewer.pending.push_back(std::move(line));
        if (!g_viewer.drain_posted) {
            g_viewer.drain_posted = true;
            PostMessageA(window, drain_message, 0, 0);
        }
        return TRUE;
    }
    case drain_message:
        drain();
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case id_copy:
            copy_to_clipboard();
            return 0;
        case id_clear:
            SendMessageA(g_viewer.list, LB_RESETCONTENT, 0, 0);
            g_viewer.lines.clear();
            return 0;
        case id_save:
            save_as();
            return 0;
        default:
            break;
        }
        break;
    case WM_CLOSE:
        drain();
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

// "/log <file>", the file name quoted when it holds blanks.
std::string log_option(const char* tail)
{
    while (*tail == ' ')
        ++tail;
    if (!((tail[0] == '/' || tail[0] == '-') && (tail[1] == 'l' || tail[1] == 'L')))
        return std::string();
    tail += 2;
    while (*tail != '\0' && *tail != ' ')
        ++tail;  // rest of the switch word
    while (*tail == ' ')
        ++tail;
    std::string path;
    if (*tail == '"') {
        const char* end = strchr(tail + 1, '"');
        path.assign(tail + 1, end ? static_cast<size_t>(end - tail - 1) : strlen(tail + 1));
    } else {
        path = tail;
        while (!path.empty() && path.back() == ' ')
            path.pop_back();
    }
    return path;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int show)
{
    std::string log_path = log_option(tail ? tail : "");
    if (!log_path.empty()) {
        g_viewer.log = CreateFileA(log_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (g_viewer.log == INVALID_HANDLE_VALUE) {
            MessageBoxA(nullptr, ("Cannot open the log file " + log_path).c_str(), trace_viewer_title,
                        MB_OK | MB_ICONERROR);
            return 2;
        }
    }

    WNDCLASSA wc = {};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = window_class;
    RegisterClassA(&wc);
    g_viewer.window = CreateWindowExA(0, window_class, trace_viewer_title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                      CW_USEDEFAULT, 800, 500, nullptr, nullptr, instance, nullptr);
    if (g_viewer.window == nullptr)
        return 1;
    ShowWindow(g_viewer.window, show);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (g_viewer.log != INVALID_HANDLE_VALUE)
        CloseHandle(g_viewer.log);
    return 0;
}
