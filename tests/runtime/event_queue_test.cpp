// Event queues: the 64-byte payload bound, posting order, unique and process
// events (and a removed twin that must not swallow a new process step), due
// times and the main queue's 0.1 s budget on the test clock, release
// functions, nested flushes, posting from eight threads while the owner
// flushes, and RemoveInstance from a foreign thread while the owner runs one
// of the instance's functions.
#include "runtime/event_queue.h"

#include <signal.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/signal.h"
#include "runtime/thread.h"
#include "runtime/time.h"
#include "tests/support/main_thread_hook.h"
#include "tests/support/runtime.h"

namespace {

// Yields until Condition holds; false once a minute has passed, so that a
// fault fails the test with a message instead of hanging it.
template <typename Function> bool SpinUntil(Function &&Condition) {
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!Condition()) {
        if (std::chrono::steady_clock::now() > Deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

class EventQueueTest : public RuntimeTest {
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

// Events record "name" (the instance as text) and, when present, the first
// payload byte into one journal, so order and arguments can be compared.
std::vector<std::string> Journal;

int32 Record(void *Instance, void *Payload) {
    std::string Entry = static_cast<const char *>(Instance);
    if (Payload != nullptr) Entry += ":" + std::to_string(*static_cast<uint8 *>(Payload));
    Journal.push_back(Entry);
    return 1;
}

int32 RecordRelease(void *Instance, void *Payload) {
    std::string Entry = std::string("release ") + static_cast<const char *>(Instance);
    if (Payload != nullptr) Entry += ":" + std::to_string(*static_cast<uint8 *>(Payload));
    Journal.push_back(Entry);
    return 1;
}

std::vector<std::string> TakeJournal() { return std::exchange(Journal, {}); }

using Strings = std::vector<std::string>;

char A[] = "a", B[] = "b", C[] = "c", D[] = "d";

int32 CountCall(void *Instance) {
    ++*static_cast<int32 *>(Instance);
    return 1;
}

int32 CountOtherCall(void *Instance) {
    *static_cast<int32 *>(Instance) += 100;
    return 1;
}

} // namespace

TEST_F(EventQueueTest, PayloadsUpToSixtyFourBytesAreCopied) {
    uint8 Payload[EVENTQUEUE_MAXPAYLOADSIZE];
    for (int Index = 0; Index < EVENTQUEUE_MAXPAYLOADSIZE; Index++) Payload[Index] = (uint8)(Index + 1);
    static uint8 Seen[EVENTQUEUE_MAXPAYLOADSIZE];
    memset(Seen, 0, sizeof(Seen));
    EXPECT_EQ(EventQueue_Add(nullptr, nullptr, Payload, sizeof(Payload), [](void *, void *Copy) {
                  memcpy(Seen, Copy, sizeof(Seen));
                  return 1;
              }),
              1);
    memset(Payload, 0xEE, sizeof(Payload)); // the event holds its own copy
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    for (int Index = 0; Index < EVENTQUEUE_MAXPAYLOADSIZE; Index++) EXPECT_EQ(Seen[Index], Index + 1);

    // No payload: the function gets null.
    EventQueue_Add(nullptr, A, nullptr, 0, Record);
    uint8 One = 9;
    EventQueue_Add(nullptr, B, &One, 0, Record); // size 0: nothing copied
    EventQueue_Add(nullptr, C, &One, 1, Record);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeJournal(), (Strings{"a", "b", "c:9"}));
}

// Records come back for later posts: a short payload must not show the bytes
// of a longer one before it, and a burst larger than the queue keeps for reuse
// still runs whole and in order, twice over.
TEST_F(EventQueueTest, ReusedRecordsCarryOnlyTheirOwnPayload) {
    static uint8 Seen[EVENTQUEUE_MAXPAYLOADSIZE];
    auto Copy = [](void *, void *Payload) {
        memcpy(Seen, Payload, sizeof(Seen));
        return 1;
    };
    uint8 Long[EVENTQUEUE_MAXPAYLOADSIZE];
    memset(Long, 0xEE, sizeof(Long));
    EventQueue_Add(nullptr, nullptr, Long, sizeof(Long), Copy);
    EventQueue_Flush(nullptr);
    const uint8 Short[2] = {1, 2};
    EventQueue_Add(nullptr, nullptr, Short, sizeof(Short), Copy);
    EventQueue_Flush(nullptr);
    uint8 Expected[EVENTQUEUE_MAXPAYLOADSIZE] = {1, 2};
    EXPECT_EQ(memcmp(Seen, Expected, sizeof(Seen)), 0);

    static std::vector<int32> Order;
    auto Note = [](void *, void *Payload) {
        Order.push_back(*static_cast<int32 *>(Payload));
        return 1;
    };
    EventQueue *Queue = nullptr;
    EventQueue_Create(&Queue);
    for (int32 Round = 0; Round < 2; Round++) {
        Order.clear();
        for (int32 Index = 0; Index < 5000; Index++) EventQueue_Add(Queue, nullptr, &Index, sizeof(Index), Note);
        EXPECT_EQ(EventQueue_Flush(Queue), 1);
        ASSERT_EQ(Order.size(), 5000u);
        for (int32 Index = 0; Index < 5000; Index++) ASSERT_EQ(Order[Index], Index);
    }
    EventQueue_Release(&Queue);
}

TEST_F(EventQueueTest, DueEventsRunInPostingOrderAndWakeTheOwner) {
    EventQueue_Add(nullptr, A, nullptr, 0, Record);
    EventQueue_Add(nullptr, B, nullptr, 0, Record);
    EventQueue_Add(nullptr, C, nullptr, 0, Record);
    uint32 Main = Thread_GetMainId();
    EXPECT_EQ(TakeHookCalls(), (HookList{{Main, 1}, {Main, 1}, {Main, 1}}));
    EXPECT_EQ(Thread_Wait(0), 1);
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"a", "b", "c"}));
    EXPECT_EQ(EventQueue_Flush(nullptr), 1); // empty
    EXPECT_TRUE(TakeJournal().empty());
}

TEST_F(EventQueueTest, DelayedEventsWaitAndKeepTheirPlace) {
    Time_TestClockStart(1000000);
    EXPECT_EQ(EventQueue_AddDelay(nullptr, A, nullptr, 0, Record, 5.0), 1);
    EXPECT_TRUE(TakeHookCalls().empty()); // not due: nobody is woken
    EventQueue_Add(nullptr, B, nullptr, 0, Record);
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"b"}));
    Time_TestClockAdvance(4999);
    EventQueue_Flush(nullptr);
    EXPECT_TRUE(TakeJournal().empty());
    Time_TestClockAdvance(1);
    EventQueue_Add(nullptr, C, nullptr, 0, Record);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeJournal(), (Strings{"a", "c"}));

    // Absolute due times, one in the past.
    float64 Now = Time_GetCurrent();
    EventQueue_AddTime(nullptr, A, nullptr, 0, Record, Now + 2.0);
    EventQueue_AddTime(nullptr, B, nullptr, 0, Record, Now - 1.0);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeJournal(), (Strings{"b"}));
    Time_TestClockAdvance(2000);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeJournal(), (Strings{"a"}));
}

TEST_F(EventQueueTest, EventsPostedDuringAPassRunInTheNextFlush) {
    Time_TestClockStart(1000000);
    EventQueue_Add(nullptr, A, nullptr, 0, [](void *Instance, void *Payload) {
        Record(Instance, Payload);
        Time_TestClockAdvance(1); // the post below is due after the pass's start
        EventQueue_Add(nullptr, B, nullptr, 0, Record);
        return 1;
    });
    EventQueue_Add(nullptr, C, nullptr, 0, Record);
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"a", "c"}));
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"b"}));
}

// The clock counts whole milliseconds, so a post made during a pass is often
// stamped with the pass's own start; it must still wait for the next flush.
// Two steps that queue themselves again would otherwise chase each other
// through one pass (without end while the clock stands still).
TEST_F(EventQueueTest, StepsRequeuedDuringAPassRunOncePerFlush) {
    Time_TestClockStart(1000000);
    struct Step {
        static int32 Requeue(void *Instance) {
            int32 *Count = static_cast<int32 *>(Instance);
            if (++*Count < 50) EventQueue_AddProcess(nullptr, Count, Requeue);
            return 1;
        }
    };
    int32 First = 0, Second = 0;
    EventQueue_AddProcess(nullptr, &First, Step::Requeue);
    EventQueue_AddProcess(nullptr, &Second, Step::Requeue);
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(First, 1);
    EXPECT_EQ(Second, 1);
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(First, 2);
    EXPECT_EQ(Second, 2);

    // A post with a due time already past counts as posted during the pass too.
    EventQueue_Add(nullptr, A, nullptr, 0, [](void *Instance, void *Payload) {
        Record(Instance, Payload);
        EventQueue_AddTime(nullptr, B, nullptr, 0, Record, 0);
        return 1;
    });
    EventQueue_Add(nullptr, C, nullptr, 0, Record);
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"a", "c"}));
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"b"}));
}

TEST_F(EventQueueTest, UniqueAddsLowerButNeverRaiseTheQueuedDueTime) {
    auto SameInstance = [](void *NewInstance, void *, void *QueuedInstance, void *) {
        return NewInstance == QueuedInstance ? 1 : 0;
    };
    Time_TestClockStart(1000000);
    // A queued delayed event is pulled forward to now by an equal unique add.
    EventQueue_AddDelay(nullptr, A, nullptr, 0, Record, 10.0);
    TakeHookCalls();
    EXPECT_EQ(EventQueue_AddUnique(nullptr, A, nullptr, 0, Record, SameInstance), 0);
    EXPECT_EQ(TakeHookCalls(), (HookList{{Thread_GetMainId(), 1}})); // now due: owner woken
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeJournal(), (Strings{"a"}));

    // Queued at 1000 s; an equal add at 1005 s must not move it to 1005 s.
    EXPECT_EQ(EventQueue_AddUnique(nullptr, B, nullptr, 0, Record, SameInstance), 1);
    Time_TestClockStart(1005000);
    TakeHookCalls();
    EXPECT_EQ(EventQueue_AddUnique(nullptr, B, nullptr, 0, Record, SameInstance), 0);
    EXPECT_EQ(TakeHookCalls(), (HookList{{Thread_GetMainId(), 1}})); // the twin is due: owner woken
    Time_TestClockStart(1001000);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeJournal(), (Strings{"b"}));

    // Different instances are not equal.
    EXPECT_EQ(EventQueue_AddUnique(nullptr, C, nullptr, 0, Record, SameInstance), 1);
    EXPECT_EQ(EventQueue_AddUnique(nullptr, D, nullptr, 0, Record, SameInstance), 1);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeJournal(), (Strings{"c", "d"}));
}

TEST_F(EventQueueTest, ProcessStepsAreQueuedOncePerInstanceAndFunction) {
    int32 First = 0, Second = 0;
    EXPECT_EQ(EventQueue_AddProcess(nullptr, &First, CountCall), 1);
    EXPECT_EQ(EventQueue_AddProcess(nullptr, &First, CountCall), 1); // answers 1, queues nothing
    EXPECT_EQ(EventQueue_AddProcess(nullptr, &First, CountOtherCall), 1);
    EXPECT_EQ(EventQueue_AddProcess(nullptr, &Second, CountCall), 1);
    // A plain event of the same instance is no process twin.
    EventQueue_Add(nullptr, &First, nullptr, 0, [](void *Instance, void *) {
        *static_cast<int32 *>(Instance) += 1000;
        return 1;
    });
    EXPECT_EQ(EventQueue_AddProcess(nullptr, &First, CountCall), 1);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(First, 1 + 100 + 1000);
    EXPECT_EQ(Second, 1);
    // After it ran, the step can be queued again.
    EventQueue_AddProcess(nullptr, &First, CountCall);
    EventQueue_Flush(nullptr);
    EXPECT_EQ(First, 1102);
}

// A removed process event must not stand in for a new one: otherwise the
// object's process step would never run again.
TEST_F(EventQueueTest, ARemovedProcessEventDoesNotSwallowTheNextOne) {
    int32 Count = 0;
    EventQueue_AddProcess(nullptr, &Count, CountCall);
    EXPECT_EQ(EventQueue_RemoveInstance(nullptr, &Count), 1);
    EventQueue_AddProcess(nullptr, &Count, CountCall);
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(Count, 1);
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(Count, 1);
}

TEST_F(EventQueueTest, RemovedEventsOnlyRelease) {
    uint8 One = 1, Two = 2, Three = 3;
    EXPECT_EQ(EventQueue_AddComplexEvent(nullptr, A, &One, 1, Record, RecordRelease), 1);
    EventQueue_AddComplexEvent(nullptr, B, &Two, 1, Record, RecordRelease);
    EventQueue_AddComplexEvent(nullptr, A, &Three, 1, Record, RecordRelease);
    EventQueue_Add(nullptr, A, nullptr, 0, Record);
    EventQueue_RemoveInstance(nullptr, A);
    EventQueue_RemoveInstance(nullptr, D); // nothing queued for it
    EventQueue_Flush(nullptr);
    EXPECT_EQ(TakeJournal(), (Strings{"release a:1", "b:2", "release b:2", "release a:3"}));
}

TEST_F(EventQueueTest, RemoveInstanceFromTheOwnersOwnEventReturnsAtOnce) {
    EventQueue_Add(nullptr, A, nullptr, 0, [](void *Instance, void *Payload) {
        Record(Instance, Payload);
        EventQueue_RemoveInstance(nullptr, Instance);
        return 1;
    });
    EventQueue_Add(nullptr, A, nullptr, 0, Record);
    EventQueue_Add(nullptr, B, nullptr, 0, Record);
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"a", "b"}));
}

TEST_F(EventQueueTest, TheLastReleaseDeletesAndCallsOnlyReleaseFunctions) {
    EventQueue *Queue = nullptr;
    ASSERT_EQ(EventQueue_Create(&Queue), 1);
    EventQueue *Second = EventQueue_AddRef(Queue);
    EXPECT_EQ(Second, Queue);
    char Id[37] = "x";
    EXPECT_EQ(EventQueue_GetInstanceId(Queue, Id, sizeof(Id)), 1);
    EXPECT_STREQ(Id, ""); // queues carry no instance id
    uint8 Seven = 7, Eight = 8;
    EventQueue_AddComplexEvent(Queue, A, &Seven, 1, Record, RecordRelease);
    EventQueue_Add(Queue, B, nullptr, 0, Record);
    EventQueue_AddDelay(Queue, C, nullptr, 0, Record, 100.0);
    EventQueue_AddComplexEvent(Queue, D, &Eight, 1, Record, RecordRelease);
    EXPECT_EQ(EventQueue_Release(&Queue), 1);
    EXPECT_EQ(Queue, nullptr);
    EXPECT_TRUE(TakeJournal().empty());
    EXPECT_EQ(EventQueue_Release(&Second), 0);
    EXPECT_EQ(Second, nullptr);
    EXPECT_EQ(TakeJournal(), (Strings{"release a:7", "release d:8"}));

    EventQueue_Create(&Queue);
    EventQueue_AddComplexEvent(Queue, A, &Seven, 1, Record, RecordRelease);
    EXPECT_EQ(EventQueue_Delete(&Queue), 1);
    EXPECT_EQ(Queue, nullptr);
    EXPECT_EQ(TakeJournal(), (Strings{"release a:7"}));
}

TEST_F(EventQueueTest, TheMainQueuesBudgetLeavesTheRestForTheNextFlush) {
    Time_TestClockStart(1000000);
    auto Slow = [](void *Instance, void *Payload) {
        Record(Instance, Payload);
        Time_TestClockAdvance(101);
        return 1;
    };
    EventQueue_Add(nullptr, A, nullptr, 0, Slow);
    EventQueue_Add(nullptr, B, nullptr, 0, Record);
    EventQueue_Add(nullptr, C, nullptr, 0, Record);
    TakeHookCalls();
    EXPECT_EQ(EventQueue_Flush(nullptr), 0);
    EXPECT_EQ(TakeJournal(), (Strings{"a"}));
    // The owner is told to flush again (a plain signal, not an event post).
    EXPECT_EQ(TakeHookCalls(), (HookList{{Thread_GetMainId(), 0}}));
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"b", "c"}));

    // The budget is the single-precision 0.1 widened: 100 ms do not reach it.
    auto Exact = [](void *Instance, void *Payload) {
        Record(Instance, Payload);
        Time_TestClockAdvance(100);
        return 1;
    };
    EventQueue_Add(nullptr, A, nullptr, 0, Exact);
    EventQueue_Add(nullptr, B, nullptr, 0, Record);
    TakeHookCalls();
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"a", "b"}));
    EXPECT_TRUE(TakeHookCalls().empty());

    // Reached on the last event: the pass is complete, the owner still told.
    EventQueue_Add(nullptr, A, nullptr, 0, Record);
    EventQueue_Add(nullptr, B, nullptr, 0, Slow);
    TakeHookCalls();
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"a", "b"}));
    EXPECT_EQ(TakeHookCalls(), (HookList{{Thread_GetMainId(), 0}}));

    // Queues of one's own have no budget unless given one.
    EventQueue *Own = nullptr;
    EventQueue_Create(&Own);
    EventQueue_Add(Own, A, nullptr, 0, Slow);
    EventQueue_Add(Own, B, nullptr, 0, Slow);
    EXPECT_EQ(EventQueue_Flush(Own), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"a", "b"}));
    EventQueue_SetFlushTimeout(Own, 0.05);
    EventQueue_Add(Own, C, nullptr, 0, Slow);
    EventQueue_Add(Own, D, nullptr, 0, Slow);
    EXPECT_EQ(EventQueue_Flush(Own), 0);
    EXPECT_EQ(EventQueue_Flush(Own), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"c", "d"}));
    EventQueue_Release(&Own);
}

// An event function that flushes its own queue again (as a nested run loop
// does) takes events the outer pass was about to visit.
TEST_F(EventQueueTest, NestedFlushesRunEveryEventOnce) {
    EventQueue_Add(nullptr, A, nullptr, 0, [](void *Instance, void *Payload) {
        Record(Instance, Payload);
        EventQueue_Flush(nullptr);
        return 1;
    });
    EventQueue_AddComplexEvent(nullptr, B, nullptr, 0, Record, RecordRelease);
    EventQueue_Add(nullptr, C, nullptr, 0, Record);
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_EQ(TakeJournal(), (Strings{"a", "b", "release b", "c"}));
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    EXPECT_TRUE(TakeJournal().empty());
}

TEST_F(EventQueueTest, EightThreadsPostWhileTheOwnerFlushes) {
    constexpr int Posters = 8, PerPoster = 4000;
    struct Tally {
        std::atomic<int> Total{0};
        int Next[Posters] = {};
        int OutOfOrder = 0;
        int ProcessSteps = 0;
    } Tally;
    struct Item {
        int Poster, Sequence;
    };
    std::vector<std::thread> Threads;
    std::atomic<bool> Go{false};
    for (int Poster = 0; Poster < Posters; Poster++)
        Threads.emplace_back([&, Poster] {
            while (!Go.load()) std::this_thread::yield();
            for (int Sequence = 0; Sequence < PerPoster; Sequence++) {
                Item Posted{Poster, Sequence};
                EventQueue_Add(nullptr, &Tally, &Posted, sizeof(Posted), [](void *Instance, void *Payload) {
                    auto *Self = static_cast<struct Tally *>(Instance);
                    auto *Got = static_cast<Item *>(Payload);
                    if (Self->Next[Got->Poster] != Got->Sequence) Self->OutOfOrder++;
                    Self->Next[Got->Poster] = Got->Sequence + 1;
                    Self->Total++;
                    return 1;
                });
                if (Sequence % 64 == 0)
                    EventQueue_AddProcess(nullptr, &Tally.ProcessSteps, [](void *Instance) {
                        ++*static_cast<int *>(Instance);
                        return 1;
                    });
            }
        });
    Go = true;
    // Past the deadline the join and the counts below say what went missing.
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (Tally.Total.load() < Posters * PerPoster && std::chrono::steady_clock::now() < Deadline) {
        EventQueue_Flush(nullptr);
        Thread_Wait(10);
    }
    for (std::thread &Poster : Threads) Poster.join();
    EventQueue_Flush(nullptr);
    EXPECT_EQ(Tally.Total.load(), Posters * PerPoster);
    EXPECT_EQ(Tally.OutOfOrder, 0);
    EXPECT_GE(Tally.ProcessSteps, 1);
    EXPECT_LE(Tally.ProcessSteps, Posters * ((PerPoster + 63) / 64));
    for (int Poster = 0; Poster < Posters; Poster++) EXPECT_EQ(Tally.Next[Poster], PerPoster);
}

// While the owner runs a function of the instance, a foreign RemoveInstance
// waits; when it returns, that function has finished and no function of the
// instance starts any more. Events queued behind it may run before the
// removal takes hold; each of them is released exactly once either way.
TEST_F(EventQueueTest, ForeignRemoveInstanceWaitsForTheRunningFunction) {
    constexpr int Later = 200;
    struct Shared {
        std::atomic<int> Started{0}, RemoverEntered{0}, Finished{0}, RemoveReturned{0};
        std::atomic<int> LateRuns{0}, Released{0}, FinishedWhenRemoved{-1};
    } Shared;
    EventQueue_Add(nullptr, &Shared, nullptr, 0, [](void *Instance, void *) {
        auto *Self = static_cast<struct Shared *>(Instance);
        Self->Started = 1;
        EXPECT_TRUE(SpinUntil([Self] { return Self->RemoverEntered.load() != 0; })) << "the remover never started";
        // Give a remover that does not wait the chance to return early.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Self->Finished = 1;
        return 1;
    });
    for (int Index = 0; Index < Later; Index++)
        EventQueue_AddComplexEvent(
            nullptr, &Shared, nullptr, 0,
            [](void *Instance, void *) {
                auto *Self = static_cast<struct Shared *>(Instance);
                if (Self->RemoveReturned.load() != 0) Self->LateRuns++;
                return 1;
            },
            [](void *Instance, void *) {
                static_cast<struct Shared *>(Instance)->Released++;
                return 1;
            });
    std::thread Remover([&] {
        EXPECT_TRUE(SpinUntil([&] { return Shared.Started.load() != 0; })) << "the flush never ran the event";
        Shared.RemoverEntered = 1;
        EventQueue_RemoveInstance(nullptr, &Shared);
        Shared.FinishedWhenRemoved = Shared.Finished.load();
        Shared.RemoveReturned = 1;
    });
    EXPECT_EQ(EventQueue_Flush(nullptr), 1);
    Remover.join();
    EventQueue_Flush(nullptr);
    EXPECT_EQ(Shared.FinishedWhenRemoved.load(), 1);
    EXPECT_EQ(Shared.LateRuns.load(), 0);
    EXPECT_EQ(Shared.Released.load(), Later);
}

TEST_F(EventQueueTest, ByThreadIdReachesAStartedThreadsQueue) {
    struct Owner {
        std::atomic<int> Count{0};
        static int32 Run(void *User) {
            (void)User;
            while (!Thread_WaitForExit(0)) {
                Thread_Tick();
                Thread_Wait(60000);
            }
            return 0;
        }
    } Owner;
    Thread *Handle = nullptr;
    ASSERT_EQ(Thread_Begin(&Handle, &Owner, Owner::Run), 1);
    uint32 Id = Thread_GetId(Handle);
    // Queued with a delay, then removed by thread id: it never runs.
    EventQueue *Queue = Thread_GetEventQueueHandle(Id);
    ASSERT_NE(Queue, nullptr);
    EventQueue_AddDelay(Queue, &Owner, nullptr, 0, [](void *Instance, void *) {
        static_cast<struct Owner *>(Instance)->Count += 1000;
        return 1;
    }, 3600.0);
    EXPECT_EQ(EventQueue_RemoveInstanceByThreadId(Id, &Owner), 1);
    EventQueue_Release(&Queue);
    EXPECT_EQ(EventQueue_AddProcessByThreadId(Id, &Owner, [](void *Instance) {
                  static_cast<struct Owner *>(Instance)->Count++;
                  return 1;
              }),
              1);
    Thread_SignalExit(Id);
    ASSERT_EQ(Thread_Join(-1, &Handle), 1);
    EXPECT_EQ(Owner.Count.load(), 1);
    EXPECT_TRUE(TakeHookCalls().empty());
}

TEST(EventQueueDeathTest, PayloadsAboveSixtyFourBytesStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static const char Expected[] =
        "Assertion failed \\(sizeof\\(EventQueueEventStruct\\) \\+ InternalEventSize <= "
        "EVENTQUEUE_MAXEVENTSIZE\\)\nEvent exceed max size";
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            uint8 Payload[EVENTQUEUE_MAXPAYLOADSIZE + 1] = {};
            EventQueue_Add(nullptr, A, Payload, sizeof(Payload), Record);
        },
        ::testing::KilledBySignal(SIGILL), Expected);
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            EventQueue_Add(nullptr, A, nullptr, -1, Record);
        },
        ::testing::KilledBySignal(SIGILL), Expected);
}

TEST(EventQueueDeathTest, OnlyTheOwnerFlushes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            int32 Empty = -1;
            // An empty queue answers 1 on any thread.
            std::thread([&] { Empty = EventQueue_Flush(nullptr); }).join();
            if (Empty != 1) _exit(3);
            EventQueue_Add(nullptr, A, nullptr, 0, Record);
            std::thread([] { EventQueue_Flush(nullptr); }).join();
        },
        ::testing::KilledBySignal(SIGILL),
        "Assertion failed \\(Thread_GetCurrentId\\(\\) == EventQueue->ThreadId\\)\n"
        "Unable to flush event queue on invalid thread");
}

TEST(EventQueueDeathTest, BadHandlesAndPayloadsStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Without a main queue the null handle has nothing to stand for.
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Thread_Init();
            EventQueue_Add(nullptr, A, nullptr, 0, Record);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            uint32 NotAQueue[32] = {};
            NotAQueue[9] = 0x11223344; // where the class id sits
            EventQueue_Flush(reinterpret_cast<EventQueue *>(NotAQueue));
        },
        ::testing::KilledBySignal(SIGILL), "Class mismatch pointer .*expected 0xc97be418 but was 0x11223344");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            EventQueue_ProcessRun(A, nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            uint32 Wrong[4] = {};
            Wrong[0] = 0x01020304;
            EventQueue_ProcessRun(A, Wrong);
        },
        ::testing::KilledBySignal(SIGILL), "Class mismatch pointer .*expected 0x74495cc2 but was 0x01020304");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            StartThreads();
            EventQueue_Add(nullptr, A, nullptr, 0, nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}
