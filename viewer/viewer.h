// The viewer's state and the functions its window, its list and its flow
// of rows share.  One window, one viewer: the state is process-wide.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

#include "viewer/intake.h"
#include "viewer/line.h"
#include "viewer/log_writer.h"
#include "viewer/row_style.h"
#include "viewer/trace_store.h"

constexpr char window_class[] = "CorvaneViewer";
// A window that shows a file (File > Open) is a process of its own, of
// another class and title, so that neither Tavenor nor a second start
// takes it for the viewer.
constexpr char file_window_class[] = "CorvaneFile";
constexpr char file_window_switch[] = "/view";
constexpr UINT drain_message = WM_APP + 1;
constexpr UINT capture_message = WM_APP + 2;
// From the log's writer: writing failed (wparam: the error, 0 when the disk
// did not keep up).
constexpr UINT log_failed_message = WM_APP + 3;
// A file handed over by a second start is to be opened.
constexpr UINT open_message = WM_APP + 4;

// A filter is applied this long after its text last changed, not per key.
constexpr UINT filter_delay_ms = 200;
constexpr UINT_PTR filter_timer = 2;
// The list catches up with the store at most this often: a burst of lines
// costs one redraw per interval, not one per line.  Redrawing takes the
// window's thread from the senders that wait on it (at 50 ms, a burst ran
// at half the rate of a window that keeps nothing), so a quarter of a
// second at least.  A redraw's cost grows with the machine's load (under
// Wine each redraw of the list's scroll bar waits on the X server and on
// Wine's own server: a refresh took 60 to 90 ms on an idle machine, more on
// a busy one),
// so while lines keep coming the list is redrawn again only after
// refresh_share times as long as the last redraw took, at most a second
// later: redrawing takes a twentieth of the thread's time or less unless a
// redraw takes more than 50 ms.  The first tick that brings no line redraws
// at once, so what is left when a writer pauses shows within a tick.
constexpr UINT refresh_interval_ms = 250;
constexpr UINT refresh_interval_max_ms = 1000;
constexpr UINT refresh_share = 20;
// A window message's row waits this long for its debugger-output copy
// (which names the process) before it is shown without it; the copy
// follows the message at once, so this is only reached without one.  A
// copy that comes later still names the row's process, and is not shown
// again.
constexpr DWORD copy_wait_ms = 250;
// While rows come in or wait, one timer ticks this often: it brings in the
// window messages received and the debugger output queued since the last
// tick, settles the rows that are due and redraws the list when due; it
// stops once nothing is left to do.  A sender waits while its message is
// handled, so the handler only queues the bytes; and one periodic timer
// costs the thread less than a timer set and killed per batch (under Wine
// each is a round trip to the server the senders wait on too).
constexpr UINT tick_ms = 50;
constexpr UINT_PTR tick_timer = 5;
// A file opened for reading is taken up to this size.
constexpr DWORD open_bytes_max = 256u * 1024 * 1024;

// A row on its way into the list and the log.
struct Arrival {
    SYSTEMTIME time;
    uint64_t id;  // counts arrivals, to find a window row again when its copy comes
    std::string source;
    std::string text;
    bool failure;
    bool awaiting;  // a window message's row whose debugger-output copy has not come yet
    bool from_file;  // read from an opened file: not logged again
    ULONGLONG at;
};

// A Tavenor run, from its first line to its end: a head row in the list
// stands for it.
struct Run {
    uint32_t process;
    std::string source;
    uint64_t header;         // the head row's line number
    uint64_t end;            // the end line's number; no_line while it runs
    std::string command;     // its command line
    std::string outcome;     // its end line; empty while it runs
    bool command_due;        // it only said it started: the command line is next
    SYSTEMTIME started;
    Arrival said_started;    // that line, held until the command line comes
};

struct Viewer {
    HWND window = nullptr;
    HWND list = nullptr;
    HWND include = nullptr;  // filter: lines holding this
    HWND exclude = nullptr;  // filter: lines not holding this
    HWND find = nullptr;
    HWND status = nullptr;
    HWND detail = nullptr;   // the focused line whole, below the list
    HWND hint = nullptr;     // over the empty list: how lines get here
    HFONT font = nullptr;        // the controls'
    HFONT list_font = nullptr;   // the list's and the detail pane's: the user's choice, when made
    LOGFONTA list_face = {};     // that choice; lfFaceName empty: none made
    int bar_height = 0;          // the toolbar's rows, as laid out
    bool file_view = false;      // a window of a file: no capture, no log
    std::string file_path;       // the file it shows
    std::vector<Highlight> highlights;
    UINT dpi = USER_DEFAULT_SCREEN_DPI;
    TraceStore store;          // everything shown
    bool paused = false;       // new lines do not scroll the list
    uint64_t waiting = 0;      // lines come in while paused
    std::string note;          // the last search's or command's outcome, in the status bar's part of its own
    std::string status_shown[4];  // what the status bar's parts say now
    std::string log_path;
    bool refresh_due = false;    // lines are in the store, not yet in the list
    ULONGLONG refresh_at = 0;    // not before this tick (GetTickCount64) is the list redrawn again
    bool ticking = false;        // the tick timer runs
    uint64_t dropped_shown = 0;  // the store's dropped count when the list was last drawn
    std::vector<Line> pending;   // received, not yet shown or logged
    bool drain_posted = false;   // a drain message is on its way
    LogWriter* log = nullptr;
    bool log_failed = false;  // a log write failed: said in the list, and in the exit code
    RecentLines recent;       // window messages' rows of the last moments
    std::deque<Arrival> arriving;  // not yet in the list or the log
    std::deque<std::pair<uint64_t, uint64_t>> shown_window_rows;  // arrival, line: of the last moments
    uint64_t arrivals = 0;
    std::vector<Run> runs;     // oldest first
    bool elapsed = false;      // the log and Save have a column of seconds since the row before
    std::string open_later;    // a file handed over to be opened
    bool logged_any = false;
    SYSTEMTIME logged_last = {};
    // What the user selected and where the keyboard is, by line number; the
    // list's own item states follow them whenever the view changes.
    Selection selection;
    uint64_t focus = no_line;
    bool syncing = false;  // the list's item states being set from the above
};

extern Viewer g_viewer;

// The flow of rows (rows.cpp): from their arrival, through the pairing of a
// window message with its debugger copy and the runs, into the list and
// the log; files opened and the log file.
void drain();
// The tick timer runs (from now on, when it did not).
void keep_ticking();
// A tick: rows brought in and settled, the list redrawn when due; the timer
// stops when nothing is left to do.
void tick();
void take_captured();
void settle(bool everything);
void report_log_write_failure(DWORD error);
const Run* run_headed_by(uint64_t line);
std::string run_title(const Run& run);
std::string saved_text();
void copy_run();
void open_file(const std::string& path);
// A file shown without losing the captured lines: in a window of its own.
void show_file(const std::string& path);
bool open_log(const std::string& path);
void close_log();

// The list (list_view.cpp): what it shows, its selection, filter and find.
void update_status();
void refresh_list();
void put_on_clipboard(const std::string& text);
void copy_to_clipboard();
void clear();
void apply_filter();
void set_paused(bool paused);
void find(bool backwards);
HWND focused_box();
void select_all();
void selection_changed(int from, int to, UINT old_state, UINT new_state);
void fill_cell(NMLVDISPINFOA* info);
LRESULT draw_row(NMLVCUSTOMDRAW* draw);
// The detail pane brought to the focused line.
void show_detail();
// Keeps the newest row in view while following.
void follow_newest();

// The window's layout (window_layout.cpp): controls, fonts, the toolbar
// that wraps at small widths, the status bar's parts.
int scaled(int size);
void create_controls(HWND window, HINSTANCE instance);
void set_fonts();
void lay_out(HWND window);

// Menus, keys and the dialogs of the View and Help menus (menus.cpp).
HMENU make_menu();
HACCEL make_keys();
void choose_font();
void edit_highlights();
void show_help();
void show_about();
void set_on_top(bool on_top);
void set_capture(bool on);

// Settings remembered per user (settings.cpp).
void load_settings();
void apply_loaded_settings();
void save_settings();

// The window (corvane.cpp): a box of the viewer's own, titled apart from
// its window.
void tell(const std::string& text);
