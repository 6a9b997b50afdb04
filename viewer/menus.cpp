// The menus and keys, and what the View and Help menus open: the font, the
// highlight rules, capture on and off, the docs and the version.
#include "viewer/viewer.h"

#include <commdlg.h>
#include <shellapi.h>

#include "tavenor_version.h"
#include "viewer/capture.h"
#include "viewer/commands.h"
#include "viewer/dialog_ids.h"

namespace {

// The document beside the program, where the release puts it
// (scripts/package.py: docs/corvane.md next to Corvane.exe).
constexpr char help_document[] = "docs\\corvane.md";

// The highlight dialog's colours, kept for the session.
COLORREF g_custom_colours[16];

INT_PTR CALLBACK highlights_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_RULES, format_highlights(g_viewer.highlights).c_str());
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDC_ADD_COLOUR: {
            // The colour chosen goes in at the caret, as a rule's start.
            CHOOSECOLORA choice = {};
            choice.lStructSize = sizeof choice;
            choice.hwndOwner = dialog;
            choice.rgbResult = RGB(255, 224, 128);
            choice.lpCustColors = g_custom_colours;
            choice.Flags = CC_RGBINIT | CC_FULLOPEN;
            if (!ChooseColorA(&choice))
                return TRUE;
            char colour[16];
            wsprintfA(colour, "#%02x%02x%02x ", GetRValue(choice.rgbResult), GetGValue(choice.rgbResult),
                      GetBValue(choice.rgbResult));
            SendDlgItemMessageA(dialog, IDC_RULES, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(colour));
            SetFocus(GetDlgItem(dialog, IDC_RULES));
            return TRUE;
        }
        case IDOK: {
            // Rules beyond the bounds are left out, and said.
            char text[highlights_max * (highlight_text_max + 10)];
            GetDlgItemTextA(dialog, IDC_RULES, text, sizeof text);
            size_t skipped = 0;
            g_viewer.highlights = parse_highlights(text, &skipped);
            g_viewer.note = skipped == 0 ? std::string("Highlight rules set")
                                         : std::to_string(skipped) +
                                               " highlight rule lines not of the shape \"#rrggbb text\" left out";
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

} // namespace

// The menu names every command with its key.
HMENU make_menu()
{
    struct Item {
        int id;  // 0: a separator
        const char* text;
    };
    const Item file[] = {{id_open, "&Open in a New Window...\tCtrl+O"}, {id_save, "&Save As...\tCtrl+S"}, {0, nullptr},
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
                         {id_capture, "&Capture Debugger Output"},
                         {0, nullptr},
                         {id_font, "&Font..."},
                         {id_highlights, "&Highlight Rules..."},
                         {id_elapsed, "&Elapsed Time in Log and Save"}};
    const Item help[] = {{id_help, "Corvane &Help\tF1"}, {id_about, "&About Corvane"}};
    HMENU bar = CreateMenu();
    auto add = [&](const char* title, const Item* items, size_t count) {
        HMENU popup = CreatePopupMenu();
        for (size_t i = 0; i < count; ++i)
            AppendMenuA(popup, items[i].id ? MF_STRING : MF_SEPARATOR, static_cast<UINT_PTR>(items[i].id),
                        items[i].text);
        AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), title);
    };
    add("&File", file, sizeof file / sizeof file[0]);
    add("&Edit", edit, sizeof edit / sizeof edit[0]);
    add("&View", view, sizeof view / sizeof view[0]);
    add("&Help", help, sizeof help / sizeof help[0]);
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
        {FVIRTKEY, VK_F1, id_help},
    };
    return CreateAcceleratorTableA(keys, static_cast<int>(sizeof keys / sizeof keys[0]));
}

void set_on_top(bool on_top)
{
    SetWindowPos(g_viewer.window, on_top ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageA(GetDlgItem(g_viewer.window, id_on_top), BM_SETCHECK, on_top ? BST_CHECKED : BST_UNCHECKED, 0);
    CheckMenuItem(GetMenu(g_viewer.window), id_on_top, on_top ? MF_CHECKED : MF_UNCHECKED);
}

// Debugger output taken or left to another monitor; window messages come
// in either way.
void set_capture(bool on)
{
    bool now = capture_set_on(on);
    CheckMenuItem(GetMenu(g_viewer.window), id_capture, now ? MF_CHECKED : MF_UNCHECKED);
    g_viewer.note = now == on ? (on ? "Capturing debugger output" : "Debugger output left to other programs")
                              : "Debugger output could not be taken: another program holds it";
    update_status();
}

// The list's font; its size is kept at 96 dots per inch.
void choose_font()
{
    LOGFONTA face = g_viewer.list_face;
    if (face.lfFaceName[0] == '\0' && g_viewer.font != nullptr)
        GetObjectA(g_viewer.font, sizeof face, &face);
    else
        face.lfHeight = MulDiv(face.lfHeight, static_cast<int>(g_viewer.dpi), USER_DEFAULT_SCREEN_DPI);
    CHOOSEFONTA choice = {};
    choice.lStructSize = sizeof choice;
    choice.hwndOwner = g_viewer.window;
    choice.lpLogFont = &face;
    choice.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_FORCEFONTEXIST;
    if (!ChooseFontA(&choice))
        return;
    face.lfHeight = MulDiv(face.lfHeight, USER_DEFAULT_SCREEN_DPI, static_cast<int>(g_viewer.dpi));
    g_viewer.list_face = face;
    set_fonts();
    InvalidateRect(g_viewer.list, nullptr, TRUE);
}

void edit_highlights()
{
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_HIGHLIGHTS), g_viewer.window, highlights_proc, 0);
    InvalidateRect(g_viewer.list, nullptr, FALSE);
    update_status();
}

// The docs beside the program, opened by whatever reads them; where there
// are none (a build rather than a release), where they belong is said.
void show_help()
{
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    std::string path;
    if (length > 0 && length < sizeof program) {
        path.assign(program, length);
        size_t slash = path.find_last_of("\\/");
        path = path.substr(0, slash == std::string::npos ? 0 : slash + 1) + help_document;
    }
    if (!path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        HINSTANCE opened = ShellExecuteA(g_viewer.window, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        // ShellExecute answers above 32 on success.
        if (reinterpret_cast<INT_PTR>(opened) > 32)
            return;
        tell("No program here opens " + path + ".\nOpen it in a text editor or a web browser.");
        return;
    }
    tell("The help is docs\\corvane.md in the release's folder, beside Corvane.exe; it is not there (" + path + ").");
}

void show_about()
{
    std::string text = std::string("Corvane ") + TAVENOR_VERSION_TEXT +
                       "\nThe trace viewer for Tavenor, by Ledrik.\n\n"
                       "It shows Tavenor's trace (Tavenor.exe ... /d) and the debugger output of the session.";
    MessageBoxA(g_viewer.window, text.c_str(), "About Corvane", MB_OK | MB_ICONINFORMATION);
}
