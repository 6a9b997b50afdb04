// The viewer's lines: a bounded store of rows (the oldest dropped first
// once a cap is reached), the view of them that a filter leaves, and the
// searches over that view.  No window in here, so the rules can be tried
// on a scripted list.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

// What the store holds at most: rows, and bytes of text (a row's text is
// at most a message's share, 64 KiB, so rows of that size reach the byte
// cap first).
constexpr size_t store_rows_max = 1000000;
constexpr size_t store_text_bytes_max = 128u * 1024 * 1024;
constexpr size_t store_block_bytes = 1024 * 1024;
static_assert(store_text_bytes_max % store_block_bytes == 0, "the text cap is whole blocks");

struct StoreRow {
    uint32_t block;    // number of the text block holding the text
    uint32_t offset;   // where in that block
    uint32_t length;
    uint32_t time_ms;  // local time of day, in milliseconds
    uint32_t source;   // index into TraceStore::sources
    uint32_t date;     // local date as YYYYMMDD; 0 when not known
    bool failure;
    bool header;       // the head of a Tavenor run: shown from the viewer's table of runs
};

struct TraceStore {
    size_t rows_max = store_rows_max;
    size_t blocks_max = store_text_bytes_max / store_block_bytes;
    size_t block_bytes = store_block_bytes;

    // Every row has a line number, counted since the store began and never
    // given twice (clearing goes on counting), so that what the user
    // selected or found stays with its line whatever the view does.
    std::deque<StoreRow> rows;       // oldest first
    uint64_t first = 0;              // line number of rows[0]
    uint64_t dropped = 0;            // rows dropped for the caps (not by clearing)
    uint64_t view_dropped = 0;       // of those, rows that were in the view; the viewer resets it
    std::deque<std::unique_ptr<char[]>> blocks;
    uint32_t first_block = 0;        // number of blocks[0]
    size_t block_used = 0;           // bytes used in the last block
    std::vector<std::string> sources;

    // The filter: rows whose text or source holds one of the include terms
    // (when there are any) and none of the exclude terms, letter case
    // aside; a box's text holds its terms apart by ";".  The numbers of the
    // rows it leaves, while one is set.
    std::string include;
    std::string exclude;
    std::vector<std::string> include_terms;
    std::vector<std::string> exclude_terms;
    std::deque<uint64_t> shown;
};

// True for a line that tells of a failure: "failed", "Fail", or an error
// name (ERROR_..., CERT_E_..., TRUST_E_..., CRYPT_E_...), but not
// ERROR_SUCCESS.
bool is_failure_line(const char* text, size_t length);

// Adds a row, dropping the oldest rows the caps require.  Returns false
// when the added row is left out by the filter.
bool store_add(TraceStore& store, uint32_t time_ms, const std::string& source, const char* text, size_t length,
               bool failure, uint32_t date = 0, bool header = false);
void store_clear(TraceStore& store);

// A filter box's text as its terms: split at ";", blanks around each term
// dropped, empty terms left out, lower case.
std::vector<std::string> filter_terms(const std::string& text);
// Sets the filter and rebuilds the view.
void store_set_filter(TraceStore& store, const std::string& include, const std::string& exclude);

// The view: its rows in order, whether filtered or not.
size_t view_count(const TraceStore& store);
const StoreRow& view_row(const TraceStore& store, size_t index);
std::string row_text(const TraceStore& store, const StoreRow& row);
// "HH:MM:SS.mmm"
std::string row_stamp(const StoreRow& row);

// The line number of a view index; the view index of a line number, or -1
// when the line is not in the view (filtered out, dropped or cleared).
uint64_t view_line(const TraceStore& store, size_t index);
long view_index_of(const TraceStore& store, uint64_t line);
// The view index of the first line at or after line (view_count when none).
size_t view_at_or_after(const TraceStore& store, uint64_t line);
// The line number the next row added will have.
inline uint64_t store_next_line(const TraceStore& store)
{
    return store.first + store.rows.size();
}
// Gives a kept line another source (the process that wrote it, found out
// after it was added).
void store_set_source(TraceStore& store, uint64_t line, const std::string& source);

// The selected lines, by line number: all lines of the view, or ranges,
// so that selecting all costs nothing however long the list.
struct Selection {
    bool all = false;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;  // first, last: sorted, apart
};
void selection_clear(Selection& selection);
void selection_set(Selection& selection, uint64_t first, uint64_t last, bool selected);
bool selection_holds(const Selection& selection, uint64_t line);
// Whether text holds needle (already lower case), ASCII letter case aside.
bool text_holds(const char* text, size_t length, const std::string& needle);
// The view indexes of the selected lines the view holds, in order.
std::vector<size_t> selection_in_view(const Selection& selection, const TraceStore& store);

// The next (or, backwards, the previous) view index after from whose text
// holds needle, letter case aside, going round the end; -1 when none.
// from may be -1 (nothing selected: the search starts at an end).
long view_find(const TraceStore& store, long from, const std::string& needle, bool backwards);
