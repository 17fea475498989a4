// The join check of debug builds: the notification center's owner thread
// joining, without end, a thread blocked in a cross-thread fire (which waits
// for that very owner to deliver) is a fatal stop naming the thread, also
// when the thread starts waiting after the join began; bounded joins, joins
// from other threads and joins after the center is gone are not stopped.
// Release builds never ask the check (the death tests are skipped there).
//
// The gtest thread is the owner ("main") thread.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "runtime/containers/dictionary.h"
#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "tests/support/runtime.h"

namespace {

class ThreadJoinCheckTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Thread_Init();
        EventQueue_Init();
        NotificationCenter_Init();
    }
    void TearDown() override {
        NotificationCenter_Remove();
        Thread_SetJoinCheck(nullptr);
        EventQueue_Remove();
        Thread_Remove();
        RuntimeTest::TearDown();
    }
};
using ThreadJoinCheckDeathTest = ThreadJoinCheckTest;

std::atomic<int32> FireResult{-1};

int32 FireFromThread(void *) {
    FireResult = NotificationCenter_Fire("Worker", "Done", "joined", nullptr);
    return 0;
}

// Starts a thread that fires and waits (on the owner's loop, without
// delivering anything) until the fire is queued and the thread blocked in it.
Thread *StartBlockedFirer() {
    FireResult = -1;
    Thread *Worker = nullptr;
    if (!Thread_Begin(&Worker, nullptr, FireFromThread)) return nullptr;
    for (int32 Pass = 0; !NotificationCenter_IsThreadBlockedInFire(Thread_GetId(Worker)); Pass++) {
        if (Pass == 100000) return nullptr;
        Thread_Wait(1000);
    }
    return Worker;
}

TEST_F(ThreadJoinCheckDeathTest, OwnerJoiningAThreadBlockedInAFireIsAFatalStop) {
#ifdef NDEBUG
    GTEST_SKIP() << "release builds do not check joins";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            alarm(30); // a join that is not stopped would never end
            Thread *Worker = StartBlockedFirer();
            if (Worker == nullptr) _exit(3);
            Thread_Join(-1, &Worker);
            _exit(4);
        },
        ::testing::KilledBySignal(SIGILL),
        "Assertion failed \\(!JoinCheck\\(Thread->ThreadId\\)\\)\n"
        "Thread_Join - Thread [0-9]+ is blocked waiting for the joining thread [0-9]+, the join would never end");
}

// A check of the test's own that answers 1 from its third question on,
// counting the questions (the thread joined waits for its exit signal).
std::atomic<int32> Questions{0};
int32 WaitsFromTheThirdQuestion(uint32) { return ++Questions >= 3; }
int32 ExitsAtTheThirdQuestion(uint32 ThreadId) {
    if (++Questions == 3) Thread_SignalExit(ThreadId);
    return FALSE;
}
int32 WaitForExit(void *) { return Thread_WaitForExit(-1); }

TEST_F(ThreadJoinCheckDeathTest, JoinWithoutEndAsksAgainWhileItWaits) {
#ifdef NDEBUG
    GTEST_SKIP() << "release builds do not check joins";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            alarm(30);
            Questions = 0;
            Thread_SetJoinCheck(WaitsFromTheThirdQuestion);
            Thread *Worker = nullptr;
            Thread_Begin(&Worker, nullptr, WaitForExit);
            Thread_Join(-1, &Worker);
            _exit(4);
        },
        ::testing::KilledBySignal(SIGILL), "Thread_Join - Thread [0-9]+ is blocked waiting for the joining thread");

    // Answers of 0 let the join go on until the thread is done.
    Questions = 0;
    Thread_SetJoinCheck(ExitsAtTheThirdQuestion);
    Thread *Worker = nullptr;
    ASSERT_EQ(Thread_Begin(&Worker, nullptr, WaitForExit), 1);
    EXPECT_EQ(Thread_Join(-1, &Worker), 1);
    EXPECT_EQ(Worker, nullptr);
    EXPECT_GE(Questions.load(), 3);
}

TEST_F(ThreadJoinCheckTest, BoundedJoinsOfAFiringThreadTimeOutInsteadOfStopping) {
    Thread *Worker = StartBlockedFirer();
    ASSERT_NE(Worker, nullptr);
    EXPECT_EQ(Thread_Join(0, &Worker), 0);
    EXPECT_EQ(Thread_Join(20, &Worker), 0);
    ASSERT_NE(Worker, nullptr);
    // Once delivered, the thread is no longer blocked and joins.
    NotificationCenter_Process();
    EXPECT_EQ(Thread_Join(-1, &Worker), 1);
    EXPECT_EQ(FireResult.load(), 1);
}

Thread *Joined = nullptr;
std::atomic<int32> Joining{0};
int32 JoinFromAnotherThread(void *) {
    Joining = 1;
    Thread_Signal(Thread_GetMainId());
    return Thread_Join(-1, &Joined);
}

TEST_F(ThreadJoinCheckTest, OtherThreadsMayJoinAThreadBlockedInAFire) {
    Thread *Worker = StartBlockedFirer();
    ASSERT_NE(Worker, nullptr);
    Joined = Worker;
    Thread *Joiner = nullptr;
    Joining = 0;
    ASSERT_EQ(Thread_Begin(&Joiner, nullptr, JoinFromAnotherThread), 1);
    for (int32 Pass = 0; !Joining.load(); Pass++) {
        ASSERT_LT(Pass, 100000);
        Thread_Wait(1000);
    }
    // The joiner waits while the owner delivers; then both end.
    NotificationCenter_Process();
    EXPECT_EQ(Thread_Join(-1, &Joiner), 1);
    EXPECT_EQ(Joined, nullptr);
    EXPECT_EQ(FireResult.load(), 1);
}

TEST_F(ThreadJoinCheckTest, RemovingTheCenterWakesTheFirerAndLetsTheOwnerJoin) {
    Thread *Worker = StartBlockedFirer();
    ASSERT_NE(Worker, nullptr);
    NotificationCenter_Remove();
    EXPECT_EQ(Thread_Join(-1, &Worker), 1);
    EXPECT_EQ(FireResult.load(), 0);
    NotificationCenter_Init(); // for TearDown
}

} // namespace
