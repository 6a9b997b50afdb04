// The rehearsal backend: a stand-in for the driver-install library that
// lets installer authors rehearse every outcome of Tavenor, and that
// Tavenor's own tests load.
//
// It changes nothing on the system.  A plan file beside the DLL scripts its
// answers; a journal beside it records every call.  A state file beside it
// remembers which packages it installed on a device, so that an uninstall
// nobody scripted answers as our backend does: a package that a present
// device uses stays unless the caller forces.  The plan format is
// described in docs/rehearsal-backend.md.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/program_path.h"
#include "base/sizes.h"
#include "difx/difx_interface.h"

namespace {

constexpr char plan_name[] = "difx-plan.txt";
constexpr char journal_name[] = "difx-journal.txt";
constexpr char state_name[] = "difx-state.txt";
// ERROR_INF_IN_USE_BY_DEVICES: our backend's answer to an uninstall without
// force of a package a device in the device tree uses.
constexpr uint32_t inf_in_use_by_devices = 0xE000023D;
// The state file holds one line per installed package; more are not kept.
constexpr size_t max_state = 16384;

// The rehearsed machine's device for the package: plugged in (the default),
// registered but unplugged, or none at all.
enum Device { device_present, device_absent, device_none };

enum Entry { entry_preinstall, entry_install, entry_uninstall, entry_count };
constexpr const char* entry_names[entry_count] = {"preinstall", "install", "uninstall"};

constexpr int max_results = 64;
constexpr int max_logs = 64;
constexpr size_t max_text = 256;
// Longest plan line, without its line end.
constexpr size_t max_plan_line = 1023;

struct PlannedResult {
    uint32_t code;
    bool reboot;
};

struct PlannedLog {
    Entry entry;
    int call;  // 1-based; 0 for every call
    uint32_t event;
    uint32_t error;
    char text[max_text];
};

struct Plan {
    bool loaded;
    bool valid;
    char error[max_text];
    PlannedResult results[entry_count][max_results];
    int result_count[entry_count];
    PlannedLog logs[max_logs];
    int log_count;
    Device device;
};

HMODULE g_module = nullptr;
// Calls are answered one at a time, should a host call from several threads.
CRITICAL_SECTION g_lock;
Plan g_plan;
int g_calls[entry_count];
difx_log_callback g_callback = nullptr;
void* g_context = nullptr;

// Path of a file beside this DLL, into out (path_buffer_size bytes).
// false when the folder is not known whole, or only with characters the
// process's code page cannot hold (they would come back as '?', naming some
// other folder or none).
bool beside_module(const char* name, char* out)
{
    DWORD len = GetModuleFileNameA(g_module, out, path_buffer_size);
    if (len == 0 || len >= path_buffer_size)
        return false;
    wchar_t wide[path_buffer_size];
    wchar_t round_trip[path_buffer_size];
    DWORD wide_len = GetModuleFileNameW(g_module, wide, path_buffer_size);
    int back_len = MultiByteToWideChar(CP_ACP, 0, out, -1, round_trip, path_buffer_size);
    if (wide_len == 0 || wide_len >= path_buffer_size || back_len == 0 || wcscmp(wide, round_trip) != 0)
        return false;
    return path_beside(out, name, out, path_buffer_size) != 0;
}

void journal(const char* format, ...)
{
    char path[path_buffer_size];
    if (!beside_module(journal_name, path))
        return;
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    unsigned long long ms = static_cast<unsigned long long>(now.QuadPart) * 1000ULL /
                            static_cast<unsigned long long>(frequency.QuadPart);

    char line[4096];
    int len = snprintf(line, sizeof line, "%llu\t", ms);
    va_list args;
    va_start(args, format);
    int more = vsnprintf(line + len, sizeof line - static_cast<size_t>(len) - 2, format, args);
    va_end(args);
    if (more < 0)
        more = 0;
    len += more;
    if (static_cast<size_t>(len) > sizeof line - 3)
        len = static_cast<int>(sizeof line - 3);
    line[len++] = '\r';
    line[len++] = '\n';

    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(len), &written, nullptr);
    CloseHandle(file);
}

bool parse_entry(const char* word, Entry* entry)
{
    for (int i = 0; i < entry_count; ++i) {
        if (strcmp(word, entry_names[i]) == 0) {
            *entry = static_cast<Entry>(i);
            return true;
        }
    }
    return false;
}

// A whole word as a 32-bit number, decimal (a leading 0 too) or
// 0x-hexadecimal.
bool parse_number(const char* word, uint32_t* value)
{
    if (*word == '\0' || *word == '-' || *word == '+')
        return false;
    int base = 10;
    if (word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        word += 2;
        if (*word == '\0' || *word == '-' || *word == '+')
            return false;
    }
    char* end = nullptr;
    unsigned long long parsed = strtoull(word, &end, base);
    if (end == word || *end != '\0' || parsed > 0xFFFFFFFFULL)
        return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

bool plan_fail(int line_number, const char* what)
{
    snprintf(g_plan.error, sizeof g_plan.error, "%s line %d: %s", plan_name, line_number, what);
    return false;
}

// Next blank-separated word of the line; nullptr at its end.
char* next_word(char** cursor)
{
    char* p = *cursor;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p == '\0')
        return nullptr;
    char* word = p;
    while (*p != '\0' && *p != ' ' && *p != '\t')
        ++p;
    if (*p != '\0')
        *p++ = '\0';
    *cursor = p;
    return word;
}

bool parse_line(char* line, int line_number)
{
    char* cursor = line;
    char* first = next_word(&cursor);
    if (first == nullptr || first[0] == '#')
        return true;

    Entry entry;
    if (strcmp(first, "log") == 0) {
        if (g_plan.log_count >= max_logs)
            return plan_fail(line_number, "too many log events");
        PlannedLog& log = g_plan.logs[g_plan.log_count];
        char* entry_word = next_word(&cursor);
        char* call_word = next_word(&cursor);
        char* event_word = next_word(&cursor);
        char* error_word = next_word(&cursor);
        if (entry_word == nullptr || !parse_entry(entry_word, &log.entry))
            return plan_fail(line_number, "log needs an entry point: preinstall, install or uninstall");
        uint32_t call = 0;
        if (call_word == nullptr || (strcmp(call_word, "*") != 0 && (!parse_number(call_word, &call) || call == 0)))
            return plan_fail(line_number, "log needs a call number (1, 2, ...) or *");
        log.call = static_cast<int>(call);
        if (event_word == nullptr || !parse_number(event_word, &log.event))
            return plan_fail(line_number, "log needs an event number");
        if (error_word == nullptr || !parse_number(error_word, &log.error))
            return plan_fail(line_number, "log needs an error number");
        while (*cursor == ' ' || *cursor == '\t')
            ++cursor;
        if (strlen(cursor) >= sizeof log.text)
            return plan_fail(line_number, "log text too long");
        strcpy(log.text, cursor);
        ++g_plan.log_count;
        return true;
    }

    if (strcmp(first, "device") == 0) {
        char* word = next_word(&cursor);
        if (word != nullptr && strcmp(word, "present") == 0)
            g_plan.device = device_present;
        else if (word != nullptr && strcmp(word, "absent") == 0)
            g_plan.device = device_absent;
        else if (word != nullptr && strcmp(word, "none") == 0)
            g_plan.device = device_none;
        else
            return plan_fail(line_number, "device needs present, absent or none");
        if (next_word(&cursor) != nullptr)
            return plan_fail(line_number, "device takes one word");
        return true;
    }

    if (!parse_entry(first, &entry))
        return plan_fail(line_number, "unknown directive (expected preinstall, install, uninstall, device or log)");
    int count = 0;
    for (char* word = next_word(&cursor); word != nullptr; word = next_word(&cursor)) {
        if (word[0] == '#')
            break;
        if (count >= max_results)
            return plan_fail(line_number, "too many results");
        PlannedResult& result = g_plan.results[entry][count];
        result.reboot = false;
        char* suffix = strchr(word, '+');
        if (suffix != nullptr) {
            if (strcmp(suffix, "+reboot") != 0 || entry == entry_preinstall)
                return plan_fail(line_number, "only install and uninstall results take the suffix +reboot");
            *suffix = '\0';
            result.reboot = true;
        }
        if (!parse_number(word, &result.code))
            return plan_fail(line_number, "a result must be a number (decimal or 0x hexadecimal)");
        ++count;
    }
    if (count == 0)
        return plan_fail(line_number, "no results given");
    if (g_plan.result_count[entry] != 0)
        return plan_fail(line_number, "results for this entry point were already given");
    g_plan.result_count[entry] = count;
    return true;
}

void load_plan()
{
    if (g_plan.loaded)
        return;
    memset(&g_plan, 0, sizeof g_plan);
    g_plan.loaded = true;
    g_plan.valid = true;

    // Only a plan that is not there means "every call succeeds"; a plan
    // that cannot be found or read is a broken plan.
    char path[path_buffer_size];
    if (!beside_module(plan_name, path)) {
        snprintf(g_plan.error, sizeof g_plan.error, "%s: the folder of this library is not known", plan_name);
        g_plan.valid = false;
        return;
    }
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        DWORD attributes = GetFileAttributesA(path);
        DWORD error = GetLastError();
        if (attributes == INVALID_FILE_ATTRIBUTES && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
            return;
        snprintf(g_plan.error, sizeof g_plan.error, "%s cannot be opened", path);
        g_plan.valid = false;
        journal("plan-error\t%s", g_plan.error);
        return;
    }
    // Lines are counted in bytes as they stand in the file, so a NUL cannot
    // hide the rest of a line from the length check.
    // One byte more than a line holds, for the CR of a CR LF.
    char line[max_plan_line + 2];
    size_t len = 0;
    int line_number = 1;
    bool too_long = false;
    for (int c = fgetc(file);; c = fgetc(file)) {
        if (c != EOF && c != '\n') {
            if (len <= max_plan_line)
                line[len++] = static_cast<char>(c);
            else
                too_long = true;
            continue;
        }
        if (len > 0 && line[len - 1] == '\r')
            --len;
        if (too_long || len > max_plan_line) {
            g_plan.valid = plan_fail(line_number, "line too long");
            break;
        }
        line[len] = '\0';
        if (memchr(line, '\0', len) != nullptr) {
            g_plan.valid = plan_fail(line_number, "a NUL byte in the line");
            break;
        }
        if (!parse_line(line, line_number)) {
            g_plan.valid = false;
            break;
        }
        if (c == EOF)
            break;
        len = 0;
        ++line_number;
    }
    fclose(file);
    if (!g_plan.valid)
        journal("plan-error\t%s", g_plan.error);
}

// The package's key in the state file: its INF's file name in lower case
// and a hash of the INF's bytes, so that the same package named by another
// path (an installer's temporary copy, the installed one) is the same.
bool package_key(const char* inf_path, char* out, size_t size)
{
    if (inf_path == nullptr)
        return false;
    const char* name = inf_path;
    for (const char* p = inf_path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/')
            name = p + 1;
    }
    uint32_t hash = 2166136261u;  // FNV-1a
    FILE* file = fopen(inf_path, "rb");
    if (file != nullptr) {
        for (int c = fgetc(file); c != EOF; c = fgetc(file))
            hash = (hash ^ static_cast<uint32_t>(c)) * 16777619u;
        fclose(file);
    }
    int len = snprintf(out, size, "%s:%08X", name, static_cast<unsigned>(hash));
    if (len < 0 || static_cast<size_t>(len) >= size)
        return false;
    for (char* p = out; *p != ':'; ++p) {
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>(*p - 'A' + 'a');
    }
    return true;
}

// The state file's text into state (max_state bytes); "" when there is none.
void read_state(char* state)
{
    state[0] = '\0';
    char path[path_buffer_size];
    if (!beside_module(state_name, path))
        return;
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
        return;
    size_t len = fread(state, 1, max_state - 1, file);
    fclose(file);
    state[len] = '\0';
}

// Where the key's line starts in the state text; nullptr when it is not there.
const char* find_line(const char* state, const char* key)
{
    size_t key_len = strlen(key);
    for (const char* line = state; *line != '\0';) {
        const char* end = strchr(line, '\n');
        size_t len = end ? static_cast<size_t>(end - line) : strlen(line);
        if (len > 0 && line[len - 1] == '\r')
            --len;
        if (len == key_len && memcmp(line, key, len) == 0)
            return line;
        line = end ? end + 1 : line + strlen(line);
    }
    return nullptr;
}

bool is_installed(const char* key)
{
    static char state[max_state];
    read_state(state);
    return find_line(state, key) != nullptr;
}

// Records the package as installed on the device, or as gone.
void set_installed(const char* key, bool installed)
{
    static char state[max_state];
    read_state(state);
    const char* line = find_line(state, key);
    if ((line != nullptr) == installed)
        return;
    char path[path_buffer_size];
    if (!beside_module(state_name, path))
        return;
    size_t len = strlen(state);
    if (installed && len + strlen(key) + 3 > max_state)
        return;  // more packages than a rehearsal holds: the first ones are kept
    FILE* file = fopen(path, "wb");
    if (file == nullptr)
        return;
    if (installed) {
        fwrite(state, 1, len, file);
        fprintf(file, "%s\r\n", key);
    } else {
        const char* end = strchr(line, '\n');
        fwrite(state, 1, static_cast<size_t>(line - state), file);
        if (end != nullptr)
            fwrite(end + 1, 1, strlen(end + 1), file);
    }
    fclose(file);
}

// What the rehearsed machine answers where the plan has no result for the
// entry point, and what it remembers of a result: an install puts the
// package on the device when one is plugged in (none to install on is
// ERROR_NO_SUCH_DEVINST, as our backend answers); an uninstall without
// DRIVER_PACKAGE_FORCE of a package a plugged-in device uses keeps it
// (ERROR_INF_IN_USE_BY_DEVICES); a successful uninstall forgets it.
uint32_t machine_answer(Entry entry, const char* inf_path, uint32_t flags, bool scripted, uint32_t result)
{
    char key[path_buffer_size + 16];
    if (entry == entry_preinstall || !package_key(inf_path, key, sizeof key))
        return result;
    if (entry == entry_install) {
        if (!scripted && g_plan.device != device_present)
            return difx_no_such_devinst;
        if (result == difx_success && g_plan.device == device_present)
            set_installed(key, true);
        return result;
    }
    if (!scripted && g_plan.device == device_present && !(flags & DRIVER_PACKAGE_FORCE) && is_installed(key))
        return inf_in_use_by_devices;
    if (result == difx_success)
        set_installed(key, false);
    return result;
}

void deliver(uint32_t event, uint32_t error, const char* text)
{
    if (g_callback != nullptr)
        g_callback(event, error, text, g_context);
}

uint32_t answer_unlocked(Entry entry, const char* inf_path, uint32_t flags, const void* info, int32_t* reboot);

// One call of an entry point: its planned result and log events.
uint32_t answer(Entry entry, const char* inf_path, uint32_t flags, const void* info, int32_t* reboot)
{
    EnterCriticalSection(&g_lock);
    uint32_t result = answer_unlocked(entry, inf_path, flags, info, reboot);
    LeaveCriticalSection(&g_lock);
    return result;
}

uint32_t answer_unlocked(Entry entry, const char* inf_path, uint32_t flags, const void* info, int32_t* reboot)
{
    load_plan();
    int call = ++g_calls[entry];
    bool has_reboot_arg = entry != entry_preinstall;
    char info_text[16];
    snprintf(info_text, sizeof info_text, "%s", has_reboot_arg ? (info ? "set" : "null") : "-");
    char reboot_text[16];
    snprintf(reboot_text, sizeof reboot_text, "%s", has_reboot_arg ? (reboot ? "set" : "null") : "-");

    if (!g_plan.valid) {
        // A broken plan is never guessed at: every call fails and says why.
        deliver(3, ERROR_INVALID_DATA, g_plan.error);
        journal("%s\t0x%08X\tinfo=%s\treboot=%s\tresult=0x%08X\treboot_set=0\t%s", entry_names[entry],
                static_cast<unsigned>(flags), info_text, reboot_text, static_cast<unsigned>(ERROR_INVALID_DATA),
                inf_path ? inf_path : "(null)");
        return ERROR_INVALID_DATA;
    }

    for (int i = 0; i < g_plan.log_count; ++i) {
        const PlannedLog& log = g_plan.logs[i];
        if (log.entry == entry && (log.call == 0 || log.call == call))
            deliver(log.event, log.error, log.text);
    }

    PlannedResult result = {0, false};
    int count = g_plan.result_count[entry];
    if (count > 0)
        result = g_plan.results[entry][call <= count ? call - 1 : count - 1];
    result.code = machine_answer(entry, inf_path, flags, count > 0, result.code);
    bool reboot_set = false;
    if (result.reboot && reboot != nullptr) {
        *reboot = 1;
        reboot_set = true;
    }
    journal("%s\t0x%08X\tinfo=%s\treboot=%s\tresult=0x%08X\treboot_set=%d\t%s", entry_names[entry],
            static_cast<unsigned>(flags), info_text, reboot_text, static_cast<unsigned>(result.code),
            reboot_set ? 1 : 0, inf_path ? inf_path : "(null)");
    return result.code;
}

} // namespace

extern "C" {

__declspec(dllexport) uint32_t WINAPI DriverPackagePreinstallA(const char* inf_path, uint32_t flags)
{
    return answer(entry_preinstall, inf_path, flags, nullptr, nullptr);
}

__declspec(dllexport) uint32_t WINAPI DriverPackageInstallA(const char* inf_path, uint32_t flags, const void* info,
                                                            int32_t* reboot)
{
    return answer(entry_install, inf_path, flags, info, reboot);
}

__declspec(dllexport) uint32_t WINAPI DriverPackageUninstallA(const char* inf_path, uint32_t flags, const void* info,
                                                              int32_t* reboot)
{
    return answer(entry_uninstall, inf_path, flags, info, reboot);
}

#ifndef DIFX_DOUBLE_WITHOUT_LOG_CALLBACK
__declspec(dllexport) void WINAPI DIFXAPISetLogCallbackA(difx_log_callback callback, void* context)
{
    EnterCriticalSection(&g_lock);
    g_callback = callback;
    g_context = context;
    // The caller hands its options record as context; its target field
    // shows which record it was.
    char target[1024] = "";
    if (context != nullptr) {
        const char* text = static_cast<const char*>(context) + difx_context_target_offset;
        size_t len = strnlen(text, sizeof target - 1);
        memcpy(target, text, len);
        target[len] = '\0';
    }
    journal("set_log_callback\tcallback=%s\tcontext=%s\ttarget=%s", callback ? "set" : "null",
            context ? "set" : "null", target);
    LeaveCriticalSection(&g_lock);
}
#endif

} // extern "C"

DIFX_CHECK_EXPORT(DriverPackagePreinstallA, difx_preinstall_entry);
DIFX_CHECK_EXPORT(DriverPackageInstallA, difx_install_entry);
DIFX_CHECK_EXPORT(DriverPackageUninstallA, difx_uninstall_entry);
#ifndef DIFX_DOUBLE_WITHOUT_LOG_CALLBACK
DIFX_CHECK_EXPORT(DIFXAPISetLogCallbackA, difx_set_log_callback_entry);
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        InitializeCriticalSection(&g_lock);
        journal("load");
    } else if (reason == DLL_PROCESS_DETACH) {
        // A null reserved pointer: FreeLibrary, not the end of the process.
        journal("unload\t%s", reserved == nullptr ? "freelibrary" : "process-exit");
        DeleteCriticalSection(&g_lock);
    }
    return TRUE;
}
