#include "e2e/stage.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "support/test_files.h"

Stage make_stage(const std::string& name, Library library, const std::string& plan)
{
    Stage stage;
    stage.folder = fresh_work_folder(name);
    stage.exe = stage.folder + "\\Tavenor.exe";
    std::string bin = program_folder();
    CopyFileA((bin + "Tavenor.exe").c_str(), stage.exe.c_str(), FALSE);
    if (library != Library::none) {
        std::string dll = bin + (library == Library::full ? "double\\" : "double-nolog\\") + "DifxApix64.dll";
        CopyFileA(dll.c_str(), (stage.folder + "\\DifxApix64.dll").c_str(), FALSE);
    }
    if (!plan.empty())
        write_file(stage.folder + "\\difx-plan.txt", plan);
    return stage;
}

std::vector<JournalEntry> read_journal(const Stage& stage)
{
    std::vector<JournalEntry> entries;
    for (const std::string& line : split_lines(read_file(stage.folder + "\\difx-journal.txt"))) {
        std::vector<std::string> fields = split_tabs(line);
        if (fields.size() < 2)
            continue;
        JournalEntry entry;
        entry.ms = strtoull(fields[0].c_str(), nullptr, 10);
        entry.what = fields[1];
        entry.fields.assign(fields.begin() + 2, fields.end());
        if ((entry.what == "preinstall" || entry.what == "install" || entry.what == "uninstall") &&
            entry.fields.size() >= 6) {
            entry.flags = static_cast<uint32_t>(strtoul(entry.fields[0].c_str(), nullptr, 16));
            entry.result = entry.fields[3];
            entry.inf = entry.fields[5];
        }
        entries.push_back(entry);
    }
    return entries;
}

std::vector<std::string> journal_calls(const std::vector<JournalEntry>& journal)
{
    std::vector<std::string> calls;
    for (const JournalEntry& entry : journal) {
        if (entry.what == "preinstall" || entry.what == "install" || entry.what == "uninstall") {
            char text[64];
            snprintf(text, sizeof text, "%s %X", entry.what.c_str(), static_cast<unsigned>(entry.flags));
            calls.push_back(text);
        }
    }
    return calls;
}

DriveResult run(const Stage& stage, const std::string& tail, ViewerKind viewer)
{
    DriveOptions options;
    options.exe = stage.exe;
    options.arguments = tail;
    options.viewer = viewer;
    return drive(options);
}

std::vector<std::string> trace_lines(const DriveResult& result, bool* ok)
{
    *ok = result.debug_strings.size() % 2 == 0;
    std::vector<std::string> lines;
    for (size_t i = 0; i + 1 < result.debug_strings.size(); i += 2) {
        lines.push_back(result.debug_strings[i]);
        if (result.debug_strings[i + 1] != "\n")
            *ok = false;
    }
    return lines;
}

std::vector<std::string> viewer_lines(const DriveResult& result)
{
    std::vector<std::string> lines;
    for (const ViewerMessage& m : result.viewer_messages)
        lines.push_back(m.bytes);
    return lines;
}
