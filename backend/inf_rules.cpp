// Models-section decorations and catalog keys, as Microsoft's pages on the
// INF Manufacturer section and on combining platform extensions with
// operating system versions describe them.
#include "backend/inf_rules.h"

#include <wchar.h>
#include <wctype.h>

namespace {

bool equal_letters(const wchar_t* a, size_t length, const wchar_t* b)
{
    size_t i = 0;
    for (; i < length && b[i] != L'\0'; ++i) {
        if (towlower(a[i]) != towlower(b[i]))
            return false;
    }
    return i == length && b[i] == L'\0';
}

// Each architecture's decoration and its own catalog key.
struct ArchitectureNames {
    Architecture machine;
    const wchar_t* name;
    const wchar_t* catalog_key;
};

const ArchitectureNames architectures[] = {
    {Architecture::x86, L"x86", L"CatalogFile.NTx86"},
    {Architecture::amd64, L"amd64", L"CatalogFile.NTamd64"},
    {Architecture::arm64, L"arm64", L"CatalogFile.NTarm64"},
};

const ArchitectureNames* names_of(Architecture machine)
{
    for (const ArchitectureNames& names : architectures) {
        if (names.machine == machine)
            return &names;
    }
    return nullptr;
}

// The product type and the suite mask are flag words written in hex on the
// INF Manufacturer section page ("0x0000001", "0x00000080"); a bare number
// is taken as decimal like the version fields.
bool parse_mask(const wchar_t* text, size_t length, unsigned* value)
{
    if (length > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        unsigned out = 0;
        for (size_t i = 2; i < length; ++i) {
            unsigned digit;
            if (iswdigit(text[i]))
                digit = text[i] - L'0';
            else if (towlower(text[i]) >= L'a' && towlower(text[i]) <= L'f')
                digit = towlower(text[i]) - L'a' + 10;
            else
                return false;
            if (out > 0x0FFFFFFFu)
                return false;
            out = out * 16 + digit;
        }
        *value = out;
        return true;
    }
    return parse_decimal(text, length, value);
}

} // namespace

bool parse_decimal(const wchar_t* text, size_t length, unsigned* value)
{
    if (length == 0)
        return false;
    unsigned out = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        unsigned digit = static_cast<unsigned>(text[i] - L'0');
        if (out > (0xFFFFFFFFu - digit) / 10)
            return false;
        out = out * 10 + digit;
    }
    *value = out;
    return true;
}

DecorationFit decoration_fit(const wchar_t* decoration, Architecture machine, const OsVersion& os)
{
    DecorationFit fit = {false, 0, 0, 0, 0};
    if (towlower(decoration[0]) != L'n' || towlower(decoration[1]) != L't')
        return fit;
    const wchar_t* rest = decoration + 2;
    size_t arch_len = wcscspn(rest, L".");
    if (arch_len > 0) {
        const ArchitectureNames* own = names_of(machine);
        if (own == nullptr || !equal_letters(rest, arch_len, own->name))
            return fit;
        ++fit.named;
    } else if (!undecorated_models_apply(machine)) {
        // Architecture decorations are required on every non-x86 machine.
        return fit;
    }
    // The fields after the architecture, each of which may be left empty.
    enum { major_field, minor_field, type_field, suite_field, build_field, field_count };
    const wchar_t* at = rest + arch_len;
    bool given[field_count] = {};
    unsigned value[field_count] = {};
    for (int field = 0; *at == L'.'; ++field) {
        if (field == field_count)
            return fit;  // more fields than any Windows reads
        const wchar_t* text = at + 1;
        size_t len = wcscspn(text, L".");
        if (len > 0) {
            bool ok = field == suite_field || field == type_field ? parse_mask(text, len, &value[field])
                                                                  : parse_decimal(text, len, &value[field]);
            if (!ok)
                return fit;
            given[field] = true;
        }
        at = text + len;
    }
    if (value[major_field] > os.major || (value[major_field] == os.major && value[minor_field] > os.minor))
        return fit;
    if (given[type_field]) {
        if (value[type_field] != os.product_type)
            return fit;
        ++fit.named;
    }
    if (given[suite_field]) {
        if ((os.suite_mask & value[suite_field]) != value[suite_field])
            return fit;
        ++fit.named;
    }
    // A build number "is evaluated only when the OS major/minor version of
    // the TargetOSVersion matches the current OS version exactly"; a newer
    // running major.minor takes the section whatever its build (INF
    // Manufacturer section page).  Windows before 1607 does not read a
    // build number at all: a section written with one is not meant for it.
    bool same_version = value[major_field] == os.major && value[minor_field] == os.minor;
    if (given[build_field]) {
        if (os.build < first_build_with_build_decorations || (same_version && value[build_field] > os.build))
            return fit;
    }
    fit.applies = true;
    fit.major = value[major_field];
    fit.minor = value[minor_field];
    fit.build = same_version ? value[build_field] : 0;
    return fit;
}

bool fit_better(const DecorationFit& a, const DecorationFit& b)
{
    if (!a.applies)
        return false;
    if (!b.applies)
        return true;
    if (a.major != b.major)
        return a.major > b.major;
    if (a.minor != b.minor)
        return a.minor > b.minor;
    if (a.build != b.build)
        return a.build > b.build;
    return a.named > b.named;
}

void catalog_keys(Architecture machine, const wchar_t* keys[catalog_key_count])
{
    const ArchitectureNames* own = names_of(machine);
    keys[0] = own != nullptr ? own->catalog_key : L"CatalogFile.NT";
    keys[1] = L"CatalogFile.NT";
    keys[2] = L"CatalogFile";
}
