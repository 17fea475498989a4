// The pool's record and its fixed-mode descriptors, for pool.cpp and for
// owners that take and give back many records in a row (a Dictionary being
// built or emptied): their common allocation and free are inline here.
// Everyone else uses runtime/containers/pool.h.
#pragma once

#include "runtime/class.h"
#include "runtime/containers/pool.h"

// A chunk of texts (or, from before string mode was turned off, records).
// The header starts the chunk's bytes, so it is its own base address.
struct PoolChunk {
    uint8 *Cursor;       // string chunks: next free byte; fixed chunks: the end
    PoolChunk *Next;     // newest first
    uint32 Size;         // bytes of the chunk
    uint32 Slot : 31;    // string chunks: place in the pool's room index
    uint32 FromSlab : 1; // 1 when carved from a slab, 0 for an allocation of its own
};

struct PoolSlab;

namespace poolint {

// Descriptor states: distinct words, so that stray bytes rarely look like either.
constexpr uint32 DescriptorHandedOut = 0x7e11a5ed;
constexpr uint32 DescriptorFree = 0x0f7eeb10;
// A string request reserves this much more than it asks for.
constexpr int64 StringPoolExtra = 4;

// The record follows its descriptor directly, so its address is implied.
// While the record is handed out the first word names its holder's source
// file; while it is free, the next free descriptor. The state word mixes in
// the owning pool, so a record of another pool does not pass as this one's.
struct PoolDescriptor {
    union {
        const char *File;     // handed out: the current holder's source location
        PoolDescriptor *Next; // free: the free-list link
    };
    uint32 Line;
    uint32 State;
};
static_assert(sizeof(PoolDescriptor) == 16, "records behind descriptors stay 16-byte aligned");

constexpr uint64 RoundUp16(uint64 Value) { return (Value + 15) & ~uint64(15); }
// Bytes from one fixed-mode descriptor to the next.
constexpr uint64 RecordStride(uint32 RecordSize) { return sizeof(PoolDescriptor) + RoundUp16(RecordSize); }

inline uint8 *DescriptorRecord(PoolDescriptor *Descriptor) { return reinterpret_cast<uint8 *>(Descriptor + 1); }

// A state word mixed with the descriptor's own address and its pool: a copy
// of a descriptor elsewhere (a record holding pool-like bytes) or a record of
// another pool does not pass.
inline uint32 StateWord(const PoolDescriptor *Descriptor, const Pool *Owner, uint32 State) {
    return State ^ (uint32)((uintptr)Descriptor >> 4) ^ ((uint32)((uintptr)Owner >> 4) * 0x9e3779b1u);
}

} // namespace poolint

struct Pool;
// A pool whose record lives in storage of its owner's (a Dictionary root
// keeps its item pool in its own record): PoolInt_Init makes the
// record in place as Pool_CreateInt makes a new one, PoolInt_Destroy frees
// what Pool_Delete frees except the record itself. Only the owner's own code
// reaches them.
void PoolInt_Init(Pool *Handle, const char *File, int32 Line);
void PoolInt_Destroy(Pool *Handle);
// PoolInt_Init with the member size, chunk size and zero-on-alloc flag set
// as their setters set them on a new pool.
void PoolInt_InitFixed(Pool *Handle, uint32 MemberSize, uint32 ChunkSize, uint32 ZeroOnAlloc, const char *File,
                       int32 Line);

// Hands an unlocked fixed-mode pool that has no slab yet Area (16-byte
// aligned) as its first slab: PoolInt_LentSlabBytes bytes for exactly one
// chunk of its current shape. The bytes stay the owner's: the pool carves
// its first chunk there, as from a slab of its own, and lets go of the area
// (never frees it) when it drops its chunks, so the owner frees it with its
// own storage after PoolInt_Destroy. False, with nothing changed, when the
// pool cannot take it.
bool PoolInt_LendSlab(Pool *Handle, void *Area, uint64 Bytes);
constexpr uint64 PoolInt_LentSlabHeaderBytes = 32;
constexpr uint64 PoolInt_LentSlabBytes(uint32 MemberSize, uint32 ChunkSize) {
    return PoolInt_LentSlabHeaderBytes + poolint::RecordStride((MemberSize + 7) & ~7u) * ChunkSize;
}
// A pool's slabs double in chunks up to about this many bytes each.
constexpr uint64 PoolInt_SlabTargetBytes = 8 * 1024 * 1024;
// What a fresh fixed-mode pool takes from the general allocator (slack of
// its doubling slabs, their headers and blocks' overhead included) to hold
// Records records.
inline uint64 PoolInt_FixedBytesFor(uint64 Records, uint32 MemberSize, uint32 ChunkSize) {
    const uint64 ChunkBytes = poolint::RecordStride((MemberSize + 7) & ~7u) * ChunkSize;
    constexpr uint64 BlockOverhead = 48; // guards and the system's header
    uint64 Chunks = 1, Total = 0, Held = 0;
    while (Held < Records) {
        const uint64 SlabBytes = PoolInt_LentSlabHeaderBytes + Chunks * ChunkBytes + BlockOverhead;
        if (Chunks * 2 * ChunkBytes > PoolInt_SlabTargetBytes) {
            // Slabs of one size from here on.
            const uint64 Per = Chunks * ChunkSize, Slabs = (Records - Held + Per - 1) / Per;
            return Total + Slabs * SlabBytes;
        }
        Total += SlabBytes;
        Held += Chunks * ChunkSize;
        Chunks *= 2;
    }
    return Total;
}

// What only a pool that has held texts needs: its chunks with headers (string
// chunks, and any left from before string mode was turned off) and the room
// index over its string chunks. Made with the first such chunk and kept until
// the pool is destroyed, so that a fixed-mode pool (every Dictionary root
// has one or two) carries none of it.
struct PoolTexts {
    PoolChunk *Chunks;  // newest first
    uint32 OwnChunks;   // chunks with an allocation of their own
    // The room index of the string chunks. StringChunks[i] is the i-th
    // string chunk made; Room is a max-tree over their unused bytes, leaves
    // at [RoomCapacity, 2 * RoomCapacity), node n the larger of nodes 2n and
    // 2n + 1. Leaves past StringCount hold 0.
    uint32 StringCount;
    PoolChunk **StringChunks;
    uint32 *Room;
    uint32 RoomCapacity;
};

// The record keeps to 128 bytes: every Dictionary root that holds items
// holds one or two. What a fixed-mode take or give reads comes first.
struct Pool {
    uint32 ClassId;
    // The state word of a handed-out record without its descriptor's part:
    // StateWord(Descriptor, this, DescriptorHandedOut) is this ^ (Descriptor >> 4).
    uint32 HandedOutKey;
    poolint::PoolDescriptor *FreeList;
    // The newest fixed chunk's records not yet handed out, from Fresh to
    // FreshEnd in address order: the free list's tail, laid out only when
    // reached.
    uint8 *Fresh;
    uint8 *FreshEnd;
    uint32 MemberSize; // as set
    uint32 RecordSize; // member size rounded up to a multiple of 8
    uint32 ActiveCount;
    uint32 MaximumCount;
    uint8 Takes;       // 1 while PoolInt_TakeRecord may serve the pool (see UpdateTakes)
    uint8 Gives;       // 1 while PoolInt_GiveRecord may (unlocked, silent, fixed mode)
    uint8 TextTakes;   // 1 while PoolInt_TakeText may
    uint8 LockedTakes; // 1 while a fixed-mode pool is locked and silent: one lock around take or give
    uint32 ChunkSize;  // records per chunk
    PoolSlab *Slabs;   // newest first
    uint32 SlabChunks; // chunks the next slab will hold
    uint32 ChunkCount;
    uint32 MemoryInUse;
    uint32 StringMode;
    uint32 DebugMode;
    uint32 ZeroOnAlloc;
    uint32 Verbose;
    uint32 AllowLock;
    void *Lock;       // critical section, made by the first Pool_SetAllowLock
    const char *File; // creator, named in the leak message
    uint32 Line;
    PoolTexts *Texts; // null until the first chunk with a header
};
static_assert(sizeof(Pool) == 128);

// A new fixed chunk for an unlocked fixed-mode pool: its records become the
// fresh ones.
void PoolInt_AddChunk(Pool *Handle, const char *File, int32 Line);

// The take of a fixed-mode record from an unlocked pool whose member size
// Size is: the free list's first record, else the next fresh one (a new
// chunk when none is left), with its descriptor and the counts set.
inline uint8 *PoolInt_TakeFixed(Pool *Handle, int32 Size, const char *File, int32 Line) {
    using namespace poolint;
    PoolDescriptor *Descriptor = Handle->FreeList;
    if (Descriptor != nullptr) {
        Handle->FreeList = Descriptor->Next;
    } else {
        if (Handle->Fresh == Handle->FreshEnd) PoolInt_AddChunk(Handle, File, Line);
        Descriptor = reinterpret_cast<PoolDescriptor *>(Handle->Fresh);
        // The record size is the member size rounded up to 8, here Size's:
        // a caller's constant size makes the stride a constant too.
        Handle->Fresh += RecordStride(((uint32)Size + 7) & ~7u);
    }
    Descriptor->File = File;
    Descriptor->Line = (uint32)Line;
    Descriptor->State = Handle->HandedOutKey ^ (uint32)((uintptr)Descriptor >> 4);
    if (++Handle->ActiveCount > Handle->MaximumCount) Handle->MaximumCount = Handle->ActiveCount;
    return DescriptorRecord(Descriptor);
}

// Pool_Alloc of a fixed-mode record when the pool is unlocked, silent and
// not clearing: the same record, descriptor and counts. Null when the
// request needs Pool_Alloc's whole path (another mode).
inline void *PoolInt_TakeRecord(Pool *Handle, int32 Size, const char *File, int32 Line) {
    if (!Handle->Takes || (uint32)Size != Handle->MemberSize) return nullptr;
    return PoolInt_TakeFixed(Handle, Size, File, Line);
}

// Pool_Free of a fixed-mode record when the pool is unlocked and silent: the
// same checks of size and descriptor, the same free-list order and counts.
// False, with nothing changed, when the free needs Pool_Free's whole path
// (another mode, a null record, or one that is not this pool's to take
// back, which Pool_Free stops on with its report).
inline bool PoolInt_GiveRecord(Pool *Handle, void *Record, int32 Size) {
    using namespace poolint;
    if (!Handle->Gives || Record == nullptr || (uint32)Size != Handle->MemberSize || ((uintptr)Record & 15) != 0)
        return false;
    PoolDescriptor *Descriptor = reinterpret_cast<PoolDescriptor *>(Record) - 1;
    const uint32 Mix = (uint32)((uintptr)Descriptor >> 4);
    if (Descriptor->State != (Handle->HandedOutKey ^ Mix)) return false;
    // The free key is the handed-out one with the other state.
    Descriptor->State = Handle->HandedOutKey ^ Mix ^ DescriptorHandedOut ^ DescriptorFree;
    Descriptor->Next = Handle->FreeList;
    Handle->FreeList = Descriptor;
    if (Handle->ActiveCount) Handle->ActiveCount--;
    return true;
}

// Pool_Alloc, inline where it can be.
inline void *PoolInt_AllocRecord(Pool *Handle, int32 Size, const char *File, int32 Line) {
    void *Record = PoolInt_TakeRecord(Handle, Size, File, Line);
    return Record != nullptr ? Record : Pool_AllocInt(Handle, Size, File, Line);
}
#define PoolInt_Alloc(Handle, Size) PoolInt_AllocRecord((Handle), (Size), __FILE__, __LINE__)

// Pool_Free of Record, inline where it can be.
inline void PoolInt_FreeRecord(Pool *Handle, void *Record, int32 Size, const char *File, int32 Line) {
    if (!PoolInt_GiveRecord(Handle, Record, Size)) Pool_FreeInt(Handle, &Record, Size, File, Line);
}
#define PoolInt_Free(Handle, Record, Size) PoolInt_FreeRecord((Handle), (Record), (Size), __FILE__, __LINE__)

// Pool_Alloc of a text in string mode when the pool is unlocked and silent
// and its newest chunk has the room: the same bump of that chunk's cursor
// (the newest chunk stays out of the room index) and the same counts. Null
// when the request needs Pool_Alloc's whole path.
inline void *PoolInt_TakeText(Pool *Handle, int32 Size) {
    if (!Handle->TextTakes || Size < 0) return nullptr;
    const PoolTexts *Texts = Handle->Texts;
    if (Texts == nullptr || Texts->StringCount == 0) return nullptr;
    PoolChunk *Newest = Texts->StringChunks[Texts->StringCount - 1];
    const int64 Need = Size + poolint::StringPoolExtra;
    if ((int64)(reinterpret_cast<uint8 *>(Newest) + Newest->Size - Newest->Cursor) <= Need) return nullptr;
    uint8 *Text = Newest->Cursor;
    Newest->Cursor += Need;
    if (Handle->ZeroOnAlloc) *Text = 0;
    if (++Handle->ActiveCount > Handle->MaximumCount) Handle->MaximumCount = Handle->ActiveCount;
    return Text;
}
