#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/viewer_window.h"
#include "tracelib/trace.h"
#include "tracelib/wrappers.h"

namespace {

std::vector<std::string> lines_of(ViewerWindow& viewer)
{
    std::vector<std::string> out;
    for (const ViewerMessage& m : viewer.messages())
        out.push_back(m.bytes);
    return out;
}

struct ComplaintCase {
    int32_t level;
    bool traced;
};

TEST(Wrappers, ComplaintsFollowTheTraceLevel)
{
    const ComplaintCase cases[] = {{1, true}, {20, true}, {21, false}, {-3, true}};
    for (const ComplaintCase& c : cases) {
        ViewerWindow viewer;
        set_trace_level(c.level);
        mem_free(nullptr);
        mem_free(WRAPPER_INVALID);
        worker_release(static_cast<WorkerRecord*>(WRAPPER_INVALID));
        std::vector<std::string> expected;
        if (c.traced)
            expected = {"Try to Free a NULL pointer!", "Try to Free a -1 pointer!", "Try to Free a -1 pointer!"};
        EXPECT_EQ(lines_of(viewer), expected) << "level " << c.level;
    }
    set_trace_level(1);
}

TEST(Wrappers, FreeingNullOrInvalidTouchesNoHeap)
{
    // Were either handed to HeapFree, the heap check would reject it and
    // the process heap would show a failure; the block next to them stays.
    void* block = mem_alloc(64);
    ASSERT_NE(block, nullptr);
    mem_free(nullptr);
    mem_free(WRAPPER_INVALID);
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, block));
    mem_free(block);
}

TEST(Wrappers, AllocatedBlocksAreZero)
{
    for (uint32_t size : {0u, 1u, 17u, 4096u, 100000u}) {
        unsigned char* block = static_cast<unsigned char*>(mem_alloc(size));
        ASSERT_NE(block, nullptr) << size;
        for (uint32_t i = 0; i < size; ++i)
            ASSERT_EQ(block[i], 0) << size << " at " << i;
        mem_free(block);
    }
}

TEST(Wrappers, CompareCopyZero)
{
    const unsigned char a[] = {1, 2, 0x80};
    const unsigned char b[] = {1, 2, 0x7F};
    EXPECT_EQ(mem_compare(a, b, 3), 1);
    EXPECT_EQ(mem_compare(b, a, 3), -1);
    EXPECT_EQ(mem_compare(a, b, 2), 0);
    EXPECT_EQ(mem_compare(a, b, 0), 0);
    EXPECT_EQ(mem_compare(nullptr, nullptr, 0), 0);

    char overlap[] = "abcdefgh";
    EXPECT_EQ(mem_copy(overlap + 2, overlap, 5), overlap + 2);
    EXPECT_STREQ(overlap, "ababcdeh");
    mem_copy(overlap, overlap + 2, 5);
    EXPECT_STREQ(overlap, "abcdedeh");
    EXPECT_EQ(mem_zero(overlap, 3), overlap);
    EXPECT_EQ(overlap[2], 0);
    EXPECT_EQ(overlap[3], 'd');
}

DWORD WINAPI own_and_exit(void* mutex)
{
    WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
    return 0;  // ends while owning it: the mutex is abandoned
}

TEST(Wrappers, MutexTryLock)
{
    HANDLE mutex = mutex_create();
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(mutex_try_lock(mutex, 0), 1);
    EXPECT_TRUE(mutex_unlock(mutex));

    // Held by another thread: the time-out elapses.
    HANDLE holder_ready = event_create();
    struct Hold {
        HANDLE mutex, ready, done;
    } hold = {mutex, holder_ready, event_create()};
    HANDLE holder = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            Hold* h = static_cast<Hold*>(p);
            mutex_lock(h->mutex);
            event_set(h->ready);
            event_wait(h->done, INFINITE);
            mutex_unlock(h->mutex);
            return 0;
        },
        &hold, 0, nullptr);
    ASSERT_EQ(event_wait(holder_ready, 5000), WAIT_OBJECT_0);
    DWORD before = GetTickCount();
    EXPECT_EQ(mutex_try_lock(mutex, 50), 0);
    EXPECT_GE(GetTickCount() - before, 40u);
    event_set(hold.done);
    WaitForSingleObject(holder, INFINITE);
    CloseHandle(holder);
    event_close(hold.done);
    event_close(holder_ready);

    // Abandoned by a thread that ended while owning it: the wait succeeds
    // as WAIT_ABANDONED, which is not a clean lock, and leaves nobody owning
    // it: another thread takes it at once.
    HANDLE owner = CreateThread(nullptr, 0, own_and_exit, mutex, 0, nullptr);
    WaitForSingleObject(owner, INFINITE);
    CloseHandle(owner);
    EXPECT_EQ(mutex_try_lock(mutex, 1000), 0);
    EXPECT_FALSE(mutex_unlock(mutex));
    HANDLE other = CreateThread(
        nullptr, 0, [](void* m) -> DWORD { return static_cast<DWORD>(mutex_try_lock(static_cast<HANDLE>(m), 0)); },
        mutex, 0, nullptr);
    WaitForSingleObject(other, INFINITE);
    DWORD other_locked = 0;
    GetExitCodeThread(other, &other_locked);
    CloseHandle(other);
    EXPECT_EQ(other_locked, 1u);
    EXPECT_TRUE(mutex_close(mutex));
}

TEST(Wrappers, EventWaitResults)
{
    HANDLE event = event_create();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event_wait(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(event_set(event));
    EXPECT_EQ(event_wait(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(event_wait(event, 0), WAIT_OBJECT_0);  // stays set until reset
    EXPECT_TRUE(event_reset(event));
    EXPECT_EQ(event_wait(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(event_close(event));
}

int32_t return_at_once(void* argument)
{
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(argument));
}

TEST(Wrappers, HandleInheritance)
{
    DWORD flags = 0;
    HANDLE mutex = mutex_create();
    ASSERT_TRUE(GetHandleInformation(mutex, &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    mutex_close(mutex);

    HANDLE event = event_create();
    ASSERT_TRUE(GetHandleInformation(event, &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    event_close(event);

    WorkerRecord* worker = worker_start(return_at_once, reinterpret_cast<void*>(7));
    ASSERT_NE(worker, WRAPPER_INVALID);
    ASSERT_TRUE(GetHandleInformation(worker->thread, &flags));
    EXPECT_NE(flags & HANDLE_FLAG_INHERIT, 0u);
    WaitForSingleObject(worker->thread, INFINITE);
    worker_release(worker);
}

TEST(Wrappers, RoutineThatReturnsAtOnce)
{
    LONG freed_before = worker_records_freed();
    WorkerRecord* worker = worker_start(return_at_once, reinterpret_cast<void*>(-42));
    ASSERT_NE(worker, WRAPPER_INVALID);
    WaitForSingleObject(worker->thread, INFINITE);
    EXPECT_EQ(worker->state, 2);
    EXPECT_EQ(worker_is_running(worker), 0);
    EXPECT_EQ(worker_result(worker), -42);
    DWORD exit_code = 0;
    GetExitCodeThread(worker->thread, &exit_code);
    EXPECT_EQ(static_cast<int32_t>(exit_code), -42);
    worker_release(worker);
    EXPECT_EQ(worker_records_freed(), freed_before + 1);
    EXPECT_EQ(worker_is_running(static_cast<WorkerRecord*>(WRAPPER_INVALID)), 0);
}

struct Gate {
    HANDLE go;
    volatile LONG finished;
    volatile LONG spin;  // work between saying "finished" and returning
};

int32_t wait_for_gate(void* argument)
{
    Gate* gate = static_cast<Gate*>(argument);
    WaitForSingleObject(gate->go, INFINITE);
    InterlockedIncrement(&gate->finished);
    for (volatile LONG i = 0; i < gate->spin; i = i + 1) {
    }
    return 5;
}

TEST(Wrappers, ReleaseWhileRunningLetsTheThreadFree)
{
    Gate gate = {CreateEventA(nullptr, TRUE, FALSE, nullptr), 0, 0};
    LONG freed_before = worker_records_freed();
    WorkerRecord* worker = worker_start(wait_for_gate, &gate);
    ASSERT_NE(worker, WRAPPER_INVALID);
    EXPECT_EQ(worker_is_running(worker), 1);
    worker_release(worker);
    EXPECT_EQ(worker_records_freed(), freed_before);  // not yet: the routine runs
    SetEvent(gate.go);
    for (int i = 0; i < 500 && worker_records_freed() == freed_before; ++i)
        Sleep(10);
    EXPECT_EQ(worker_records_freed(), freed_before + 1);
    CloseHandle(gate.go);
}

// Workers released before, at and after the moment their routine returns:
// the gate lets the test choose the moment, so releases really race the
// return.  Every record is freed exactly once, every handle closed once.
TEST(Wrappers, ReleaseRacesTheRoutinesReturn)
{
    constexpr int worker_count = 600;
    LONG freed_before = worker_records_freed();
    LONG closed_before = worker_handles_closed();
    Gate gate = {CreateEventA(nullptr, FALSE, FALSE, nullptr), 0, 0};
    int released_while_running = 0;
    for (int i = 0; i < worker_count; ++i) {
        LONG finished = gate.finished;
        WorkerRecord* worker = worker_start(wait_for_gate, &gate);
        ASSERT_NE(worker, WRAPPER_INVALID);
        switch (i % 3) {
        case 0:  // before: the routine still waits
            worker_release(worker);
            SetEvent(gate.go);
            break;
        case 1:  // about the moment it returns: past its work, up to a few ms from the end
            gate.spin = (i * 7919) % 5000000;
            SetEvent(gate.go);
            while (gate.finished == finished)
                YieldProcessor();
            if (worker_is_running(worker))
                ++released_while_running;
            worker_release(worker);
            break;
        default:  // after
            SetEvent(gate.go);
            while (worker_is_running(worker))
                SwitchToThread();
            worker_release(worker);
            break;
        }
        while (gate.finished == finished)
            SwitchToThread();
        gate.spin = 0;
    }
    for (int i = 0; i < 1000 && worker_records_freed() - freed_before < worker_count; ++i)
        Sleep(10);
    EXPECT_EQ(worker_records_freed() - freed_before, worker_count);
    EXPECT_EQ(worker_handles_closed() - closed_before, worker_count);
    EXPECT_GT(released_while_running, 0) << "no release raced a return";
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
    CloseHandle(gate.go);
}

} // namespace
