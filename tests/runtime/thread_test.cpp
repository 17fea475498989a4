// Threads: kernel ids, names cut to the kernel's 15 bytes, the final drain
// before the done signal, joins with time-outs, reference counts, signals to
// the main thread through the host's hook, waking a started thread by
// posting to it, and the deadlock check on the test clock.
#include "runtime/thread.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "runtime/event_queue.h"
#include "runtime/posix/platform.h"
#include "runtime/signal.h"
#include "runtime/time.h"
#include "tests/support/main_thread_hook.h"
#include "tests/support/runtime.h"

namespace {

class ThreadTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        StartThreads();
    }
    void TearDown() override {
        EndThreads();
        RuntimeTest::TearDown();
    }
};

// A long-running thread as the module intends: tick, wait, until asked to exit.
struct Worker {
    std::atomic<int> Ticks{0};
    static int32 Run(void *User) {
        auto *Self = static_cast<Worker *>(User);
        while (!Thread_WaitForExit(0)) {
            Thread_Tick();
            Self->Ticks++;
            Thread_Wait(60000);
        }
        return 7;
    }
};

int32 Noop(void *) { return 0; }

} // namespace

TEST_F(ThreadTest, IdsAreTheKernelsThreadIds) {
    struct Seen {
        uint32 Kernel = 0, Reported = 0;
        static int32 Run(void *User) {
            auto *Self = static_cast<Seen *>(User);
            Self->Kernel = (uint32)gettid();
            Self->Reported = Thread_GetCurrentId();
            return 0;
        }
    } Seen;
    EXPECT_EQ(Thread_GetMainId(), (uint32)gettid());
    EXPECT_EQ(Thread_GetCurrentId(), (uint32)gettid());
    Thread *Handle = nullptr;
    ASSERT_EQ(Thread_Begin(&Handle, &Seen, Seen::Run), 1);
    ASSERT_NE(Handle, nullptr);
    uint32 Id = Thread_GetId(Handle);
    EXPECT_EQ(Thread_Join(-1, &Handle), 1);
    EXPECT_EQ(Handle, nullptr);
    EXPECT_EQ(Seen.Kernel, Id);
    EXPECT_EQ(Seen.Reported, Id);
    EXPECT_NE(Id, Thread_GetMainId());
    EXPECT_EQ(Thread_GetId(nullptr), 0u);
    // Joining an empty handle is done at once.
    EXPECT_EQ(Thread_Join(0, &Handle), 1);
}

TEST_F(ThreadTest, NamesLongerThanFifteenBytesAreCut) {
    struct Named {
        int32 Result = 0;
        std::string Comm, Short;
        static std::string ReadComm() {
            std::ifstream Stream("/proc/self/task/" + std::to_string(gettid()) + "/comm");
            std::string Text;
            std::getline(Stream, Text);
            return Text;
        }
        static int32 Run(void *User) {
            auto *Self = static_cast<Named *>(User);
            Thread *Me = nullptr;
            if (!Thread_FindThreadById(Thread_GetCurrentId(), &Me)) return 1;
            Self->Result = Thread_SetName(Me, "AuthenticateAsync");
            Self->Comm = ReadComm();
            Thread_SetName(Me, "Worker");
            Self->Short = ReadComm();
            Thread_Release(&Me);
            return 0;
        }
    } Named;
    Thread *Handle = nullptr;
    ASSERT_EQ(Thread_Begin(&Handle, &Named, Named::Run), 1);
    ASSERT_EQ(Thread_Join(-1, &Handle), 1);
    EXPECT_EQ(Named.Result, 1);
    EXPECT_EQ(Named.Comm, "AuthenticateAsy");
    EXPECT_EQ(Named.Short, "Worker");
}

TEST_F(ThreadTest, EventsPostedBeforeReturningRunBeforeTheDoneSignal) {
    struct Drained {
        uint32 ThreadId = 0;
        std::vector<int> Order;
        std::atomic<int> RanOnThread{0};
        std::atomic<int> FoundItself{0};
        static int32 Event(void *Instance, void *Payload) {
            auto *Self = static_cast<Drained *>(Instance);
            Self->Order.push_back(*static_cast<int *>(Payload));
            if (Thread_GetCurrentId() == Self->ThreadId) Self->RanOnThread++;
            // The record is out of the list but still the thread's own.
            Thread *Me = nullptr;
            if (Thread_FindThreadById(Thread_GetCurrentId(), &Me)) {
                Self->FoundItself++;
                Thread_Release(&Me);
            }
            return 1;
        }
        static int32 Run(void *User) {
            auto *Self = static_cast<Drained *>(User);
            Self->ThreadId = Thread_GetCurrentId();
            EventQueue *Own = Thread_GetCurrentEventQueueHandle();
            for (int Index = 1; Index <= 3; Index++) EventQueue_Add(Own, Self, &Index, sizeof(Index), Event);
            EventQueue_Release(&Own);
            return 0;
        }
    } Drained;
    Thread *Handle = nullptr;
    ASSERT_EQ(Thread_Begin(&Handle, &Drained, Drained::Run), 1);
    ASSERT_EQ(Thread_Join(-1, &Handle), 1);
    EXPECT_EQ(Drained.Order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(Drained.RanOnThread.load(), 3);
    EXPECT_EQ(Drained.FoundItself.load(), 3);
}

TEST_F(ThreadTest, JoinWithZeroTimeoutOnARunningThreadKeepsTheHandle) {
    Worker Work;
    Thread *Handle = nullptr;
    ASSERT_EQ(Thread_Begin(&Handle, &Work, Worker::Run), 1);
    uint32 Id = Thread_GetId(Handle);
    EXPECT_EQ(Thread_Join(0, &Handle), 0);
    EXPECT_NE(Handle, nullptr);
    EXPECT_EQ(Thread_GetId(Handle), Id);
    EXPECT_EQ(Thread_SignalExit(Id), 1);
    EXPECT_EQ(Thread_Join(-1, &Handle), 1);
    EXPECT_EQ(Handle, nullptr);
    // It has left the list: no exit to signal, no queue to hand out.
    EXPECT_EQ(Thread_SignalExit(Id), 0);
    EXPECT_EQ(Thread_GetEventQueueHandle(Id), nullptr);
    EXPECT_TRUE(TakeHookCalls().empty());
}

TEST_F(ThreadTest, FoundReferencesOutliveTheJoin) {
    Worker Work;
    Thread *Handle = nullptr;
    ASSERT_EQ(Thread_Begin(&Handle, &Work, Worker::Run), 1);
    uint32 Id = Thread_GetId(Handle);
    Thread *Found = nullptr;
    ASSERT_EQ(Thread_FindThreadById(Id, &Found), 1);
    EXPECT_EQ(Found, Handle);
    EventQueue *Queue = Thread_GetEventQueueHandle(Id);
    ASSERT_NE(Queue, nullptr);

    Thread_SignalExit(Id);
    ASSERT_EQ(Thread_Join(-1, &Handle), 1);
    // The found reference and the queue reference keep both alive.
    EXPECT_EQ(Thread_GetId(Found), Id);
    EXPECT_EQ(Thread_Release(&Found), 1);
    EXPECT_EQ(Found, nullptr);
    int32 Ran = 0;
    // Posting to the queue of an ended thread wakes the main thread instead.
    EventQueue_Add(Queue, &Ran, nullptr, 0, [](void *Instance, void *) {
        ++*static_cast<int32 *>(Instance);
        return 1;
    });
    EXPECT_EQ(TakeHookCalls(), (std::vector<std::pair<uint32, int32>>{{Id, 1}}));
    EXPECT_EQ(EventQueue_Release(&Queue), 0); // the last reference deletes it
    EXPECT_EQ(Ran, 0);

    Thread *Missing = nullptr;
    EXPECT_EQ(Thread_FindThreadById(Id, &Missing), 0);
    EXPECT_EQ(Missing, nullptr);
    // The main thread is never in the list.
    EXPECT_EQ(Thread_FindThreadById(Thread_GetMainId(), &Missing), 0);
}

TEST_F(ThreadTest, SignalsForUnknownIdsReachTheMainThreadAndTheHook) {
    EXPECT_EQ(Thread_Wait(0), 0);
    EXPECT_EQ(Thread_Signal(0x7fff1234), 1);
    EXPECT_EQ(TakeHookCalls(), (std::vector<std::pair<uint32, int32>>{{0x7fff1234u, 0}}));
    EXPECT_EQ(Thread_Wait(0), 1);
    EXPECT_EQ(Thread_Wait(0), 0); // auto-reset

    EXPECT_EQ(Thread_SignalEvent(Thread_GetMainId()), 1);
    EXPECT_EQ(TakeHookCalls(), (std::vector<std::pair<uint32, int32>>{{Thread_GetMainId(), 1}}));
    EXPECT_EQ(Thread_Wait(0), 1);

    // Without a hook only the main signal is set.
    Thread_SetUnhandledSignal(nullptr);
    Thread_SignalEvent(42);
    EXPECT_TRUE(TakeHookCalls().empty());
    EXPECT_EQ(Thread_Wait(0), 1);
    // The main thread's exit signal is its own; nothing here sets it.
    EXPECT_EQ(Thread_WaitForExit(0), 0);
    EXPECT_EQ(Thread_SignalExit(Thread_GetMainId()), 0);
}

TEST_F(ThreadTest, TheMainQueueIsTheNullHandle) {
    EXPECT_EQ(Thread_GetMainEventQueueHandle(), nullptr);
    EXPECT_EQ(Thread_GetEventQueueHandle(Thread_GetMainId()), nullptr);
    EXPECT_EQ(Thread_GetCurrentEventQueueHandle(), nullptr);
    EXPECT_EQ(Thread_Tick(), 0); // nothing to tick on the main thread
    int32 Count = 0;
    EventQueue_AddProcessByThreadId(Thread_GetMainId(), &Count, [](void *Instance) {
        ++*static_cast<int32 *>(Instance);
        return 1;
    });
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(Count, 1);
}

// A post made right after Thread_Begin returns must wake the new thread, not
// its creator: the thread waits once and reports whether it was woken.
TEST_F(ThreadTest, APostRightAfterBeginWakesTheNewThread) {
    for (int Round = 0; Round < 20; Round++) {
        struct Once {
            int32 Woken = -1;
            std::atomic<int> Ran{0};
            static int32 Run(void *User) {
                auto *Self = static_cast<Once *>(User);
                Self->Woken = Thread_Wait(30000);
                Thread_Tick();
                return 0;
            }
            static int32 Event(void *Instance, void *) {
                static_cast<Once *>(Instance)->Ran++;
                return 1;
            }
        } Once;
        Thread *Handle = nullptr;
        ASSERT_EQ(Thread_Begin(&Handle, &Once, Once::Run), 1);
        EventQueue *Queue = Thread_GetEventQueueHandle(Thread_GetId(Handle));
        ASSERT_NE(Queue, nullptr);
        EXPECT_EQ(EventQueue_Add(Queue, &Once, nullptr, 0, Once::Event), 1);
        EventQueue_Release(&Queue);
        ASSERT_EQ(Thread_Join(-1, &Handle), 1);
        EXPECT_EQ(Once.Woken, 1);
        EXPECT_EQ(Once.Ran.load(), 1);
    }
    EXPECT_TRUE(TakeHookCalls().empty());
    EXPECT_EQ(Thread_Wait(0), 0);
}

TEST_F(ThreadTest, PostsToAWorkerRunOnItsThread) {
    Worker Work;
    Thread *Handle = nullptr;
    ASSERT_EQ(Thread_BeginEx(&Handle, THREAD_MODE_FRAMEWORK, &Work, Worker::Run), 1);
    uint32 Id = Thread_GetId(Handle);
    struct Job {
        std::atomic<uint32> RanOn{0};
        Signal *Done = nullptr;
    } Job;
    Signal_Create(&Job.Done);
    EXPECT_EQ(EventQueue_AddProcessByThreadId(Id, &Job, [](void *Instance) {
                  auto *Self = static_cast<struct Job *>(Instance);
                  Self->RanOn = Thread_GetCurrentId();
                  Signal_Set(Self->Done, 1);
                  return 1;
              }),
              1);
    int32 Signalled = 0;
    Signal_Wait(Job.Done, &Signalled, 60000);
    EXPECT_EQ(Signalled, 1);
    EXPECT_EQ(Job.RanOn.load(), Id);
    Thread_SignalExit(Id);
    EXPECT_EQ(Thread_Join(-1, &Handle), 1);
    Signal_Delete(&Job.Done);
}

TEST_F(ThreadTest, RecordsComeFromChunksOfTenAndGoBack) {
    // More threads than one chunk holds, started and joined in two rounds.
    for (int Round = 0; Round < 2; Round++) {
        std::vector<Thread *> Handles(25, nullptr);
        for (Thread *&Handle : Handles) ASSERT_EQ(Thread_Begin(&Handle, nullptr, Noop), 1);
        std::vector<uint32> Ids;
        for (Thread *Handle : Handles) Ids.push_back(Thread_GetId(Handle));
        for (Thread *&Handle : Handles) EXPECT_EQ(Thread_Join(-1, &Handle), 1);
        std::sort(Ids.begin(), Ids.end());
        EXPECT_EQ(std::unique(Ids.begin(), Ids.end()), Ids.end());
    }
}

// Without a join the thread drops the last reference itself. Only the
// kernel tells when it is gone, and that gives ThreadSanitizer no ordering
// to see, so this case runs under the other builds only.
TEST_F(ThreadTest, ReleasingTheCreatorsHandleFirstLetsTheThreadFreeItself) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a thread that is never joined has no happens-before edge to the test";
#endif
    struct Gate {
        Signal *Go = nullptr;
        static int32 Run(void *User) {
            int32 Signalled = 0;
            Signal_Wait(static_cast<Gate *>(User)->Go, &Signalled, 60000);
            return 0;
        }
    } Gate;
    Signal_Create(&Gate.Go);
    Thread *Handle = nullptr;
    ASSERT_EQ(Thread_Begin(&Handle, &Gate, Gate::Run), 1);
    uint32 Id = Thread_GetId(Handle);
    EXPECT_EQ(Thread_Release(&Handle), 1);
    EXPECT_EQ(Handle, nullptr);
    Thread *Found = nullptr;
    ASSERT_EQ(Thread_FindThreadById(Id, &Found), 1); // still running, still listed
    Thread_Release(&Found);
    Signal_Set(Gate.Go, 1);
    const std::string Task = "/proc/self/task/" + std::to_string(Id);
    while (access(Task.c_str(), F_OK) == 0) sched_yield();
    EXPECT_EQ(Thread_FindThreadById(Id, &Found), 0);
    Signal_Delete(&Gate.Go);
}

// A thread that is released rather than joined must still give its stack
// back once it ends, whichever side lets go last: the thread itself, or the
// creator after the thread has ended. Forty leaked stacks would keep 320 MB
// of address space; returned ones are reused.
TEST_F(ThreadTest, ThreadsReleasedWithoutAJoinGiveTheirStacksBack) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a thread that is never joined has no happens-before edge to the test";
#endif
    auto VirtualKilobytes = [] {
        std::ifstream Status("/proc/self/status");
        std::string Line;
        while (std::getline(Status, Line))
            if (Line.rfind("VmSize:", 0) == 0) return std::stoll(Line.substr(7));
        return 0LL;
    };
    auto AwaitEnd = [](uint32 Id) {
        const std::string Task = "/proc/self/task/" + std::to_string(Id);
        while (access(Task.c_str(), F_OK) == 0) sched_yield();
    };
    struct Gate {
        Signal *Go = nullptr;
        static int32 Run(void *User) {
            int32 Signalled = 0;
            Signal_Wait(static_cast<Gate *>(User)->Go, &Signalled, 60000);
            return 0;
        }
    } Gate;
    Signal_Create(&Gate.Go);
    const long long Before = VirtualKilobytes();
    for (int Round = 0; Round < 40; Round++) {
        Signal_Set(Gate.Go, 0);
        Thread *Handle = nullptr;
        ASSERT_EQ(Thread_Begin(&Handle, &Gate, Gate::Run), 1);
        uint32 Id = Thread_GetId(Handle);
        if (Round % 2 == 0) {
            Thread_Release(&Handle); // the thread drops the last reference
            Signal_Set(Gate.Go, 1);
            AwaitEnd(Id);
        } else {
            Signal_Set(Gate.Go, 1);
            AwaitEnd(Id);
            Thread_Release(&Handle); // the creator drops the last reference
        }
    }
    EXPECT_LT(VirtualKilobytes() - Before, 100LL * 1024);
    Signal_Delete(&Gate.Go);
}

TEST_F(ThreadTest, DeadlockCheckAllowsSixtySecondsWithoutATick) {
    Time_TestClockStart(1000000);
    Worker Work;
    Thread *Handle = nullptr;
    ASSERT_EQ(Thread_Begin(&Handle, &Work, Worker::Run), 1);
    while (Work.Ticks.load() < 1) sched_yield(); // the first tick has happened
    Time_TestClockAdvance(60000);
    EXPECT_EQ(Thread_CheckForDeadlock(), 1); // exactly 60 s is still fine
    // A tick after a long quiet spell resets the count.
    Time_TestClockAdvance(30000);
    int Before = Work.Ticks.load();
    Thread_Signal(Thread_GetId(Handle));
    while (Work.Ticks.load() == Before) sched_yield();
    Time_TestClockAdvance(40000);
    EXPECT_EQ(Thread_CheckForDeadlock(), 1);
    Thread_SignalExit(Thread_GetId(Handle));
    EXPECT_EQ(Thread_Join(-1, &Handle), 1);
    // Ended threads are not checked.
    Time_TestClockAdvance(3600000);
    EXPECT_EQ(Thread_CheckForDeadlock(), 1);
}

TEST(ThreadDeathTest, AThreadSilentForOverSixtySecondsStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            Time_TestClockStart(1000000);
            Worker Work;
            Thread *Handle = nullptr;
            Thread_Begin(&Handle, &Work, Worker::Run);
            while (Work.Ticks.load() < 1) sched_yield();
            Time_TestClockAdvance(60001);
            Thread_CheckForDeadlock();
        },
        ::testing::KilledBySignal(SIGILL),
        "Assertion failed \\(CurrentTime - Thread->LastTickTime <= 60\\.f\\)\nDeadlock detected on thread [1-9][0-9]* ");
}

TEST(ThreadDeathTest, BadArgumentsStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            Thread_Begin(nullptr, nullptr, Noop);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            Thread *Handle = nullptr;
            Thread_Begin(&Handle, nullptr, nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            Thread *Empty = nullptr;
            Thread_Release(&Empty);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            Thread_Join(0, nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            uint32 NotAThread[32] = {0x12345678};
            Thread *Foreign = reinterpret_cast<Thread *>(NotAThread);
            Thread_Release(&Foreign);
        },
        ::testing::KilledBySignal(SIGILL), "Class mismatch pointer .*expected 0x25b3fa47 but was 0x12345678");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            Thread_FindThreadById(1, nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    // A thread names only itself.
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            Worker Work;
            Thread *Handle = nullptr;
            Thread_Begin(&Handle, &Work, Worker::Run);
            Thread_SetName(Handle, "Other");
        },
        ::testing::KilledBySignal(SIGILL), "The thread name must be set from within the thread");
}
