// The runtime's allocator: every block is surrounded by 16 guard bytes on each
// side, freed with its size again, counted, and (with tracking on) kept in a
// list so that corruption and leaks are reported with the allocating file and
// line. Nothing may be allocated before Debug_Init while tracking is wanted.
//
// Layout of one system allocation (addresses stay 16-byte aligned):
//   [tracking record, 64 bytes; only while tracking is on]
//   [leading guard 16][caller's area, size rounded up to 4][trailing guard 16]
// The block starts at the leading guard; the caller gets block start + 16.
// Both guards hold byte i = (block start >> i) ^ 0xCC, i = 0..15.
//
// The memory state (GlobalMemory) lives from Debug_Init to Debug_Remove.
// Counts and tracked lists are kept per thread inside memory.cpp, so threads
// do not contend for one counter or one lock:
// - Without tracking, each thread counts in a shard it alone writes; the
//   state's Allocations and Bytes fields stay 0 and Memory_GetSize and the
//   leak report sum the shards.
// - With tracking, each thread links its records into the list of its own
//   shard under that shard's lock; a record knows its shard, so a free on
//   another thread unlinks it there. The shard's counts move into the
//   state's Allocations and Bytes in batches, and whole when its thread
//   ends. Memory_Check, Memory_Dump and Memory_Report take every shard's
//   lock and see every live block, newest first by the record's stamp;
//   Memory_Check and Memory_Report bring every batch in, so their counts
//   are exact, and Memory_GetSize and the leak report sum the batches. The
//   state's Head stays null.
// - The maxima are raised from the state's counts plus the allocating
//   thread's own batch: exact while one thread makes the tracked blocks;
//   with several, off by at most what the other threads have not yet
//   brought in (fewer than MEMORY_BATCH_BLOCKS blocks and MEMORY_BATCH_BYTES
//   bytes per thread).
// Counters are 64-bit; every 32-bit answer ("%d" messages, Memory_GetSize)
// saturates at INT32_MAX.
//
// Freed system allocations of 1 MB and more are kept, up to a bound, for
// later large requests instead of going back to the system (see
// memory.cpp); they lie outside every count, check and report, and
// Memory_Remove gives them back.
#pragma once

#include "runtime/types.h"

#define MEMORY_FLAG_PLAIN 1
#define MEMORY_FLAG_ZERO 2

// Bytes each guard occupies, and the room of one tracking record.
#define MEMORY_GUARD_SIZE 16
#define MEMORY_TRACKER_SIZE 64

// The most a thread's tracked counts run ahead of the state's before they
// are brought in (see above).
#define MEMORY_BATCH_BLOCKS 16
#define MEMORY_BATCH_BYTES 32768

RUNTIME_EXTERN_C_BEGIN

// One live tracked block; it sits directly in front of the block's leading
// guard in the same system allocation.
typedef struct MemoryTrackerStruct {
    const char *File;
    uint32 Line;
    int32 Size;
    uint8 *BlockStart;
    struct MemoryTrackerStruct *Next;
    struct MemoryTrackerStruct *Prev;
    uint32 Flags;
    uint32 Shard;  // the list the record is linked in
    uint64 Stamp;  // orders records of all lists, newest highest
} MemoryTrackerStruct;

typedef struct MemoryStateStruct {
    int32 Tracking; // exactly 1 means on; fixed from Debug_Init to Debug_Remove
    int64 Allocations; // tracked blocks brought in from the threads' batches
    int64 MaxAllocations;
    int64 Bytes;
    int64 MaxBytes;
    uint8 *Lowest;  // lowest system allocation seen while tracking; only falls
    uint8 *Highest; // end of the highest one seen while tracking; only rises
    void *Lock;     // recursive critical section taken before every list lock
    MemoryTrackerStruct *Head; // null: the lists are kept per thread
} MemoryStateStruct;

extern MemoryStateStruct *GlobalMemory;

void *Memory_AllocInt(int32 Size, uint32 Flags, const char *File, int32 Line);
// Always answers null so that callers assign the result to their pointer.
void *Memory_FreeInt(void *Pointer, int32 Size, const char *File, int32 Line);
int32 Memory_ValidateInt(void *Pointer, int32 Size, const char *File, int32 Line);
int32 Memory_Check(const char *Label);
int32 Memory_Dump(void);
int32 Memory_Report(void);
int32 Memory_GetSize(int32 *Size);
int32 Memory_TrackerCheck(void *Record, void *BlockStart, int32 Size, const char *File, int32 Line);
int32 Memory_SentinelCheck(int32 Fatal, void *BlockStart, int32 Size, const char *File, int32 Line);
int32 Memory_FindPattern(const void *Buffer, int32 Length, const void *Pattern, int32 PatternLength,
                         const void **Found);
int32 Memory_FindByte(const void *Buffer, int32 Length, uint8 Byte, const void **Found);
int32 Memory_CryptFill(void *Buffer, int32 Length);

// On the calling thread only: with Flag set, an allocation the system
// refuses throws std::bad_alloc instead of ending the process, for work that
// can fail on its own (reading a document) and unwinds to where it began;
// so does every allocation once *Stop (when not null) is set by another
// thread that gave the work up. Answers the setting it replaces.
int32 Memory_SetThrowWhenExhausted(int32 Flag, const volatile int32 *Stop);

// The process's memory budget: what its documents cost as parsed (every
// block their reading leaves, guards and the system's header counted), the
// task definitions and queued arguments copied from them, of every workflow
// and nested run alike, at most MEMORY_BUDGET_BYTES together. Work past it is
// refused before it takes the memory.
#define MEMORY_BUDGET_BYTES (256LL * 1024 * 1024)

// What the work on one thread has charged to the budget (net of what it
// freed), and whether an allocation was refused for passing it.
typedef struct MemoryCharge {
    int64 Bytes;
    int32 Refused;
} MemoryCharge;

// On the calling thread only, until called with null: every allocation is
// charged to the budget and counted in Account, every free on this thread
// counted off. An allocation past the budget sets Account->Refused and, with
// Memory_SetThrowWhenExhausted on, is refused as when memory runs out: it
// throws std::bad_alloc (without, it is made and charged). What stays charged is the caller's to give back
// (MemoryBudget_Give) when what it made goes.
int32 Memory_SetThreadCharge(MemoryCharge *Account);
// Takes Bytes from the budget: 0, with nothing taken, when they pass it.
int32 MemoryBudget_Take(int64 Bytes);
int32 MemoryBudget_Give(int64 Bytes);
int64 MemoryBudget_GetUsed(void);
int64 MemoryBudget_GetLimit(void);
// How often the budget refused (a Take, or an account's first allocation
// past it): a caller compares it before and after work to know whether
// that work was refused for the budget.
int64 MemoryBudget_GetRefusedCount(void);
// Tests lower it.
int32 MemoryBudget_SetLimit(int64 Bytes);

// The memory state's start and end; only Debug_Init and Debug_Remove call
// them. Memory_Remove writes the maximum line with tracking on and the leak
// report ("Not all memory was free'd") whenever bytes are still counted.
int32 Memory_Init(int32 Tracking);
int32 Memory_Remove(void);

// Bytes of freed system allocations now kept for reuse (0 where nothing is
// kept: outside Memory_Init..Memory_Remove, and in AddressSanitizer builds).
int64 MemoryInt_RetainedBytes(void);

RUNTIME_EXTERN_C_END

#define Memory_Alloc(Size) Memory_AllocInt((Size), MEMORY_FLAG_PLAIN, __FILE__, __LINE__)
#define Memory_AllocZero(Size) Memory_AllocInt((Size), MEMORY_FLAG_ZERO, __FILE__, __LINE__)
#define Memory_Free(Pointer, Size) Memory_FreeInt((Pointer), (Size), __FILE__, __LINE__)
#define Memory_Validate(Pointer, Size) Memory_ValidateInt((Pointer), (Size), __FILE__, __LINE__)

#ifdef __cplusplus
#include <type_traits>
static_assert(sizeof(MemoryTrackerStruct) <= MEMORY_TRACKER_SIZE);
static_assert(MEMORY_TRACKER_SIZE % 16 == 0);

// Typed helpers: allocate one zeroed record, free it and clear the pointer.
#define Memory_New(Type) static_cast<Type *>(Memory_AllocZero((int32)sizeof(Type)))
#define Memory_Delete(Pointer) \
    ((Pointer) = static_cast<std::remove_reference_t<decltype(Pointer)>>(Memory_FreeInt((Pointer), (int32)sizeof(*(Pointer)), __FILE__, __LINE__)))

// A runtime block freed when its scope ends. The allocation and the free are
// reported at the line that made the block.
template <typename T = uint8>
class MemoryScope {
  public:
    explicit MemoryScope(int32 Size = (int32)sizeof(T), const char *File = __builtin_FILE(),
                         int32 Line = __builtin_LINE())
        : Size(Size), File(File), Line(Line),
          Data(static_cast<T *>(Memory_AllocInt(Size, MEMORY_FLAG_PLAIN, File, Line))) {}
    ~MemoryScope() { Memory_FreeInt(Data, Size, File, Line); }
    MemoryScope(const MemoryScope &) = delete;
    MemoryScope &operator=(const MemoryScope &) = delete;
    T *Get() const { return Data; }
    T *operator->() const { return Data; }
    int32 GetSize() const { return Size; }

  private:
    int32 Size;
    const char *File;
    int32 Line;
    T *Data;
};
#endif
