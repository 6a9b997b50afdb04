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

// The same for a code's name as result_code_name gives it ("TRUST_E_NOSIGNATURE"),
// for readers of the trace.
bool is_signature_failure_name(const char* name);
