// /l for real: what the file holds next to what /d shows, two runs writing
// one file at once, the size bound, a log that cannot be opened, and logs
// that other accounts aimed elsewhere (links made on the host side of
// Wine's prefix, which Windows programs see as links), planted folders and
// a turn that somebody holds.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/exit_codes.h"
#include "base/log_file.h"
#include "e2e/stage.h"
#include "support/test_files.h"
#include "tracelib/trace_log.h"

namespace {

struct LogLine {
    unsigned long pid;
    std::string text;
};

// The file's lines, each of which must be
// "YYYY-MM-DD HH:MM:SS.mmm<TAB>pid<TAB>text" and end in CR LF.
std::vector<LogLine> read_log(const std::string& bytes)
{
    static const std::regex layout("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\t(\\d+)\t([^\r\n]*)");
    std::vector<LogLine> lines;
    for (const std::string& line : split_lines(bytes)) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, layout)) << "not a whole line: " << line.substr(0, 200);
        if (m.size() == 3)
            lines.push_back({strtoul(m[1].str().c_str(), nullptr, 10), m[2]});
    }
    size_t feeds = 0, ends = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        feeds += bytes[i] == '\n';
        ends += bytes[i] == '\n' && i > 0 && bytes[i - 1] == '\r';
    }
    EXPECT_EQ(ends, feeds) << "every line ends in CR LF";
    EXPECT_TRUE(bytes.empty() || bytes.back() == '\n');
    return lines;
}

const std::string exit_0 = std::string("Exit code 0: ") + exit_code_meaning(0);

TEST(LogFile, HoldsWhatDebugTracesWithoutChangingWhatTheMonitorsGet)
{
    Stage stage = make_stage(test_name(), Library::full,
                             "uninstall 2 0\ninstall 0\nlog uninstall * 1 0 Removing the package\n");
    DriveResult debug = run(stage, "/u x.inf /d");
    DriveResult logged = run(stage, "/u x.inf /l run.log");
    EXPECT_EQ(logged.exit_code, 0u);
    // The monitors get the echo alone, as on any run without /d.
    bool paired = false;
    const std::vector<std::string> echo = {"/u x.inf /l run.log", "\n"};
    EXPECT_EQ(trace_lines(logged, &paired), echo);
    EXPECT_EQ(viewer_lines(logged), echo);

    // The file holds the /d lines after the echo, a line per line feed.
    std::vector<std::string> expected;
    std::vector<std::string> traced = trace_lines(debug, &paired);
    for (size_t i = 2; i < traced.size(); ++i) {
        for (const std::string& part : split_lines(traced[i]))
            expected.push_back(part);
    }
    std::vector<std::string> text;
    for (const LogLine& line : read_log(read_file(stage.folder + "\\run.log")))
        text.push_back(line.text);
    ASSERT_EQ(text.size(), 5 + expected.size() + 1);
    EXPECT_TRUE(std::regex_match(text[0], std::regex("Tavenor [0-9.]+ started"))) << text[0];
    EXPECT_NE(text[1].find("Tavenor.exe\" /u x.inf /l run.log"), std::string::npos) << text[1];
    EXPECT_TRUE(std::regex_match(text[2], std::regex("Windows \\d+\\.\\d+ build \\d+"))) << text[2];
    EXPECT_TRUE(std::regex_match(text[3], std::regex("(Elevated|Not elevated), account .+\\\\.+"))) << text[3];
    EXPECT_EQ(text[4], "Library: " + stage.folder + "\\DifxApix64.dll");
    EXPECT_EQ(std::vector<std::string>(text.begin() + 5, text.end() - 1), expected);
    EXPECT_EQ(text.back(), exit_0);
}

TEST(LogFile, ARunThatCannotBindTheLibraryEndsItsLogToo)
{
    Stage stage = make_stage(test_name(), Library::none);
    EXPECT_EQ(run(stage, "/i x.inf /l run.log").exit_code, 4u);
    std::vector<LogLine> lines = read_log(read_file(stage.folder + "\\run.log"));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4].text, "Load library failed, make sure DifxApix64.dll is in the same directory");
    EXPECT_EQ(lines[5].text, std::string("Exit code 4: ") + exit_code_meaning(4));
}

TEST(LogFile, TwoRunsAppendingAtOnceWriteWholeLines)
{
    // A burst of long lines without a pause: 32 library log events in each
    // of four staging calls (signature failures, then legacy mode) and
    // three installing calls (183 each time).
    std::string plan = "preinstall 0x800B0100 0x800B0100 0x800B0100 0\ninstall 183\n";
    for (int i = 0; i < 64; ++i)
        plan += std::string("log ") + (i < 32 ? "preinstall" : "install") + " * 1 0 " + std::string(200, 'a' + i % 26) + "\n";
    Stage stages[2] = {make_stage(test_name() + "_a", Library::full, plan),
                       make_stage(test_name() + "_b", Library::full, plan)};
    // The bursts overlap only now and then: rounds enough to show a cut line.
    for (int round = 0; round < 16; ++round) {
        std::string log = fresh_work_folder(test_name()) + "\\shared.log";
        PROCESS_INFORMATION runs[2];
        for (int i = 0; i < 2; ++i) {
            std::string command = "\"" + stages[i].exe + "\" /i x.inf /l \"" + log + "\"";
            STARTUPINFOA startup = {};
            startup.cb = sizeof startup;
            ASSERT_TRUE(CreateProcessA(stages[i].exe.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                       nullptr, stages[i].folder.c_str(), &startup, &runs[i]));
        }
        // Resumed together, the two take the same steps at the same time.
        std::map<unsigned long, int> lines_of, events_of;
        for (PROCESS_INFORMATION& p : runs)
            ResumeThread(p.hThread);
        for (PROCESS_INFORMATION& p : runs) {
            EXPECT_EQ(WaitForSingleObject(p.hProcess, 60000), WAIT_OBJECT_0);
            lines_of[p.dwProcessId] = 0;
            CloseHandle(p.hThread);
            CloseHandle(p.hProcess);
        }
        for (const LogLine& line : read_log(read_file(log))) {
            ASSERT_EQ(lines_of.count(line.pid), 1u) << "round " << round << ": " << line.pid;
            ++lines_of[line.pid];
            if (line.text.rfind("LOG Event: 1, ", 0) == 0) {
                ++events_of[line.pid];
                EXPECT_EQ(line.text.substr(14), std::string(200, line.text[14])) << "round " << round;
            }
        }
        for (const auto& run : lines_of) {
            EXPECT_EQ(events_of[run.first], 7 * 32) << "round " << round;
            EXPECT_EQ(run.second, lines_of.begin()->second) << "round " << round;
        }
    }
}

TEST(LogFile, AFullFileMovesToItsOlderGenerationAndNothingIsLost)
{
    // bytes before the run: past the bound already; filled by the run's second line
    const size_t befores[] = {static_cast<size_t>(trace_log_max_bytes) + 1024 * 1024,
                              static_cast<size_t>(trace_log_max_bytes) - 100};
    for (size_t before : befores) {
        Stage stage = make_stage(test_name(), Library::full);
        std::string log = stage.folder + "\\run.log";
        std::string old_lines;
        while (old_lines.size() < before)
            old_lines += "2026-01-01 00:00:00.000\t1\t" + std::string(72, 'o') + "\r\n";
        old_lines.resize(before - before % 100);
        ASSERT_TRUE(write_file(log, old_lines));
        ASSERT_TRUE(write_file(log + ".1", "the generation before\r\n"));

        EXPECT_EQ(run(stage, "/i x.inf /l run.log").exit_code, 0u);
        std::string older = read_file(log + ".1");
        std::string newer = read_file(log);
        EXPECT_EQ(older.compare(0, old_lines.size(), old_lines), 0) << before;
        EXPECT_LE(older.size(), std::max<size_t>(old_lines.size(), trace_log_max_bytes)) << before;
        EXPECT_LE(newer.size(), trace_log_max_bytes) << before;
        // The two files hold the run whole and in order.
        std::vector<LogLine> lines = read_log(older.substr(old_lines.size()) + newer);
        ASSERT_FALSE(lines.empty()) << before;
        EXPECT_TRUE(std::regex_match(lines.front().text, std::regex("Tavenor [0-9.]+ started"))) << before;
        EXPECT_EQ(lines.back().text, exit_0) << before;
    }
}

TEST(LogFile, ALogThatCannotBeOpenedChangesNothingButOneDebuggerLine)
{
    Stage stage = make_stage(test_name(), Library::full, "uninstall 2 0\ninstall 0\n");
    DriveResult plain = run(stage, "/u x.inf");
    std::vector<std::string> plain_calls = journal_calls(read_journal(stage));
    DeleteFileA((stage.folder + "\\difx-journal.txt").c_str());
    DriveResult logged = run(stage, "/u x.inf /l missing\\run.log");
    EXPECT_EQ(logged.exit_code, plain.exit_code);
    EXPECT_EQ(journal_calls(read_journal(stage)), plain_calls);
    EXPECT_FALSE(dir_exists(stage.folder + "\\missing"));
    bool paired = false;
    std::vector<std::string> lines = trace_lines(logged, &paired);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].rfind("Tavenor: the log file " + stage.folder + "\\missing\\run.log could not be opened", 0), 0u)
        << lines[2];
}

// The debugger-output lines of a run after the echo.
std::vector<std::string> said(const DriveResult& result)
{
    bool paired = false;
    std::vector<std::string> lines = trace_lines(result, &paired);
    return lines.size() > 2 ? std::vector<std::string>(lines.begin() + 2, lines.end()) : std::vector<std::string>();
}

// What another account may have put at the log's name before a SYSTEM run:
// each is refused with one line, the file elsewhere untouched and the run
// the same.
TEST(LogFile, ALogAimedElsewhereIsRefusedWithOneLine)
{
    struct Case {
        const char* name;
        const char* log;      // relative to the stage
        const char* make;     // host command; %L the log's host path, %T the target's, %F the stage's
        const char* refused;  // the words of the line
    };
    const Case cases[] = {
        {"hard link", "run.log", "ln '%T' '%L'", "has more than one name"},
        {"symbolic link", "run.log", "ln -s '%T' '%L'", "is reached through a link"},
        {"folder link", "linked\\run.log", "mkdir '%F/elsewhere' && ln -s '%F/elsewhere' '%F/linked'",
         "is reached through a link"},
        {"folder", "run.log", "mkdir '%L'", "is a folder"},
    };
    for (const Case& c : cases) {
        Stage stage = make_stage(test_name() + "_" + std::string(c.name).substr(0, 4), Library::full,
                                 "uninstall 2 0\ninstall 0\n");
        // A stand-in for a file of the system's (a .cmd the system runs).
        std::string target = stage.folder + "\\system.cmd";
        ASSERT_TRUE(write_file(target, "@echo off\r\n"));
        std::string host_folder = host_path(stage.folder);
        ASSERT_FALSE(host_folder.empty());
        std::string command = c.make;
        const std::pair<std::string, std::string> fills[] = {{"%L", host_path(stage.folder + "\\run.log")},
                                                             {"%T", host_path(target)},
                                                             {"%F", host_folder}};
        for (const auto& fill : fills) {
            for (size_t at = command.find(fill.first); at != std::string::npos; at = command.find(fill.first))
                command.replace(at, 2, fill.second);
        }
        ASSERT_TRUE(host_shell(command)) << c.name;
        std::string log = stage.folder + "\\" + c.log;
        for (int i = 0; i < 500 && GetFileAttributesA(log.c_str()) == INVALID_FILE_ATTRIBUTES &&
                        GetFileAttributesA((stage.folder + "\\linked").c_str()) == INVALID_FILE_ATTRIBUTES;
             ++i)
            Sleep(20);

        DriveResult logged = run(stage, std::string("/u x.inf /l ") + c.log);
        EXPECT_EQ(logged.exit_code, 0u) << c.name;
        EXPECT_EQ(read_file(target), "@echo off\r\n") << c.name;
        EXPECT_EQ(list_names(stage.folder + "\\elsewhere\\*"), std::vector<std::string>()) << c.name;
        std::vector<std::string> lines = said(logged);
        ASSERT_EQ(lines.size(), 1u) << c.name;
        EXPECT_EQ(lines[0].rfind("Tavenor: the log file " + log + " " + c.refused, 0), 0u) << lines[0];
        host_shell("rm -rf '" + host_folder + "/linked' '" + host_folder + "/elsewhere'");
    }
}

TEST(LogFile, AFolderPlantedAtTheOlderGenerationLeavesTheRunInItsFile)
{
    Stage stage = make_stage(test_name(), Library::full);
    std::string log = stage.folder + "\\run.log";
    std::string old_lines;
    while (old_lines.size() + 100 < trace_log_max_bytes)
        old_lines += "2026-01-01 00:00:00.000\t1\t" + std::string(72, 'o') + "\r\n";
    ASSERT_TRUE(write_file(log, old_lines));
    ASSERT_TRUE(make_dirs(log + ".1"));

    DriveResult logged = run(stage, "/i x.inf /l run.log");
    EXPECT_EQ(logged.exit_code, 0u);
    EXPECT_TRUE(dir_exists(log + ".1"));
    // The whole run follows the old lines in the one file, past its bound.
    std::string bytes = read_file(log);
    ASSERT_EQ(bytes.compare(0, old_lines.size(), old_lines), 0);
    std::vector<LogLine> lines = read_log(bytes.substr(old_lines.size()));
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines.front().text, std::regex("Tavenor [0-9.]+ started")));
    EXPECT_EQ(lines.back().text, exit_0);
    std::vector<std::string> told = said(logged);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("cannot move to its older generation"), std::string::npos) << told[0];
}

// A process that takes the log's turn and never gives it back costs a run
// its total wait once, not a wait per line.
TEST(LogFile, AHeldTurnCostsARunItsBudgetOnceAndEveryLineIsWritten)
{
    Stage stage = make_stage(test_name(), Library::full, "uninstall 2 0\ninstall 0\n");
    std::string log = stage.folder + "\\run.log";
    LogFileProblem problem;
    HANDLE turn = log_turn_open(log.c_str(), &problem);
    ASSERT_NE(turn, nullptr);
    ASSERT_EQ(WaitForSingleObject(turn, 0), static_cast<DWORD>(WAIT_OBJECT_0));

    DriveResult logged = run(stage, "/u x.inf /l run.log");
    ReleaseMutex(turn);
    CloseHandle(turn);
    EXPECT_EQ(logged.exit_code, 0u);
    std::vector<LogLine> lines = read_log(read_file(log));
    ASSERT_GT(lines.size(), 10u);
    EXPECT_TRUE(std::regex_match(lines.front().text, std::regex("Tavenor [0-9.]+ started")));
    EXPECT_EQ(lines.back().text, exit_0);
    // Ten seconds of waiting in all, and the run's own steps: a wait per
    // line would take over a minute and a half.
    EXPECT_LT(logged.elapsed_ms, 90000u);
    int told = 0;
    for (const std::string& line : said(logged))
        told += line.find("was not given its turn") != std::string::npos;
    EXPECT_EQ(told, 1);
}

} // namespace
