// Thin wrappers over the platform's debugger, heap, timing, lock, event and
// thread services.  Complaints are traced while the trace level is at most 20.
#pragma once

#include <windows.h>

#include <stdint.h>

// The wrappers' invalid value, all bits set.
#define WRAPPER_INVALID ((void*)(intptr_t)-1)

void debug_break();

void* mem_alloc(uint32_t size);                       // zero-filled, or NULL
void mem_free(void* block);                           // refuses NULL and -1
void* mem_copy(void* destination, const void* source, uint32_t size); // overlap-safe
void* mem_zero(void* block, uint32_t size);
int mem_compare(const void* first, const void* second, uint32_t size); // -1, 0, 1, bytes unsigned

void sleep_ms(uint32_t milliseconds);

HANDLE mutex_create();                                // unnamed, not inheritable; NULL on failure
BOOL mutex_close(HANDLE mutex);
DWORD mutex_lock(HANDLE mutex);
int mutex_try_lock(HANDLE mutex, uint32_t timeout_ms); // 1 only for WAIT_OBJECT_0
BOOL mutex_unlock(HANDLE mutex);

HANDLE event_create();                                // manual reset, starts clear
BOOL event_close(HANDLE event);
BOOL event_set(HANDLE event);
BOOL event_reset(HANDLE event);
DWORD event_wait(HANDLE event, uint32_t timeout_ms);

using worker_routine = int32_t (*)(void* argument);

struct WorkerRecord {
    worker_routine routine;
    void* argument;
    HANDLE thread;
    volatile LONG state;   // 0 not started, 1 running, 2 finished
    volatile LONG detach;  // see worker_release
    int32_t result;
};

// Starts routine(argument) on a new thread with an inheritable handle and
// returns once the routine has been entered; -1 when no worker could start.
WorkerRecord* worker_start(worker_routine routine, void* argument);
int worker_is_running(WorkerRecord* worker);
int32_t worker_result(WorkerRecord* worker);
// Ends the caller's hold on the worker; the record is freed now if the
// worker has finished, else by its thread when the routine returns.
void worker_release(WorkerRecord* worker);

#ifdef TAVENOR_WORKER_CHECKS
// Checked builds count the records freed and thread handles closed, and
// fill freed records with 0xDD, so that a test sees leaks, double frees and
// late writes.
LONG worker_records_freed();
LONG worker_handles_closed();
#endif
