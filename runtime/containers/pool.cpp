// Pool: fixed-size records from chunks with a free list, bump-allocated
// strings, or (debug mode) the general allocator. See pool.h.
//
// Chunk layout (16-byte aligned):
//   fixed:  [descriptor][record][descriptor][record]...
//   string: [chunk header][record area, bump-allocated from the cursor]
// Descriptors are 16 bytes and each record's slot is its size rounded up to
// 16, so every fixed-mode record starts at a 16-byte boundary: records may
// embed fields that need it (a 16-byte compare-and-swap in a callback
// record). A fixed-mode descriptor sits directly in front of its record, so a
// free reaches it in O(1); its state word, mixed with its own address and its
// pool, tells a live record of this pool from a second free (state free) and
// from a pointer the pool never gave out.
//
// Fixed-mode chunks, and string chunks of the usual size, are carved from
// slabs: one allocation from the general allocator holds several chunks of
// one shape, each of exactly its size, so counts, reuse order and limits are
// those of separate chunks while a large pool makes far fewer system
// allocations. The slab names the shape of its fixed chunks, so they carry no
// header; string chunks keep theirs. A pool's slabs double in chunks from
// one, so a pool that needs a single chunk takes exactly that, up to about
// SlabTargetBytes each; they are freed whole when the pool drops its chunks,
// so a reset gives every byte back.
//
// String placement is first fit, newest chunk first. The pool keeps a
// max-tree over the room of its string chunks in the order they were made,
// updated whenever a chunk's cursor moves: the newest chunk with room for a
// text is found in O(log chunks) instead of by walking every older chunk each
// time the newest is full.
#include "runtime/containers/pool.h"
#include "runtime/containers/pool_internal.h"

#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>

#include "runtime/class.h"
#include "runtime/critical_section.h"
#include "runtime/critical_section_internal.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"

using namespace poolint;

namespace {

constexpr uint32 PoolClassId = 0x90654776;
// A null handle or one of another type is a fatal stop, as for every handle.
#define CheckPool(Handle) Class_CheckTag((Handle), ClassId, PoolClassId)
// A string pool whose last string goes back gives its chunks back above this.
constexpr uint32 StringPoolKeepBytes = 10240;

constexpr uint32 ChunkHeaderBytes = (sizeof(PoolChunk) + 15) & ~15u;
static_assert(ChunkHeaderBytes == 32);

constexpr uint64 RoundUp8(uint64 Value) { return (Value + 7) & ~uint64(7); }

// Smallest room index: a string pool of a few chunks never regrows it.
constexpr uint32 RoomIndexMinimum = 16;

} // namespace

// A slab: room for several fixed-mode chunks in one allocation.
// A slab holds chunks of one kind: string chunks, each with its header, or
// fixed chunks of one shape, which need no header of their own since the
// slab names their size, record size and record count.
struct PoolSlab {
    uint8 *Cursor; // where the next chunk is carved
    PoolSlab *Next;
    uint32 Size;        // bytes of the allocation, header included
    uint32 ChunkBytes;  // fixed chunks: bytes of each; 0 for a slab of string chunks
    uint32 RecordSize;  // fixed chunks: the record size they were carved for
    uint32 RecordCount : 31; // fixed chunks: records in each
    uint32 Lent : 1;         // 1 when the bytes are the owner's (PoolInt_LendSlab): never freed here
};
namespace {

// Two lines: a small pool's only slab is mostly header otherwise.
constexpr uint32 SlabHeaderBytes = (sizeof(PoolSlab) + 15) & ~15u;
static_assert(SlabHeaderBytes == 32 && SlabHeaderBytes == PoolInt_LentSlabHeaderBytes);
// Slabs stop doubling once they would hold this many bytes: a large tree
// takes a few dozen allocations instead of one per chunk.
constexpr uint64 SlabTargetBytes = PoolInt_SlabTargetBytes;

// Takes the pool's lock for the scope when the pool asks for locking, with
// the section's inline paths: the notification center's pools are locked on
// every record taken and given back.
struct PoolLock {
    explicit PoolLock(Pool *Handle) : Section(Handle->AllowLock && Handle->Lock ? Handle->Lock : nullptr) {
        if (Section != nullptr) CriticalSectionInt_Lock(Section, __FILE__, __LINE__);
    }
    ~PoolLock() {
        if (Section != nullptr) CriticalSectionInt_Unlock(Section, __FILE__, __LINE__);
    }
    PoolLock(const PoolLock &) = delete;
    PoolLock &operator=(const PoolLock &) = delete;

  private:
    void *Section;
};

uint8 *ChunkBase(PoolChunk *Chunk) { return reinterpret_cast<uint8 *>(Chunk); }
uint8 *ChunkArea(PoolChunk *Chunk) { return ChunkBase(Chunk) + ChunkHeaderBytes; }
uint8 *ChunkEnd(PoolChunk *Chunk) { return ChunkBase(Chunk) + Chunk->Size; }

uint8 *SlabArea(PoolSlab *Slab) { return reinterpret_cast<uint8 *>(Slab) + SlabHeaderBytes; }

// Lays out the descriptors of the fixed chunk at Area, all free, and puts
// them in front of the free list in address order.
void RebuildChunk(Pool *Handle, uint8 *Area, uint32 RecordSize, uint32 RecordCount) {
    const uint64 Stride = RecordStride(RecordSize);
    PoolDescriptor *First = nullptr;
    PoolDescriptor **Link = &First;
    for (uint32 Index = 0; Index < RecordCount; Index++) {
        PoolDescriptor *Descriptor = reinterpret_cast<PoolDescriptor *>(Area + Index * Stride);
        Descriptor->Line = 0;
        Descriptor->State = StateWord(Descriptor, Handle, DescriptorFree);
        *Link = Descriptor;
        Link = &Descriptor->Next;
    }
    *Link = Handle->FreeList;
    Handle->FreeList = First;
}

// Rebuilds every fixed chunk of a slab, newest first, after checking that
// the chunks fill the slab up to its cursor exactly.
void RebuildSlab(Pool *Handle, PoolSlab *Slab) {
    const uint64 Used = (uint64)(Slab->Cursor - SlabArea(Slab));
    const uint64 Stride = RecordStride(Slab->RecordSize);
    if (Stride * Slab->RecordCount != Slab->ChunkBytes || Used % Slab->ChunkBytes != 0)
        Debug_Abort("Pool corrupted (%d != %d) [0x%p 0x%p]\n", (int32)(Stride * Slab->RecordCount),
                    (int32)Slab->ChunkBytes, (void *)SlabArea(Slab), (void *)Slab->Cursor);
    for (uint8 *Chunk = Slab->Cursor; Chunk > SlabArea(Slab);) {
        Chunk -= Slab->ChunkBytes;
        RebuildChunk(Handle, Chunk, Slab->RecordSize, Slab->RecordCount);
    }
}

// Room for one chunk of Bytes from the newest slab, making a new slab
// (attributed to File and Line) when it is full or holds chunks of another
// shape. Fixed chunks give their record size and count; string chunks 0.
uint8 *CarveFromSlab(Pool *Handle, uint64 Bytes, uint32 RecordSize, uint32 RecordCount, const char *File,
                     int32 Line) {
    PoolSlab *Slab = Handle->Slabs;
    const uint32 ChunkBytes = RecordCount != 0 ? (uint32)Bytes : 0;
    if (Slab == nullptr || (uint64)(reinterpret_cast<uint8 *>(Slab) + Slab->Size - Slab->Cursor) < Bytes ||
        Slab->ChunkBytes != ChunkBytes ||
        Slab->RecordSize != RecordSize || Slab->RecordCount != RecordCount) {
        uint64 Chunks = std::max<uint32>(Handle->SlabChunks, 1);
        uint64 SlabBytes = SlabHeaderBytes + Chunks * Bytes;
        if (SlabBytes > INT32_MAX) {
            Chunks = 1;
            SlabBytes = SlabHeaderBytes + Bytes;
        }
        Debug_Assert(SlabBytes <= INT32_MAX, "Pool chunk of %lld bytes is too large\n", (long long)Bytes);
        uint8 *Base = static_cast<uint8 *>(Memory_AllocInt((int32)SlabBytes, MEMORY_FLAG_PLAIN, File, Line));
        Slab = reinterpret_cast<PoolSlab *>(Base);
        Slab->Cursor = Base + SlabHeaderBytes;
        Slab->Size = (uint32)SlabBytes;
        Slab->ChunkBytes = ChunkBytes;
        Slab->RecordSize = RecordSize;
        Slab->RecordCount = RecordCount;
        Slab->Lent = 0;
        Slab->Next = Handle->Slabs;
        Handle->Slabs = Slab;
        if (Chunks * 2 * Bytes <= SlabTargetBytes) Handle->SlabChunks = (uint32)(Chunks * 2);
    }
    uint8 *Base = Slab->Cursor;
    Slab->Cursor += Bytes;
    return Base;
}

// The pool's text state, made when missing: attributed to the pool's creator,
// as pool-wide bookkeeping.
PoolTexts *EnsureTexts(Pool *Handle) {
    if (Handle->Texts == nullptr)
        Handle->Texts = static_cast<PoolTexts *>(
            Memory_AllocInt((int32)sizeof(PoolTexts), MEMORY_FLAG_ZERO, Handle->File, (int32)Handle->Line));
    return Handle->Texts;
}

PoolChunk *AddChunk(Pool *Handle, uint64 AreaBytes, const char *File, int32 Line, bool FromSlab) {
    PoolTexts *Texts = EnsureTexts(Handle);
    const uint64 Bytes = ChunkHeaderBytes + AreaBytes;
    Debug_Assert(Bytes <= INT32_MAX, "Pool chunk of %lld bytes is too large\n", (long long)Bytes);
    uint8 *Base = FromSlab ? CarveFromSlab(Handle, Bytes, 0, 0, File, Line)
                           : static_cast<uint8 *>(Memory_AllocInt((int32)Bytes, MEMORY_FLAG_PLAIN, File, Line));
    PoolChunk *Chunk = reinterpret_cast<PoolChunk *>(Base);
    Chunk->FromSlab = FromSlab ? 1 : 0;
    Chunk->Cursor = ChunkArea(Chunk);
    Chunk->Size = (uint32)Bytes;
    Chunk->Slot = 0;
    Chunk->Next = Texts->Chunks;
    Texts->Chunks = Chunk;
    Handle->ChunkCount++;
    Texts->OwnChunks += FromSlab ? 0 : 1;
    Handle->MemoryInUse += (uint32)Bytes;
    return Chunk;
}

// A fixed chunk has no header: it is its records, carved from a slab of
// chunks of its shape. Its records are handed out in address order as the
// free list's tail; each descriptor is written when its record is first
// taken.
void AddFixedChunk(Pool *Handle, const char *File, int32 Line) {
    Debug_Assert(Handle->ChunkSize > 0, "Pool chunk size must be set before the first allocation\n");
    const uint64 Bytes = RecordStride(Handle->RecordSize) * Handle->ChunkSize;
    Debug_Assert(Bytes <= INT32_MAX, "Pool chunk of %lld bytes is too large\n", (long long)Bytes);
    uint8 *Area = CarveFromSlab(Handle, Bytes, Handle->RecordSize, Handle->ChunkSize, File, Line);
    Handle->ChunkCount++;
    Handle->MemoryInUse += (uint32)Bytes;
    Handle->Fresh = Area;
    Handle->FreshEnd = Area + Bytes;
}

[[gnu::always_inline]] inline void *AllocFixed(Pool *Handle, int32 Size, const char *File, int32 Line) {
    if (Size < 0 || (uint32)Size != Handle->MemberSize)
        Debug_Abort("Invalid pool member size (%d != %d) from (%s/%d)\n", Size, (int32)Handle->MemberSize, File,
                    Line);
    PoolDescriptor *Descriptor = Handle->FreeList;
    if (Descriptor != nullptr) {
        Handle->FreeList = Descriptor->Next;
    } else {
        if (Handle->Fresh == Handle->FreshEnd) AddFixedChunk(Handle, File, Line);
        Descriptor = reinterpret_cast<PoolDescriptor *>(Handle->Fresh);
        Handle->Fresh += RecordStride(Handle->RecordSize);
    }
    Descriptor->File = File;
    Descriptor->Line = (uint32)Line;
    Descriptor->State = StateWord(Descriptor, Handle, DescriptorHandedOut);
    uint8 *Record = DescriptorRecord(Descriptor);
    if (Handle->ZeroOnAlloc) memset(Record, 0, Handle->RecordSize);
    return Record;
}

uint32 ChunkRoom(PoolChunk *Chunk) { return (uint32)(ChunkEnd(Chunk) - Chunk->Cursor); }

bool IsNewestString(const PoolTexts *Texts, const PoolChunk *Chunk) { return (uint32)Chunk->Slot + 1 == Texts->StringCount; }

// Sets a string chunk's leaf to its room and carries the change up the tree.
// The newest chunk is tried first on every request, so it stays out of the
// tree (leaf 0) and its cursor moves without touching it; it enters with its
// room when a newer chunk takes its place.
void UpdateRoom(PoolTexts *Texts, PoolChunk *Chunk) {
    uint32 *Room = Texts->Room;
    uint32 Node = Texts->RoomCapacity + Chunk->Slot;
    Room[Node] = IsNewestString(Texts, Chunk) ? 0 : ChunkRoom(Chunk);
    for (Node >>= 1; Node >= 1; Node >>= 1) {
        const uint32 Larger = std::max(Room[2 * Node], Room[2 * Node + 1]);
        if (Room[Node] == Larger) break;
        Room[Node] = Larger;
    }
}

void FreeRoomIndex(PoolTexts *Texts) {
    if (Texts->Room == nullptr) return;
    Memory_Free(Texts->Room, (int32)(2 * Texts->RoomCapacity * sizeof(uint32)));
    Memory_Free(Texts->StringChunks, (int32)(Texts->RoomCapacity * sizeof(PoolChunk *)));
    Texts->Room = nullptr;
    Texts->StringChunks = nullptr;
    Texts->StringCount = 0;
    Texts->RoomCapacity = 0;
}

// Gives a new string chunk the next leaf, doubling the index when it is full.
void IndexStringChunk(Pool *Handle, PoolChunk *Chunk) {
    PoolTexts *Texts = Handle->Texts;
    if (Texts->StringCount == Texts->RoomCapacity) {
        const uint32 Capacity = std::max(RoomIndexMinimum, 2 * Texts->RoomCapacity);
        Debug_Assert(Capacity <= (uint32)INT32_MAX / (2 * sizeof(PoolChunk *)), "Pool has too many chunks (%u)\n",
                     Texts->StringCount);
        // Pool-wide bookkeeping: attributed to the pool's creator.
        const char *File = Handle->File;
        const int32 Line = (int32)Handle->Line;
        auto *Chunks = static_cast<PoolChunk **>(
            Memory_AllocInt((int32)(Capacity * sizeof(PoolChunk *)), MEMORY_FLAG_PLAIN, File, Line));
        auto *Room = static_cast<uint32 *>(
            Memory_AllocInt((int32)(2 * Capacity * sizeof(uint32)), MEMORY_FLAG_ZERO, File, Line));
        const uint32 Count = Texts->StringCount;
        if (Count) {
            memcpy(Chunks, Texts->StringChunks, Count * sizeof(PoolChunk *));
            memcpy(Room + Capacity, Texts->Room + Texts->RoomCapacity, Count * sizeof(uint32));
        }
        for (uint32 Node = Capacity - 1; Node >= 1; Node--) Room[Node] = std::max(Room[2 * Node], Room[2 * Node + 1]);
        FreeRoomIndex(Texts);
        Texts->StringChunks = Chunks;
        Texts->Room = Room;
        Texts->StringCount = Count;
        Texts->RoomCapacity = Capacity;
    }
    Chunk->Slot = Texts->StringCount++;
    Texts->StringChunks[Chunk->Slot] = Chunk;
    // The chunk it replaces as the newest enters the tree now.
    if (Chunk->Slot > 0) UpdateRoom(Texts, Texts->StringChunks[Chunk->Slot - 1]);
    UpdateRoom(Texts, Chunk);
}

// The newest string chunk whose room is larger than Need, or null: the
// newest itself when it fits, else the rightmost leaf above Need (the tree
// holds every older chunk).
PoolChunk *FindStringChunk(Pool *Handle, int64 Need) {
    const PoolTexts *Texts = Handle->Texts;
    if (Texts == nullptr || Texts->StringCount == 0) return nullptr;
    PoolChunk *Newest = Texts->StringChunks[Texts->StringCount - 1];
    if (ChunkRoom(Newest) > Need) return Newest;
    const uint32 *Room = Texts->Room;
    if (Room[1] <= Need) return nullptr;
    uint32 Node = 1;
    while (Node < Texts->RoomCapacity) Node = Room[2 * Node + 1] > Need ? 2 * Node + 1 : 2 * Node;
    return Texts->StringChunks[Node - Texts->RoomCapacity];
}

void *AllocString(Pool *Handle, int32 Size, const char *File, int32 Line, int64 *Need) {
    Debug_Assert(Size >= 0, "Invalid pool string size (%d) from (%s/%d)\n", Size, File, Line);
    *Need = Size + StringPoolExtra;
    PoolChunk *Chunk = FindStringChunk(Handle, *Need);
    if (Chunk == nullptr) {
        // Chunks of the usual size share slabs; a larger text gets its own.
        const uint64 Usual = (uint64)Handle->ChunkSize * Handle->RecordSize;
        const uint64 Area = std::max<uint64>(Usual, RoundUp8(*Need));
        Chunk = AddChunk(Handle, Area, File, Line, Area == Usual && (Area & 15) == 0);
        IndexStringChunk(Handle, Chunk);
    }
    void *Record = Chunk->Cursor;
    Chunk->Cursor += *Need;
    if (!IsNewestString(Handle->Texts, Chunk)) UpdateRoom(Handle->Texts, Chunk);
    if (Handle->ZeroOnAlloc) *static_cast<uint8 *>(Record) = 0;
    return Record;
}

// Gives a fixed-mode record back; a record this pool does not hold out is a
// fatal stop that names its descriptor when it is a second free.
[[gnu::always_inline]] inline void FreeFixed(Pool *Handle, void *Record, int32 Size, const char *File, int32 Line) {
    if (Size < 0 || (uint32)Size != Handle->MemberSize)
        Debug_Abort("Invalid pool member size (%d != %d) from (%s/%d)\n", Size, (int32)Handle->MemberSize, File,
                    Line);
    PoolDescriptor *Descriptor =
        ((uintptr)Record & 15) == 0 ? reinterpret_cast<PoolDescriptor *>(Record) - 1 : nullptr;
    if (Descriptor == nullptr || Descriptor->State != StateWord(Descriptor, Handle, DescriptorHandedOut)) {
        const bool SecondFree =
            Descriptor != nullptr && Descriptor->State == StateWord(Descriptor, Handle, DescriptorFree);
        Debug_Abort("Unable to find member to free [0x%p] [0x%p]\n", Record,
                    SecondFree ? static_cast<void *>(Descriptor) : nullptr);
    }
    Descriptor->State = StateWord(Descriptor, Handle, DescriptorFree);
    Descriptor->Next = Handle->FreeList;
    Handle->FreeList = Descriptor;
}

// What RemoveAllLocked frees, out of line: a root Dictionary's pools are
// emptied and then destroyed, so most calls find nothing carved.
[[gnu::noinline]] void FreeChunks(Pool *Handle) {
    // Chunks carved from slabs go with their slab; only chunks of their own
    // need the walk.
    if (PoolTexts *Texts = Handle->Texts) {
        for (PoolChunk *Chunk = Texts->Chunks; Chunk != nullptr && Texts->OwnChunks != 0;) {
            PoolChunk *Next = Chunk->Next;
            if (!Chunk->FromSlab) {
                Memory_Free(ChunkBase(Chunk), (int32)Chunk->Size);
                Texts->OwnChunks--;
            }
            Chunk = Next;
        }
        Texts->Chunks = nullptr;
        FreeRoomIndex(Texts);
    }
    while (PoolSlab *Slab = Handle->Slabs) {
        Handle->Slabs = Slab->Next;
        // A lent slab goes with its owner's storage; the pool only lets go of it.
        if (!Slab->Lent) Memory_Free(Slab, (int32)Slab->Size);
    }
}

[[gnu::always_inline]] inline void RemoveAllLocked(Pool *Handle) {
    // Nothing to free when nothing was ever carved, or all of it went already.
    if (Handle->Slabs != nullptr ||
        (Handle->Texts != nullptr && (Handle->Texts->Chunks != nullptr || Handle->Texts->Room != nullptr)))
        FreeChunks(Handle);
    Handle->SlabChunks = 1;
    Handle->ChunkCount = 0;
    Handle->FreeList = nullptr;
    Handle->Fresh = Handle->FreshEnd = nullptr;
    Handle->MemoryInUse = 0;
    Handle->ActiveCount = 0;
    Handle->MaximumCount = 0;
}

void ResetLocked(Pool *Handle) {
    if (Handle->StringMode) {
        RemoveAllLocked(Handle);
        return;
    }
    Handle->FreeList = nullptr;
    Handle->Fresh = Handle->FreshEnd = nullptr;
    for (PoolSlab *Slab = Handle->Slabs; Slab; Slab = Slab->Next)
        if (Slab->ChunkBytes != 0) RebuildSlab(Handle, Slab);
    // String chunks left from before string mode was turned off.
    if (PoolTexts *Texts = Handle->Texts)
        for (PoolChunk *Chunk = Texts->Chunks; Chunk; Chunk = Chunk->Next) {
            Chunk->Cursor = ChunkArea(Chunk);
            UpdateRoom(Texts, Chunk);
        }
    Handle->ActiveCount = 0;
    Handle->MaximumCount = 0;
}

// Whether PoolInt_TakeRecord may serve the pool (unlocked, silent, fixed
// mode and not clearing), whether PoolInt_GiveRecord may (the same, cleared
// or not), whether PoolInt_TakeText may (unlocked, silent, string mode), and
// whether a fixed-mode pool that locks needs nothing but its lock around a
// take or a give.
[[gnu::always_inline]] inline void UpdateTakes(Pool *Handle) {
    const uint32 Fixed = (Handle->DebugMode | Handle->StringMode | Handle->Verbose) == 0;
    Handle->Takes = Fixed && (Handle->AllowLock | Handle->ZeroOnAlloc) == 0;
    Handle->Gives = Fixed && Handle->AllowLock == 0;
    Handle->LockedTakes = Fixed && Handle->AllowLock != 0 && Handle->Lock != nullptr;
    Handle->TextTakes = Handle->StringMode && (Handle->AllowLock | Handle->DebugMode | Handle->Verbose) == 0;
}

// The field is named by member pointer, so the handle is checked before
// anything is read through it.
template <typename Value> int32 GetField(Pool *Handle, Value Pool::*Field, Value *Output) {
    CheckPool(Handle);
    Debug_CheckPointer(Output);
    *Output = Handle->*Field;
    return TRUE;
}

} // namespace

namespace {

// A new pool record, zeroed with the given clearing and without taking its
// modes into account yet. Dictionaries make one or two for every root, so
// the record is cleared with a fixed run of stores rather than a string
// instruction, whose start-up costs more than the stores themselves here.
[[gnu::always_inline]] inline void InitRecord(Pool *Handle, uint32 ZeroOnAlloc, const char *File, int32 Line) {
#if defined(__SSE2__)
    static_assert(sizeof(Pool) % 8 == 0);
    uint8 *Bytes = reinterpret_cast<uint8 *>(Handle);
    size_t At = 0;
#pragma GCC unroll 16
    for (; At + 16 <= sizeof(Pool); At += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(Bytes + At), _mm_setzero_si128());
    if (At < sizeof(Pool)) _mm_storel_epi64(reinterpret_cast<__m128i *>(Bytes + At), _mm_setzero_si128());
#else
    memset(static_cast<void *>(Handle), 0, sizeof(Pool));
#endif
    Handle->ClassId = PoolClassId;
    Handle->ZeroOnAlloc = ZeroOnAlloc;
    Handle->HandedOutKey = StateWord(nullptr, Handle, DescriptorHandedOut);
    Handle->File = File;
    Handle->Line = (uint32)Line;
}

} // namespace

void PoolInt_Init(Pool *Handle, const char *File, int32 Line) {
    InitRecord(Handle, 1, File, Line);
    UpdateTakes(Handle);
}

void PoolInt_InitFixed(Pool *Handle, uint32 MemberSize, uint32 ChunkSize, uint32 ZeroOnAlloc, const char *File,
                       int32 Line) {
    const uint64 Rounded = RoundUp8(MemberSize);
    Debug_Assert(Rounded <= INT32_MAX, "Pool member size too large (%u)\n", MemberSize);
    InitRecord(Handle, ZeroOnAlloc, File, Line);
    Handle->MemberSize = MemberSize;
    Handle->RecordSize = (uint32)Rounded;
    Handle->ChunkSize = ChunkSize;
    UpdateTakes(Handle);
}

bool PoolInt_LendSlab(Pool *Handle, void *Area, uint64 Bytes) {
    CheckPool(Handle);
    const uint64 ChunkBytes = RecordStride(Handle->RecordSize) * Handle->ChunkSize;
    if (Handle->Slabs != nullptr || Handle->ChunkSize == 0 || (Handle->StringMode | Handle->DebugMode) != 0 ||
        ((uintptr)Area & 15) != 0 || Bytes != SlabHeaderBytes + ChunkBytes || Bytes > INT32_MAX)
        return false;
    PoolSlab *Slab = static_cast<PoolSlab *>(Area);
    Slab->Cursor = SlabArea(Slab);
    Slab->Next = nullptr;
    Slab->Size = (uint32)Bytes;
    Slab->ChunkBytes = (uint32)ChunkBytes;
    Slab->RecordSize = Handle->RecordSize;
    Slab->RecordCount = Handle->ChunkSize;
    Slab->Lent = 1;
    Handle->Slabs = Slab;
    // The pool grows from here as it does from a first slab of its own.
    if (2 * ChunkBytes <= SlabTargetBytes) Handle->SlabChunks = 2;
    return true;
}

void PoolInt_Destroy(Pool *Handle) {
    CheckPool(Handle);
    if (Handle->ActiveCount)
        Log_Debug("Not all pool memory was freed (%d) for (%s/%d)\n", (int32)Handle->ActiveCount, Handle->File,
                  (int32)Handle->Line);
    RemoveAllLocked(Handle);
    if (Handle->Texts != nullptr) Handle->Texts = static_cast<PoolTexts *>(Memory_Free(Handle->Texts, (int32)sizeof(PoolTexts)));
    if (Handle->Lock) CriticalSection_Delete(&Handle->Lock);
    Handle->ClassId = 0;
}

int32 Pool_CreateInt(Pool **Handle, const char *File, int32 Line) {
    Debug_CheckPointer(Handle);
    Pool *Created = static_cast<Pool *>(Memory_AllocInt((int32)sizeof(Pool), MEMORY_FLAG_ZERO, File, Line));
    PoolInt_Init(Created, File, Line);
    *Handle = Created;
    return TRUE;
}

int32 Pool_Delete(Pool **Handle) {
    Debug_CheckPointer(Handle);
    Pool *Deleted = *Handle;
    PoolInt_Destroy(Deleted);
    Memory_Delete(Deleted);
    *Handle = nullptr;
    return TRUE;
}

int32 Pool_SetMemorySize(Pool *Handle, uint32 Size) {
    CheckPool(Handle);
    PoolLock Guard(Handle);
    const uint64 Rounded = RoundUp8(Size);
    Debug_Assert(Rounded <= INT32_MAX, "Pool member size too large (%u)\n", Size);
    Handle->MemberSize = Size;
    if (Rounded != Handle->RecordSize) RemoveAllLocked(Handle);
    Handle->RecordSize = (uint32)Rounded;
    return TRUE;
}

int32 Pool_SetChunkSize(Pool *Handle, uint32 Records) {
    CheckPool(Handle);
    Handle->ChunkSize = Records;
    return TRUE;
}

int32 Pool_SetStringMode(Pool *Handle, uint32 Flag) {
    CheckPool(Handle);
    // 1 is on and anything else off, so string mode is never on without
    // the chunk-size check.
    if (Flag == 1 && Handle->ChunkSize != 1)
        Debug_Abort("Member chunk size must be 1 to use String Mode (%d != 1)\n", (int32)Handle->ChunkSize);
    Handle->StringMode = Flag == 1;
    UpdateTakes(Handle);
    return TRUE;
}

int32 Pool_SetDebugMode(Pool *Handle, uint32 Flag) {
    CheckPool(Handle);
    if (Handle->ActiveCount)
        Debug_Abort("Pooled memory manager may only be set to debug when empty (%d)\n", (int32)Handle->ActiveCount);
    Handle->DebugMode = Flag;
    UpdateTakes(Handle);
    return TRUE;
}

int32 Pool_SetAllowLock(Pool *Handle, uint32 Flag) {
    CheckPool(Handle);
    if (Handle->Lock == nullptr) CriticalSection_CreateInt(&Handle->Lock, Handle->File, (int32)Handle->Line);
    Handle->AllowLock = Flag;
    UpdateTakes(Handle);
    return TRUE;
}

int32 Pool_SetZeroOnAlloc(Pool *Handle, uint32 Flag) {
    CheckPool(Handle);
    Handle->ZeroOnAlloc = Flag;
    UpdateTakes(Handle);
    return TRUE;
}

int32 Pool_SetVerbose(Pool *Handle, uint32 Flag) {
    CheckPool(Handle);
    Handle->Verbose = Flag;
    UpdateTakes(Handle);
    return TRUE;
}

namespace {

// Every request but a fixed-mode one without log: kept out of line, so that
// the common path sets up no guard and saves no registers for it.
[[gnu::noinline]] void *AllocGuarded(Pool *Handle, int32 Size, const char *File, int32 Line) {
    PoolLock Guard(Handle);
    void *Record;
    int64 Served = Size;
    if (Handle->DebugMode)
        Record = Memory_AllocInt(Size, Handle->ZeroOnAlloc ? MEMORY_FLAG_ZERO : MEMORY_FLAG_PLAIN, File, Line);
    else if (Handle->StringMode)
        Record = AllocString(Handle, Size, File, Line, &Served);
    else {
        Record = AllocFixed(Handle, Size, File, Line);
        Served = Handle->RecordSize;
    }
    if (Handle->Verbose) Log_Debug("-- Pool Alloc 0x%p : %10d [%s / %d]\n", Record, (int32)Served, File, Line);
    Handle->ActiveCount++;
    Handle->MaximumCount = std::max(Handle->MaximumCount, Handle->ActiveCount);
    return Record;
}

// Every free but a fixed-mode one without log: out of line, as AllocGuarded.
[[gnu::noinline]] void *FreeGuarded(Pool *Handle, void **Slot, void *Record, int32 Size, const char *File,
                                    int32 Line) {
    if (Handle->Verbose) Log_Debug("-- Pool Free  0x%p : %10d [%s / %d]\n", Record, Size, File, Line);
    // A null record must not count as a free: in string mode the count
    // reaching 0 releases every chunk, and with them the live strings.
    if (Record == nullptr) return nullptr;
    PoolLock Guard(Handle);
    if (Handle->DebugMode)
        Memory_FreeInt(Record, Size, File, Line);
    else if (!Handle->StringMode)
        FreeFixed(Handle, Record, Size, File, Line);
    if (Handle->ActiveCount) Handle->ActiveCount--;
    if (Handle->StringMode && !Handle->DebugMode && Handle->ActiveCount == 0 &&
        Handle->MemoryInUse > StringPoolKeepBytes)
        RemoveAllLocked(Handle);
    *Slot = nullptr;
    return nullptr;
}

} // namespace

void PoolInt_AddChunk(Pool *Handle, const char *File, int32 Line) { AddFixedChunk(Handle, File, Line); }

namespace {

// Every take but a fixed-mode one of an unlocked, silent pool: out of line,
// so that Pool_AllocInt's common path sets up no frame.
[[gnu::noinline]] void *AllocSlowly(Pool *Handle, int32 Size, const char *File, int32 Line) {
    // A fixed-mode pool without lock or log, as a tree being built uses its
    // pools: no guard to set up, no mode to ask again.
    if ((Handle->AllowLock | Handle->DebugMode | Handle->StringMode | Handle->Verbose) != 0) {
        if (!Handle->LockedTakes) return AllocGuarded(Handle, Size, File, Line);
        // A locked fixed-mode pool: the lock's own inline paths around the
        // same take.
        CriticalSectionInt_Lock(Handle->Lock, __FILE__, __LINE__);
        void *Record = AllocFixed(Handle, Size, File, Line);
        if (++Handle->ActiveCount > Handle->MaximumCount) Handle->MaximumCount = Handle->ActiveCount;
        CriticalSectionInt_Unlock(Handle->Lock, __FILE__, __LINE__);
        return Record;
    }
    void *Record = AllocFixed(Handle, Size, File, Line);
    if (++Handle->ActiveCount > Handle->MaximumCount) Handle->MaximumCount = Handle->ActiveCount;
    return Record;
}

// Every give but a fixed-mode one of an unlocked, silent pool: out of line,
// as AllocSlowly.
[[gnu::noinline]] void *FreeSlowly(Pool *Handle, void **Slot, void *Record, int32 Size, const char *File,
                                   int32 Line) {
    if (Handle->LockedTakes && Record != nullptr) {
        CriticalSectionInt_Lock(Handle->Lock, __FILE__, __LINE__);
        FreeFixed(Handle, Record, Size, File, Line);
        if (Handle->ActiveCount) Handle->ActiveCount--;
        CriticalSectionInt_Unlock(Handle->Lock, __FILE__, __LINE__);
        *Slot = nullptr;
        return nullptr;
    }
    return FreeGuarded(Handle, Slot, Record, Size, File, Line);
}

} // namespace

void *Pool_AllocInt(Pool *Handle, int32 Size, const char *File, int32 Line) {
    CheckPool(Handle);
    Debug_CheckPointer(File);
    // An unlocked, silent fixed-mode pool, as the notification center's and
    // the hash tables' pools mostly are: the inline take, cleared when the
    // pool clears, without a frame. A wrong size and every other mode go the
    // whole way.
    if (Handle->Gives && (uint32)Size == Handle->MemberSize) {
        uint8 *Record = PoolInt_TakeFixed(Handle, Size, File, Line);
        return Handle->ZeroOnAlloc ? memset(Record, 0, Handle->RecordSize) : Record;
    }
    return AllocSlowly(Handle, Size, File, Line);
}

void *Pool_FreeInt(Pool *Handle, void *RecordAddress, int32 Size, const char *File, int32 Line) {
    CheckPool(Handle);
    Debug_CheckPointer(RecordAddress);
    void **Slot = static_cast<void **>(RecordAddress);
    void *Record = *Slot;
    if (PoolInt_GiveRecord(Handle, Record, Size)) {
        *Slot = nullptr;
        return nullptr;
    }
    return FreeSlowly(Handle, Slot, Record, Size, File, Line);
}

int32 Pool_Reset(Pool *Handle) {
    CheckPool(Handle);
    PoolLock Guard(Handle);
    ResetLocked(Handle);
    return TRUE;
}

int32 Pool_RemoveAll(Pool *Handle) {
    CheckPool(Handle);
    PoolLock Guard(Handle);
    RemoveAllLocked(Handle);
    return TRUE;
}

int32 Pool_GetActiveCount(Pool *Handle, uint32 *Count) { return GetField(Handle, &Pool::ActiveCount, Count); }
int32 Pool_GetMaximumCount(Pool *Handle, uint32 *Count) { return GetField(Handle, &Pool::MaximumCount, Count); }
int32 Pool_GetMemoryInUse(Pool *Handle, uint32 *Bytes) { return GetField(Handle, &Pool::MemoryInUse, Bytes); }
int32 Pool_GetAllowLock(Pool *Handle, uint32 *Flag) { return GetField(Handle, &Pool::AllowLock, Flag); }
int32 Pool_GetMemorySize(Pool *Handle, uint32 *Size) { return GetField(Handle, &Pool::RecordSize, Size); }
int32 Pool_GetChunkSize(Pool *Handle, uint32 *Records) { return GetField(Handle, &Pool::ChunkSize, Records); }
int32 Pool_GetStringMode(Pool *Handle, uint32 *Flag) { return GetField(Handle, &Pool::StringMode, Flag); }
int32 Pool_GetDebugMode(Pool *Handle, uint32 *Flag) { return GetField(Handle, &Pool::DebugMode, Flag); }
int32 Pool_GetZeroOnAlloc(Pool *Handle, uint32 *Flag) { return GetField(Handle, &Pool::ZeroOnAlloc, Flag); }
int32 Pool_GetVerbose(Pool *Handle, uint32 *Flag) { return GetField(Handle, &Pool::Verbose, Flag); }
int32 Pool_GetBlocksInUse(Pool *Handle, uint32 *Count) { return GetField(Handle, &Pool::ChunkCount, Count); }

int32 Pool_GetStringMemoryLeftOver(Pool *Handle, uint32 *Bytes) {
    CheckPool(Handle);
    Debug_CheckPointer(Bytes);
    uint64 LeftOver = 0;
    if (const PoolTexts *Texts = Handle->Texts)
        for (PoolChunk *Chunk = Texts->Chunks; Chunk; Chunk = Chunk->Next) LeftOver += ChunkEnd(Chunk) - Chunk->Cursor;
    *Bytes = (uint32)LeftOver;
    return TRUE;
}

void PoolInt_VisitRecords(Pool *Handle, void (*Visit)(void *Record, void *User), void *User) {
    CheckPool(Handle);
    if (Handle->StringMode || Handle->DebugMode || Handle->ActiveCount == 0) return;
    // The pool does not change during the walk, so what every record is
    // compared with is read once.
    const uint32 Key = Handle->HandedOutKey;
    uint8 *const Fresh = Handle->Fresh;
    for (PoolSlab *Slab = Handle->Slabs; Slab != nullptr; Slab = Slab->Next) {
        if (Slab->ChunkBytes == 0) continue;
        const uint64 Stride = RecordStride(Slab->RecordSize), Records = Stride * Slab->RecordCount;
        for (uint8 *Chunk = SlabArea(Slab); Chunk < Slab->Cursor; Chunk += Slab->ChunkBytes) {
            // The fresh chunk's records not yet reached were never written:
            // the walk of that chunk ends where they start.
            uint8 *End = Chunk + Records;
            if (Fresh >= Chunk && Fresh < End) End = Fresh;
            for (uint8 *At = Chunk; At < End; At += Stride) {
                PoolDescriptor *Descriptor = reinterpret_cast<PoolDescriptor *>(At);
                if (Descriptor->State == (Key ^ (uint32)((uintptr)Descriptor >> 4)))
                    Visit(DescriptorRecord(Descriptor), User);
            }
        }
    }
}

int32 Pool_ValidHandle(Pool *Handle) {
    return Handle != nullptr && Handle->ClassId == PoolClassId;
}
