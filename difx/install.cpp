#include "difx/procedures.h"

#include "difx/result_names.h"
#include "tracelib/trace.h"

namespace {

// What a phase does after one call of its entry point.
enum class Next {
    finish,             // the call's result ends the phase
    clear_and_retry,    // force-uninstall the staged copy and stage again
    legacy_and_retry,   // leave silent mode for legacy mode and call again
    repair_and_retry,   // call again as a repair
    repair_once,        // one repair call, whose result ends the phase
    settle_and_repair,  // pause, one repair call, pause; the repair's result ends the phase
};

struct RetryRule {
    uint32_t result;
    Next staging;
    Next installing;
};

// Result -> next step, per phase.  The signature and catalog failures, which
// the names table marks, go to legacy mode in both phases; any other code
// ends the phase.
constexpr RetryRule retry_rules[] = {
    {difx_success, Next::finish, Next::settle_and_repair},
    {difx_already_exists, Next::clear_and_retry, Next::repair_and_retry},
    {difx_no_such_devinst, Next::finish, Next::repair_once},
};

enum Phase { phase_staging, phase_installing, phase_count };

struct PhaseText {
    const char* entry;      // as the trace names the entry point
    int attempts;
    const char* succeeded;  // the phase's closing line on success
};

constexpr PhaseText phase_texts[phase_count] = {
    {"DriverPackagePreinstall", 4, "Call DriverPackagePreinstall succeed"},
    {"DriverPackageInstall", 3, "Call DriverPackageInstall Succeed."},
};

Next next_step(Phase phase, uint32_t result)
{
    for (const RetryRule& rule : retry_rules) {
        if (rule.result == result)
            return phase == phase_staging ? rule.staging : rule.installing;
    }
    return is_signature_failure(result) ? Next::legacy_and_retry : Next::finish;
}

uint32_t call_entry(Phase phase, const char* inf_path, uint32_t flags, int32_t* need_reboot,
                    const DifxEntryPoints* entry_points)
{
    if (phase == phase_staging)
        return entry_points->preinstall(inf_path, flags);
    return entry_points->install(inf_path, flags, nullptr, need_reboot);
}

// One phase with its retry budget.  flags is the word the phase starts
// from; staging leaves in it the word the installing phase starts from.
uint32_t run_phase(Phase phase, const char* inf_path, uint32_t* flags, int32_t* need_reboot,
                   const DifxEntryPoints* entry_points)
{
    const PhaseText& text = phase_texts[phase];
    uint32_t result = difx_success;
    bool retry = true;
    for (int attempts = text.attempts; retry;) {
        TRACE_STEP("Calling %s with path:%s, flag = %08lx", text.entry, inf_path,
                   static_cast<unsigned long>(*flags));
        result = call_entry(phase, inf_path, *flags, need_reboot, entry_points);
        TRACE_STEP("%s returned %s", text.entry, result_code_name(result));

        retry = false;
        switch (next_step(phase, result)) {
        case Next::finish:
            break;
        case Next::clear_and_retry:
            // Cleared whatever the uninstall answers; staging is tried again.
            uninstall_package(inf_path, DRIVER_PACKAGE_FORCE, need_reboot, entry_points);
            retry = --attempts > 0;
            if (!retry) {
                TRACE_STEP("After retry, Previnstall failed with ERROR_ALREADY_EXISTS, assume it success");
                result = difx_success;
            }
            break;
        case Next::legacy_and_retry:
            *flags = (*flags & ~DRIVER_PACKAGE_SILENT) | DRIVER_PACKAGE_LEGACY_MODE;
            retry = --attempts > 0;
            break;
        case Next::repair_and_retry:
            *flags |= DRIVER_PACKAGE_REPAIR;
            retry = --attempts > 0;
            break;
        case Next::repair_once:
            *flags |= DRIVER_PACKAGE_REPAIR;
            result = call_entry(phase, inf_path, *flags, need_reboot, entry_points);
            break;
        case Next::settle_and_repair:
            g_difx_pause(difx_pause_ms);
            *flags |= DRIVER_PACKAGE_REPAIR;
            result = call_entry(phase, inf_path, *flags, need_reboot, entry_points);
            g_difx_pause(difx_pause_ms);
            break;
        }
    }

    if (result != difx_success)
        TRACE_STEP("Call %s failed: %s", text.entry, result_code_name(result));
    else
        TRACE_STEP("%s", text.succeeded);
    return result;
}

} // namespace

uint32_t install_package(const char* inf_path, uint32_t flags, int32_t* need_reboot,
                         const DifxEntryPoints* entry_points)
{
    uint32_t result = run_phase(phase_staging, inf_path, &flags, need_reboot, entry_points);
    if (result != difx_success)
        return result;
    return run_phase(phase_installing, inf_path, &flags, need_reboot, entry_points);
}
