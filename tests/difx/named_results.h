// Every result code Tavenor names, written out here independently of the
// product's table, with whether the install treats it as a signature failure.
#pragma once

#include <stdint.h>

struct NamedResult {
    uint32_t code;
    const char* name;
    bool signature;
};

inline const NamedResult named_results[] = {
    {0x00000000, "Success", false},
    {0x00000001, "ERROR_INVALID_FUNCTION", false},
    {0x00000002, "ERROR_FILE_NOT_FOUND", false},
    {0x00000005, "ERROR_ACCESS_DENIED", false},
    {0x0000000A, "ERROR_BAD_ENVIRONMENT", false},
    {0x0000000E, "ERROR_OUTOFMEMORY", false},
    {0x00000020, "ERROR_SHARING_VIOLATION", false},
    {0x00000052, "ERROR_CANNOT_MAKE", false},
    {0x00000057, "ERROR_INVALID_PARAMETER", false},
    {0x0000007B, "ERROR_INVALID_NAME", false},
    {0x000000B7, "ERROR_ALREADY_EXISTS", false},
    {0x000000CE, "ERROR_FILENAME_EXCED_RANGE", false},
    {0x00000780, "ERROR_CANT_ACCESS_FILE", false},
    {0x80092003, "CRYPT_E_FILE_ERROR", true},
    {0x800B0100, "TRUST_E_NOSIGNATURE", true},
    {0x800B0101, "CERT_E_EXPIRED", true},
    {0x800B0109, "CERT_E_UNTRUSTEDROOT", true},
    {0x800B0110, "CERT_E_WRONG_USAGE", true},
    {0xE0000203, "ERROR_NO_DRIVER_SELECTED", false},
    {0xE000022F, "ERROR_NO_CATALOG_FOR_OEM_INF", true},
    {0xE000020B, "ERROR_NO_SUCH_DEVINST", false},
    {0xE000023D, "ERROR_INF_IN_USE_BY_DEVICES", false},
    {0xE0000244, "ERROR_SIGNATURE_OSATTRIBUTE_MISMATCH", true},
    {0xE0000301, "ERROR_NO_DEVICE_ID", false},
    {0xE0000302, "ERROR_DRIVER_PACKAGE_NOT_IN_STORE", false},
    {0xE0000303, "ERROR_MISSING_FILE", true},
    {0xE0000304, "ERROR_INVALID_CATALOG_DATA", true},
};
