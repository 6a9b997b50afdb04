// Which models-section decorations and catalog keys apply, as Microsoft's
// pages "INF Manufacturer section" and "Combining platform extensions with
// operating system versions" describe them.  The expected values were
// written from those pages.
#include <gtest/gtest.h>

#include <wchar.h>

#include "backend/inf_rules.h"

namespace {

// Windows 10 workstation with the Terminal Services single-user suite bit.
OsVersion windows10(unsigned build)
{
    return {10, 0, build, 1, 0x0100};
}

struct DecorationCase {
    const wchar_t* decoration;
    Architecture machine;
    unsigned build;
    bool applies;
};

TEST(InfRules, WhichDecorationsApply)
{
    const DecorationCase cases[] = {
        // decoration                    machine              build  applies
        {L"NTamd64", Architecture::amd64, 19041, true},
        {L"ntAMD64", Architecture::amd64, 19041, true},
        // Architecture is required in models section names off x86.
        {L"NT", Architecture::amd64, 19041, false},
        {L"NT", Architecture::arm64, 19041, false},
        {L"NT", Architecture::x86, 19041, true},
        {L"NTx86", Architecture::amd64, 19041, false},
        {L"NTamd64", Architecture::arm64, 19041, false},
        {L"NTarm64.10.0", Architecture::arm64, 19041, true},
        {L"NTamd64.6.3", Architecture::amd64, 19041, true},
        {L"NTamd64.10.1", Architecture::amd64, 19041, false},
        {L"NTamd64.11", Architecture::amd64, 19041, false},
        // Product type 1 (workstation) and the suite bits the machine has.
        {L"NTamd64.10.0.1", Architecture::amd64, 19041, true},
        {L"NTamd64.10.0.3", Architecture::amd64, 19041, false},
        // Written in hex, as the page writes the VER_NT_xxx values.
        {L"NTamd64.10.0.0x0000001", Architecture::amd64, 19041, true},
        {L"NTamd64.10.0.0x0000003", Architecture::amd64, 19041, false},
        {L"NTamd64.10.0..0x0100", Architecture::amd64, 19041, true},
        {L"NTamd64.10.0..0x0002", Architecture::amd64, 19041, false},
        // Build numbers: not newer than the running one, and read only from
        // 1607 (build 14310) on.
        {L"NTamd64.10.0...19041", Architecture::amd64, 19041, true},
        {L"NTamd64.10.0...22000", Architecture::amd64, 19041, false},
        {L"NTamd64.10.0...14393", Architecture::amd64, 14393, true},
        {L"NTamd64.10.0...10240", Architecture::amd64, 10586, false},
        // A build counts only where major.minor are the running ones: an
        // older version's section applies whatever its build.
        {L"NTamd64.6.3...99999", Architecture::amd64, 19041, true},
        // Decimal, not octal: "019042" is 19042, newer than 19041.
        {L"NTamd64.10.0...019042", Architecture::amd64, 19041, false},
        {L"NTamd64.10.x", Architecture::amd64, 19041, false},
        {L"NTamd64.10.0.1.0x0100.19041.5", Architecture::amd64, 19041, false},
        {L"XPamd64", Architecture::amd64, 19041, false},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const DecorationCase& c = cases[i];
        EXPECT_EQ(decoration_fit(c.decoration, c.machine, windows10(c.build)).applies, c.applies)
            << "row " << i << ": " << static_cast<const void*>(c.decoration);
    }
}

TEST(InfRules, TheClosestDecorationWins)
{
    // Each pair: the first fits Windows 10 19041 on x64 more closely.
    const wchar_t* pairs[][2] = {
        {L"NTamd64.10.0...19041", L"NTamd64.10.0"},
        {L"NTamd64.10.0", L"NTamd64.6.3"},
        {L"NTamd64.6.3", L"NTamd64"},
        {L"NTamd64.10.0.1", L"NTamd64.10.0"},
        {L"NTamd64", L"NTamd64.10.0.3"},  // one that applies beats one that does not
    };
    for (size_t i = 0; i < sizeof pairs / sizeof pairs[0]; ++i) {
        DecorationFit closer = decoration_fit(pairs[i][0], Architecture::amd64, windows10(19041));
        DecorationFit farther = decoration_fit(pairs[i][1], Architecture::amd64, windows10(19041));
        EXPECT_TRUE(fit_better(closer, farther)) << "pair " << i;
        EXPECT_FALSE(fit_better(farther, closer)) << "pair " << i;
    }
    // A decoration that does not apply is never taken, however much it names.
    DecorationFit none = {false, 0, 0, 0, 0};
    EXPECT_FALSE(fit_better(decoration_fit(L"NTamd64.99.0", Architecture::amd64, windows10(19041)), none));
}

TEST(InfRules, CatalogKeysMostSpecificFirst)
{
    const wchar_t* keys[catalog_key_count];
    catalog_keys(Architecture::arm64, keys);
    EXPECT_EQ(wcscmp(keys[0], L"CatalogFile.NTarm64"), 0);
    EXPECT_EQ(wcscmp(keys[1], L"CatalogFile.NT"), 0);
    EXPECT_EQ(wcscmp(keys[2], L"CatalogFile"), 0);
}

} // namespace
