// The guarded allocator: block sizes, guards, tracking, the leak report,
// wrong-size frees, the whole check under threads, searches.
#include "runtime/memory.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/text/string.h"
#include "tests/support/runtime.h"

namespace {

std::mutex CapturedLock;
std::string Captured;

int32 Capture(const char *Text) {
    std::lock_guard<std::mutex> Guard(CapturedLock);
    Captured += Text;
    return 1;
}

// Runs the runtime with the given flags and collects every log line,
// including those written by Debug_Remove.
class CapturedRuntime {
  public:
    explicit CapturedRuntime(uint32 Flags) : Scope(Flags) {
        Captured.clear();
        Debug_PrintCallback(Capture);
    }

  private:
    RuntimeScope Scope;
};

// Addresses as the system's print engine writes "%p".
std::string PointerText(const void *Pointer) {
    char Text[40];
    String_Print(Text, sizeof(Text), "0x%p", Pointer);
    return Text;
}

int32 CurrentBytes() {
    int32 Size = -1;
    Memory_GetSize(&Size);
    return Size;
}

int32 CountOf(const std::string &Text, const std::string &Part) {
    int32 Count = 0;
    for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1)) Count++;
    return Count;
}

// A tracked block left alive past Debug_Remove is returned to the system
// heap by hand, so the leak checker of sanitizer builds stays quiet.
void FreeTrackedLeak(void *Pointer) { free((uint8 *)Pointer - MEMORY_GUARD_SIZE - MEMORY_TRACKER_SIZE); }

class MemoryDeathTest : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

} // namespace

TEST(Memory, BlockSizeIsSizeRoundedToFourPlusGuards) {
    for (uint32 Flags : {0u, (uint32)DEBUG_FLAG_MEMORYTRACKING}) {
        RuntimeScope Scope(Flags);
        const std::pair<int32, int32> Cases[] = {{1, 36}, {4, 36}, {5, 40}, {8, 40}, {9, 44}, {1000, 1032}};
        for (auto [Size, Block] : Cases) {
            int32 Before = CurrentBytes();
            void *Pointer = Memory_Alloc(Size);
            EXPECT_EQ(CurrentBytes() - Before, Block) << "size " << Size;
            EXPECT_EQ((uintptr)Pointer % 16, 0u) << "size " << Size;
            Memory_Free(Pointer, Size);
            EXPECT_EQ(CurrentBytes(), Before);
        }
    }
}

TEST(Memory, GuardsFollowTheBlockStartAddress) {
    for (uint32 Flags : {0u, (uint32)DEBUG_FLAG_MEMORYTRACKING}) {
        RuntimeScope Scope(Flags);
        for (int32 Size : {1, 3, 4, 17, 64}) {
            uint8 *Pointer = (uint8 *)Memory_Alloc(Size);
            uint8 *Start = Pointer - 16;
            uint8 *Trailing = Start + ((Size + 35) & ~3) - 16;
            for (int32 i = 0; i < 16; i++) {
                uint8 Expected = (uint8)(((uintptr)Start >> i) ^ 0xCC);
                EXPECT_EQ(Start[i], Expected) << "leading " << i;
                EXPECT_EQ(Trailing[i], Expected) << "trailing " << i;
            }
            EXPECT_EQ(Memory_SentinelCheck(0, Start, Size, __FILE__, __LINE__), 1);
            EXPECT_EQ(Memory_Validate(Pointer, Size), 1);
            Memory_Free(Pointer, Size);
        }
    }
}

// Guards are built a word at a time; every address bit that reaches a guard
// byte (bits 0 to 22) must still land where the byte-wise rule puts it.
TEST(Memory, GuardsMatchTheByteRuleAcrossManyAddresses) {
    RuntimeScope Scope(0);
    std::vector<std::pair<uint8 *, int32>> Blocks;
    uint64 SeenBits = 0;
    for (int32 Index = 0; Index < 3000; Index++) {
        int32 Size = 1 + (Index * 37) % 5000;
        uint8 *Pointer = (uint8 *)Memory_Alloc(Size);
        uint8 *Start = Pointer - 16;
        SeenBits |= (uintptr)Start;
        uint8 *Trailing = Start + ((Size + 35) & ~3) - 16;
        for (int32 i = 0; i < 16; i++) {
            uint8 Expected = (uint8)(((uintptr)Start >> i) ^ 0xCC);
            ASSERT_EQ(Start[i], Expected) << (void *)Start << " leading " << i;
            ASSERT_EQ(Trailing[i], Expected) << (void *)Start << " trailing " << i;
        }
        Blocks.push_back({Pointer, Size});
    }
    EXPECT_EQ(SeenBits & 0xFFFF0, 0xFFFF0u) << "the blocks covered the address bits of both guard words";
    for (auto [Pointer, Size] : Blocks) Memory_Free(Pointer, Size);
}

TEST(Memory, ZeroFilledBlocksAreZero) {
    RuntimeScope Scope(DEBUG_FLAG_MEMORYTRACKING);
    for (int32 Round = 0; Round < 20; Round++) {
        uint8 *Pointer = (uint8 *)Memory_AllocZero(333);
        EXPECT_EQ(std::count(Pointer, Pointer + 333, 0), 333);
        memset(Pointer, 0xAB, 333);
        Memory_Free(Pointer, 333);
    }
}

// Work that can fail on its own unwinds once its owner gives it up; the
// setting is the calling thread's alone and ends when it is cleared.
TEST(Memory, AThreadGivenUpUnwindsAtItsNextAllocation) {
    // Tracked blocks take the full path, untracked ones the short one.
    for (uint32 Flags : {0u, (uint32)DEBUG_FLAG_MEMORYTRACKING}) {
        RuntimeScope Scope(Flags);
        volatile int32 Stop = 0;
        std::thread([&Stop] {
            EXPECT_FALSE(Memory_SetThrowWhenExhausted(TRUE, &Stop));
            void *Block = Memory_Alloc(16);
            EXPECT_NE(Block, nullptr);
            Memory_Free(Block, 16);
            Stop = 1;
            EXPECT_THROW(Memory_Alloc(16), std::bad_alloc);
            EXPECT_THROW(Memory_AllocZero(1 << 20), std::bad_alloc);
            EXPECT_TRUE(Memory_SetThrowWhenExhausted(FALSE, nullptr));
            Block = Memory_Alloc(16);
            EXPECT_NE(Block, nullptr);
            Memory_Free(Block, 16);
        }).join();
        // Another thread's flag never reaches this one.
        void *Block = Memory_Alloc(16);
        EXPECT_NE(Block, nullptr);
        Memory_Free(Block, 16);
    }
}

TEST(Memory, PaddingByteIsNotDetected) {
    for (uint32 Flags : {0u, (uint32)DEBUG_FLAG_MEMORYTRACKING}) {
        RuntimeScope Scope(Flags);
        uint8 *Pointer = (uint8 *)Memory_Alloc(1);
        Pointer[1] = Pointer[2] = Pointer[3] = 0x55; // inside the rounding to 4
        EXPECT_EQ(Memory_SentinelCheck(0, Pointer - 16, 1, __FILE__, __LINE__), 1);
        Memory_Free(Pointer, 1);
    }
}

TEST(Memory, SentinelCheckCountsDamagedBytesAndLogsThem) {
    CapturedRuntime Runtime(0);
    uint8 *Pointer = (uint8 *)Memory_Alloc(8);
    uint8 Saved[2] = {Pointer[-1], Pointer[8]};
    Pointer[-1] ^= 0xFF;
    Pointer[8] ^= 0xFF;
    EXPECT_EQ(Memory_SentinelCheck(0, Pointer - 16, 8, "here.cpp", 7), 0);
    EXPECT_NE(Captured.find("DEBUG - Memory corrupt (8) <Addr:0x"), std::string::npos) << Captured;
    EXPECT_NE(Captured.find(" Before:1 After:1 Max:16>\n"), std::string::npos) << Captured;
    EXPECT_NE(Captured.find("DEBUG - Expected: "), std::string::npos);
    EXPECT_NE(Captured.find("DEBUG - Prior corruption: "), std::string::npos);
    EXPECT_NE(Captured.find("DEBUG - After corruption: "), std::string::npos);
    Pointer[-1] = Saved[0];
    Pointer[8] = Saved[1];
    Memory_Free(Pointer, 8);
}

TEST_F(MemoryDeathTest, FirstTrailingGuardByteStopsTheFree) {
    for (uint32 Flags : {0u, (uint32)DEBUG_FLAG_MEMORYTRACKING}) {
        EXPECT_EXIT(
            {
                RuntimeScope Scope(Flags);
                uint8 *Pointer = (uint8 *)Memory_Alloc(1);
                Pointer[4] ^= 1;
                Memory_Free(Pointer, 1);
            },
            ::testing::KilledBySignal(SIGILL), "ABORT - Memory corrupt \\(1\\) <Addr:0x[0-9a-fA-F]+ Before:0 After:1 Max:16>");
    }
}

TEST_F(MemoryDeathTest, LeadingGuardStopsTheFree) {
    for (uint32 Flags : {0u, (uint32)DEBUG_FLAG_MEMORYTRACKING}) {
        EXPECT_EXIT(
            {
                RuntimeScope Scope(Flags);
                uint8 *Pointer = (uint8 *)Memory_Alloc(12);
                Pointer[-16] ^= 0x80;
                Pointer[-1] ^= 0x80;
                Memory_Free(Pointer, 12);
            },
            ::testing::KilledBySignal(SIGILL),
            "Memory corrupt \\(12\\) <Addr:0x[0-9a-fA-F]+ Before:2 After:0 Max:16>.*memory_test.cpp/");
    }
}

TEST_F(MemoryDeathTest, WrongSizeFreeWithTrackingIsAMismatch) {
    EXPECT_EXIT(
        {
            RuntimeScope Scope(DEBUG_FLAG_MEMORYTRACKING);
            void *Pointer = Memory_Alloc(8);
            Memory_Free(Pointer, 4);
        },
        ::testing::KilledBySignal(SIGILL), "ABORT - Memory tracking mismatch \\(4 / 8\\) \\[0x[0-9a-fA-F]+ / 0x[0-9a-fA-F]+\\]");
}

TEST_F(MemoryDeathTest, WrongSizeFreeWithoutTrackingIsCaughtByTheGuards) {
    // Larger sizes reach past the system allocation; the check must not read there.
    for (int32 WrongSize : {4, 12, 64, 100000}) {
        EXPECT_EXIT(
            {
                RuntimeScope Scope(0);
                void *Pointer = Memory_Alloc(8);
                memset(Pointer, 0, 8);
                Memory_Free(Pointer, WrongSize);
            },
            ::testing::KilledBySignal(SIGILL), "ABORT - Memory corrupt")
            << WrongSize;
    }
}

TEST_F(MemoryDeathTest, BrokenTrackingListStops) {
    EXPECT_EXIT(
        {
            RuntimeScope Scope(DEBUG_FLAG_MEMORYTRACKING);
            uint8 *Older = (uint8 *)Memory_Alloc(8);
            uint8 *Newer = (uint8 *)Memory_Alloc(8);
            MemoryTrackerStruct *Record = (MemoryTrackerStruct *)(Older - MEMORY_GUARD_SIZE - MEMORY_TRACKER_SIZE);
            Record->Prev = Record; // the newer block's neighbour no longer points back
            Memory_Free(Newer, 8);
        },
        ::testing::KilledBySignal(SIGILL), "ABORT - Tracker next invalid link <0x[0-9a-fA-F]+->0x[0-9a-fA-F]+->0x");
    EXPECT_EXIT(
        {
            RuntimeScope Scope(DEBUG_FLAG_MEMORYTRACKING);
            void *Kept = Memory_Alloc(8);
            static uint8 NotFromTheAllocator[256];
            Memory_Free(NotFromTheAllocator + 128, 8);
            Memory_Free(Kept, 8);
        },
        ::testing::KilledBySignal(SIGILL), "ABORT - Tracker invalid address <0x");
}

TEST_F(MemoryDeathTest, InvalidRequestsStop) {
    EXPECT_EXIT(
        {
            RuntimeScope Scope(0);
            Memory_Alloc(0);
        },
        ::testing::KilledBySignal(SIGILL), "ABORT - Invalid Memory Size \\(0\\)\n \\(.*memory_test.cpp/[0-9]+\\)");
    EXPECT_EXIT(
        {
            RuntimeScope Scope(0);
            Memory_Free(nullptr, 4);
        },
        ::testing::KilledBySignal(SIGILL), "ABORT - No Memory address to free \\(4 / 36\\)");
    EXPECT_EXIT(
        {
            RuntimeScope Scope(0);
            void *Pointer = Memory_Alloc(4);
            Memory_Free(Pointer, -1);
        },
        ::testing::KilledBySignal(SIGILL), "ABORT - Invalid Memory Size \\(-1\\)");
}

TEST_F(MemoryDeathTest, WholeCheckFindsADamagedBlock) {
    EXPECT_EXIT(
        {
            RuntimeScope Scope(DEBUG_FLAG_MEMORYTRACKING);
            void *Good = Memory_Alloc(20);
            uint8 *Bad = (uint8 *)Memory_Alloc(20);
            Bad[20] = (uint8)~Bad[20];
            Memory_Check("test");
            Memory_Free(Good, 20);
        },
        ::testing::KilledBySignal(SIGILL), "ABORT - Failure in internal memory check \\(1 blocks failed\\)");
}

TEST_F(MemoryDeathTest, MemoryTestFlagChecksAtEveryAllocation) {
    EXPECT_EXIT(
        {
            RuntimeScope Scope(DEBUG_FLAG_MEMORYTRACKING | DEBUG_FLAG_MEMORYTEST);
            uint8 *Bad = (uint8 *)Memory_Alloc(3);
            Bad[-3] = (uint8)~Bad[-3];
            Memory_Alloc(5);
        },
        ::testing::KilledBySignal(SIGILL), "Failure in internal memory check \\(1 blocks failed\\)");
}

TEST(Memory, LeakReportWithTracking) {
    void *Leak;
    {
        CapturedRuntime Runtime(DEBUG_FLAG_MEMORYTRACKING);
        void *Freed = Memory_Alloc(100);
        Memory_Free(Freed, 100);
        Leak = Memory_Alloc(10);
    }
    EXPECT_EQ(CountOf(Captured, "DEBUG - Maximum Memory in use ("), 1) << Captured;
    EXPECT_NE(Captured.find("WARNING - Not all memory was free'd (1 / 44b)\n"), std::string::npos) << Captured;
    std::string Line = "DEBUG - Memory Tracking: " + PointerText(Leak) + " alloc'd from [Line ";
    size_t At = Captured.find(Line);
    ASSERT_NE(At, std::string::npos) << Captured;
    std::string Rest = Captured.substr(At + Line.size());
    EXPECT_NE(Rest.find("memory_test.cpp] [10/0x00000001]\n"), std::string::npos) << Rest;
    EXPECT_EQ(CountOf(Captured, "Memory Tracking: 0x"), 1);
    FreeTrackedLeak(Leak);
}

TEST(Memory, NoLeakReportWhenEverythingWasFreed) {
    {
        CapturedRuntime Runtime(DEBUG_FLAG_MEMORYTRACKING);
        std::vector<std::pair<void *, int32>> Blocks;
        for (int32 i = 1; i <= 50; i++) Blocks.push_back({Memory_Alloc(i * 7), i * 7});
        for (auto [Pointer, Size] : Blocks) Memory_Free(Pointer, Size);
    }
    EXPECT_EQ(CountOf(Captured, "Maximum Memory in use ("), 1) << Captured;
    EXPECT_EQ(Captured.find("Not all memory"), std::string::npos) << Captured;
    EXPECT_EQ(Captured.find("Memory Tracking:"), std::string::npos);
}

TEST(Memory, LeakWithoutTrackingIsCountedButNotListed) {
    void *Leak;
    {
        CapturedRuntime Runtime(0);
        Leak = Memory_Alloc(4);
    }
    EXPECT_EQ(Captured.find("Maximum Memory"), std::string::npos);
    EXPECT_NE(Captured.find("WARNING - Not all memory was free'd (1 / 36b)\n"), std::string::npos) << Captured;
    Memory_Free(Leak, 4); // the same layout without tracking
}

TEST(Memory, CheckDumpAndReport) {
    {
        CapturedRuntime Runtime(0);
        EXPECT_EQ(Memory_Check("off"), 0);
        EXPECT_NE(Captured.find("DEBUG - Memory tracking was not enabled\n"), std::string::npos);
    }
    CapturedRuntime Runtime(DEBUG_FLAG_MEMORYTRACKING);
    void *A = Memory_Alloc(16);
    void *B = Memory_AllocZero(1);
    Captured.clear();
    EXPECT_EQ(Memory_Check(""), 1);
    EXPECT_EQ(Memory_Check(nullptr), 1);
    EXPECT_EQ(Captured, "") << "an unlabelled check logs nothing on success";
    EXPECT_EQ(Memory_Check("Here"), 1);
    EXPECT_NE(Captured.find("DEBUG - Checking Memory at Here...\n"), std::string::npos) << Captured;
    EXPECT_NE(Captured.find("DEBUG - All memory appears to be correct (" + std::to_string(GlobalMemory->Allocations) +
                            " allocs verified).\n"),
              std::string::npos)
        << Captured;

    Captured.clear();
    Memory_Dump();
    std::string LineA = "DEBUG - Memory Tracking: " + PointerText(A) + " alloc'd from [Line ";
    std::string LineB = "DEBUG - Memory Tracking: " + PointerText(B) + " alloc'd from [Line ";
    size_t AtA = Captured.find(LineA), AtB = Captured.find(LineB);
    ASSERT_NE(AtA, std::string::npos) << Captured;
    ASSERT_NE(AtB, std::string::npos) << Captured;
    EXPECT_LT(AtB, AtA) << "the most recent block comes first";
    EXPECT_EQ(Captured.compare(Captured.find("] [", AtA), 18, "] [16/0x00000001]\n"), 0) << Captured;
    EXPECT_EQ(Captured.compare(Captured.find("] [", AtB), 17, "] [1/0x00000002]\n"), 0) << Captured;

    Captured.clear();
    Memory_Report();
    EXPECT_NE(Captured.find("DEBUG - Memory usage  -- Maximum (  0.00m)   Current (  0.00m)\n"), std::string::npos)
        << Captured;
    int32 Maximum = -1, Current = -1;
    size_t At = Captured.find("DEBUG - Memory allocs -- Maximum (");
    ASSERT_NE(At, std::string::npos) << Captured;
    ASSERT_EQ(sscanf(Captured.c_str() + At, "DEBUG - Memory allocs -- Maximum (%7d)   Current (%7d)\n", &Maximum, &Current), 2);
    EXPECT_EQ(Current, GlobalMemory->Allocations);
    // The maxima follow the counts as they were before the newest block.
    EXPECT_GE(Maximum, Current - 1);
    Memory_Free(A, 16);
    Memory_Free(B, 1);
}

// The maxima follow the counts before each new block exactly while one thread
// makes the blocks, however many of them pile up.
TEST(Memory, MaximaAreExactOnOneThread) {
    CapturedRuntime Runtime(DEBUG_FLAG_MEMORYTRACKING);
    auto Allocs = [] {
        Captured.clear();
        Memory_Report();
        int32 Maximum = -1, Current = -1;
        size_t At = Captured.find("Memory allocs -- Maximum (");
        EXPECT_NE(At, std::string::npos) << Captured;
        if (At != std::string::npos)
            sscanf(Captured.c_str() + At, "Memory allocs -- Maximum (%7d)   Current (%7d)\n", &Maximum, &Current);
        return std::pair<int32, int32>{Maximum, Current};
    };
    auto [StartMaximum, Start] = Allocs();
    int32 StartBytes = CurrentBytes();
    constexpr int32 Count = 5 * MEMORY_BATCH_BLOCKS + 3;
    std::vector<void *> Blocks;
    for (int32 i = 0; i < Count; i++) Blocks.push_back(Memory_Alloc(1000));
    EXPECT_EQ(CurrentBytes(), StartBytes + Count * 1032);
    void *Last = Memory_Alloc(1);
    Memory_Free(Last, 1);
    for (void *Block : Blocks) Memory_Free(Block, 1000);
    auto [Maximum, Current] = Allocs();
    EXPECT_EQ(Current, Start);
    EXPECT_EQ(Maximum, std::max(StartMaximum, Start + Count)) << "raised from the count before the last block";
    EXPECT_EQ(CurrentBytes(), StartBytes);
}

TEST(Memory, MemoryReportFlagTracesAllocationsAndFrees) {
    CapturedRuntime Runtime(DEBUG_FLAG_MEMORYREPORT);
    void *Pointer = Memory_Alloc(42);
    Memory_Free(Pointer, 42);
    std::string Expected = "DEBUG - -- Alloc " + PointerText(Pointer) + ":         42 [" __FILE__ " / ";
    EXPECT_NE(Captured.find(Expected), std::string::npos) << Captured;
    Expected = "DEBUG - -- Free  " + PointerText(Pointer) + ":         42 [" __FILE__ " / ";
    EXPECT_NE(Captured.find(Expected), std::string::npos) << Captured;
}

// Eight threads allocate, fill, verify and free while every tracked
// allocation and free checks the whole list: counts and list always agree.
TEST(Memory, ThreadsWithTrackingAndWholeChecksRunClean) {
    for (uint32 Flags : {0u, (uint32)DEBUG_FLAG_MEMORYTRACKING, (uint32)(DEBUG_FLAG_MEMORYTRACKING | DEBUG_FLAG_MEMORYTEST)}) {
        RuntimeScope Scope(Flags);
        // The state's count holds what the threads' batches brought in; a
        // whole check brings in the rest.
        if (Flags & DEBUG_FLAG_MEMORYTRACKING) Memory_Check(nullptr);
        int32 Start = CurrentBytes();
        int64 StartAllocations = GlobalMemory->Allocations;
        std::vector<std::thread> Threads;
        for (int32 t = 0; t < 8; t++) {
            Threads.emplace_back([t] {
                std::mt19937 Random(1234 + t);
                std::vector<std::pair<uint8 *, int32>> Live;
                for (int32 Step = 0; Step < 400; Step++) {
                    if (Live.size() < 12 && (Random() % 3 != 0 || Live.empty())) {
                        int32 Size = 1 + (int32)(Random() % 200);
                        uint8 *Pointer = (uint8 *)Memory_Alloc(Size);
                        memset(Pointer, (uint8)(t + Size), (size_t)Size);
                        Live.push_back({Pointer, Size});
                    } else {
                        size_t Index = Random() % Live.size();
                        auto [Pointer, Size] = Live[Index];
                        for (int32 i = 0; i < Size; i++) ASSERT_EQ(Pointer[i], (uint8)(t + Size));
                        Memory_Free(Pointer, Size);
                        Live.erase(Live.begin() + (ptrdiff_t)Index);
                    }
                }
                for (auto [Pointer, Size] : Live) Memory_Free(Pointer, Size);
            });
        }
        for (std::thread &Thread : Threads) Thread.join();
        EXPECT_EQ(CurrentBytes(), Start);
        if (Flags & DEBUG_FLAG_MEMORYTRACKING) {
            EXPECT_EQ(Memory_Check(nullptr), 1);
        }
        EXPECT_EQ(GlobalMemory->Allocations, StartAllocations);
    }
}

// Blocks made one after another on different threads are dumped newest
// first, and the count of a whole check covers every thread's blocks.
TEST(Memory, DumpOrdersBlocksOfAllThreadsNewestFirst) {
    CapturedRuntime Runtime(DEBUG_FLAG_MEMORYTRACKING);
    std::vector<std::pair<void *, int32>> Made; // in the order made
    auto Make = [&Made](int32 Size) { Made.push_back({Memory_Alloc(Size), Size}); };
    Make(11);
    for (int32 t = 0; t < 3; t++) {
        std::thread(Make, 12 + t).join();
        Make(20 + t);
    }
    Captured.clear();
    Memory_Dump();
    size_t Previous = 0;
    for (size_t i = Made.size(); i-- > 0;) {
        size_t At = Captured.find("Memory Tracking: " + PointerText(Made[i].first) + " alloc'd");
        ASSERT_NE(At, std::string::npos) << i << Captured;
        EXPECT_GE(At, Previous) << "block " << i << " out of order:\n" << Captured;
        Previous = At;
    }
    EXPECT_EQ(Memory_Check(nullptr), 1);
    for (auto [Pointer, Size] : Made) Memory_Free(Pointer, Size);
}

// Blocks change threads before they are freed (each thread keeps its records
// in a list of its own) while another thread keeps checking and dumping every
// list: the check always agrees, every block is freed once, the counts come
// back and the leak report stays silent.
TEST(Memory, CrossThreadFreesWithChecksAndDumpsRunClean) {
    for (uint32 Flags : {(uint32)DEBUG_FLAG_MEMORYTRACKING, (uint32)(DEBUG_FLAG_MEMORYTRACKING | DEBUG_FLAG_MEMORYTEST)}) {
        {
            CapturedRuntime Runtime(Flags);
            int32 Start = CurrentBytes();
            std::mutex HandoffLock;
            std::vector<std::pair<uint8 *, int32>> Handoff;
            std::atomic<int32> Running{8};
            std::atomic<int32> Checks{0};
            std::thread Checker([&] {
                while (Running.load() > 0 || Checks.load() < 3) {
                    EXPECT_EQ(Memory_Check("x"), 1);
                    Memory_Dump();
                    Checks++;
                }
            });
            std::vector<std::thread> Threads;
            for (int32 t = 0; t < 8; t++) {
                Threads.emplace_back([&, t] {
                    std::mt19937 Random(99 + t);
                    auto FreeChecked = [](std::pair<uint8 *, int32> Block) {
                        for (int32 i = 0; i < Block.second; i++) ASSERT_EQ(Block.first[i], (uint8)Block.second);
                        Memory_Free(Block.first, Block.second);
                    };
                    for (int32 Step = 0; Step < 300; Step++) {
                        int32 Size = 1 + (int32)(Random() % 300);
                        uint8 *Pointer = (uint8 *)Memory_Alloc(Size);
                        memset(Pointer, (uint8)Size, (size_t)Size);
                        std::pair<uint8 *, int32> Mine{Pointer, Size}, Theirs{nullptr, 0};
                        {
                            std::lock_guard<std::mutex> Guard(HandoffLock);
                            Handoff.push_back(Mine);
                            // Mostly another thread's block: the pool is shared.
                            size_t Index = Random() % Handoff.size();
                            if (Handoff.size() > 16 || Random() % 2 == 0) {
                                Theirs = Handoff[Index];
                                Handoff.erase(Handoff.begin() + (ptrdiff_t)Index);
                            }
                        }
                        if (Theirs.first != nullptr) FreeChecked(Theirs);
                    }
                    Running--;
                });
            }
            for (std::thread &Thread : Threads) Thread.join();
            Checker.join();
            for (auto Block : Handoff) Memory_Free(Block.first, Block.second);
            EXPECT_EQ(CurrentBytes(), Start);
            EXPECT_EQ(Memory_Check(nullptr), 1);
            EXPECT_GE(CountOf(Captured, "All memory appears to be correct ("), 3);
        }
        EXPECT_EQ(Captured.find("Failure in internal memory check"), std::string::npos);
        EXPECT_EQ(Captured.find("Not all memory was free'd"), std::string::npos) << Captured.substr(Captured.size() - 2000);
        EXPECT_EQ(CountOf(Captured, "Maximum Memory in use ("), 1);
    }
}

// More threads alive at once than there are shards of their own: the rest
// share one. Threads that end give their shard back to the next ones; the
// blocks they leave behind are freed by the main thread.
TEST(Memory, ManyThreadsShareAndReuseShards) {
    for (uint32 Flags : {0u, (uint32)DEBUG_FLAG_MEMORYTRACKING}) {
        RuntimeScope Scope(Flags);
        int32 Start = CurrentBytes();
        for (int32 Round = 0; Round < 2; Round++) {
            constexpr int32 Count = 80;
            std::atomic<int32> Waiting{Count};
            std::vector<void *> Left(Count);
            std::vector<std::thread> Threads;
            for (int32 t = 0; t < Count; t++) {
                Threads.emplace_back([&, t] {
                    void *Early = Memory_Alloc(8 + t);
                    Waiting--;
                    while (Waiting.load() > 0) std::this_thread::yield();
                    for (int32 i = 0; i < 20; i++) Memory_Free(Memory_Alloc(16), 16);
                    Memory_Free(Early, 8 + t);
                    Left[(size_t)t] = Memory_Alloc(40);
                });
            }
            for (std::thread &Thread : Threads) Thread.join();
            EXPECT_EQ(CurrentBytes(), Start + Count * 72);
            if (Flags) {
                EXPECT_EQ(Memory_Check(nullptr), 1);
            }
            for (void *Pointer : Left) Memory_Free(Pointer, 40);
            EXPECT_EQ(CurrentBytes(), Start);
        }
    }
}

// A guard check outside the lock (validate, free) reads the tracked bounds
// while other threads raise them; large blocks come from fresh mappings, so
// the bounds keep moving. Under ThreadSanitizer this shows any plain access.
TEST(Memory, GuardChecksWhileTheBoundsGrowRunClean) {
    RuntimeScope Scope(DEBUG_FLAG_MEMORYTRACKING);
    void *Held = Memory_Alloc(8);
    std::atomic<bool> Stop{false};
    std::thread Checker([&] {
        while (!Stop.load()) Memory_Validate(Held, 8);
    });
    constexpr int32 Large = 1 << 17;
    std::vector<void *> Blocks;
    for (int32 i = 0; i < 300; i++) Blocks.push_back(Memory_Alloc(Large));
    Stop = true;
    Checker.join();
    for (void *Block : Blocks) EXPECT_EQ(Memory_Validate(Block, Large), 1);
    for (void *Block : Blocks) Memory_Free(Block, Large);
    Memory_Free(Held, 8);
}

TEST(Memory, FindPatternMatchesStdSearch) {
    std::mt19937 Random(99);
    for (int32 Round = 0; Round < 2000; Round++) {
        std::vector<uint8> Buffer(Random() % 24), Pattern(1 + Random() % 4);
        for (uint8 &Byte : Buffer) Byte = (uint8)('a' + Random() % 3);
        for (uint8 &Byte : Pattern) Byte = (uint8)('a' + Random() % 3);
        auto Expected = std::search(Buffer.begin(), Buffer.end(), Pattern.begin(), Pattern.end());
        const void *Found = &Round;
        int32 Result = Memory_FindPattern(Buffer.data(), (int32)Buffer.size(), Pattern.data(), (int32)Pattern.size(), &Found);
        if (Expected == Buffer.end() || Buffer.empty()) {
            EXPECT_EQ(Result, 0);
            EXPECT_EQ(Found, nullptr);
        } else {
            EXPECT_EQ(Result, 1);
            EXPECT_EQ(Found, Buffer.data() + (Expected - Buffer.begin()));
        }
    }
}

TEST(Memory, FindByteAndCryptFill) {
    const char Text[] = "abcabc";
    const void *Found = nullptr;
    EXPECT_EQ(Memory_FindByte(Text, 6, 'c', &Found), 1);
    EXPECT_EQ(Found, Text + 2);
    EXPECT_EQ(Memory_FindByte(Text, 2, 'c', &Found), 0);
    EXPECT_EQ(Found, nullptr);
    EXPECT_EQ(Memory_FindByte(Text, 0, 'a', &Found), 0);

    uint8 Buffer[64] = {0};
    EXPECT_EQ(Memory_CryptFill(Buffer, 0), 1);
    EXPECT_EQ(std::count(Buffer, Buffer + 64, 0), 64);
    EXPECT_EQ(Memory_CryptFill(Buffer, 64), 1);
    EXPECT_LT(std::count(Buffer, Buffer + 64, 0), 10);
}

TEST(Memory, TypedHelpers) {
    RuntimeScope Scope(DEBUG_FLAG_MEMORYTRACKING);
    struct Record {
        int64 A;
        char B[10];
    };
    int32 Before = CurrentBytes();
    Record *Item = Memory_New(Record);
    ASSERT_NE(Item, nullptr);
    EXPECT_EQ(Item->A, 0);
    Memory_Delete(Item);
    EXPECT_EQ(Item, nullptr);
    EXPECT_EQ(CurrentBytes(), Before);
}

// ---- Large freed allocations kept for reuse ----

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MEMORY_TEST_NO_RETAIN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define MEMORY_TEST_NO_RETAIN 1
#endif

namespace {
constexpr int32 LargeSize = 2 << 20;
bool AllAre(const uint8 *Bytes, int32 Size, uint8 Value) { return std::count(Bytes, Bytes + Size, Value) == Size; }
} // namespace

// A large block freed is kept outside every count and backs the next request
// of its size: a plain request finds the old bytes, a zero-filled one zeros.
// Nothing kept shows in the leak report, and the end of the runtime gives it
// all back. AddressSanitizer builds keep nothing, so it sees every free.
TEST(Memory, FreedLargeBlocksAreKeptOutsideTheCounts) {
    for (uint32 Flags : {0u, (uint32)DEBUG_FLAG_MEMORYTRACKING}) {
        SCOPED_TRACE(Flags);
        {
            CapturedRuntime Runtime(Flags);
            const int32 Before = CurrentBytes();
            uint8 *First = (uint8 *)Memory_Alloc(LargeSize);
            memset(First, 0x5A, LargeSize);
            Memory_Free(First, LargeSize);
            EXPECT_EQ(CurrentBytes(), Before);
#if defined(MEMORY_TEST_NO_RETAIN)
            EXPECT_EQ(MemoryInt_RetainedBytes(), 0);
#else
            EXPECT_GE(MemoryInt_RetainedBytes(), LargeSize);
            uint8 *Again = (uint8 *)Memory_Alloc(LargeSize);
            EXPECT_EQ(Again, First);
            EXPECT_TRUE(AllAre(Again, LargeSize, 0x5A));
            EXPECT_EQ(MemoryInt_RetainedBytes(), 0);
            EXPECT_EQ(CurrentBytes() - Before, (LargeSize + 35) & ~3);
            Memory_Free(Again, LargeSize);
            uint8 *Zeroed = (uint8 *)Memory_AllocZero(LargeSize);
            EXPECT_EQ(Zeroed, First);
            EXPECT_TRUE(AllAre(Zeroed, LargeSize, 0));
            EXPECT_EQ(Memory_SentinelCheck(0, Zeroed - MEMORY_GUARD_SIZE, LargeSize, __FILE__, __LINE__), 1);
            Memory_Free(Zeroed, LargeSize);
            // Far smaller requests do not take a large kept block.
            uint8 *Small = (uint8 *)Memory_Alloc(LargeSize / 2);
            EXPECT_NE(Small, First);
            Memory_Free(Small, LargeSize / 2);
#endif
            if (Flags != 0) {
                EXPECT_EQ(Memory_Check(""), 1);
            }
            EXPECT_EQ(CurrentBytes(), Before);
        }
        EXPECT_EQ(MemoryInt_RetainedBytes(), 0);
        EXPECT_EQ(Captured.find("Not all memory"), std::string::npos) << Captured;
        EXPECT_EQ(CountOf(Captured, "Maximum Memory in use ("), Flags != 0 ? 1 : 0) << Captured;
    }
}

#if !defined(MEMORY_TEST_NO_RETAIN)
// A kept block freed a second time is not kept twice: its cleared guard stops
// the free. Large blocks are kept process-wide, small ones for the thread
// that made the memory state (not with ThreadSanitizer's heap).
TEST_F(MemoryDeathTest, SecondFreeOfAKeptBlockStops) {
    std::vector<int32> Sizes = {LargeSize};
#if !defined(__SANITIZE_THREAD__)
    Sizes.push_back(100);
#endif
    for (int32 Size : Sizes)
        EXPECT_EXIT(
            {
                RuntimeScope Scope(0);
                void *Pointer = Memory_Alloc(Size);
                Memory_Free(Pointer, Size);
                Memory_Free(Pointer, Size);
            },
            ::testing::KilledBySignal(SIGILL),
            "ABORT - Memory corrupt \\(" + std::to_string(Size) + "\\) <Addr:0x[0-9a-fA-F]+ Before:");
}
#endif

// What is kept stays under its bound (1 GiB, or a sixteenth of the machine's
// memory) however much is freed; a block reused from past the part that stays
// resident, whose pages the kernel may have taken, still reads as zeros for a
// zero-filled request.
TEST(Memory, KeptBlocksStayUnderTheBound) {
    RuntimeScope Scope(0);
    const int32 Before = CurrentBytes();
    constexpr int32 Size = 8 << 20;
    std::vector<void *> Blocks;
    for (int32 i = 0; i < 160; i++) {
        Blocks.push_back(Memory_Alloc(Size));
        memset(Blocks.back(), 0x5A, 64 << 10);
    }
    for (void *Pointer : Blocks) Memory_Free(Pointer, Size);
    const int64 Machine = (int64)sysconf(_SC_PHYS_PAGES) / 16 * sysconf(_SC_PAGESIZE);
    EXPECT_LE(MemoryInt_RetainedBytes(), std::min<int64>((int64)1 << 30, Machine));
    uint8 *Zeroed = (uint8 *)Memory_AllocZero(Size);
    EXPECT_TRUE(AllAre(Zeroed, Size, 0));
    Memory_Free(Zeroed, Size);
    EXPECT_EQ(CurrentBytes(), Before);
}

// Threads take and give back large blocks of a few sizes at once; each sees
// its own bytes and the counts end where they began.
TEST(Memory, ThreadsShareTheKeptBlocks) {
    RuntimeScope Scope(0);
    const int32 Before = CurrentBytes();
    std::vector<std::thread> Threads;
    std::atomic<int32> Wrong{0};
    for (int32 t = 0; t < 4; t++)
        Threads.emplace_back([t, &Wrong] {
            for (int32 Round = 0; Round < 40; Round++) {
                const int32 Size = (1 << 20) + ((Round + t) % 3) * (256 << 10);
                const bool Zero = Round % 2 == 0;
                uint8 *Pointer = (uint8 *)(Zero ? Memory_AllocZero(Size) : Memory_Alloc(Size));
                if (Zero && !AllAre(Pointer, Size, 0)) Wrong++;
                memset(Pointer, t + 1, Size);
                if (!AllAre(Pointer, Size, (uint8)(t + 1))) Wrong++;
                Memory_Free(Pointer, Size);
            }
        });
    for (std::thread &Thread : Threads) Thread.join();
    EXPECT_EQ(Wrong.load(), 0);
    EXPECT_EQ(CurrentBytes(), Before);
}

// While the runtime lives, a growth of the heap is filled with pages before
// anything touches it: the free top above the block that grew it is
// resident, and the growth is at least a megabyte. Blocks read and count as
// ever. Sanitizer builds have a heap of their own, which nothing fills.
TEST(Memory, GrownHeapIsFilled) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's heap";
#endif
    const size_t Page = (size_t)sysconf(_SC_PAGESIZE);
    void *Probe = mmap(nullptr, Page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(Probe, MAP_FAILED);
    const bool Fills = madvise(Probe, Page, MADV_POPULATE_WRITE) == 0;
    munmap(Probe, Page);
    if (!Fills) GTEST_SKIP() << "this kernel cannot fill a range";

    RuntimeScope Scope(0);
    const int32 Before = CurrentBytes();
    std::vector<uint8 *> Blocks;
    int32 Growths = 0;
    for (int32 i = 0; i < 4000 && Growths < 3; i++) {
        const uintptr Low = (uintptr)sbrk(0);
        uint8 *Block = (uint8 *)Memory_Alloc(3000);
        memset(Block, 0x5A, 3000);
        Blocks.push_back(Block);
        const uintptr Top = (uintptr)sbrk(0);
        if (Top == Low) continue;
        Growths++;
        EXPECT_GE(Top - Low, (uintptr)1 << 20);
        const uintptr From = ((uintptr)Block + 3100 + Page - 1) & ~(uintptr)(Page - 1);
        std::vector<unsigned char> Resident((Top - From) / Page);
        ASSERT_EQ(mincore((void *)From, Top - From, Resident.data()), 0);
        EXPECT_EQ(std::count(Resident.begin(), Resident.end(), 0), 0) << "growth " << Growths;
    }
    EXPECT_EQ(Growths, 3);
    EXPECT_EQ(CurrentBytes() - Before, (int32)Blocks.size() * 3032);
    for (uint8 *Block : Blocks) {
        EXPECT_TRUE(AllAre(Block, 3000, 0x5A));
        Memory_Free(Block, 3000);
    }
    EXPECT_EQ(CurrentBytes(), Before);
}
