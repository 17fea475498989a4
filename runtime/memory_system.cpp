// The system heap behind the allocator's blocks: the room of a system
// allocation, the large allocations kept for reuse and the release of the
// small kept ones and the filling of the grown heap. The inline front (small
// requests and their keep, the room) is in memory_internal.h.
//
// Invariants:
// - What is kept lies outside every count, check and report: a block counts
//   from its allocation to its free, whichever system allocation backs it.
// - The cache's list and byte total change only under its lock; its count is
//   read without the lock only to pass an empty cache by.
// - Nothing is kept outside Memory_Init..Memory_Remove (the bound is 0), and
//   a kept block's leading guard is cleared, so a second free of it stops as
//   a damaged block instead of handing it out twice.
#include <errno.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "runtime/memory_internal.h"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace MemoryInt {

bool HeaderRuleHolds() {
#if defined(MEMORY_FOREIGN_HEAP)
    return false;
#else
    for (size_t Size : {1u, 24u, 100u, 1000u, 5000u, 70000u, 300000u, 3000000u}) {
        uint8 *Probe = static_cast<uint8 *>(malloc(Size));
        if (Probe == nullptr) return false;
        const bool Same = HeaderRoom(Probe) == malloc_usable_size(Probe);
        free(Probe);
        if (!Same) return false;
    }
    return true;
#endif
}

namespace {

// ---- Large system allocations kept for reuse ----
//
// A freed system allocation of RetainMinBytes or more is kept for a later
// request of a fitting size instead of going back to the system. A large
// tree's pool slabs are freed whole by a reset and made again by the next
// load; given back, every page of them was unmapped or trimmed, then faulted
// in and cleared by the kernel again, which took about a third of the time of
// loading a large document. At most RetainMostBytes, and no more than a
// RetainShareOfMemory-th of the machine's memory, are kept, the oldest going
// back first; Memory_Remove gives back all. Past RetainResidentBytes, a kept
// mapping is left to the kernel to take back under memory pressure (its
// pages after the first, which holds the header): written again before that
// they are simply kept, taken they come back as zeros. So a host that once
// loaded a 50 MB document does not hold all of it resident for good, and a
// second such load still finds most of its pages. Builds with AddressSanitizer
// keep nothing, so that it sees every free.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MEMORY_NO_RETAIN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define MEMORY_NO_RETAIN 1
#endif

constexpr size_t RetainMostBytes = (size_t)1024 << 20;
// Builds that keep nothing (MEMORY_NO_RETAIN) use neither this nor LetKernelTake.
[[maybe_unused]] constexpr size_t RetainResidentBytes = (size_t)256 << 20;
constexpr size_t RetainShareOfMemory = 16;
constexpr uint32 RetainSlots = 128;

struct RetainedBlock {
    uint8 *System;
    size_t Room; // usable bytes of the system allocation
};

struct RetainCache {
    pthread_mutex_t Lock = PTHREAD_MUTEX_INITIALIZER;
    size_t Bound = 0; // 0 outside Memory_Init..Memory_Remove: nothing is kept
    size_t Bytes = 0;
    uint32 Count = 0; // read without the lock only to pass an empty cache by
    RetainedBlock Blocks[RetainSlots]; // oldest first
};
RetainCache Retained;

void ReleaseSystem(uint8 *System);
[[maybe_unused]] void LetKernelTake(uint8 *System);

// Under the lock.
void DropRetained(uint32 Index) {
    Retained.Bytes -= Retained.Blocks[Index].Room;
    std::copy(Retained.Blocks + Index + 1, Retained.Blocks + Retained.Count, Retained.Blocks + Index);
    StoreRelaxed(Retained.Count, Retained.Count - 1);
}

// The smallest kept allocation with room for Total bytes and at most a
// quarter more, taken out of the cache; null when none fits.
[[gnu::noinline]] uint8 *ReuseRetained(size_t Total) {
    if (LoadRelaxed(Retained.Count) == 0) return nullptr;
    pthread_mutex_lock(&Retained.Lock);
    uint32 Best = Retained.Count;
    for (uint32 i = 0; i < Retained.Count; i++) {
        const size_t Room = Retained.Blocks[i].Room;
        if (Room >= Total && Room - Total <= Total / 4 && (Best == Retained.Count || Room < Retained.Blocks[Best].Room))
            Best = i;
    }
    uint8 *System = nullptr;
    if (Best < Retained.Count) {
        System = Retained.Blocks[Best].System;
        DropRetained(Best);
    }
    pthread_mutex_unlock(&Retained.Lock);
    return System;
}

// Keeps a freed system allocation, the oldest kept ones going back to make
// room; false when it goes back to the system itself.
[[gnu::noinline]] bool Retain(uint8 *System) {
#if defined(MEMORY_NO_RETAIN)
    (void)System;
    return false;
#else
    const size_t Room = UsableSize(System);
    uint8 *Older[RetainSlots];
    uint32 OlderCount = 0;
    pthread_mutex_lock(&Retained.Lock);
    const bool Kept = Room <= Retained.Bound;
    bool Lazy = false;
    if (Kept) {
        while (Retained.Count == RetainSlots || Retained.Bytes + Room > Retained.Bound) {
            Older[OlderCount++] = Retained.Blocks[0].System;
            DropRetained(0);
        }
        Retained.Blocks[Retained.Count] = {System, Room};
        Retained.Bytes += Room;
        Lazy = Retained.Bytes > RetainResidentBytes;
        StoreRelaxed(Retained.Count, Retained.Count + 1);
    }
    pthread_mutex_unlock(&Retained.Lock);
    for (uint32 i = 0; i < OlderCount; i++) ReleaseSystem(Older[i]);
    // Another thread may take the block from the cache meanwhile; its pages
    // then read as they were or as zeros, which a plain request allows and a
    // zero-fill request clears anyway.
    if (Lazy) LetKernelTake(System);
    return Kept;
#endif
}

// Large allocations are mapped here on their own rather than by the heap,
// which would place many of them inside its arena: one kept there would hold
// every free byte below it, as the arena gives back only from its top. The
// mapping starts with the two words the heap writes in front of a chunk it
// maps itself (the size with bit 2 set), so the room reads the same way; the
// first word marks the mapping as ours.
#if !defined(MEMORY_FOREIGN_HEAP)
constexpr size_t MapHeaderBytes = 2 * sizeof(size_t);
constexpr size_t MapMarkXor = 0x6d656d6f72794d41ull;

inline size_t MapMark(const uint8 *Base) { return (size_t)(uintptr)Base ^ MapMarkXor; }

uint8 *MapSystem(size_t Total) {
    const size_t Page = 4096, Bytes = (Total + MapHeaderBytes + Page - 1) & ~(Page - 1);
    void *Base = mmap(nullptr, Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (Base == MAP_FAILED) return nullptr;
    size_t *Header = static_cast<size_t *>(Base);
    Header[0] = MapMark(static_cast<uint8 *>(Base));
    Header[1] = Bytes | 2;
    return static_cast<uint8 *>(Base) + MapHeaderBytes;
}

inline bool MappedHere(const uint8 *System) {
    size_t Header[2];
    memcpy(Header, System - MapHeaderBytes, sizeof(Header));
    return (Header[1] & 2) != 0 && Header[0] == MapMark(System - MapHeaderBytes);
}

inline size_t MappedBytes(const uint8 *System) {
    size_t Size;
    memcpy(&Size, System - sizeof(size_t), sizeof(Size));
    return Size & ~(size_t)7;
}

void UnmapSystem(uint8 *System) { munmap(System - MapHeaderBytes, MappedBytes(System)); }
#endif

[[maybe_unused]] void LetKernelTake(uint8 *System) {
#if !defined(MEMORY_FOREIGN_HEAP)
    constexpr size_t Page = 4096;
    if (!Hot.HeaderSizes || !MappedHere(System)) return;
    if (const size_t Bytes = MappedBytes(System); Bytes > Page)
        madvise(System - MapHeaderBytes + Page, Bytes - Page, MADV_FREE);
#else
    (void)System;
#endif
}

// Gives an allocation back to where it came from.
void ReleaseSystem(uint8 *System) {
#if !defined(MEMORY_FOREIGN_HEAP)
    if (Hot.HeaderSizes && MappedHere(System)) return UnmapSystem(System);
#endif
    free(System);
}

} // namespace

SmallKeep Keep = {};
uintptr KeepOwner = 0;

void DropKept() {
    for (uint32 Class = 0; Class < KeepClasses; Class++) {
        while (KeptAllocation *Kept = Keep.Head[Class]) {
            Keep.Head[Class] = Kept->Next;
            free(Kept);
        }
        Keep.Count[Class] = 0;
    }
    Keep.Bytes = 0;
}

// A kept allocation where one fits.
uint8 *SystemAllocLarge(size_t Total, bool Zero) {
    if (uint8 *System = ReuseRetained(Total)) return Zero ? static_cast<uint8 *>(memset(System, 0, Total)) : System;
#if !defined(MEMORY_FOREIGN_HEAP)
    if (Hot.HeaderSizes) return MapSystem(Total); // fresh pages read as zeros
#endif
    return static_cast<uint8 *>(Zero ? calloc(1, Total) : malloc(Total));
}

// A kept block's leading guard is cleared first, so that a second free of
// it stops as a damaged block instead of handing it out twice.
void SystemFreeLarge(uint8 *System, uint8 *BlockStart) {
    memset(BlockStart, 0, MEMORY_GUARD_SIZE);
    if (Retain(System)) return;
    return ReleaseSystem(System);
}

void SetRetaining(size_t Bound) {
#if !defined(MEMORY_FOREIGN_HEAP)
    // A state removed by another thread leaves the kept allocations to the
    // next keeping thread, which alone may touch them.
    if (Bound == 0 && KeepingHere()) DropKept();
    __atomic_store_n(&KeepOwner, Bound != 0 ? (uintptr)&ThreadMark : (uintptr)0, __ATOMIC_RELAXED);
#endif
    uint8 *Kept[RetainSlots];
    uint32 KeptCount = 0;
    pthread_mutex_lock(&Retained.Lock);
    Retained.Bound = Bound;
    for (; Retained.Count > 0; KeptCount++) {
        Kept[KeptCount] = Retained.Blocks[0].System;
        DropRetained(0);
    }
    pthread_mutex_unlock(&Retained.Lock);
    for (uint32 i = 0; i < KeptCount; i++) ReleaseSystem(Kept[i]);
}

// ---- Filling the grown heap ----
//
// The heap grows at its top (brk), and each 4 KB page of a growth costs a
// fault on its first touch: at two pages a task, those faults took a fifth
// of a large workflow's time on a virtual machine. While the runtime lives
// the heap grows by at least FillStep, and the allocation that finds a
// growth fills the rest of it with pages in one call. Filling only brings in
// the zeroed pages the first touches would have brought; no content
// changes, and a kernel that cannot fill (before Linux 5.14) leaves the heap
// as it was.
//
// A fixed top pad also fixes the C library's mapping threshold, which it
// otherwise raises to the largest mapped chunk freed; it is set once to the
// size from which the allocator maps blocks itself, so that requests below
// it come from the heap as they would once raised. Memory_Remove sets the C
// library's own top pad again.
namespace {

[[maybe_unused]] constexpr size_t LibraryTopPad = (size_t)128 << 10; // the C library's own
[[maybe_unused]] constexpr size_t FillStep = (size_t)1 << 20;

struct HeapFillState {
    pthread_mutex_t Lock = PTHREAD_MUTEX_INITIALIZER;
    bool Probed = false;
    bool Works = false; // the kernel fills a range on request
    bool PadSet = false;
    uintptr Page = 0;
};
HeapFillState Fill;

[[maybe_unused]] bool KernelFills() {
    void *Probe = mmap(nullptr, Fill.Page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (Probe == MAP_FAILED) return false;
    const bool Works = madvise(Probe, Fill.Page, MADV_POPULATE_WRITE) == 0;
    munmap(Probe, Fill.Page);
    return Works;
}

} // namespace

[[gnu::noinline]] void FillGrownHeap(uint8 *BlockEnd) {
#if !defined(MEMORY_FOREIGN_HEAP)
    // A thread filling already fills this growth too; and a child forked
    // while another thread filled must never wait for it.
    if (pthread_mutex_trylock(&Fill.Lock) != 0) return;
    const uintptr Filled = LoadRelaxed(Hot.HeapFilled), End = (uintptr)BlockEnd;
    if (Filled != HeapFillOff && End > Filled) {
        const uintptr Top = (uintptr)sbrk(0);
        if (End > Top) {
            // Not from the heap's top: the heap is no longer one piece.
            StoreRelaxed(Hot.HeapFilled, HeapFillOff);
        } else {
            // The block itself is in use already; the rest is the free top.
            // A refusal is no failure of the allocation: errno stays.
            const uintptr From = (End + Fill.Page - 1) & ~(Fill.Page - 1);
            const int Before = errno;
            if (Top > From && madvise(reinterpret_cast<void *>(From), Top - From, MADV_POPULATE_WRITE) != 0 &&
                errno == EINVAL)
                Fill.Works = false;
            errno = Before;
            StoreRelaxed(Hot.HeapFilled, Fill.Works ? Top : HeapFillOff);
        }
    }
    pthread_mutex_unlock(&Fill.Lock);
#else
    (void)BlockEnd;
#endif
}

void StartHeapFill() {
#if !defined(MEMORY_FOREIGN_HEAP)
    if (!Hot.HeaderSizes) return;
    pthread_mutex_lock(&Fill.Lock);
    if (!Fill.Probed) {
        Fill.Probed = true;
        Fill.Page = (uintptr)sysconf(_SC_PAGESIZE);
        Fill.Works = KernelFills();
        if (Fill.Works) mallopt(M_MMAP_THRESHOLD, (int)RetainMinBytes);
    }
    if (Fill.Works) {
        if (!Fill.PadSet) Fill.PadSet = mallopt(M_TOP_PAD, (int)FillStep) == 1;
        StoreRelaxed(Hot.HeapFilled, (uintptr)sbrk(0));
    }
    pthread_mutex_unlock(&Fill.Lock);
#endif
}

void StopHeapFill() {
#if !defined(MEMORY_FOREIGN_HEAP)
    pthread_mutex_lock(&Fill.Lock);
    StoreRelaxed(Hot.HeapFilled, HeapFillOff);
    if (Fill.PadSet && mallopt(M_TOP_PAD, (int)LibraryTopPad) == 1) Fill.PadSet = false;
    pthread_mutex_unlock(&Fill.Lock);
#endif
}

size_t RetainBound() {
    const long Pages = sysconf(_SC_PHYS_PAGES), PageBytes = sysconf(_SC_PAGESIZE);
    if (Pages <= 0 || PageBytes <= 0) return RetainMinBytes;
    return std::min(RetainMostBytes, (size_t)Pages / RetainShareOfMemory * (size_t)PageBytes);
}

} // namespace MemoryInt

int64 MemoryInt_RetainedBytes(void) {
    using namespace MemoryInt;
    pthread_mutex_lock(&Retained.Lock);
    const int64 Bytes = (int64)Retained.Bytes;
    pthread_mutex_unlock(&Retained.Lock);
    return Bytes;
}
