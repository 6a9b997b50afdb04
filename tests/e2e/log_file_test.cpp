// /l for real: what the file holds next to what /d shows, two runs writing
// one file at once, the size bound, and a log that cannot be opened.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/exit_codes.h"
#include "e2e/stage.h"
#include "support/test_files.h"
#include "tracelib/trace_log.h"

namespace {

struct LogLine {
    std::string time;
    unsigned long pid = 0;
    std::string text;
};

// The file's lines; every one must have the layout
// "YYYY-MM-DD HH:MM:SS.mmm<TAB>pid<TAB>text" and end in CR LF.
std::vector<LogLine> read_log(const std::string& path)
{
    static const std::regex layout("(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3})\t(\\d+)\t([^\r\n]*)");
    std::string bytes = read_file(path);
    std::vector<LogLine> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "the last line has no CR LF: " << bytes.substr(start, 80);
        if (end == std::string::npos)
            break;
        std::string line = bytes.substr(start, end - start);
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, layout)) << "not a whole line: " << line.substr(0, 200);
        if (m.size() == 4)
            lines.push_back({m[1], strtoul(m[2].str().c_str(), nullptr, 10), m[3]});
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> texts(const std::vector<LogLine>& lines)
{
    std::vector<std::string> out;
    for (const LogLine& line : lines)
        out.push_back(line.text);
    return out;
}

// What /d sends, as the file holds it: the echo and its line feed are not
// in the file (its header says the command line), and a line with line
// feeds in it becomes one line per part.
std::vector<std::string> as_filed(const std::vector<std::string>& traced)
{
    std::vector<std::string> out;
    for (size_t i = 2; i < traced.size(); ++i) {
        std::string line = traced[i];
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        size_t start = 0;
        for (size_t feed; (feed = line.find('\n', start)) != std::string::npos; start = feed + 1)
            out.push_back(line.substr(start, feed - start));
        out.push_back(line.substr(start));
    }
    return out;
}

// An uninstall that repairs a missing file, with log events of the library.
const char uninstall_plan[] = "uninstall 2 0\ninstall 0\nlog uninstall * 1 0 Removing the package\n";

TEST(LogFile, HoldsWhatDebugTracesWithoutChangingWhatTheMonitorsGet)
{
    Stage stage = make_stage(test_name(), Library::full, uninstall_plan);
    DriveResult debug = run(stage, "/u x.inf /d");
    DriveResult plain = run(stage, "/u x.inf");
    DriveResult logged = run(stage, "/u x.inf /l run.log");
    DriveResult both = run(stage, "/u x.inf /d /LOG both.log");

    bool paired = false;
    std::vector<std::string> traced = trace_lines(debug, &paired);
    ASSERT_GT(traced.size(), 4u);
    // Without /d the monitors get the echo alone, as before.
    EXPECT_EQ(trace_lines(logged, &paired), (std::vector<std::string>{"/u x.inf /l run.log", "\n"}));
    EXPECT_EQ(viewer_lines(logged).size(), viewer_lines(plain).size());
    // With both, the monitors get what /d alone gives them.
    std::vector<std::string> both_traced = trace_lines(both, &paired);
    EXPECT_EQ(std::vector<std::string>(both_traced.begin() + 2, both_traced.end()),
              std::vector<std::string>(traced.begin() + 2, traced.end()));
    for (const DriveResult* r : {&debug, &plain, &logged, &both})
        EXPECT_EQ(r->exit_code, 0u);

    for (const char* name : {"run.log", "both.log"}) {
        std::vector<LogLine> lines = read_log(stage.folder + "\\" + name);
        ASSERT_GE(lines.size(), 6u) << name;
        std::vector<std::string> text = texts(lines);
        EXPECT_EQ(text[0].rfind("Tavenor ", 0), 0u) << text[0];
        EXPECT_EQ(text[0].substr(text[0].size() - 8), " started");
        EXPECT_NE(text[1].find("Tavenor.exe\" /u x.inf "), std::string::npos) << text[1];
        EXPECT_TRUE(std::regex_match(text[2], std::regex("Windows \\d+\\.\\d+ build \\d+"))) << text[2];
        EXPECT_TRUE(std::regex_match(text[3], std::regex("(Elevated|Not elevated), account .+\\\\.+"))) << text[3];
        EXPECT_EQ(text[4], "Library: " + stage.folder + "\\DifxApix64.dll");
        EXPECT_EQ(std::vector<std::string>(text.begin() + 5, text.end() - 1), as_filed(traced)) << name;
        EXPECT_EQ(text.back(), std::string("Exit code 0: ") + exit_code_meaning(0));
        for (const LogLine& line : lines)
            EXPECT_EQ(line.pid, lines[0].pid) << name;
    }
}

struct Process {
    PROCESS_INFORMATION info = {};
    bool started = false;
};

Process start_suspended(const Stage& stage, const std::string& tail)
{
    Process p;
    std::string command = "\"" + stage.exe + "\" " + tail;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    p.started = CreateProcessA(stage.exe.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                               stage.folder.c_str(), &startup, &p.info) != 0;
    return p;
}

TEST(LogFile, TwoRunsAppendingAtOnceWriteWholeLines)
{
    // Each run writes a burst of long lines without a pause: 32 library log
    // events in each of four staging calls (a signature failure three
    // times, then legacy mode) and three installing calls (183 each time).
    std::string plan = "preinstall 0x800B0100 0x800B0100 0x800B0100 0\ninstall 183\n";
    for (int i = 0; i < 64; ++i) {
        plan += std::string("log ") + (i < 32 ? "preinstall" : "install") + " * 1 0 event " + std::to_string(i) +
                " " + std::string(200, static_cast<char>('a' + i % 26)) + "\n";
    }
    Stage stages[2] = {make_stage(test_name() + "_a", Library::full, plan),
                       make_stage(test_name() + "_b", Library::full, plan)};
    // The runs' bursts overlap only now and then: several rounds make a
    // line cut by the other run's line show.
    for (int round = 0; round < 16; ++round) {
        std::string log = fresh_work_folder(test_name()) + "\\shared.log";
        Process runs[2];
        for (int i = 0; i < 2; ++i) {
            runs[i] = start_suspended(stages[i], "/i x.inf /l \"" + log + "\"");
            ASSERT_TRUE(runs[i].started) << GetLastError();
        }
        // Resumed together, the two do the same steps at the same time.
        for (Process& p : runs)
            ResumeThread(p.info.hThread);
        std::map<unsigned long, int> lines_of, events_of;
        for (Process& p : runs) {
            EXPECT_EQ(WaitForSingleObject(p.info.hProcess, 60000), WAIT_OBJECT_0);
            DWORD code = 99;
            GetExitCodeProcess(p.info.hProcess, &code);
            EXPECT_EQ(code, 2u);
            lines_of[p.info.dwProcessId] = 0;
            CloseHandle(p.info.hThread);
            CloseHandle(p.info.hProcess);
        }

        for (const LogLine& line : read_log(log)) {
            ASSERT_EQ(lines_of.count(line.pid), 1u) << "round " << round << ": " << line.pid;
            ++lines_of[line.pid];
            if (line.text.rfind("LOG Event: 1, event ", 0) == 0) {
                ++events_of[line.pid];
                int i = atoi(line.text.c_str() + 20);
                EXPECT_EQ(line.text.substr(line.text.find(' ', 20) + 1),
                          std::string(200, static_cast<char>('a' + i % 26)))
                    << "round " << round;
            }
        }
        for (const auto& run : lines_of) {
            EXPECT_EQ(events_of[run.first], 7 * 32) << "round " << round << ", pid " << run.first;
            EXPECT_EQ(run.second, lines_of.begin()->second) << "round " << round << ", pid " << run.first;
        }
    }
}

struct BoundCase {
    const char* what;
    size_t before;       // bytes in the file before the run
    bool whole_run_new;  // the run's lines all stand in the new file
};

TEST(LogFile, AFullFileMovesToItsOlderGenerationAndNothingIsLost)
{
    // A file past the bound already, one that the run's second line fills.
    const BoundCase cases[] = {
        {"past the bound", static_cast<size_t>(trace_log_max_bytes) + 1024 * 1024, true},
        {"filled by the run", static_cast<size_t>(trace_log_max_bytes) - 100, false},
    };
    for (const BoundCase& c : cases) {
        Stage stage = make_stage(test_name(), Library::full);
        std::string log = stage.folder + "\\run.log";
        std::string old_bytes(c.before, 'o');
        for (size_t i = 99; i < old_bytes.size(); i += 100)
            old_bytes[i] = '\n';
        ASSERT_TRUE(write_file(log, old_bytes));
        ASSERT_TRUE(write_file(log + ".1", "the generation before"));

        DriveResult r = run(stage, "/i x.inf /l run.log");
        EXPECT_EQ(r.exit_code, 0u) << c.what;
        std::string older = read_file(log + ".1");
        std::string newer = read_file(log);
        ASSERT_GE(older.size(), old_bytes.size()) << c.what;
        EXPECT_EQ(older.compare(0, old_bytes.size(), old_bytes), 0) << c.what;
        if (c.whole_run_new)
            EXPECT_EQ(older.size(), old_bytes.size()) << c.what;
        else
            EXPECT_LE(older.size(), trace_log_max_bytes) << c.what;
        EXPECT_LE(newer.size(), trace_log_max_bytes) << c.what;
        std::vector<LogLine> run_lines = read_log(log);
        if (!c.whole_run_new) {
            // The lines that fitted stay before the move; together the two
            // files hold the run whole and in order.
            std::string moved = older.substr(old_bytes.size());
            write_file(stage.folder + "\\moved.log", moved);
            std::vector<LogLine> first = read_log(stage.folder + "\\moved.log");
            EXPECT_EQ(first.size(), 1u) << c.what;
            run_lines.insert(run_lines.begin(), first.begin(), first.end());
        }
        ASSERT_FALSE(run_lines.empty()) << c.what;
        EXPECT_EQ(run_lines.front().text.rfind("Tavenor ", 0), 0u) << c.what;
        EXPECT_EQ(run_lines.back().text, std::string("Exit code 0: ") + exit_code_meaning(0)) << c.what;
    }
}

TEST(LogFile, ALogThatCannotBeOpenedChangesNothingButOneDebuggerLine)
{
    Stage stage = make_stage(test_name(), Library::full, uninstall_plan);
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
    EXPECT_EQ(lines[2].rfind("Tavenor: the log file " + stage.folder + "\\missing\\run.log could not be opened", 0),
              0u)
        << lines[2];
    EXPECT_EQ(viewer_lines(logged).size(), viewer_lines(plain).size());
}

} // namespace
