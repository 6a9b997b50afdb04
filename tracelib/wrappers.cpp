#include "tracelib/wrappers.h"

#include <string.h>

#include "tracelib/trace.h"

namespace {

constexpr int32_t complaint_level_max = 20;
constexpr DWORD worker_start_poll_ms = 10;

// detach values.  The handover between worker_release and the worker's
// thread is decided by one interlocked compare-exchange on detach, never by
// state alone: whichever side moves it away from 0 first has handed the
// record to the other.
constexpr LONG detach_none = 0;
constexpr LONG detach_released = 1;  // released while running: the thread frees
constexpr LONG detach_finished = 2;  // the thread is done with it: the releaser frees

#ifdef TAVENOR_WORKER_CHECKS
volatile LONG g_records_freed = 0;
volatile LONG g_handles_closed = 0;
#endif

bool complaints_on()
{
    return get_trace_level() <= complaint_level_max;
}

SECURITY_ATTRIBUTES handle_attributes(BOOL inheritable)
{
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = inheritable;
    return attributes;
}

void free_worker(WorkerRecord* worker)
{
    CloseHandle(worker->thread);
#ifdef TAVENOR_WORKER_CHECKS
    InterlockedIncrement(&g_handles_closed);
    memset(worker, 0xDD, sizeof *worker);
    InterlockedIncrement(&g_records_freed);
#endif
    mem_free(worker);
}

DWORD WINAPI worker_thread_main(void* parameter)
{
    WorkerRecord* worker = static_cast<WorkerRecord*>(parameter);
    InterlockedExchange(&worker->state, 1);
    int32_t result = worker->routine(worker->argument);
    worker->result = result;
    // The exchange is a full barrier: result is stored before anyone can
    // see state 2.
    InterlockedExchange(&worker->state, 2);
    if (InterlockedCompareExchange(&worker->detach, detach_finished, detach_none) == detach_released)
        free_worker(worker);
    // The record may be gone now; only the local copy of the result is used.
    return static_cast<DWORD>(result);
}

} // namespace

void debug_break()
{
    DebugBreak();
}

void* mem_alloc(uint32_t size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void mem_free(void* block)
{
    if (block == nullptr) {
        if (complaints_on())
            trace_message("Try to Free a NULL pointer!");
        return;
    }
    if (block == WRAPPER_INVALID) {
        if (complaints_on())
            trace_message("Try to Free a -1 pointer!");
        return;
    }
    HeapFree(GetProcessHeap(), 0, block);
}

void* mem_copy(void* destination, const void* source, uint32_t size)
{
    return memmove(destination, source, size);
}

void* mem_zero(void* block, uint32_t size)
{
    return memset(block, 0, size);
}

int mem_compare(const void* first, const void* second, uint32_t size)
{
    const unsigned char* a = static_cast<const unsigned char*>(first);
    const unsigned char* b = static_cast<const unsigned char*>(second);
    for (uint32_t i = 0; i < size; ++i) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

void sleep_ms(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

HANDLE mutex_create()
{
    SECURITY_ATTRIBUTES attributes = handle_attributes(FALSE);
    HANDLE mutex = CreateMutexA(&attributes, FALSE, nullptr);
    if (mutex == nullptr && complaints_on())
        trace_message("Error when create mutex");
    return mutex;
}

BOOL mutex_close(HANDLE mutex)
{
    return CloseHandle(mutex);
}

DWORD mutex_lock(HANDLE mutex)
{
    return WaitForSingleObject(mutex, INFINITE);
}

int mutex_try_lock(HANDLE mutex, uint32_t timeout_ms)
{
    DWORD wait = WaitForSingleObject(mutex, timeout_ms);
    // An abandoned mutex is owned by the caller all the same; a caller that
    // trusts the 0 would never release it and every other thread would block.
    if (wait == WAIT_ABANDONED)
        ReleaseMutex(mutex);
    return wait == WAIT_OBJECT_0 ? 1 : 0;
}

BOOL mutex_unlock(HANDLE mutex)
{
    return ReleaseMutex(mutex);
}

HANDLE event_create()
{
    SECURITY_ATTRIBUTES attributes = handle_attributes(FALSE);
    HANDLE event = CreateEventA(&attributes, TRUE, FALSE, nullptr);
    if (event == nullptr && complaints_on())
        trace_message("Error when create Event");
    return event;
}

BOOL event_close(HANDLE event)
{
    return CloseHandle(event);
}

BOOL event_set(HANDLE event)
{
    return SetEvent(event);
}

BOOL event_reset(HANDLE event)
{
    return ResetEvent(event);
}

DWORD event_wait(HANDLE event, uint32_t timeout_ms)
{
    return WaitForSingleObject(event, timeout_ms);
}

WorkerRecord* worker_start(worker_routine routine, void* argument)
{
    WorkerRecord* worker = static_cast<WorkerRecord*>(mem_alloc(sizeof(WorkerRecord)));
    if (worker == nullptr)
        return static_cast<WorkerRecord*>(WRAPPER_INVALID);
    worker->routine = routine;
    worker->argument = argument;

    SECURITY_ATTRIBUTES attributes = handle_attributes(TRUE);
    HANDLE thread = CreateThread(&attributes, 0, worker_thread_main, worker, 0, nullptr);
    if (thread == nullptr) {
        mem_free(worker);
        return static_cast<WorkerRecord*>(WRAPPER_INVALID);
    }
    // Only a release can make the thread free the record, and none can come
    // before this function returns, so the handle is stored in time; the
    // interlocked operations of the handover publish it to the thread.
    worker->thread = thread;

    while (InterlockedCompareExchange(&worker->state, 0, 0) == 0)
        Sleep(worker_start_poll_ms);
    return worker;
}

int worker_is_running(WorkerRecord* worker)
{
    if (worker == WRAPPER_INVALID)
        return 0;
    return InterlockedCompareExchange(&worker->state, 0, 0) == 1 ? 1 : 0;
}

int32_t worker_result(WorkerRecord* worker)
{
    return worker->result;
}

void worker_release(WorkerRecord* worker)
{
    if (worker == WRAPPER_INVALID) {
        if (complaints_on())
            trace_message("Try to Free a -1 pointer!");
        return;
    }
    if (InterlockedCompareExchange(&worker->detach, detach_released, detach_none) == detach_none)
        return; // the thread frees the record when its routine returns
    free_worker(worker);
}

#ifdef TAVENOR_WORKER_CHECKS
LONG worker_records_freed()
{
    return InterlockedCompareExchange(&g_records_freed, 0, 0);
}

LONG worker_handles_closed()
{
    return InterlockedCompareExchange(&g_handles_closed, 0, 0);
}
#endif
