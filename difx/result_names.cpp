#include "difx/result_names.h"

#include <stdio.h>
#include <string.h>

#include "difx/difx_codes.h"

namespace {

struct ResultName {
    uint32_t code;
    const char* name;
    bool signature;  // a signature or catalog failure: the install retries in legacy mode
};

constexpr ResultName result_names[] = {
    {difx_success, "Success", false},
    {0x00000001, "ERROR_INVALID_FUNCTION", false},
    {difx_file_not_found, "ERROR_FILE_NOT_FOUND", false},
    {0x00000005, "ERROR_ACCESS_DENIED", false},
    {0x0000000A, "ERROR_BAD_ENVIRONMENT", false},
    {0x0000000E, "ERROR_OUTOFMEMORY", false},
    {0x00000020, "ERROR_SHARING_VIOLATION", false},
    {0x00000052, "ERROR_CANNOT_MAKE", false},
    {0x00000057, "ERROR_INVALID_PARAMETER", false},
    {0x0000007B, "ERROR_INVALID_NAME", false},
    {difx_already_exists, "ERROR_ALREADY_EXISTS", false},
    {0x000000CE, "ERROR_FILENAME_EXCED_RANGE", false},
    {0x00000780, "ERROR_CANT_ACCESS_FILE", false},
    {0x80092003, "CRYPT_E_FILE_ERROR", true},
    {0x800B0100, "TRUST_E_NOSIGNATURE", true},
    {0x800B0101, "CERT_E_EXPIRED", true},
    {0x800B0109, "CERT_E_UNTRUSTEDROOT", true},
    {0x800B0110, "CERT_E_WRONG_USAGE", true},
    {0xE0000203, "ERROR_NO_DRIVER_SELECTED", false},
    {0xE000022F, "ERROR_NO_CATALOG_FOR_OEM_INF", true},
    {difx_no_such_devinst, "ERROR_NO_SUCH_DEVINST", false},
    {0xE000023D, "ERROR_INF_IN_USE_BY_DEVICES", false},
    {0xE0000244, "ERROR_SIGNATURE_OSATTRIBUTE_MISMATCH", true},
    {difx_no_device_id, "ERROR_NO_DEVICE_ID", false},
    {difx_driver_store_miss, "ERROR_DRIVER_PACKAGE_NOT_IN_STORE", false},
    {0xE0000303, "ERROR_MISSING_FILE", true},
    {difx_invalid_catalog, "ERROR_INVALID_CATALOG_DATA", true},
};
static_assert(sizeof result_names / sizeof result_names[0] == 27, "27 named codes");

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

bool is_signature_failure(uint32_t code)
{
    for (const ResultName& entry : result_names) {
        if (entry.code == code)
            return entry.signature;
    }
    return false;
}

bool is_signature_failure_name(const char* name)
{
    for (const ResultName& entry : result_names) {
        if (strcmp(entry.name, name) == 0)
            return entry.signature;
    }
    return false;
}
