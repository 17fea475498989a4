// What the allocator's files share: the facts every allocation reads, the
// room of a system allocation, the inline front of the system allocate and
// free, and the shards with their counts and list locks. Only memory.cpp,
// memory_system.cpp and memory_shard.cpp include this header; everyone else
// goes through runtime/memory.h.
//
// What runs on every allocation and free (the room of a block, the test that
// tells a large request from a small one) is inline here, so the split adds
// no call; only large requests go on to memory_system.cpp, and only a
// thread's first count, the shared shard and a contended lock to
// memory_shard.cpp.
#pragma once

#include <malloc.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/memory.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MEMORY_FOREIGN_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(__GLIBC__)
#define MEMORY_FOREIGN_HEAP 1
#endif

// Hidden, so that the position-independent core reaches these names as
// directly as it did file-local ones.
namespace MemoryInt __attribute__((visibility("hidden"))) {

// Read by every allocation and free; written only while no other thread may
// allocate (Memory_Init, Memory_Remove), except HeapFilled, which the rare
// filling of a grown heap moves on (memory_system.cpp).
struct alignas(64) HotFacts {
    MemoryStateStruct *State;
    uintptr HeapFilled; // end of the heap whose pages are in, or HeapFillOff
    bool Tracking;
    bool Plain;       // a state without tracking: the short paths apply
    bool HeaderSizes; // the heap's size words answer like malloc_usable_size
};
extern HotFacts Hot;

template <typename T> T LoadRelaxed(const T &Value) { return __atomic_load_n(&Value, __ATOMIC_RELAXED); }
template <typename T> void StoreRelaxed(T &Value, T New) { __atomic_store_n(&Value, New, __ATOMIC_RELAXED); }

// ---- Room of a system allocation ----

// glibc keeps a chunk's size, its three low bits flags (2: mapped on its
// own), in the word before the address it hands out; the usable room is
// that size less one word, or two for a mapped chunk. Reading it inline
// saves a call on every free. Memory_Init compares the rule with
// malloc_usable_size first, so another heap (preloaded, or a sanitizer's)
// keeps the call.
#if !defined(MEMORY_FOREIGN_HEAP)
inline size_t HeaderRoom(const uint8 *System) {
    size_t Header;
    memcpy(&Header, reinterpret_cast<const void *>((uintptr)System - sizeof(size_t)), sizeof(Header));
    return (Header & ~(size_t)7) - ((Header & 2) ? 2 : 1) * sizeof(size_t);
}
#endif

inline size_t UsableSize(uint8 *System) {
#if !defined(MEMORY_FOREIGN_HEAP)
    if (__builtin_expect(Hot.HeaderSizes, 1)) return HeaderRoom(System);
#endif
    return malloc_usable_size(System);
}

// Whether HeaderRoom answers like malloc_usable_size for this heap.
bool HeaderRuleHolds();

// ---- System allocate and free ----

// Allocations from this size on are large: kept for reuse when freed and
// mapped on their own (memory_system.cpp).
constexpr size_t RetainMinBytes = (size_t)1 << 20;

uint8 *SystemAllocLarge(size_t Total, bool Zero);
void SystemFreeLarge(uint8 *System, uint8 *BlockStart);

// ---- Small allocations kept for the thread that made the memory state ----
//
// A small system allocation (up to KeepMostBytes) that the thread which ran
// Memory_Init frees is kept on a list for its size class (16 bytes wide) and
// handed to that thread's next request of the class. Trees, their pool slabs
// and notification payloads come and go by the thousand with a few sizes on
// that (the main) thread, far more at a time than the C library's own
// per-thread cache holds, and each request it cannot serve there costs a
// walk of its bins. Classes are the C library's own chunk sizes: a request
// of Total bytes needs a chunk of at least Total + 8 rounded up to 16, and a
// freed allocation's usable room (the chunk less 8) says which class it
// serves, so every request of that class fits in it. At most
// KeepPerClass allocations of a class and KeepMostKept bytes in all are kept;
// Memory_Remove gives them back, and nothing is kept outside
// Memory_Init..Memory_Remove. Other threads, whose ends would need a hook
// (one that keeps a loaded library from ever being unmapped), keep nothing.
// Heaps of other makers (sanitizers) see every allocation and free as made.
constexpr size_t KeepMostBytes = 2048;
constexpr uint32 KeepClasses = (KeepMostBytes + 8 + 15) / 16 + 1;
constexpr uint32 KeepPerClass = 64;
constexpr size_t KeepMostKept = (size_t)256 << 10;

struct KeptAllocation {
    KeptAllocation *Next;
};

struct SmallKeep {
    KeptAllocation *Head[KeepClasses];
    uint16 Count[KeepClasses];
    size_t Bytes;
};
// Touched only by the keeping thread.
extern SmallKeep Keep;
// The keeping thread's ThreadMark address, or 0 when nothing is kept.
extern uintptr KeepOwner;

// The class a request of Total bytes takes from, and the class a freed
// allocation of usable Room bytes serves: Room >= 16 * class - 8 >= Total.
inline size_t KeepRequestClass(size_t Total) { return (Total + 8 + 15) >> 4; }
inline size_t KeepRoomClass(size_t Room) { return (Room + 8) >> 4; }
inline size_t KeepRoomOf(size_t Class) { return Class << 4; }
extern constinit thread_local char ThreadMark;
inline bool KeepingHere() { return (uintptr)&ThreadMark == __atomic_load_n(&KeepOwner, __ATOMIC_RELAXED); }

// Gives the kept allocations back to the system; by the keeping thread.
void DropKept();

// ---- Filling the grown heap (memory_system.cpp) ----
//
// A small allocation that ends above the part of the heap already filled,
// but no further above it than HeapFillWindow, finds the heap grown; other
// threads' arenas and the heap's own mappings lie far away and pass by.
// HeapFillOff lies so high that nothing in user space ends above it.
constexpr uintptr HeapFillOff = (uintptr)1 << (sizeof(uintptr) * 8 - 1);
constexpr uintptr HeapFillWindow = (uintptr)1 << (sizeof(uintptr) * 4);

void FillGrownHeap(uint8 *End);
// Between Memory_Init and Memory_Remove, with the C library's own heap.
void StartHeapFill();
void StopHeapFill();

inline uint8 *NoteHeapEnd(uint8 *System, [[maybe_unused]] size_t Total) {
#if !defined(MEMORY_FOREIGN_HEAP)
    if (__builtin_expect((uintptr)System + Total - LoadRelaxed(Hot.HeapFilled) - 1 < HeapFillWindow, 0))
        FillGrownHeap(System + Total);
#endif
    return System;
}

// The system heap behind every block, Total bytes, cleared with Zero.
inline uint8 *SystemAlloc(size_t Total, bool Zero) {
    if (__builtin_expect(Total >= RetainMinBytes, 0)) return SystemAllocLarge(Total, Zero);
#if !defined(MEMORY_FOREIGN_HEAP)
    if (Total <= KeepMostBytes && KeepingHere()) {
        const size_t Class = KeepRequestClass(Total);
        if (KeptAllocation *Kept = Keep.Head[Class]) {
            Keep.Head[Class] = Kept->Next;
            Keep.Count[Class]--;
            Keep.Bytes -= KeepRoomOf(Class);
            uint8 *System = reinterpret_cast<uint8 *>(Kept);
            if (Zero) memset(System, 0, Total);
            return System;
        }
    }
#endif
    return NoteHeapEnd(static_cast<uint8 *>(Zero ? calloc(1, Total) : malloc(Total)), Total);
}

// Gives back the system allocation of Total bytes behind the block that
// starts at BlockStart. Room, when known, is the allocation's usable room
// (UsableSize); a caller that read it already for its guard check passes it
// on instead of having it read again.
inline void SystemFree(uint8 *System, uint8 *BlockStart, size_t Total, [[maybe_unused]] size_t Room = 0) {
    if (__builtin_expect(Total >= RetainMinBytes, 0)) return SystemFreeLarge(System, BlockStart);
#if !defined(MEMORY_FOREIGN_HEAP)
    if (Total <= KeepMostBytes && KeepingHere()) {
        const size_t Class = KeepRoomClass(Room != 0 ? Room : UsableSize(System));
        if (Class < KeepClasses && Keep.Count[Class] < KeepPerClass && Keep.Bytes + KeepRoomOf(Class) <= KeepMostKept) {
            // The leading guard is cleared, so that a second free of the
            // block stops as a damaged block instead of keeping it twice.
            memset(BlockStart + sizeof(KeptAllocation), 0, MEMORY_GUARD_SIZE - sizeof(KeptAllocation));
            KeptAllocation *Kept = reinterpret_cast<KeptAllocation *>(System);
            Kept->Next = Keep.Head[Class];
            Keep.Head[Class] = Kept;
            Keep.Count[Class]++;
            Keep.Bytes += KeepRoomOf(Class);
            return;
        }
    }
#endif
    free(System);
}

// The bound on what is kept for reuse, for this machine.
size_t RetainBound();

// Sets how much may be kept, giving back everything kept so far: the bound
// from Memory_Init, 0 from Memory_Remove.
void SetRetaining(size_t Bound);

// ---- Shards ----
//
// Each thread owns one shard (a cache line of counts and, with tracking, a
// list with its lock); the counting and locking that every allocation does is
// inline here, the rest is in memory_shard.cpp.

constexpr uint32 OwnedShards = 64;
constexpr uint32 SharedShard = OwnedShards; // for threads that found no free shard
constexpr uint32 ShardTotal = OwnedShards + 1;

struct alignas(64) Shard {
    // The list lock: the holding thread's mark, or 0; Depth is touched only
    // by the holder.
    uintptr Holder;
    uint32 Depth;
    uint32 Owned; // 1 while a thread counts here as its own
    // Untracked: the blocks counted here. Tracked: the batch not yet brought
    // into the state's counts.
    int64 Allocations;
    int64 Bytes;
    MemoryTrackerStruct *Head; // newest record of this list
    uint64 LastStamp;
};
extern Shard Shards[ShardTotal];

// Every thread starts on the shared shard and looks for one of its own at its
// first count. Constant-initialized, so that another file reads them as
// directly as their own.
extern constinit thread_local Shard *OwnShard;
extern constinit thread_local bool LookedForShard;
extern constinit thread_local char ThreadMark; // its address marks the thread

inline uint32 IndexOf(const Shard *Of) { return (uint32)(Of - Shards); }

Shard *TakeShard();
void CountShared(int64 Delta, int64 BlockSize);
void LockShardSlowly(Shard &Of, uintptr Self);

// Every list at once, for walks over all records; nests.
void LockAll(MemoryStateStruct *State);
void UnlockAll(MemoryStateStruct *State);

// Moves a shard's batch into the state's counts; under the shard's lock.
void BringIn(MemoryStateStruct *State, Shard &Of);

// Counts of the state: brought-in counts plus every shard's (the whole count
// without tracking, the batches with it).
void CurrentCounts(MemoryStateStruct *State, int64 *Allocations, int64 *Bytes);

inline Shard &MyShard() {
    Shard *Own = OwnShard;
    return *(__builtin_expect(Own != &Shards[SharedShard] || LookedForShard, 1) ? Own : TakeShard());
}

// Adds one untracked block (Delta 1) or takes one away (Delta -1).
inline void CountUntracked(int64 Delta, int64 BlockSize) {
    Shard *Own = OwnShard;
    if (__builtin_expect(Own == &Shards[SharedShard], 0)) return CountShared(Delta, BlockSize);
    StoreRelaxed(Own->Allocations, LoadRelaxed(Own->Allocations) + Delta);
    StoreRelaxed(Own->Bytes, LoadRelaxed(Own->Bytes) + Delta * BlockSize);
}

// A recursive spin lock: one exchange to take it uncontended, one store to
// let it go. Holders keep it for a list update, or for a whole check.
inline void LockShard(Shard &Of) {
    const uintptr Self = (uintptr)&ThreadMark;
    uintptr Free = 0;
    if (__builtin_expect(
            __atomic_compare_exchange_n(&Of.Holder, &Free, Self, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED), 1))
        Of.Depth = 1;
    else
        LockShardSlowly(Of, Self);
}

inline void UnlockShard(Shard &Of) {
    if (--Of.Depth == 0) __atomic_store_n(&Of.Holder, (uintptr)0, __ATOMIC_RELEASE);
}

// Counts one tracked block in (Delta 1) or out (Delta -1) of a shard whose
// lock is held; the maxima follow the counts as they were before a new block.
inline void CountTracked(MemoryStateStruct *State, Shard &Of, int64 Delta, int64 BlockSize) {
    if (Delta > 0) {
        const int64 Allocations = LoadRelaxed(State->Allocations) + Of.Allocations;
        const int64 Bytes = LoadRelaxed(State->Bytes) + Of.Bytes;
        int64 Max = LoadRelaxed(State->MaxAllocations);
        while (Allocations > Max && !__atomic_compare_exchange_n(&State->MaxAllocations, &Max, Allocations, true,
                                                                   __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
        }
        Max = LoadRelaxed(State->MaxBytes);
        while (Bytes > Max &&
               !__atomic_compare_exchange_n(&State->MaxBytes, &Max, Bytes, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
        }
    }
    const int64 Allocations = Of.Allocations + Delta, Bytes = Of.Bytes + Delta * BlockSize;
    StoreRelaxed(Of.Allocations, Allocations);
    StoreRelaxed(Of.Bytes, Bytes);
    if (Allocations >= MEMORY_BATCH_BLOCKS || Allocations <= -MEMORY_BATCH_BLOCKS || Bytes >= MEMORY_BATCH_BYTES ||
        Bytes <= -MEMORY_BATCH_BYTES)
        BringIn(State, Of);
}

} // namespace MemoryInt
