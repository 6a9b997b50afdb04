// The SIDs a process's token names: its user, the owner its new objects
// get, its integrity level.
#pragma once

#include <windows.h>

// Copies the SID that the token's information of class `what` begins with
// (TokenUser, TokenOwner or TokenIntegrityLevel) into sid, which holds
// SECURITY_MAX_SID_SIZE bytes.  False when the token cannot tell.
bool token_sid(HANDLE token, TOKEN_INFORMATION_CLASS what, BYTE* sid);
