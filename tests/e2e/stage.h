// A folder for one end-to-end run: Tavenor.exe, and beside it, when asked
// for, the test double with its plan.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "e2e/drive.h"

enum class Library { none, full, without_log_callback };

struct Stage {
    std::string folder;  // no trailing backslash
    std::string exe;
};

Stage make_stage(const std::string& name, Library library, const std::string& plan = std::string());

struct JournalEntry {
    unsigned long long ms = 0;
    std::string what;                 // load, unload, set_log_callback, preinstall, install, uninstall, plan-error
    std::vector<std::string> fields;  // the rest of the line
    uint32_t flags = 0;               // for the three entry points
    std::string inf;
    std::string result;
};

std::vector<JournalEntry> read_journal(const Stage& stage);
// The journal's entry-point calls only, as "<what> <flags hex>".
std::vector<std::string> journal_calls(const std::vector<JournalEntry>& journal);

DriveResult run(const Stage& stage, const std::string& tail, ViewerKind viewer = ViewerKind::pumping);

// The trace lines, from the debugger strings: every line is followed by a
// string holding just "\n".  ok is cleared when that pairing is broken.
std::vector<std::string> trace_lines(const DriveResult& result, bool* ok);
std::vector<std::string> viewer_lines(const DriveResult& result);
