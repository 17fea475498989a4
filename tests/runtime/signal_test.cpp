// Signals: manual and auto-reset modes, waking one or all waiters, waits with
// deadlines (lower bounds only: a wait never ends early) and the null-handle
// stops at the caller's line.
#include "runtime/signal.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/support/runtime.h"

namespace {

using Clock = std::chrono::steady_clock;

class SignalTest : public RuntimeTest {
  protected:
    Signal *Handle = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        ASSERT_EQ(Signal_Create(&Handle), 1);
        ASSERT_NE(Handle, nullptr);
    }
    void TearDown() override {
        if (Handle != nullptr) Signal_Delete(&Handle);
        RuntimeTest::TearDown();
    }
};

int64 MillisecondsSince(Clock::time_point Start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Start).count();
}

} // namespace

TEST_F(SignalTest, ManualResetStaysSetUntilCleared) {
    int32 State = -1, AutoReset = -1, Signalled = -1;
    EXPECT_EQ(Signal_Get(Handle, &State), 1);
    EXPECT_EQ(State, 0);
    EXPECT_EQ(Signal_GetAutoReset(Handle, &AutoReset), 1);
    EXPECT_EQ(AutoReset, 0);

    EXPECT_EQ(Signal_Wait(Handle, &Signalled, 0), 1);
    EXPECT_EQ(Signalled, 0);

    EXPECT_EQ(Signal_Set(Handle, 1), 1);
    for (int Pass = 0; Pass < 3; Pass++) {
        EXPECT_EQ(Signal_Wait(Handle, &Signalled, 0), 1);
        EXPECT_EQ(Signalled, 1);
        EXPECT_EQ(Signal_Wait(Handle, &Signalled, 100), 1);
        EXPECT_EQ(Signalled, 1);
    }
    Signal_Get(Handle, &State);
    EXPECT_EQ(State, 1);

    EXPECT_EQ(Signal_Set(Handle, 0), 1);
    Signal_Get(Handle, &State);
    EXPECT_EQ(State, 0);
    Signal_Wait(Handle, &Signalled, 0);
    EXPECT_EQ(Signalled, 0);
    // A signalled out may be left out.
    EXPECT_EQ(Signal_Wait(Handle, nullptr, 0), 1);
}

TEST_F(SignalTest, AutoResetWaitConsumesTheFlag) {
    EXPECT_EQ(Signal_SetAutoReset(Handle, 1), 1);
    int32 AutoReset = 0, State = -1, Signalled = -1;
    Signal_GetAutoReset(Handle, &AutoReset);
    EXPECT_EQ(AutoReset, 1);

    Signal_Set(Handle, 1);
    Signal_Set(Handle, 1); // already set: nothing more to consume
    Signal_Get(Handle, &State);
    EXPECT_EQ(State, 1);
    Signal_Wait(Handle, &Signalled, 0);
    EXPECT_EQ(Signalled, 1);
    Signal_Get(Handle, &State);
    EXPECT_EQ(State, 0);
    Signal_Wait(Handle, &Signalled, 0);
    EXPECT_EQ(Signalled, 0);

    // Only exactly 1 switches the mode on.
    Signal_SetAutoReset(Handle, 2);
    Signal_GetAutoReset(Handle, &AutoReset);
    EXPECT_EQ(AutoReset, 0);
}

TEST_F(SignalTest, ShortWaitsLastAtLeastFifteenMilliseconds) {
    for (int32 Timeout : {1, 14, 15}) {
        int32 Signalled = -1;
        Clock::time_point Start = Clock::now();
        EXPECT_EQ(Signal_Wait(Handle, &Signalled, Timeout), 1);
        EXPECT_EQ(Signalled, 0);
        EXPECT_GE(MillisecondsSince(Start), 15) << "timeout " << Timeout;
    }
    int32 Signalled = -1;
    Clock::time_point Start = Clock::now();
    EXPECT_EQ(Signal_Wait(Handle, &Signalled, 40), 1);
    EXPECT_EQ(Signalled, 0);
    EXPECT_GE(MillisecondsSince(Start), 40);
}

TEST_F(SignalTest, ManualResetSetWakesEveryWaiter) {
    constexpr int WaiterCount = 4;
    std::atomic<int> Woken{0};
    std::vector<std::thread> Waiters;
    for (int Index = 0; Index < WaiterCount; Index++)
        Waiters.emplace_back([&] {
            int32 Signalled = 0;
            EXPECT_EQ(Signal_Wait(Handle, &Signalled, -1), 1);
            if (Signalled == 1) Woken++;
        });
    Signal_Set(Handle, 1);
    for (std::thread &Waiter : Waiters) Waiter.join();
    EXPECT_EQ(Woken.load(), WaiterCount);
    int32 State = 0;
    Signal_Get(Handle, &State);
    EXPECT_EQ(State, 1);
}

TEST_F(SignalTest, AutoResetSetReleasesExactlyOneOfTwoWaiters) {
    Signal_SetAutoReset(Handle, 1);
    std::atomic<int> Woken{0}, TimedOut{0}, Waiting{0};
    auto Wait = [&] {
        Waiting++;
        int32 Signalled = -1;
        EXPECT_EQ(Signal_Wait(Handle, &Signalled, 300), 1);
        (Signalled == 1 ? Woken : TimedOut)++;
    };
    std::thread First(Wait), Second(Wait);
    while (Waiting.load() < 2) std::this_thread::yield();
    Signal_Set(Handle, 1);
    First.join();
    Second.join();
    EXPECT_EQ(Woken.load(), 1);
    EXPECT_EQ(TimedOut.load(), 1);
    int32 State = -1;
    Signal_Get(Handle, &State);
    EXPECT_EQ(State, 0);
}

TEST_F(SignalTest, SetFromAnotherThreadEndsADeadlineWait) {
    std::thread Setter([&] { Signal_Set(Handle, 1); });
    int32 Signalled = 0;
    EXPECT_EQ(Signal_Wait(Handle, &Signalled, 60000), 1);
    EXPECT_EQ(Signalled, 1);
    Setter.join();
}

// Two auto-reset signals bounce a token between two threads; a lost wake-up
// would leave one side waiting until its deadline and fail the count.
TEST_F(SignalTest, PingPongLosesNoWakeUp) {
    Signal *Pong = nullptr;
    Signal_Create(&Pong);
    Signal_SetAutoReset(Handle, 1);
    Signal_SetAutoReset(Pong, 1);
    constexpr int Rounds = 5000;
    std::atomic<int> Missed{0};
    std::thread Other([&] {
        for (int Round = 0; Round < Rounds; Round++) {
            int32 Signalled = 0;
            Signal_Wait(Handle, &Signalled, 30000);
            if (!Signalled) Missed++;
            Signal_Set(Pong, 1);
        }
    });
    for (int Round = 0; Round < Rounds; Round++) {
        Signal_Set(Handle, 1);
        int32 Signalled = 0;
        Signal_Wait(Pong, &Signalled, 30000);
        if (!Signalled) Missed++;
    }
    Other.join();
    EXPECT_EQ(Missed.load(), 0);
    Signal_Delete(&Pong);
}

TEST_F(SignalTest, DeleteClearsTheHandle) {
    Signal *Other = nullptr;
    Signal_Create(&Other);
    EXPECT_EQ(Signal_Delete(&Other), 1);
    EXPECT_EQ(Other, nullptr);
}

TEST(SignalDeathTest, NullHandlesStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Signal_Create(nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Signal *Empty = nullptr;
            Signal_Delete(&Empty);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Signal_Delete(nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    // Set and wait name the caller's file, not the module's.
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Signal_Set(nullptr, 1);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL\n \\(.*signal_test\\.cpp/[0-9]+\\)");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            int32 Signalled = 0;
            Signal_Wait(nullptr, &Signalled, 0);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL\n \\(.*signal_test\\.cpp/[0-9]+\\)");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Signal_SetAutoReset(nullptr, 1);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}
