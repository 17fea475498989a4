// Callbacks: the pair is set and read whole from many threads, held user and
// scope references keep their objects alive until the reset, and the sync
// form keeps or drops its lock as asked. Run this program under TSan too.
#include "runtime/callback.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/class.h"
#include "runtime/critical_section.h"
#include "runtime/memory.h"
#include "tests/support/runtime.h"

namespace {

constexpr uint32 ItemClassId = 0x5eed0002u;

struct Item {
    ClassStruct Class;
    int32 *DeleteCount;
};

int32 Item_Delete(void *HandleAddress) {
    Item **Handle = static_cast<Item **>(HandleAddress);
    Class_CheckHandle(*Handle, ItemClassId);
    Item *Object = *Handle;
    ++*Object->DeleteCount;
    Memory_Delete(Object);
    *Handle = nullptr;
    return TRUE;
}

Item *Item_New(int32 *DeleteCount) {
    Item *New = Memory_New(Item);
    Class_InitHeader(New, ItemClassId, Item_Delete);
    New->DeleteCount = DeleteCount;
    return New;
}

int32 Noop(void *) { return TRUE; }

class CallbackTest : public RuntimeTest {};

} // namespace

TEST(CallbackLayout, PairIsSixteenAlignedBytes) {
    EXPECT_EQ(sizeof(CallbackBaseStruct), 16u);
    EXPECT_EQ(alignof(CallbackBaseStruct), 16u);
    EXPECT_EQ(offsetof(CallbackBaseStruct, Function), 8u);
    EXPECT_EQ(sizeof(CallbackStruct), 16u);
    EXPECT_EQ(offsetof(CallbackRef, UserScopeHandle), 16u);
    EXPECT_EQ(offsetof(CallbackSync, Lock), 16u);
}

TEST_F(CallbackTest, EmptyCallbackGivesNothing) {
    CallbackStruct Callback = {};
    void *User = reinterpret_cast<void *>(0x10);
    void *Function = reinterpret_cast<void *>(0x20);
    EXPECT_FALSE(CallbackBase_Get(&Callback, &User, &Function));
    EXPECT_EQ(Function, nullptr);
    EXPECT_EQ(User, nullptr);
    EXPECT_FALSE(CallbackBase_Get(&Callback, nullptr, nullptr));
}

TEST_F(CallbackTest, SetGetReset) {
    CallbackStruct Callback = {};
    int Value = 0;
    EXPECT_TRUE(CallbackBase_Set(&Callback, &Value, Noop));
    void *User = nullptr;
    void *Function = nullptr;
    EXPECT_TRUE(CallbackBase_Get(&Callback, &User, &Function));
    EXPECT_EQ(User, &Value);
    EXPECT_EQ(Function, reinterpret_cast<void *>(&Noop));
    // A plain callback may be set again without a reset.
    EXPECT_TRUE(CallbackBase_Set(&Callback, nullptr, Noop));
    EXPECT_TRUE(CallbackBase_Get(&Callback, &User, nullptr));
    EXPECT_EQ(User, nullptr);
    EXPECT_TRUE(CallbackBase_Reset(&Callback));
    EXPECT_FALSE(CallbackBase_Get(&Callback, &User, &Function));
    EXPECT_EQ(Callback.Base.UserPtr, nullptr);
    EXPECT_EQ(Callback.Base.Function, nullptr);
}

TEST_F(CallbackTest, AddReferenceKeepsUserAliveUntilReset) {
    int32 Deleted = 0;
    Item *Owner = Item_New(&Deleted);
    Item *Expected = Owner;
    CallbackStruct Callback = {};
    CallbackBase_SetWithReference(&Callback, Owner, Noop);
    EXPECT_EQ(Owner->Class.RefCount, 2);
    // The stored word is marked; readers get the object itself.
    EXPECT_EQ(reinterpret_cast<uintptr>(Callback.Base.UserPtr), reinterpret_cast<uintptr>(Owner) | 1);
    Class_Release(&Owner);
    EXPECT_EQ(Deleted, 0);
    void *User = nullptr;
    EXPECT_TRUE(CallbackBase_Get(&Callback, &User, nullptr));
    EXPECT_EQ(User, Expected);
    EXPECT_EQ(Expected->Class.RefCount, 1);
    CallbackBase_Reset(&Callback);
    EXPECT_EQ(Deleted, 1);
    // With a null user nothing is referenced or marked.
    CallbackBase_SetWithReference(&Callback, nullptr, Noop);
    EXPECT_EQ(Callback.Base.UserPtr, nullptr);
    CallbackBase_Set(&Callback, nullptr, Noop);
}

namespace {

constexpr int PairCount = 8;
struct alignas(8) UserRecord {
    int Index;
};
UserRecord Users[PairCount];
std::atomic<long long> Calls{0};
std::atomic<long long> Mismatches{0};

template <int I> int32 Target(void *User) {
    Calls.fetch_add(1, std::memory_order_relaxed);
    if (User != &Users[I]) Mismatches.fetch_add(1, std::memory_order_relaxed);
    return TRUE;
}

template <int... I> constexpr std::array<int32 (*)(void *), sizeof...(I)> MakeTargets(std::integer_sequence<int, I...>) {
    return {Target<I>...};
}
constexpr auto Targets = MakeTargets(std::make_integer_sequence<int, PairCount>());

} // namespace

TEST_F(CallbackTest, ReadersNeverPairAFunctionWithAnotherUser) {
    CallbackStruct Callback = {};
    Calls = 0;
    Mismatches = 0;
    // Set before any thread runs, and every reader reads at least once: on a
    // busy machine the setters may be done before a reader is scheduled.
    CallbackBase_Set(&Callback, &Users[0], Targets[0]);
    std::atomic<bool> Stop{false};
    std::vector<std::thread> Threads;
    for (int Setter = 0; Setter < 4; Setter++) {
        Threads.emplace_back([&Callback, Setter] {
            for (int Step = 0; Step < 50000; Step++) {
                int Index = (Step * 3 + Setter) % PairCount;
                CallbackBase_Set(&Callback, &Users[Index], Targets[Index]);
            }
        });
    }
    for (int Reader = 0; Reader < 4; Reader++) {
        Threads.emplace_back([&Callback, &Stop] {
            do {
                void *User = nullptr;
                int32 (*Function)(void *) = nullptr;
                if (CallbackBase_Get(&Callback, &User, &Function)) Function(User);
            } while (!Stop.load(std::memory_order_relaxed));
        });
    }
    for (int Index = 0; Index < 4; Index++) Threads[Index].join();
    Stop = true;
    for (size_t Index = 4; Index < Threads.size(); Index++) Threads[Index].join();
    EXPECT_GE(Calls.load(), 4);
    EXPECT_EQ(Mismatches.load(), 0);
}

TEST_F(CallbackTest, CallbackRefHoldsScopeUntilReset) {
    int32 Deleted = 0;
    Item *Scope = Item_New(&Deleted);
    Item *Watch = Scope;
    int Value = 0;
    CallbackRef Callback = {};
    EXPECT_TRUE(CallbackRef_Set(&Callback, Scope, &Value, Noop));
    EXPECT_EQ(Callback.UserScopeHandle, Scope);
    Class_Release(&Scope);
    EXPECT_EQ(Deleted, 0);
    EXPECT_EQ(Watch->Class.RefCount, 1);
    void *User = nullptr;
    EXPECT_TRUE(CallbackBase_Get(&Callback, &User, nullptr));
    EXPECT_EQ(User, &Value);
    // A null function resets, releasing the scope.
    EXPECT_TRUE(CallbackRef_Set(&Callback, nullptr, nullptr, nullptr));
    EXPECT_EQ(Deleted, 1);
    EXPECT_EQ(Callback.UserScopeHandle, nullptr);
    EXPECT_FALSE(CallbackBase_Get(&Callback, nullptr, nullptr));
}

TEST_F(CallbackTest, CallbackRefWithoutUserTakesNoScope) {
    int32 Deleted = 0;
    Item *Scope = Item_New(&Deleted);
    CallbackRef Callback = {};
    CallbackRef_Set(&Callback, Scope, nullptr, Noop);
    EXPECT_EQ(Callback.UserScopeHandle, nullptr);
    EXPECT_EQ(Scope->Class.RefCount, 1);
    CallbackRef_Reset(&Callback);
    Class_Release(&Scope);
    EXPECT_EQ(Deleted, 1);
}

TEST_F(CallbackTest, CallbackSyncKeepsItsLockOnNullFunction) {
    CallbackSync Callback = {};
    int Value = 0;
    // A reset without a lock does nothing.
    EXPECT_TRUE(CallbackSync_Reset(&Callback, FALSE));
    EXPECT_EQ(Callback.Lock, nullptr);
    EXPECT_TRUE(CallbackSync_Set(&Callback, &Value, Noop));
    void *Lock = Callback.Lock;
    EXPECT_TRUE(CriticalSection_ValidHandle(Lock));
    EXPECT_TRUE(CallbackSync_Set(&Callback, nullptr, nullptr));
    EXPECT_EQ(Callback.Lock, Lock);
    EXPECT_FALSE(CallbackBase_Get(&Callback, nullptr, nullptr));
    EXPECT_TRUE(CallbackSync_Set(&Callback, &Value, Noop));
    EXPECT_EQ(Callback.Lock, Lock);
    EXPECT_TRUE(CallbackSync_Reset(&Callback, TRUE));
    EXPECT_EQ(Callback.Lock, Lock);
    EXPECT_TRUE(CallbackSync_Reset(&Callback, FALSE));
    EXPECT_EQ(Callback.Lock, nullptr);
}

namespace {
CallbackSync SlowCallback;
std::atomic<int> SlowStage{0};
std::atomic<int> SlowFinished{0};
constexpr int SlowSteps = 200000;

int32 SlowCall(void *) {
    SlowStage = 1;
    while (SlowStage.load() != 2) {
    }
    // Work on after the resetter started: its reset must not return first.
    for (int Step = 0; Step < SlowSteps; Step++) SlowFinished.fetch_add(1, std::memory_order_relaxed);
    return TRUE;
}
} // namespace

TEST_F(CallbackTest, CallbackSyncResetWaitsForARunningCall) {
    CallbackSync &Callback = SlowCallback;
    Callback = {};
    SlowStage = 0;
    SlowFinished = 0;
    CallbackSync_Set(&Callback, nullptr, SlowCall);
    std::thread Caller([] {
        // The calling convention of a sync callback: read, lock, read again.
        void *User = nullptr;
        int32 (*Function)(void *) = nullptr;
        if (!CallbackBase_Get(&SlowCallback, &User, &Function)) return;
        void *Lock = SlowCallback.Lock;
        CriticalSection_Lock(Lock);
        if (CallbackBase_Get(&SlowCallback, &User, &Function)) Function(User);
        CriticalSection_Unlock(Lock);
    });
    while (SlowStage.load() != 1) {
    }
    SlowStage = 2;
    CallbackSync_Reset(&Callback, FALSE);
    EXPECT_EQ(SlowFinished.load(), SlowSteps);
    Caller.join();
}

TEST(CallbackDeath, Checks) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            alignas(16) char Buffer[48] = {};
            CallbackBase_Set(reinterpret_cast<CallbackBaseStruct *>(Buffer + 8), nullptr, Noop);
        },
        ::testing::KilledBySignal(SIGILL),
        "Assertion failed \\(\\(\\(intptr\\)CallbackPointers & \\(CALLBACK_ALIGN_BYTES - 1\\)\\) == 0\\)\nUnaligned "
        "value");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            int32 Deleted = 0;
            Item *Object = Item_New(&Deleted);
            CallbackStruct Callback = {};
            CallbackBase_SetWithReference(&Callback, Object, Noop);
            CallbackBase_Set(&Callback, nullptr, Noop);
        },
        ::testing::KilledBySignal(SIGILL),
        "Assertion failed \\(WasUserPtrRefCounted == FALSE \\|\\| CallbackPointers->UserPtr == NULL\\)\nCallback "
        "already registered");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            int32 Deleted = 0;
            Item *First = Item_New(&Deleted);
            Item *Second = Item_New(&Deleted);
            int Value = 0;
            CallbackRef Callback = {};
            CallbackRef_Set(&Callback, First, &Value, Noop);
            CallbackRef_Set(&Callback, Second, &Value, Noop);
        },
        ::testing::KilledBySignal(SIGILL),
        "Assertion failed \\(PrevUserScopeHandle == NULL\\)\nCallbackRef already registered");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            CallbackStruct Callback = {};
            CallbackBase_Set(&Callback, reinterpret_cast<void *>(0x1001), Noop);
        },
        ::testing::KilledBySignal(SIGILL), "Callback user value must be even");
}

TEST(CallbackModule, InitAndRemoveAnswerOne) {
    EXPECT_EQ(Callback_Init(), 1);
    EXPECT_EQ(Callback_Remove(), 1);
}
