// Pool: fixed-mode chunks and free list, string mode, debug mode, the fatal
// stops and the locked mode.
#include "runtime/containers/pool.h"
#include "runtime/containers/pool_internal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"

namespace {

uint32 Get(int32 (*Getter)(Pool *, uint32 *), Pool *Handle) {
    uint32 Value = 0xdeadbeef;
    EXPECT_EQ(Getter(Handle, &Value), 1);
    return Value;
}

// A fixed-mode pool of the given member size and chunk size.
Pool *MakeFixed(uint32 MemberSize, uint32 ChunkSize) {
    Pool *Handle = nullptr;
    EXPECT_EQ(Pool_Create(&Handle), 1);
    Pool_SetMemorySize(Handle, MemberSize);
    Pool_SetChunkSize(Handle, ChunkSize);
    return Handle;
}

Pool *MakeString(uint32 RecordSize) {
    Pool *Handle = MakeFixed(RecordSize, 1);
    Pool_SetStringMode(Handle, 1);
    return Handle;
}

class PoolTest : public RuntimeTest {
  protected:
    void SetUp() override {
        Flags = DEBUG_FLAG_EXTERNALPRINT;
        RuntimeTest::SetUp();
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
    }
};

using PoolDeathTest = PoolTest;

} // namespace

TEST_F(PoolTest, NewPoolDefaults) {
    Pool *Handle = nullptr;
    ASSERT_EQ(Pool_Create(&Handle), 1);
    EXPECT_EQ(Pool_ValidHandle(Handle), 1);
    EXPECT_EQ(Get(Pool_GetZeroOnAlloc, Handle), 1u);
    EXPECT_EQ(Get(Pool_GetStringMode, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetDebugMode, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetAllowLock, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetVerbose, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetChunkSize, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), 0u);
    Pool_Delete(&Handle);
    EXPECT_EQ(Handle, nullptr);
    EXPECT_EQ(Pool_ValidHandle(nullptr), 0);
    int32 NotAPool[32] = {};
    EXPECT_EQ(Pool_ValidHandle(reinterpret_cast<Pool *>(NotAPool)), 0);
}

TEST_F(PoolTest, MemberSizeRoundsUpToEight) {
    Pool *Handle = MakeFixed(12, 4);
    EXPECT_EQ(Get(Pool_GetMemorySize, Handle), 16u);
    for (auto [Set, Rounded] : {std::pair{1u, 8u}, {8u, 8u}, {9u, 16u}, {0u, 0u}, {100u, 104u}}) {
        Pool_SetMemorySize(Handle, Set);
        EXPECT_EQ(Get(Pool_GetMemorySize, Handle), Rounded) << Set;
    }
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, ChunksGrowAndMaximumIsKept) {
    Pool *Handle = MakeFixed(12, 2);
    void *Records[3];
    for (void *&Record : Records) Record = Pool_Alloc(Handle, 12);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 2u);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 3u);
    EXPECT_EQ(Get(Pool_GetMaximumCount, Handle), 3u);
    for (void *&Record : Records) EXPECT_EQ(Pool_Free(Handle, &Record, 12), nullptr);
    for (void *Record : Records) EXPECT_EQ(Record, nullptr);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetMaximumCount, Handle), 3u);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 2u);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, RecordsAreDistinctAlignedAndWholeRecordIsUsable) {
    // Writing every byte of every record and reading the patterns back
    // catches overlapping records (and, under ASan, records past a chunk).
    Pool *Handle = MakeFixed(20, 7);
    std::vector<uint8 *> Records;
    for (int i = 0; i < 50; i++) {
        uint8 *Record = static_cast<uint8 *>(Pool_Alloc(Handle, 20));
        EXPECT_EQ((uintptr)Record % 16, 0u);
        memset(Record, i, 24);
        Records.push_back(Record);
    }
    for (int i = 0; i < 50; i++)
        for (int Byte = 0; Byte < 24; Byte++) ASSERT_EQ(Records[i][Byte], i) << i;
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 8u);
    for (uint8 *&Record : Records) Pool_Free(Handle, &Record, 20);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, EveryFixedRecordStartsAtASixteenByteBoundary) {
    // Records may embed 16-byte compare-and-swap fields (callback records):
    // every record of every chunk, first use and after a reset, and in debug
    // mode, must start at a 16-byte boundary whatever its size.
    for (uint32 MemberSize : {1u, 8u, 12u, 16u, 20u, 24u, 40u, 48u, 56u, 64u, 100u, 264u}) {
        for (uint32 ChunkSize : {1u, 3u, 8u}) {
            Pool *Handle = MakeFixed(MemberSize, ChunkSize);
            const uint32 RecordSize = Get(Pool_GetMemorySize, Handle);
            EXPECT_EQ(RecordSize, (MemberSize + 7) / 8 * 8) << MemberSize; // the size as set stays 8-rounded
            for (int Round = 0; Round < 2; Round++) {
                std::vector<uint8 *> Records;
                for (int i = 0; i < 20; i++) {
                    uint8 *Record = static_cast<uint8 *>(Pool_Alloc(Handle, (int32)MemberSize));
                    ASSERT_EQ((uintptr)Record % 16, 0u) << MemberSize << "/" << ChunkSize << " #" << i;
                    memset(Record, i + 1, RecordSize); // the whole record is the caller's (ASan)
                    Records.push_back(Record);
                }
                for (int i = 0; i < 20; i++)
                    for (uint32 Byte = 0; Byte < RecordSize; Byte++) ASSERT_EQ(Records[i][Byte], i + 1);
                if (Round == 0) {
                    for (uint8 *&Record : Records) Pool_Free(Handle, &Record, (int32)MemberSize);
                    Pool_Reset(Handle);
                }
            }
            EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), (20 + ChunkSize - 1) / ChunkSize);
            Pool_Reset(Handle);
            Pool_SetDebugMode(Handle, 1);
            void *Debug = Pool_Alloc(Handle, (int32)MemberSize);
            EXPECT_EQ((uintptr)Debug % 16, 0u) << MemberSize;
            Pool_Free(Handle, &Debug, (int32)MemberSize);
            Pool_Delete(&Handle);
        }
    }
}

TEST_F(PoolTest, FirstChunkIsHandedOutInAddressOrderAndLastFreedComesBackFirst) {
    Pool *Handle = MakeFixed(16, 4);
    void *A = Pool_Alloc(Handle, 16), *B = Pool_Alloc(Handle, 16), *C = Pool_Alloc(Handle, 16);
    EXPECT_LT(A, B);
    EXPECT_LT(B, C);
    void *SavedA = A, *SavedB = B;
    Pool_Free(Handle, &A, 16);
    Pool_Free(Handle, &B, 16);
    EXPECT_EQ(Pool_Alloc(Handle, 16), SavedB);
    EXPECT_EQ(Pool_Alloc(Handle, 16), SavedA);
    // Then the chunk's remaining record, then a new chunk.
    void *D = Pool_Alloc(Handle, 16);
    EXPECT_GT(D, C);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 1u);
    Pool_Alloc(Handle, 16);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 2u);
    Pool_Reset(Handle);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, ZeroOnAllocClearsTheWholeRecord) {
    Pool *Handle = MakeFixed(12, 1);
    uint8 *Record = static_cast<uint8 *>(Pool_Alloc(Handle, 12));
    memset(Record, 0xAB, 16);
    uint8 *Saved = Record;
    Pool_Free(Handle, &Record, 12);
    Record = static_cast<uint8 *>(Pool_Alloc(Handle, 12));
    ASSERT_EQ(Record, Saved);
    for (int i = 0; i < 16; i++) EXPECT_EQ(Record[i], 0) << i;

    // Without it a reused record keeps what its last holder left.
    Pool_SetZeroOnAlloc(Handle, 0);
    memset(Record, 0xCD, 12);
    Pool_Free(Handle, &Record, 12);
    Record = static_cast<uint8 *>(Pool_Alloc(Handle, 12));
    EXPECT_EQ(Record[0], 0xCD);
    Pool_Free(Handle, &Record, 12);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, ResetKeepsChunksAndForgetsRecords) {
    Pool *Handle = MakeFixed(8, 3);
    std::set<void *> First;
    for (int i = 0; i < 6; i++) First.insert(Pool_Alloc(Handle, 8));
    const uint32 Memory = Get(Pool_GetMemoryInUse, Handle);
    EXPECT_EQ(Pool_Reset(Handle), 1);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetMaximumCount, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 2u);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), Memory);
    // The same six records serve again without a new chunk.
    std::set<void *> Second;
    for (int i = 0; i < 6; i++) Second.insert(Pool_Alloc(Handle, 8));
    EXPECT_EQ(First, Second);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 2u);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, RemoveAllFreesChunksAndClearsCounts) {
    Pool *Handle = MakeFixed(8, 3);
    for (int i = 0; i < 4; i++) Pool_Alloc(Handle, 8);
    EXPECT_GT(Get(Pool_GetMemoryInUse, Handle), 4u * 8u);
    EXPECT_EQ(Pool_RemoveAll(Handle), 1);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetMaximumCount, Handle), 0u);
    Pool_Delete(&Handle);
}

// Many chunks share few system allocations, yet each chunk keeps its size:
// counts, memory in use and reuse order are those of separate chunks, and
// removing them all gives every byte back.
TEST_F(PoolTest, ManyChunksKeepTheirSizeAndGiveEverythingBack) {
    for (uint32 ChunkSize : {1u, 5u, 8u}) {
        int32 Before = 0;
        Memory_GetSize(&Before);
        Pool *Handle = MakeFixed(72, ChunkSize);
        std::vector<uint8 *> Records;
        for (int i = 0; i < 2000; i++) {
            auto *Record = static_cast<uint8 *>(Pool_Alloc(Handle, 72));
            ASSERT_EQ((uintptr)Record % 16, 0u);
            memset(Record, i & 0xFF, 72);
            Records.push_back(Record);
        }
        const uint32 Chunks = (2000 + ChunkSize - 1) / ChunkSize;
        EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), Chunks);
        EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle) % Chunks, 0u) << "every chunk has the same size";
        EXPECT_EQ(std::set<uint8 *>(Records.begin(), Records.end()).size(), Records.size());
        for (int i = 0; i < 2000; i++) ASSERT_EQ(Records[(size_t)i][71], (uint8)(i & 0xFF)) << i;
        void *Last = Records.back();
        Pool_Free(Handle, &Records.back(), 72);
        EXPECT_EQ(Pool_Alloc(Handle, 72), Last) << "the record freed last comes back first";
        Pool_Reset(Handle);
        EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), Chunks);
        Pool_RemoveAll(Handle);
        EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), 0u);
        Pool_Delete(&Handle);
        int32 After = 0;
        Memory_GetSize(&After);
        EXPECT_EQ(After, Before) << ChunkSize;
    }
}

// String chunks of the usual size share slabs too; a larger text still gets
// a chunk of its own, and every text keeps its bytes until the reset.
TEST_F(PoolTest, StringChunksKeepTheirTextsAndGiveEverythingBack) {
    int32 Before = 0;
    Memory_GetSize(&Before);
    Pool *Handle = MakeString(256);
    std::vector<std::pair<char *, std::string>> Texts;
    for (int i = 0; i < 3000; i++) {
        std::string Text = std::to_string(i) + std::string((size_t)(i % 7 == 0 ? 40 : 3), (char)('a' + i % 26));
        if (i % 500 == 0) Text += std::string(1000, 'L');
        auto *Stored = static_cast<char *>(Pool_Alloc(Handle, (int32)Text.size() + 1));
        memcpy(Stored, Text.c_str(), Text.size() + 1);
        Texts.push_back({Stored, Text});
    }
    for (auto &[Stored, Text] : Texts) ASSERT_EQ(std::string(Stored), Text);
    EXPECT_GT(Get(Pool_GetBlocksInUse, Handle), 100u);
    Pool_Reset(Handle);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), 0u);
    Pool_Delete(&Handle);
    int32 After = 0;
    Memory_GetSize(&After);
    EXPECT_EQ(After, Before);
}

// Chunks of different sizes (the chunk size changed between them) are all
// rebuilt by a reset: every record comes back once, before any new chunk.
TEST_F(PoolTest, ResetRebuildsChunksOfEverySize) {
    Pool *Handle = MakeFixed(24, 3);
    std::set<void *> Seen;
    for (int i = 0; i < 5; i++) Seen.insert(Pool_Alloc(Handle, 24));
    Pool_SetChunkSize(Handle, 5);
    for (int i = 0; i < 7; i++) Seen.insert(Pool_Alloc(Handle, 24));
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 4u);
    const uint32 Memory = Get(Pool_GetMemoryInUse, Handle);
    Pool_Reset(Handle);
    std::set<void *> Again;
    for (int i = 0; i < 16; i++) Again.insert(Pool_Alloc(Handle, 24));
    EXPECT_EQ(Again.size(), 16u);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 4u);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), Memory);
    for (void *Record : Seen) EXPECT_EQ(Again.count(Record), 1u);
    void *More = Pool_Alloc(Handle, 24);
    EXPECT_EQ(Again.count(More), 0u);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 5u);
    Pool_Reset(Handle);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, NewRoundedMemberSizeFreesChunks) {
    Pool *Handle = MakeFixed(12, 2);
    void *Record = Pool_Alloc(Handle, 12);
    Pool_Free(Handle, &Record, 12);
    Pool_SetMemorySize(Handle, 13); // still 16 bytes a record: chunks stay
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 1u);
    Record = Pool_Alloc(Handle, 13);
    Pool_Free(Handle, &Record, 13);
    Pool_SetMemorySize(Handle, 24);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), 0u);
    uint8 *Larger = static_cast<uint8 *>(Pool_Alloc(Handle, 24));
    memset(Larger, 1, 24);
    Pool_Free(Handle, &Larger, 24);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, DeleteReportsRecordsStillOut) {
    Pool *Handle = nullptr;
    const int32 Line = __LINE__ + 1;
    Pool_CreateInt(&Handle, "creator.cpp", Line);
    Pool_SetMemorySize(Handle, 8);
    Pool_SetChunkSize(Handle, 4);
    Pool_Alloc(Handle, 8);
    Pool_Alloc(Handle, 8);
    Pool_Delete(&Handle);
    EXPECT_NE(Captured.find("Not all pool memory was freed (2) for (creator.cpp/" + std::to_string(Line) + ")\n"),
              std::string::npos)
        << Captured;

    Captured.clear();
    Handle = MakeFixed(8, 4);
    void *Record = Pool_Alloc(Handle, 8);
    Pool_Free(Handle, &Record, 8);
    Pool_Delete(&Handle);
    EXPECT_EQ(Captured.find("Not all pool memory"), std::string::npos) << Captured;
}

TEST_F(PoolTest, VerboseLogsEveryAllocAndFree) {
    Pool *Handle = MakeFixed(12, 2);
    Pool_SetVerbose(Handle, 1);
    void *Record = Pool_Alloc(Handle, 12);
    Pool_Free(Handle, &Record, 12);
    EXPECT_NE(Captured.find("-- Pool Alloc 0x"), std::string::npos) << Captured;
    EXPECT_NE(Captured.find(" :         16 ["), std::string::npos) << Captured;
    EXPECT_NE(Captured.find("-- Pool Free  0x"), std::string::npos) << Captured;
    EXPECT_NE(Captured.find(" :         12 ["), std::string::npos) << Captured;
    EXPECT_NE(Captured.find("pool_test.cpp / "), std::string::npos) << Captured;
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, NullFreeChangesNothing) {
    Pool *Handle = MakeFixed(8, 2);
    void *Record = Pool_Alloc(Handle, 8);
    void *Null = nullptr;
    EXPECT_EQ(Pool_Free(Handle, &Null, 8), nullptr);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 1u);
    Pool_Free(Handle, &Record, 8);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 0u);
    Pool_Delete(&Handle);
}

// String mode.

TEST_F(PoolTest, StringModePacksTextsInOneChunk) {
    Pool *Handle = MakeString(2048);
    char *First = static_cast<char *>(Pool_Alloc(Handle, 6));
    EXPECT_EQ(First[0], 0); // only the first byte is cleared
    strcpy(First, "alpha");
    char *Second = static_cast<char *>(Pool_Alloc(Handle, 5));
    strcpy(Second, "beta");
    EXPECT_EQ(Second, First + 6 + 4); // each text reserves its size plus 4
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 1u);
    EXPECT_EQ(Get(Pool_GetStringMemoryLeftOver, Handle), 2048u - 10u - 9u);
    EXPECT_STREQ(First, "alpha");
    EXPECT_STREQ(Second, "beta");
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, StringModeServesALargeTextFromItsOwnChunk) {
    Pool *Handle = MakeString(2048);
    char *Small = static_cast<char *>(Pool_Alloc(Handle, 10));
    char *Large = static_cast<char *>(Pool_Alloc(Handle, 3000));
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 2u);
    memset(Large, 'x', 3000); // the whole text fits its chunk (ASan)
    // 3,004 bytes needed, rounded up to 3,008: four left in the new chunk.
    EXPECT_EQ(Get(Pool_GetStringMemoryLeftOver, Handle), (2048u - 14u) + 4u);
    // A later small text still fits the first chunk, newest chunk tried first.
    char *Next = static_cast<char *>(Pool_Alloc(Handle, 10));
    EXPECT_EQ(Next, Small + 14);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 2u);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, StringModeLastFreeReleasesLargePools) {
    // Six chunks of 2 KiB: more than 10,240 bytes, all released at the last free.
    Pool *Handle = MakeString(2048);
    std::vector<void *> Texts;
    for (int i = 0; i < 6; i++) Texts.push_back(Pool_Alloc(Handle, 2000));
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 6u);
    EXPECT_GT(Get(Pool_GetMemoryInUse, Handle), 10240u);
    for (void *&Text : Texts) Pool_Free(Handle, &Text, 2000);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 0u);

    // Under the limit the chunks stay for the next texts.
    Texts.clear();
    for (int i = 0; i < 2; i++) Texts.push_back(Pool_Alloc(Handle, 2000));
    const uint32 Memory = Get(Pool_GetMemoryInUse, Handle);
    EXPECT_LT(Memory, 10240u);
    for (void *&Text : Texts) Pool_Free(Handle, &Text, 2000);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), Memory);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 2u);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, StringModeNullFreeLeavesLiveStringsIntact) {
    // The live text sits in a pool above the release limit; a null free must
    // not count as the last free (ASan reports any read of a freed chunk).
    Pool *Handle = MakeString(2048);
    std::vector<void *> Dead;
    for (int i = 0; i < 6; i++) Dead.push_back(Pool_Alloc(Handle, 2000));
    char *Live = static_cast<char *>(Pool_Alloc(Handle, 16));
    strcpy(Live, "still here");
    for (void *&Text : Dead) Pool_Free(Handle, &Text, 2000);
    const uint32 Memory = Get(Pool_GetMemoryInUse, Handle);
    void *Null = nullptr;
    for (int i = 0; i < 3; i++) Pool_Free(Handle, &Null, 1);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 1u);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), Memory);
    EXPECT_STREQ(Live, "still here");
    Pool_Free(Handle, &Live, 17);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), 0u);
    Pool_Delete(&Handle);
}

namespace {

// The placement rule of string mode, kept as plainly as it reads: a text
// needs its size plus 4 bytes; the chunks are tried newest first and the
// first with more room than that serves it; otherwise a new chunk of the
// larger of the record size and the need rounded up to 8 is made. Chunk i's
// area starts where its first text landed.
struct StringPoolModel {
    struct Chunk {
        uintptr Start;
        uint64 Size;
        uint64 Used;
    };
    uint64 RecordSize;
    std::vector<Chunk> Chunks; // oldest first

    // The chunk that serves the need, or -1 for a new one.
    int Place(uint64 Need) const {
        for (int i = (int)Chunks.size() - 1; i >= 0; i--)
            if (Chunks[i].Size - Chunks[i].Used > Need) return i;
        return -1;
    }
    uint64 LeftOver() const {
        uint64 Sum = 0;
        for (const Chunk &Each : Chunks) Sum += Each.Size - Each.Used;
        return Sum;
    }
};

// Allocates the texts and checks every address, the chunk count and the
// left-over bytes against the model.
void AllocateLikeTheModel(Pool *Handle, StringPoolModel &Model, const std::vector<int32> &Sizes,
                          std::vector<void *> *Texts = nullptr) {
    for (size_t n = 0; n < Sizes.size(); n++) {
        const uint64 Need = (uint64)Sizes[n] + 4;
        const int Slot = Model.Place(Need);
        uint8 *Text = static_cast<uint8 *>(Pool_Alloc(Handle, Sizes[n]));
        ASSERT_NE(Text, nullptr);
        memset(Text, 'a' + (int)(n % 26), (size_t)Sizes[n]);
        if (Texts != nullptr) Texts->push_back(Text);
        if (Slot < 0) {
            Model.Chunks.push_back({(uintptr)Text, std::max<uint64>(Model.RecordSize, (Need + 7) & ~7ull), Need});
        } else {
            StringPoolModel::Chunk &Chunk = Model.Chunks[(size_t)Slot];
            ASSERT_EQ((uintptr)Text, Chunk.Start + Chunk.Used) << "text " << n << " of " << Sizes[n] << " bytes";
            Chunk.Used += Need;
        }
    }
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), (uint32)Model.Chunks.size());
    EXPECT_EQ(Get(Pool_GetStringMemoryLeftOver, Handle), (uint32)Model.LeftOver());
}

} // namespace

TEST_F(PoolTest, StringModePlacesEveryTextInTheNewestChunkWithRoom) {
    // Thousands of chunks with all sorts of room left: each text goes to the
    // newest chunk with room for it (often an older one), large texts get
    // chunks of their own, and nothing else makes a chunk.
    Pool *Handle = MakeString(2048);
    StringPoolModel Model{2048, {}};
    std::mt19937 Random(1114);
    std::vector<int32> Sizes(60000);
    for (int32 &Size : Sizes) {
        const uint32 Kind = Random() % 100;
        if (Kind < 70)
            Size = (int32)(Random() % 24); // keys and short values
        else if (Kind < 99)
            Size = (int32)(Random() % 400);
        else
            Size = 2040 + (int32)(Random() % 3000); // a chunk of its own
    }
    AllocateLikeTheModel(Handle, Model, Sizes);
    EXPECT_GT(Model.Chunks.size(), 2000u);
    // The whole memory is the chunks: headers plus the areas the model knows.
    uint64 Areas = 0;
    for (const auto &Chunk : Model.Chunks) Areas += Chunk.Size;
    const uint32 Memory = Get(Pool_GetMemoryInUse, Handle);
    EXPECT_EQ((Memory - Areas) % Model.Chunks.size(), 0u);
    EXPECT_LT((Memory - Areas) / Model.Chunks.size(), 128u);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, StringModeReusesRoomAfterFrees) {
    // Freeing texts gives no room back to a chunk, and under the release
    // limit the chunks stay: the next texts go on after the old cursors,
    // older chunks with room included.
    Pool *Handle = MakeString(2048);
    StringPoolModel Model{2048, {}};
    std::vector<void *> Texts;
    AllocateLikeTheModel(Handle, Model, {500, 500, 500, 100, 600, 30, 1000, 8, 3000, 1}, &Texts);
    ASSERT_EQ(Model.Chunks.size(), 3u);
    const uint32 Memory = Get(Pool_GetMemoryInUse, Handle);
    ASSERT_LE(Memory, 10240u);
    for (void *&Text : Texts) EXPECT_EQ(Pool_Free(Handle, &Text, 1), nullptr);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), Memory);
    EXPECT_EQ(Get(Pool_GetStringMemoryLeftOver, Handle), (uint32)Model.LeftOver());
    Texts.clear();
    AllocateLikeTheModel(Handle, Model, {200, 30, 900, 40, 5, 0, 2000}, &Texts);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 7u);

    // Above the limit the last free releases every chunk, and placement
    // starts over from nothing.
    AllocateLikeTheModel(Handle, Model, {2000, 2000, 2000, 2000, 2000, 2000}, &Texts);
    ASSERT_GT(Get(Pool_GetMemoryInUse, Handle), 10240u);
    for (void *&Text : Texts) Pool_Free(Handle, &Text, 1);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetStringMemoryLeftOver, Handle), 0u);
    Model.Chunks.clear();
    Texts.clear();
    AllocateLikeTheModel(Handle, Model, {700, 700, 700, 10, 2500, 20}, &Texts);

    // A reset does the same.
    Pool_Reset(Handle);
    Model.Chunks.clear();
    AllocateLikeTheModel(Handle, Model, {1500, 1500, 400, 100}, &Texts);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, StringChunksLeftFromStringModeAreEmptiedByAFixedReset) {
    // Turning string mode off and resetting rewinds the string chunks; with
    // string mode back on the texts start again at the newest chunk's start.
    Pool *Handle = MakeString(2048);
    char *First = static_cast<char *>(Pool_Alloc(Handle, 1500));
    char *Second = static_cast<char *>(Pool_Alloc(Handle, 1500));
    ASSERT_EQ(Get(Pool_GetBlocksInUse, Handle), 2u);
    Pool_SetStringMode(Handle, 0);
    Pool_Reset(Handle);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 2u);
    EXPECT_EQ(Get(Pool_GetStringMemoryLeftOver, Handle), 2u * 2048u);
    Pool_SetStringMode(Handle, 1);
    EXPECT_EQ(Pool_Alloc(Handle, 1500), Second);
    EXPECT_EQ(Pool_Alloc(Handle, 1500), First);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 2u);
    Pool_Delete(&Handle);
}

TEST_F(PoolTest, StringModeResetFreesEverything) {
    Pool *Handle = MakeString(2048);
    Pool_Alloc(Handle, 100);
    Pool_Reset(Handle);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetMemoryInUse, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 0u);
    Pool_Delete(&Handle);
}

// Locking.

TEST_F(PoolTest, LockedPoolServesManyThreads) {
    Pool *Handle = MakeFixed(32, 16);
    Pool_SetAllowLock(Handle, 1);
    EXPECT_EQ(Get(Pool_GetAllowLock, Handle), 1u);
    constexpr int Threads = 4, Rounds = 2000;
    std::vector<std::thread> Workers;
    for (int t = 0; t < Threads; t++)
        Workers.emplace_back([Handle, t] {
            std::vector<uint8 *> Mine;
            for (int i = 0; i < Rounds; i++) {
                uint8 *Record = static_cast<uint8 *>(Pool_Alloc(Handle, 32));
                memset(Record, t, 32);
                Mine.push_back(Record);
                if (i % 3 == 2) {
                    for (uint8 *&Own : Mine) {
                        for (int Byte = 0; Byte < 32; Byte++) ASSERT_EQ(Own[Byte], t);
                        Pool_Free(Handle, &Own, 32);
                    }
                    Mine.clear();
                }
            }
            for (uint8 *&Own : Mine) Pool_Free(Handle, &Own, 32);
        });
    for (std::thread &Worker : Workers) Worker.join();
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 0u);
    EXPECT_LE(Get(Pool_GetMaximumCount, Handle), (uint32)(Threads * 3));
    Pool_Delete(&Handle);
}

// Debug mode: the same behaviour, with every record from the general allocator.

class PoolDebugModeTest : public RuntimeTest {
  protected:
    void SetUp() override {
        Flags = DEBUG_FLAG_MEMORYTRACKING | DEBUG_FLAG_MEMORYTEST;
        RuntimeTest::SetUp();
    }
};
using PoolDebugModeDeathTest = PoolDebugModeTest;

TEST_F(PoolDebugModeTest, RecordsComeFromTheGeneralAllocator) {
    int32 Before = 0, During = 0, After = 0;
    Pool *Handle = MakeFixed(12, 2);
    Pool_SetDebugMode(Handle, 1);
    EXPECT_EQ(Get(Pool_GetDebugMode, Handle), 1u);
    Memory_GetSize(&Before);
    std::vector<uint8 *> Records;
    for (int i = 0; i < 5; i++) {
        uint8 *Record = static_cast<uint8 *>(Pool_Alloc(Handle, 12));
        for (int Byte = 0; Byte < 12; Byte++) EXPECT_EQ(Record[Byte], 0);
        memset(Record, i, 12);
        Records.push_back(Record);
    }
    Memory_GetSize(&During);
    EXPECT_GE(During - Before, 5 * 12);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 5u);
    EXPECT_EQ(Memory_Check("debug pool"), 1);
    for (uint8 *&Record : Records) Pool_Free(Handle, &Record, 12);
    Memory_GetSize(&After);
    EXPECT_EQ(After, Before);
    EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 0u);
    EXPECT_EQ(Get(Pool_GetMaximumCount, Handle), 5u);
    // Back to chunks once empty.
    Pool_SetDebugMode(Handle, 0);
    void *Record = Pool_Alloc(Handle, 12);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 1u);
    Pool_Free(Handle, &Record, 12);
    Pool_Delete(&Handle);
}

TEST_F(PoolDebugModeTest, StringPoolInDebugModeKeepsTextsApart) {
    Pool *Handle = MakeString(2048);
    Pool_SetDebugMode(Handle, 1);
    char *A = static_cast<char *>(Pool_Alloc(Handle, 4));
    char *B = static_cast<char *>(Pool_Alloc(Handle, 4));
    strcpy(A, "abc");
    strcpy(B, "xyz");
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 0u);
    Pool_Free(Handle, &A, 4);
    EXPECT_STREQ(B, "xyz");
    Pool_Free(Handle, &B, 4);
    Pool_Delete(&Handle);
}

TEST_F(PoolDebugModeDeathTest, OverrunIsCaughtByTheGuards) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Pool *Handle = MakeFixed(12, 2);
            Pool_SetDebugMode(Handle, 1);
            uint8 *Record = static_cast<uint8 *>(Pool_Alloc(Handle, 12));
            Record[12] ^= 0xFF; // the first byte of the trailing guard
            Pool_Free(Handle, &Record, 12);
        },
        ::testing::KilledBySignal(SIGILL), "Memory corrupt");
}

// Fatal stops.

TEST_F(PoolDeathTest, DoubleFreeNamesTheDescriptor) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Pool *Handle = MakeFixed(16, 4);
            void *Record = Pool_Alloc(Handle, 16);
            void *Copy = Record;
            Pool_Free(Handle, &Record, 16);
            Pool_Free(Handle, &Copy, 16);
        },
        ::testing::KilledBySignal(SIGILL),
        "Unable to find member to free \\[0x[0-9A-Fa-fx]+\\] \\[0x[0-9A-Fa-fx]*[1-9A-Fa-f][0-9A-Fa-fx]*\\]");
}

TEST_F(PoolDeathTest, FreeAfterResetIsASecondFree) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Pool *Handle = MakeFixed(16, 4);
            void *Record = Pool_Alloc(Handle, 16);
            Pool_Reset(Handle);
            Pool_Free(Handle, &Record, 16);
        },
        ::testing::KilledBySignal(SIGILL),
        "Unable to find member to free \\[0x[0-9A-Fa-fx]+\\] \\[0x[0-9A-Fa-fx]*[1-9A-Fa-f][0-9A-Fa-fx]*\\]");
}

TEST_F(PoolDeathTest, RecordsOfAnotherPoolOrInsideARecordAreUnknown) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The second address is 0: the pointer is not one of this pool's records.
    const char *Unknown = "Unable to find member to free \\[0x[0-9A-Fa-fx]+\\] \\[(0x)?(0+|\\(nil\\)|\\(null\\))\\]";
    EXPECT_EXIT(
        {
            Pool *Mine = MakeFixed(16, 4);
            Pool *Other = MakeFixed(16, 4);
            void *Record = Pool_Alloc(Other, 16);
            Pool_Free(Mine, &Record, 16);
        },
        ::testing::KilledBySignal(SIGILL), Unknown);
    EXPECT_EXIT(
        {
            Pool *Handle = MakeFixed(64, 4);
            uint8 *Record = static_cast<uint8 *>(Pool_Alloc(Handle, 64));
            Pool_Alloc(Handle, 64);
            void *Inside = Record + 48;
            Pool_Free(Handle, &Inside, 64);
        },
        ::testing::KilledBySignal(SIGILL), Unknown);
    // A record of the chunk that was never handed out is not one either.
    EXPECT_EXIT(
        {
            Pool *Handle = MakeFixed(64, 4);
            uint8 *Record = static_cast<uint8 *>(Pool_Alloc(Handle, 64));
            void *Next = Record + 80;
            Pool_Free(Handle, &Next, 64);
        },
        ::testing::KilledBySignal(SIGILL), Unknown);
}

TEST_F(PoolDeathTest, WrongSizeStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Pool *Handle = MakeFixed(12, 4);
            Pool_Alloc(Handle, 16);
        },
        ::testing::KilledBySignal(SIGILL), "Invalid pool member size \\(16 != 12\\) from \\(.*pool_test.cpp/[0-9]+\\)");
    EXPECT_EXIT(
        {
            Pool *Handle = MakeFixed(12, 4);
            void *Record = Pool_Alloc(Handle, 12);
            Pool_Free(Handle, &Record, 8);
        },
        ::testing::KilledBySignal(SIGILL), "Invalid pool member size \\(8 != 12\\) from \\(.*pool_test.cpp/[0-9]+\\)");
}

TEST_F(PoolDeathTest, StringModeNeedsChunkSizeOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Pool *Handle = MakeFixed(2048, 8);
            Pool_SetStringMode(Handle, 1);
        },
        ::testing::KilledBySignal(SIGILL), "Member chunk size must be 1 to use String Mode \\(8 != 1\\)");
}

TEST_F(PoolTest, StringModeIsOnlyOnForOne) {
    // Any other flag value leaves the pool in fixed mode: string mode never
    // comes on without the chunk-size check.
    Pool *Handle = MakeFixed(16, 8);
    EXPECT_EQ(Pool_SetStringMode(Handle, 2), 1);
    EXPECT_EQ(Get(Pool_GetStringMode, Handle), 0u);
    void *Record = Pool_Alloc(Handle, 16);
    EXPECT_EQ(Get(Pool_GetBlocksInUse, Handle), 1u);
    Pool_Free(Handle, &Record, 16);
    Pool_Delete(&Handle);
}

TEST_F(PoolDeathTest, DebugModeOnlyWhenEmpty) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Pool *Handle = MakeFixed(12, 4);
            Pool_Alloc(Handle, 12);
            Pool_SetDebugMode(Handle, 1);
        },
        ::testing::KilledBySignal(SIGILL), "Pooled memory manager may only be set to debug when empty \\(1\\)");
}

TEST_F(PoolDeathTest, AllocationBeforeChunkSizeStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Pool *Handle = nullptr;
            Pool_Create(&Handle);
            Pool_SetMemorySize(Handle, 8);
            Pool_Alloc(Handle, 8);
        },
        ::testing::KilledBySignal(SIGILL), "Pool chunk size must be set");
}

TEST_F(PoolDeathTest, NullAndForeignHandlesStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(Pool_Alloc(nullptr, 8), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            int32 NotAPool[32] = {};
            Pool_Reset(reinterpret_cast<Pool *>(NotAPool));
        },
        ::testing::KilledBySignal(SIGILL), "Class mismatch pointer");
}

TEST_F(PoolDeathTest, GettersStopOnANullOrForeignHandle) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The handle is checked before any of its fields is touched: with the
    // undefined-behaviour checks on, reading a field through null is a
    // different death than the stop callers expect.
    uint32 Value = 0;
    EXPECT_EXIT(Pool_GetActiveCount(nullptr, &Value), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(Pool_GetMemorySize(nullptr, &Value), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(Pool_GetBlocksInUse(nullptr, &Value), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            alignas(16) int32 NotAPool[32] = {};
            Pool_GetVerbose(reinterpret_cast<Pool *>(NotAPool), &Value);
        },
        ::testing::KilledBySignal(SIGILL), "Class mismatch pointer");
}

// The visit sees exactly the records handed out, whatever was freed, reused
// or reset before, and never the records of a chunk not reached yet.
TEST_F(PoolTest, VisitSeesExactlyTheRecordsHandedOut) {
    auto Visited = [](Pool *Handle) {
        std::set<void *> Seen;
        PoolInt_VisitRecords(
            Handle, [](void *Record, void *User) { static_cast<std::set<void *> *>(User)->insert(Record); }, &Seen);
        return Seen;
    };
    std::mt19937 Random(7);
    for (const uint32 ChunkSize : {1u, 3u, 8u, 64u}) {
        SCOPED_TRACE(ChunkSize);
        Pool *Handle = MakeFixed(24, ChunkSize);
        std::set<void *> Live;
        for (int32 Round = 0; Round < 3; Round++) {
            for (int32 Step = 0; Step < 500; Step++) {
                if (!Live.empty() && Random() % 3 == 0) {
                    auto Victim = Live.begin();
                    std::advance(Victim, Random() % Live.size());
                    void *Record = *Victim;
                    Live.erase(Victim);
                    Pool_Free(Handle, &Record, 24);
                } else {
                    Live.insert(Pool_Alloc(Handle, 24));
                }
            }
            EXPECT_EQ(Visited(Handle), Live);
            Pool_Reset(Handle);
            Live.clear();
            EXPECT_TRUE(Visited(Handle).empty());
        }
        Pool_Delete(&Handle);
    }
    Pool *Strings = MakeString(2048);
    void *Text = Pool_Alloc(Strings, 10);
    EXPECT_TRUE(Visited(Strings).empty());
    Pool_Free(Strings, &Text, 10);
    Pool_Delete(&Strings);
}

// Every fixed-mode configuration serves the same random run of takes and
// gives with the same records in the same order and the same counts: the
// inline take and give of an unlocked pool, the locked pool's path, and the
// whole path that a verbose pool takes, the reference.
TEST_F(PoolTest, ShortPathsServeAsTheWholePathDoes) {
    struct Setup {
        const char *Name;
        uint32 Zero, Lock, Verbose;
        bool Inline; // PoolInt_AllocRecord and PoolInt_GiveRecord instead of Pool_Alloc and Pool_Free
    };
    const Setup Setups[] = {
        {"verbose", 1, 0, 1, false},          {"unlocked", 1, 0, 0, false}, {"unlocked plain", 0, 0, 0, false},
        {"unlocked plain inline", 0, 0, 0, true}, {"unlocked inline", 1, 0, 0, true}, {"locked", 1, 1, 0, false},
        {"locked plain", 0, 1, 0, false},     {"locked verbose", 1, 1, 1, false},
    };
    constexpr int32 Size = 40;
    auto Run = [&](const Setup &With) {
        SCOPED_TRACE(With.Name);
        Pool *Handle = MakeFixed(Size, 5);
        Pool_SetZeroOnAlloc(Handle, With.Zero);
        if (With.Lock) Pool_SetAllowLock(Handle, 1);
        Pool_SetVerbose(Handle, With.Verbose);
        std::mt19937 Random(11);
        std::vector<void *> Seen, Live;
        std::vector<size_t> Trace; // the first-seen ordinal of each record taken, then the counts
        for (int32 Step = 0; Step < 600; Step++) {
            if (!Live.empty() && Random() % 5 < 2) {
                const size_t Index = Random() % Live.size();
                void *Record = Live[Index];
                Live.erase(Live.begin() + (std::ptrdiff_t)Index);
                if (With.Inline) {
                    EXPECT_TRUE(PoolInt_GiveRecord(Handle, Record, Size));
                } else {
                    EXPECT_EQ(Pool_Free(Handle, &Record, Size), nullptr);
                }
            } else {
                uint8 *Record =
                    static_cast<uint8 *>(With.Inline ? PoolInt_Alloc(Handle, Size) : Pool_Alloc(Handle, Size));
                if (With.Zero) {
                    EXPECT_EQ(std::count(Record, Record + Size, 0), Size);
                }
                memset(Record, 0x5A, Size);
                auto Known = std::find(Seen.begin(), Seen.end(), Record);
                Trace.push_back((size_t)(Known - Seen.begin()));
                if (Known == Seen.end()) Seen.push_back(Record);
                Live.push_back(Record);
            }
            for (auto Getter : {Pool_GetActiveCount, Pool_GetMaximumCount, Pool_GetBlocksInUse})
                Trace.push_back(Get(Getter, Handle));
        }
        for (void *&Record : Live) Pool_Free(Handle, &Record, Size);
        EXPECT_EQ(Get(Pool_GetActiveCount, Handle), 0u);
        Pool_Delete(&Handle);
        return Trace;
    };
    const std::vector<size_t> Reference = Run(Setups[0]);
    for (const Setup &With : Setups) EXPECT_EQ(Run(With), Reference) << With.Name;
}

// The inline give takes back only what the whole path would without a stop,
// and leaves everything else to it untouched: a second give, a record of
// another pool, a wrong size, a null record, a pool that locks or logs.
TEST_F(PoolTest, InlineGiveRefusesWhatItMustNotTake) {
    Pool *Handle = MakeFixed(24, 4), *Other = MakeFixed(24, 4), *Locked = MakeFixed(24, 4),
         *Verbose = MakeFixed(24, 4);
    Pool_SetAllowLock(Locked, 1);
    Pool_SetVerbose(Verbose, 1);
    void *Given = Pool_Alloc(Handle, 24), *Kept = Pool_Alloc(Handle, 24), *Foreign = Pool_Alloc(Other, 24);
    void *LockedRecord = Pool_Alloc(Locked, 24), *VerboseRecord = Pool_Alloc(Verbose, 24);
    ASSERT_TRUE(PoolInt_GiveRecord(Handle, Given, 24));
    const struct {
        Pool *Owner;
        void *Record;
        int32 Size;
    } Refused[] = {{Handle, Given, 24},         {Handle, Foreign, 24},         {Handle, Kept, 16},
                   {Handle, nullptr, 24},       {Handle, (uint8 *)Kept + 8, 24}, {Locked, LockedRecord, 24},
                   {Verbose, VerboseRecord, 24}};
    for (const auto &Case : Refused) {
        const uint32 Active = Get(Pool_GetActiveCount, Case.Owner);
        EXPECT_FALSE(PoolInt_GiveRecord(Case.Owner, Case.Record, Case.Size));
        EXPECT_EQ(Get(Pool_GetActiveCount, Case.Owner), Active);
    }
    // The record given back once is handed out once, then the chunk goes on.
    EXPECT_EQ(Pool_Alloc(Handle, 24), Given);
    EXPECT_NE(Pool_Alloc(Handle, 24), Given);
    Pool_Free(Other, &Foreign, 24);
    Pool_Free(Locked, &LockedRecord, 24);
    Pool_Free(Verbose, &VerboseRecord, 24);
    for (Pool **Each : {&Handle, &Other, &Locked, &Verbose}) {
        Pool_Reset(*Each);
        Pool_Delete(Each);
    }
}

// A pool given its first slab by its owner behaves as one that made its own:
// the same counts and records through takes, gives, resets and drops, with
// the first chunk carved from the lent bytes, which the pool never frees
// (the owner's block is freed whole after the destroy).
TEST_F(PoolTest, LentFirstSlabServesAsAnOwnSlab) {
    constexpr uint32 Size = 40;
    for (const uint32 ChunkSize : {1u, 3u, 8u}) {
        SCOPED_TRACE(ChunkSize);
        const uint64 Bytes = PoolInt_LentSlabBytes(Size, ChunkSize);
        uint8 *Block = static_cast<uint8 *>(Memory_Alloc((int32)(sizeof(Pool) + Bytes)));
        Pool *Lent = reinterpret_cast<Pool *>(Block);
        PoolInt_InitFixed(Lent, Size, ChunkSize, 0, __FILE__, __LINE__);
        // Areas it cannot take: another size, misaligned, after a slab.
        EXPECT_FALSE(PoolInt_LendSlab(Lent, Block + sizeof(Pool), Bytes + 16));
        EXPECT_FALSE(PoolInt_LendSlab(Lent, Block + sizeof(Pool) + 8, Bytes));
        ASSERT_TRUE(PoolInt_LendSlab(Lent, Block + sizeof(Pool), Bytes));
        EXPECT_FALSE(PoolInt_LendSlab(Lent, Block + sizeof(Pool), Bytes));
        Pool *Own = MakeFixed(Size, ChunkSize);
        std::mt19937 Random(ChunkSize);
        for (int32 Round = 0; Round < 4; Round++) {
            std::vector<void *> Live[2];
            for (int32 Step = 0; Step < 60; Step++) {
                const bool Give = !Live[0].empty() && Random() % 3 == 0;
                const size_t Victim = Give ? Random() % Live[0].size() : 0;
                for (int32 Which = 0; Which < 2; Which++) {
                    Pool *Handle = Which == 0 ? Lent : Own;
                    if (Give) {
                        void *Record = Live[Which][Victim];
                        Live[Which].erase(Live[Which].begin() + (ptrdiff_t)Victim);
                        Pool_Free(Handle, &Record, Size);
                    } else {
                        Live[Which].push_back(Pool_Alloc(Handle, Size));
                        memset(Live[Which].back(), 0x5a, Size);
                    }
                }
                // The first chunk of a fresh pool is the lent one.
                if (Round == 0 && Step == 0) {
                    EXPECT_GE((uint8 *)Live[0][0], Block + sizeof(Pool));
                    EXPECT_LT((uint8 *)Live[0][0], Block + sizeof(Pool) + Bytes);
                }
                for (auto Getter : {Pool_GetActiveCount, Pool_GetMaximumCount, Pool_GetBlocksInUse,
                                    Pool_GetMemoryInUse})
                    ASSERT_EQ(Get(Getter, Lent), Get(Getter, Own)) << Round << "/" << Step;
            }
            // Resets keep the chunks (the lent one too); drops let go of all.
            for (Pool *Handle : {Lent, Own}) (Round % 2 == 0 ? Pool_Reset : Pool_RemoveAll)(Handle);
        }
        Pool_Delete(&Own);
        PoolInt_Destroy(Lent);
        Memory_Free(Block, (int32)(sizeof(Pool) + Bytes));
    }
}
