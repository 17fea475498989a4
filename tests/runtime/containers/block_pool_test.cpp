// BlockPool: budget, first-fit runs, frees, the unallocated-free stop, and
// random use that must never hand out overlapping or out-of-arena runs.
#include "runtime/containers/block_pool.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <map>
#include <random>
#include <string>

#include "runtime/debug.h"
#include "runtime/memory.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"

namespace {

class BlockPoolTest : public RuntimeTest {
  protected:
    void SetUp() override {
        Flags = DEBUG_FLAG_EXTERNALPRINT;
        RuntimeTest::SetUp();
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
        BlockPool_Create(&Pool);
    }
    void TearDown() override {
        if (Pool) BlockPool_Delete(&Pool);
        RuntimeTest::TearDown();
    }
    uint8 *Alloc(int32 Size) {
        void *Pointer = reinterpret_cast<void *>(1);
        const int32 Result = BlockPool_Alloc(Pool, Size, &Pointer);
        EXPECT_EQ(Result, Pointer != nullptr);
        return static_cast<uint8 *>(Pointer);
    }
    void Free(int32 Size, uint8 *Pointer) {
        void *Address = Pointer;
        EXPECT_EQ(BlockPool_Free(Pool, Size, &Address), 1);
        EXPECT_EQ(Address, nullptr);
    }
    BlockPool *Pool = nullptr;
};

using BlockPoolDeathTest = BlockPoolTest;

} // namespace

TEST_F(BlockPoolTest, ThreeBlocksFromTenThousandBytes) {
    uint32 Value = 0;
    BlockPool_GetBlockSize(Pool, &Value);
    EXPECT_EQ(Value, 4096u);
    ASSERT_EQ(BlockPool_SetMemorySize(Pool, 10000), 1);
    BlockPool_GetMemorySize(Pool, &Value);
    EXPECT_EQ(Value, 10000u);
    uint8 *Two = Alloc(4097);
    uint8 *One = Alloc(4096);
    ASSERT_NE(Two, nullptr);
    ASSERT_NE(One, nullptr);
    EXPECT_EQ(One, Two + 2 * 4096);
    EXPECT_EQ(Alloc(1), nullptr);
    memset(Two, 1, 2 * 4096);
    memset(One, 2, 4096);

    // Blocks 0 and 1 come back; a two-block request gets block 0's address.
    Free(4097, Two);
    EXPECT_EQ(Alloc(8192), Two);
    EXPECT_EQ(Alloc(1), nullptr);
}

TEST_F(BlockPoolTest, SmallAndExactSizesTakeOneBlock) {
    BlockPool_SetMemorySize(Pool, 3 * 4096);
    uint8 *A = Alloc(4096);
    uint8 *B = Alloc(1);
    uint8 *C = Alloc(4095);
    EXPECT_EQ(B, A + 4096);
    EXPECT_EQ(C, A + 8192);
    EXPECT_EQ(Alloc(0), nullptr);
    EXPECT_EQ(Alloc(-5), nullptr);
    Free(1, B);
    EXPECT_EQ(Alloc(4096), B);
}

TEST_F(BlockPoolTest, FirstFitSkipsRunsThatAreTooShort) {
    BlockPool_SetMemorySize(Pool, 6 * 4096);
    uint8 *Blocks[6];
    for (uint8 *&Block : Blocks) Block = Alloc(4096);
    Free(4096, Blocks[1]);
    Free(4096, Blocks[3]);
    Free(4096, Blocks[4]);
    // Gap at 1 (one block), gap at 3-4 (two blocks).
    EXPECT_EQ(Alloc(8000), Blocks[3]);
    EXPECT_EQ(Alloc(10), Blocks[1]);
    EXPECT_EQ(Alloc(10), nullptr);
}

TEST_F(BlockPoolTest, AddressesAreMultiplesOfTheBlockSize) {
    for (uint32 BlockSize : {4096u, 1000u, 64u, 3u}) {
        BlockPool *Other = nullptr;
        BlockPool_Create(&Other);
        ASSERT_EQ(BlockPool_SetBlockSize(Other, BlockSize), 1);
        BlockPool_SetMemorySize(Other, BlockSize * 20);
        for (int i = 0; i < 10; i++) {
            void *Pointer = nullptr;
            ASSERT_EQ(BlockPool_Alloc(Other, (int32)BlockSize * 2 - 1, &Pointer), 1);
            EXPECT_EQ((uintptr)Pointer % BlockSize, 0u) << BlockSize;
            memset(Pointer, i, BlockSize * 2 - 1);
        }
        void *Pointer = nullptr;
        EXPECT_EQ(BlockPool_Alloc(Other, 1, &Pointer), 0);
        BlockPool_Delete(&Other);
    }
}

TEST_F(BlockPoolTest, BudgetChangesOnlyWhileNothingIsInUse) {
    BlockPool_SetMemorySize(Pool, 10000);
    uint8 *Block = Alloc(100);
    EXPECT_EQ(BlockPool_SetMemorySize(Pool, 10000), 1);
    EXPECT_EQ(BlockPool_SetMemorySize(Pool, 20000), 0);
    uint32 Value = 0;
    BlockPool_GetMemorySize(Pool, &Value);
    EXPECT_EQ(Value, 10000u);
    Free(100, Block);
    EXPECT_EQ(BlockPool_SetMemorySize(Pool, 20000), 1);
    for (int i = 0; i < 5; i++) EXPECT_NE(Alloc(4096), nullptr);
    EXPECT_EQ(Alloc(1), nullptr);
}

TEST_F(BlockPoolTest, ZeroBudgetReleasesTheArena) {
    int32 Before = 0, After = 0;
    Memory_GetSize(&Before);
    BlockPool_SetMemorySize(Pool, 100000);
    Free(4096, Alloc(4096));
    EXPECT_EQ(BlockPool_SetMemorySize(Pool, 0), 1);
    Memory_GetSize(&After);
    EXPECT_LT(After, Before + 4096);
    // No blocks are left to hand out from the arena just freed.
    EXPECT_EQ(Alloc(1), nullptr);
}

TEST_F(BlockPoolTest, BlockSizeIsFixedOnceAnArenaExists) {
    EXPECT_EQ(BlockPool_SetBlockSize(Pool, 0), 0);
    EXPECT_EQ(BlockPool_SetBlockSize(Pool, 512), 1);
    BlockPool_SetMemorySize(Pool, 2048);
    // A larger size would address past the arena laid out for 512-byte blocks.
    EXPECT_EQ(BlockPool_SetBlockSize(Pool, 8192), 0);
    EXPECT_EQ(BlockPool_SetBlockSize(Pool, 512), 1);
    uint32 Value = 0;
    BlockPool_GetBlockSize(Pool, &Value);
    EXPECT_EQ(Value, 512u);
    uint8 *All = Alloc(2048);
    ASSERT_NE(All, nullptr);
    memset(All, 7, 2048);
    Free(2048, All);
    BlockPool_SetMemorySize(Pool, 0);
    EXPECT_EQ(BlockPool_SetBlockSize(Pool, 8192), 1);
}

TEST_F(BlockPoolTest, RandomUseNeverOverlaps) {
    // Every live run is filled with its own byte and checked before it is
    // freed: overlapping runs or runs outside the arena show up (ASan).
    std::mt19937 Random(115);
    BlockPool_SetBlockSize(Pool, 256);
    BlockPool_SetMemorySize(Pool, 256 * 64);
    std::map<uint8 *, std::pair<int32, uint8>> Live;
    uint8 Tag = 0;
    for (int Step = 0; Step < 5000; Step++) {
        if (Live.empty() || Random() % 3) {
            const int32 Size = (int32)(Random() % 2000) + 1;
            uint8 *Run = Alloc(Size);
            if (!Run) continue;
            memset(Run, ++Tag, Size);
            Live[Run] = {Size, Tag};
        } else {
            auto Victim = Live.begin();
            std::advance(Victim, Random() % Live.size());
            for (int32 i = 0; i < Victim->second.first; i++) ASSERT_EQ(Victim->first[i], Victim->second.second);
            Free(Victim->second.first, Victim->first);
            Live.erase(Victim);
        }
    }
    for (auto &[Run, Entry] : Live) Free(Entry.first, Run);
}

TEST_F(BlockPoolTest, DeleteReportsBlocksStillInUse) {
    BlockPool *Other = nullptr;
    const int32 Line = __LINE__ + 1;
    BlockPool_CreateReal(&Other, "owner.cpp", Line);
    BlockPool_SetMemorySize(Other, 5 * 4096);
    void *Pointer = nullptr;
    BlockPool_Alloc(Other, 3 * 4096, &Pointer);
    BlockPool_Delete(&Other);
    EXPECT_EQ(Other, nullptr);
    EXPECT_NE(Captured.find("Not all block pool memory was freed (3) for (owner.cpp/" + std::to_string(Line) + ")\n"),
              std::string::npos)
        << Captured;
}

TEST_F(BlockPoolDeathTest, FreeingUnallocatedBlocksStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char *Message = "Assertion failed \\(BitField_IsRangeSet\\(BlockPool->BitFieldHandle, BlockStart, "
                          "BlockCount\\)\\)\nAttempt to free unallocated memory";
    BlockPool_SetMemorySize(Pool, 4 * 4096);
    // A second free.
    EXPECT_EXIT(
        {
            uint8 *Run = Alloc(100);
            Free(100, Run);
            Free(100, Run);
        },
        ::testing::KilledBySignal(SIGILL), Message);
    // A size larger than the run, also past the arena's last block.
    EXPECT_EXIT(Free(8192, Alloc(4096)), ::testing::KilledBySignal(SIGILL), Message);
    EXPECT_EXIT(
        {
            for (int i = 0; i < 3; i++) Alloc(4096);
            Free(3 * 4096, Alloc(4096));
        },
        ::testing::KilledBySignal(SIGILL), Message);
    // Addresses that are not the start of a run of this pool.
    EXPECT_EXIT(Free(100, Alloc(4096) + 8), ::testing::KilledBySignal(SIGILL), Message);
    EXPECT_EXIT(
        {
            uint8 Outside[16];
            Free(16, Outside);
        },
        ::testing::KilledBySignal(SIGILL), Message);
    EXPECT_EXIT(Free(100, nullptr), ::testing::KilledBySignal(SIGILL), Message);
}
