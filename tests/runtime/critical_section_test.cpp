// Critical sections: creation and deletion, recursion, mutual exclusion
// across threads, and the handle checks.
#include "runtime/critical_section.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/class.h"
#include "tests/support/runtime.h"

class CriticalSectionTest : public RuntimeTest {};

TEST_F(CriticalSectionTest, CreateValidateDelete) {
    void *Lock = nullptr;
    ASSERT_EQ(CriticalSection_Create(&Lock), 1);
    ASSERT_NE(Lock, nullptr);
    EXPECT_EQ(static_cast<ClassStruct *>(Lock)->ClassId, CRITICALSECTION_CLASSID);
    EXPECT_EQ(CriticalSection_ValidHandle(Lock), 1);
    EXPECT_EQ(CriticalSection_Delete(&Lock), 1);
    EXPECT_EQ(Lock, nullptr);

    EXPECT_EQ(CriticalSection_Create(nullptr), 0);
    EXPECT_EQ(CriticalSection_ValidHandle(nullptr), 0);
    EXPECT_EQ(CriticalSection_Delete(&Lock), 0); // already cleared
    ClassStruct Other{};
    Other.ClassId = 0x12345678;
    void *Foreign = &Other;
    EXPECT_EQ(CriticalSection_ValidHandle(Foreign), 0);
    EXPECT_EQ(CriticalSection_Delete(&Foreign), 0);
    EXPECT_EQ(Foreign, &Other); // an invalid handle is left alone
}

TEST_F(CriticalSectionTest, RecursiveLockingOnOneThread) {
    void *Lock = nullptr;
    ASSERT_EQ(CriticalSection_Create(&Lock), 1);
    for (int Depth = 0; Depth < 5; Depth++) EXPECT_EQ(CriticalSection_Lock(Lock), 1);
    for (int Depth = 0; Depth < 5; Depth++) EXPECT_EQ(CriticalSection_Unlock(Lock), 1);
    // Fully released: another thread can take it now.
    std::thread([&] {
        EXPECT_EQ(CriticalSection_Lock(Lock), 1);
        EXPECT_EQ(CriticalSection_Unlock(Lock), 1);
    }).join();
    CriticalSection_Delete(&Lock);
}

TEST_F(CriticalSectionTest, ExcludesOtherThreadsWhileHeldRecursively) {
    void *Lock = nullptr;
    ASSERT_EQ(CriticalSection_Create(&Lock), 1);
    std::atomic<int> Inside{0};
    int Counter = 0; // plain: only the lock protects it
    bool Overlap = false;
    std::vector<std::thread> Threads;
    for (int Index = 0; Index < 6; Index++)
        Threads.emplace_back([&] {
            for (int Step = 0; Step < 20000; Step++) {
                CriticalSection_Lock(Lock);
                CriticalSection_Lock(Lock); // re-entered, as the memory and log modules do
                if (Inside.fetch_add(1) != 0) Overlap = true;
                Counter++;
                Inside.fetch_sub(1);
                CriticalSection_Unlock(Lock);
                // Still held once: no other thread may be inside here either.
                if (Inside.fetch_add(1) != 0) Overlap = true;
                Counter++;
                Inside.fetch_sub(1);
                CriticalSection_Unlock(Lock);
            }
        });
    for (std::thread &Thread : Threads) Thread.join();
    EXPECT_FALSE(Overlap);
    EXPECT_EQ(Counter, 6 * 20000 * 2);
    CriticalSection_Delete(&Lock);
}

// Unlocking a section held by another thread changes nothing: the holder's
// own unlock is still the one that frees it.
TEST_F(CriticalSectionTest, AnUnlockFromANonHolderIsRefused) {
    void *Lock = nullptr;
    ASSERT_EQ(CriticalSection_Create(&Lock), 1);
    EXPECT_EQ(CriticalSection_Unlock(Lock), 0); // not held at all
    ASSERT_EQ(CriticalSection_Lock(Lock), 1);
    std::thread([&] { EXPECT_EQ(CriticalSection_Unlock(Lock), 0); }).join();
    EXPECT_EQ(CriticalSection_Unlock(Lock), 1);
    std::thread([&] {
        EXPECT_EQ(CriticalSection_Lock(Lock), 1);
        EXPECT_EQ(CriticalSection_Unlock(Lock), 1);
    }).join();
    CriticalSection_Delete(&Lock);
}

// Threads that pile up behind a long-held section, spinning or asleep, are
// all let in once it is released, round after round (a lost wake-up hangs).
TEST_F(CriticalSectionTest, WaitersBehindAHolderAllGetIn) {
    void *Lock = nullptr;
    ASSERT_EQ(CriticalSection_Create(&Lock), 1);
    constexpr int Waiters = 8;
    for (int Round = 0; Round < 20; Round++) {
        std::atomic<int> Arrived{0};
        int Entered = 0; // plain: only the lock protects it
        CriticalSection_Lock(Lock);
        std::vector<std::thread> Threads;
        for (int Index = 0; Index < Waiters; Index++)
            Threads.emplace_back([&] {
                Arrived.fetch_add(1);
                CriticalSection_Lock(Lock);
                Entered++;
                // Holds it a while by the clock, spinning: a count of yields
                // would stretch the hold with every slice a busy process
                // takes on the same core.
                const auto Until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
                while (std::chrono::steady_clock::now() < Until) {
                }
                CriticalSection_Unlock(Lock);
            });
        while (Arrived.load() < Waiters) std::this_thread::yield();
        CriticalSection_Unlock(Lock);
        for (std::thread &Thread : Threads) Thread.join();
        EXPECT_EQ(Entered, Waiters);
    }
    CriticalSection_Delete(&Lock);
}

TEST(CriticalSectionDeathTest, BadHandlesStopAtTheCallersLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Runtime;
            CriticalSection_Lock(nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL\n.*critical_section_test.cpp");
    EXPECT_EXIT(
        {
            RuntimeScope Runtime;
            ClassStruct Other{};
            Other.ClassId = 0x0badf00d;
            CriticalSection_Unlock(&Other);
        },
        ::testing::KilledBySignal(SIGILL),
        "Class mismatch pointer \\(0x.*: expected 0xff945dbc but was 0x0badf00d\\)");
}
