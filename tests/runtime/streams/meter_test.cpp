// Meters: token buckets, inherited limits, rates and the tree, all on the
// test clock; bucket caps against Python's single-precision arithmetic; the
// clamps that keep 32-bit buckets from wrapping (under UBSan).
#include "runtime/streams/meter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/debug.h"
#include "runtime/time.h"
#include "tests/support/python.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"

namespace {

// The runtime, the meter module and the test clock at 100 s; the first tick
// has run, so buckets fill only through limits and later ticks.
class MeterTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
        Time_TestClockStart(100000);
        Meter_Init();
        Meter_Process();
    }
    void TearDown() override {
        Meter_Remove();
        Time_TestClockStop();
        RuntimeTest::TearDown();
    }
    static void Tick(uint64 Milliseconds) {
        Time_TestClockAdvance(Milliseconds);
        Meter_Process();
    }
    static Meter *Make(Meter *Parent = nullptr) {
        Meter *Handle = nullptr;
        EXPECT_EQ(Meter_Create(&Handle), 1);
        Meter_SetParentHandle(Handle, Parent != nullptr ? Parent : Meter_RootHandle());
        return Handle;
    }
    // What Meter_Limit grants of the request, and its result.
    static std::pair<int32, int32> Ask(Meter *Handle, int32 Bytes) {
        int32 Result = Meter_Limit(Handle, &Bytes);
        return {Bytes, Result};
    }
};

using MeterDeathTest = MeterTest;

int32 EffectiveLimit(Meter *Handle) {
    int32 Limit = 12345;
    Meter_GetLimitBandwidth(Handle, &Limit);
    return Limit;
}

int64 Overall(Meter *Handle) {
    int64 Bytes = -1;
    Meter_GetOverallUsage(Handle, &Bytes);
    return Bytes;
}

} // namespace

TEST_F(MeterTest, SmallLimitsBecomeOneKibAndNegativeRemovesTheLimit) {
    Meter *Handle = Make();
    EXPECT_EQ(EffectiveLimit(Handle), -1);
    EXPECT_EQ(Meter_SetLimitBandwidth(Handle, 0), 1);
    EXPECT_EQ(Handle->Limit, 1024);
    Meter_SetLimitBandwidth(Handle, 1023);
    EXPECT_EQ(Handle->Limit, 1024);
    Meter_SetLimitBandwidth(Handle, 1025);
    EXPECT_EQ(Handle->Limit, 1025);
    Meter_SetLimitBandwidth(Handle, -1);
    EXPECT_EQ(EffectiveLimit(Handle), -1);
    EXPECT_EQ(Ask(Handle, 1 << 30), std::make_pair(1 << 30, 1));
    Meter_SetLimitBandwidth(Handle, -7);
    EXPECT_EQ(Handle->Limit, -7);
    Meter_Delete(&Handle);
    EXPECT_EQ(Handle, nullptr);
}

// Limits below 1,024 are raised to 1,024, so the bucket is shown at 2,000
// bytes per second (cap 2,100); the caps of smaller limits are checked in
// BucketCapUsesSinglePrecisionLikePython.
TEST_F(MeterTest, TokenBucketRefillsOncePerSecondUpToItsCap) {
    Meter *Handle = Make();
    Meter_SetLimitBandwidth(Handle, 2000);
    EXPECT_EQ(Handle->Allowance, 2000);
    EXPECT_EQ(Ask(Handle, 8000), std::make_pair(2000, 1));
    EXPECT_EQ(Handle->Granted, 2000);
    EXPECT_EQ(Ask(Handle, 8000), std::make_pair(0, 0));
    // Half a second is not a tick.
    Tick(500);
    EXPECT_EQ(Ask(Handle, 8000), std::make_pair(0, 0));
    Tick(500);
    EXPECT_EQ(Handle->Allowance, 2000);
    EXPECT_EQ(Ask(Handle, 8000), std::make_pair(2000, 1));
    // Three seconds fill the bucket to its cap, not to 6,000; one request
    // still takes at most one second's limit.
    Tick(3000);
    EXPECT_EQ(Handle->Allowance, 2100);
    EXPECT_EQ(Ask(Handle, 8000), std::make_pair(2000, 1));
    EXPECT_EQ(Ask(Handle, 8000), std::make_pair(100, 1));
    EXPECT_EQ(Ask(Handle, 0), std::make_pair(0, 0));
    EXPECT_EQ(Ask(Handle, -5), std::make_pair(-5, 0));
    Meter_Release(&Handle);
    EXPECT_EQ(Handle, nullptr);
}

TEST_F(MeterTest, ReportGivesBackTheUnusedPartOfAGrant) {
    Meter *Handle = Make();
    Meter_SetLimitBandwidth(Handle, 2000);
    EXPECT_EQ(Ask(Handle, 500), std::make_pair(500, 1));
    EXPECT_EQ(Handle->Allowance, 1500);
    Meter_Report(Handle, 200);
    EXPECT_EQ(Handle->Allowance, 1800);
    EXPECT_EQ(Handle->Granted, 0);
    EXPECT_EQ(Overall(Handle), 200);
    // A whole grant used leaves Granted until the next Meter_Limit.
    EXPECT_EQ(Ask(Handle, 300), std::make_pair(300, 1));
    Meter_Report(Handle, 300);
    EXPECT_EQ(Handle->Granted, 300);
    EXPECT_EQ(Handle->Allowance, 1500);
    // A failed transfer (0 or a negative count) returns exactly the grant.
    EXPECT_EQ(Ask(Handle, 100), std::make_pair(100, 1));
    Meter_Report(Handle, -1000);
    EXPECT_EQ(Handle->Allowance, 1500);
    EXPECT_EQ(Overall(Handle), 500);
    // The give-back never fills a bucket beyond its cap.
    Tick(5000);
    EXPECT_EQ(Ask(Handle, 2000), std::make_pair(2000, 1));
    Tick(5000);
    Meter_Report(Handle, 0);
    EXPECT_EQ(Handle->Allowance, 2100);
    Meter_Delete(&Handle);
}

TEST_F(MeterTest, ChildrenInheritAndShareTheParentLimit) {
    Meter *Parent = Make();
    Meter *A = Make(Parent), *B = Make(Parent);
    Meter_SetLimitBandwidth(Parent, 2048);
    EXPECT_EQ(EffectiveLimit(A), 2048);
    EXPECT_EQ(Ask(A, 1 << 20), std::make_pair(2048, 1));
    EXPECT_EQ(Ask(B, 1 << 20), std::make_pair(0, 0));
    Tick(1000);
    EXPECT_EQ(Ask(A, 1500), std::make_pair(1500, 1));
    EXPECT_EQ(Ask(B, 1500), std::make_pair(548, 1));
    // B used only 48 bytes: 500 go back to the limited parent.
    Meter_Report(B, 48);
    EXPECT_EQ(Parent->Allowance, 500);
    EXPECT_EQ(Ask(A, 1 << 20), std::make_pair(500, 1));
    Meter_Delete(&A);
    Meter_Delete(&B);
    Meter_Delete(&Parent);
}

TEST_F(MeterTest, EffectiveLimitIsTheSmallestPositiveOnTheWayToTheRoot) {
    Meter *Top = Make();
    Meter *Middle = Make(Top);
    Meter *Leaf = Make(Middle);
    EXPECT_EQ(EffectiveLimit(Leaf), -1);
    Meter_SetLimitBandwidth(Top, 5000);
    EXPECT_EQ(EffectiveLimit(Leaf), 5000);
    Meter_SetLimitBandwidth(Leaf, 3000);
    EXPECT_EQ(EffectiveLimit(Leaf), 3000);
    EXPECT_EQ(EffectiveLimit(Middle), 5000);
    Meter_SetLimitBandwidth(Leaf, 8000);
    EXPECT_EQ(EffectiveLimit(Leaf), 5000);
    Meter_SetLimitBandwidth(Meter_RootHandle(), 4096);
    EXPECT_EQ(EffectiveLimit(Leaf), 4096);
    // The leaf's grant is bounded by every limited bucket on the way; the
    // unlimited middle is charged as well.
    EXPECT_EQ(Ask(Leaf, 100000), std::make_pair(4096, 1));
    EXPECT_EQ(Middle->Allowance, -4096);
    // The root's new limit gave its whole subtree one more second (Top: 5,250).
    EXPECT_EQ(Top->Allowance, 5250 - 4096);
    EXPECT_EQ(Meter_RootHandle()->Allowance, 0);
    Meter_Delete(&Leaf);
    Meter_Delete(&Middle);
    Meter_Delete(&Top);
}

TEST_F(MeterTest, ANewLimitFillsTheBucketsOfTheSubtreeOnce) {
    Meter *Parent = Make();
    Meter *Child = Make(Parent);
    Meter_SetLimitBandwidth(Child, 2000);
    EXPECT_EQ(Ask(Child, 5000), std::make_pair(2000, 1));
    EXPECT_EQ(Child->Allowance, 0);
    Meter_SetLimitBandwidth(Parent, 6000);
    EXPECT_EQ(Parent->Allowance, 6000);
    EXPECT_EQ(Child->Allowance, 2000);
    // The same limit again changes nothing.
    EXPECT_EQ(Ask(Child, 500), std::make_pair(500, 1));
    Meter_SetLimitBandwidth(Parent, 6000);
    EXPECT_EQ(Parent->Allowance, 5500);
    EXPECT_EQ(Child->Allowance, 1500);
    // A different limit empties the bucket before the one-second fill.
    Meter_SetLimitBandwidth(Parent, 7000);
    EXPECT_EQ(Parent->Allowance, 7000);
    EXPECT_EQ(Child->Allowance, 2100);
    Meter_Delete(&Child);
    Meter_Delete(&Parent);
}

TEST_F(MeterTest, ReportsCountOnEveryAncestorAndRatesComeFromTheTick) {
    Meter *Parent = Make();
    Meter *Child = Make(Parent);
    int64 RootBefore = Overall(Meter_RootHandle());
    Meter_Report(Child, 100);
    EXPECT_EQ(Overall(Child), 100);
    EXPECT_EQ(Overall(Parent), 100);
    EXPECT_EQ(Overall(Meter_RootHandle()), RootBefore + 100);

    Tick(1000);
    Meter_Report(Child, 1000);
    Meter_Report(Child, 2000);
    Tick(1500);
    float64 Current = 0, Max = 0;
    Meter_GetCurrentBandwidth(Child, &Current);
    Meter_GetMaxBandwidth(Child, &Max);
    EXPECT_DOUBLE_EQ(Current, 2000.0);
    EXPECT_GE(Max, 2000.0);
    Meter_GetCurrentBandwidth(Parent, &Current);
    EXPECT_DOUBLE_EQ(Current, 2000.0);
    // A quiet period brings the current rate down; the maximum stays.
    Tick(1000);
    Meter_GetCurrentBandwidth(Child, &Current);
    Meter_GetMaxBandwidth(Child, &Max);
    EXPECT_DOUBLE_EQ(Current, 0.0);
    EXPECT_DOUBLE_EQ(Max, 2000.0);
    // A meter outside the root's tree is never ticked.
    Meter *Loose = nullptr;
    Meter_Create(&Loose);
    Meter_Report(Loose, 5000);
    Tick(1000);
    Meter_GetCurrentBandwidth(Loose, &Current);
    EXPECT_DOUBLE_EQ(Current, 0.0);
    EXPECT_EQ(Loose->PeriodBytes, 5000);
    Meter_Delete(&Loose);
    Meter_Delete(&Child);
    Meter_Delete(&Parent);
}

TEST_F(MeterTest, ResetClearsTheSubtreeAndResetCountersKeepsLimits) {
    Meter *Parent = Make();
    Meter *Child = Make(Parent);
    Meter_SetLimitBandwidth(Child, 4000);
    Meter_Report(Child, 10);
    Tick(1000);
    Meter_ResetCounters(Parent);
    EXPECT_EQ(Overall(Child), 0);
    EXPECT_EQ(Child->Limit, 4000);
    EXPECT_DOUBLE_EQ(Child->MaxBandwidth, 0.0);
    Meter_Report(Child, 10);
    Meter_Reset(Parent);
    EXPECT_EQ(Overall(Child), 0);
    EXPECT_EQ(Child->Limit, -1);
    EXPECT_EQ(EffectiveLimit(Child), -1);
    Meter_Delete(&Child);
    Meter_Delete(&Parent);
}

TEST_F(MeterTest, TreeLinksFollowParentChangesAndDeletion) {
    Meter *Parent = Make();
    Meter *A = Make(Parent), *B = Make(Parent), *C = Make(Parent);
    EXPECT_EQ(Parent->Children.Count, 3);
    EXPECT_EQ(Parent->Children.First, A);
    EXPECT_EQ(Parent->Children.Last, C);
    // Moving the middle child to another parent closes the gap.
    Meter *Other = Make();
    Meter_SetParentHandle(B, Other);
    EXPECT_EQ(Parent->Children.Count, 2);
    EXPECT_EQ(A->NextSibling, C);
    EXPECT_EQ(C->PreviousSibling, A);
    EXPECT_EQ(Other->Children.First, B);
    Meter_SetParentHandle(B, nullptr);
    EXPECT_EQ(B->Parent, nullptr);
    EXPECT_EQ(Other->Children.Count, 0);
    Meter_SetParentHandle(B, Parent);
    EXPECT_EQ(Parent->Children.Last, B);
    // Deleting a parent leaves its children alive and parentless.
    Meter_Delete(&Parent);
    for (Meter *Child : {A, B, C}) {
        EXPECT_EQ(Child->Parent, nullptr);
        EXPECT_EQ(Child->NextSibling, nullptr);
        Meter_Report(Child, 1);
        EXPECT_EQ(Overall(Child), 1);
    }
    for (Meter *Child : {A, B, C}) Meter_Delete(&Child);
    Meter_Delete(&Other);
}

TEST_F(MeterTest, BucketCapUsesSinglePrecisionLikePython) {
    std::mt19937 Random(1135);
    std::vector<int32> Limits = {100000, 1024, 1025, 3333, 65536, 99999999, 16777217, 2147483000};
    for (int i = 0; i < 200; i++) Limits.push_back((int32)(Random() % 2000000000u) + 1024);
    std::ostringstream Input;
    for (int32 Limit : Limits) Input << Limit << "\n";
    std::string Output = RunPython(R"(
import math, struct, sys
f32 = lambda x: struct.unpack('f', struct.pack('f', x))[0]
for line in sys.stdin:
    v = math.floor(f32(f32(int(line)) * f32(1.05)))
    print(min(v, 2**31 - 1))
)",
                                   Input.str());
    std::istringstream Expected(Output);
    Meter *Handle = Make();
    // Below 1,024 a limit exists only when written directly: 1,000 caps at 1,050.
    Handle->Limit = 1000;
    Tick(3000);
    EXPECT_EQ(Handle->Allowance, 1050);
    for (int32 Limit : Limits) {
        int64 Cap = 0;
        ASSERT_TRUE(Expected >> Cap);
        Meter_SetLimitBandwidth(Handle, Limit);
        Tick(10000);
        EXPECT_EQ(Handle->Allowance, Cap) << Limit;
    }
    Meter_Delete(&Handle);
}

TEST_F(MeterTest, HugeLimitsAndLongPausesClampInsteadOfWrapping) {
    Meter *Parent = Make();
    Meter *Child = Make(Parent);
    Meter_SetLimitBandwidth(Child, INT32_MAX);
    EXPECT_EQ(Child->Allowance, INT32_MAX);
    // Days without a tick: Limit x t is far beyond 32 bits.
    Tick(86400000ull * 30);
    EXPECT_EQ(Child->Allowance, INT32_MAX);
    // The unlimited parent is charged every grant and stops at INT32_MIN.
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(Ask(Child, INT32_MAX), std::make_pair((int32)INT32_MAX, 1));
        Meter_Report(Child, INT32_MAX);
        Tick(2000);
    }
    EXPECT_EQ(Parent->Allowance, INT32_MIN);
    EXPECT_EQ(Overall(Parent), 4 * (int64)INT32_MAX);
    // Two full reports in one period saturate the period count.
    Meter_Report(Child, INT32_MAX);
    Meter_Report(Child, INT32_MAX);
    EXPECT_EQ(Child->PeriodBytes, INT32_MAX);
    Meter_Delete(&Child);
    Meter_Delete(&Parent);
}

TEST_F(MeterTest, VerboseMeterLogsEveryReport) {
    Meter *Parent = Make();
    Meter *Child = Make(Parent);
    Meter_SetVerbose(Parent, 1);
    Meter_Report(Child, 100);
    Meter_Report(Child, 23);
    // One line per report on the verbose meter, naming it by address.
    size_t Line = Captured.find(" reported 23 bytes, counted overall 123 bytes\n");
    ASSERT_NE(Line, std::string::npos) << Captured;
    size_t Start = Captured.rfind("Meter 0x", Line);
    ASSERT_NE(Start, std::string::npos);
    EXPECT_EQ(strtoull(Captured.c_str() + Start + 8, nullptr, 16), (uintptr)Parent);
    EXPECT_NE(Captured.find(" reported 100 bytes, counted overall 100 bytes\n"), std::string::npos);
    size_t Count = 0;
    for (size_t At = Captured.find("Meter 0x"); At != std::string::npos; At = Captured.find("Meter 0x", At + 1)) Count++;
    EXPECT_EQ(Count, 2u);
    Meter_Delete(&Child);
    Meter_Delete(&Parent);
}

TEST_F(MeterTest, MeterRWForwardsToItsSides) {
    MeterRW *Parent = nullptr, *Child = nullptr;
    MeterRW_Create(&Parent);
    MeterRW_Create(&Child);
    MeterRW_SetReadParentHandle(Parent, Meter_RootHandle());
    MeterRW_SetWriteParentHandle(Parent, Meter_RootHandle());
    MeterRW_SetParentHandle(Child, Parent);
    EXPECT_EQ(Child->Read->Parent, Parent->Read);
    EXPECT_EQ(Child->Write->Parent, Parent->Write);

    MeterRW_SetLimitBandwidth(Parent, 2000, -1);
    int32 ReadLimit = 0, WriteLimit = 0;
    MeterRW_GetLimitBandwidth(Child, &ReadLimit, &WriteLimit);
    EXPECT_EQ(ReadLimit, 2000);
    EXPECT_EQ(WriteLimit, -1);
    int32 Bytes = 5000;
    EXPECT_EQ(MeterRW_LimitRead(Child, &Bytes), 1);
    EXPECT_EQ(Bytes, 2000);
    Bytes = 5000;
    EXPECT_EQ(MeterRW_LimitWrite(Child, &Bytes), 1);
    EXPECT_EQ(Bytes, 5000);
    MeterRW_ReportRead(Child, 1500);
    MeterRW_ReportWrite(Child, 5000);
    int64 Read = 0, Written = 0;
    MeterRW_GetOverallUsage(Parent, &Read, &Written);
    EXPECT_EQ(Read, 1500);
    EXPECT_EQ(Written, 5000);
    MeterRW_GetOverallUsage(Child, nullptr, &Written);
    EXPECT_EQ(Written, 5000);
    EXPECT_EQ(Parent->Read->Allowance, 500);

    Tick(2000);
    float64 ReadRate = -1, WriteRate = -1;
    MeterRW_GetCurrentBandwidth(Child, &ReadRate, &WriteRate);
    EXPECT_DOUBLE_EQ(ReadRate, 750.0);
    EXPECT_DOUBLE_EQ(WriteRate, 2500.0);
    MeterRW_GetMaxBandwidth(Parent, &ReadRate, nullptr);
    EXPECT_DOUBLE_EQ(ReadRate, 750.0);

    MeterRW_SetVerboseWrite(Child, 1);
    EXPECT_EQ(Child->Write->Verbose, 1);
    EXPECT_EQ(Child->Read->Verbose, 0);
    MeterRW_SetVerbose(Child, 0);
    EXPECT_EQ(Child->Write->Verbose, 0);

    MeterRW_ResetCounters(Child);
    MeterRW_GetOverallUsage(Child, &Read, &Written);
    EXPECT_EQ(Read + Written, 0);
    MeterRW_SetParentHandle(Child, nullptr);
    EXPECT_EQ(Child->Read->Parent, nullptr);
    EXPECT_EQ(Parent->Write->Children.Count, 0);
    // Deleting a MeterRW that still has children detaches them.
    MeterRW_SetParentHandle(Child, Parent);
    MeterRW_Release(&Parent);
    EXPECT_EQ(Parent, nullptr);
    EXPECT_EQ(Child->Read->Parent, nullptr);
    EXPECT_EQ(Meter_RootHandle()->Children.Count, 0);
    MeterRW_Delete(&Child);
}

TEST_F(MeterTest, ConcurrentReportsAndTicksKeepTheTotals) {
    Meter *Parent = Make();
    std::vector<Meter *> Children;
    for (int i = 0; i < 4; i++) Children.push_back(Make(Parent));
    Meter_SetLimitBandwidth(Parent, 1 << 30);
    std::vector<std::thread> Threads;
    for (Meter *Child : Children)
        Threads.emplace_back([Child] {
            for (int i = 0; i < 20000; i++) {
                int32 Bytes = 7;
                if (Meter_Limit(Child, &Bytes)) Meter_Report(Child, Bytes);
            }
        });
    for (int i = 0; i < 200; i++) Tick(1000);
    for (std::thread &Thread : Threads) Thread.join();
    EXPECT_EQ(Overall(Parent), 4 * 20000 * 7);
    for (Meter *Child : Children) {
        EXPECT_EQ(Overall(Child), 20000 * 7);
        Meter_Delete(&Child);
    }
    Meter_Delete(&Parent);
}

TEST_F(MeterTest, RemoveLeavesTheRootsChildrenParentless) {
    Meter *Child = Make();
    EXPECT_EQ(Child->Parent, Meter_RootHandle());
    Meter_Remove();
    EXPECT_EQ(Child->Parent, nullptr);
    Meter_Delete(&Child);
    Meter_Init();
}

TEST_F(MeterDeathTest, HandlesAndChildListsAreChecked) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    MeterRW *Pair = nullptr;
    MeterRW_Create(&Pair);
    EXPECT_EXIT(Meter_Report(reinterpret_cast<Meter *>(Pair), 1), ::testing::KilledBySignal(SIGILL),
                "Class mismatch pointer");
    EXPECT_EXIT(Meter_Report(nullptr, 1), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    Meter *Parent = Make();
    Meter *Child = Make(Parent);
    EXPECT_EXIT(
        {
            Parent->Children.Class.ClassId = 0x1234;
            Meter_Reset(Parent);
        },
        ::testing::KilledBySignal(SIGILL), "Class mismatch pointer .*expected 0x03daa48f but was 0x00001234");
    EXPECT_EXIT(Meter_SetParentHandle(Parent, Child), ::testing::KilledBySignal(SIGILL),
                "cannot hang under itself");
    EXPECT_EXIT(Meter_SetParentHandle(Parent, Parent), ::testing::KilledBySignal(SIGILL),
                "cannot hang under itself");
    Meter_Delete(&Child);
    Meter_Delete(&Parent);
    MeterRW_Delete(&Pair);
}
