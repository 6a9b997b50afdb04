// The list: a virtual list over the store, whose selection, focus and
// scroll position belong to lines (by number), not to row numbers; the
// filter, find, copy and the status bar.
#include "viewer/viewer.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "viewer/capture.h"
#include "viewer/commands.h"

namespace {

std::string grouped(uint64_t number)
{
    std::string digits = std::to_string(number);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

std::string window_text(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// The list's item states made to match the selection and the focus, after
// the view changed under them; with all selected, the list holds no state
// at all (the rows are drawn selected), which keeps Select All instant.
void sync_list_selection()
{
    g_viewer.syncing = true;
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(g_viewer.list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    if (!g_viewer.selection.all) {
        state.state = state.stateMask = LVIS_SELECTED;
        for (size_t index : selection_in_view(g_viewer.selection, g_viewer.store))
            SendMessageA(g_viewer.list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&state));
    }
    long focus = g_viewer.focus != no_line ? view_index_of(g_viewer.store, g_viewer.focus) : -1;
    if (focus >= 0) {
        state.state = state.stateMask = LVIS_FOCUSED;
        SendMessageA(g_viewer.list, LVM_SETITEMSTATE, static_cast<WPARAM>(focus), reinterpret_cast<LPARAM>(&state));
    }
    g_viewer.syncing = false;
    InvalidateRect(g_viewer.list, nullptr, FALSE);
}

// Scrolls the list so that the row at index is at its top (as near as the
// list's end allows): from the last row up, "make visible" stops with the
// row at the top.
void scroll_to_top(long index)
{
    long count = static_cast<long>(view_count(g_viewer.store));
    if (count == 0 || index < 0 || index >= count ||
        index == static_cast<long>(SendMessageA(g_viewer.list, LVM_GETTOPINDEX, 0, 0)))
        return;
    SendMessageA(g_viewer.list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(count - 1), FALSE);
    SendMessageA(g_viewer.list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
}

// What a row says: a run's head row tells the run.
std::string shown_text(uint64_t line, const StoreRow& row)
{
    const Run* run = row.header ? run_headed_by(line) : nullptr;
    return run != nullptr ? run_title(*run) : row_text(g_viewer.store, row);
}

// The rows the list shows (only the selected ones, when asked), as
// "time<TAB>source<TAB>text" lines.
std::string view_text(bool selected_only)
{
    const TraceStore& store = g_viewer.store;
    std::string text;
    auto add = [&](size_t index) {
        const StoreRow& row = view_row(store, index);
        text += row_stamp(row) + "\t" + store.sources[row.source] + "\t" + shown_text(view_line(store, index), row) +
                "\r\n";
    };
    if (!selected_only || g_viewer.selection.all) {
        for (size_t i = 0; i < view_count(store); ++i)
            add(i);
        return text;
    }
    for (size_t index : selection_in_view(g_viewer.selection, store))
        add(index);
    return text;
}

} // namespace

void update_status()
{
    if (g_viewer.status == nullptr)
        return;
    const TraceStore& store = g_viewer.store;
    std::string lines = grouped(store.rows.size()) + (store.rows.size() == 1 ? " line" : " lines");
    if (!store.include_terms.empty() || !store.exclude_terms.empty())
        lines += ", " + grouped(view_count(store)) + " shown";
    if (store.dropped > 0)
        lines += "; the oldest " + grouped(store.dropped) + " dropped (at most " + grouped(store.rows_max) + " kept)";
    std::string scrolling = g_viewer.file_view ? std::string("A file: nothing new comes in")
                            : g_viewer.paused  ? "Paused: " + grouped(g_viewer.waiting) + " new lines below"
                                               : std::string("Following new lines");
    if (!g_viewer.file_view && !capture_is_on())
        scrolling += "; debugger output off";
    std::string log = g_viewer.file_view         ? "File: " + g_viewer.file_path
                      : g_viewer.log_path.empty() ? std::string("No log file")
                                                  : "Log: " + g_viewer.log_path;
    // Only the parts that changed: each part set redraws it.
    const std::string* parts[] = {&lines, &scrolling, &log, &g_viewer.note};
    for (WPARAM i = 0; i < 4; ++i) {
        std::string& shown = g_viewer.status_shown[i];
        if (shown == *parts[i] && !shown.empty())
            continue;
        shown = *parts[i];
        SendMessageA(g_viewer.status, SB_SETTEXTA, i, reinterpret_cast<LPARAM>(parts[i]->c_str()));
    }
}

// While following, the newest row stays in view, also after the list
// changed its size.
void follow_newest()
{
    int count = static_cast<int>(view_count(g_viewer.store));
    if (!g_viewer.paused && !g_viewer.file_view && count > 0)
        SendMessageA(g_viewer.list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(count - 1), FALSE);
}

// The focused line whole (its time, source and text), which the list's
// cells cut at 260 characters.
void show_detail()
{
    if (g_viewer.detail == nullptr)
        return;
    const TraceStore& store = g_viewer.store;
    std::string text;
    if (g_viewer.focus != no_line && g_viewer.focus >= store.first && g_viewer.focus < store_next_line(store)) {
        const StoreRow& row = store.rows[static_cast<size_t>(g_viewer.focus - store.first)];
        text = row_stamp(row) + "   " + store.sources[row.source] + "\r\n" + shown_text(g_viewer.focus, row);
    }
    int wide = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring shown(wide > 0 ? static_cast<size_t>(wide) : 1, L'\0');
    if (wide > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &shown[0], wide);
    SetWindowTextW(g_viewer.detail, shown.c_str());
}

// The hint shows while nothing has come in.
static void show_hint()
{
    bool empty = !g_viewer.file_view && g_viewer.store.rows.empty();
    if ((IsWindowVisible(g_viewer.hint) != FALSE) != empty)
        ShowWindow(g_viewer.hint, empty ? SW_SHOWNA : SW_HIDE);
}

// The list brought up to the store: new rows counted in, the last shown
// unless scrolling is paused, everything redrawn when old rows went.  Rows
// dropped at the cap move the rest up: the selection and, while paused,
// the view move with their lines.
void refresh_list()
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    g_viewer.refresh_due = false;
    int count = static_cast<int>(view_count(g_viewer.store));
    uint64_t gone = g_viewer.store.view_dropped;
    g_viewer.store.view_dropped = 0;
    long top = static_cast<long>(SendMessageA(g_viewer.list, LVM_GETTOPINDEX, 0, 0));
    // Rows the list gives up are not the user's doing.  A count that did
    // not change (every new row filtered out) is not set again: the list
    // would redraw its scroll bar all the same.
    g_viewer.syncing = true;
    if (count != static_cast<int>(SendMessageA(g_viewer.list, LVM_GETITEMCOUNT, 0, 0)) || gone > 0)
        SendMessageA(g_viewer.list, LVM_SETITEMCOUNT, static_cast<WPARAM>(count),
                     LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    g_viewer.syncing = false;
    if (g_viewer.store.dropped != g_viewer.dropped_shown)
        InvalidateRect(g_viewer.list, nullptr, FALSE);
    g_viewer.dropped_shown = g_viewer.store.dropped;
    // Setting the focus again scrolls Wine's list to it: the top row is
    // taken before.
    if (gone > 0 && (!g_viewer.selection.ranges.empty() || g_viewer.focus != no_line))
        sync_list_selection();
    if (gone > 0 && g_viewer.paused)
        scroll_to_top(top > static_cast<long>(gone) ? top - static_cast<long>(gone) : 0);
    follow_newest();
    show_hint();
    update_status();
    // The next redraw waits refresh_share times as long as this one took.
    QueryPerformanceCounter(&end);
    ULONGLONG took_ms = static_cast<ULONGLONG>((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
    ULONGLONG gap = std::max<ULONGLONG>(took_ms * refresh_share, refresh_interval_ms);
    g_viewer.refresh_at = GetTickCount64() + std::min<ULONGLONG>(gap, refresh_interval_max_ms);
}

// Text onto the clipboard as Unicode, so that UTF-8 lines paste as their
// characters.
void put_on_clipboard(const std::string& text)
{
    int wide = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (wide <= 0 || !OpenClipboard(g_viewer.window))
        return;
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, static_cast<size_t>(wide) * sizeof(wchar_t));
    if (memory != nullptr) {
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, static_cast<wchar_t*>(GlobalLock(memory)), wide);
        GlobalUnlock(memory);
        if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr)
            GlobalFree(memory);
    }
    CloseClipboard();
}

// The selected rows, or all shown when none is selected.
void copy_to_clipboard()
{
    std::string text = view_text(true);
    put_on_clipboard(text.empty() ? view_text(false) : text);
}

void clear()
{
    store_clear(g_viewer.store);
    selection_clear(g_viewer.selection);
    g_viewer.focus = no_line;
    g_viewer.waiting = 0;
    g_viewer.syncing = true;
    SendMessageA(g_viewer.list, LVM_SETITEMCOUNT, 0, 0);
    g_viewer.syncing = false;
    show_detail();
    show_hint();
    update_status();
}

void apply_filter()
{
    KillTimer(g_viewer.window, filter_timer);
    // The line at the top of a paused list, to keep there.
    size_t top_index = static_cast<size_t>(SendMessageA(g_viewer.list, LVM_GETTOPINDEX, 0, 0));
    uint64_t top = top_index < view_count(g_viewer.store) ? view_line(g_viewer.store, top_index) : no_line;
    store_set_filter(g_viewer.store, window_text(g_viewer.include), window_text(g_viewer.exclude));
    g_viewer.store.view_dropped = 0;
    g_viewer.syncing = true;
    SendMessageA(g_viewer.list, LVM_SETITEMCOUNT, view_count(g_viewer.store), 0);
    g_viewer.syncing = false;
    // The selection stays with its lines; a paused list keeps its top line
    // (or the next one the filter leaves) at the top, and the focused line
    // in view.
    sync_list_selection();
    if (g_viewer.paused && top != no_line)
        scroll_to_top(static_cast<long>(view_at_or_after(g_viewer.store, top)));
    long focus = g_viewer.focus != no_line ? view_index_of(g_viewer.store, g_viewer.focus) : -1;
    if (g_viewer.paused && focus >= 0)
        SendMessageA(g_viewer.list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(focus), FALSE);
    refresh_list();
}

void set_paused(bool paused)
{
    g_viewer.paused = paused;
    g_viewer.waiting = 0;
    SendMessageA(GetDlgItem(g_viewer.window, id_pause), BM_SETCHECK, paused ? BST_CHECKED : BST_UNCHECKED, 0);
    CheckMenuItem(GetMenu(g_viewer.window), id_pause, paused ? MF_CHECKED : MF_UNCHECKED);
    refresh_list();
}

// The next (or previous) shown line holding the find box's text, from the
// focused one; found, it is selected and kept in view (scrolling pauses so
// that new lines do not carry it away).
void find(bool backwards)
{
    std::string needle = window_text(g_viewer.find);
    if (needle.empty()) {
        SetFocus(g_viewer.find);
        return;
    }
    long from = g_viewer.focus != no_line ? view_index_of(g_viewer.store, g_viewer.focus) : -1;
    long hit = view_find(g_viewer.store, from, needle, backwards);
    if (hit < 0) {
        g_viewer.note = "\"" + needle + "\" not found";
        update_status();
        return;
    }
    g_viewer.note.clear();
    uint64_t line = view_line(g_viewer.store, static_cast<size_t>(hit));
    selection_clear(g_viewer.selection);
    selection_set(g_viewer.selection, line, line, true);
    g_viewer.focus = line;
    sync_list_selection();
    show_detail();
    SendMessageA(g_viewer.list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(hit), FALSE);
    if (!g_viewer.paused)
        set_paused(true);
    else
        update_status();
}

// The text box that has the keyboard, which then takes Copy and Select
// all itself; nullptr when none has it.
HWND focused_box()
{
    HWND focus = GetFocus();
    return focus == g_viewer.include || focus == g_viewer.exclude || focus == g_viewer.find ? focus : nullptr;
}

void select_all()
{
    if (HWND box = focused_box()) {
        SendMessageA(box, EM_SETSEL, 0, -1);
        return;
    }
    // Wine's list takes a second per 10,000 rows to select them one by one:
    // the selection says "all" instead, and the rows are drawn selected.
    selection_clear(g_viewer.selection);
    g_viewer.selection.all = true;
    sync_list_selection();
}

// The user changed the list's selection (a click, the keys): the lines
// of the rows changed follow, by number.  Leaving "all" starts afresh.
void selection_changed(int from, int to, UINT old_state, UINT new_state)
{
    bool selected = (new_state & LVIS_SELECTED) != 0;
    if (g_viewer.syncing)
        return;
    if (((old_state ^ new_state) & LVIS_SELECTED) != 0 || from < 0) {
        if (g_viewer.selection.all) {
            selection_clear(g_viewer.selection);
            InvalidateRect(g_viewer.list, nullptr, FALSE);
        }
        size_t count = view_count(g_viewer.store);
        if (from < 0) {
            // Every row at once.
            selection_clear(g_viewer.selection);
            g_viewer.selection.all = selected;
        } else if (static_cast<size_t>(to) < count && g_viewer.store.include_terms.empty() &&
                   g_viewer.store.exclude_terms.empty()) {
            selection_set(g_viewer.selection, view_line(g_viewer.store, static_cast<size_t>(from)),
                          view_line(g_viewer.store, static_cast<size_t>(to)), selected);
        } else {
            for (int i = from; i <= to && static_cast<size_t>(i) < count; ++i) {
                uint64_t line = view_line(g_viewer.store, static_cast<size_t>(i));
                selection_set(g_viewer.selection, line, line, selected);
            }
        }
    }
    if (from >= 0 && (new_state & LVIS_FOCUSED) != 0 && static_cast<size_t>(from) < view_count(g_viewer.store)) {
        g_viewer.focus = view_line(g_viewer.store, static_cast<size_t>(from));
        show_detail();
    }
}

// What a row shows in a column; the copy stops at the list's buffer.
void fill_cell(NMLVDISPINFOA* info)
{
    if (!(info->item.mask & LVIF_TEXT) || info->item.pszText == nullptr || info->item.cchTextMax <= 0)
        return;
    const TraceStore& store = g_viewer.store;
    if (info->item.iItem < 0 || static_cast<size_t>(info->item.iItem) >= view_count(store)) {
        info->item.pszText[0] = '\0';
        return;
    }
    const StoreRow& row = view_row(store, static_cast<size_t>(info->item.iItem));
    std::string cell = info->item.iSubItem == 0   ? row_stamp(row)
                       : info->item.iSubItem == 1 ? store.sources[row.source]
                                                  : shown_text(view_line(store, static_cast<size_t>(info->item.iItem)), row);
    size_t room = static_cast<size_t>(info->item.cchTextMax) - 1;
    size_t length = cell.size() < room ? cell.size() : room;
    memcpy(info->item.pszText, cell.data(), length);
    info->item.pszText[length] = '\0';
}

// A row's colours by what it means.  Text on ground.
struct RowColours {
    COLORREF text;
    COLORREF ground;
};
constexpr RowColours run_running = {RGB(0, 40, 110), RGB(215, 228, 248)};
constexpr RowColours run_succeeded = {RGB(0, 80, 20), RGB(210, 240, 212)};
constexpr RowColours run_failed = {RGB(150, 0, 0), RGB(250, 200, 200)};
constexpr RowColours failure_line = {RGB(170, 0, 0), RGB(255, 230, 230)};
// A failure the run's retry rules answer: a step, not the run's failure.
constexpr RowColours expected_line = {RGB(110, 80, 0), RGB(255, 246, 220)};

LRESULT painted(NMLVCUSTOMDRAW* draw, RowColours colours)
{
    draw->clrText = colours.text;
    draw->clrTextBk = colours.ground;
    return CDRF_NEWFONT;
}

// Selected rows in the selection's colours also while the keyboard is in
// a box (the list's own would be a faint band then); a run's head row in
// its outcome's colours; highlight rules; failures, red unless the run's
// own retry rules expect them.
LRESULT draw_row(NMLVCUSTOMDRAW* draw)
{
    if (draw->nmcd.dwDrawStage == CDDS_PREPAINT)
        return CDRF_NOTIFYITEMDRAW;
    if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT)
        return CDRF_DODEFAULT;
    const TraceStore& store = g_viewer.store;
    size_t index = static_cast<size_t>(draw->nmcd.dwItemSpec);
    if (index >= view_count(store))
        return CDRF_DODEFAULT;
    uint64_t line = view_line(store, index);
    if (g_viewer.selection.all || selection_holds(g_viewer.selection, line)) {
        draw->nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
        return painted(draw, RowColours{GetSysColor(COLOR_HIGHLIGHTTEXT), GetSysColor(COLOR_HIGHLIGHT)});
    }
    const StoreRow& row = view_row(store, index);
    if (row.header) {
        const Run* run = run_headed_by(line);
        RunOutcome outcome = run != nullptr ? run_outcome(run->outcome) : RunOutcome::running;
        return painted(draw, outcome == RunOutcome::succeeded ? run_succeeded
                             : outcome == RunOutcome::failed  ? run_failed
                                                              : run_running);
    }
    if (!g_viewer.highlights.empty() || row.failure) {
        std::string text = row_text(store, row);
        int rule = highlight_of(g_viewer.highlights, text.data(), text.size());
        if (rule >= 0) {
            COLORREF ground = g_viewer.highlights[static_cast<size_t>(rule)].colour;
            // Dark grounds take white text.
            int light = GetRValue(ground) * 3 + GetGValue(ground) * 6 + GetBValue(ground);
            return painted(draw, RowColours{light < 1280 ? RGB(255, 255, 255) : RGB(0, 0, 0), ground});
        }
        if (row.failure)
            return painted(draw, is_expected_retry_line(text.data(), text.size()) ? expected_line : failure_line);
    }
    return CDRF_DODEFAULT;
}
