#include "base/token_sid.h"

#include <stddef.h>

// Each of the three classes answers with a structure whose first member is
// the SID's address, followed by the SID itself.
static_assert(offsetof(TOKEN_USER, User.Sid) == 0, "TOKEN_USER begins with its SID");
static_assert(offsetof(TOKEN_OWNER, Owner) == 0, "TOKEN_OWNER begins with its SID");
static_assert(offsetof(TOKEN_MANDATORY_LABEL, Label.Sid) == 0, "TOKEN_MANDATORY_LABEL begins with its SID");

bool token_sid(HANDLE token, TOKEN_INFORMATION_CLASS what, BYTE* sid)
{
    union {
        PSID first;
        BYTE bytes[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = 0;
    return GetTokenInformation(token, what, &info, sizeof info, &size) &&
           CopySid(SECURITY_MAX_SID_SIZE, sid, info.first);
}
