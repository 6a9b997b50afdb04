// Which parts of an INF apply to the running Windows: models-section
// decorations and catalog keys.  Pure rules over text and numbers, with
// no platform call, so that every case can be put in a table.
#pragma once

#include <stddef.h>

enum class Architecture { x86, amd64, arm64, other };

// The running Windows as the decorations name it.  Read from a call that a
// program's manifest cannot change (RtlGetVersion): GetVersionEx answers a
// program without a compatibility manifest with Windows 8's version.
struct OsVersion {
    unsigned major;
    unsigned minor;
    unsigned build;
    unsigned product_type;  // VER_NT_WORKSTATION 1, VER_NT_DOMAIN_CONTROLLER 2, VER_NT_SERVER 3
    unsigned suite_mask;
};

// The first build that reads a build number in a decoration (Windows 10
// version 1607 previews onwards).
constexpr unsigned first_build_with_build_decorations = 14310;

// How closely a decoration "NT[arch][.major[.minor[.type[.suite[.build]]]]]"
// (letter case aside) fits the machine; comparable with fit_better.
struct DecorationFit {
    bool applies;
    unsigned major, minor, build;  // what the decoration asks for (0 where left out)
    int named;                     // how many of architecture, type, suite it names
};

DecorationFit decoration_fit(const wchar_t* decoration, Architecture machine, const OsVersion& os);

// True when a fits more closely than b: a newer version, then more named.
bool fit_better(const DecorationFit& a, const DecorationFit& b);

// Whether an undecorated models section may be used: only on x86, where a
// section without an architecture is the x86 one; every other machine
// needs its architecture in the section's name.
inline bool undecorated_models_apply(Architecture machine)
{
    return machine == Architecture::x86;
}

// The [Version] keys that name a package's catalog, most specific first:
// "CatalogFile.NT<arch>", "CatalogFile.NT", "CatalogFile".
constexpr size_t catalog_key_count = 3;
void catalog_keys(Architecture machine, const wchar_t* keys[catalog_key_count]);

// A decimal field ("10", "019041"): digits only, no sign, no base prefix,
// no overflow.  Returns false for anything else.
bool parse_decimal(const wchar_t* text, size_t length, unsigned* value);
