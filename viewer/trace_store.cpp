#include "viewer/trace_store.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace {

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}


std::string lowered(std::string text)
{
    for (char& c : text)
        c = lower(c);
    return text;
}

bool filtering(const TraceStore& store)
{
    return !store.include_terms.empty() || !store.exclude_terms.empty();
}

const char* text_of(const TraceStore& store, const StoreRow& row)
{
    return store.blocks[row.block - store.first_block].get() + row.offset;
}

// Text or source holds needle.
bool row_holds(const TraceStore& store, const StoreRow& row, const std::string& needle)
{
    const std::string& source = store.sources[row.source];
    return text_holds(text_of(store, row), row.length, needle) || text_holds(source.data(), source.size(), needle);
}

bool holds_any(const TraceStore& store, const StoreRow& row, const std::vector<std::string>& terms)
{
    for (const std::string& term : terms) {
        if (row_holds(store, row, term))
            return true;
    }
    return false;
}

bool passes(const TraceStore& store, const StoreRow& row)
{
    return (store.include_terms.empty() || holds_any(store, row, store.include_terms)) &&
           !holds_any(store, row, store.exclude_terms);
}

uint32_t source_index(TraceStore& store, const std::string& source)
{
    for (size_t i = store.sources.size(); i-- > 0;) {
        if (store.sources[i] == source)
            return static_cast<uint32_t>(i);
    }
    store.sources.push_back(source);
    return static_cast<uint32_t>(store.sources.size() - 1);
}

void drop_oldest(TraceStore& store)
{
    store.rows.pop_front();
    ++store.first;
    ++store.dropped;
    if (!filtering(store)) {
        ++store.view_dropped;
    } else if (!store.shown.empty() && store.shown.front() < store.first) {
        store.shown.pop_front();
        ++store.view_dropped;
    }
}

} // namespace

// needle (already lower case) in text, ASCII letter case aside.
bool text_holds(const char* text, size_t length, const std::string& needle)
{
    if (needle.empty())
        return true;
    if (needle.size() > length)
        return false;
    for (size_t i = 0; i + needle.size() <= length; ++i) {
        size_t k = 0;
        while (k < needle.size() && lower(text[i + k]) == needle[k])
            ++k;
        if (k == needle.size())
            return true;
    }
    return false;
}

bool is_failure_line(const char* text, size_t length)
{
    static const char* const marks[] = {"failed", "Fail", "ERROR_", "CERT_E_", "TRUST_E_", "CRYPT_E_"};
    static const char success[] = "ERROR_SUCCESS";
    const size_t success_length = sizeof success - 1;
    for (const char* mark : marks) {
        size_t mark_length = strlen(mark);
        for (size_t i = 0; i + mark_length <= length; ++i) {
            if (memcmp(text + i, mark, mark_length) != 0)
                continue;
            bool is_success = i + success_length <= length && memcmp(text + i, success, success_length) == 0;
            if (!is_success)
                return true;
        }
    }
    return false;
}

bool store_add(TraceStore& store, uint32_t time_ms, const std::string& source, const char* text, size_t length,
               bool failure, uint32_t date, bool header)
{
    if (length > store.block_bytes)
        length = store.block_bytes;
    if (store.blocks.empty() || store.block_used + length > store.block_bytes) {
        store.blocks.emplace_back(new char[store.block_bytes]);
        store.block_used = 0;
    }
    StoreRow row;
    row.block = static_cast<uint32_t>(store.first_block + store.blocks.size() - 1);
    row.offset = static_cast<uint32_t>(store.block_used);
    row.length = static_cast<uint32_t>(length);
    row.time_ms = time_ms;
    row.source = source_index(store, source);
    row.failure = failure;
    row.date = date;
    row.header = header;
    if (length > 0)
        memcpy(store.blocks.back().get() + store.block_used, text, length);
    store.block_used += length;
    store.rows.push_back(row);

    while (store.rows.size() > store.rows_max)
        drop_oldest(store);
    // The newest row is in the last block, so this keeps it.
    while (store.blocks.size() > store.blocks_max) {
        while (store.rows.front().block == store.first_block)
            drop_oldest(store);
        store.blocks.pop_front();
        ++store.first_block;
    }
    while (store.rows.front().block != store.first_block) {
        store.blocks.pop_front();
        ++store.first_block;
    }
    if (!filtering(store))
        return true;
    if (!passes(store, row))
        return false;
    store.shown.push_back(store.first + store.rows.size() - 1);
    return true;
}

void store_clear(TraceStore& store)
{
    store.first += store.rows.size();
    store.rows.clear();
    store.blocks.clear();
    store.shown.clear();
    store.first_block = 0;
    store.block_used = 0;
    store.dropped = 0;
    store.view_dropped = 0;
}

std::vector<std::string> filter_terms(const std::string& text)
{
    std::vector<std::string> terms;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        size_t first = text.find_first_not_of(" \t", start);
        size_t last = text.find_last_not_of(" \t", end == 0 ? 0 : end - 1);
        if (first != std::string::npos && first < end && last != std::string::npos && last >= first)
            terms.push_back(lowered(text.substr(first, last + 1 - first)));
        start = end + 1;
    }
    return terms;
}

void store_set_filter(TraceStore& store, const std::string& include, const std::string& exclude)
{
    store.include = lowered(include);
    store.exclude = lowered(exclude);
    store.include_terms = filter_terms(include);
    store.exclude_terms = filter_terms(exclude);
    store.shown.clear();
    if (!filtering(store))
        return;
    for (size_t i = 0; i < store.rows.size(); ++i) {
        if (passes(store, store.rows[i]))
            store.shown.push_back(store.first + i);
    }
}

size_t view_count(const TraceStore& store)
{
    return filtering(store) ? store.shown.size() : store.rows.size();
}

const StoreRow& view_row(const TraceStore& store, size_t index)
{
    return filtering(store) ? store.rows[static_cast<size_t>(store.shown[index] - store.first)] : store.rows[index];
}

std::string row_text(const TraceStore& store, const StoreRow& row)
{
    return std::string(text_of(store, row), row.length);
}

std::string row_stamp(const StoreRow& row)
{
    unsigned ms = row.time_ms;
    char text[16];
    snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", ms / 3600000 % 100, ms / 60000 % 60, ms / 1000 % 60,
             ms % 1000);
    return text;
}

long view_find(const TraceStore& store, long from, const std::string& needle, bool backwards)
{
    const long count = static_cast<long>(view_count(store));
    if (count == 0)
        return -1;
    const std::string wanted = lowered(needle);
    if (from < 0 || from >= count)
        from = backwards ? count : -1;
    for (long step = 1; step <= count; ++step) {
        long index = ((backwards ? from - step : from + step) % count + count) % count;
        if (row_holds(store, view_row(store, static_cast<size_t>(index)), wanted))
            return index;
    }
    return -1;
}

uint64_t view_line(const TraceStore& store, size_t index)
{
    return filtering(store) ? store.shown[index] : store.first + index;
}

long view_index_of(const TraceStore& store, uint64_t line)
{
    if (line < store.first || line >= store_next_line(store))
        return -1;
    if (!filtering(store))
        return static_cast<long>(line - store.first);
    auto at = std::lower_bound(store.shown.begin(), store.shown.end(), line);
    return at != store.shown.end() && *at == line ? static_cast<long>(at - store.shown.begin()) : -1;
}

size_t view_at_or_after(const TraceStore& store, uint64_t line)
{
    if (line < store.first)
        return 0;
    if (!filtering(store))
        return static_cast<size_t>(std::min<uint64_t>(line - store.first, store.rows.size()));
    return static_cast<size_t>(std::lower_bound(store.shown.begin(), store.shown.end(), line) - store.shown.begin());
}

void store_set_source(TraceStore& store, uint64_t line, const std::string& source)
{
    if (line >= store.first && line < store_next_line(store))
        store.rows[static_cast<size_t>(line - store.first)].source = source_index(store, source);
}

void selection_clear(Selection& selection)
{
    selection.all = false;
    selection.ranges.clear();
}

void selection_set(Selection& selection, uint64_t first, uint64_t last, bool selected)
{
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (const auto& range : selection.ranges) {
        bool apart = range.second + 1 < first || (last != UINT64_MAX && range.first > last + 1);
        if (apart || (!selected && (range.second < first || range.first > last))) {
            ranges.push_back(range);
            continue;
        }
        if (selected) {
            first = std::min(first, range.first);
            last = std::max(last, range.second);
            continue;
        }
        if (range.first < first)
            ranges.emplace_back(range.first, first - 1);
        if (range.second > last)
            ranges.emplace_back(last + 1, range.second);
    }
    if (selected)
        ranges.emplace_back(first, last);
    std::sort(ranges.begin(), ranges.end());
    selection.ranges.swap(ranges);
}

bool selection_holds(const Selection& selection, uint64_t line)
{
    if (selection.all)
        return true;
    auto after = std::upper_bound(selection.ranges.begin(), selection.ranges.end(),
                                  std::make_pair(line, UINT64_MAX));
    return after != selection.ranges.begin() && (after - 1)->second >= line;
}

std::vector<size_t> selection_in_view(const Selection& selection, const TraceStore& store)
{
    std::vector<size_t> indexes;
    size_t count = view_count(store);
    if (selection.all) {
        for (size_t i = 0; i < count; ++i)
            indexes.push_back(i);
        return indexes;
    }
    for (const auto& range : selection.ranges) {
        for (uint64_t line = std::max(range.first, store.first); line <= range.second && line < store_next_line(store);
             ++line) {
            long index = view_index_of(store, line);
            if (index >= 0)
                indexes.push_back(static_cast<size_t>(index));
        }
    }
    return indexes;
}
