// Names of the library's result codes, for trace lines, and which of them
// are signature failures.
#pragma once

#include <stdint.h>

// The code's name; for a code without one "Unknown:0x%08X", held in one
// buffer that the next such code overwrites.  Not reentrant.
const char* result_code_name(uint32_t code);

// True for the signature and catalog failures after which the install
// leaves silent mode and tries again in legacy mode.
bool is_signature_failure(uint32_t code);
