// The guarded, counted and (optionally) tracked allocator. See memory.h for
// the layout. Every fault here is a fatal stop; nothing is reported to the
// caller. The system heap behind the blocks (the room of an allocation, the
// large allocations kept for reuse) is in memory_system.cpp, the per-thread
// shards of counts and lists in memory_shard.cpp.
//
// Invariants:
// - The tracking choice is fixed between Memory_Init and Memory_Remove, so a
//   block's layout (record in front or not) follows from the state alone.
// - Guards are written and the bounds widened before a record is linked, so
//   a whole check running on another thread never sees a half-made block.
// - Guard reads never go past the system allocation (its usable room), so
//   a free with a wrong, larger size is reported instead of reading beyond.
// - With tracking a shard's list and counts change only under its lock, and
//   a record's neighbours are always in the record's own list. (The shards,
//   their owners and their locks: memory_shard.cpp.)
// - The facts every allocation reads (state, tracking) sit on a cache line
//   of their own that only Memory_Init and Memory_Remove write.
#include "runtime/memory.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <new>

#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory_internal.h"
#include "runtime/posix/platform.h"

MemoryStateStruct *GlobalMemory = nullptr;

MemoryInt::HotFacts MemoryInt::Hot = {nullptr, MemoryInt::HeapFillOff, false, false, false};

using namespace MemoryInt;

namespace {

constexpr uint8 GuardXor = 0xCC;
constexpr int32 PriorDumpBytes = 32;

// The size rounded up to a multiple of 4 plus both guards.
constexpr int64 BlockSizeOf(int32 Size) { return ((int64)Size + 35) & ~(int64)3; }
static_assert(BlockSizeOf(1) == 36 && BlockSizeOf(4) == 36 && BlockSizeOf(5) == 40);

constexpr int32 Saturate(int64 Value) {
    return Value > INT32_MAX ? INT32_MAX : (Value < INT32_MIN ? INT32_MIN : (int32)Value);
}

bool TrackingOn(const MemoryStateStruct *State) { return State != nullptr && State->Tracking == 1; }

// ---- Bounds and order of tracked records ----

// Widens the bounds to a new system allocation; they only ever grow.
inline void Widen(MemoryStateStruct *State, uint8 *Start, uint8 *End) {
    uint8 *Lowest = LoadRelaxed(State->Lowest);
    while ((Lowest == nullptr || Start < Lowest) &&
           !__atomic_compare_exchange_n(&State->Lowest, &Lowest, Start, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
    }
    uint8 *Highest = LoadRelaxed(State->Highest);
    while (End > Highest &&
           !__atomic_compare_exchange_n(&State->Highest, &Highest, End, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
    }
}

// The one list tracked blocks went to since Memory_Init (index + 1), 0 before
// the first, or ~0 once a second list was used.
uint32 StampingShard = 0;
constexpr uint32 ManyShards = ~0u;

inline uint64 ClockStamp() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    timespec Now;
    clock_gettime(CLOCK_MONOTONIC, &Now);
    return (uint64)Now.tv_sec * 1000000000u + (uint64)Now.tv_nsec;
#endif
}

// Stamps order the records of all lists, newest highest. While one list
// takes all tracked blocks a count is enough; from the moment a second one is
// used, stamps come from the time stamp counter, which all cores share, so a
// block made after another one on another thread gets the higher stamp.
// Counted stamps stay far below counter readings, so they sort older.
//
// The clock reading for a block of the given list, or 0 where a count will
// do; read before the system allocation so that its latency overlaps.
inline uint64 StampClock(Shard &Of) {
    const uint32 Own = IndexOf(&Of) + 1;
    uint32 Stamping = LoadRelaxed(StampingShard);
    if (__builtin_expect(Stamping == Own, 1)) return 0;
    if (Stamping == 0 &&
        __atomic_compare_exchange_n(&StampingShard, &Stamping, Own, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED))
        return 0;
    if (Stamping != ManyShards) StoreRelaxed(StampingShard, ManyShards);
    return ClockStamp();
}

// The stamp of a block about to be linked into a list whose lock is held:
// above every earlier one of the list.
inline uint64 NextStamp(Shard &Of, uint64 Clock) {
    const uint64 Stamp = std::max(Clock, Of.LastStamp + 1);
    Of.LastStamp = Stamp;
    return Stamp;
}

// Calls Visit for every live record, newest first, merging the lists by
// stamp. The caller holds every lock (or no other thread runs).
template <typename Visitor> void ForEachRecord(Visitor &&Visit) {
    MemoryTrackerStruct *Cursors[ShardTotal];
    uint32 Count = 0;
    for (Shard &Of : Shards)
        if (Of.Head != nullptr) Cursors[Count++] = Of.Head;
    while (Count > 0) {
        uint32 Newest = 0;
        for (uint32 i = 1; i < Count; i++)
            if (Cursors[i]->Stamp > Cursors[Newest]->Stamp) Newest = i;
        MemoryTrackerStruct *Record = Cursors[Newest];
        // Read before the visit, which may stop the process on a bad link.
        MemoryTrackerStruct *Next = Record->Next;
        Visit(Record);
        if (Next != nullptr) Cursors[Newest] = Next;
        else Cursors[Newest] = Cursors[--Count];
    }
}

// ---- Guards ----

static_assert(std::endian::native == std::endian::little, "guard words are laid out low byte first");
static_assert(MEMORY_GUARD_SIZE == 16, "a guard is two words");

// The guard of a block, built and compared 16 bytes at a time: byte i is
// (block start >> i) ^ 0xCC, in memory order.
#if defined(__SSE2__)
using GuardWords = __m128i;

// Eight 16-bit lanes, lane L holding guard bytes 2L and 2L + 1. Lanes 0-3
// read the address's low 16 bits, lanes 4-7 the 16 bits from bit 8; each
// lane's own right shift (0, 2, 4, 6) is a multiply-high by a power of two.
inline GuardWords MakeGuardWords(const uint8 *BlockStart) {
    const uint64 Address = (uintptr)BlockStart;
    const short Low = (short)(Address & 0xFFFF), High = (short)((Address >> 8) & 0xFFFF);
    const __m128i Source = _mm_set_epi16(High, High, High, High, Low, Low, Low, Low);
    const __m128i Shifts = _mm_set_epi16(1 << 9, 1 << 11, 1 << 13, (short)(1 << 15), 1 << 9, 1 << 11, 1 << 13,
                                         (short)(1 << 15));
    // (Source << 1) * 2^(15 - k) >> 16 is Source >> k for the bits needed.
    const __m128i Shifted = _mm_mulhi_epu16(_mm_slli_epi16(Source, 1), Shifts);
    const __m128i Even = _mm_and_si128(Shifted, _mm_set1_epi16(0x00FF));
    const __m128i Odd = _mm_and_si128(_mm_slli_epi16(Shifted, 7), _mm_set1_epi16((short)0xFF00));
    return _mm_xor_si128(_mm_or_si128(Even, Odd), _mm_set1_epi8((char)GuardXor));
}

inline void WriteGuard(uint8 *At, GuardWords Words) { _mm_storeu_si128(reinterpret_cast<__m128i *>(At), Words); }

inline bool GuardIntact(const uint8 *At, GuardWords Words) {
    const __m128i Stored = _mm_loadu_si128(reinterpret_cast<const __m128i *>(At));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(Stored, Words)) == 0xFFFF;
}
#else
struct GuardWords {
    uint64 Low;
    uint64 High;
};

// Byte i of a word holds bits i..i+7 of its source: the source shifted left
// by 7i, masked to byte i.
inline uint64 SpreadBytes(uint64 Source) {
    uint64 Word = 0;
#pragma GCC unroll 8
    for (int32 i = 0; i < 8; i++) Word |= (Source << (7 * i)) & (0xFFull << (8 * i));
    return Word;
}

inline GuardWords MakeGuardWords(const uint8 *BlockStart) {
    const uint64 Address = (uintptr)BlockStart;
    constexpr uint64 Xor = 0x0101010101010101ull * GuardXor;
    return {SpreadBytes(Address) ^ Xor, SpreadBytes(Address >> 8) ^ Xor};
}

inline void WriteGuard(uint8 *At, const GuardWords &Words) {
    memcpy(At, &Words.Low, 8);
    memcpy(At + 8, &Words.High, 8);
}

inline bool GuardIntact(const uint8 *At, const GuardWords &Words) {
    uint64 Low, High;
    memcpy(&Low, At, 8);
    memcpy(&High, At + 8, 8);
    return ((Low ^ Words.Low) | (High ^ Words.High)) == 0;
}
#endif

void MakeGuard(const uint8 *BlockStart, uint8 Guard[MEMORY_GUARD_SIZE]) { WriteGuard(Guard, MakeGuardWords(BlockStart)); }

// Both guards of a block intact, for a block known to lie whole inside its
// system allocation.
inline bool GuardsIntactInside(const uint8 *BlockStart, int64 BlockSize) {
    const GuardWords Words = MakeGuardWords(BlockStart);
    return GuardIntact(BlockStart, Words) && GuardIntact(BlockStart + BlockSize - MEMORY_GUARD_SIZE, Words);
}

// Both guards of a block intact, the trailing one read only inside the
// system allocation that starts at System, whose usable room is Room.
inline bool GuardsIntactIn(uint8 *System, size_t Room, const uint8 *BlockStart, int64 BlockSize) {
    return BlockStart + BlockSize <= System + Room && GuardsIntactInside(BlockStart, BlockSize);
}

inline bool GuardsIntact(uint8 *System, const uint8 *BlockStart, int64 BlockSize) {
    return GuardsIntactIn(System, UsableSize(System), BlockStart, BlockSize);
}


MemoryTrackerStruct *RecordOf(uint8 *BlockStart) { return (MemoryTrackerStruct *)(BlockStart - MEMORY_TRACKER_SIZE); }

// The bounds only grow; a guard check outside the locks (free, validate)
// reads them atomically.
bool Inside(const MemoryStateStruct *State, const void *Address) {
    return (const uint8 *)Address >= LoadRelaxed(State->Lowest) && (const uint8 *)Address < LoadRelaxed(State->Highest);
}

void DumpRecords() {
    ForEachRecord([](const MemoryTrackerStruct *Record) {
        Log_PrintInt(LOG_DEBUG, __FILE__, __LINE__, 0, "Memory Tracking: 0x%p alloc'd from [Line %d/%s] [%d/0x%.8X]\n",
                     (void *)(Record->BlockStart + MEMORY_GUARD_SIZE), (int32)Record->Line, Record->File, Record->Size,
                     Record->Flags);
    });
}

// " %.2X" for each byte, in a text short enough for one log line.
void LogBytes(const char *Title, const uint8 *Bytes, int32 Count, const char *File, int32 Line) {
    static const char Digits[] = "0123456789ABCDEF";
    char Text[160];
    int32 Used = 0;
    for (; Title[Used] != 0; Used++) Text[Used] = Title[Used];
    for (int32 i = 0; i < Count && Used + 4 < (int32)sizeof(Text); i++) {
        Text[Used++] = ' ';
        Text[Used++] = Digits[Bytes[i] >> 4];
        Text[Used++] = Digits[Bytes[i] & 15];
    }
    Text[Used++] = '\n';
    Text[Used] = 0;
    Log_PrintInt(LOG_DEBUG, File, Line, 0, "%s", Text);
}

// What Memory_TrackerCheck checks, in one pass without its reports; the
// record itself was found inside the bounds.
inline bool RecordSound(const MemoryStateStruct *State, const MemoryTrackerStruct *Record, const uint8 *BlockStart,
                        int32 Size) {
    const MemoryTrackerStruct *Next = Record->Next, *Prev = Record->Prev;
    return (Next == nullptr || (Inside(State, Next) && Next->Prev == Record)) &&
           (Prev == nullptr || (Inside(State, Prev) && Prev->Next == Record)) && Inside(State, Record->BlockStart) &&
           Record->Size == Size && Record->BlockStart == BlockStart;
}

// Locks the list of a tracked block about to be checked and unlinked: with
// the whole check asked for, every list; else the record's own. A record
// outside the bounds or naming no list is left to the tracker check under
// every lock, which reports it. Answers the list the record is in, or null.
inline Shard *LockRecord(MemoryStateStruct *State, MemoryTrackerStruct *Record, uint32 DebugFlags, bool *All) {
    *All = (DebugFlags & DEBUG_FLAG_MEMORYTEST) != 0 || !Inside(State, Record) || Record->Shard >= ShardTotal;
    if (!*All) {
        Shard &Of = Shards[Record->Shard];
        LockShard(Of);
        return &Of;
    }
    LockAll(State);
    if (DebugFlags & DEBUG_FLAG_MEMORYTEST) Memory_Check(nullptr);
    if (!Inside(State, Record)) return nullptr;
    if (Record->Shard < ShardTotal) return &Shards[Record->Shard];
    for (Shard &Of : Shards)
        if (Of.Head == Record) return &Of;
    return nullptr;
}

void UnlockRecord(MemoryStateStruct *State, Shard *Of, bool All) {
    if (All) UnlockAll(State);
    else UnlockShard(*Of);
}

// Whether this thread's work unwinds when memory runs out, and the flag
// that gives it up (see Memory_SetThrowWhenExhausted).
thread_local bool ThrowWhenExhausted = false;
thread_local const volatile int32 *ThreadStop = nullptr;

// The process's budget for documents and what is made of them, and the
// account of the work on this thread charged to it (see
// Memory_SetThreadCharge).
std::atomic<int64> BudgetUsed{0};
std::atomic<int64> BudgetLimit{MEMORY_BUDGET_BYTES};
std::atomic<int64> BudgetRefusals{0};
thread_local MemoryCharge *ThreadCharge = nullptr;

// What a block really takes: its guards and the system allocator's header.
constexpr int64 SystemHeaderBytes = 16;

[[gnu::noinline]] void CheckThreadStop() {
    if (ThreadStop != nullptr && __atomic_load_n(ThreadStop, __ATOMIC_ACQUIRE) != 0) throw std::bad_alloc();
}

// Charged before the system is asked, so that a document past the budget
// is refused before it takes the memory.
[[gnu::noinline]] void Charge(int64 BlockSize) {
    CheckThreadStop();
    MemoryCharge *Account = ThreadCharge;
    if (Account == nullptr) return;
    const int64 Cost = BlockSize + SystemHeaderBytes;
    if (BudgetUsed.fetch_add(Cost) + Cost > BudgetLimit.load(std::memory_order_relaxed)) {
        if (!Account->Refused) BudgetRefusals.fetch_add(1);
        Account->Refused = 1;
        if (ThrowWhenExhausted) {
            BudgetUsed.fetch_sub(Cost);
            throw std::bad_alloc();
        }
    }
    Account->Bytes += Cost;
}

[[gnu::noinline]] void Uncharge(int64 BlockSize) {
    const int64 Cost = BlockSize + SystemHeaderBytes;
    ThreadCharge->Bytes -= Cost;
    BudgetUsed.fetch_sub(Cost);
}

inline bool Watched() { return ThreadStop != nullptr || ThreadCharge != nullptr; }

// Every case of an allocation: tracking, tracing, a bad size, no memory.
[[gnu::noinline]] void *AllocFull(int32 Size, uint32 Flags, const char *File, int32 Line, uint32 DebugFlags) {
    if (Size < 1) Debug_AbortInt(File, Line, "Invalid Memory Size (%d)\n", Size);
    int64 BlockSize = BlockSizeOf(Size);
    if (Watched()) Charge(BlockSize);
    MemoryStateStruct *State = Hot.State;
    bool Tracking = Hot.Tracking;
    size_t Total = (size_t)BlockSize + (Tracking ? MEMORY_TRACKER_SIZE : 0);
    Shard *Own = Tracking ? &MyShard() : nullptr;
    const uint64 Clock = Tracking ? StampClock(*Own) : 0;
    bool Zero = (Flags & MEMORY_FLAG_ZERO) != 0;
    uint8 *System = SystemAlloc(Total, Zero);
    if (System == nullptr) {
        if (ThreadCharge != nullptr) Uncharge(BlockSize);
        if (ThrowWhenExhausted) throw std::bad_alloc();
        if (Zero) Debug_AbortInt(File, Line, "No Zeroed Memory available (%d / %d)\n", Size, Saturate(BlockSize));
        Debug_AbortInt(File, Line, "No Memory available (%d / %d)\n", Size, Saturate(BlockSize));
    }

    uint8 *BlockStart = System + (Tracking ? MEMORY_TRACKER_SIZE : 0);
    const GuardWords Guard = MakeGuardWords(BlockStart);
    WriteGuard(BlockStart, Guard);
    WriteGuard(BlockStart + BlockSize - MEMORY_GUARD_SIZE, Guard);

    if (Tracking) {
        Shard &Of = *Own;
        MemoryTrackerStruct *Record = (MemoryTrackerStruct *)System;
        Record->File = File;
        Record->Line = (uint32)Line;
        Record->Size = Size;
        Record->BlockStart = BlockStart;
        Record->Next = nullptr;
        Record->Prev = nullptr;
        Record->Flags = Flags;
        Record->Shard = IndexOf(&Of);
        Widen(State, System, System + Total);

        const bool All = (DebugFlags & DEBUG_FLAG_MEMORYTEST) != 0;
        if (All) {
            LockAll(State);
            Memory_Check(nullptr);
        } else {
            LockShard(Of);
        }
        Record->Stamp = NextStamp(Of, Clock);
        Record->Next = Of.Head;
        if (Of.Head != nullptr) Of.Head->Prev = Record;
        Of.Head = Record;
        CountTracked(State, Of, 1, BlockSize);
        if (All) UnlockAll(State);
        else UnlockShard(Of);
    } else if (State != nullptr) {
        CountUntracked(1, BlockSize);
    }

    void *Address = BlockStart + MEMORY_GUARD_SIZE;
    if (DebugFlags & DEBUG_FLAG_MEMORYREPORT)
        Log_PrintInt(LOG_DEBUG, File, Line, 0, "-- Alloc 0x%p: %10d [%s / %d]\n", Address, Size, File, Line);
    return Address;
}

// Every case of a free: tracking, tracing, bad arguments, damaged guards.
[[gnu::noinline]] void *FreeFull(void *Pointer, int32 Size, const char *File, int32 Line, uint32 DebugFlags) {
    if (DebugFlags & DEBUG_FLAG_MEMORYREPORT)
        Log_PrintInt(LOG_DEBUG, File, Line, 0, "-- Free  0x%p: %10d [%s / %d]\n", Pointer, Size, File, Line);
    if (Size < 1) Debug_AbortInt(File, Line, "Invalid Memory Size (%d)\n", Size);
    int64 BlockSize = BlockSizeOf(Size);
    if (Pointer == nullptr) Debug_AbortInt(File, Line, "No Memory address to free (%d / %d)\n", Size, Saturate(BlockSize));

    uint8 *BlockStart = (uint8 *)Pointer - MEMORY_GUARD_SIZE;
    MemoryStateStruct *State = Hot.State;
    bool Tracking = Hot.Tracking;
    if (Tracking) {
        MemoryTrackerStruct *Record = RecordOf(BlockStart);
        bool All;
        Shard *Of = LockRecord(State, Record, DebugFlags, &All);
        if (All || !RecordSound(State, Record, BlockStart, Size)) Memory_TrackerCheck(Record, BlockStart, Size, File, Line);
        if (Record->Prev != nullptr) Record->Prev->Next = Record->Next;
        // A record without a predecessor that does not head its list is
        // not in it; taking its successor as head would cut the list.
        else if (Of != nullptr && Of->Head == Record) Of->Head = Record->Next;
        if (Record->Next != nullptr) Record->Next->Prev = Record->Prev;
        CountTracked(State, Of != nullptr ? *Of : Shards[SharedShard], -1, BlockSize);
        UnlockRecord(State, Of, All);
        memset(Record, 0, sizeof(*Record));
    }

    // A block with both guards intact needs no more checking; the full check
    // (bounds, report of the damage) runs otherwise. A tracked block passed
    // the tracker check with its recorded size, so it ends inside its own
    // allocation and inside the bounds.
    if (Tracking ? !GuardsIntactInside(BlockStart, BlockSize) : !GuardsIntact(BlockStart, BlockStart, BlockSize))
        Memory_SentinelCheck(1, BlockStart, Size, File, Line);
    SystemFree(Tracking ? (uint8 *)RecordOf(BlockStart) : BlockStart, BlockStart,
               (size_t)BlockSize + (Tracking ? MEMORY_TRACKER_SIZE : 0));
    if (!Tracking && State != nullptr) CountUntracked(-1, BlockSize);
    if (ThreadCharge != nullptr) Uncharge(BlockSize);
    return nullptr;
}

} // namespace

// The common case (no tracking, no tracing, a valid size, intact guards)
// without the frame the full paths need.
void *Memory_AllocInt(int32 Size, uint32 Flags, const char *File, int32 Line) {
    const uint32 DebugFlags = DebugInt_Flags();
    if (__builtin_expect(Size < 1 || !Hot.Plain || (DebugFlags & DEBUG_FLAG_MEMORYREPORT), 0))
        return AllocFull(Size, Flags, File, Line, DebugFlags);
    const int64 BlockSize = BlockSizeOf(Size);
    if (__builtin_expect(Watched(), 0)) Charge(BlockSize);
    uint8 *BlockStart = SystemAlloc((size_t)BlockSize, (Flags & MEMORY_FLAG_ZERO) != 0);
    if (__builtin_expect(BlockStart == nullptr, 0)) {
        // The full path charges it again.
        if (ThreadCharge != nullptr) Uncharge(BlockSize);
        return AllocFull(Size, Flags, File, Line, DebugFlags);
    }
    const GuardWords Guard = MakeGuardWords(BlockStart);
    WriteGuard(BlockStart, Guard);
    WriteGuard(BlockStart + BlockSize - MEMORY_GUARD_SIZE, Guard);
    CountUntracked(1, BlockSize);
    return BlockStart + MEMORY_GUARD_SIZE;
}

void *Memory_FreeInt(void *Pointer, int32 Size, const char *File, int32 Line) {
    const uint32 DebugFlags = DebugInt_Flags();
    if (__builtin_expect(Size < 1 || Pointer == nullptr || !Hot.Plain ||
                             (DebugFlags & DEBUG_FLAG_MEMORYREPORT),
                         0))
        return FreeFull(Pointer, Size, File, Line, DebugFlags);
    const int64 BlockSize = BlockSizeOf(Size);
    uint8 *BlockStart = static_cast<uint8 *>(Pointer) - MEMORY_GUARD_SIZE;
    const size_t Room = UsableSize(BlockStart);
    if (__builtin_expect(!GuardsIntactIn(BlockStart, Room, BlockStart, BlockSize), 0))
        return FreeFull(Pointer, Size, File, Line, DebugFlags);
    // Counted out first, so that the system free ends the call.
    CountUntracked(-1, BlockSize);
    if (__builtin_expect(ThreadCharge != nullptr, 0)) Uncharge(BlockSize);
    SystemFree(BlockStart, BlockStart, (size_t)BlockSize, Room);
    return nullptr;
}

int32 Memory_ValidateInt(void *Pointer, int32 Size, const char *File, int32 Line) {
    if (Size < 1) Debug_AbortInt(File, Line, "Invalid Memory Size (%d)\n", Size);
    if (Pointer == nullptr)
        Debug_AbortInt(File, Line, "No Memory address to free (%d / %d)\n", Size, Saturate(BlockSizeOf(Size)));
    uint8 *BlockStart = (uint8 *)Pointer - MEMORY_GUARD_SIZE;
    MemoryStateStruct *State = GlobalMemory;
    if (TrackingOn(State)) {
        bool All;
        Shard *Of = LockRecord(State, RecordOf(BlockStart), 0, &All);
        Memory_TrackerCheck(RecordOf(BlockStart), BlockStart, Size, File, Line);
        UnlockRecord(State, Of, All);
    }
    Memory_SentinelCheck(1, BlockStart, Size, File, Line);
    return 1;
}

int32 Memory_TrackerCheck(void *RecordAddress, void *BlockStart, int32 Size, const char *File, int32 Line) {
    MemoryStateStruct *State = GlobalMemory;
    if (!TrackingOn(State)) return 1;
    MemoryTrackerStruct *Record = (MemoryTrackerStruct *)RecordAddress;
    // Addresses are checked before anything behind them is read.
    if (!Inside(State, Record)) {
        Memory_Dump();
        Debug_Abort("Tracker invalid address <0x%p>\n", (void *)Record);
    }
    if (Record->Next != nullptr && !Inside(State, Record->Next)) {
        Memory_Dump();
        Debug_Abort("Tracker next invalid address <0x%p->0x%p>\n", (void *)Record, (void *)Record->Next);
    }
    if (Record->Prev != nullptr && !Inside(State, Record->Prev)) {
        Memory_Dump();
        Debug_Abort("Tracker prev invalid address <0x%p->0x%p>\n", (void *)Record, (void *)Record->Prev);
    }
    if (!Inside(State, Record->BlockStart)) {
        Memory_Dump();
        Debug_Abort("Tracker pointer invalid address <0x%p->0x%p>\n", (void *)Record, (void *)Record->BlockStart);
    }
    if (Record->Next != nullptr && Record->Next->Prev != Record) {
        Memory_Dump();
        Debug_AbortInt(File, Line, "Tracker next invalid link <0x%p->0x%p->0x%p>\n", (void *)Record,
                       (void *)Record->Next, (void *)Record->Next->Prev);
    }
    if (Record->Prev != nullptr && Record->Prev->Next != Record) {
        Memory_Dump();
        Debug_AbortInt(File, Line, "Tracker prev invalid link <0x%p->0x%p->0x%p>\n", (void *)Record,
                       (void *)Record->Prev, (void *)Record->Prev->Next);
    }
    if (Record->Size != Size || Record->BlockStart != (uint8 *)BlockStart) {
        Memory_Dump();
        Debug_AbortInt(File, Line, "Memory tracking mismatch (%d / %d) [0x%p / 0x%p]\n", Size, Record->Size, BlockStart,
                       (void *)Record->BlockStart);
    }
    return 1;
}

int32 Memory_SentinelCheck(int32 Fatal, void *BlockStartAddress, int32 Size, const char *File, int32 Line) {
    Debug_CheckPointer(BlockStartAddress);
    if (Size < 1) Debug_AbortInt(File, Line, "Invalid Memory Size (%d)\n", Size);
    uint8 *BlockStart = (uint8 *)BlockStartAddress;
    int64 BlockSize = BlockSizeOf(Size);
    MemoryStateStruct *State = GlobalMemory;
    bool Tracking = TrackingOn(State);
    if (Tracking &&
        (!Inside(State, BlockStart) || BlockStart + Size > __atomic_load_n(&State->Highest, __ATOMIC_RELAXED)))
        Debug_AbortInt(File, Line, "Invalid memory address (%d) <From:0x%p To:0x%p>\n", Size, (void *)BlockStart,
                       (void *)(BlockStart + Size));

    // Bytes past the system allocation count as damaged without being read.
    uint8 *System = Tracking ? BlockStart - MEMORY_TRACKER_SIZE : BlockStart;
    if (GuardsIntact(System, BlockStart, BlockSize)) return 1;
    const uint8 *End = System + UsableSize(System);
    const uint8 *Trailing = BlockStart + BlockSize - MEMORY_GUARD_SIZE;

    // Damaged: count the bytes that differ, for the report.
    uint8 Guard[MEMORY_GUARD_SIZE];
    MakeGuard(BlockStart, Guard);
    int32 Before = 0, After = 0;
    for (int32 i = 0; i < MEMORY_GUARD_SIZE; i++) {
        if (BlockStart[i] != Guard[i]) Before++;
        if (Trailing + i >= End || Trailing[i] != Guard[i]) After++;
    }
    if (Before == 0 && After == 0) return 1;

    void *Address = BlockStart + MEMORY_GUARD_SIZE;
    Log_PrintInt(LOG_DEBUG, File, Line, 0, "Memory corrupt (%d) <Addr:0x%p Before:%d After:%d Max:%d>\n", Size, Address,
                 Before, After, MEMORY_GUARD_SIZE);
    LogBytes("Expected:", Guard, MEMORY_GUARD_SIZE, File, Line);
    if (Before > 0) LogBytes("Prior corruption:", BlockStart, PriorDumpBytes, File, Line);
    if (After > 0) {
        int64 Readable = End > Trailing ? End - Trailing : 0;
        LogBytes("After corruption:", Trailing, (int32)std::min<int64>(Readable, MEMORY_GUARD_SIZE), File, Line);
    }
    if (Fatal)
        Debug_AbortInt(File, Line, "Memory corrupt (%d) <Addr:0x%p Before:%d After:%d Max:%d>\n", Size, Address, Before,
                       After, MEMORY_GUARD_SIZE);
    return 0;
}

int32 Memory_Check(const char *Label) {
    MemoryStateStruct *State = GlobalMemory;
    if (!TrackingOn(State)) {
        Log_PrintInt(LOG_DEBUG, __FILE__, __LINE__, 0, "Memory tracking was not enabled\n");
        return 0;
    }
    bool Labelled = Label != nullptr && Label[0] != 0;
    if (Labelled) Log_PrintInt(LOG_DEBUG, __FILE__, __LINE__, 0, "Checking Memory at %s...\n", Label);

    LockAll(State);
    int32 Failures = 0;
    int64 Records = 0;
    ForEachRecord([&](MemoryTrackerStruct *Record) {
        Memory_TrackerCheck(Record, Record->BlockStart, Record->Size, Record->File, (int32)Record->Line);
        if (!Memory_SentinelCheck(0, Record->BlockStart, Record->Size, Record->File, (int32)Record->Line)) Failures++;
        Records++;
    });
    if (Failures > 0) {
        Memory_Dump();
        Debug_Abort("Failure in internal memory check (%d blocks failed)\n", Failures);
    }
    // With every list locked the batches come in whole, so the count is
    // exact.
    for (Shard &Of : Shards) BringIn(State, Of);
    int64 Allocations = LoadRelaxed(State->Allocations);
    if (Allocations != Records)
        Debug_Abort("Check mismatch of allocation count (%d != %d)\n", Saturate(Allocations), Saturate(Records));
    UnlockAll(State);

    if (Labelled)
        Log_PrintInt(LOG_DEBUG, __FILE__, __LINE__, 0, "All memory appears to be correct (%d allocs verified).\n",
                     Saturate(Allocations));
    return 1;
}

int32 Memory_Dump(void) {
    MemoryStateStruct *State = GlobalMemory;
    if (!TrackingOn(State)) return 1;
    LockAll(State);
    DumpRecords();
    UnlockAll(State);
    return 1;
}

int32 Memory_Report(void) {
    MemoryStateStruct *State = GlobalMemory;
    if (!TrackingOn(State)) return 1;
    LockAll(State);
    for (Shard &Of : Shards) BringIn(State, Of);
    float64 MaxBytes = (float64)LoadRelaxed(State->MaxBytes), Bytes = (float64)LoadRelaxed(State->Bytes);
    int64 MaxAllocations = LoadRelaxed(State->MaxAllocations), Allocations = LoadRelaxed(State->Allocations);
    UnlockAll(State);
    Log_PrintInt(LOG_DEBUG, __FILE__, __LINE__, 0, "Memory usage  -- Maximum (%6.2fm)   Current (%6.2fm)\n",
                 MaxBytes / 1048576.0, Bytes / 1048576.0);
    Log_PrintInt(LOG_DEBUG, __FILE__, __LINE__, 0, "Memory allocs -- Maximum (%7d)   Current (%7d)\n",
                 Saturate(MaxAllocations), Saturate(Allocations));
    return 1;
}

int32 Memory_GetSize(int32 *Size) {
    Debug_CheckPointer(Size);
    MemoryStateStruct *State = GlobalMemory;
    int64 Allocations = 0, Bytes = 0;
    if (State != nullptr) CurrentCounts(State, &Allocations, &Bytes);
    *Size = Saturate(Bytes);
    return 1;
}

int32 Memory_FindPattern(const void *Buffer, int32 Length, const void *Pattern, int32 PatternLength,
                         const void **Found) {
    Debug_CheckPointer(Found);
    *Found = nullptr;
    if (Length < 1 || PatternLength < 1) return 0;
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Pattern);
    const uint8 *Bytes = (const uint8 *)Buffer;
    const uint8 *Wanted = (const uint8 *)Pattern;
    for (int32 i = 0; i < Length; i++) {
        if (Bytes[i] != Wanted[0]) continue;
        int32 j = 1;
        for (; j < PatternLength; j++) {
            // No later start can fit once a comparison runs off the end.
            if (i + j >= Length) return 0;
            if (Bytes[i + j] != Wanted[j]) break;
        }
        if (j == PatternLength) {
            *Found = Bytes + i;
            return 1;
        }
    }
    return 0;
}

int32 Memory_FindByte(const void *Buffer, int32 Length, uint8 Byte, const void **Found) {
    Debug_CheckPointer(Found);
    *Found = nullptr;
    if (Length < 1) return 0;
    Debug_CheckPointer(Buffer);
    *Found = memchr(Buffer, Byte, (size_t)Length);
    return *Found != nullptr;
}

int32 Memory_CryptFill(void *Buffer, int32 Length) {
    if (Length < 1) return 1;
    Debug_CheckPointer(Buffer);
    // The platform fills the whole buffer in one call or stops the process.
    if (!Platform_CryptFill(Buffer, Length))
        Debug_Abort("Assertion failed (Size > 0)\nCrypt unable to fill buffer (%d:%d)", Length, 0);
    return 1;
}

int32 Memory_Init(int32 Tracking) {
    static MemoryStateStruct State;
    Debug_Assert(GlobalMemory == NULL, "Memory already initialized");
    memset(&State, 0, sizeof(State));
    State.Tracking = Tracking ? 1 : 0;
    // The lock is made before the state is published, so its own block is
    // neither counted nor tracked and Memory_Remove may free it afterwards.
    CriticalSection_Create(&State.Lock);
    Debug_Assert(State.Lock != NULL, "Unable to create the memory lock");
    // Counts and lists left from an earlier state (blocks it never saw
    // freed) go; which thread owns which shard stays.
    for (Shard &Of : Shards) {
        StoreRelaxed(Of.Allocations, (int64)0);
        StoreRelaxed(Of.Bytes, (int64)0);
        Of.Head = nullptr;
    }
    Hot.Tracking = State.Tracking == 1;
    StoreRelaxed(StampingShard, 0u);
    static const bool HeaderSizes = HeaderRuleHolds();
    Hot.HeaderSizes = HeaderSizes;
    SetRetaining(RetainBound());
    StartHeapFill();
    __atomic_store_n(&Hot.State, &State, __ATOMIC_RELEASE);
    Hot.Plain = !Hot.Tracking;
    __atomic_store_n(&GlobalMemory, &State, __ATOMIC_RELEASE);
    return 1;
}

int32 Memory_Remove(void) {
    MemoryStateStruct *State = GlobalMemory;
    if (State == nullptr) return 0;
    // A thread still ending cannot change a list or a count under the report.
    for (Shard &Of : Shards) LockShard(Of);
    int64 Allocations = 0, Bytes = 0;
    CurrentCounts(State, &Allocations, &Bytes);
    __atomic_store_n(&GlobalMemory, (MemoryStateStruct *)nullptr, __ATOMIC_RELEASE);
    Hot.Plain = false;
    __atomic_store_n(&Hot.State, (MemoryStateStruct *)nullptr, __ATOMIC_RELEASE);
    Hot.Tracking = false;
    CriticalSection_Delete(&State->Lock);

    if (State->Tracking == 1)
        Log_PrintInt(LOG_DEBUG, __FILE__, __LINE__, 0, "Maximum Memory in use (%d / %dk)\n",
                     Saturate(State->MaxAllocations), Saturate(State->MaxBytes >> 10));
    if (Bytes != 0) {
        Log_PrintInt(LOG_WARNING, __FILE__, __LINE__, 0, "Not all memory was free'd (%d / %db)\n",
                     Saturate(Allocations), Saturate(Bytes));
        if (State->Tracking == 1) DumpRecords();
    }
    for (Shard &Of : Shards) UnlockShard(Of);
    SetRetaining(0);
    StopHeapFill();
    return 1;
}

int32 Memory_SetThrowWhenExhausted(int32 Flag, const volatile int32 *Stop) {
    const bool Was = ThrowWhenExhausted;
    ThrowWhenExhausted = Flag != 0;
    ThreadStop = Flag != 0 ? Stop : nullptr;
    return Was ? TRUE : FALSE;
}

int32 Memory_SetThreadCharge(MemoryCharge *Account) {
    ThreadCharge = Account;
    return TRUE;
}

int32 MemoryBudget_Take(int64 Bytes) {
    if (Bytes < 0) return FALSE;
    if (BudgetUsed.fetch_add(Bytes) + Bytes > BudgetLimit.load(std::memory_order_relaxed)) {
        BudgetUsed.fetch_sub(Bytes);
        BudgetRefusals.fetch_add(1);
        return FALSE;
    }
    return TRUE;
}

int32 MemoryBudget_Give(int64 Bytes) {
    BudgetUsed.fetch_sub(Bytes);
    return TRUE;
}

int64 MemoryBudget_GetUsed(void) { return BudgetUsed.load(); }

int64 MemoryBudget_GetLimit(void) { return BudgetLimit.load(); }

int64 MemoryBudget_GetRefusedCount(void) { return BudgetRefusals.load(); }

int32 MemoryBudget_SetLimit(int64 Bytes) {
    if (Bytes < 1) return FALSE;
    BudgetLimit.store(Bytes);
    return TRUE;
}
