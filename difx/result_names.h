// Names of the library's result codes, for trace lines.
#pragma once

#include <stdint.h>

// The code's name; for a code without one "Unknown:0x%08X", held in one
// buffer that the next such code overwrites.  Not reentrant.
const char* result_code_name(uint32_t code);
