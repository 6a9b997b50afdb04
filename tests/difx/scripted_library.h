// A scripted entry-point table for in-process tests of the procedures: each
// entry point answers from its list, every call and pause is recorded.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "difx/difx_api.h"

struct ScriptedLibrary {
    std::vector<uint32_t> preinstall_results;
    std::vector<uint32_t> install_results;
    std::vector<uint32_t> uninstall_results;
    // Calls and pauses in order: "S<flags>" preinstall, "I<flags>" install,
    // "U<flags>" uninstall (flags in hex), "P" a pause of 1000 ms.
    std::vector<std::string> calls;
    int32_t* expected_reboot = nullptr;  // null: any reboot address but null
    int bad_arguments = 0;  // calls with a non-null info, a null or another reboot address
    std::vector<std::string> inf_paths;
    std::function<void(const char* inf_path)> on_uninstall;  // runs inside each uninstall call
};

// Makes script the answering library and routes the pauses into it.
DifxEntryPoints use_script(ScriptedLibrary* script);
// Restores the real pause.
void end_script();
std::string join_calls(const std::vector<std::string>& calls);
