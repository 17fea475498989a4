// The main thread's wake-up: only event posts schedule a flush, one at a time
// and never during the host's process step; the loop clears the mark before
// flushing and does not wait after a flush that ran out of budget.
#include "host/host_signal.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/event_queue.h"
#include "runtime/thread.h"
#include "runtime/time.h"
#include "tests/support/runtime.h"

namespace {

class HostSignalTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Thread_Init();
        EventQueue_Init();
        ASSERT_EQ(Host_MainThreadSignalInit(), 1);
        Thread_SetUnhandledSignal(Host_PlatformMainThreadSignal);
    }
    void TearDown() override {
        Thread_SetUnhandledSignal(nullptr);
        Host_MainThreadSignalRemove();
        EventQueue_Remove();
        Thread_Remove();
        Time_TestClockStop();
        RuntimeTest::TearDown();
    }
};

// How many wake-ups are pending on the descriptor (0 when not readable);
// reading consumes them, as the loop does.
uint64 TakeWakeUps() {
    int32 Descriptor = Host_MainThreadSignalDescriptor();
    pollfd Poll{Descriptor, POLLIN, 0};
    if (poll(&Poll, 1, 0) != 1) return 0;
    uint64 Count = 0;
    if (read(Descriptor, &Count, sizeof(Count)) != (ssize_t)sizeof(Count)) return 0;
    return Count;
}

bool Readable() {
    pollfd Poll{Host_MainThreadSignalDescriptor(), POLLIN, 0};
    return poll(&Poll, 1, 0) == 1;
}

std::atomic<int> Ran{0};

int32 CountRun(void *, void *) {
    Ran++;
    return 1;
}

void PostFromAnotherThread(int Count) {
    std::thread([Count] {
        for (int Index = 0; Index < Count; Index++) EventQueue_Add(nullptr, nullptr, nullptr, 0, CountRun);
    }).join();
}

} // namespace

TEST_F(HostSignalTest, ABurstOfPostsSchedulesOneFlush) {
    Ran = 0;
    EXPECT_GE(Host_MainThreadSignalDescriptor(), 0);
    EXPECT_FALSE(Readable());
    PostFromAnotherThread(3);
    EXPECT_TRUE(Readable());
    EXPECT_EQ(Host_MainLoopStep(0), 1);
    EXPECT_EQ(Ran.load(), 3);
    EXPECT_FALSE(Readable()); // the loop consumed the wake-up

    // The mark was cleared: the next post schedules again, once.
    PostFromAnotherThread(2);
    EXPECT_EQ(TakeWakeUps(), 1u);
    Host_MainLoopStep(0);
    EXPECT_EQ(Ran.load(), 5);
}

TEST_F(HostSignalTest, PlainSignalsScheduleNothing) {
    std::thread([] {
        EXPECT_EQ(Host_PlatformMainThreadSignal(Thread_GetMainId(), 0), 1);
        EXPECT_EQ(Host_PlatformMainThreadSignal(Thread_GetMainId(), 2), 1);
        Thread_Signal(Thread_GetMainId());
    }).join();
    EXPECT_FALSE(Readable());
    std::thread([] { EXPECT_EQ(Host_PlatformMainThreadSignal(Thread_GetMainId(), 1), 1); }).join();
    EXPECT_EQ(TakeWakeUps(), 1u);
}

// The loop's own thread is awake: its posts wake nothing, and the next pass
// runs them without waiting, however long it was asked to wait.
TEST_F(HostSignalTest, PostsFromTheLoopsThreadAreRunWithoutAWakeUp) {
    Ran = 0;
    EventQueue_Add(nullptr, nullptr, nullptr, 0, CountRun);
    EXPECT_FALSE(Readable());
    auto Start = std::chrono::steady_clock::now();
    EXPECT_EQ(Host_MainLoopStep(60000), 1);
    EXPECT_EQ(Ran.load(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(20));
    // A busy loop polls seldom: it runs what another thread posts at its
    // next pass, and reads the wake-up within 32 passes of a standing clock.
    Time_TestClockStart(1000000);
    for (int Pass = 0; Pass < 40; Pass++) {
        if (Pass == 5) PostFromAnotherThread(1);
        EventQueue_Add(nullptr, nullptr, nullptr, 0, CountRun);
        EXPECT_EQ(Host_MainLoopStep(60000), 1);
        EXPECT_EQ(Ran.load(), Pass < 5 ? 2 + Pass : 3 + Pass);
        if (Pass == 5) {
            EXPECT_TRUE(Readable());
        }
    }
    EXPECT_FALSE(Readable());
}

TEST_F(HostSignalTest, NothingIsScheduledDuringTheProcessStep) {
    Ran = 0;
    Host_SetProcessStepRunning(1);
    PostFromAnotherThread(1);
    EXPECT_FALSE(Readable());
    Host_SetProcessStepRunning(0);
    EXPECT_EQ(Host_MainLoopStep(0), 1); // a step without a wake-up still flushes
    EXPECT_EQ(Ran.load(), 1);
    PostFromAnotherThread(1);
    EXPECT_TRUE(Readable());
}

// A post made by an event function during the flush is not lost: the mark
// was cleared before the flush began, so it schedules the next pass.
TEST_F(HostSignalTest, PostsDuringTheFlushScheduleTheNextOne) {
    Ran = 0;
    Time_TestClockStart(1000000);
    EventQueue_Add(nullptr, nullptr, nullptr, 0, [](void *, void *) {
        Time_TestClockAdvance(1);
        EventQueue_Add(nullptr, nullptr, nullptr, 0, CountRun);
        return 1;
    });
    EXPECT_EQ(Host_MainLoopStep(60000), 1);
    EXPECT_EQ(Ran.load(), 0);
    // The next pass runs it without waiting.
    auto Start = std::chrono::steady_clock::now();
    EXPECT_EQ(Host_MainLoopStep(60000), 1);
    EXPECT_EQ(Ran.load(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(20));
}

TEST_F(HostSignalTest, ALeftoverFromTheBudgetIsFlushedWithoutWaiting) {
    Ran = 0;
    Time_TestClockStart(1000000);
    for (int Index = 0; Index < 3; Index++)
        EventQueue_Add(nullptr, nullptr, nullptr, 0, [](void *, void *) {
            Ran++;
            Time_TestClockAdvance(60);
            return 1;
        });
    EXPECT_EQ(Host_MainLoopStep(0), 0);
    EXPECT_EQ(Ran.load(), 2);
    EXPECT_FALSE(Readable()); // a budget signal is no event post
    auto Start = std::chrono::steady_clock::now();
    EXPECT_EQ(Host_MainLoopStep(30000), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(20));
    EXPECT_EQ(Ran.load(), 3);
}

TEST_F(HostSignalTest, AWaitingLoopWakesForAPostFromAnotherThread) {
    Ran = 0;
    std::atomic<bool> Waiting{false};
    std::thread Poster([&] {
        while (!Waiting.load()) std::this_thread::yield();
        EventQueue_Add(nullptr, nullptr, nullptr, 0, CountRun);
    });
    Waiting = true;
    // A wait far longer than the check: a post that does not wake the loop
    // shows as the time it took, not as a hang.
    auto Start = std::chrono::steady_clock::now();
    while (Ran.load() == 0 && std::chrono::steady_clock::now() - Start < std::chrono::seconds(20))
        Host_MainLoopStep(60000);
    Poster.join();
    EXPECT_EQ(Ran.load(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(20)) << "the post did not wake the loop";
}

TEST(HostSignalLifecycle, InitIsIdempotentAndRemoveForgetsTheDescriptor) {
    RuntimeScope Scope;
    EXPECT_EQ(Host_MainThreadSignalDescriptor(), -1);
    EXPECT_EQ(Host_MainThreadSignalRemove(), 0);
    // The hook before Init has nothing to wake and does no harm.
    EXPECT_EQ(Host_PlatformMainThreadSignal(1, 1), 1);
    ASSERT_EQ(Host_MainThreadSignalInit(), 1);
    int32 Descriptor = Host_MainThreadSignalDescriptor();
    EXPECT_EQ(Host_MainThreadSignalInit(), 1);
    EXPECT_EQ(Host_MainThreadSignalDescriptor(), Descriptor);
    EXPECT_EQ(Host_MainThreadSignalRemove(), 1);
    EXPECT_EQ(Host_MainThreadSignalDescriptor(), -1);
}
