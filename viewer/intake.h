// How received text becomes the viewer's lines, without any window: the
// cap on one message, the split into rows, the rule that shows a Tavenor
// line seen on both channels once, and the viewer's own command line.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

// One message's share: any process on the desktop can send, and a trace
// line is at most 4 KiB.  Bytes past these are cut, and the cut is said.
constexpr size_t message_bytes_max = 64 * 1024;
constexpr int message_rows_max = 1000;

// A debugger-output row that repeats a window message's row of this long
// ago is the same line of the same run, seen on its second channel.
constexpr uint64_t same_line_ms = 2000;
constexpr size_t recent_max = 1024;
constexpr uint64_t no_line = UINT64_MAX;

// The first message_bytes_max bytes and message_rows_max rows of a message
// (the line feed that ends the last row kept with it), and a note of what
// was cut.
std::string capped_text(const char* bytes, size_t size);

// The rows of a received text: split at line feeds (a CR before one goes
// too), a closing line feed adding no row.
std::vector<std::string> rows_of(const std::string& text);

// True for text that is well-formed UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF).
bool is_utf8(const std::string& text);

// Rows of window messages of the last moments, each with the number of the
// line that shows it, so that a run seen on both channels (Tavenor sends
// each line to both) is shown once, with the process that wrote it.  now_ms
// is any clock that counts milliseconds.
struct RecentRow {
    uint64_t at;
    uint64_t line;
    std::string text;
};
struct RecentLines {
    std::deque<RecentRow> rows;  // oldest first
};
void remember_window_row(RecentLines& recent, uint64_t now_ms, const std::string& text, uint64_t line);
// The line of the oldest window row of the last same_line_ms with this
// text, which the debugger-output row is then the copy of (and which is
// forgotten, so that one copy is taken per row); no_line when there is none.
uint64_t window_row_copied(RecentLines& recent, uint64_t now_ms, const std::string& text);

// Debugger output comes in pieces, a process writing a line in several
// calls, while most programs write each message whole and without a line
// feed.  A process's pieces are joined while they end without a line feed
// and the next comes within piece_quiet_ms; then the text held is a row of
// its own.  Pieces of different processes are never joined.
constexpr uint64_t piece_quiet_ms = 150;
// The most text one debugger message carries: the shared buffer is 4,096
// bytes, the writer's process id and a closing NUL take 5 (Wine's
// OutputDebugStringA cuts longer text there and drops the rest).  A piece
// this long was cut: it ends its row, so the next message starts afresh.
constexpr size_t debug_text_max = 4096 - 4 - 1;
// A row joined from pieces is at most this long: a line written in pieces
// is no longer than one message can be; more is a stream of messages.
constexpr size_t joined_row_max = 4096;
struct Held {
    uint32_t process;
    std::string text;    // without a line feed yet
    uint64_t stamp;      // that piece's wall time, as the caller gave it
    uint64_t last_at;    // when its last piece came (any millisecond clock)
    bool trailer_due;    // the last piece ended its line: a lone line feed next adds nothing
};
struct Joiner {
    std::vector<Held> held;
};
struct JoinedRow {
    uint32_t process;
    uint64_t stamp;  // the wall time of the row's first piece
    std::string text;
};
// The rows that piece (arriving at now_ms, wall time stamp) completes for
// process, in order: the text held before it when that was quiet too long
// or would grow past joined_row_max, then each line it ends.  Tavenor
// writes each line with its line feed and then one more: that lone line
// feed adds no row, while one that follows it (Tavenor's blank line) is an
// empty row.
std::vector<JoinedRow> join_piece(Joiner& joiner, uint32_t process, uint64_t now_ms, uint64_t stamp,
                                  const std::string& piece);
// The held texts whose last piece came piece_quiet_ms or more before now_ms,
// as rows (oldest first); their processes hold nothing afterwards.
std::vector<JoinedRow> join_due(Joiner& joiner, uint64_t now_ms);
// Milliseconds from now_ms until join_due has a row; UINT64_MAX for none.
uint64_t join_wait_ms(const Joiner& joiner, uint64_t now_ms);
// What process left without a line feed (at its end); empty for nothing.
// The process is forgotten.
std::string join_rest(Joiner& joiner, uint32_t process);

// The processes writing debugger output, each known from its first
// message to its end.  Windows reuses a process id once its process has
// ended and no handle to it is left, so an entry lives only as long as the
// handle the viewer keeps on its process: when the end is seen the entry
// goes, and a later message with the same id is a new process, looked up
// afresh.
struct Writer {
    uint32_t process;
    std::string name;
    void* handle;  // the process, kept open (nullptr when it could not be opened)
    void* wait;    // the watch on its end
};
struct Writers {
    std::vector<Writer> known;
};
// The entry of process; nullptr when it is not (or no longer) known.
Writer* writer_of(Writers& writers, uint32_t process);
// The entry of a process seen for the first time.
Writer* add_writer(Writers& writers, uint32_t process, const std::string& name, void* handle, void* wait);
// Its end seen: the entry goes, and is returned for its handles to be closed.
Writer end_writer(Writers& writers, uint32_t process);

// The viewer's command line: "/log <file>" appends every line to the file,
// "/elapsed" adds the seconds since the row before to the log and Save,
// "/keep <lines>" keeps fewer lines than the most (keep_min at least), and
// a file named alone is opened (names quoted when they hold blanks).
constexpr unsigned long keep_min = 1000;
struct ViewerOptions {
    std::string log;
    std::string open;
    bool elapsed = false;
    unsigned long keep = 0;  // 0: the most
};
ViewerOptions parse_options(const char* tail);

// A row as the log file and Save have it, CR LF ended:
//   YYYY-MM-DD HH:MM:SS.mmm<TAB>number<TAB>[+seconds<TAB>]source<TAB>text
// the seconds since the row before when elapsed_ms is not negative.
struct RowTime {
    unsigned year, month, day, hour, minute, second, ms;
};
std::string saved_row(const RowTime& time, uint64_t number, long long elapsed_ms, const std::string& source,
                      const std::string& text);

// One line (without its CR LF) of a file the viewer logged or saved, or of
// Tavenor's own trace file ("/l": YYYY-MM-DD HH:MM:SS.mmm<TAB>pid<TAB>text,
// whose source is then "<pid> Tavenor.exe"); false for any other line.
struct SavedRow {
    RowTime time;
    std::string source;
    std::string text;
};
bool parse_saved_row(const std::string& line, SavedRow* row);

// Tavenor's runs as its lines tell them: the process of a source
// "<pid> Tavenor.exe" (0 for any other source), the line that only says
// it started ("Tavenor <version> started": the command line follows), and
// the line that tells its end ("ended with exit code ..." as the viewer
// sees a process end, "Exit code ..." in Tavenor's own file).
uint32_t tavenor_process(const std::string& source);
bool is_run_start(const std::string& text);
bool is_run_end(const std::string& text);

