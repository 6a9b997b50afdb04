// The viewer's line store on a scripted list: which lines count as
// failures, what the caps drop, what a filter leaves and where a search
// lands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/trace_store.h"

namespace {

void add(TraceStore& store, const std::string& text, const std::string& source = "window message")
{
    store_add(store, 0, source, text.data(), text.size(), false);
}

std::vector<std::string> shown(const TraceStore& store)
{
    std::vector<std::string> texts;
    for (size_t i = 0; i < view_count(store); ++i)
        texts.push_back(row_text(store, view_row(store, i)));
    return texts;
}

TEST(TraceStore, FailureLines)
{
    const struct {
        const char* text;
        bool failure;
    } cases[] = {
        {"Call DriverPackageInstall failed", true},
        {"Fail to find device", true},
        {"result 0x800b0100 TRUST_E_NOSIGNATURE", true},
        {"CERT_E_UNTRUSTEDROOT", true},
        {"CRYPT_E_NOT_FOUND", true},
        {"returned ERROR_NO_SUCH_DEVINST", true},
        {"returned ERROR_SUCCESS", false},
        {"ERROR_SUCCESS, then ERROR_ACCESS_DENIED", true},
        {"Call DriverPackageInstall Succeed.", false},
        {"Failed", true},
        {"FAILED", false},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(is_failure_line(text.data(), text.size()), c.failure) << c.text;
    }
}

TEST(TraceStore, TheOldestGoFirstAtEitherCap)
{
    TraceStore by_rows;
    by_rows.rows_max = 3;
    for (const char* text : {"one", "two", "three", "four", "five"})
        add(by_rows, text);
    EXPECT_EQ(shown(by_rows), (std::vector<std::string>{"three", "four", "five"}));
    EXPECT_EQ(by_rows.dropped, 2u);

    // Text blocks of 16 bytes, two at most: each 10-byte row takes a block
    // of its own, and the row in the block given up goes with it.
    TraceStore by_bytes;
    by_bytes.block_bytes = 16;
    by_bytes.blocks_max = 2;
    for (const char* text : {"aaaaaaaaaa", "bbbbbbbbbb", "cccccccccc", "dd", "eeeeeeeeee"})
        add(by_bytes, text);
    EXPECT_EQ(shown(by_bytes), (std::vector<std::string>{"cccccccccc", "dd", "eeeeeeeeee"}));
    EXPECT_EQ(by_bytes.dropped, 2u);
    EXPECT_EQ(by_bytes.blocks.size(), 2u);

    store_clear(by_bytes);
    add(by_bytes, "after");
    EXPECT_EQ(shown(by_bytes), std::vector<std::string>{"after"});
    EXPECT_EQ(by_bytes.dropped, 0u);
}

TEST(TraceStore, FilterAndFindOverTheView)
{
    TraceStore store;
    store.rows_max = 6;
    add(store, "Install step one");
    add(store, "Installing FAILED");
    add(store, "unrelated");
    add(store, "ended with exit code 0", "42 Tavenor.exe");

    store_set_filter(store, "INSTALL", "");
    EXPECT_EQ(shown(store), (std::vector<std::string>{"Install step one", "Installing FAILED"}));
    store_set_filter(store, "install", "failed");
    EXPECT_EQ(shown(store), std::vector<std::string>{"Install step one"});
    store_set_filter(store, "tavenor", "");  // the source counts too
    EXPECT_EQ(shown(store), std::vector<std::string>{"ended with exit code 0"});

    // Lines added while filtered join the view when they pass; rows dropped
    // for the cap leave it.
    store_set_filter(store, "install", "");
    EXPECT_FALSE(store_add(store, 0, "window message", "other", 5, false));
    EXPECT_TRUE(store_add(store, 0, "window message", "Install two", 11, false));
    add(store, "Install three");
    EXPECT_EQ(shown(store), (std::vector<std::string>{"Installing FAILED", "Install two", "Install three"}));

    // Searches go round the view's ends, both ways, letter case aside.
    const struct {
        long from;
        const char* needle;
        bool backwards;
        long found;
    } finds[] = {
        {-1, "install", false, 0}, {0, "install", false, 1},  {2, "install", false, 0},
        {-1, "INSTALL", true, 2},  {0, "install", true, 2},   {0, "three", false, 2},
        {1, "two", false, 1},      {-1, "absent", false, -1},
    };
    for (const auto& f : finds)
        EXPECT_EQ(view_find(store, f.from, f.needle, f.backwards), f.found) << f.needle << " from " << f.from;
}

// What the user selected or found is held by line number: the numbers must
// survive filters, rows dropped at the cap and clearing, or a copy takes a
// line the user never picked.
TEST(TraceStore, LinesKeepTheirNumbersThroughFiltersDropsAndClearing)
{
    TraceStore store;
    store.rows_max = 3;
    for (const char* text : {"x0", "b1", "x2"})
        add(store, text);
    store_set_filter(store, "x", "");
    EXPECT_EQ(view_line(store, 1), 2u);
    EXPECT_EQ(view_index_of(store, 2), 1);
    EXPECT_EQ(view_index_of(store, 1), -1);  // filtered out
    add(store, "x3");                         // drops x0, which was in the view
    EXPECT_EQ(store.view_dropped, 1u);
    EXPECT_EQ(view_index_of(store, 2), 0);
    EXPECT_EQ(view_index_of(store, 0), -1);
    add(store, "x4");  // drops b1, which was not
    EXPECT_EQ(store.view_dropped, 1u);
    EXPECT_EQ(view_at_or_after(store, 1), 0u);  // x2 is the next line the filter leaves
    store_set_filter(store, "", "");
    EXPECT_EQ(view_index_of(store, 4), 2);
    store_clear(store);
    add(store, "after");
    EXPECT_EQ(view_line(store, 0), 5u);  // numbers go on after clearing
    EXPECT_EQ(view_index_of(store, 4), -1);
}

TEST(TraceStore, SelectionRangesMergeSplitAndMapIntoTheView)
{
    Selection selection;
    selection_set(selection, 2, 4, true);
    selection_set(selection, 6, 6, true);
    selection_set(selection, 5, 5, true);  // joins both
    EXPECT_EQ(selection.ranges, (std::vector<std::pair<uint64_t, uint64_t>>{{2, 6}}));
    selection_set(selection, 3, 3, false);
    EXPECT_EQ(selection.ranges, (std::vector<std::pair<uint64_t, uint64_t>>{{2, 2}, {4, 6}}));
    EXPECT_FALSE(selection_holds(selection, 3));
    EXPECT_TRUE(selection_holds(selection, 6));

    TraceStore store;
    for (const char* text : {"0", "1", "2 keep", "3", "4 keep", "5", "6 keep"})
        add(store, text);
    EXPECT_EQ(selection_in_view(selection, store), (std::vector<size_t>{2, 4, 5, 6}));
    store_set_filter(store, "keep", "");
    EXPECT_EQ(selection_in_view(selection, store), (std::vector<size_t>{0, 1, 2}));
}

} // namespace
