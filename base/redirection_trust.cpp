#include "base/redirection_trust.h"

#include <windows.h>

// "PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY structure (winnt.h)",
// https://learn.microsoft.com/windows/win32/api/winnt/ns-winnt-process-mitigation-redirection-trust-policy:
// EnforceRedirectionTrust keeps the process from following file-system
// junctions created by non-administrators.  SetProcessMitigationPolicy is
// looked up rather than imported, and a system that does not know the
// policy refuses it, which is fine: the checks of the log stand alone there.
void enforce_redirection_trust()
{
    using set_policy_function = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto set_policy = kernel == nullptr ? nullptr
                                        : reinterpret_cast<set_policy_function>(reinterpret_cast<void*>(
                                              GetProcAddress(kernel, "SetProcessMitigationPolicy")));
    if (set_policy == nullptr)
        return;
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
    policy.EnforceRedirectionTrust = 1;
    set_policy(ProcessRedirectionTrustPolicy, &policy, sizeof policy);
}
