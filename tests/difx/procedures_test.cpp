#include <gtest/gtest.h>
#include <algorithm>

#include <string>
#include <vector>

#include "difx/named_results.h"
#include "difx/procedures.h"
#include "difx/scripted_library.h"
#include "support/viewer_window.h"
#include "tracelib/trace.h"

namespace {

// Whatever a case does, the real pause and a quiet trace come back after it.
class Procedures : public testing::Test {
protected:
    void TearDown() override
    {
        end_script();
        g_debug_trace = 0;
    }
};

constexpr uint32_t sig_expired = 0x800B0101;
constexpr uint32_t sig_nosignature = 0x800B0100;
constexpr uint32_t no_such_devinst = 0xE000020B;
const char inf[] = "C:\\pkg\\x.inf";

struct ProcedureRun {
    std::vector<std::string> calls;
    uint32_t result;
    std::vector<std::string> lines;
    int bad_arguments;
};

enum class Procedure { install, uninstall };

ProcedureRun run(Procedure procedure, uint32_t flags, const std::vector<uint32_t>& preinstall,
        const std::vector<uint32_t>& install, const std::vector<uint32_t>& uninstall, bool tracing)
{
    ViewerWindow viewer;
    ScriptedLibrary script;
    script.preinstall_results = preinstall;
    script.install_results = install;
    script.uninstall_results = uninstall;
    int32_t reboot = 0;
    script.expected_reboot = &reboot;
    DifxEntryPoints entry_points = use_script(&script);
    g_debug_trace = tracing ? 1 : 0;
    ProcedureRun r;
    r.result = procedure == Procedure::install ? install_package(inf, flags, &reboot, &entry_points)
                                               : uninstall_package(inf, flags, &reboot, &entry_points);
    g_debug_trace = 0;
    end_script();
    r.calls = script.calls;
    r.bad_arguments = script.bad_arguments;
    for (const ViewerMessage& m : viewer.messages())
        r.lines.push_back(m.bytes);
    EXPECT_EQ(reboot, 0) << "the procedures never write the reboot flag themselves";
    for (const std::string& path : script.inf_paths)
        EXPECT_EQ(path, inf);
    return r;
}

// Runs the case with tracing off and on: the calls, pauses and result must
// not depend on it, and without tracing nothing is traced.
ProcedureRun run_both_ways(Procedure procedure, uint32_t flags, const std::vector<uint32_t>& preinstall,
                  const std::vector<uint32_t>& install, const std::vector<uint32_t>& uninstall)
{
    ProcedureRun quiet = run(procedure, flags, preinstall, install, uninstall, false);
    ProcedureRun traced = run(procedure, flags, preinstall, install, uninstall, true);
    EXPECT_EQ(join_calls(quiet.calls), join_calls(traced.calls));
    EXPECT_EQ(quiet.result, traced.result);
    EXPECT_TRUE(quiet.lines.empty());
    EXPECT_EQ(quiet.bad_arguments, 0);
    EXPECT_EQ(traced.bad_arguments, 0);
    return traced;
}

struct UninstallCase {
    uint32_t flags;
    std::vector<uint32_t> results;  // of the uninstall entry point
    const char* calls;              // U/I with their flag words, P = pause
    uint32_t result;
};

// caller flags, uninstall results, calls and pauses, result.  A repair
// keeps the silent flag of the uninstall and leaves its DELETE_FILES out.
const UninstallCase uninstall_cases[] = {
    {0x20, {0}, "U22 P", 0},
    {0x20, {5}, "U22", 5},
    {0x20, {3}, "U22", 3},
    {0x20, {183}, "U22", 183},
    {0x20, {2, 0}, "U22 I3 P U22 P", 0},
    {0x20, {2, 183}, "U22 I3 P U22", 183},
    {0x20, {2, 2, 0}, "U22 I3 P U22 I3 P U22 P", 0},
    {0x20, {2, 2, 5}, "U22 I3 P U22 I3 P U22", 5},
    {0x20, {2, 2, 2}, "U22 I3 P U22 I3 P U22 I3 P", 2},
    {0x04, {2, 0}, "U26 I7 P U26 P", 0},
    {0x36, {2, 2, 2}, "U36 I17 P U36 I17 P U36 I17 P", 2},
};

TEST_F(Procedures, UninstallCallTable)
{
    int row = 0;
    for (const UninstallCase& c : uninstall_cases) {
        // The repair calls' results are ignored: make them fail.
        ProcedureRun r = run_both_ways(Procedure::uninstall, c.flags, {}, {5, 5, 5}, c.results);
        EXPECT_EQ(join_calls(r.calls), c.calls) << "row " << row;
        EXPECT_EQ(r.result, c.result) << "row " << row;
        ++row;
    }
}

TEST_F(Procedures, UninstallLines)
{
    const std::string header = "Call DriverPackageUninstall with\n    Path: C:\\pkg\\x.inf\n   Flag: 00000004\n";
    const std::string missing = "Uninstall failed because file missing, now try to install/repare it first.";
    EXPECT_EQ(run(Procedure::uninstall, 4, {}, {}, {0}, true).lines,
              (std::vector<std::string>{header, "Call DriverPackageUninstall Succeed."}));
    EXPECT_EQ(run(Procedure::uninstall, 4, {}, {}, {5}, true).lines,
              (std::vector<std::string>{header, "Call DriverPackageUninstall failed: ERROR_ACCESS_DENIED"}));
    EXPECT_EQ(run(Procedure::uninstall, 4, {}, {}, {3}, true).lines,
              (std::vector<std::string>{header, "Call DriverPackageUninstall failed: Unknown:0x00000003"}));
    EXPECT_EQ(run(Procedure::uninstall, 4, {}, {}, {2, 2, 2}, true).lines,
              (std::vector<std::string>{header, missing, missing, missing}));
}

struct InstallCase {
    const char* what;
    uint32_t flags;
    std::vector<uint32_t> preinstall;
    std::vector<uint32_t> install;
    const char* calls;  // S = preinstall, I = install, U = uninstall, with flag words; P = pause
    uint32_t result;
    std::vector<uint32_t> uninstall = {0, 0, 0, 0};  // the clearing uninstalls' results
};

// The clearing uninstalls succeed (U26 then its pause) unless a case says otherwise.
const InstallCase install_cases[] = {
    {"all succeed", 0, {0}, {0, 0}, "S0 I0 P I1 P", 0},
    {"183 four times in staging", 0, {183, 183, 183, 183}, {0, 0},
     "S0 U26 P S0 U26 P S0 U26 P S0 U26 P I0 P I1 P", 0},
    {"expired, then 183 three times", 0, {sig_expired, 183, 183, 183}, {0, 0},
     "S0 S10 U26 P S10 U26 P S10 U26 P I10 P I11 P", 0},
    {"a signature code four times", 2, {sig_nosignature, sig_nosignature, sig_nosignature, sig_nosignature}, {},
     "S2 S10 S10 S10", sig_nosignature},
    {"/s and a first expired", 2, {sig_expired, 0}, {0, 0}, "S2 S10 I10 P I11 P", 0},
    {"caller already in legacy mode", 0x10, {sig_expired, 0}, {0, 0}, "S10 S10 I10 P I11 P", 0},
    {"force stays through legacy mode", 0x6, {sig_expired, 0}, {0, 0}, "S6 S14 I14 P I15 P", 0},
    {"no such devinst in staging", 0, {no_such_devinst}, {}, "S0", no_such_devinst},
    {"file not found in staging", 0, {2}, {}, "S0", 2},
    {"183 three times in installing", 0, {0}, {183, 183, 183}, "S0 I0 I1 I1", 183},
    {"no such devinst, then 183", 0, {0}, {no_such_devinst, 183}, "S0 I0 I1", 183},
    {"no such devinst, then 0", 2, {0}, {no_such_devinst, 0}, "S2 I2 I3", 0},
    {"a signature code, then 0", 2, {0}, {sig_expired, 0, 0}, "S2 I2 I10 P I11 P", 0},
    {"0, then a repair giving 5", 0, {0}, {0, 5}, "S0 I0 P I1 P", 5},
    {"183, a signature code, then 0", 2, {0}, {183, sig_expired, 0, 0}, "S2 I2 I3 I11 P I11 P", 0},
    {"183, 183, then a signature code", 0, {0}, {183, 183, sig_nosignature}, "S0 I0 I1 I1", sig_nosignature},
    {"an unknown code in installing", 0, {0}, {0x1234}, "S0 I0", 0x1234},
    {"183 while the clearing uninstalls fail", 0, {183, 183, 0}, {0, 0}, "S0 U26 S0 U26 S0 I0 P I1 P", 0, {5, 5}},
};

TEST_F(Procedures, InstallCallTable)
{
    for (const InstallCase& c : install_cases) {
        ProcedureRun r = run_both_ways(Procedure::install, c.flags, c.preinstall, c.install, c.uninstall);
        EXPECT_EQ(join_calls(r.calls), c.calls) << c.what;
        EXPECT_EQ(r.result, c.result) << c.what;
    }
}

TEST_F(Procedures, EverySignatureFailureSwitchesBothPhasesToLegacyMode)
{
    for (const NamedResult& c : named_results) {
        ProcedureRun staging = run(Procedure::install, 2, {c.code, 0}, {0, 0}, {}, false);
        ProcedureRun installing = run(Procedure::install, 2, {0}, {c.code, 0, 0}, {}, false);
        if (c.signature) {
            EXPECT_EQ(join_calls(staging.calls), "S2 S10 I10 P I11 P") << c.name;
            EXPECT_EQ(join_calls(installing.calls), "S2 I2 I10 P I11 P") << c.name;
        } else if (c.code != 0 && c.code != 183 && c.code != no_such_devinst) {
            EXPECT_EQ(join_calls(staging.calls), "S2") << c.name;
            EXPECT_EQ(join_calls(installing.calls), "S2 I2") << c.name;
        }
    }
}

TEST_F(Procedures, InstallLinesWhenAllSucceed)
{
    ProcedureRun r = run(Procedure::install, 0x10, {0}, {0, 0}, {}, true);
    EXPECT_EQ(r.lines, (std::vector<std::string>{
                           "Calling DriverPackagePreinstall with path:C:\\pkg\\x.inf, flag = 00000010",
                           "DriverPackagePreinstall returned Success",
                           "Call DriverPackagePreinstall succeed",
                           "Calling DriverPackageInstall with path:C:\\pkg\\x.inf, flag = 00000010",
                           "DriverPackageInstall returned Success",
                           "Call DriverPackageInstall Succeed.",
                       }));
}

TEST_F(Procedures, InstallLinesOfRetriesAndFailures)
{
    ProcedureRun staged = run(Procedure::install, 0, {183, 183, 183, 183}, {0, 0}, {0, 0, 0, 0}, true);
    // Each clearing uninstall traces its two lines; the last comes before the assumption.
    ASSERT_GE(staged.lines.size(), 3u);
    auto assume = std::find(staged.lines.begin(), staged.lines.end(),
                            "After retry, Previnstall failed with ERROR_ALREADY_EXISTS, assume it success");
    ASSERT_NE(assume, staged.lines.end());
    EXPECT_EQ(*(assume - 1), "Call DriverPackageUninstall Succeed.");
    EXPECT_EQ(*(assume + 1), "Call DriverPackagePreinstall succeed");
    EXPECT_EQ(std::count(staged.lines.begin(), staged.lines.end(), "DriverPackagePreinstall returned ERROR_ALREADY_EXISTS"), 4);

    ProcedureRun repair = run(Procedure::install, 0, {0}, {0, 5}, {}, true);
    ASSERT_FALSE(repair.lines.empty());
    EXPECT_EQ(repair.lines.back(), "Call DriverPackageInstall failed: ERROR_ACCESS_DENIED");
    // The repair call has no lines of its own.
    EXPECT_EQ(std::count(repair.lines.begin(), repair.lines.end(), "DriverPackageInstall returned Success"), 1);

    ProcedureRun failed = run(Procedure::install, 0, {2}, {}, {}, true);
    EXPECT_EQ(failed.lines.back(), "Call DriverPackagePreinstall failed: ERROR_FILE_NOT_FOUND");

    ProcedureRun unknown = run(Procedure::install, 0, {0}, {0x1234}, {}, true);
    EXPECT_EQ(unknown.lines.back(), "Call DriverPackageInstall failed: Unknown:0x00001234");
}

} // namespace
