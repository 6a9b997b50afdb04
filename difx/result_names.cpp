#include "difx/result_names.h"

#include <stdio.h>

namespace {

struct ResultName {
    uint32_t code;
    const char* name;
};

constexpr ResultName result_names[] = {
    {0x00000000, "Success"},
    {0x00000001, "ERROR_INVALID_FUNCTION"},
    {0x00000002, "ERROR_FILE_NOT_FOUND"},
    {0x00000005, "ERROR_ACCESS_DENIED"},
    {0x0000000A, "ERROR_BAD_ENVIRONMENT"},
    {0x0000000E, "ERROR_OUTOFMEMORY"},
    {0x00000020, "ERROR_SHARING_VIOLATION"},
    {0x00000052, "ERROR_CANNOT_MAKE"},
    {0x00000057, "ERROR_INVALID_PARAMETER"},
    {0x0000007B, "ERROR_INVALID_NAME"},
    {0x000000B7, "ERROR_ALREADY_EXISTS"},
    {0x000000CE, "ERROR_FILENAME_EXCED_RANGE"},
    {0x00000780, "ERROR_CANT_ACCESS_FILE"},
    {0x80092003, "CRYPT_E_FILE_ERROR"},
    {0x800B0100, "TRUST_E_NOSIGNATURE"},
    {0x800B0101, "CERT_E_EXPIRED"},
    {0x800B0109, "CERT_E_UNTRUSTEDROOT"},
    {0x800B0110, "CERT_E_WRONG_USAGE"},
    {0xE000020B, "ERROR_NO_SUCH_DEVINST"},
    {0xE0000244, "ERROR_SIGNATURE_OSATTRIBUTE_MISMATCH"},
    {0xE0000303, "ERROR_MISSING_FILE"},
    {0xE0000304, "ERROR_INVALID_CATALOG_DATA"},
};
static_assert(sizeof result_names / sizeof result_names[0] == 22, "22 named codes");

// "Unknown:0x" and eight digits: 18 characters and the NUL.
char unknown_code_text[64];

} // namespace

const char* result_code_name(uint32_t code)
{
    for (const ResultName& entry : result_names) {
        if (entry.code == code)
            return entry.name;
    }
    snprintf(unknown_code_text, sizeof unknown_code_text, "Unknown:0x%08X", static_cast<unsigned>(code));
    return unknown_code_text;
}
